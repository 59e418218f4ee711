#include "opc/xOPCDAClientNamespace.h"

#include "eventlog/xEventLog.h"
#include "opc/OPCError.h"
#include "opcsim/OPCSimulation.h"
#include "platform/com/Connection.h"
#include "platform/com/Guid.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <map>

namespace {

// A scripted server that records every call, for the call sequences the simulation cannot show.
class TFakeServer : public TComObject<IOPCBrowseServerAddressSpace, IOPCItemProperties>
{
public:
    struct TLevel
    {
        QStringList Branches;
        QStringList Leaves;
    };

    HRESULT QueryOrganization(OPCNAMESPACETYPE &organization) override
    {
        Calls << QStringLiteral("Org");
        organization = Organization;
        return S_OK;
    }
    HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION direction, const QString &name) override
    {
        if (direction == OPC_BROWSE_TO) {
            Calls << QStringLiteral("To");
            if (ToRootResult == S_OK)
                Position.clear();
            return ToRootResult;
        }
        if (direction == OPC_BROWSE_UP) {
            Calls << QStringLiteral("Up");
            const HRESULT hr = UpResults.empty() ? UpDefault : UpResults.front();
            if (!UpResults.empty())
                UpResults.erase(UpResults.begin());
            if (hr == S_OK && !Position.isEmpty())
                Position.removeLast();
            return hr;
        }
        Calls << QStringLiteral("Down ") + name;
        if (!Tree[Position.join(u'/')].Branches.contains(name))
            return E_INVALIDARG;
        Position << name;
        return S_OK;
    }
    HRESULT BrowseOPCItemIDs(OPCBROWSETYPE type, const QString &, VARTYPE, DWORD,
                             ComPtr<IEnumString> &names) override
    {
        Calls << (type == OPC_BRANCH ? QStringLiteral("Branches") : QStringLiteral("Leaves"));
        if (type == OPC_LEAF && LeafBrowseError != S_OK)
            return LeafBrowseError;
        if (NullEnumerator)
            return S_FALSE;
        const TLevel &level = Tree[Position.join(u'/')];
        names = MakeCom<TEnumString>(
            std::vector<QString>((type == OPC_BRANCH ? level.Branches : level.Leaves).begin(),
                                 (type == OPC_BRANCH ? level.Branches : level.Leaves).end()));
        return S_OK;
    }
    HRESULT GetItemID(const QString &dataID, QString &itemID) override
    {
        Calls << QStringLiteral("ItemID ") + dataID;
        if (ItemIDError != S_OK)
            return ItemIDError;
        itemID = (QStringList(Position) << dataID).join(u'.');
        return S_OK;
    }
    HRESULT BrowseAccessPaths(const QString &, ComPtr<IEnumString> &) override { return E_NOTIMPL; }
    HRESULT QueryAvailableProperties(const QString &, std::vector<DWORD> &, std::vector<QString> &,
                                     std::vector<VARTYPE> &) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetItemProperties(const QString &itemID, std::span<const DWORD> ids,
                              std::vector<TVariant> &data, std::vector<HRESULT> &errors) override
    {
        QStringList list;
        for (DWORD id : ids)
            list << QString::number(id);
        Calls << QStringLiteral("Props %1 %2").arg(itemID, list.join(u','));
        data = {TVariant::FromI2(VT_R4), TVariant::FromI4(OPC_READABLE | OPC_WRITEABLE)};
        errors = {S_OK, S_OK};
        return S_OK;
    }
    HRESULT LookupItemIDs(const QString &, std::span<const DWORD>, std::vector<QString> &,
                          std::vector<HRESULT> &) override
    {
        return E_NOTIMPL;
    }

    QStringList TakeCalls() { return std::exchange(Calls, {}); }

    std::map<QString, TLevel> Tree; // keyed by the position's names joined by '/'
    QStringList Position;
    QStringList Calls;
    OPCNAMESPACETYPE Organization = OPC_NS_HIERARCHIAL;
    HRESULT ToRootResult = S_OK;
    std::vector<HRESULT> UpResults;
    HRESULT UpDefault = E_FAIL;
    HRESULT LeafBrowseError = S_OK;
    HRESULT ItemIDError = S_OK;
    bool NullEnumerator = false;
};

class NamespaceFakeTest : public ::testing::Test
{
protected:
    NamespaceFakeTest()
    {
        Server->Tree[QString()] = {{QStringLiteral("A\\B"), QStringLiteral("C\\")},
                                   {QStringLiteral("Top")}};
        Server->Tree[QStringLiteral("A\\B")] = {{}, {QStringLiteral("T1"), QStringLiteral("T2")}};
        Server->Tree[QStringLiteral("C\\")] = {{QStringLiteral("D")}, {QStringLiteral("T1")}};
        Server->Tree[QStringLiteral("C\\/D")] = {{}, {QStringLiteral("Deep")}};
        Root.BrowseServerAddressSpace = Server;
        Root.ItemProperties = Server;
        EventLogger().SetLoggingLevel(5);
        EventLogger().SetLimitMessageRate(false);
        EventLogger().TakeEntries();
    }
    ~NamespaceFakeTest() override { EventLogger().SetLoggingLevel(3); }

    static QStringList Messages(TEventType type)
    {
        QStringList result;
        for (const auto &entry : EventLogger().TakeEntries())
            if (entry->EventType == type)
                result << entry->Message;
        return result;
    }

    ComPtr<TFakeServer> Server = MakeCom<TFakeServer>();
    TOPCDAClientNamespace Root;
};

TEST_F(NamespaceFakeTest, BrowseReadsBranchesThenLeavesAndTracesEveryCall)
{
    EXPECT_EQ(Root.ChildCount(), 3);
    EXPECT_EQ(Server->TakeCalls(), QStringList({"Org", "To", "Branches", "To", "Leaves"}));
    const QStringList traces = Messages(etInformation);
    EXPECT_EQ(traces, QStringList({
                          "Ausgehender OPC-Aufruf: IOPCBrowseServerAddressSpace.QueryOrganization",
                          "Ausgehender OPC-Aufruf: IOPCBrowseServerAddressSpace."
                          "ChangeBrowsePosition(OPC_BROWSE_TO, '')",
                          "Ausgehender OPC-Aufruf: IOPCBrowseServerAddressSpace."
                          "BrowseOPCItemIDs(OPC_BRANCH,'')",
                          "Ausgehender OPC-Aufruf: IOPCBrowseServerAddressSpace."
                          "ChangeBrowsePosition(OPC_BROWSE_TO, '')",
                          "Ausgehender OPC-Aufruf: IOPCBrowseServerAddressSpace."
                          "BrowseOPCItemIDs(OPC_LEAF,'')",
                      }));
    auto *c = dynamic_cast<TOPCDAClientBranch *>(Root.Child(1));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->ChildCount(), 2);
    EXPECT_EQ(Server->TakeCalls(),
              QStringList({"To", "Down C\\", "Branches", "To", "Down C\\", "Leaves"}));
    EXPECT_EQ(Root.ChildCount(), 3); // browsed once
    EXPECT_TRUE(Server->TakeCalls().isEmpty());

    auto *deep = dynamic_cast<TOPCDAClientLeaf *>(Root.FindNodeByPath("C\\\\\\D\\Deep"));
    ASSERT_NE(deep, nullptr);
    Server->TakeCalls();
    EXPECT_EQ(deep->GetItemID(), "C\\.D.Deep");
    EXPECT_EQ(Server->TakeCalls(), QStringList({"To", "Down C\\", "Down D", "ItemID Deep"}));
}

TEST_F(NamespaceFakeTest, FlatServerReadsOneLeafEnumerationWithoutMoves)
{
    Server->Organization = OPC_NS_FLAT;
    EXPECT_EQ(Root.ChildCount(), 1); // the top level's leaves only
    EXPECT_EQ(Server->TakeCalls(), QStringList({"Org", "Leaves"}));
    EXPECT_EQ(Root.Organization(), DWORD(OPC_NS_FLAT));
    EXPECT_TRUE(Server->TakeCalls().isEmpty());
}

TEST_F(NamespaceFakeTest, MoveToRootRefusedClimbsUp)
{
    struct Case
    {
        const char *name;
        std::vector<HRESULT> up;
        HRESULT upDefault;
        int moves;
        bool warning;
        bool raises;
    };
    const Case cases[] = {
        {"E_FAIL after the third move", {S_OK, S_OK, E_FAIL}, E_FAIL, 3, false, false},
        {"never confirmed", {}, S_OK, 100, true, false},
        {"other failure", {S_OK}, E_ACCESSDENIED, 2, false, true},
        {"positive code", {S_FALSE}, E_FAIL, 1, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Server->ToRootResult = E_INVALIDARG;
        Server->UpResults = c.up;
        Server->UpDefault = c.upDefault;
        Root.KnownOrganization = OPC_NS_HIERARCHIAL;
        Server->TakeCalls();
        EventLogger().TakeEntries();
        if (c.raises) {
            try {
                Root.BrowseTo();
                ADD_FAILURE() << "no exception";
            } catch (const EOPCException &e) {
                EXPECT_EQ(e.ErrorCode(), E_ACCESSDENIED);
            }
        } else {
            Root.BrowseTo();
        }
        const QStringList calls = Server->TakeCalls();
        EXPECT_EQ(calls.size(), 1 + c.moves);
        EXPECT_EQ(calls.count("Up"), c.moves);
        const auto entries = EventLogger().TakeEntries();
        int info = 0;
        int warnings = 0;
        for (const auto &e : entries) {
            info += e->Message ==
                        "IOPCBrowseServerAddressSpace.ChangeBrowsePosition(OPC_BROWSE_TO, "
                        "'') hat E_INVALIDARG zurückgegeben, der Server scheint nicht "
                        "OPCDA2.0-konform zu sein." &&
                    e->EventType == etInformation;
            warnings += e->EventType == etWarning &&
                        e->Message == "Das Browsen zum Root-Element hat möglicherweise nicht "
                                      "funktioniert. Der Namespace könnte unvollständig sein.";
        }
        EXPECT_EQ(info, 1);
        EXPECT_EQ(warnings, c.warning ? 1 : 0);
    }
}

TEST_F(NamespaceFakeTest, EmptyOrMissingEnumeratorMakesABrowsedEmptyBranch)
{
    Server->Tree[QString()].Branches << QStringLiteral("Empty");
    for (bool nullEnumerator : {false, true}) {
        SCOPED_TRACE(nullEnumerator);
        TOPCDAClientBranch *branch = Root.NewBranch(QStringLiteral("Empty")).release();
        Root.AddChild(std::unique_ptr<TOPCDAClientNode>(branch));
        Root.Browsed = true;
        Server->NullEnumerator = nullEnumerator;
        EXPECT_EQ(branch->ChildCount(), 0);
        EXPECT_TRUE(branch->Browsed);
        Server->TakeCalls();
        EXPECT_EQ(branch->ChildCount(), 0);
        EXPECT_TRUE(Server->TakeCalls().isEmpty());
        Root.Clear();
    }
}

TEST_F(NamespaceFakeTest, FailedBrowseKeepsNothingAndTriesAgain)
{
    Server->LeafBrowseError = E_OUTOFMEMORY;
    EXPECT_THROW(Root.ChildCount(), EOPCException);
    EXPECT_FALSE(Root.Browsed);
    EXPECT_EQ(Root.Child(0), nullptr);
    Server->LeafBrowseError = S_OK;
    EXPECT_EQ(Root.ChildCount(), 3);
    EXPECT_EQ(Root.LeafCount, 1);
}

TEST_F(NamespaceFakeTest, ItemIDFailureStaysEmptyAndIsAskedAgain)
{
    Root.Browse(true);
    auto *leaf = dynamic_cast<TOPCDAClientLeaf *>(Root.FindNodeByPath("Top"));
    ASSERT_NE(leaf, nullptr);
    std::vector<TOPCDAClientLeaf *> resolving;
    Root.OnResolveItemID = [&](TOPCDAClientLeaf *l) { resolving.push_back(l); };
    Server->ItemIDError = E_FAIL;
    EXPECT_EQ(leaf->GetItemID(), QString());
    Server->ItemIDError = S_OK;
    EXPECT_EQ(leaf->GetItemID(), "Top");
    EXPECT_EQ(leaf->GetItemID(), "Top");
    EXPECT_EQ(Server->TakeCalls().count("ItemID Top"), 2);
    EXPECT_EQ(resolving, std::vector<TOPCDAClientLeaf *>({leaf, leaf}));
}

TEST_F(NamespaceFakeTest, PropertiesAreReadOnceInOneCall)
{
    auto *leaf = dynamic_cast<TOPCDAClientLeaf *>(Root.FindNodeByPath("A\\\\B\\T2"));
    ASSERT_NE(leaf, nullptr);
    Server->TakeCalls();
    EXPECT_EQ(leaf->GetAccessRights(), DWORD(OPC_READABLE | OPC_WRITEABLE));
    EXPECT_EQ(leaf->GetAccessRights(), DWORD(OPC_READABLE | OPC_WRITEABLE));
    EXPECT_EQ(leaf->GetDataType(), VARTYPE(VT_R4));
    const QStringList calls = Server->TakeCalls();
    EXPECT_EQ(calls.filter("Props").join(u'|'), "Props A\\B.T2 1,5");
}

TEST_F(NamespaceFakeTest, PathsRoundTripWithDoubledSeparators)
{
    Root.Browse(true);
    struct Case
    {
        const char *path;
        const char *name; // null: not found
    };
    const Case cases[] = {
        {"A\\\\B\\T1", "T1"},       {"A\\\\B", "A\\B"}, {"C\\\\", "C\\"},
        {"C\\\\\\D\\Deep", "Deep"}, {"X\\T1", nullptr}, {"Top\\T1", nullptr},
        {"A\\B\\T1", nullptr},      {"", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        TOPCDAClientNode *node = Root.FindNodeByPath(c.path);
        if (!c.name) {
            EXPECT_EQ(node, nullptr);
            continue;
        }
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->Name, c.name);
        EXPECT_EQ(GetNodePath(node), c.path);
    }
    EXPECT_EQ(GetNodePath(&Root), QString());
    EXPECT_EQ(UnescapeName("a\\\\\\\\b\\\\"), "a\\\\b\\");
}

TEST_F(NamespaceFakeTest, ItemIDSearchFollowsTreeOrderAndSeesChanges)
{
    // A miss browses everything and resolves every leaf.
    EXPECT_EQ(Root.FindNodeByItemID("nothing", true), nullptr);
    for (const char *path : {"A\\\\B", "C\\\\", "C\\\\\\D"})
        EXPECT_TRUE(dynamic_cast<TOPCDAClientBranch *>(Root.FindNodeByPath(path))->Browsed);
    Server->TakeCalls();
    TOPCDAClientNode *t1 = Root.FindNodeByPath("C\\\\\\T1");
    EXPECT_EQ(Root.FindNodeByItemID("C\\.T1", true), t1);
    EXPECT_EQ(Root.FindNodeByItemID("C\\.T1", false), nullptr);
    EXPECT_TRUE(Server->TakeCalls().isEmpty());

    // An earlier node with the same id wins; a later one does not.
    auto *ab = dynamic_cast<TOPCDAClientBranch *>(Root.FindNodeByPath("A\\\\B"));
    ab->AddChild(std::make_unique<TOPCDAClientLeaf>("Copy", "C\\.T1"));
    TOPCDAClientNode *copy = Root.FindNodeByPath("A\\\\B\\Copy");
    EXPECT_EQ(Root.FindNodeByItemID("C\\.T1", true), copy);
    copy->ItemID = "renamed";
    EXPECT_EQ(Root.FindNodeByItemID("C\\.T1", true), t1);
    Root.AddChild(std::make_unique<TOPCDAClientLeaf>("Late", "renamed"));
    EXPECT_EQ(Root.FindNodeByItemID("renamed", true), copy);
    // Removing the earlier node uncovers the later one.
    EXPECT_NE(ab->RemoveChild(copy), nullptr);
    EXPECT_EQ(Root.FindNodeByItemID("renamed", true), Root.FindNodeByPath("Late"));
    EXPECT_EQ(Root.FindChildByName("T1", true), Root.FindNodeByPath("A\\\\B\\T1"));
    EXPECT_EQ(Root.FindChildByName("T1", true, "C\\.T1"), t1);
}

TEST(NamespaceTreeTest, AddChildOrdersAndReportsToNearestHandler)
{
    TOPCDAClientNamespace root;
    root.Browsed = true;
    std::vector<QString> processed;
    root.OnProcessNode = [&](TOPCDAClientNode *n) { processed.push_back(n->Name); };
    root.AddChild(std::make_unique<TOPCDAClientLeaf>("L1", "i1"));
    root.AddChild(std::make_unique<TOPCDAClientBranch>("B1", ""));
    root.AddChild(std::make_unique<TOPCDAClientLeaf>("L2", "i2"));
    root.AddChild(std::make_unique<TOPCDAClientBranch>("B2", ""));
    root.AddChild(nullptr);
    QStringList order;
    for (int i = 0; i < root.ChildCount(); ++i)
        order << root.Child(i)->Name;
    EXPECT_EQ(order, QStringList({"B1", "B2", "L1", "L2"}));
    EXPECT_EQ(root.LeafCount, 2);
    auto *b1 = dynamic_cast<TOPCDAClientBranch *>(root.Child(0));
    b1->Browsed = true;
    b1->AddChild(std::make_unique<TOPCDAClientLeaf>("Inner", ""));
    EXPECT_EQ(processed, std::vector<QString>({"L1", "B1", "L2", "B2", "Inner"}));

    // Moving a node keeps the grouping and the counts.
    root.Child(2)->SetParent(b1);
    EXPECT_EQ(root.LeafCount, 1);
    EXPECT_EQ(b1->LeafCount, 2);
    EXPECT_EQ(GetNodePath(b1->Child(1)), "B1\\L1");
    EXPECT_ANY_THROW(b1->SetParent(b1));

    b1->UpdateItemIDs();
    EXPECT_EQ(b1->ItemID, "B1\\");
    EXPECT_EQ(b1->Child(0)->ItemID, "B1\\Inner");

    TOPCDAClientBranch detached("Loose", "");
    try {
        detached.Namespace();
        ADD_FAILURE() << "no exception";
    } catch (const Exception &e) {
        EXPECT_STREQ(e.what(),
                     "Interner Fehler beim Browsen: Branch muss Teil eines Namensraums sein");
    }
}

TEST(NamespaceTreeTest, CloneCopiesWithoutCallingTheServer)
{
    auto server = MakeCom<TFakeServer>();
    TOPCDAClientNamespace root;
    root.BrowseServerAddressSpace = server;
    root.ItemProperties = server;
    root.KnownOrganization = OPC_NS_FLAT;
    root.Browsed = true;
    auto branch = std::make_unique<TOPCDAClientBranch>("B", "");
    branch->AddChild(std::make_unique<TOPCDAClientLeaf>("unresolved", ""));
    auto leaf = std::make_unique<TOPCDAClientLeaf>("L", "id");
    leaf->DataType = VT_I4;
    leaf->AccessRights = OPC_READABLE;
    leaf->PropertiesRead = true;
    root.AddChild(std::move(branch));
    root.AddChild(std::move(leaf));

    auto copy = root.Clone();
    auto *ns = dynamic_cast<TOPCDAClientNamespace *>(copy.get());
    ASSERT_NE(ns, nullptr);
    EXPECT_TRUE(server->Calls.isEmpty());
    EXPECT_EQ(ns->BrowseServerAddressSpace.Get(), root.BrowseServerAddressSpace.Get());
    EXPECT_EQ(ns->ItemProperties.Get(), root.ItemProperties.Get());
    EXPECT_EQ(ns->Organization(), DWORD(OPC_NS_FLAT));
    EXPECT_TRUE(ns->Browsed);
    EXPECT_EQ(ns->LeafCount, 1);
    auto *b = dynamic_cast<TOPCDAClientBranch *>(ns->Child(0));
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(b->Browsed);
    EXPECT_EQ(b->Child(0)->Name, "unresolved");
    auto *l = dynamic_cast<TOPCDAClientLeaf *>(ns->Child(1));
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->ItemID, "id");
    EXPECT_EQ(l->DataType, VT_I4);
    EXPECT_EQ(l->AccessRights, DWORD(OPC_READABLE));
    EXPECT_TRUE(server->Calls.isEmpty());
}

// Against the simulation server.
class NamespaceSimTest : public ::testing::Test
{
protected:
    void Connect(const TSimulationKnobs &knobs)
    {
        TSimulationOptions options;
        options.Clsid = CreateGUID();
        options.ManualClock = true;
        options.Knobs = knobs;
        options.PlantText = QStringLiteral("[Area1.Line1]\nT1 const\nT2 const writable\n"
                                           "[Area1]\nP const type=I4\n[]\nTop const\n");
        Control = RegisterSimulationServer(LocalHost(), options);
        ComPtr<IUnknown> unknown;
        ASSERT_EQ(CoCreateInstance(options.Clsid, CLSCTX_SERVER, IOPCServer::Iid, unknown), S_OK);
        unknown.As(Root.BrowseServerAddressSpace);
        unknown.As(Root.ItemProperties);
    }
    ~NamespaceSimTest() override
    {
        Root.BrowseServerAddressSpace.Reset();
        Root.ItemProperties.Reset();
        if (Control)
            Control->Unregister();
    }

    std::shared_ptr<TSimulationControl> Control;
    TOPCDAClientNamespace Root;
};

TEST_F(NamespaceSimTest, HierarchicalPlantResolvesItems)
{
    for (bool refuseRoot : {false, true}) {
        SCOPED_TRACE(refuseRoot);
        TSimulationKnobs knobs;
        knobs.RefuseBrowseToRoot = refuseRoot;
        Connect(knobs);
        Root.Browse(true);
        EXPECT_EQ(Root.Organization(), DWORD(OPC_NS_HIERARCHIAL));
        auto *t2 = dynamic_cast<TOPCDAClientLeaf *>(Root.FindNodeByPath("Area1\\Line1\\T2"));
        ASSERT_NE(t2, nullptr);
        EXPECT_EQ(GetNodePath(t2), "Area1\\Line1\\T2");
        EXPECT_EQ(t2->GetItemID(), "Area1.Line1.T2");
        EXPECT_EQ(t2->GetDataType(), VARTYPE(VT_R8));
        EXPECT_EQ(t2->GetAccessRights(), DWORD(OPC_READABLE | OPC_WRITEABLE));
        EXPECT_EQ(Root.FindNodeByItemID("Area1.P", true), Root.FindNodeByPath("Area1\\P"));
        EXPECT_EQ(Root.FindNodeByItemID("Top", true), Root.FindNodeByPath("Top"));
        auto *p = dynamic_cast<TOPCDAClientLeaf *>(Root.FindNodeByPath("Area1\\P"));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->GetDataType(), VARTYPE(VT_I4));
        EXPECT_EQ(p->GetAccessRights(), DWORD(OPC_READABLE));
        Root.BrowseServerAddressSpace.Reset();
        Root.ItemProperties.Reset();
        Root.Clear();
        Root.KnownOrganization = 0;
        Control->Unregister();
        Control.reset();
    }
}

TEST_F(NamespaceSimTest, FlatPlantListsFullItemIDs)
{
    TSimulationKnobs knobs;
    knobs.FlatNamespace = true;
    Connect(knobs);
    EXPECT_EQ(Root.ChildCount(), 4);
    EXPECT_EQ(Root.LeafCount, 4);
    EXPECT_NE(Root.FindChildByName("Area1.Line1.T1", false), nullptr);
    EXPECT_EQ(Root.FindNodeByItemID("Area1.Line1.T1", false),
              Root.FindChildByName("Area1.Line1.T1", false));
}

TEST_F(NamespaceSimTest, MissingInterfacesRaise)
{
    TSimulationKnobs knobs;
    knobs.WithBrowsing = false;
    knobs.WithItemProperties = false;
    Connect(knobs);
    EXPECT_FALSE(Root.BrowseServerAddressSpace);
    EXPECT_THROW(Root.ChildCount(), ENoIOPCBrowseServerAddressSpaceIntf);
    EXPECT_FALSE(Root.Browsed);
    Root.Browsed = true;
    Root.AddChild(std::make_unique<TOPCDAClientLeaf>("L", "Top"));
    auto *leaf = dynamic_cast<TOPCDAClientLeaf *>(Root.Child(0));
    EXPECT_THROW(leaf->GetAccessRights(), ENoIOPCItemPropertiesIntf);
    EXPECT_FALSE(leaf->PropertiesRead);
}

} // namespace
