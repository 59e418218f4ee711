// The progress window of item resolution ("Bitte warten..."), and the resolve progress of the
// GUI that shows it for every run of the core's item resolution.
#pragma once

#include "acquisition/OPCProgress.h"
#include "editor/ActivityDlgBase.h"

#include <QPointer>
#include <array>

class QLabel;

class TShowActivityDlg : public TActivityDialogBase
{
    Q_OBJECT

public:
    // The private message the window posts to itself once shown, to start OnExecute.
    static constexpr int WM_STARTEXECUTE = 0x72C;

    explicit TShowActivityDlg(QWidget *owner = nullptr);

    // The phase's line ("lblSearchByName", "lblValidateItems", "lblSearchByID").
    QLabel *PhaseLabel(TOPCResolvePhase phase) const;
    // Bold in window-text colour while the phase runs, normal in window-text colour afterwards.
    void SetPhaseBold(TOPCResolvePhase phase, bool bold);
    QLabel *lblSearchedItem() const { return m_lblSearchedItem; }
    QLabel *lblCurrentNode() const { return m_lblCurrentNode; }

    // The progress tick for every node the namespace visits: shows name as the current node and
    // advances the bar, at most once per TickInterval; returns at once otherwise.
    void OPCDAClientNamespaceProcessNode(const QString &name);

private:
    std::array<QLabel *, 3> m_PhaseLabels{};
    QLabel *m_lblSearchedItem = nullptr;
    QLabel *m_lblCurrentNode = nullptr;
};

// The GUI's TOPCResolveProgress: every RunModal shows a new TShowActivityDlg owned by the owner
// (the main window) and frees it afterwards; the other calls go to the window of the running
// run and are ignored between runs. Install it with TOPCClientBridge::SetResolveProgress().
class TOPCResolveProgressWindow final : public TOPCResolveProgress
{
public:
    explicit TOPCResolveProgressWindow(QWidget *owner);
    // Restores the cursor if an hourglass is still on.
    ~TOPCResolveProgressWindow() override;

    void RunModal(const std::function<void()> &work) override;
    void SetPhaseBold(TOPCResolvePhase phase, bool bold) override;
    void SetSearchedItem(const QString &text) override;
    void SetCurrentNode(const QString &text) override;
    void NodeVisited(const QString &name) override;
    // Nested calls are counted; each off restores one on.
    void SetHourglass(bool on) override;

    // The window of the running run, nullptr between runs.
    TShowActivityDlg *Dialog() const { return m_Dialog; }
    // Passed to every window this creates.
    void SetTickSource(TActivityDialogBase::TTickSource source)
    {
        m_TickSource = std::move(source);
    }
    int HourglassDepth() const { return m_HourglassDepth; }

private:
    QPointer<QWidget> m_Owner;
    QPointer<TShowActivityDlg> m_Dialog;
    TActivityDialogBase::TTickSource m_TickSource;
    int m_HourglassDepth = 0;
};
