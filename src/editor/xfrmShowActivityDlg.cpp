#include "editor/xfrmShowActivityDlg.h"

#include "editor/xActivityBar.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

int PhaseIndex(TOPCResolvePhase phase)
{
    switch (phase) {
    case TOPCResolvePhase::SearchByName: return 0;
    case TOPCResolvePhase::ValidateItems: return 1;
    case TOPCResolvePhase::SearchByID: return 2;
    }
    return 0;
}

// Frees a window on every way out of a run, unless its owner already did.
struct TFreeWindow
{
    QPointer<TShowActivityDlg> &Dialog;
    ~TFreeWindow() { delete Dialog.data(); }
};

} // namespace

TShowActivityDlg::TShowActivityDlg(QWidget *owner) : TActivityDialogBase(owner, WM_STARTEXECUTE)
{
    setObjectName(QStringLiteral("frmShowActivityDlg"));
    setWindowTitle(tr("Bitte warten..."));

    auto *lblInfo = new QLabel(
        tr("Es wird versucht die OPC-Items im Namensraum des OPC-Quellservers zu finden."), this);
    lblInfo->setObjectName(QStringLiteral("lblInfo"));
    lblInfo->setWordWrap(true);

    const std::array<QString, 3> phaseTexts = {
        tr("Elemente anhand ihrer Namen im Namensraum suchen"),
        tr("Angegebene Element-IDs validieren"),
        tr("Elemente anhand ihrer ID im Namensraum suchen "),
    };
    const std::array<TOPCResolvePhase, 3> phases = {TOPCResolvePhase::SearchByName,
                                                    TOPCResolvePhase::ValidateItems,
                                                    TOPCResolvePhase::SearchByID};
    auto *phaseLayout = new QVBoxLayout;
    phaseLayout->setContentsMargins(16, 0, 0, 0);
    phaseLayout->setSpacing(2);
    for (std::size_t i = 0; i < phases.size(); ++i) {
        auto *label = new QLabel(phaseTexts[i], this);
        label->setObjectName(OPCResolvePhaseLabel(phases[i]));
        StylePhaseLabel(label, false, true);
        phaseLayout->addWidget(label);
        m_PhaseLabels[i] = label;
    }

    auto *lblSearchedItemCaption = new QLabel(tr("Gesuchtes Item:"), this);
    lblSearchedItemCaption->setObjectName(QStringLiteral("lblSearchedItemCaption"));
    m_lblSearchedItem = new QLabel(this);
    m_lblSearchedItem->setObjectName(QStringLiteral("lblSearchedItem"));
    auto *lblCurrentNodeCaption = new QLabel(tr("Aktueller Knoten:"), this);
    lblCurrentNodeCaption->setObjectName(QStringLiteral("lblCurrentNodeCaption"));
    m_lblCurrentNode = new QLabel(this);
    m_lblCurrentNode->setObjectName(QStringLiteral("lblCurrentNode"));
    for (QLabel *value : {m_lblSearchedItem, m_lblCurrentNode}) {
        // Long names are cut at the window's edge instead of widening the fixed window.
        value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        value->setTextFormat(Qt::PlainText);
    }
    auto *valueLayout = new QGridLayout;
    valueLayout->setHorizontalSpacing(8);
    valueLayout->setVerticalSpacing(4);
    valueLayout->addWidget(lblSearchedItemCaption, 0, 0);
    valueLayout->addWidget(m_lblSearchedItem, 0, 1);
    valueLayout->addWidget(lblCurrentNodeCaption, 1, 0);
    valueLayout->addWidget(m_lblCurrentNode, 1, 1);
    valueLayout->setColumnStretch(1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(15, 12, 15, 14);
    layout->setSpacing(10);
    layout->addWidget(lblInfo);
    layout->addLayout(phaseLayout);
    layout->addLayout(valueLayout);
    layout->addStretch(1);
    layout->addWidget(m_ActivityBar);
    FitToContents(QSize(375, 211), QList<QLabel *>(m_PhaseLabels.begin(), m_PhaseLabels.end()));
}

QLabel *TShowActivityDlg::PhaseLabel(TOPCResolvePhase phase) const
{
    return m_PhaseLabels[PhaseIndex(phase)];
}

void TShowActivityDlg::SetPhaseBold(TOPCResolvePhase phase, bool bold)
{
    StylePhaseLabel(PhaseLabel(phase), bold, false);
}

void TShowActivityDlg::OPCDAClientNamespaceProcessNode(const QString &name)
{
    if (!TickDue())
        return;
    m_lblCurrentNode->setText(name);
    FinishTick();
}

// ---- TOPCResolveProgressWindow ----

TOPCResolveProgressWindow::TOPCResolveProgressWindow(QWidget *owner) : m_Owner(owner) {}

TOPCResolveProgressWindow::~TOPCResolveProgressWindow()
{
    while (m_HourglassDepth > 0)
        SetHourglass(false);
}

void TOPCResolveProgressWindow::RunModal(const std::function<void()> &work)
{
    if (m_Dialog) {
        // A run from inside a run keeps the window that is already up.
        if (work)
            work();
        return;
    }
    // Held by a QPointer: the owner may free the window while the work runs.
    m_Dialog = new TShowActivityDlg(m_Owner.data());
    const TFreeWindow guard{m_Dialog};
    if (m_TickSource)
        m_Dialog->SetTickSource(m_TickSource);
    m_Dialog->OnExecute = work;
    m_Dialog->ShowModal();
}

void TOPCResolveProgressWindow::SetPhaseBold(TOPCResolvePhase phase, bool bold)
{
    if (m_Dialog)
        m_Dialog->SetPhaseBold(phase, bold);
}

void TOPCResolveProgressWindow::SetSearchedItem(const QString &text)
{
    if (m_Dialog)
        m_Dialog->lblSearchedItem()->setText(text);
}

void TOPCResolveProgressWindow::SetCurrentNode(const QString &text)
{
    if (m_Dialog)
        m_Dialog->lblCurrentNode()->setText(text);
}

void TOPCResolveProgressWindow::NodeVisited(const QString &name)
{
    if (m_Dialog)
        m_Dialog->OPCDAClientNamespaceProcessNode(name);
}

void TOPCResolveProgressWindow::SetHourglass(bool on)
{
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++m_HourglassDepth;
    } else if (m_HourglassDepth > 0) {
        QApplication::restoreOverrideCursor();
        --m_HourglassDepth;
    }
}
