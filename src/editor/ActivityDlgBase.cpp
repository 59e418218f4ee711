#include "editor/ActivityDlgBase.h"

#include "editor/xActivityBar.h"
#include "platform/system/TickCounter.h"
#include "platform/system/WindowMessages.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <utility>

TActivityDialogBase::TActivityDialogBase(QWidget *owner, int startMessage)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_StartMessage(startMessage), m_TickSource(&GetTickCount)
{
    setModal(true);
    m_ActivityBar = new TActivityBar(this);
    m_ActivityBar->setObjectName(QStringLiteral("ActivityBar"));
    m_ActivityBar->SetSteps(10);
    m_ActivityBar->SetDirection(true);
    m_ActivityBar->setFixedHeight(17);
}

void TActivityDialogBase::SetTickSource(TTickSource source)
{
    m_TickSource = source ? std::move(source) : TTickSource(&GetTickCount);
}

int TActivityDialogBase::ShowModal()
{
    m_Exception = nullptr;
    m_StartPosted = false;
    const int result = exec();
    if (m_Exception) {
        std::exception_ptr exception = std::exchange(m_Exception, nullptr);
        std::rethrow_exception(exception);
    }
    return result;
}

void TActivityDialogBase::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_StartPosted) {
        m_StartPosted = true;
        PostMessage(this, m_StartMessage);
    }
}

bool TActivityDialogBase::event(QEvent *event)
{
    if (event->type() == static_cast<QEvent::Type>(m_StartMessage)) {
        Execute();
        return true;
    }
    return QDialog::event(event);
}

void TActivityDialogBase::Execute()
{
    // Nothing may escape an event handler: the exception waits in ShowModal() until exec()
    // has returned.
    m_Executing = true;
    try {
        if (OnExecute)
            OnExecute();
    } catch (...) {
        m_Exception = std::current_exception();
    }
    m_Executing = false;
    done(QDialog::Accepted);
}

void TActivityDialogBase::closeEvent(QCloseEvent *event)
{
    // There is no cancel: the window goes only when the operation has returned.
    if (m_Executing)
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void TActivityDialogBase::keyPressEvent(QKeyEvent *event)
{
    if (m_Executing && event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TActivityDialogBase::reject()
{
    if (!m_Executing)
        QDialog::reject();
}

void TActivityDialogBase::FitToContents(const QSize &clientArea, const QList<QLabel *> &phaseLabels)
{
    for (QLabel *label : phaseLabels) {
        QFont bold = label->font();
        bold.setBold(true);
        label->setMinimumWidth(QFontMetrics(bold).horizontalAdvance(label->text()) + 1);
    }
    QLayout *content = layout();
    const int width = qMax(clientArea.width(), content->totalMinimumSize().width());
    const int height = qMax(clientArea.height(), content->hasHeightForWidth()
                                                     ? content->totalHeightForWidth(width)
                                                     : content->totalMinimumSize().height());
    setFixedSize(width, height);
}

void TActivityDialogBase::StylePhaseLabel(QLabel *label, bool bold, bool pending) const
{
    QFont font = label->font();
    font.setBold(bold);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText,
                     pending ? PendingPhaseColor() : this->palette().color(QPalette::WindowText));
    label->setPalette(palette);
}

bool TActivityDialogBase::TickDue()
{
    const std::uint32_t now = m_TickSource();
    if (m_Ticked && std::uint32_t(now - m_LastTick) <= TickInterval)
        return false;
    m_PendingTick = now;
    return true;
}

void TActivityDialogBase::FinishTick()
{
    m_ActivityBar->Advance();
    // Remembered before the messages run, so that a tick from inside them does not repaint again.
    m_LastTick = m_PendingTick;
    m_Ticked = true;
    QCoreApplication::processEvents();
}
