// What item resolution shows while it runs: the core reports its phases and the nodes it visits
// through this interface; the GUI implements it with the progress window, everything else with
// the quiet implementation.
#pragma once

#include <QString>
#include <functional>

enum class TOPCResolvePhase { SearchByName, ValidateItems, SearchByID };

// The objectName of the phase's label in the progress window: "lblSearchByName",
// "lblValidateItems" or "lblSearchByID".
QString OPCResolvePhaseLabel(TOPCResolvePhase phase);

class TOPCResolveProgress
{
public:
    TOPCResolveProgress() = default;
    virtual ~TOPCResolveProgress();
    TOPCResolveProgress(const TOPCResolveProgress &) = delete;
    TOPCResolveProgress &operator=(const TOPCResolveProgress &) = delete;

    // Shows the window modally, runs work and closes the window when work returns. An exception
    // of work closes the window as well and is passed on to the caller.
    virtual void RunModal(const std::function<void()> &work) = 0;
    // The phase's label bold (the phase runs) or normal (it has ended).
    virtual void SetPhaseBold(TOPCResolvePhase phase, bool bold) = 0;
    virtual void SetSearchedItem(const QString &text) = 0;
    virtual void SetCurrentNode(const QString &text) = 0;
    // Called for every node the address-space search visits, many thousand times a second: it
    // must return at once unless its display interval (50 ms) has passed. When it has, it shows
    // name as the current node, advances the activity bar and may process pending messages.
    virtual void NodeVisited(const QString &name) = 0;
    // The OPC hourglass cursor on (true) or back to the previous cursor (false).
    virtual void SetHourglass(bool on) = 0;
};

// Shows nothing and runs the work directly; the default of every bridge.
class TQuietOPCResolveProgress final : public TOPCResolveProgress
{
public:
    void RunModal(const std::function<void()> &work) override;
    void SetPhaseBold(TOPCResolvePhase, bool) override {}
    void SetSearchedItem(const QString &) override {}
    void SetCurrentNode(const QString &) override {}
    void NodeVisited(const QString &) override {}
    void SetHourglass(bool) override {}
};

// The one quiet instance shared by all bridges.
TOPCResolveProgress &QuietOPCResolveProgress();

// The hourglass for a scope; restored on every way out, exceptions included.
class TOPCHourglass
{
public:
    explicit TOPCHourglass(TOPCResolveProgress &progress) : m_Progress(progress)
    {
        m_Progress.SetHourglass(true);
    }
    ~TOPCHourglass() { m_Progress.SetHourglass(false); }
    TOPCHourglass(const TOPCHourglass &) = delete;
    TOPCHourglass &operator=(const TOPCHourglass &) = delete;

private:
    TOPCResolveProgress &m_Progress;
};
