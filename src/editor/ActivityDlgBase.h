// What the two progress windows share: the modal run of the caller's operation started by a
// private message once the window is shown, and the throttled progress tick of the activity bar.
#pragma once

#include <QColor>
#include <QDialog>
#include <QList>
#include <cstdint>
#include <exception>
#include <functional>

class QLabel;
class TActivityBar;

class TActivityDialogBase : public QDialog
{
    Q_OBJECT

public:
    using TTickSource = std::function<std::uint32_t()>;

    // Shortest time between two display updates of the progress tick, in milliseconds.
    static constexpr std::uint32_t TickInterval = 50;

    // The operation run while the window is shown; the window closes when it returns.
    std::function<void()> OnExecute;

    // Shows the window modally, runs OnExecute once it is shown and returns after the window has
    // closed. An exception of OnExecute closes the window and is rethrown here. The result
    // carries no meaning.
    int ShowModal();

    TActivityBar *ActivityBar() const { return m_ActivityBar; }
    // The clock of the progress tick (GetTickCount by default); tests pass their own.
    void SetTickSource(TTickSource source);
    // True while OnExecute runs.
    bool Executing() const { return m_Executing; }

    // The colours of a phase line: grey before it ran.
    static QColor PendingPhaseColor() { return QColor(128, 128, 128); }

protected:
    TActivityDialogBase(QWidget *owner, int startMessage);

    // Sizes the window to clientArea, or larger where the current font needs more room for the
    // texts: a phase line keeps the room for its bold text, so turning it bold never cuts it.
    void FitToContents(const QSize &clientArea, const QList<QLabel *> &phaseLabels);
    // Styles a phase line: bold or normal, in window-text colour (done) or grey (pending).
    void StylePhaseLabel(QLabel *label, bool bold, bool pending) const;
    // The throttle of the progress tick: false when TickInterval or less has passed since the last
    // tick that updated the display. Otherwise the caller updates its labels and calls
    // FinishTick().
    bool TickDue();
    // Advances the bar, lets pending messages run and remembers the tick.
    void FinishTick();

    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void reject() override;

    TActivityBar *m_ActivityBar = nullptr;

private:
    void Execute();

    const int m_StartMessage;
    TTickSource m_TickSource;
    std::uint32_t m_LastTick = 0;
    std::uint32_t m_PendingTick = 0;
    bool m_Ticked = false;
    bool m_StartPosted = false;
    bool m_Executing = false;
    std::exception_ptr m_Exception;
};
