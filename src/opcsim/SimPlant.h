// The simulated plant behind one registered simulation class: its address space, the signal
// generators sampled as functions of plant time, written setpoints, and the scheduler that runs
// group cycles and delivers callbacks from the Qt event loop. Private to the server.
#pragma once

#include "opcsim/OPCSimulation.h"

#include <QHash>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

class TOPCSimServer;
class TOPCSimGroup;

enum TSimKind : std::uint8_t {
    skConst,
    skSine,
    skRamp,
    skSquare,
    skRandomWalk,
    skCounter,
    skBool,
    skString
};

enum TSimQualityMode : std::uint8_t { sqGood, sqUncertain, sqBad, sqCycle };

struct TSimSignal
{
    QString Name;   // below its branch
    QString ItemID; // the full id
    int Branch = 0;
    TSimKind Kind = skConst;
    VARTYPE Type = VT_R8; // canonical
    DWORD AccessRights = OPC_READABLE;
    bool Analog = false; // numeric with an engineering range: percent deadband applies
    double Low = 0.0;
    double High = 100.0;
    double Period = 10.0; // seconds of one cycle, or of one step for counters and random walks
    double Phase = 0.0;   // fraction of a period
    double Step = 1.0;
    double Value = 0.0; // const value, counter and random-walk start
    std::uint64_t Seed = 0;
    QStringList Values; // texts of string signals (a const text is the only entry)
    TSimQualityMode QualityMode = sqGood;
    double QualityPeriod = 60.0;
    QString Unit;
    QString Description;
};

struct TSimBranch
{
    QString Name;
    QString Path; // full path with '.' between names; empty for the root
    int Parent = -1;
    std::vector<int> Branches;
    std::vector<std::uint32_t> Leaves;
};

// A parsed plant: branch 0 is the root.
struct TSimPlantDefinition
{
    std::vector<TSimBranch> Branches;
    std::vector<TSimSignal> Signals;
};

// Parses the plant configuration format (described in SimPlantParser.cpp); sourceName names the
// text in error messages. Raises ESimulationConfigError.
TSimPlantDefinition ParsePlant(const QString &text, const QString &sourceName);
// The plant of the options: their text, their file, or the built-in demo plant.
TSimPlantDefinition LoadPlant(const TSimulationOptions &options);

inline constexpr QChar SimSeparator = u'.';

class TSimPlant : public std::enable_shared_from_this<TSimPlant>
{
public:
    TSimPlant(TSimulationOptions options, TSimPlantDefinition definition);
    ~TSimPlant();
    TSimPlant(const TSimPlant &) = delete;
    TSimPlant &operator=(const TSimPlant &) = delete;

    const TSimulationOptions &Options() const { return m_Options; }
    TSimulationKnobs &Knobs() { return m_Options.Knobs; }

    // Address space.
    const std::vector<TSimSignal> &Signals() const { return m_Definition.Signals; }
    const std::vector<TSimBranch> &Branches() const { return m_Definition.Branches; }
    int FindSignal(const QString &itemID) const; // -1 when unknown
    int FindBranch(const QString &path) const;   // -1 when unknown; "" is the root
    static bool IsWellFormedItemID(const QString &itemID);

    // Time: milliseconds since registration, and their file times.
    qint64 Now() const;
    FILETIME FileTimeAt(qint64 ms) const;
    FILETIME StartTime() const { return FileTimeAt(0); }

    // The canonical value of a signal at a time as a number (booleans 0/1, texts an index or a
    // written-text token) and its quality. Cached per signal and time, so that every group that
    // samples at the same moment sees the same value.
    double Sample(std::uint32_t signal, qint64 now, WORD &quality);
    // A sample as a variant of the requested type (VT_EMPTY: canonical).
    HRESULT Deliverable(std::uint32_t signal, double sample, VARTYPE requested,
                        const QLocale &locale, TVariant &out) const;
    // Stores a written value: it replaces the generated one from now on.
    HRESULT Write(std::uint32_t signal, const TVariant &value, const QLocale &locale);

    // Server objects and groups register themselves; calls arrive later by id, so nothing is
    // reached after it went away.
    quint64 AddServer(TOPCSimServer *server);
    void RemoveServer(quint64 id);
    TOPCSimServer *FindServer(quint64 id) const;
    quint64 AddGroup(TOPCSimGroup *group);
    void RemoveGroup(quint64 id);
    TOPCSimGroup *FindGroup(quint64 id) const;
    int ServerCount() const { return static_cast<int>(m_Servers.size()); }
    int GroupCount() const { return static_cast<int>(m_Groups.size()); }

    // Runs work later from the event loop (or the next AdvanceTime), never inside the caller.
    void Post(std::function<void()> work);
    // Re-arms the timer after a group's due time or state changed.
    void Reschedule();
    void AdvanceTime(qint64 ms);
    void RunDue();
    void RequestShutdown(const QString &reason);

private:
    // What sampling needs of a signal, packed apart from its texts so that a cycle over 50,000
    // items touches few cache lines.
    struct TGenerator
    {
        TSimKind Kind;
        TSimQualityMode QualityMode;
        VARTYPE Type;
        std::uint32_t ValueCount;
        double Low, High, Period, Phase, Step, Value, QualityPeriod;
        std::uint64_t Seed;
    };

    double Generate(std::uint32_t signal, qint64 now);
    double RandomWalk(std::uint32_t signal, qint64 now);
    static WORD QualityAt(const TGenerator &generator, qint64 now);
    qint64 NextDue() const;
    void SetNow(qint64 ms);
    void Arm();

    TSimulationOptions m_Options;
    TSimPlantDefinition m_Definition;
    QHash<QString, int> m_SignalIndex;
    QHash<QString, int> m_BranchIndex;

    qint64 m_StartFileTime = 0; // 100-ns ticks
    qint64 m_StartSteadyMs = 0;
    qint64 m_Offset = 0;

    // Flat per-signal arrays: the hot path of 50,000 items touches nothing else.
    std::vector<TGenerator> m_Generators;
    std::vector<qint64> m_SampleTime;
    std::vector<double> m_SampleValue;
    std::vector<WORD> m_SampleQuality;
    std::vector<qint64> m_WalkStep;
    std::vector<double> m_WalkValue;
    std::vector<std::uint8_t> m_Written;
    std::vector<double> m_WrittenValue;
    std::unordered_map<std::uint32_t, QString> m_WrittenText;
    qint64 m_TextVersion = 0;

    quint64 m_LastId = 0;
    std::map<quint64, TOPCSimServer *> m_Servers;
    std::map<quint64, TOPCSimGroup *> m_Groups;
    std::vector<std::function<void()>> m_Pending;
    QPointer<QTimer> m_Timer;
    bool m_Running = false;
};
