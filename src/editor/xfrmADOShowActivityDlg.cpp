#include "editor/xfrmADOShowActivityDlg.h"

#include "editor/xActivityBar.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

// ---- TElidedLabel ----

TElidedLabel::TElidedLabel(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QSize TElidedLabel::minimumSizeHint() const
{
    return QSize(0, QLabel::minimumSizeHint().height());
}

QString TElidedLabel::DisplayedText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

void TElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(contentsRect(), int(alignment()), DisplayedText());
}

// ---- TADOShowActivityDlg ----

TADOShowActivityDlg::TADOShowActivityDlg(QWidget *owner)
    : TActivityDialogBase(owner, WM_STARTEXECUTE)
{
    setObjectName(QStringLiteral("frmADOShowActivityDlg"));
    setWindowTitle(tr("Bitte warten..."));

    auto *lblInfo = new QLabel(
        tr("Es wird versucht Tabellen und Tabellenspalten in der Datenbank zu finden."), this);
    lblInfo->setObjectName(QStringLiteral("lblInfo"));
    lblInfo->setWordWrap(true);

    const std::array<QString, PhaseCount> phaseTexts = {
        tr("Datenbankverbindung prüfen"),
        tr("Existenz von Tabellen prüfen"),
        tr("Existenz von Tabellenfeldern prüfen"),
        tr("Existenz von Datensätze anhand von Schlüsselattribute prüfen"),
    };
    const std::array<QString, PhaseCount> phaseNames = {
        QStringLiteral("lblCheckConnection"), QStringLiteral("lblCheckTables"),
        QStringLiteral("lblCheckTableFields"), QStringLiteral("lblCheckKeyRecords")};
    auto *phaseLayout = new QVBoxLayout;
    phaseLayout->setContentsMargins(16, 0, 0, 0);
    phaseLayout->setSpacing(2);
    for (int i = 0; i < PhaseCount; ++i) {
        auto *label = new QLabel(phaseTexts[i], this);
        label->setObjectName(phaseNames[i]);
        StylePhaseLabel(label, false, true);
        phaseLayout->addWidget(label);
        m_PhaseLabels[i] = label;
    }

    auto *lblSearchedElementCaption = new QLabel(tr("Gesuchtes Element:"), this);
    lblSearchedElementCaption->setObjectName(QStringLiteral("lblSearchedElementCaption"));
    m_lblSearchedElement = new TElidedLabel(this);
    m_lblSearchedElement->setObjectName(QStringLiteral("lblSearchedElement"));
    auto *valueLayout = new QHBoxLayout;
    valueLayout->setSpacing(8);
    valueLayout->addWidget(lblSearchedElementCaption);
    valueLayout->addWidget(m_lblSearchedElement, 1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(15, 12, 15, 14);
    layout->setSpacing(10);
    layout->addWidget(lblInfo);
    layout->addLayout(phaseLayout);
    layout->addLayout(valueLayout);
    layout->addStretch(1);
    layout->addWidget(m_ActivityBar);
    FitToContents(QSize(418, 208), QList<QLabel *>(m_PhaseLabels.begin(), m_PhaseLabels.end()));
}

QLabel *TADOShowActivityDlg::PhaseLabel(int phase) const
{
    return phase >= 0 && phase < PhaseCount ? m_PhaseLabels[phase] : nullptr;
}

void TADOShowActivityDlg::SetPhase(int phase)
{
    if (phase == m_Phase || phase < 0 || phase >= PhaseCount)
        return;
    m_Phase = phase;
    for (int i = 0; i < PhaseCount; ++i)
        StylePhaseLabel(m_PhaseLabels[i], i == phase, i > phase);
}

void TADOShowActivityDlg::Progress(int phase, const QString &text)
{
    SetPhase(phase);
    m_Text = text;
    m_lblSearchedElement->setText(text);
    ProgressTick();
}

void TADOShowActivityDlg::ProgressTick()
{
    if (!TickDue())
        return;
    m_lblSearchedElement->setText(m_Text);
    FinishTick();
}

// ---- TADOValidationProgressWindow ----

TADOValidationProgressWindow::TADOValidationProgressWindow(QWidget *owner) : m_Owner(owner) {}

void TADOValidationProgressWindow::SelectStep(int step, const QString &detail)
{
    if (m_Dialog)
        m_Dialog->Progress(step, detail);
}

void TADOValidationProgressWindow::StepActivity()
{
    if (m_Dialog)
        m_Dialog->ProgressTick();
}

void TADOValidationProgressWindow::RunModal(const QString &caption,
                                            const std::function<void()> &work)
{
    if (m_Dialog) {
        // A check from inside a check keeps the window that is already up.
        if (work)
            work();
        return;
    }
    m_Dialog = new TADOShowActivityDlg(m_Owner.data());
    // The owner may free the window while the work runs; otherwise it goes on every way out.
    struct TFreeWindow
    {
        QPointer<TADOShowActivityDlg> &Dialog;
        ~TFreeWindow() { delete Dialog.data(); }
    } const guard{m_Dialog};
    if (m_TickSource)
        m_Dialog->SetTickSource(m_TickSource);
    if (!caption.isEmpty())
        m_Dialog->setWindowTitle(caption);
    m_Dialog->OnExecute = work;
    m_Dialog->ShowModal();
}
