#include "eventlog/xEventLog.h"
#include "opc/xOPCDAClient.h"
#include "opcsim/OPCSimulation.h"
#include "platform/net/Network.h"
#include "platform/opcda/OpcServerList.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

const QString ProgID = QString::fromLatin1(TidewellOPCSimulationProgID);
const QString Temp = QStringLiteral("Area1.Line1.Temp");
const QString Setpoint = QStringLiteral("Area1.Line1.Setpoint");
const QString Count = QStringLiteral("Area1.Line1.Count");

const char *const Plant = R"(
[Area1.Line1]
Temp      sine     low=0 high=100 period=10
Setpoint  const    value=50 low=0 high=100 writable
Count     counter  period=1
)";

TSimulationOptions SimOptions()
{
    TSimulationOptions options;
    options.PlantText = QString::fromLatin1(Plant);
    options.ManualClock = true;
    return options;
}

std::vector<QString> Messages(const TEventLogEntryList &entries)
{
    std::vector<QString> messages;
    for (const auto &entry : entries)
        messages.push_back(entry->Message);
    return messages;
}

int CountOf(const std::vector<QString> &messages, const QString &text)
{
    return static_cast<int>(std::count(messages.begin(), messages.end(), text));
}

template <class E, class F> QString MessageOf(F &&call)
{
    try {
        call();
    } catch (const E &e) {
        return e.Message();
    }
    return QStringLiteral("<no exception>");
}

class ClientTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureLocalOpcServerList();
        Sim = RegisterSimulationServer(LocalHost(), SimOptions());
        EventLogger().SetLoggingLevel(5);
        EventLogger().SetLimitMessageRate(false);
        EventLogger().TakeEntries();
        Client = std::make_unique<TOPCDAClient>();
        Client->ConnectWaitMs = 0;
    }
    void TearDown() override
    {
        Client.reset();
        Sim->Unregister();
        ClearNetwork();
        EventLogger().TakeEntries();
        EventLogger().SetLoggingLevel(3);
        EventLogger().SetLimitMessageRate(true);
    }

    void Connect() { Client->SetServer(QString(), QStringLiteral("Sim"), CLSID(), ProgID); }

    TOPCDAClientGroup *AddGroup(bool active, DWORD rate = 100)
    {
        DWORD revised = 0;
        return Client->AddGroup(QStringLiteral("G1"), rate, revised, active, 0.0f);
    }

    std::vector<QString> TakeMessages() { return Messages(EventLogger().TakeEntries()); }

    std::shared_ptr<TSimulationControl> Sim;
    std::unique_ptr<TOPCDAClient> Client;
};

TEST(ClientNames, NormalizeAndDisplay)
{
    const struct
    {
        const char *In;
        const char *Normal;
    } cases[] = {
        {"", ""},          {"  ", ""},          {"localhost", ""},  {" LOCAL ", ""},
        {"127.0.0.1", ""}, {"//127.0.0.1", ""}, {" PLC1 ", "PLC1"}, {"10.0.0.1", "10.0.0.1"}};
    for (const auto &c : cases)
        EXPECT_EQ(NormalizeComputerName(QString::fromLatin1(c.In)), QString::fromLatin1(c.Normal))
            << c.In;
    EXPECT_EQ(ComputerDisplayName(QString()), QStringLiteral("Localhost"));
    EXPECT_EQ(ComputerDisplayName(QStringLiteral("PLC1")), QStringLiteral("PLC1"));
    EXPECT_EQ(ServerDisplayName(QStringLiteral("PLC1"), QStringLiteral("S")),
              QStringLiteral("PLC1\\S"));
    EXPECT_EQ(ServerDisplayName(QString(), QStringLiteral("S")), QStringLiteral("S"));
}

TEST_F(ClientTest, LocalNamesConnectWithoutNetworkAndTakeIdentityFromEnumerator)
{
    // The network lists nothing, so any network check would fail.
    for (const char *name : {"localhost", " LOCAL ", "127.0.0.1", "//127.0.0.1"}) {
        TOPCDAClient client;
        client.ConnectWaitMs = 0;
        client.SetServer(QString::fromLatin1(name), QStringLiteral("Document name"), CLSID(),
                         QStringLiteral("tidewell.opcsimulation.1"));
        EXPECT_TRUE(client.Connected()) << name;
        EXPECT_EQ(client.ServerInfo.ComputerName, QString()) << name;
        EXPECT_EQ(client.ServerInfo.GUID, CLSID_TidewellOPCSimulation);
        EXPECT_EQ(client.ServerInfo.ID, ProgID);
        EXPECT_EQ(client.ServerInfo.Name, QString::fromLatin1(TidewellOPCSimulationName));
        EXPECT_EQ(client.ServerState, DWORD(OPC_STATUS_RUNNING));
    }
    EXPECT_EQ(Sim->ServerCount(), 0);
    const auto messages = TakeMessages();
    EXPECT_GE(CountOf(messages, QStringLiteral(
                                    "COM-Objekt IOPCServer \"%1\" wurde auf \"Localhost\" erzeugt.")
                                    .arg(ProgID)),
              4);
    EXPECT_GE(CountOf(messages, QStringLiteral("Ausgehender OPC-Aufruf: IOPCServer.GetStatus")), 4);
}

TEST_F(ClientTest, RemoteComputerIsFoundInTheNetworkAndAskedForTheClass)
{
    TComHost &host = AddNetworkComputer(QStringLiteral("ANLAGE"), QStringLiteral("PLC1"));
    TSimulationOptions options = SimOptions();
    options.Clsid = QUuid::fromString(QStringLiteral("{5A0C1E6B-8D1B-4C25-9F8F-1D2C3B4A5F60}"));
    options.ProgID = QStringLiteral("Tidewell.RemoteOnly.1");
    options.Name = QStringLiteral("Remote plant");
    const auto remote = RegisterSimulationServer(host, options);

    Client->SetServer(QStringLiteral(" PLC1 "), QStringLiteral("x"), CLSID(),
                      QStringLiteral("Tidewell.RemoteOnly.1"));
    EXPECT_TRUE(Client->Connected());
    EXPECT_EQ(Client->ServerInfo.ComputerName, QStringLiteral("PLC1"));
    EXPECT_EQ(Client->ServerInfo.GUID, options.Clsid);
    EXPECT_EQ(Client->ServerInfo.Name, QStringLiteral("Remote plant"));
    EXPECT_EQ(remote->ServerCount(), 1);
    EXPECT_EQ(Sim->ServerCount(), 0);
    Client->Disconnect();
    EXPECT_EQ(remote->ServerCount(), 0);
    remote->Unregister();
}

TEST_F(ClientTest, ProgIDKnownLocallyGivesTheLocalClassEvenForARemoteComputer)
{
    // The remote computer offers the same ProgID under another class id; the local registry is
    // asked first, so creation on the remote computer asks for the local class and fails there.
    TComHost &host = AddNetworkComputer(QStringLiteral("ANLAGE"), QStringLiteral("PLC1"));
    TSimulationOptions options = SimOptions();
    options.Clsid = QUuid::fromString(QStringLiteral("{0D7C2B7E-51C4-4C43-8E4B-6A2F0E3C9B11}"));
    const auto remote = RegisterSimulationServer(host, options);

    HRESULT code = S_OK;
    try {
        Client->SetServer(QStringLiteral("PLC1"), QStringLiteral("x"), CLSID(), ProgID);
    } catch (const EOPCException &e) {
        code = e.ErrorCode();
    }
    EXPECT_EQ(code, REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(Client->Connected());
    EXPECT_EQ(Client->ServerInfo.GUID, CLSID_TidewellOPCSimulation);
    EXPECT_EQ(remote->ServerCount(), 0);
    remote->Unregister();
}

TEST_F(ClientTest, SetNamespaceTakesACopyThatSharesTheServerInterfaces)
{
    Connect();
    ASSERT_TRUE(Client->Connected());
    TOPCDAClientNamespace &browsed = Client->Namespace();
    browsed.Browse(true);
    ASSERT_GT(browsed.ChildCount(), 0);

    TOPCDAClient other;
    other.SetNamespace(&browsed);
    TOPCDAClientNamespace &copy = other.Namespace();
    EXPECT_NE(&copy, &browsed);
    EXPECT_EQ(copy.BrowseServerAddressSpace, browsed.BrowseServerAddressSpace);
    TOPCDAClientNode *leaf = copy.FindNodeByItemID(Temp, true);
    ASSERT_NE(leaf, nullptr);
    EXPECT_EQ(GetNodePath(leaf), GetNodePath(browsed.FindNodeByItemID(Temp, true)));
    // The copy is independent: clearing the original leaves it intact.
    browsed.Clear();
    EXPECT_EQ(copy.FindNodeByItemID(Temp, true), leaf);
}

TEST_F(ClientTest, ComputerMissingFromTheNetworkFailsBeforeTheServerIsCreated)
{
    // Reachable, with an enumerator, but not listed by the network.
    TComHost &host = RegisterHost(QStringLiteral("HIDDEN"));
    RegisterOpcServerList(host);
    const auto hidden = RegisterSimulationServer(host, SimOptions());

    const QString message = MessageOf<Exception>(
        [&] { Client->SetServer(QStringLiteral("HIDDEN"), QStringLiteral("x"), CLSID(), ProgID); });
    EXPECT_EQ(
        message,
        QStringLiteral("Das System mit dem Namen HIDDEN konnte nicht im Netzwerk gefunden werden"));
    EXPECT_FALSE(Client->Connected());
    EXPECT_EQ(hidden->ServerCount(), 0);
    hidden->Unregister();
    UnregisterHost(QStringLiteral("HIDDEN"));
}

TEST_F(ClientTest, SetServerWithoutNameOrProgIDStaysDisconnected)
{
    const struct
    {
        QString Name;
        QString ProgID;
    } cases[] = {{QString(), ProgID}, {QStringLiteral("Sim"), QString()}};
    for (const auto &c : cases) {
        Client->SetServer(QStringLiteral("PLC9"), c.Name, CLSID_TidewellOPCSimulation, c.ProgID);
        EXPECT_FALSE(Client->Connected());
        EXPECT_EQ(Client->ServerInfo.ComputerName, QStringLiteral("PLC9"));
        EXPECT_EQ(Client->ServerInfo.Name, c.Name);
        EXPECT_EQ(Client->ServerInfo.ID, c.ProgID);
        EXPECT_EQ(Client->ServerInfo.GUID, CLSID_TidewellOPCSimulation);
    }
    EXPECT_EQ(Sim->ServerCount(), 0);
}

TEST_F(ClientTest, ShutdownDisconnectsFreesGroupsAndDelaysTheReconnect)
{
    Connect();
    TOPCDAClientGroup *group = AddGroup(true);
    group->AddItem(Temp, Temp, true);
    QString reason = QStringLiteral("<none>");
    Client->OnShutdown = [&](const QString &r) { reason = r; };
    TakeMessages();

    Sim->RequestShutdown(QStringLiteral("Wartung der Anlage"));
    QCoreApplication::processEvents();
    Sim->RunDue();

    EXPECT_FALSE(Client->Connected());
    EXPECT_EQ(Client->GroupCount(), 0);
    EXPECT_EQ(Sim->GroupCount(), 0);
    EXPECT_EQ(reason, QStringLiteral("Wartung der Anlage"));
    EXPECT_EQ(
        CountOf(TakeMessages(), QStringLiteral("Eingehender OPC-Aufruf: IOPCShutDown."
                                               "ShutdownRequest (Reason: Wartung der Anlage)")),
        1);
    EXPECT_GT(Client->ShutdownTime, 0.0);

    Client->ShutdownTime = Now() - 3.0 / 86400.0;
    Client->ConnectToServer();
    EXPECT_FALSE(Client->Connected());
    EXPECT_EQ(Sim->ServerCount(), 0);
    Client->ShutdownTime = Now() - 6.0 / 86400.0;
    Client->ConnectToServer();
    EXPECT_TRUE(Client->Connected());
}

TEST_F(ClientTest, ShutdownWithoutReasonPassesAnEmptyText)
{
    Connect();
    QString reason = QStringLiteral("<none>");
    Client->OnShutdown = [&](const QString &r) { reason = r; };
    static_cast<IOPCShutdown *>(Client.get())->ShutdownRequest(QString());
    EXPECT_TRUE(reason.isEmpty());
    EXPECT_FALSE(reason.isNull());
    EXPECT_EQ(CountOf(TakeMessages(),
                      QStringLiteral(
                          "Eingehender OPC-Aufruf: IOPCShutDown.ShutdownRequest (Reason unknown)")),
              1);
}

TEST_F(ClientTest, CallbacksForUnknownGroupsAndItems)
{
    Connect();
    TOPCDAClientGroup *group = AddGroup(false);
    TOPCDAClientItem *item = group->AddItem(Temp, Temp, true);
    int dataChanges = 0;
    int readCompletes = 0;
    Client->OnDataChange = [&](auto...) { ++dataChanges; };
    Client->OnReadComplete = [&](auto...) { ++readCompletes; };
    IOPCDataCallback *callback = Client.get();

    const OPCHANDLE handles[] = {item->ClientHandle() + 1000, item->ClientHandle()};
    const TVariant values[] = {TVariant::FromR8(1), TVariant::FromR8(2)};
    const WORD qualities[] = {OPC_QUALITY_GOOD, OPC_QUALITY_GOOD};
    const FILETIME stamps[] = {CurrentFileTime(), CurrentFileTime()};
    const HRESULT errors[] = {S_OK, S_OK};
    const OPCHANDLE unknownGroup = group->ClientHandle() + 1000;
    TakeMessages();

    EXPECT_EQ(callback->OnDataChange(7, unknownGroup, S_OK, S_OK, 2, handles, values, qualities,
                                     stamps, errors),
              S_OK);
    EXPECT_EQ(dataChanges, 1);
    EXPECT_EQ(callback->OnReadComplete(8, unknownGroup, S_OK, S_OK, 2, handles, values, qualities,
                                       stamps, errors),
              S_OK);
    EXPECT_EQ(readCompletes, 0);
    // A known group with one unknown item handle: the unknown entry is skipped.
    callback->OnDataChange(9, group->ClientHandle(), S_OK, S_OK, 2, handles, values, qualities,
                           stamps, errors);
    EXPECT_EQ(item->Value, TVariant::FromR8(2));
    EXPECT_EQ(item->Quality, OPC_QUALITY_GOOD);
    // Arrays shorter than the count.
    callback->OnDataChange(10, group->ClientHandle(), S_OK, S_OK, 3, handles, values, qualities,
                           stamps, errors);
    EXPECT_EQ(dataChanges, 2);

    const auto entries = EventLogger().TakeEntries();
    const auto messages = Messages(entries);
    EXPECT_EQ(
        CountOf(messages,
                QStringLiteral("Eingehender OPC-Aufruf: IOPCDataCallback.OnDataChange TransID=7")),
        1);
    EXPECT_EQ(
        CountOf(messages, QStringLiteral(
                              "Eingehender OPC-Aufruf: IOPCDataCallback.OnReadComplete TransID=8")),
        1);
    bool invalidHandleLogged = false;
    bool nilLogged = false;
    for (const auto &entry : entries) {
        if (entry->Message == QStringLiteral("Ungültiges Gruppenhandle"))
            invalidHandleLogged = entry->EventType == etError && entry->Sender == Client.get();
        if (entry->Message == QStringLiteral("Callback-Parameter darf nicht NIL sein."))
            nilLogged = entry->EventType == etError;
    }
    EXPECT_TRUE(invalidHandleLogged);
    EXPECT_TRUE(nilLogged);
}

TEST_F(ClientTest, ItemPropertiesWithAndWithoutTheInterface)
{
    Connect();
    TDynItemPropertyArray properties;
    Client->GetItemProperties(Setpoint, {OPC_PROPERTY_VALUE, 4711}, properties);
    ASSERT_EQ(properties.size(), 2u);
    EXPECT_EQ(properties[0].Error, S_OK);
    EXPECT_EQ(properties[0].Value.ToDouble(), 50.0);
    EXPECT_TRUE(FAILED(properties[1].Error));

    // A server without the interface cannot be connected; the client then answers alone.
    Sim->Knobs().WithItemProperties = false;
    TOPCDAClient other;
    other.ConnectWaitMs = 0;
    const HRESULT code = [&] {
        try {
            other.SetServer(QString(), QStringLiteral("Sim"), CLSID(), ProgID);
        } catch (const EOPCException &e) {
            return e.ErrorCode();
        }
        return S_OK;
    }();
    EXPECT_EQ(code, E_NOINTERFACE);
    EXPECT_FALSE(other.Connected());
    EXPECT_EQ(Sim->ServerCount(), 1);
    TakeMessages();
    other.GetItemProperties(Setpoint, {1, 2, 3}, properties);
    ASSERT_EQ(properties.size(), 3u);
    for (const TItemProperty &p : properties) {
        EXPECT_EQ(p.Error, E_FAIL);
        EXPECT_EQ(p.Value, TVariant::FromI4(0));
    }
    EXPECT_EQ(properties[2].PropertyID, 3u);
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(ClientTest, AddItemsIsOneCallPerOutermostBracket)
{
    Connect();
    TOPCDAClientGroup *group = AddGroup(false);
    const QString addItems = QStringLiteral("Ausgehender OPC-Aufruf: IOPCItemMgt.AddItems");
    TakeMessages();
    group->BeginAddItems();
    group->BeginAddItems();
    TOPCDAClientItem *a = group->AddItem(Temp, Temp, true);
    group->AddItem(Count, Count, true);
    group->EndAddItems();
    EXPECT_EQ(a->ServerHandle, 0u);
    EXPECT_TRUE(a->PendingAdd);
    group->EndAddItems();
    EXPECT_EQ(CountOf(TakeMessages(), addItems), 1);
    EXPECT_FALSE(a->PendingAdd);
    EXPECT_NE(a->ServerHandle, 0u);
    EXPECT_EQ(a->LastError, S_OK);
    EXPECT_EQ(a->CanonicalDataType, VT_R8);

    group->AddItem(Setpoint, Setpoint, true);
    group->AddItem(Setpoint, Setpoint, true);
    EXPECT_EQ(CountOf(TakeMessages(), addItems), 2);
    EXPECT_EQ(group->ItemCount(), 4);
}

TEST_F(ClientTest, NewItemStartsBadWithIntegerZero)
{
    Connect();
    TOPCDAClientGroup *group = AddGroup(false);
    const FILETIME before = CurrentFileTime();
    group->BeginAddItems();
    TOPCDAClientItem *item = group->AddItem(QStringLiteral("alias"), Temp, true);
    EXPECT_EQ(item->Quality, 8);
    EXPECT_EQ(item->LastError, S_FALSE);
    EXPECT_EQ(item->Value, TVariant::FromI4(0));
    EXPECT_GE(FileTimeToUInt64(item->TimeStamp), FileTimeToUInt64(before));
    EXPECT_EQ(item->Name, QStringLiteral("alias"));
    EXPECT_EQ(group->Item(0), item);
    EXPECT_EQ(group->Item(1), nullptr);
    group->EndAddItems();
}

TEST_F(ClientTest, AddItemsFailuresAreCollectedAndTheGroupReactivated)
{
    Sim->Knobs().RejectedItemIDs = {{QStringLiteral("B"), OPC_E_UNKNOWNITEMID},
                                    {QStringLiteral("C"), OPC_E_INVALIDITEMID}};
    Connect();
    TOPCDAClientGroup *group = AddGroup(true);
    group->BeginAddItems();
    TOPCDAClientItem *a = group->AddItem(QStringLiteral("a"), Temp, true);
    TOPCDAClientItem *b = group->AddItem(QStringLiteral("b"), QStringLiteral("B"), true);
    TOPCDAClientItem *c = group->AddItem(QStringLiteral("c"), QStringLiteral("C"), true);
    QString message;
    std::vector<TOPCDAClientItem *> failed;
    try {
        group->EndAddItems();
    } catch (const EOPCOpCompletedWithOneOrMoreErrors &e) {
        message = e.Message();
        for (qsizetype i = 0; i < e.Count(); ++i)
            failed.push_back(e.Items(i));
    }
    EXPECT_EQ(message, QStringLiteral("Fehler in AddItems: Die Elemente 'B', 'C' konnten nicht zur "
                                      "Gruppe G1 hinzugefügt werden"));
    EXPECT_EQ(failed, (std::vector<TOPCDAClientItem *>{b, c}));
    EXPECT_EQ(group->ItemCount(), 3);
    EXPECT_NE(a->ServerHandle, 0u);
    EXPECT_EQ(b->LastError, OPC_E_UNKNOWNITEMID);
    EXPECT_EQ(c->LastError, OPC_E_INVALIDITEMID);
    EXPECT_FALSE(b->PendingAdd);
    EXPECT_TRUE(group->Active);
    group->GetState();
    EXPECT_TRUE(group->Active);

    // A refused item has no server handle, so reading it fails per item.
    EXPECT_EQ(MessageOf<EOPCOpCompletedWithOneOrMoreErrors>([&] { b->Read(OPC_DS_DEVICE); }),
              QStringLiteral("Fehler in ReadSync: Der neue Wert für das Element 'B' konnte nicht "
                             "gelesen werden"));
    EXPECT_TRUE(FAILED(b->LastError));
    EXPECT_FALSE(b->PendingRead);

    TDynValidateItemsResultArray validated;
    TDynValidateItemsDefArray definitions(2);
    definitions[0].ItemID = Temp;
    definitions[1].ItemID = QStringLiteral("C");
    group->ValidateItems(definitions, false, validated);
    ASSERT_EQ(validated.size(), 2u);
    EXPECT_EQ(validated[0].Error, S_OK);
    EXPECT_EQ(validated[0].CanonicalDataType, VT_R8);
    EXPECT_EQ(validated[1].Error, OPC_E_INVALIDITEMID);

    EXPECT_EQ(MessageOf<EOPCOpCompletedWithOneOrMoreErrors>(
                  [&] { group->AddItem(QStringLiteral("b2"), QStringLiteral("B"), true); }),
              QStringLiteral("Fehler in AddItems: Das Element 'B' konnte nicht zur Gruppe G1 "
                             "hinzugefügt werden"));
}

TEST_F(ClientTest, WriteStoresTheValueOrReportsTheRejection)
{
    Connect();
    TOPCDAClientGroup *group = AddGroup(false);
    group->BeginAddItems();
    TOPCDAClientItem *setpoint = group->AddItem(Setpoint, Setpoint, true);
    TOPCDAClientItem *temp = group->AddItem(Temp, Temp, true);
    group->EndAddItems();

    setpoint->Write(TVariant::FromR8(42));
    EXPECT_EQ(setpoint->Value, TVariant::FromR8(42));
    EXPECT_EQ(setpoint->LastError, S_OK);
    EXPECT_FALSE(setpoint->PendingWrite);
    setpoint->Read(OPC_DS_DEVICE);
    EXPECT_EQ(setpoint->Value.ToDouble(), 42.0);

    const TVariant before = temp->Value;
    TakeMessages();
    EXPECT_EQ(
        MessageOf<EOPCOpCompletedWithOneOrMoreErrors>([&] { temp->Write(TVariant::FromR8(1)); }),
        QStringLiteral("Fehler in WriteSync: Der neue Wert für das Element "
                       "'Area1.Line1.Temp' konnte nicht geschrieben werden"));
    EXPECT_EQ(temp->Value, before);
    EXPECT_FALSE(temp->PendingWrite);
    EXPECT_TRUE(temp->PendingWriteValue.IsEmpty());
    EXPECT_TRUE(FAILED(temp->LastError));
    const QString expected =
        QStringLiteral("WriteSync-Result für Item: Area1.Line1.Temp($%1) %2")
            .arg(QStringLiteral("%1")
                     .arg(static_cast<quint32>(temp->LastError), 8, 16, QLatin1Char('0'))
                     .toUpper(),
                 OPCErrorText(temp->LastError));
    bool logged = false;
    for (const auto &entry : EventLogger().TakeEntries())
        if (entry->Message == expected)
            logged = entry->EventType == etError && entry->Sender == nullptr;
    EXPECT_TRUE(logged) << qPrintable(expected);

    // Two failures in one bracket give the plural text.
    group->BeginWrite();
    temp->Write(TVariant::FromR8(1));
    TOPCDAClientItem *other = group->AddItem(Count, Count, true);
    other->Write(TVariant::FromI4(1));
    EXPECT_EQ(MessageOf<EOPCOpCompletedWithOneOrMoreErrors>([&] { group->EndWrite(); }),
              QStringLiteral("Fehler in WriteSync: Die neuen Werte für die Elemente "
                             "'Area1.Line1.Temp', 'Area1.Line1.Count' konnten nicht geschrieben "
                             "werden"));

    TDynHResultArray results;
    const OPCHANDLE handles[] = {1, 2};
    const TVariant values[] = {TVariant()};
    EXPECT_EQ(MessageOf<Exception>([&] { group->SyncWrite(handles, values, results); }),
              QStringLiteral("Die übergebenen Arrays müssen die gleiche Größe haben"));
}

TEST_F(ClientTest, ReadBracketKeepsOneDataSource)
{
    Connect();
    TOPCDAClientGroup *group = AddGroup(false);
    TOPCDAClientItem *item = group->AddItem(Temp, Temp, true);
    group->BeginRead(OPC_DS_CACHE);
    EXPECT_EQ(MessageOf<Exception>([&] { item->Read(OPC_DS_DEVICE); }),
              QStringLiteral("Innerhalb eines ReadSync-Aufrufs kann als Datenquelle nur Cache oder "
                             "Device angegeben werden, nicht jedoch beides"));
    group->BeginRead(0);
    EXPECT_EQ(group->ReadSource(), DWORD(OPC_DS_CACHE));
    group->EndRead();
    group->EndRead();
    // The refused bracket left the counter alone: this closes the outermost one.
    group->BeginRead(0);
    group->BeginRead(OPC_DS_DEVICE);
    EXPECT_EQ(group->ReadSource(), DWORD(OPC_DS_DEVICE));
    group->EndRead();
    group->EndRead();
}

TEST_F(ClientTest, ReadsUpdateSilentlyWhileDataChangesNotify)
{
    Connect();
    TOPCDAClientGroup *group = AddGroup(false, 100);
    group->BeginAddItems();
    TOPCDAClientItem *temp = group->AddItem(Temp, Temp, true);
    TOPCDAClientItem *count = group->AddItem(Count, Count, true);
    group->EndAddItems();
    std::vector<QString> events;
    temp->OnChange = [&](TOPCDAClientItem *i) { events.push_back(i->ItemID); };
    count->OnChange = [&](TOPCDAClientItem *i) { events.push_back(i->ItemID); };
    group->OnDataChange = [&](TOPCDAClientGroup *) { events.push_back(QStringLiteral("group")); };
    int reads = 0;
    group->OnBeforeRead = [&](TOPCDAClientGroup *) { ++reads; };
    group->OnAfterRead = [&](TOPCDAClientGroup *) { ++reads; };

    Sim->AdvanceTime(2000);
    group->ReadAll(OPC_DS_DEVICE);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(count->Quality, OPC_QUALITY_GOOD);
    EXPECT_EQ(count->LastError, S_OK);
    EXPECT_GT(count->Value.ToDouble(), 0.0);
    EXPECT_FALSE(count->PendingRead);

    group->SetActive(true);
    Sim->AdvanceTime(100);
    QCoreApplication::processEvents();
    // The first report after activation names both items, then the group once.
    ASSERT_GE(events.size(), 3u);
    EXPECT_NE(events[0], events[1]);
    EXPECT_NE(events[0], QStringLiteral("group"));
    EXPECT_NE(events[1], QStringLiteral("group"));
    EXPECT_EQ(events[2], QStringLiteral("group"));
    EXPECT_EQ(events.back(), QStringLiteral("group"));
}

TEST_F(ClientTest, HandlersMayRemoveItemsAndGroupsDuringADataChange)
{
    Connect();
    TOPCDAClientGroup *group = AddGroup(false);
    group->BeginAddItems();
    TOPCDAClientItem *first = group->AddItem(Temp, Temp, true);
    TOPCDAClientItem *second = group->AddItem(Count, Count, true);
    group->EndAddItems();
    const OPCHANDLE handles[] = {first->ClientHandle(), second->ClientHandle()};
    const TVariant values[] = {TVariant::FromR8(1), TVariant::FromR8(2)};
    const WORD qualities[] = {OPC_QUALITY_GOOD, OPC_QUALITY_GOOD};
    const FILETIME stamps[] = {CurrentFileTime(), CurrentFileTime()};
    const HRESULT errors[] = {S_OK, S_OK};
    int clientNotified = 0;
    Client->OnDataChange = [&](auto...) { ++clientNotified; };

    // The first handler removes the second item.
    first->OnChange = [&](TOPCDAClientItem *) {
        TDynOPCClientItemArray items{second};
        TDynHResultArray results;
        group->RemoveItems(items, results);
    };
    IOPCDataCallback *callback = Client.get();
    callback->OnDataChange(1, group->ClientHandle(), S_OK, S_OK, 2, handles, values, qualities,
                           stamps, errors);
    EXPECT_EQ(group->ItemCount(), 1);

    // Now it removes the whole group.
    first->OnChange = [&](TOPCDAClientItem *) { Client->RemoveGroup(group, true); };
    callback->OnDataChange(2, group->ClientHandle(), S_OK, S_OK, 2, handles, values, qualities,
                           stamps, errors);
    EXPECT_EQ(Client->GroupCount(), 0);
    EXPECT_EQ(clientNotified, 2);
    EXPECT_EQ(Sim->GroupCount(), 0);
}

TEST_F(ClientTest, RemoveItemsSkipsEmptyEntries)
{
    Connect();
    TOPCDAClientGroup *group = AddGroup(false);
    group->BeginAddItems();
    TOPCDAClientItem *a = group->AddItem(Temp, Temp, true);
    TOPCDAClientItem *keep = group->AddItem(Setpoint, Setpoint, true);
    TOPCDAClientItem *b = group->AddItem(Count, Count, true);
    group->EndAddItems();
    TDynOPCClientItemArray items{a, nullptr, b};
    TDynHResultArray results;
    group->RemoveItems(items, results);
    EXPECT_EQ(results, (TDynHResultArray{S_OK, S_OK, S_OK}));
    EXPECT_EQ(items, (TDynOPCClientItemArray{nullptr, nullptr, nullptr}));
    ASSERT_EQ(group->ItemCount(), 1);
    EXPECT_EQ(group->Item(0), keep);

    Client->RemoveGroup(group, true);
    EXPECT_EQ(Sim->GroupCount(), 0);
    const HRESULT code = [&] {
        try {
            Client->RemoveGroup(group, true);
        } catch (const EOPCException &e) {
            return e.ErrorCode();
        }
        return S_OK;
    }();
    EXPECT_EQ(code, OPC_E_INVALIDHANDLE);
}

TEST_F(ClientTest, AddGroupNeedsAConnection)
{
    DWORD revised = 0;
    EXPECT_EQ(MessageOf<Exception>(
                  [&] { Client->AddGroup(QStringLiteral("G"), 100, revised, true, 0.0f); }),
              QStringLiteral("Interface-Zeiger 'IOPCServer' ist nicht initialisiert"));
    Connect();
    TOPCDAClientGroup *group = AddGroup(true, 10);
    EXPECT_EQ(revised, 0u);
    EXPECT_EQ(group->UpdateRate, 50u); // the simulation's fastest rate
    EXPECT_EQ(group->Name, QStringLiteral("G1"));
    group->SetUpdateRate(1000);
    EXPECT_EQ(group->UpdateRate, 1000u);
    EXPECT_EQ(Sim->GroupCount(), 1);
    Client->Disconnect();
    EXPECT_EQ(Sim->GroupCount(), 0);
    EXPECT_EQ(Sim->ServerCount(), 0);
}

} // namespace
