#include "AcquisitionTestSupport.h"

#include "opc/OPCError.h"
#include "settings/ZonedDateTime.h"

using namespace acqtest;

namespace {

const QString Level = QStringLiteral("Area1.Line1.Level");
const QString Count = QStringLiteral("Area1.Line1.Count");
const QString Flow = QStringLiteral("Area2.Flow");

template <class F> QString MessageOf(F &&call)
{
    try {
        call();
    } catch (const Exception &e) {
        return e.Message();
    }
    return QStringLiteral("<no exception>");
}

TEST(BridgeCreation, MissingArgumentsAreInternalErrors)
{
    TDataCache cache;
    TOPCDAClient client;
    const struct
    {
        std::function<void()> Call;
        const char *Expected;
    } cases[] = {
        {[&] { TOPCClientBridge(TRemoteServerInfo(), nullptr); },
         "Interner Fehler in TOPCClientBridge.Create. Dem Parameter ADataCache wurde kein Wert "
         "zugewiesen."},
        {[&] { TOPCClientBridge(static_cast<TOPCDAClient *>(nullptr), &cache); },
         "Interner Fehler in TOPCClientBridge.Create. Dem Parameter AOPCDAClient wurde kein Wert "
         "zugewiesen."},
        {[&] { TOPCClientBridge(&client, nullptr); },
         "Interner Fehler in TOPCClientBridge.Create. Dem Parameter ADataCache wurde kein Wert "
         "zugewiesen."},
        {[&] { TOPCClientTransmitter::Create(nullptr, QStringLiteral("G")); },
         "Interner Fehler in TOPCClientTransmitter.Create. Dem Parameter AOPCClientBridge wurde "
         "kein Wert zugewiesen."},
        {[&] { TOPCBridgedItem::Create(nullptr, QString(), QString(), QStringLiteral("A")); },
         "Interner Fehler in TOPCBridgedItem.Create. Dem Parameter AOPCClientTransmitter wurde "
         "kein Wert zugewiesen."},
    };
    for (const auto &c : cases)
        EXPECT_EQ(MessageOf(c.Call), QString::fromUtf8(c.Expected));
}

class BridgeTest : public AcquisitionTest
{
protected:
    // Two groups at different rates: T1 by path and by ItemID, T2 by browse name.
    void Configure(TOPCClientBridge &bridge)
    {
        T1 = TOPCClientTransmitter::Create(&bridge, QStringLiteral("CallbackGroup1"));
        T1->UpdateRate = 100;
        TOPCBridgedItem::Create(T1, QStringLiteral("Area1\\Line1\\Temp"), QString(),
                                QStringLiteral("temp"));
        TOPCBridgedItem::Create(T1, QString(), Level, QStringLiteral("level"));
        T2 = TOPCClientTransmitter::Create(&bridge, QStringLiteral("CallbackGroup2"));
        T2->UpdateRate = 500;
        TOPCBridgedItem::Create(T2, QStringLiteral("Flow"), QString(), QStringLiteral("flow"));
        TOPCBridgedItem::Create(T2, QStringLiteral("Area1\\Line1\\Count"), Count,
                                QStringLiteral("count"));
    }

    void Start(TOPCClientBridge &bridge)
    {
        bridge.CreateCacheEntries();
        bridge.ConnectAndResolveItems();
        bridge.CreateGroups();
    }

    // Every item's cache entry holds what its OPC item holds now.
    void ExpectCacheMatchesOPCItems(TOPCClientTransmitter &transmitter)
    {
        for (int i = 0; i < transmitter.ItemCount(); ++i) {
            TOPCBridgedItem *item = transmitter.Items(i);
            TOPCDAClientItem *opc = item->OPCItem();
            ASSERT_NE(opc, nullptr) << item->Alias.toStdString();
            int hint = 0;
            const TDataCacheValue cached = Cache.GetValue(item->Alias, hint);
            EXPECT_EQ(cached.Value, opc->Value) << item->Alias.toStdString();
            EXPECT_EQ(cached.Quality, opc->Quality) << item->Alias.toStdString();
            EXPECT_EQ(cached.TimeStamp, FileTimeToLocalWithTimeZone(opc->TimeStamp))
                << item->Alias.toStdString();
        }
    }

    TOPCClientTransmitter *T1 = nullptr;
    TOPCClientTransmitter *T2 = nullptr;
};

TEST_F(BridgeTest, TwoGroupsFillTheCacheAndPostOneMessagePerCallbackAfterTheirItems)
{
    TOPCClientBridge &bridge = MakeBridge();
    Configure(bridge);
    Start(bridge);
    ASSERT_TRUE(bridge.Connected());
    EXPECT_EQ(TakeEvents(), (std::vector<TEvent>{
                                {etInformation, QStringLiteral("TOPCClientTransmitter"),
                                 QStringLiteral("Für das OPC-Item \"flow\" war keine ID und kein "
                                                "vollständiger Pfad angegeben. Beides wurde "
                                                "automatisch ergänzt. Bitte überprüfen Sie, ob es "
                                                "sich um das richtige Item handelt.")}}));
    EXPECT_EQ(bridge.ErrorFlags(), 0);
    EXPECT_EQ(T1->UpdateRate, 100u);
    EXPECT_EQ(T2->UpdateRate, 500u);

    int callbacks = 0;
    bridge.OPCDAClient().OnDataChange = [&](DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD,
                                            std::span<const OPCHANDLE>, std::span<const TVariant>,
                                            std::span<const WORD>, std::span<const FILETIME>,
                                            std::span<const HRESULT>) { ++callbacks; };
    Receiver.Check = [&] {
        ExpectCacheMatchesOPCItems(*T1);
        ExpectCacheMatchesOPCItems(*T2);
    };
    Run(2000);
    EXPECT_GT(callbacks, 4);
    EXPECT_EQ(Receiver.DataChanges, callbacks);

    const struct
    {
        const char *Alias;
        const char *Unit;
        const char *Description;
        quint16 Quality;
    } rows[] = {
        {"temp", "°C", "Product temperature", OPC_QUALITY_GOOD},
        // Bad quality still delivers its value and counts as "OK".
        {"level", "%", "Tank level", OPC_QUALITY_BAD},
        {"flow", "m3/h", "Flow", OPC_QUALITY_GOOD},
        {"count", "(Nicht angegeben)", "Pieces", OPC_QUALITY_GOOD},
    };
    for (const auto &row : rows) {
        const QString alias = QString::fromUtf8(row.Alias);
        int hint = 0;
        const TDataCacheValue cached = Cache.GetValue(alias, hint);
        EXPECT_FALSE(cached.Value.IsEmpty()) << row.Alias;
        EXPECT_FALSE(cached.TimeStamp.IsZero()) << row.Alias;
        EXPECT_EQ(cached.Quality & OPC_QUALITY_MASK, row.Quality) << row.Alias;
        EXPECT_EQ(State(alias), QStringLiteral("OK")) << row.Alias;
        EXPECT_EQ(Cache.ReadAttribute(alias, 0, QStringLiteral("ValueUnit")),
                  QString::fromUtf8(row.Unit));
        EXPECT_EQ(Cache.ReadAttribute(alias, 0, QStringLiteral("Description")),
                  QString::fromUtf8(row.Description));
    }
    EXPECT_EQ(TakeEvents(), std::vector<TEvent>{});
}

TEST_F(BridgeTest, NoMessageIsPostedWithoutReceiverAndRateZeroLeavesTheGroupInactive)
{
    TOPCClientBridge &bridge = MakeBridge();
    Configure(bridge);
    bridge.SetMessageReceiver(nullptr);
    T2->UpdateRate = 0;
    Start(bridge);
    ASSERT_NE(T2->Group(), nullptr);
    EXPECT_EQ(T2->UpdateRate, 0u);
    EXPECT_EQ(T2->Group()->Active, 0);
    EXPECT_EQ(T1->Group()->Active, 1);
    bridge.CreateGroups(); // a resume keeps it off as well
    EXPECT_EQ(T2->Group()->Active, 0);
    Run(1000);
    EXPECT_EQ(Receiver.DataChanges, 0);
    EXPECT_EQ(State(QStringLiteral("temp")), QStringLiteral("OK"));
}

TEST_F(BridgeTest, PauseResumeAndUpdateRateUseTheExistingGroup)
{
    TOPCClientBridge &bridge = MakeBridge();
    Configure(bridge);
    Start(bridge);
    TOPCDAClientGroup *group = T1->Group();
    ASSERT_NE(group, nullptr);

    bridge.DeactivateGroups();
    EXPECT_EQ(group->Active, 0);
    Run(500);
    EXPECT_EQ(Receiver.DataChanges, 0);

    bridge.CreateGroups();
    EXPECT_EQ(T1->Group(), group);
    EXPECT_EQ(Sim->GroupCount(), 2);
    EXPECT_EQ(group->Active, 1);

    T1->SetUpdateRate(1000);
    EXPECT_EQ(T1->UpdateRate, 1000u);
    EXPECT_EQ(group->UpdateRate, 1000u);
    EXPECT_EQ(TakeEvents(), (std::vector<TEvent>{
                                {etInformation, QStringLiteral("TOPCClientTransmitter"),
                                 QStringLiteral("Für das OPC-Item \"flow\" war keine ID und kein "
                                                "vollständiger Pfad angegeben. Beides wurde "
                                                "automatisch ergänzt. Bitte überprüfen Sie, ob es "
                                                "sich um das richtige Item handelt.")}}));
}

TEST_F(BridgeTest, WithoutSourceServerConnectFailsSilently)
{
    TOPCClientBridge &bridge = MakeBridge(TRemoteServerInfo());
    Configure(bridge);
    bridge.CreateCacheEntries();
    EXPECT_FALSE(bridge.Connect());
    bridge.ConnectAndResolveItems();
    bridge.CreateGroups();
    EXPECT_EQ(TakeEvents(), std::vector<TEvent>{});
    EXPECT_EQ(bridge.ErrorFlags(), 0);
    // Nothing was refreshed either.
    int hint = 0;
    EXPECT_FALSE(
        Cache.FindItem(QStringLiteral("temp"), hint)->HasAttribute(QStringLiteral("OPCState")));
}

TEST_F(BridgeTest, UnreachableServerIsReportedOnceUntilAConnectionSucceeds)
{
    TOPCClientBridge &bridge = MakeBridge();
    Configure(bridge);
    bridge.CreateCacheEntries();
    Sim->Knobs().CreateError = E_FAIL;
    const TEvent failure{etError, QStringLiteral("TOPCClientBridge"),
                         QStringLiteral("Fehler beim Verbinden zu ") + ProgID +
                             QStringLiteral(": ") + EOPCException(E_FAIL).Message()};

    EXPECT_FALSE(bridge.Connect());
    EXPECT_FALSE(bridge.Connect());
    bridge.ConnectAndResolveItems();
    bridge.CreateGroups();
    EXPECT_EQ(TakeEvents(), std::vector<TEvent>{failure});
    EXPECT_EQ(State(QStringLiteral("temp")), QStringLiteral("Server unerreichbar"));
    T2->Items(0)->ErrorFlags = oe_UnknownElement;
    EXPECT_EQ(bridge.ErrorFlags(), oe_ServerUnreachable | oe_UnknownElement);
    T2->Items(0)->ErrorFlags = 0;

    Sim->Knobs().CreateError = S_OK;
    EXPECT_TRUE(bridge.Connect());
    EXPECT_EQ(bridge.OwnErrorFlags(), 0);
    // Connected, but no group yet.
    EXPECT_EQ(State(QStringLiteral("temp")), QStringLiteral("Lesefehler"));

    bridge.Disconnect();
    Sim->Knobs().CreateError = E_FAIL;
    EXPECT_FALSE(bridge.Connect());
    EXPECT_EQ(TakeEvents(), std::vector<TEvent>{failure});
}

TEST_F(BridgeTest, ReconnectDelayAfterShutdownIsNoSuccess)
{
    TOPCClientBridge &bridge = MakeBridge();
    Configure(bridge);
    Start(bridge);
    bridge.OPCDAClient().ReconnectDelay = 3600000;
    ShutDown(QStringLiteral("Wartung"));
    EXPECT_FALSE(bridge.Connect());
    EXPECT_FALSE(bridge.Connected());
    EXPECT_EQ(bridge.OwnErrorFlags(), 0);
}

TEST_F(BridgeTest, ShutdownIsLoggedDropsGroupsAndPostsOnce)
{
    const struct
    {
        QString Reason;
        QString Logged;
    } cases[] = {
        {QStringLiteral("Wartung der Anlage"),
         QStringLiteral("Der Quellserver wurde beendet (Grund: Wartung der Anlage).")},
        {QString(), QStringLiteral("Der Quellserver wurde beendet (Grund: <Unbekannter Grund>).")},
    };
    for (const auto &c : cases) {
        Receiver.Shutdowns = 0;
        TOPCClientBridge &bridge = MakeBridge();
        Configure(bridge);
        Start(bridge);
        ASSERT_NE(T1->Group(), nullptr);
        TakeEvents();

        ShutDown(c.Reason);
        EXPECT_EQ(TakeEvents(),
                  (std::vector<TEvent>{{etWarning, QStringLiteral("TOPCClientBridge"), c.Logged}}));
        EXPECT_EQ(Receiver.Shutdowns, 1);
        for (TOPCClientTransmitter *t : {T1, T2}) {
            EXPECT_EQ(t->Group(), nullptr);
            for (int i = 0; i < t->ItemCount(); ++i)
                EXPECT_EQ(t->Items(i)->OPCItem(), nullptr);
        }
        // Nothing left to remove, and nothing to complain about.
        bridge.Disconnect();
        bridge.RefreshCache();
        EXPECT_EQ(State(QStringLiteral("temp")), QStringLiteral("Lesefehler"));
        EXPECT_EQ(TakeEvents(), std::vector<TEvent>{});
        Bridge.reset();
    }
}

TEST_F(BridgeTest, ReconnectionAfterShutdownReportsOnlyNewsAndClearsMarksOfRepairedItems)
{
    TOPCClientBridge &bridge = MakeBridge();
    Configure(bridge);
    TOPCBridgedItem *lost = TOPCBridgedItem::Create(T1, QStringLiteral("Area1\\Gone"), QString(),
                                                    QStringLiteral("lost"));
    TOPCBridgedItem *later = TOPCBridgedItem::Create(T1, QString(), QStringLiteral("Area2.Temp"),
                                                     QStringLiteral("later"));
    Sim->Knobs().RejectedItemIDs = {{QStringLiteral("Area2.Temp"), OPC_E_UNKNOWNITEMID}};
    Start(bridge);
    // The path is no node, so it is taken as an ItemID, which the server does not know.
    EXPECT_EQ(lost->ItemID, QStringLiteral("Area1\\Gone"));
    EXPECT_EQ(lost->ErrorFlags, oe_UnknownElement);
    EXPECT_EQ(later->ErrorFlags, oe_UnknownElement);
    const auto unknown = [](const char *alias) {
        return TEvent{etError, QStringLiteral("TOPCClientTransmitter"),
                      QStringLiteral("Das OPC-Item \"%1\" konnte unter der angegebenen ID nicht "
                                     "gefunden werden")
                          .arg(QString::fromLatin1(alias))};
    };
    const std::vector<TEvent> first = TakeEvents();
    ASSERT_EQ(first.size(), 3u); // the last is the note about "flow"
    EXPECT_EQ(first[0], unknown("lost"));
    EXPECT_EQ(first[1], unknown("later"));

    ShutDown(QStringLiteral("Update"));
    TakeEvents();
    Sim->Knobs().RejectedItemIDs.clear();
    bridge.OPCDAClient().ShutdownTime = 0; // the reconnect delay has passed
    ASSERT_TRUE(bridge.Connect());
    bridge.ConnectAndResolveItems();
    bridge.CreateGroups();
    EXPECT_EQ(TakeEvents(), std::vector<TEvent>{});
    EXPECT_EQ(later->ErrorFlags, 0);
    EXPECT_EQ(later->Path, QStringLiteral("Area2\\Temp"));
    EXPECT_EQ(lost->ErrorFlags, oe_UnknownElement);
    EXPECT_EQ(State(QStringLiteral("lost")), QStringLiteral("Element unbekannt"));

    Run(300);
    EXPECT_EQ(State(QStringLiteral("later")), QStringLiteral("OK"));
    EXPECT_GT(Receiver.DataChanges, 0);
}

TEST_F(BridgeTest, GroupsFreedBehindTheBridgesBackAreNeverFollowed)
{
    TOPCClientBridge &bridge = MakeBridge();
    Configure(bridge);
    Start(bridge);
    ASSERT_NE(T1->Items(0)->OPCItem(), nullptr);

    // The client frees its groups and items on its own.
    bridge.OPCDAClient().Disconnect();
    EXPECT_EQ(T1->Group(), nullptr);
    EXPECT_EQ(T1->Items(0)->OPCItem(), nullptr);
    EXPECT_EQ(T1->FindItemByOPCItem(nullptr), nullptr);
    bridge.RefreshCache();
    bridge.DeactivateGroups();
    bridge.Disconnect();
    EXPECT_EQ(State(QStringLiteral("temp")), QStringLiteral("Lesefehler"));

    // A new connection builds new groups; the old handles match none of them.
    bridge.CreateGroups();
    ASSERT_NE(T1->Group(), nullptr);
    EXPECT_NE(T1->Items(0)->OPCItem(), nullptr);
    Run(300);
    EXPECT_EQ(State(QStringLiteral("temp")), QStringLiteral("OK"));
    EXPECT_GT(Receiver.DataChanges, 0);
}

TEST_F(BridgeTest, BridgeDestroyedWhileAcquiringLeavesNoHandlerBehind)
{
    TOPCClientBridge &bridge = MakeBridge();
    Configure(bridge);
    Start(bridge);
    Run(200);
    Bridge.reset();
    EXPECT_EQ(Sim->GroupCount(), 0);
    Run(200);
}

TEST_F(BridgeTest, SecondConstructorTakesServerAndBrowsedNamespaceOfTheEditor)
{
    TOPCDAClient editor;
    PrepareClient(editor);
    editor.SetServer(QString(), QStringLiteral("Sim"), CLSID(), ProgID);
    ASSERT_TRUE(editor.Connected());
    editor.Namespace().Browse(true);

    Bridge = std::make_unique<TOPCClientBridge>(&editor, &Cache);
    EXPECT_EQ(Bridge->OPCDAClient().ServerInfo.ID, ProgID);
    EXPECT_FALSE(Bridge->Connected());
    EXPECT_TRUE(Bridge->OPCDAClient().Namespace().Browsed);
    EXPECT_NE(Bridge->OPCDAClient().Namespace().FindNodeByPath(QStringLiteral("Area2\\Flow")),
              nullptr);
    editor.Disconnect();
    EXPECT_NE(Bridge->OPCDAClient().Namespace().FindNodeByPath(QStringLiteral("Area2\\Flow")),
              nullptr);
}

} // namespace
