// Groups and items of the simulation server as a client uses them: adding and validating items,
// subscription callbacks, synchronous and asynchronous reads and writes, and misuse.
#include "SimTestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <cmath>
#include <numbers>
#include <set>

namespace {

class SimGroupTest : public SimFixture
{
};

TEST_F(SimGroupTest, AddItemsReportsPerItemErrorsAndCanonicalTypes)
{
    m_Control->Knobs().RejectedItemIDs[QStringLiteral("Area1.Line1.Level")] = OPC_E_UNKNOWNPATH;
    struct Case
    {
        const char *id;
        VARTYPE requested;
        HRESULT error;
        VARTYPE canonical;
        DWORD rights;
    };
    const Case cases[] = {
        {"Area1.Line1.Temp", VT_EMPTY, S_OK, VT_R8, OPC_READABLE},
        {"Area1.Line1.Setpoint", VT_I4, S_OK, VT_R8, OPC_READABLE | OPC_WRITEABLE},
        {"Area1.Line1.Count", VT_BSTR, S_OK, VT_I4, OPC_READABLE},
        {"Area1.Line1.Running", VT_EMPTY, S_OK, VT_BOOL, OPC_READABLE},
        {"Area1.Line1.Text", VT_EMPTY, S_OK, VT_BSTR, OPC_READABLE | OPC_WRITEABLE},
        {"", VT_EMPTY, OPC_E_INVALIDITEMID, 0, 0},
        {" Area1.Line1.Temp", VT_EMPTY, OPC_E_INVALIDITEMID, 0, 0},
        {"Area1..Temp", VT_EMPTY, OPC_E_INVALIDITEMID, 0, 0},
        {"Area1.Line1.", VT_EMPTY, OPC_E_INVALIDITEMID, 0, 0},
        {"Area1.Line1.Nothing", VT_EMPTY, OPC_E_UNKNOWNITEMID, 0, 0},
        {"Area1.Line1", VT_EMPTY, OPC_E_UNKNOWNITEMID, 0, 0},
        {"area1.line1.temp", VT_EMPTY, OPC_E_UNKNOWNITEMID, 0, 0},
        {"Area1.Line1.Temp", VT_ARRAY | VT_R8, OPC_E_BADTYPE, 0, 0},
        {"Area1.Line1.Temp", VT_CY, OPC_E_BADTYPE, 0, 0},
        {"Area1.Line1.State", VT_R8, OPC_E_BADTYPE, 0, 0},
        {"Area1.Line1.Level", VT_EMPTY, OPC_E_UNKNOWNPATH, 0, 0},
    };
    std::vector<OPCITEMDEF> defs;
    for (const Case &c : cases) {
        OPCITEMDEF def;
        def.szItemID = QString::fromUtf8(c.id);
        def.vtRequestedDataType = c.requested;
        def.hClient = static_cast<OPCHANDLE>(defs.size());
        defs.push_back(def);
    }
    const TTestGroup group = AddGroup(m_Server, false);
    const auto items = group.As<IOPCItemMgt>();
    std::vector<OPCITEMRESULT> results;
    std::vector<HRESULT> errors;
    // Validation and adding judge every item alike; only adding hands out handles.
    ASSERT_EQ(items->ValidateItems(defs, 0, results, errors), S_FALSE);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(errors[i], cases[i].error) << cases[i].id;
        EXPECT_EQ(results[i].hServer, 0u);
    }
    ASSERT_EQ(items->AddItems(defs, results, errors), S_FALSE);
    ASSERT_EQ(results.size(), std::size(cases));
    std::vector<OPCHANDLE> added;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].id);
        EXPECT_EQ(errors[i], cases[i].error);
        EXPECT_EQ(results[i].vtCanonicalDataType, cases[i].canonical);
        EXPECT_EQ(results[i].dwAccessRights, cases[i].rights);
        EXPECT_EQ(results[i].hServer != 0, cases[i].error == S_OK);
        if (results[i].hServer)
            added.push_back(results[i].hServer);
    }
    EXPECT_EQ(std::set<OPCHANDLE>(added.begin(), added.end()).size(), added.size());

    // Only the added items exist: removing them succeeds exactly once.
    std::vector<HRESULT> removeErrors;
    EXPECT_EQ(items->RemoveItems(added, removeErrors), S_OK);
    EXPECT_EQ(items->RemoveItems(added, removeErrors), S_FALSE);
    for (const HRESULT e : removeErrors)
        EXPECT_EQ(e, OPC_E_INVALIDHANDLE);

    std::vector<OPCITEMDEF> good(1);
    good[0].szItemID = QStringLiteral("Area1.Line1.Temp");
    EXPECT_EQ(items->AddItems(good, results, errors), S_OK);
}

TEST_F(SimGroupTest, EveryItemCallRejectsUnknownHandlesAndEmptyLists)
{
    const TTestGroup group = AddGroup(m_Server, true);
    const auto known = group.AddItems({"Area1.Line1.Setpoint"});
    const OPCHANDLE mixed[] = {known[0], 9999, 0};
    const auto items = group.As<IOPCItemMgt>();
    const auto sync = group.As<IOPCSyncIO>();
    const OPCHANDLE clients[] = {1, 2, 3};
    const VARTYPE types[] = {VT_I4, VT_I4, VT_I4};
    const TVariant values[] = {TVariant::FromI4(1), TVariant::FromI4(2), TVariant::FromI4(3)};

    using Call = std::function<HRESULT(std::span<const OPCHANDLE>, std::vector<HRESULT> &)>;
    const std::pair<const char *, Call> calls[] = {
        {"SetActiveState", [&](auto h, auto &e) { return items->SetActiveState(h, 1, e); }},
        {"SetClientHandles",
         [&](auto h, auto &e) {
             return items->SetClientHandles(h, std::span(clients, h.size()), e);
         }},
        {"SetDatatypes",
         [&](auto h, auto &e) { return items->SetDatatypes(h, std::span(types, h.size()), e); }},
        {"Read",
         [&](auto h, auto &e) {
             std::vector<OPCITEMSTATE> states;
             return sync->Read(OPC_DS_DEVICE, h, states, e);
         }},
        {"Write", [&](auto h, auto &e) { return sync->Write(h, std::span(values, h.size()), e); }},
        {"RemoveItems", [&](auto h, auto &e) { return items->RemoveItems(h, e); }},
    };
    for (const auto &[name, call] : calls) {
        SCOPED_TRACE(name);
        std::vector<HRESULT> errors;
        EXPECT_EQ(call({}, errors), E_INVALIDARG);
        EXPECT_EQ(call(mixed, errors), S_FALSE);
        ASSERT_EQ(errors.size(), 3u);
        EXPECT_EQ(errors[0], S_OK);
        EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
        EXPECT_EQ(errors[2], OPC_E_INVALIDHANDLE);
    }
    std::vector<HRESULT> errors;
    EXPECT_EQ(items->SetClientHandles(known, {}, errors), E_INVALIDARG);
    EXPECT_EQ(sync->Write(known, {}, errors), E_INVALIDARG);
}

TEST_F(SimGroupTest, FirstCallbackAfterActivationCarriesEveryActiveItemFromTheLoop)
{
    const TTestGroup group = AddGroup(m_Server, false);
    auto sink = MakeCom<TTestDataSink>();
    group.Advise(sink);
    const auto handles =
        group.AddItems({"Area1.Line1.Temp", "Area1.Line1.Setpoint", "Area1.Line1.Level"});
    std::vector<HRESULT> errors;
    ASSERT_EQ(group.As<IOPCItemMgt>()->SetActiveState(std::span(&handles[2], 1), 0, errors), S_OK);

    ASSERT_EQ(group.SetActive(true), S_OK);
    EXPECT_TRUE(sink->DataChanges.empty()) << "never called inside a client's call";
    m_Control->RunDue();
    ASSERT_EQ(sink->DataChanges.size(), 1u);
    const TDataChange &first = sink->DataChanges[0];
    EXPECT_EQ(first.TransactionID, 0u);
    EXPECT_EQ(first.Group, TestGroupClientHandle);
    EXPECT_EQ(first.Clients, (std::vector<OPCHANDLE>{FirstClientItem, FirstClientItem + 1}));
    EXPECT_EQ(first.Values[1], TVariant::FromR8(50.0));
    EXPECT_EQ(first.Qualities[1], OPC_QUALITY_GOOD);
    EXPECT_EQ(first.MasterQuality, S_OK);
    EXPECT_EQ(first.MasterError, S_OK);

    // The constant setpoint stays out of later callbacks until it changes.
    m_Control->AdvanceTime(1000);
    ASSERT_EQ(sink->DataChanges.size(), 2u);
    EXPECT_EQ(sink->DataChanges[1].Clients, std::vector<OPCHANDLE>{FirstClientItem});

    // Activating an item in an active group sends it once, again from the loop.
    ASSERT_EQ(group.As<IOPCItemMgt>()->SetActiveState(std::span(&handles[2], 1), 1, errors), S_OK);
    EXPECT_EQ(sink->DataChanges.size(), 2u);
    m_Control->RunDue();
    ASSERT_EQ(sink->DataChanges.size(), 3u);
    EXPECT_EQ(sink->DataChanges[2].Clients, std::vector<OPCHANDLE>{FirstClientItem + 2});
}

TEST_F(SimGroupTest, ItemsAddedToAnActiveGroupArriveInTheNextCallback)
{
    const TTestGroup group = AddGroup(m_Server, true);
    auto sink = MakeCom<TTestDataSink>();
    group.Advise(sink);
    group.AddItems({"Area1.Line1.Setpoint", "Area1.Line1.Text"});
    EXPECT_TRUE(sink->DataChanges.empty());
    m_Control->RunDue();
    ASSERT_EQ(sink->DataChanges.size(), 1u);
    const TDataChange &change = sink->DataChanges[0];
    ASSERT_EQ(change.Clients.size(), 2u);
    EXPECT_EQ(change.Values[change.IndexOf(FirstClientItem + 1)],
              TVariant::FromString(QStringLiteral("Hello")));
    m_Control->AdvanceTime(5000);
    EXPECT_EQ(sink->DataChanges.size(), 1u) << "constants do not change";
}

TEST_F(SimGroupTest, CallbacksFollowTheUpdateRateAndTheRevisedMinimum)
{
    TTestGroup group = AddGroup(m_Server, true, 10);
    EXPECT_EQ(group.Result, OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(group.RevisedRate, 50u);

    DWORD revised = 0;
    const DWORD tooFast = 20;
    const DWORD slow = 500;
    const auto state = group.As<IOPCGroupStateMgt>();
    EXPECT_EQ(state->SetState(&tooFast, revised, nullptr, nullptr, nullptr, nullptr, nullptr),
              OPC_S_UNSUPPORTEDRATE);
    EXPECT_EQ(revised, 50u);
    EXPECT_EQ(state->SetState(&slow, revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(revised, 500u);

    auto sink = MakeCom<TTestDataSink>();
    group.Advise(sink);
    group.AddItems({"Area1.Line1.Level"}); // changes all the time
    m_Control->RunDue();
    ASSERT_EQ(sink->DataChanges.size(), 1u);
    m_Control->AdvanceTime(499);
    EXPECT_EQ(sink->DataChanges.size(), 1u);
    m_Control->AdvanceTime(1);
    EXPECT_EQ(sink->DataChanges.size(), 2u);
    m_Control->AdvanceTime(2000);
    EXPECT_EQ(sink->DataChanges.size(), 6u);

    // Time stamps are the plant time of the cycle that saw the change.
    OPCSERVERSTATUS status;
    ASSERT_EQ(m_Server->GetStatus(status), S_OK);
    EXPECT_EQ(MsBetween(status.ftStartTime, sink->DataChanges.back().Stamps[0]), 2500);
    EXPECT_EQ(status.ftLastUpdateTime, sink->DataChanges.back().Stamps[0]);

    ASSERT_EQ(group.SetActive(false), S_OK);
    m_Control->AdvanceTime(5000);
    EXPECT_EQ(sink->DataChanges.size(), 6u) << "an inactive group is not sampled";
}

TEST_F(SimGroupTest, PercentDeadbandHoldsBackSmallAnalogChanges)
{
    const TTestGroup group = AddGroup(m_Server, true, 1000);
    ASSERT_EQ(group.SetDeadband(5.0f), S_OK);
    EXPECT_EQ(group.SetDeadband(101.0f), E_INVALIDARG);
    EXPECT_EQ(group.SetDeadband(-1.0f), E_INVALIDARG);
    auto sink = MakeCom<TTestDataSink>();
    group.Advise(sink);
    // Level rises by 1 % of its range per second; Count by 1 per second but is not analog.
    const auto handles = group.AddItems({"Area1.Line1.Level", "Area1.Line1.Count"});
    m_Control->RunDue();
    ASSERT_EQ(sink->DataChanges.size(), 1u);

    int levelChanges = 0;
    for (int second = 1; second <= 6; ++second) {
        m_Control->AdvanceTime(1000);
        ASSERT_EQ(sink->DataChanges.size(), 1u + second);
        const TDataChange &change = sink->DataChanges.back();
        EXPECT_TRUE(change.Has(FirstClientItem + 1));
        if (change.Has(FirstClientItem)) {
            ++levelChanges;
            EXPECT_EQ(second, 6) << "5 % are not exceeded before";
            EXPECT_DOUBLE_EQ(change.Values[change.IndexOf(FirstClientItem)].AsDouble(), 6.0);
        }
    }
    EXPECT_EQ(levelChanges, 1);
    // The cache holds the last value that passed the deadband.
    m_Control->AdvanceTime(2000);
    EXPECT_DOUBLE_EQ(group.ReadOne(handles[0], OPC_DS_CACHE).vDataValue.AsDouble(), 6.0);
    EXPECT_DOUBLE_EQ(group.ReadOne(handles[0], OPC_DS_DEVICE).vDataValue.AsDouble(), 8.0);
}

TEST_F(SimGroupTest, CacheReadsAreOutOfServiceForInactiveItemsAndGroups)
{
    const TTestGroup group = AddGroup(m_Server, true);
    const auto handles = group.AddItems({"Area1.Line1.Level", "Area1.Line1.Temp"});
    std::vector<HRESULT> errors;
    ASSERT_EQ(group.As<IOPCItemMgt>()->SetActiveState(std::span(&handles[1], 1), 0, errors), S_OK);
    m_Control->AdvanceTime(3000);

    OPCITEMSTATE active = group.ReadOne(handles[0], OPC_DS_CACHE);
    EXPECT_EQ(active.hClient, FirstClientItem);
    EXPECT_EQ(active.wQuality, OPC_QUALITY_GOOD);
    EXPECT_DOUBLE_EQ(active.vDataValue.AsDouble(), 3.0);
    EXPECT_EQ(group.ReadOne(handles[1], OPC_DS_CACHE).wQuality, OPC_QUALITY_OUT_OF_SERVICE);
    // The device has the current value whatever the state.
    const OPCITEMSTATE device = group.ReadOne(handles[1], OPC_DS_DEVICE);
    EXPECT_EQ(device.wQuality, OPC_QUALITY_GOOD);
    EXPECT_NEAR(device.vDataValue.AsDouble(), 50.0 + 50.0 * std::sin(0.6 * std::numbers::pi), 1e-9);

    ASSERT_EQ(group.SetActive(false), S_OK);
    const OPCITEMSTATE inactive = group.ReadOne(handles[0], OPC_DS_CACHE);
    EXPECT_EQ(inactive.wQuality, OPC_QUALITY_OUT_OF_SERVICE);
    EXPECT_DOUBLE_EQ(inactive.vDataValue.AsDouble(), 3.0);

    std::vector<OPCITEMSTATE> states;
    EXPECT_EQ(group.As<IOPCSyncIO>()->Read(static_cast<OPCDATASOURCE>(3), handles, states, errors),
              E_INVALIDARG);
}

TEST_F(SimGroupTest, QualityCyclesThroughUncertainAndBadPhases)
{
    const TTestGroup group = AddGroup(m_Server, true, 1000);
    auto sink = MakeCom<TTestDataSink>();
    group.Advise(sink);
    const auto handles = group.AddItems({"Area1.Line1.Flaky"});
    const std::pair<qint64, WORD> phases[] = {{5000, OPC_QUALITY_GOOD},
                                              {6500, OPC_QUALITY_LAST_USABLE},
                                              {8500, OPC_QUALITY_COMM_FAILURE},
                                              {10500, OPC_QUALITY_GOOD}};
    for (const auto &[at, quality] : phases) {
        m_Control->AdvanceTime(at - m_Control->Now());
        EXPECT_EQ(group.ReadOne(handles[0], OPC_DS_DEVICE).wQuality, quality) << at;
    }
    // Each change of quality alone is a data change, and a bad one is not a good master quality.
    ASSERT_EQ(sink->DataChanges.size(), 4u);
    EXPECT_EQ(sink->DataChanges[2].Qualities[0], OPC_QUALITY_COMM_FAILURE);
    EXPECT_EQ(sink->DataChanges[2].MasterQuality, S_FALSE);
}

TEST_F(SimGroupTest, RequestedTypesAreDeliveredConverted)
{
    const TTestGroup group = AddGroup(m_Server, true);
    struct Case
    {
        const char *id;
        VARTYPE requested;
        LCID lcid;
        TVariant expected;
        HRESULT error;
    };
    // At plant time 0.5 s: Setpoint 12.5 (written), Running true, Count 0, Small 100, Text "Hello".
    const Case cases[] = {
        {"Area1.Line1.Setpoint", VT_I4, 0x409, TVariant::FromI4(12), S_OK},
        {"Area1.Line1.Setpoint", VT_R4, 0x409, TVariant::FromR4(12.5f), S_OK},
        {"Area1.Line1.Setpoint", VT_BSTR, 0x409, TVariant::FromString("12.5"), S_OK},
        {"Area1.Line1.Setpoint", VT_BSTR, 0x407, TVariant::FromString("12,5"), S_OK},
        {"Area1.Line1.Setpoint", VT_BOOL, 0x409, TVariant::FromBool(true), S_OK},
        {"Area1.Line1.Running", VT_I2, 0x409, TVariant::FromI2(-1), S_OK},
        {"Area1.Line1.Running", VT_BSTR, 0x409, TVariant::FromString("True"), S_OK},
        {"Area1.Line1.Count", VT_R8, 0x409, TVariant::FromR8(0.0), S_OK},
        {"Area1.Line1.Small", VT_UI1, 0x409, TVariant::FromUI1(100), S_OK},
        {"Area1.Line1.Small", VT_BOOL, 0x409, TVariant::FromBool(true), S_OK},
        {"Area1.Line1.Text", VT_BSTR, 0x409, TVariant::FromString("Hello"), S_OK},
    };
    const auto setpoint = group.AddItems({"Area1.Line1.Setpoint"});
    ASSERT_EQ(group.WriteOne(setpoint[0], TVariant::FromR8(12.5)), S_OK);
    m_Control->AdvanceTime(500);
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.id) + " as " + std::to_string(c.requested));
        const TTestGroup typed = AddGroup(m_Server, true);
        ASSERT_EQ(typed.SetLocale(c.lcid), S_OK);
        const auto handles = typed.AddItems({c.id}, true, c.requested);
        HRESULT error = E_FAIL;
        const OPCITEMSTATE state = typed.ReadOne(handles[0], OPC_DS_DEVICE, &error);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(state.vDataValue, c.expected) << state.vDataValue.ToString().toStdString();
        ASSERT_EQ(m_Server->RemoveGroup(typed.Handle, 1), S_OK);
    }

    // A value the requested type cannot hold is an item error with bad quality, in reads and
    // callbacks alike; changing the requested type fixes it.
    const TTestGroup narrow = AddGroup(m_Server, true);
    auto sink = MakeCom<TTestDataSink>();
    narrow.Advise(sink);
    const auto handles = narrow.AddItems({"Area1.Line1.Setpoint"}, true, VT_I1);
    ASSERT_EQ(group.WriteOne(setpoint[0], TVariant::FromR8(1000.0)), S_OK);
    HRESULT error = S_OK;
    const OPCITEMSTATE state = narrow.ReadOne(handles[0], OPC_DS_DEVICE, &error);
    EXPECT_EQ(error, OPC_E_RANGE);
    EXPECT_EQ(state.wQuality, OPC_QUALITY_BAD);
    m_Control->AdvanceTime(1000);
    ASSERT_FALSE(sink->DataChanges.empty());
    EXPECT_EQ(sink->DataChanges.back().Errors[0], OPC_E_RANGE);
    EXPECT_EQ(sink->DataChanges.back().MasterError, S_FALSE);

    std::vector<HRESULT> errors;
    const VARTYPE wide[] = {VT_I4};
    const VARTYPE impossible[] = {VT_ARRAY | VT_I4};
    const auto items = narrow.As<IOPCItemMgt>();
    EXPECT_EQ(items->SetDatatypes(handles, impossible, errors), S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_BADTYPE);
    ASSERT_EQ(items->SetDatatypes(handles, wide, errors), S_OK);
    EXPECT_EQ(narrow.ReadOne(handles[0], OPC_DS_DEVICE).vDataValue, TVariant::FromI4(1000));
}

TEST_F(SimGroupTest, WritesAreCheckedConvertedAndSeenByEveryClient)
{
    const TTestGroup group = AddGroup(m_Server, true);
    ASSERT_EQ(group.SetLocale(0x409), S_OK);
    const auto h = group.AddItems(
        {"Area1.Line1.Setpoint", "Area1.Line1.Small", "Area1.Line1.Text", "Area1.Line1.Temp"});
    struct Case
    {
        OPCHANDLE item;
        TVariant value;
        HRESULT error;
        TVariant readBack;
    };
    const Case cases[] = {
        {h[0], TVariant::FromI4(42), S_OK, TVariant::FromR8(42.0)},
        {h[0], TVariant::FromString("43.5"), S_OK, TVariant::FromR8(43.5)},
        {h[0], TVariant::FromString("viel"), OPC_E_BADTYPE, TVariant::FromR8(43.5)},
        {h[0], TVariant(), OPC_E_BADTYPE, TVariant::FromR8(43.5)},
        {h[1], TVariant::FromI4(200), OPC_E_RANGE, TVariant::FromI1(100)},
        {h[1], TVariant::FromR8(-7.4), S_OK, TVariant::FromI1(-7)},
        {h[2], TVariant::FromI4(5), S_OK, TVariant::FromString("5")},
        {h[3], TVariant::FromR8(1.0), OPC_E_BADRIGHTS, TVariant()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value.ToString().toStdString());
        EXPECT_EQ(group.WriteOne(c.item, c.value), c.error);
        if (!c.readBack.IsEmpty()) {
            EXPECT_EQ(group.ReadOne(c.item, OPC_DS_DEVICE).vDataValue, c.readBack);
        }
    }

    // The plant is shared: another connection sees the write, in its reads and its callbacks.
    const ComPtr<IOPCServer> other = Connect();
    const TTestGroup otherGroup = AddGroup(other, true, 1000);
    auto sink = MakeCom<TTestDataSink>();
    otherGroup.Advise(sink);
    const auto otherHandles = otherGroup.AddItems({"Area1.Line1.Setpoint"});
    m_Control->RunDue();
    ASSERT_EQ(group.WriteOne(h[0], TVariant::FromR8(61.0)), S_OK);
    EXPECT_EQ(otherGroup.ReadOne(otherHandles[0], OPC_DS_DEVICE).vDataValue,
              TVariant::FromR8(61.0));
    m_Control->AdvanceTime(1000);
    ASSERT_EQ(sink->DataChanges.size(), 2u);
    EXPECT_EQ(sink->DataChanges[1].Values[0], TVariant::FromR8(61.0));
}

TEST_F(SimGroupTest, AsyncCallsCompleteLaterFromTheLoop)
{
    const TTestGroup group = AddGroup(m_Server, true);
    const auto async = group.As<IOPCAsyncIO2>();
    const auto h = group.AddItems({"Area1.Line1.Setpoint", "Area1.Line1.Temp"});
    DWORD cancelID = 0;
    std::vector<HRESULT> errors;
    EXPECT_EQ(async->Read(h, 1, cancelID, errors), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(async->Refresh2(OPC_DS_CACHE, 1, cancelID), CONNECT_E_NOCONNECTION);

    auto sink = MakeCom<TTestDataSink>();
    group.Advise(sink);
    m_Control->RunDue();
    sink->DataChanges.clear();

    const OPCHANDLE withUnknown[] = {h[0], 4711};
    ASSERT_EQ(async->Read(withUnknown, 11, cancelID, errors), S_FALSE);
    EXPECT_EQ(errors, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE}));
    EXPECT_NE(cancelID, 0u);
    const TVariant values[] = {TVariant::FromR8(7.0), TVariant::FromR8(8.0)};
    ASSERT_EQ(async->Write(h, values, 12, cancelID, errors), S_OK);
    ASSERT_EQ(async->Refresh2(OPC_DS_DEVICE, 13, cancelID), S_OK);
    EXPECT_TRUE(sink->ReadCompletes.empty());
    EXPECT_TRUE(sink->WriteCompletes.empty());
    EXPECT_TRUE(sink->DataChanges.empty());

    m_Control->RunDue();
    ASSERT_EQ(sink->ReadCompletes.size(), 1u);
    const TDataChange &read = sink->ReadCompletes[0];
    EXPECT_EQ(read.TransactionID, 11u);
    EXPECT_EQ(read.Group, TestGroupClientHandle);
    EXPECT_EQ(read.Clients, std::vector<OPCHANDLE>{FirstClientItem});
    EXPECT_EQ(read.Values[0], TVariant::FromR8(50.0)) << "read before the write";

    ASSERT_EQ(sink->WriteCompletes.size(), 1u);
    EXPECT_EQ(sink->WriteCompletes[0].TransactionID, 12u);
    EXPECT_EQ(sink->WriteCompletes[0].Errors, (std::vector<HRESULT>{S_OK, OPC_E_BADRIGHTS}));
    EXPECT_EQ(sink->WriteCompletes[0].MasterError, S_FALSE);

    ASSERT_EQ(sink->DataChanges.size(), 1u);
    const TDataChange &refresh = sink->DataChanges[0];
    EXPECT_EQ(refresh.TransactionID, 13u);
    EXPECT_EQ(refresh.Clients.size(), 2u);
    EXPECT_EQ(refresh.Values[refresh.IndexOf(FirstClientItem)], TVariant::FromR8(7.0));

    // A cancelled read completes as cancelled only; its id is gone afterwards.
    ASSERT_EQ(async->Read(h, 14, cancelID, errors), S_OK);
    ASSERT_EQ(async->Cancel2(cancelID), S_OK);
    EXPECT_EQ(async->Cancel2(cancelID), E_FAIL);
    m_Control->RunDue();
    EXPECT_EQ(sink->ReadCompletes.size(), 1u);
    EXPECT_EQ(sink->CancelCompletes,
              (std::vector<std::pair<DWORD, OPCHANDLE>>{{14u, TestGroupClientHandle}}));
    EXPECT_EQ(async->Cancel2(12345), E_FAIL);

    // A refresh needs an active group with active items.
    ASSERT_EQ(group.SetActive(false), S_OK);
    EXPECT_EQ(async->Refresh2(OPC_DS_CACHE, 15, cancelID), E_FAIL);
}

TEST_F(SimGroupTest, DisabledGroupSendsNoDataChangesButRefreshes)
{
    const TTestGroup group = AddGroup(m_Server, true);
    const auto async = group.As<IOPCAsyncIO2>();
    BOOL enabled = 1;
    EXPECT_EQ(async->SetEnable(0), CONNECT_E_NOCONNECTION);
    auto sink = MakeCom<TTestDataSink>();
    group.Advise(sink);
    group.AddItems({"Area1.Line1.Level"});
    ASSERT_EQ(async->SetEnable(0), S_OK);
    ASSERT_EQ(async->GetEnable(enabled), S_OK);
    EXPECT_EQ(enabled, 0);
    m_Control->AdvanceTime(3000);
    EXPECT_TRUE(sink->DataChanges.empty());
    DWORD cancelID = 0;
    ASSERT_EQ(async->Refresh2(OPC_DS_CACHE, 5, cancelID), S_OK);
    m_Control->RunDue();
    ASSERT_EQ(sink->DataChanges.size(), 1u);
    EXPECT_EQ(sink->DataChanges[0].TransactionID, 5u);
    ASSERT_EQ(async->SetEnable(1), S_OK);
    m_Control->AdvanceTime(1000);
    EXPECT_EQ(sink->DataChanges.size(), 2u);
}

TEST_F(SimGroupTest, DataCallbackPointTakesOneSinkThatSupportsTheInterface)
{
    const TTestGroup group = AddGroup(m_Server, true);
    const auto container = group.As<IConnectionPointContainer>();
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(IOPCShutdown::Iid, point), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(container->FindConnectionPoint(IOPCDataCallback::Iid, point), S_OK);
    DWORD cookie = 0;
    auto notASink = MakeCom<TTestShutdownSink>();
    EXPECT_EQ(point->Advise(notASink.Get(), cookie), CONNECT_E_CANNOTCONNECT);
    auto first = MakeCom<TTestDataSink>();
    auto second = MakeCom<TTestDataSink>();
    ASSERT_EQ(point->Advise(first.Get(), cookie), S_OK);
    DWORD secondCookie = 0;
    EXPECT_EQ(point->Advise(second.Get(), secondCookie), CONNECT_E_ADVISELIMIT);
    group.AddItems({"Area1.Line1.Temp"});
    m_Control->AdvanceTime(1000);
    EXPECT_EQ(first->DataChanges.size(), 2u);
    ASSERT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
    m_Control->AdvanceTime(1000);
    EXPECT_EQ(first->DataChanges.size(), 2u);
}

TEST_F(SimGroupTest, GroupStateKeepsValuesPassedAsNull)
{
    const LONG bias = 60;
    const float deadband = 2.5f;
    TTestGroup group;
    ASSERT_EQ(m_Server->AddGroup(QStringLiteral("Kessel"), 0, 250, 5, &bias, &deadband, 0x407,
                                 group.Handle, group.RevisedRate, IOPCGroupStateMgt::Iid,
                                 group.Unknown),
              S_OK);
    const auto state = group.As<IOPCGroupStateMgt>();
    const OPCHANDLE client = 6;
    const BOOL active = 1;
    DWORD revised = 0;
    ASSERT_EQ(state->SetState(nullptr, revised, &active, nullptr, nullptr, nullptr, &client), S_OK);
    EXPECT_EQ(revised, 250u);

    DWORD rate = 0;
    BOOL isActive = 0;
    QString name;
    LONG timeBias = 0;
    float percent = 0;
    LCID lcid = 0;
    OPCHANDLE clientGroup = 0, serverGroup = 0;
    ASSERT_EQ(
        state->GetState(rate, isActive, name, timeBias, percent, lcid, clientGroup, serverGroup),
        S_OK);
    EXPECT_EQ(rate, 250u);
    EXPECT_EQ(isActive, 1);
    EXPECT_EQ(name, QStringLiteral("Kessel"));
    EXPECT_EQ(timeBias, 60);
    EXPECT_FLOAT_EQ(percent, 2.5f);
    EXPECT_EQ(lcid, 0x407u);
    EXPECT_EQ(clientGroup, 6u);
    EXPECT_EQ(serverGroup, group.Handle);

    // The new client handle names the group in callbacks.
    auto sink = MakeCom<TTestDataSink>();
    TTestGroup{group.Unknown}.Advise(sink);
    TTestGroup{group.Unknown}.AddItems({"Area1.Line1.Temp"});
    m_Control->RunDue();
    ASSERT_EQ(sink->DataChanges.size(), 1u);
    EXPECT_EQ(sink->DataChanges[0].Group, 6u);
}

TEST_F(SimGroupTest, GroupNamesAreUniquePerServer)
{
    const TTestGroup a = AddGroup(m_Server, false, 1000, QStringLiteral("A"));
    ASSERT_EQ(a.Result, S_OK);
    EXPECT_EQ(AddGroup(m_Server, false, 1000, QStringLiteral("A")).Result, OPC_E_DUPLICATENAME);
    const TTestGroup unnamed = AddGroup(m_Server, false);
    ASSERT_EQ(unnamed.Result, S_OK);
    // Another connection has its own names.
    EXPECT_EQ(AddGroup(Connect(), false, 1000, QStringLiteral("A")).Result, S_OK);

    const auto state = unnamed.As<IOPCGroupStateMgt>();
    EXPECT_EQ(state->SetName(QStringLiteral("A")), OPC_E_DUPLICATENAME);
    EXPECT_EQ(state->SetName(QString()), E_INVALIDARG);
    ASSERT_EQ(state->SetName(QStringLiteral("B")), S_OK);

    ComPtr<IUnknown> found;
    ASSERT_EQ(m_Server->GetGroupByName(QStringLiteral("B"), IOPCGroupStateMgt::Iid, found), S_OK);
    EXPECT_EQ(found.As<IUnknown>().Get(), unnamed.Unknown.As<IUnknown>().Get());
    EXPECT_EQ(m_Server->GetGroupByName(QStringLiteral("C"), IOPCGroupStateMgt::Iid, found),
              E_INVALIDARG);

    ComPtr<IUnknown> enumerator;
    ASSERT_EQ(m_Server->CreateGroupEnumerator(OPC_ENUM_ALL, IEnumString::Iid, enumerator), S_OK);
    std::vector<QString> names;
    enumerator.As<IEnumString>()->Next(10, names);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<QString>{QStringLiteral("A"), QStringLiteral("B")}));
    EXPECT_EQ(m_Server->CreateGroupEnumerator(OPC_ENUM_PUBLIC, IEnumString::Iid, enumerator),
              S_FALSE);
}

TEST_F(SimGroupTest, CloneGroupCopiesItemsButStartsInactive)
{
    const TTestGroup group = AddGroup(m_Server, true);
    const auto handles = group.AddItems({"Area1.Line1.Setpoint", "Area1.Line1.Temp"});
    TTestGroup clone;
    ASSERT_EQ(group.As<IOPCGroupStateMgt>()->CloneGroup(QStringLiteral("Copy"), IOPCItemMgt::Iid,
                                                        clone.Unknown),
              S_OK);
    HRESULT error = S_OK;
    EXPECT_EQ(clone.ReadOne(handles[0], OPC_DS_CACHE, &error).wQuality, OPC_QUALITY_OUT_OF_SERVICE);
    EXPECT_EQ(error, S_OK);
    ASSERT_EQ(clone.SetActive(true), S_OK);
    EXPECT_EQ(clone.ReadOne(handles[0], OPC_DS_CACHE).vDataValue, TVariant::FromR8(50.0));
    ComPtr<IUnknown> again;
    EXPECT_EQ(
        group.As<IOPCGroupStateMgt>()->CloneGroup(QStringLiteral("Copy"), IOPCItemMgt::Iid, again),
        OPC_E_DUPLICATENAME);
}

TEST_F(SimGroupTest, RemovingGroupsFollowsReferenceRules)
{
    EXPECT_EQ(m_Server->RemoveGroup(12345, 0), OPC_E_INVALIDHANDLE);

    // Still referenced: removed anyway, reported as in use, dead for the holder.
    TTestGroup held = AddGroup(m_Server, true);
    held.AddItems({"Area1.Line1.Temp"});
    ASSERT_EQ(m_Server->RemoveGroup(held.Handle, 0), OPC_S_INUSE);
    EXPECT_EQ(m_Server->RemoveGroup(held.Handle, 0), OPC_E_INVALIDHANDLE);
    EXPECT_EQ(held.SetActive(true), RPC_E_DISCONNECTED);
    std::vector<HRESULT> errors;
    const OPCHANDLE any[] = {1};
    EXPECT_EQ(held.As<IOPCItemMgt>()->RemoveItems(any, errors), RPC_E_DISCONNECTED);
    EXPECT_EQ(m_Control->GroupCount(), 0);

    TTestGroup forced = AddGroup(m_Server, true);
    EXPECT_EQ(m_Server->RemoveGroup(forced.Handle, 1), S_OK);

    // Released first: plain success, with its items.
    TTestGroup released = AddGroup(m_Server, true);
    released.AddItems({"Area1.Line1.Temp", "Area1.Line1.Level"});
    const OPCHANDLE handle = released.Handle;
    released.Unknown.Reset();
    EXPECT_EQ(m_Server->RemoveGroup(handle, 0), S_OK);

    OPCSERVERSTATUS status;
    ASSERT_EQ(m_Server->GetStatus(status), S_OK);
    EXPECT_EQ(status.dwGroupCount, 0u);
}

TEST_F(SimGroupTest, SinkMayRemoveItsGroupOrReleaseEverythingDuringTheCallback)
{
    // Removing the own group inside the callback.
    {
        TTestGroup group = AddGroup(m_Server, true);
        auto sink = MakeCom<TTestDataSink>();
        group.Advise(sink);
        group.AddItems({"Area1.Line1.Temp"});
        sink->DuringDataChange = [&] {
            std::vector<HRESULT> errors;
            const OPCHANDLE all[] = {1};
            group.As<IOPCItemMgt>()->RemoveItems(all, errors);
            group.Unknown.Reset();
            EXPECT_EQ(m_Server->RemoveGroup(group.Handle, 0), S_OK)
                << "the server's own hold during the call is no client reference";
        };
        m_Control->AdvanceTime(3000);
        EXPECT_EQ(sink->DataChanges.size(), 1u);
        EXPECT_EQ(m_Control->GroupCount(), 0);
    }
    // Releasing the server and the group inside the callback frees both afterwards.
    {
        TTestGroup group = AddGroup(m_Server, true);
        auto sink = MakeCom<TTestDataSink>();
        group.Advise(sink);
        group.AddItems({"Area1.Line1.Temp", "Area1.Line1.Level"});
        sink->DuringDataChange = [&] {
            group.Unknown.Reset();
            m_Server.Reset();
        };
        m_Control->AdvanceTime(3000);
        EXPECT_EQ(sink->DataChanges.size(), 1u);
        EXPECT_EQ(m_Control->ServerCount(), 0);
        EXPECT_EQ(m_Control->GroupCount(), 0);
    }
}

TEST_F(SimGroupTest, GroupsOfAReleasedServerAreDisconnected)
{
    TTestGroup group = AddGroup(m_Server, true);
    group.AddItems({"Area1.Line1.Temp"});
    m_Server.Reset();
    EXPECT_EQ(m_Control->ServerCount(), 0);
    EXPECT_EQ(m_Control->GroupCount(), 0);
    EXPECT_EQ(group.SetActive(false), RPC_E_DISCONNECTED);
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(
        group.As<IConnectionPointContainer>()->FindConnectionPoint(IOPCDataCallback::Iid, point),
        RPC_E_DISCONNECTED);
}

TEST_F(SimGroupTest, AddGroupAsksForTheInterfaceAndChecksArguments)
{
    TTestGroup group;
    const IID unknownIid = CreateGUID();
    EXPECT_EQ(m_Server->AddGroup(QStringLiteral("G"), 1, 1000, 0, nullptr, nullptr, 0, group.Handle,
                                 group.RevisedRate, unknownIid, group.Unknown),
              E_NOINTERFACE);
    EXPECT_FALSE(group.Unknown);
    EXPECT_EQ(m_Control->GroupCount(), 0);
    const float tooMuch = 150.0f;
    EXPECT_EQ(m_Server->AddGroup(QStringLiteral("G"), 1, 1000, 0, nullptr, &tooMuch, 0,
                                 group.Handle, group.RevisedRate, IOPCItemMgt::Iid, group.Unknown),
              E_INVALIDARG);
    EXPECT_EQ(AddGroup(m_Server, true, 1000, QStringLiteral("G")).Result, S_OK)
        << "the refused attempts left no group of that name";
}

// The one test on the real clock: callbacks come from a timer of the Qt event loop.
TEST(SimEventLoopTest, DataChangesArriveFromTheEventLoop)
{
    TSimulationOptions options;
    options.ProgID = QStringLiteral("Tidewell.OPCSimulationLoop.1");
    options.Clsid = CreateGUID();
    options.PlantText = QString::fromUtf8(TestPlant);
    const auto control = RegisterSimulationServer(LocalHost(), options);
    ComPtr<IUnknown> object;
    ASSERT_EQ(CoCreateInstance(options.Clsid, CLSCTX_SERVER, IOPCServer::Iid, object), S_OK);
    const auto server = object.As<IOPCServer>();
    TTestGroup group;
    ASSERT_EQ(server->AddGroup(QString(), 1, 50, 1, nullptr, nullptr, 0, group.Handle,
                               group.RevisedRate, IOPCItemMgt::Iid, group.Unknown),
              S_OK);
    auto sink = MakeCom<TTestDataSink>();
    group.Advise(sink);
    group.AddItems({"Area1.Line1.Level"});

    QEventLoop loop;
    sink->DuringDataChange = [&] {
        if (sink->DataChanges.size() == 3)
            loop.quit();
    };
    QTimer::singleShot(10000, &loop, &QEventLoop::quit); // a safety net, not a measurement
    loop.exec();
    EXPECT_EQ(sink->DataChanges.size(), 3u);
    control->Unregister();
}

} // namespace
