// The progress window of checking the target database ("Bitte warten..."), and the validation
// progress of the GUI that shows it for every check of the database bridge.
#pragma once

#include "database/ADOProgress.h"
#include "editor/ActivityDlgBase.h"

#include <QLabel>
#include <QPointer>
#include <array>

// A one-line label that cuts a text too long for it with an ellipsis at the end; text() stays
// the full text.
class TElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit TElidedLabel(QWidget *parent = nullptr);
    QSize minimumSizeHint() const override;
    // The text as it is drawn at the current width.
    QString DisplayedText() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};

class TADOShowActivityDlg : public TActivityDialogBase
{
    Q_OBJECT

public:
    // The private message the window posts to itself once shown, to start OnExecute.
    static constexpr int WM_STARTEXECUTE = 0x790;
    static constexpr int PhaseCount = 4;

    explicit TADOShowActivityDlg(QWidget *owner = nullptr);

    // Phase 0 .. 3: "lblCheckConnection", "lblCheckTables", "lblCheckTableFields",
    // "lblCheckKeyRecords"; nullptr for other values.
    QLabel *PhaseLabel(int phase) const;
    // -1 before the first phase.
    int Phase() const { return m_Phase; }
    // Makes phase (0 .. 3) current: earlier lines normal, its own bold, later ones grey. The
    // current phase or any other value changes nothing.
    void SetPhase(int phase);
    TElidedLabel *lblSearchedElement() const { return m_lblSearchedElement; }

    // The progress operation: sets the phase, shows text and runs a progress tick.
    void Progress(int phase, const QString &text);
    // At most once per TickInterval: shows the last text again, advances the bar and lets
    // pending messages run.
    void ProgressTick();

private:
    std::array<QLabel *, PhaseCount> m_PhaseLabels{};
    TElidedLabel *m_lblSearchedElement = nullptr;
    QString m_Text;
    int m_Phase = -1;
};

// The GUI's TADOValidationProgress: every RunModal shows a new TADOShowActivityDlg owned by the
// owner (the main window) and frees it afterwards; the other calls go to the window of the running
// check and are ignored between checks. Install it with TADOBridge::SetValidationProgress().
class TADOValidationProgressWindow final : public TADOValidationProgress
{
public:
    explicit TADOValidationProgressWindow(QWidget *owner);

    void SelectStep(int step, const QString &detail = QString()) override;
    void StepActivity() override;
    void RunModal(const QString &caption, const std::function<void()> &work) override;

    // The window of the running check, nullptr between checks.
    TADOShowActivityDlg *Dialog() const { return m_Dialog; }
    // Passed to every window this creates.
    void SetTickSource(TActivityDialogBase::TTickSource source)
    {
        m_TickSource = std::move(source);
    }

private:
    QPointer<QWidget> m_Owner;
    QPointer<TADOShowActivityDlg> m_Dialog;
    TActivityDialogBase::TTickSource m_TickSource;
};
