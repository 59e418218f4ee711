// The simulation server object as a client meets it: registration and creation, interfaces,
// status, error texts, locales, shutdown and the knobs that make it misbehave.
#include "SimTestSupport.h"

#include <set>

namespace {

class SimServerTest : public SimFixture
{
};

TEST_F(SimServerTest, RegistersAsAnOpcDa20ServerUnderItsProgID)
{
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(QStringLiteral("Tidewell.OPCSimulation.1"), clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_TidewellOPCSimulation);
    const auto info = LocalHost().Classes().Find(clsid);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->Name, QStringLiteral("Tidewell OPC Simulation Server"));
    EXPECT_EQ(info->ImplementedCategories, std::vector<GUID>{CATID_OPCDAServer20});

    // A second, differently configured class lives beside it with a plant of its own.
    TSimulationOptions options;
    options.Clsid = CreateGUID();
    options.ProgID = QStringLiteral("Tidewell.OPCSimulationFlat.1");
    options.PlantText = QStringLiteral("Alone const value=1\n");
    options.Knobs.FlatNamespace = true;
    const auto other = RegisterSimulationServer(LocalHost(), options);
    ASSERT_EQ(CLSIDFromProgID(options.ProgID, clsid), S_OK);
    EXPECT_EQ(clsid, options.Clsid);
    EXPECT_EQ(other->SignalCount(), 1);
    ComPtr<IUnknown> object;
    ASSERT_EQ(CoCreateInstance(clsid, CLSCTX_SERVER, IOPCBrowseServerAddressSpace::Iid, object),
              S_OK);
    OPCNAMESPACETYPE organization = OPC_NS_HIERARCHIAL;
    ASSERT_EQ(object.As<IOPCBrowseServerAddressSpace>()->QueryOrganization(organization), S_OK);
    EXPECT_EQ(organization, OPC_NS_FLAT);
    object.Reset();
    other->Unregister();
    EXPECT_EQ(CLSIDFromProgID(options.ProgID, clsid), CO_E_CLASSSTRING);
}

TEST_F(SimServerTest, AnswersForTheInterfacesThatTheKnobsLeave)
{
    const IID always[] = {IOPCServer::Iid, IOPCCommon::Iid, IPersistFile::Iid,
                          IConnectionPointContainer::Iid, IUnknown::Iid};
    struct Case
    {
        bool TSimulationKnobs::*knob;
        IID iid;
    };
    const Case cases[] = {
        {&TSimulationKnobs::WithBrowsing, IOPCBrowseServerAddressSpace::Iid},
        {&TSimulationKnobs::WithItemProperties, IOPCItemProperties::Iid},
        {&TSimulationKnobs::WithPublicGroups, IOPCServerPublicGroups::Iid},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(GUIDToString(c.iid).toStdString());
        void *raw = nullptr;
        ASSERT_EQ(m_Server->QueryInterface(c.iid, &raw), S_OK);
        static_cast<IUnknown *>(raw)->Release();
        m_Control->Knobs().*c.knob = false;
        EXPECT_EQ(m_Server->QueryInterface(c.iid, &raw), E_NOINTERFACE);
        EXPECT_EQ(raw, nullptr);
        for (const IID &iid : always) {
            ASSERT_EQ(m_Server->QueryInterface(iid, &raw), S_OK);
            static_cast<IUnknown *>(raw)->Release();
        }
        m_Control->Knobs().*c.knob = true;
    }
}

TEST_F(SimServerTest, AllServerObjectsShareOnePlant)
{
    const ComPtr<IOPCServer> other = Connect();
    const TTestGroup a = AddGroup(m_Server, true);
    const TTestGroup b = AddGroup(other, true);
    const auto ha = a.AddItems({"Area2.Walk", "Area1.Line1.Setpoint"});
    const auto hb = b.AddItems({"Area2.Walk", "Area1.Line1.Setpoint"});
    m_Control->AdvanceTime(12345);
    EXPECT_EQ(a.ReadOne(ha[0], OPC_DS_DEVICE).vDataValue,
              b.ReadOne(hb[0], OPC_DS_DEVICE).vDataValue);
    ASSERT_EQ(b.WriteOne(hb[1], TVariant::FromR8(3.0)), S_OK);
    EXPECT_EQ(a.ReadOne(ha[1], OPC_DS_DEVICE).vDataValue, TVariant::FromR8(3.0));
    EXPECT_EQ(m_Control->ServerCount(), 2);
}

TEST_F(SimServerTest, StatusReportsTimesStateGroupsAndVendor)
{
    OPCSERVERSTATUS status;
    ASSERT_EQ(m_Server->GetStatus(status), S_OK);
    EXPECT_EQ(status.dwServerState, OPC_STATUS_RUNNING);
    EXPECT_EQ(status.szVendorInfo, QStringLiteral("Tidewell OPC Simulation"));
    EXPECT_EQ(status.dwGroupCount, 0u);
    EXPECT_EQ(status.ftLastUpdateTime, FILETIME());
    EXPECT_EQ(status.wMajorVersion, 1);
    const qint64 age = MsBetween(status.ftStartTime, CurrentFileTime());
    EXPECT_GE(age, 0);

    AddGroup(m_Server, false);
    m_Control->AdvanceTime(90000);
    ASSERT_EQ(m_Server->GetStatus(status), S_OK);
    EXPECT_EQ(MsBetween(status.ftStartTime, status.ftCurrentTime), 90000);
    EXPECT_EQ(status.dwGroupCount, 1u);

    const OPCSERVERSTATE states[] = {OPC_STATUS_FAILED, OPC_STATUS_NOCONFIG, OPC_STATUS_SUSPENDED,
                                     OPC_STATUS_TEST, OPC_STATUS_RUNNING};
    for (const OPCSERVERSTATE state : states) {
        m_Control->Knobs().ServerState = state;
        ASSERT_EQ(m_Server->GetStatus(status), S_OK);
        EXPECT_EQ(status.dwServerState, state);
    }
}

TEST_F(SimServerTest, ErrorStringsAndLocales)
{
    const auto common = m_Server.As<IOPCCommon>();
    const HRESULT codes[] = {OPC_E_INVALIDHANDLE, OPC_E_BADTYPE,           OPC_E_PUBLIC,
                             OPC_E_BADRIGHTS,     OPC_E_UNKNOWNITEMID,     OPC_E_INVALIDITEMID,
                             OPC_E_INVALIDFILTER, OPC_E_UNKNOWNPATH,       OPC_E_RANGE,
                             OPC_E_DUPLICATENAME, OPC_S_UNSUPPORTEDRATE,   OPC_S_CLAMP,
                             OPC_S_INUSE,         OPC_E_INVALIDCONFIGFILE, OPC_E_NOTFOUND,
                             OPC_E_INVALID_PID,   RPC_E_DISCONNECTED};
    std::set<QString> texts;
    for (const HRESULT code : codes) {
        QString text, viaServer;
        ASSERT_EQ(common->GetErrorString(code, text), S_OK) << std::hex << code;
        ASSERT_EQ(m_Server->GetErrorString(code, 0x409, viaServer), S_OK);
        EXPECT_EQ(text, viaServer);
        EXPECT_FALSE(text.isEmpty());
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), std::size(codes)) << "every code has its own text";
    QString text;
    EXPECT_EQ(common->GetErrorString(MakeHResult(0xC0049999), text), E_INVALIDARG);
    EXPECT_EQ(m_Server->GetErrorString(OPC_E_RANGE, 0x0411, text), E_INVALIDARG);

    std::vector<LCID> available;
    ASSERT_EQ(common->QueryAvailableLocaleIDs(available), S_OK);
    for (const LCID lcid : available)
        EXPECT_EQ(common->SetLocaleID(lcid), S_OK);
    EXPECT_EQ(common->SetLocaleID(0x0411), E_INVALIDARG);
    LCID lcid = 0;
    ASSERT_EQ(common->GetLocaleID(lcid), S_OK);
    EXPECT_EQ(lcid, available.back());
    EXPECT_EQ(common->SetClientName(QStringLiteral("Tidewell")), S_OK);
}

TEST_F(SimServerTest, ShutdownIsAnnouncedFromTheLoopAndThenEveryCallFails)
{
    TTestGroup group = AddGroup(m_Server, true);
    const auto items = group.AddItems({"Area1.Line1.Temp"});
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(
        m_Server.As<IConnectionPointContainer>()->FindConnectionPoint(IOPCShutdown::Iid, point),
        S_OK);
    auto sink = MakeCom<TTestShutdownSink>();
    auto second = MakeCom<TTestShutdownSink>();
    DWORD cookie = 0, secondCookie = 0;
    ASSERT_EQ(point->Advise(sink.Get(), cookie), S_OK);
    ASSERT_EQ(point->Advise(second.Get(), secondCookie), S_OK);
    // The first sink cleans up while it is told, as clients do: those calls still work.
    sink->DuringShutdown = [&] {
        EXPECT_EQ(point->Unadvise(cookie), S_OK);
        EXPECT_EQ(m_Server->RemoveGroup(group.Handle, 1), S_OK);
    };

    m_Control->RequestShutdown(QStringLiteral("Wartung"));
    EXPECT_TRUE(sink->Reasons.empty());
    OPCSERVERSTATUS status;
    EXPECT_EQ(m_Server->GetStatus(status), S_OK);
    m_Control->RunDue();
    EXPECT_EQ(sink->Reasons, std::vector<QString>{QStringLiteral("Wartung")});
    EXPECT_EQ(second->Reasons, std::vector<QString>{QStringLiteral("Wartung")});

    EXPECT_EQ(m_Server->GetStatus(status), RPC_E_DISCONNECTED);
    TTestGroup late;
    EXPECT_EQ(m_Server->AddGroup(QString(), 1, 1000, 0, nullptr, nullptr, 0, late.Handle,
                                 late.RevisedRate, IOPCItemMgt::Iid, late.Unknown),
              RPC_E_DISCONNECTED);
    EXPECT_EQ(m_Server.As<IOPCCommon>()->SetLocaleID(0x409), RPC_E_DISCONNECTED);
    EXPECT_EQ(
        m_Server.As<IOPCBrowseServerAddressSpace>()->ChangeBrowsePosition(OPC_BROWSE_TO, QString()),
        RPC_E_DISCONNECTED);
    EXPECT_EQ(group.ReadOne(items[0], OPC_DS_CACHE, &late.Result).wQuality, 0);
    EXPECT_EQ(late.Result, RPC_E_DISCONNECTED);
    m_Control->RunDue();
    EXPECT_EQ(sink->Reasons.size(), 1u) << "told once";

    // The class itself goes on serving new connections.
    const ComPtr<IOPCServer> fresh = Connect();
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->GetStatus(status), S_OK);
}

TEST_F(SimServerTest, ShutdownSinkMayReleaseTheServer)
{
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(
        m_Server.As<IConnectionPointContainer>()->FindConnectionPoint(IOPCShutdown::Iid, point),
        S_OK);
    auto sink = MakeCom<TTestShutdownSink>();
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink.Get(), cookie), S_OK);
    AddGroup(m_Server, true).AddItems({"Area1.Line1.Temp"});
    sink->DuringShutdown = [&] { m_Server.Reset(); };
    m_Control->RequestShutdown(QString());
    m_Control->RunDue();
    EXPECT_EQ(sink->Reasons.size(), 1u);
    EXPECT_EQ(m_Control->ServerCount(), 0);
    EXPECT_EQ(m_Control->GroupCount(), 0);
    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(point->GetConnectionPointContainer(container), E_UNEXPECTED);
}

TEST_F(SimServerTest, KnobsMakeCreationAndAddGroupFail)
{
    m_Control->Knobs().AddGroupError = E_OUTOFMEMORY;
    TTestGroup group = AddGroup(m_Server, true);
    EXPECT_EQ(group.Result, E_OUTOFMEMORY);
    EXPECT_FALSE(group.Unknown);
    EXPECT_EQ(group.Handle, 0u);
    m_Control->Knobs().AddGroupError = S_OK;
    EXPECT_EQ(AddGroup(m_Server, true).Result, S_OK);

    m_Control->Knobs().CreateError = CO_E_SERVER_EXEC_FAILURE;
    ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(CLSID_TidewellOPCSimulation, CLSCTX_SERVER, IOPCServer::Iid, object),
              CO_E_SERVER_EXEC_FAILURE);
    EXPECT_FALSE(object);
}

TEST_F(SimServerTest, ServerOnAnUnreachableHostCannotBeCreated)
{
    TComHost &host = RegisterHost(QStringLiteral("SIMHOST"));
    TSimulationOptions options;
    options.ManualClock = true;
    options.PlantText = QString::fromUtf8(TestPlant);
    const auto remote = RegisterSimulationServer(host, options);
    ComPtr<IUnknown> object;
    ASSERT_EQ(CoCreateInstanceEx(CLSID_TidewellOPCSimulation, CLSCTX_REMOTE_SERVER,
                                 QStringLiteral("SIMHOST"), IOPCServer::Iid, object),
              S_OK);
    object.Reset();
    host.SetReachable(false);
    EXPECT_EQ(CoCreateInstanceEx(CLSID_TidewellOPCSimulation, CLSCTX_REMOTE_SERVER,
                                 QStringLiteral("SIMHOST"), IOPCServer::Iid, object),
              RPC_S_SERVER_UNAVAILABLE_HR);
    remote->Unregister();
    UnregisterHost(QStringLiteral("SIMHOST"));
}

TEST_F(SimServerTest, PublicGroupsAndPersistenceAnswerLikeAServerWithoutThem)
{
    const auto publicGroups = m_Server.As<IOPCServerPublicGroups>();
    ComPtr<IUnknown> group;
    EXPECT_EQ(publicGroups->GetPublicGroupByName(QStringLiteral("Any"), IOPCItemMgt::Iid, group),
              OPC_E_NOTFOUND);
    EXPECT_EQ(publicGroups->RemovePublicGroup(1, 0), OPC_E_INVALIDHANDLE);

    const auto persist = m_Server.As<IPersistFile>();
    CLSID clsid;
    ASSERT_EQ(persist->GetClassID(clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_TidewellOPCSimulation);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    QString file;
    EXPECT_EQ(persist->GetCurFile(file), S_FALSE) << "the plant came from a text";
    EXPECT_EQ(persist->Load(QStringLiteral("x"), 0), E_NOTIMPL);
}

} // namespace
