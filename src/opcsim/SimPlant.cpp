#include "opcsim/SimPlant.h"

#include "opcsim/SimConvert.h"
#include "opcsim/SimGroup.h"
#include "opcsim/SimServer.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

qint64 SteadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

double Fraction(double x)
{
    return x - std::floor(x);
}

// A uniform number in [-1, 1) that depends only on the seed and the step.
double Noise(std::uint64_t seed, std::int64_t step)
{
    std::uint64_t z = seed + static_cast<std::uint64_t>(step) * 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) / 4503599627370496.0 - 1.0; // 2^52
}

// Callbacks run client code, which must not unwind through the event loop; a COM server would
// see a failed call, and so does this one.
template <class F> void Guarded(F &&call)
{
    try {
        call();
    } catch (...) {
    }
}

// A walk that falls far behind restarts from where it stands instead of replaying years.
constexpr std::int64_t MaxWalkCatchUp = 10'000'000;

} // namespace

TSimPlant::TSimPlant(TSimulationOptions options, TSimPlantDefinition definition)
    : m_Options(std::move(options)), m_Definition(std::move(definition))
{
    const std::size_t count = m_Definition.Signals.size();
    for (std::size_t i = 0; i < count; ++i)
        m_SignalIndex.insert(m_Definition.Signals[i].ItemID, static_cast<int>(i));
    for (std::size_t i = 0; i < m_Definition.Branches.size(); ++i)
        m_BranchIndex.insert(m_Definition.Branches[i].Path, static_cast<int>(i));
    m_Generators.reserve(count);
    for (const TSimSignal &s : m_Definition.Signals)
        m_Generators.push_back(
            TGenerator{s.Kind, s.QualityMode, s.Type, static_cast<std::uint32_t>(s.Values.size()),
                       s.Low, s.High, s.Period, s.Phase, s.Step, s.Value, s.QualityPeriod, s.Seed});
    m_SampleTime.assign(count, -1);
    m_SampleValue.assign(count, 0.0);
    m_SampleQuality.assign(count, OPC_QUALITY_BAD);
    m_WalkStep.assign(count, -1);
    m_WalkValue.assign(count, 0.0);
    m_Written.assign(count, 0);
    m_WrittenValue.assign(count, 0.0);
    m_StartFileTime = static_cast<qint64>(FileTimeToUInt64(CurrentFileTime()));
    m_StartSteadyMs = SteadyMs();
}

TSimPlant::~TSimPlant()
{
    delete m_Timer.data();
}

int TSimPlant::FindSignal(const QString &itemID) const
{
    return m_SignalIndex.value(itemID, -1);
}

int TSimPlant::FindBranch(const QString &path) const
{
    return m_BranchIndex.value(path, -1);
}

bool TSimPlant::IsWellFormedItemID(const QString &itemID)
{
    if (itemID.isEmpty() || itemID.trimmed() != itemID || itemID.startsWith(SimSeparator) ||
        itemID.endsWith(SimSeparator) || itemID.contains(QStringLiteral("..")))
        return false;
    return std::none_of(itemID.begin(), itemID.end(), [](QChar c) { return c.unicode() < 0x20; });
}

qint64 TSimPlant::Now() const
{
    return (m_Options.ManualClock ? 0 : SteadyMs() - m_StartSteadyMs) + m_Offset;
}

FILETIME TSimPlant::FileTimeAt(qint64 ms) const
{
    return UInt64ToFileTime(static_cast<std::uint64_t>(m_StartFileTime + ms * 10000));
}

void TSimPlant::SetNow(qint64 ms)
{
    if (ms > Now())
        m_Offset += ms - Now();
}

double TSimPlant::Sample(std::uint32_t signal, qint64 now, WORD &quality)
{
    if (m_SampleTime[signal] != now) {
        m_SampleValue[signal] = m_Written[signal] ? m_WrittenValue[signal] : Generate(signal, now);
        m_SampleQuality[signal] = QualityAt(m_Generators[signal], now);
        m_SampleTime[signal] = now;
    }
    quality = m_SampleQuality[signal];
    return m_SampleValue[signal];
}

double TSimPlant::Generate(std::uint32_t signal, qint64 now)
{
    const TGenerator &s = m_Generators[signal];
    const double t = static_cast<double>(now) / 1000.0;
    const double cycle = Fraction(t / s.Period + s.Phase);
    double value = 0.0;
    switch (s.Kind) {
    case skConst: value = s.Value; break;
    case skSine:
        value = (s.Low + s.High) / 2.0 +
                (s.High - s.Low) / 2.0 * std::sin(2.0 * std::numbers::pi * cycle);
        break;
    case skRamp: value = s.Low + (s.High - s.Low) * cycle; break;
    case skSquare: value = cycle < 0.5 ? s.High : s.Low; break;
    case skBool: value = cycle < 0.5 ? 1.0 : 0.0; break;
    case skCounter: {
        const double steps = std::floor(t / s.Period);
        const double span = s.High - s.Low + s.Step;
        value = s.Low + std::fmod(s.Value - s.Low + steps * s.Step, span);
        break;
    }
    case skRandomWalk: value = RandomWalk(signal, now); break;
    case skString: {
        const auto count = static_cast<double>(s.ValueCount);
        return std::floor(Fraction(t / (s.Period * count) + s.Phase) * count);
    }
    }
    return Canonicalize(value, s.Type);
}

// A walk of fixed steps whose increments depend only on the seed and the step number, so the
// value at a time is the same however often it was sampled.
double TSimPlant::RandomWalk(std::uint32_t signal, qint64 now)
{
    const TGenerator &s = m_Generators[signal];
    const auto step = static_cast<qint64>(std::floor(now / (s.Period * 1000.0)));
    qint64 &at = m_WalkStep[signal];
    double &value = m_WalkValue[signal];
    if (at < 0) {
        at = 0;
        value = s.Value;
    }
    if (step - at > MaxWalkCatchUp)
        at = step;
    while (at < step) {
        ++at;
        value += Noise(s.Seed, at) * s.Step;
        if (value > s.High)
            value = 2.0 * s.High - value;
        if (value < s.Low)
            value = 2.0 * s.Low - value;
        value = std::clamp(value, s.Low, s.High);
    }
    return value;
}

WORD TSimPlant::QualityAt(const TGenerator &signal, qint64 now)
{
    constexpr WORD Uncertain = OPC_QUALITY_LAST_USABLE;
    switch (signal.QualityMode) {
    case sqGood: return OPC_QUALITY_GOOD;
    case sqUncertain: return Uncertain;
    case sqBad: return OPC_QUALITY_SENSOR_FAILURE;
    case sqCycle: {
        // Good for most of the cycle, then an uncertain and a bad phase.
        const double phase = Fraction(static_cast<double>(now) / 1000.0 / signal.QualityPeriod);
        if (phase < 0.6)
            return OPC_QUALITY_GOOD;
        return phase < 0.8 ? Uncertain : OPC_QUALITY_COMM_FAILURE;
    }
    }
    return OPC_QUALITY_GOOD;
}

HRESULT TSimPlant::Deliverable(std::uint32_t signal, double sample, VARTYPE requested,
                               const QLocale &locale, TVariant &out) const
{
    const VARTYPE type = m_Generators[signal].Type;
    if (type != VT_BSTR)
        return NumberToVariant(sample, type, requested, locale, out);
    const TSimSignal &s = m_Definition.Signals[signal];
    if (requested != VT_EMPTY && requested != VT_BSTR) {
        out = TVariant();
        return OPC_E_BADTYPE;
    }
    if (sample < 0.0) {
        const auto it = m_WrittenText.find(signal);
        out = TVariant::FromString(it == m_WrittenText.end() ? QString() : it->second);
    } else {
        const auto index = static_cast<qsizetype>(sample);
        out = TVariant::FromString(index < s.Values.size() ? s.Values[index] : QString());
    }
    return S_OK;
}

HRESULT TSimPlant::Write(std::uint32_t signal, const TVariant &value, const QLocale &locale)
{
    const TSimSignal &s = m_Definition.Signals[signal];
    double sample = 0.0;
    if (s.Type == VT_BSTR) {
        QString text;
        if (const HRESULT hr = VariantToText(value, locale, text); FAILED(hr))
            return hr;
        // Known texts keep their index, so writing the current text again changes nothing.
        if (const qsizetype index = s.Values.indexOf(text); index >= 0) {
            sample = static_cast<double>(index);
        } else if (m_Written[signal] && m_WrittenValue[signal] < 0.0 &&
                   m_WrittenText[signal] == text) {
            sample = m_WrittenValue[signal];
        } else {
            m_WrittenText[signal] = text;
            sample = static_cast<double>(-++m_TextVersion);
        }
    } else if (const HRESULT hr = VariantToNumber(value, s.Type, locale, sample); FAILED(hr)) {
        return hr;
    }
    m_Written[signal] = 1;
    m_WrittenValue[signal] = sample;
    m_SampleTime[signal] = -1;
    return S_OK;
}

quint64 TSimPlant::AddServer(TOPCSimServer *server)
{
    m_Servers.emplace(++m_LastId, server);
    return m_LastId;
}

void TSimPlant::RemoveServer(quint64 id)
{
    m_Servers.erase(id);
}

TOPCSimServer *TSimPlant::FindServer(quint64 id) const
{
    const auto it = m_Servers.find(id);
    return it == m_Servers.end() ? nullptr : it->second;
}

quint64 TSimPlant::AddGroup(TOPCSimGroup *group)
{
    m_Groups.emplace(++m_LastId, group);
    return m_LastId;
}

void TSimPlant::RemoveGroup(quint64 id)
{
    m_Groups.erase(id);
}

TOPCSimGroup *TSimPlant::FindGroup(quint64 id) const
{
    const auto it = m_Groups.find(id);
    return it == m_Groups.end() ? nullptr : it->second;
}

void TSimPlant::Post(std::function<void()> work)
{
    m_Pending.push_back(std::move(work));
    Arm();
}

void TSimPlant::Reschedule()
{
    Arm();
}

qint64 TSimPlant::NextDue() const
{
    qint64 next = std::numeric_limits<qint64>::max();
    for (const auto &[id, group] : m_Groups)
        if (group->Scheduled())
            next = std::min(next, group->NextDue());
    return next;
}

void TSimPlant::Arm()
{
    if (m_Running)
        return; // RunDue arms once it is done
    if (!m_Timer) {
        if (!QCoreApplication::instance())
            return; // no event loop: only AdvanceTime drives the plant
        // Owned by the application as well, so whichever goes first takes the timer along.
        m_Timer = new QTimer(QCoreApplication::instance());
        m_Timer->setSingleShot(true);
        m_Timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_Timer, &QTimer::timeout, m_Timer, [this] { RunDue(); });
    }
    qint64 delay = -1;
    if (!m_Pending.empty())
        delay = 0;
    else if (const qint64 next = NextDue(); next != std::numeric_limits<qint64>::max())
        delay = m_Options.ManualClock ? -1 : std::max<qint64>(0, next - Now());
    if (delay < 0)
        m_Timer->stop();
    else
        m_Timer->start(static_cast<int>(std::min<qint64>(delay, 24 * 3600 * 1000)));
}

void TSimPlant::RunDue()
{
    if (m_Running)
        return;
    // A client may drop the last reference to the plant from inside a callback.
    const std::shared_ptr<TSimPlant> keep = shared_from_this();
    m_Running = true;
    std::vector<std::function<void()>> work;
    work.swap(m_Pending);
    for (auto &item : work)
        Guarded(item);

    const qint64 now = Now();
    std::vector<std::pair<qint64, quint64>> due;
    for (const auto &[id, group] : m_Groups)
        if (group->Scheduled() && group->NextDue() <= now)
            due.emplace_back(group->NextDue(), id);
    std::sort(due.begin(), due.end());
    for (const auto &[when, id] : due) {
        Guarded([&, id = id] {
            TOPCSimGroup *group = FindGroup(id);
            if (group && group->Scheduled() && group->NextDue() <= now)
                group->RunCycle(now);
        });
    }
    m_Running = false;
    Arm();
}

void TSimPlant::AdvanceTime(qint64 ms)
{
    const qint64 target = Now() + std::max<qint64>(ms, 0);
    while (!m_Running) {
        const qint64 next = NextDue();
        if (next > target)
            break;
        SetNow(next);
        RunDue();
    }
    SetNow(target);
    RunDue();
}

void TSimPlant::RequestShutdown(const QString &reason)
{
    for (const auto &[id, server] : m_Servers)
        server->BeginShutdown(reason);
}
