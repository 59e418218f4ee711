#include "AcquisitionTestSupport.h"

#include "opc/OPCError.h"

using namespace acqtest;

namespace {

const QString Sender = QStringLiteral("TOPCClientTransmitter");

TEvent Error(const char *text, const char *alias)
{
    return {etError, Sender, QString::fromUtf8(text).arg(QString::fromLatin1(alias))};
}

// Records what resolution shows, in order.
class TRecordingProgress : public TOPCResolveProgress
{
public:
    void RunModal(const std::function<void()> &work) override
    {
        Calls.push_back(QStringLiteral("open"));
        try {
            work();
        } catch (...) {
            Calls.push_back(QStringLiteral("close"));
            throw;
        }
        Calls.push_back(QStringLiteral("close"));
    }
    void SetPhaseBold(TOPCResolvePhase phase, bool bold) override
    {
        Calls.push_back(OPCResolvePhaseLabel(phase) +
                        (bold ? QStringLiteral(" bold") : QStringLiteral(" normal")));
    }
    void SetSearchedItem(const QString &text) override { Searched.push_back(text); }
    void SetCurrentNode(const QString &) override {}
    void NodeVisited(const QString &) override { ++Visits; }
    void SetHourglass(bool on) override
    {
        Calls.push_back(on ? QStringLiteral("hourglass") : QStringLiteral("cursor"));
    }

    std::vector<QString> Calls;
    std::vector<QString> Searched;
    int Visits = 0;
};

class TransmitterTest : public AcquisitionTest
{
protected:
    TOPCClientTransmitter &MakeTransmitter(const QString &name = QStringLiteral("CallbackGroup1"))
    {
        if (!Bridge)
            MakeBridge();
        TOPCClientTransmitter *t = TOPCClientTransmitter::Create(Bridge.get(), name);
        t->UpdateRate = 100;
        return *t;
    }
    // Start as the runtime control does, then a refresh, so every state is final.
    void Start()
    {
        Bridge->CreateCacheEntries();
        Bridge->ConnectAndResolveItems();
        Bridge->CreateGroups();
        Bridge->RefreshCache();
    }
};

TEST_F(TransmitterTest, ResolutionCompletesChecksAndReportsEveryItemOnce)
{
    const struct
    {
        const char *Path;
        const char *ItemID;
        const char *Alias;
        const char *ResolvedPath;
        const char *ResolvedID;
        TOPCErrorFlags Flags;
        const char *State;
    } rows[] = {
        {"Area1\\Line1\\Temp", "", "byPath", "Area1\\Line1\\Temp", "Area1.Line1.Temp", 0, "OK"},
        {"Area1\\Line1\\Temp", "Area1.Line1.Temp", "both", "Area1\\Line1\\Temp", "Area1.Line1.Temp",
         0, "OK"},
        {"Area1\\Line1\\Temp", "Area2.Temp", "mismatch", "Area1\\Line1\\Temp", "Area2.Temp",
         oe_InvalidPath, "Üngültiger Pfad"},
        {"Flow", "", "byName", "Area2\\Flow", "Area2.Flow", 0, "OK"},
        // A configured ItemID picks the node of that name that has it, not the first one.
        {"Temp", "Area2.Temp", "nameAndID", "Area2\\Temp", "Area2.Temp", 0, "OK"},
        {"Temp", "Area9.Temp", "badName", "Temp", "Area9.Temp", oe_InvalidPath, "Üngültiger Pfad"},
        {"Area1.Line1.Count", "", "idAsPath", "Area1\\Line1\\Count", "Area1.Line1.Count", 0, "OK"},
        {"", "", "nothing", "", "", oe_InvalidPath, "Üngültiger Pfad"},
        {"", "Area1.Line1.Level", "byID", "Area1\\Line1\\Level", "Area1.Line1.Level", 0, "OK"},
        {"Bogus", "", "bogus", "", "Bogus", oe_UnknownElement, "Element unbekannt"},
        {"", "Area9.X", "unknownID", "", "Area9.X", oe_UnknownElement, "Element unbekannt"},
    };
    TOPCClientTransmitter &t = MakeTransmitter();
    for (const auto &row : rows)
        TOPCBridgedItem::Create(&t, QString::fromUtf8(row.Path), QString::fromUtf8(row.ItemID),
                                QString::fromUtf8(row.Alias));
    Start();

    int added = 0;
    for (const auto &row : rows) {
        const TOPCBridgedItem *item = t.FindItemByAlias(QString::fromUtf8(row.Alias));
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->Path, QString::fromUtf8(row.ResolvedPath)) << row.Alias;
        EXPECT_EQ(item->ItemID, QString::fromUtf8(row.ResolvedID)) << row.Alias;
        EXPECT_EQ(item->ErrorFlags, row.Flags) << row.Alias;
        EXPECT_EQ(State(item->Alias), QString::fromUtf8(row.State)) << row.Alias;
        EXPECT_EQ(item->OPCItem() != nullptr, row.Flags == 0) << row.Alias;
        const QString unit = Cache.ReadAttribute(item->Alias, 0, QStringLiteral("ValueUnit"));
        EXPECT_EQ(unit == QStringLiteral("?"), row.Flags != 0) << row.Alias;
        added += row.Flags == 0;
    }
    EXPECT_EQ(t.Group()->ItemCount(), added);

    const std::vector<TEvent> expected = {
        Error("Der angegebene Pfad und die ID für das OPC-Item \"%1\" passen nicht zusammen",
              "mismatch"),
        {etInformation, Sender,
         QStringLiteral("Für das OPC-Item \"byName\" war keine ID und kein vollständiger Pfad "
                        "angegeben. Beides wurde automatisch ergänzt. Bitte überprüfen Sie, ob es "
                        "sich um das richtige Item handelt.")},
        Error("Der angegebene Pfad für das OPC-Item \"%1\" ist ungültig", "badName"),
        Error("Für das OPC-Item \"%1\" ist weder Pfad noch ID angegeben", "nothing"),
        Error("Das OPC-Item \"%1\" konnte unter der angegebenen ID nicht gefunden werden", "bogus"),
        Error("Das OPC-Item \"%1\" konnte unter der angegebenen ID nicht gefunden werden",
              "unknownID"),
    };
    EXPECT_EQ(TakeEvents(), expected);

    // Every run after a reconnection finds the same faults and keeps quiet about them.
    Bridge->Disconnect();
    Start();
    EXPECT_EQ(TakeEvents(), std::vector<TEvent>{});
    EXPECT_EQ(t.Group()->ItemCount(), added);
}

TEST_F(TransmitterTest, IDValidButMissingFromTheKnownAddressSpaceIsReportedOncePerFault)
{
    // The editor browsed before the server grew "Flow": the copy it hands over lacks the leaf.
    TOPCDAClient editor;
    PrepareClient(editor);
    editor.SetServer(QString(), QStringLiteral("Sim"), CLSID(), ProgID);
    editor.Namespace().Browse(true);
    auto *area2 = dynamic_cast<TOPCDAClientBranch *>(
        editor.Namespace().FindNodeByPath(QStringLiteral("Area2")));
    ASSERT_NE(area2, nullptr);
    area2->RemoveChild(area2->FindChildByName(QStringLiteral("Flow"), false));
    Bridge = std::make_unique<TOPCClientBridge>(&editor, &Cache);
    PrepareClient(Bridge->OPCDAClient());
    TOPCClientTransmitter &t = MakeTransmitter();
    TOPCBridgedItem *flow = TOPCBridgedItem::Create(&t, QString(), QStringLiteral("Area2.Flow"),
                                                    QStringLiteral("flow"));
    TOPCBridgedItem *temp = TOPCBridgedItem::Create(&t, QString(), QStringLiteral("Area2.Temp"),
                                                    QStringLiteral("temp"));

    Bridge->CreateCacheEntries();
    Bridge->ConnectAndResolveItems();
    EXPECT_EQ(flow->ErrorFlags, oe_InvalidPath);
    EXPECT_EQ(temp->Path, QStringLiteral("Area2\\Temp"));
    EXPECT_EQ(
        TakeEvents(),
        (std::vector<TEvent>{Error("Die ID für das OPC-Item \"%1\" ist zwar gültig, es kann jedoch "
                                   "im Namensraum nicht gefunden werden",
                                   "flow")}));

    // The next run clears the mark before it searches again; the same fault stays unreported.
    Bridge->ConnectAndResolveItems();
    Bridge->CreateGroups();
    EXPECT_EQ(TakeEvents(), std::vector<TEvent>{});
    EXPECT_EQ(flow->ErrorFlags, oe_InvalidPath);
    EXPECT_EQ(flow->OPCItem(), nullptr);
    EXPECT_EQ(State(QStringLiteral("flow")), QStringLiteral("Üngültiger Pfad"));
}

TEST_F(TransmitterTest, ProgressShowsThePhasesAndIsClosedAndRestoredAfterAFailure)
{
    TRecordingProgress progress;
    MakeBridge().SetResolveProgress(&progress);
    TOPCClientTransmitter &t1 = MakeTransmitter(QStringLiteral("G1"));
    TOPCBridgedItem::Create(&t1, QStringLiteral("Flow"), QString(), QStringLiteral("a"));
    TOPCBridgedItem::Create(&t1, QStringLiteral("Area1\\Line1\\Temp"), QString(),
                            QStringLiteral("b"));
    TOPCClientTransmitter &t2 = MakeTransmitter(QStringLiteral("G2"));
    TOPCBridgedItem::Create(&t2, QString(), QStringLiteral("Area2.Temp"), QStringLiteral("c"));
    Bridge->CreateCacheEntries();
    Bridge->ConnectAndResolveItems();

    const std::vector<QString> run = {QStringLiteral("open"),
                                      QStringLiteral("hourglass"),
                                      QStringLiteral("lblSearchByName bold"),
                                      QStringLiteral("lblSearchByName normal"),
                                      QStringLiteral("lblValidateItems bold"),
                                      QStringLiteral("lblValidateItems normal"),
                                      QStringLiteral("lblSearchByID bold"),
                                      QStringLiteral("lblSearchByID normal"),
                                      QStringLiteral("cursor"),
                                      QStringLiteral("close")};
    std::vector<QString> twice = run;
    twice.insert(twice.end(), run.begin(), run.end());
    EXPECT_EQ(progress.Calls, twice);
    EXPECT_EQ(progress.Searched,
              (std::vector<QString>{QStringLiteral("Flow"), QStringLiteral("Area1\\Line1\\Temp"),
                                    QString()}));
    EXPECT_GT(progress.Visits, 0);
    TakeEvents();

    // The validation group cannot be made: the first resolution ends, the second still runs,
    // and the cache is refreshed afterwards.
    progress.Calls.clear();
    Sim->Knobs().AddGroupError = E_OUTOFMEMORY;
    Cache.WriteAttribute(QStringLiteral("c"), t2.Items(0)->IndexHint, QStringLiteral("OPCState"),
                         QStringLiteral("stale"));
    Bridge->ConnectAndResolveItems();
    const std::vector<QString> failed = {QStringLiteral("open"),
                                         QStringLiteral("hourglass"),
                                         QStringLiteral("lblSearchByName bold"),
                                         QStringLiteral("lblSearchByName normal"),
                                         QStringLiteral("lblValidateItems bold"),
                                         QStringLiteral("lblValidateItems normal"),
                                         QStringLiteral("cursor"),
                                         QStringLiteral("close")};
    std::vector<QString> both = failed;
    both.insert(both.end(), failed.begin(), failed.end());
    EXPECT_EQ(progress.Calls, both);
    const TEvent failure{etError, Sender, EOPCException(E_OUTOFMEMORY).Message()};
    EXPECT_EQ(TakeEvents(), (std::vector<TEvent>{failure, failure}));
    EXPECT_EQ(State(QStringLiteral("c")), QStringLiteral("Lesefehler"));
    EXPECT_EQ(Bridge->OPCDAClient().GroupCount(), 0);
}

TEST_F(TransmitterTest, GroupThatCannotBeCreatedIsReportedOnceAndTheOthersAreCreated)
{
    MakeBridge();
    TOPCClientTransmitter &first = MakeTransmitter(QStringLiteral("Same"));
    TOPCBridgedItem::Create(&first, QString(), QStringLiteral("Area2.Temp"), QStringLiteral("a"));
    // A second group of the same name is refused by the server.
    TOPCClientTransmitter &twin = MakeTransmitter(QStringLiteral("Same"));
    TOPCBridgedItem::Create(&twin, QString(), QStringLiteral("Area2.Flow"), QStringLiteral("b"));
    TOPCClientTransmitter &third = MakeTransmitter(QStringLiteral("Other"));
    TOPCBridgedItem::Create(&third, QString(), QStringLiteral("Area1.Line1.Temp"),
                            QStringLiteral("c"));
    Start();
    Bridge->CreateGroups();
    Bridge->RefreshCache();

    EXPECT_EQ(TakeEvents(),
              (std::vector<TEvent>{{etError, Sender,
                                    QStringLiteral("Fehler beim Erzeugen der Gruppe. Meldung: ") +
                                        EOPCException(OPC_E_DUPLICATENAME).Message()}}));
    EXPECT_EQ(twin.ErrorFlags, oe_GroupError);
    EXPECT_EQ(twin.Group(), nullptr);
    EXPECT_EQ(Bridge->ErrorFlags(), oe_GroupError);
    EXPECT_EQ(State(QStringLiteral("b")), QStringLiteral("Fehler beim Hinzufügen der Gruppe"));
    EXPECT_EQ(State(QStringLiteral("a")), QStringLiteral("OK"));
    EXPECT_EQ(State(QStringLiteral("c")), QStringLiteral("OK"));

    twin.Name = QStringLiteral("Renamed");
    Bridge->CreateGroups();
    EXPECT_EQ(twin.ErrorFlags, 0);
    Bridge->RefreshCache();
    EXPECT_EQ(State(QStringLiteral("b")), QStringLiteral("OK"));
}

TEST_F(TransmitterTest, ItemsRefusedByAddItemsAreMarkedAndRecoverWhenAccepted)
{
    MakeBridge();
    TOPCClientTransmitter &t = MakeTransmitter();
    TOPCBridgedItem *good =
        TOPCBridgedItem::Create(&t, QString(), QStringLiteral("Area2.Temp"), QStringLiteral("a"));
    TOPCBridgedItem *refused =
        TOPCBridgedItem::Create(&t, QString(), QStringLiteral("Area2.Flow"), QStringLiteral("b"));
    Bridge->CreateCacheEntries();
    Bridge->ConnectAndResolveItems();
    // Validated first, refused when added.
    Sim->Knobs().RejectedItemIDs = {{QStringLiteral("Area2.Flow"), OPC_E_BADRIGHTS}};
    Bridge->CreateGroups();
    const std::vector<TEvent> events = TakeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Type, etError);
    EXPECT_TRUE(events[0].Message.startsWith(QStringLiteral("Fehler in AddItems")))
        << events[0].Message.toStdString();
    EXPECT_EQ(refused->ErrorFlags, oe_AddItemError);
    EXPECT_EQ(good->ErrorFlags, 0);

    // Refreshing reads only what the server holds, so it has nothing to complain about.
    Bridge->RefreshCache();
    EXPECT_EQ(TakeEvents(), std::vector<TEvent>{});
    EXPECT_EQ(State(QStringLiteral("a")), QStringLiteral("OK"));
    EXPECT_EQ(State(QStringLiteral("b")),
              QStringLiteral("Element konnte der Gruppe nicht hinzugefügt werden"));

    Bridge->Disconnect();
    Sim->Knobs().RejectedItemIDs.clear();
    Bridge->CreateGroups();
    EXPECT_EQ(refused->ErrorFlags, 0);
    Bridge->RefreshCache();
    EXPECT_EQ(State(QStringLiteral("b")), QStringLiteral("OK"));
}

TEST_F(TransmitterTest, PropertyRequestFailureBecomesTheAttributeText)
{
    MakeBridge();
    TOPCClientTransmitter &t = MakeTransmitter();
    TOPCBridgedItem *item =
        TOPCBridgedItem::Create(&t, QString(), QStringLiteral("Area2.Temp"), QStringLiteral("a"));
    Bridge->CreateCacheEntries();
    Bridge->ConnectAndResolveItems();
    item->ItemID = QStringLiteral("Area2.Unknown");
    Bridge->CreateGroups();
    const QString message = EOPCException(OPC_E_UNKNOWNITEMID).Message();
    EXPECT_EQ(Cache.ReadAttribute(QStringLiteral("a"), 0, QStringLiteral("ValueUnit")), message);
    EXPECT_EQ(Cache.ReadAttribute(QStringLiteral("a"), 0, QStringLiteral("Description")), message);
    EXPECT_EQ(item->ErrorFlags, oe_AddItemError);
}

TEST_F(TransmitterTest, ItemsWithoutCacheEntryGetOneWhenPropertiesAreRead)
{
    MakeBridge();
    ASSERT_TRUE(Bridge->Connect());
    TOPCClientTransmitter &t = MakeTransmitter();
    TOPCBridgedItem::Create(&t, QString(), QStringLiteral("Area2.Temp"), QStringLiteral("a"));
    TOPCBridgedItem::Create(&t, QString(), QStringLiteral("Area2.Temp"), QStringLiteral("a"));
    t.CreateGroup();
    EXPECT_EQ(Cache.Count(), 1);
    EXPECT_EQ(Cache.ReadAttribute(QStringLiteral("a"), 0, QStringLiteral("ValueUnit")),
              QStringLiteral("K"));
}

// Processes pending messages once, at the given node visit, as the progress window may.
class TPumpingProgress : public TRecordingProgress
{
public:
    explicit TPumpingProgress(int pumpAt) : m_PumpAt(pumpAt) {}
    void NodeVisited(const QString &name) override
    {
        TRecordingProgress::NodeVisited(name);
        if (Visits == m_PumpAt)
            QCoreApplication::processEvents();
    }

private:
    int m_PumpAt;
};

TEST_F(TransmitterTest, ShutdownHandledInsideTheProgressDisplayEndsOnlyThatResolution)
{
    // The third node is the first one below "Area2", received while that branch is browsed.
    TPumpingProgress progress(3);
    MakeBridge().SetResolveProgress(&progress);
    TOPCClientTransmitter &t = MakeTransmitter();
    TOPCBridgedItem *item =
        TOPCBridgedItem::Create(&t, QStringLiteral("Area2\\Flow"), QString(), QStringLiteral("a"));
    Bridge->CreateCacheEntries();
    ASSERT_TRUE(Bridge->Connect());
    Sim->RequestShutdown(QStringLiteral("Wartung"));
    Bridge->ConnectAndResolveItems();

    EXPECT_FALSE(Bridge->Connected());
    EXPECT_EQ(Receiver.Shutdowns, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(Receiver.Shutdowns, 1);
    const std::vector<TEvent> events = TakeEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].Message, QStringLiteral("Der Quellserver wurde beendet (Grund: Wartung)."));
    EXPECT_EQ(events[1].Type, etError);
    EXPECT_EQ(events[1].Sender, Sender);
    EXPECT_EQ(item->ItemID, QString());
    EXPECT_EQ(progress.Calls.back(), QStringLiteral("close"));
    EXPECT_EQ(Bridge->OPCDAClient().Namespace().Child(0), nullptr);
}

} // namespace
