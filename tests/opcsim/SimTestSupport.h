// A client's view of the simulation server for the tests: a fixture that registers a simulation
// class with a small plant and a manual clock, creates server objects the way a client does, and
// sinks that record the callbacks.
#pragma once

#include "opcsim/OPCSimulation.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <vector>

// Signals at known places, with values that are easy to compute for a given plant time.
inline const char *const TestPlant = R"(
[Area1.Line1]
Temp      sine     low=0 high=100 period=10 unit=°C description="Product temperature"
Level     ramp     low=0 high=100 period=100 unit=%
Setpoint  const    value=50 low=0 high=100 writable unit=% description=Setpoint
Count     counter  period=1
Running   bool     period=2
State     string   values=Stop|Run|Fault period=1
Small     const    type=I1 value=100 writable
Text      const    type=BSTR value=Hello writable
Flaky     const    value=1 quality=cycle qperiod=10
[Area1.Line2]
Temp      sine     low=0 high=100 period=10
[Area2]
Walk      randomwalk type=R4 low=0 high=10 step=0.5 period=0.1 seed=7
)";

struct TDataChange
{
    DWORD TransactionID = 0;
    OPCHANDLE Group = 0;
    HRESULT MasterQuality = S_OK;
    HRESULT MasterError = S_OK;
    std::vector<OPCHANDLE> Clients;
    std::vector<TVariant> Values;
    std::vector<WORD> Qualities;
    std::vector<FILETIME> Stamps;
    std::vector<HRESULT> Errors;

    // The entry of a client handle; fails the test when it is missing.
    std::size_t IndexOf(OPCHANDLE client) const;
    bool Has(OPCHANDLE client) const;
};

class TTestDataSink : public TComObject<IOPCDataCallback>
{
public:
    HRESULT OnDataChange(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterQuality,
                         HRESULT masterError, DWORD count, std::span<const OPCHANDLE> clientItems,
                         std::span<const TVariant> values, std::span<const WORD> qualities,
                         std::span<const FILETIME> timeStamps,
                         std::span<const HRESULT> errors) override;
    HRESULT OnReadComplete(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterQuality,
                           HRESULT masterError, DWORD count, std::span<const OPCHANDLE> clientItems,
                           std::span<const TVariant> values, std::span<const WORD> qualities,
                           std::span<const FILETIME> timeStamps,
                           std::span<const HRESULT> errors) override;
    HRESULT OnWriteComplete(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterError,
                            DWORD count, std::span<const OPCHANDLE> clientItems,
                            std::span<const HRESULT> errors) override;
    HRESULT OnCancelComplete(DWORD transactionID, OPCHANDLE clientGroup) override;

    std::vector<TDataChange> DataChanges;
    std::vector<TDataChange> ReadCompletes;
    std::vector<TDataChange> WriteCompletes; // without values, qualities and stamps
    std::vector<std::pair<DWORD, OPCHANDLE>> CancelCompletes;
    // Runs inside OnDataChange, after the change has been recorded.
    std::function<void()> DuringDataChange;
};

class TTestShutdownSink : public TComObject<IOPCShutdown>
{
public:
    HRESULT ShutdownRequest(const QString &reason) override;
    std::vector<QString> Reasons;
    std::function<void()> DuringShutdown;
};

// A group as a client holds it.
struct TTestGroup
{
    ComPtr<IUnknown> Unknown;
    OPCHANDLE Handle = 0;
    DWORD RevisedRate = 0;
    HRESULT Result = E_FAIL;

    template <class I> ComPtr<I> As() const { return Unknown.As<I>(); }
    // Adds the items and returns their server handles (0 for failed ones); client handles are
    // 100, 101, ... in order.
    std::vector<OPCHANDLE> AddItems(std::initializer_list<const char *> ids, bool active = true,
                                    VARTYPE requested = VT_EMPTY) const;
    // Connects the sink to the group's data callback point.
    DWORD Advise(const ComPtr<TTestDataSink> &sink) const;
    HRESULT SetActive(bool active) const;
    HRESULT SetDeadband(float percent) const;
    HRESULT SetLocale(LCID lcid) const;
    // A synchronous read of one item.
    OPCITEMSTATE ReadOne(OPCHANDLE item, OPCDATASOURCE source, HRESULT *error = nullptr) const;
    HRESULT WriteOne(OPCHANDLE item, const TVariant &value) const;
};

inline constexpr OPCHANDLE TestGroupClientHandle = 77;
inline constexpr OPCHANDLE FirstClientItem = 100;

class SimFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Registers the class again with these options (manual clock, test plant unless given).
    void Register(TSimulationOptions options);
    ComPtr<IOPCServer> Connect() const;
    TTestGroup AddGroup(const ComPtr<IOPCServer> &server, bool active, DWORD rate = 1000,
                        const QString &name = QString()) const;

    std::shared_ptr<TSimulationControl> m_Control;
    ComPtr<IOPCServer> m_Server;
};

// Milliseconds between two file times.
qint64 MsBetween(const FILETIME &from, const FILETIME &to);
