#include "platform/opcda/OpcServerList.h"

#include "platform/system/HostInfo.h"

#include <gtest/gtest.h>

namespace {

const GUID CatOther{0x7E110001, 0x2222, 0x4000, 0x80, 0x00, 0, 0, 0, 0, 0, 1};

class TDummy : public TComObject<IPersistFile>
{
    HRESULT GetClassID(CLSID &) override { return E_NOTIMPL; }
    HRESULT IsDirty() override { return S_FALSE; }
    HRESULT Load(const QString &, DWORD) override { return E_NOTIMPL; }
    HRESULT Save(const QString &, BOOL) override { return E_NOTIMPL; }
    HRESULT SaveCompleted(const QString &) override { return E_NOTIMPL; }
    HRESULT GetCurFile(QString &) override { return E_NOTIMPL; }
};

TClassInfo ServerClass(const QString &progID, std::vector<GUID> categories)
{
    return TClassInfo{CreateGUID(), progID, progID + QStringLiteral(" server"),
                      std::move(categories), [](const QString &, ComPtr<IUnknown> &object) {
                          object = MakeCom<TDummy>();
                          return S_OK;
                      }};
}

class OpcServerListTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        for (const QString &name : m_Hosts)
            UnregisterHost(name);
        for (const CLSID &clsid : m_LocalClasses)
            LocalHost().Classes().Unregister(clsid);
        UnregisterOpcServerList(LocalHost());
    }

    TComHost &AddHost(const QString &name, bool withServerList = true)
    {
        m_Hosts.push_back(name);
        TComHost &host = RegisterHost(name);
        if (withServerList)
            RegisterOpcServerList(host);
        return host;
    }
    CLSID AddClass(TComHost &host, TClassInfo info)
    {
        const CLSID clsid = info.Clsid;
        host.Classes().Register(std::move(info));
        if (&host == &LocalHost())
            m_LocalClasses.push_back(clsid);
        return clsid;
    }

    static HRESULT Create(const QString &computer, ComPtr<IOPCServerList> &list)
    {
        ComPtr<IUnknown> object;
        const HRESULT hr =
            CoCreateInstanceEx(CLSID_OpcServerList, CLSCTX_SERVER, computer, IUnknown::Iid, object);
        if (FAILED(hr))
            return hr;
        return object.As(list);
    }
    static ComPtr<IOPCServerList> Create(const QString &computer)
    {
        ComPtr<IOPCServerList> list;
        EXPECT_EQ(Create(computer, list), S_OK) << computer.toStdString();
        return list;
    }

    static std::vector<CLSID> Enumerate(IOPCServerList &list, std::vector<GUID> implemented,
                                        std::vector<GUID> required)
    {
        ComPtr<IEnumGUID> classes;
        EXPECT_EQ(list.EnumClassesOfCategories(implemented, required, classes), S_OK);
        std::vector<CLSID> found;
        if (!classes)
            return found;
        // One at a time, as clients fetch them.
        while (classes->Next(1, found) == S_OK) {
        }
        return found;
    }

private:
    std::vector<QString> m_Hosts;
    std::vector<CLSID> m_LocalClasses;
};

TEST_F(OpcServerListTest, AClassIsListedForAnyImplementedAndAllRequiredCategories)
{
    TComHost &host = AddHost("OPCHOST");
    const CLSID da1 = AddClass(host, ServerClass("Vendor.DA1", {CATID_OPCDAServer10}));
    const CLSID da2 = AddClass(host, ServerClass("Vendor.DA2", {CATID_OPCDAServer20}));
    const CLSID both = AddClass(
        host, ServerClass("Vendor.Both", {CATID_OPCDAServer10, CATID_OPCDAServer20, CatOther}));
    const CLSID none = AddClass(host, ServerClass("Vendor.None", {}));
    // Classes found at run time count as well.
    const TClassInfo provided = ServerClass("Gateway.DA2", {CATID_OPCDAServer20});
    host.Classes().AddProvider([provided] { return std::vector<TClassInfo>{provided}; });

    const ComPtr<IOPCServerList> list = Create("OPCHOST");
    ASSERT_TRUE(list);
    struct Case
    {
        std::vector<GUID> implemented, required;
        std::vector<CLSID> expected;
    };
    const Case cases[] = {
        {{CATID_OPCDAServer20}, {}, {da2, both, provided.Clsid}},
        {{CATID_OPCDAServer10, CATID_OPCDAServer20}, {}, {da1, da2, both, provided.Clsid}},
        {{CATID_OPCDAServer20}, {CATID_OPCDAServer10}, {both}},
        {{}, {CATID_OPCDAServer10, CATID_OPCDAServer20}, {both}},
        {{CatOther}, {CATID_OPCDAServer20}, {both}},
        {{CreateGUID()}, {}, {}},
        {{}, {}, {CLSID_OpcServerList, da1, da2, both, none, provided.Clsid}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(Enumerate(*list, cases[i].implemented, cases[i].required), cases[i].expected)
            << "case " << i;
}

TEST_F(OpcServerListTest, EachComputerListsItsOwnClasses)
{
    ASSERT_FALSE(HostComputerName().isEmpty());
    const CLSID onA = AddClass(AddHost("PLC-A"), ServerClass("Vendor.A", {CATID_OPCDAServer20}));
    const CLSID onB = AddClass(AddHost("PLC-B"), ServerClass("Vendor.B", {CATID_OPCDAServer20}));
    const CLSID local = AddClass(LocalHost(), ServerClass("Vendor.Local", {CATID_OPCDAServer20}));
    EnsureLocalOpcServerList();

    struct Case
    {
        QString computer;
        CLSID expected;
    };
    const Case cases[] = {
        {"PLC-A", onA},
        {"\\\\plc-b", onB},
        {"", local},
        {HostComputerName().toLower(), local},
    };
    for (const Case &c : cases) {
        const ComPtr<IOPCServerList> list = Create(c.computer);
        ASSERT_TRUE(list);
        EXPECT_EQ(Enumerate(*list, {CATID_OPCDAServer20}, {}), std::vector<CLSID>{c.expected})
            << c.computer.toStdString();
    }
}

TEST_F(OpcServerListTest, DetailsAndProgIDsComeFromThatComputer)
{
    TComHost &host = AddHost("PLC-A");
    const CLSID clsid = AddClass(host, ServerClass("Vendor.Server.1", {CATID_OPCDAServer20}));
    const CLSID localOnly = AddClass(LocalHost(), ServerClass("Vendor.Local.1", {}));
    const ComPtr<IOPCServerList> list = Create("PLC-A");
    ASSERT_TRUE(list);

    QString progID = "old", name = "old";
    EXPECT_EQ(list->GetClassDetails(clsid, progID, name), S_OK);
    EXPECT_EQ(progID, QStringLiteral("Vendor.Server.1"));
    EXPECT_EQ(name, QStringLiteral("Vendor.Server.1 server"));
    EXPECT_EQ(list->GetClassDetails(localOnly, progID, name), REGDB_E_CLASSNOTREG);
    EXPECT_TRUE(progID.isEmpty());
    EXPECT_TRUE(name.isEmpty());
    EXPECT_EQ(list->GetClassDetails(CLSID_OpcServerList, progID, name), S_OK);
    EXPECT_EQ(progID, QStringLiteral("OPC.ServerList.1"));
    EXPECT_EQ(name, QStringLiteral("OpcEnum"));

    CLSID found = CreateGUID();
    EXPECT_EQ(list->CLSIDFromProgID("VENDOR.server.1", found), S_OK);
    EXPECT_EQ(found, clsid);
    EXPECT_EQ(list->CLSIDFromProgID("Vendor.Local.1", found), CO_E_CLASSSTRING);
    EXPECT_TRUE(found.isNull());
    EXPECT_EQ(list->CLSIDFromProgID("", found), CO_E_CLASSSTRING);
    EXPECT_EQ(list->CLSIDFromProgID("opc.serverlist.1", found), S_OK);
    EXPECT_EQ(found, CLSID_OpcServerList);

    // Classes registered later are seen: the enumerator reads the registry at each call.
    const CLSID later = AddClass(host, ServerClass("Vendor.Later", {CATID_OPCDAServer20}));
    EXPECT_EQ(Enumerate(*list, {CATID_OPCDAServer20}, {}), (std::vector<CLSID>{clsid, later}));
}

TEST_F(OpcServerListTest, AComputerWithoutTheEnumeratorOrOutOfReachHasNone)
{
    ComPtr<IOPCServerList> list;
    AddHost("BARE", false);
    EXPECT_EQ(Create("BARE", list), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(Create("NOWHERE", list), RPC_S_SERVER_UNAVAILABLE_HR);
    UnregisterOpcServerList(LocalHost());
    EXPECT_EQ(Create("", list), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(list);

    TComHost &host = AddHost("PLC-A");
    host.SetReachable(false);
    EXPECT_EQ(Create("PLC-A", list), RPC_S_SERVER_UNAVAILABLE_HR);
}

TEST_F(OpcServerListTest, AnEnumeratorWhoseComputerIsGoneReportsItUnavailable)
{
    TComHost &host = AddHost("PLC-A");
    const CLSID clsid = AddClass(host, ServerClass("Vendor.Server.1", {CATID_OPCDAServer20}));
    const ComPtr<IOPCServerList> list = Create("PLC-A");
    ASSERT_TRUE(list);

    host.SetReachable(false);
    ComPtr<IEnumGUID> classes;
    EXPECT_EQ(list->EnumClassesOfCategories({}, {}, classes), RPC_S_SERVER_UNAVAILABLE_HR);
    host.SetReachable(true);
    EXPECT_EQ(list->EnumClassesOfCategories({}, {}, classes), S_OK);

    UnregisterHost("PLC-A");
    QString progID, name;
    CLSID found;
    EXPECT_EQ(list->EnumClassesOfCategories({}, {}, classes), RPC_S_SERVER_UNAVAILABLE_HR);
    EXPECT_FALSE(classes);
    EXPECT_EQ(list->GetClassDetails(clsid, progID, name), RPC_S_SERVER_UNAVAILABLE_HR);
    EXPECT_EQ(list->CLSIDFromProgID("Vendor.Server.1", found), RPC_S_SERVER_UNAVAILABLE_HR);
}

TEST_F(OpcServerListTest, TheLocalEnumeratorIsRegisteredOnceUnderItsPublishedNames)
{
    UnregisterOpcServerList(LocalHost());
    EnsureLocalOpcServerList();
    EnsureLocalOpcServerList();
    const auto classes = LocalHost().Classes().Classes();
    EXPECT_EQ(std::count_if(classes.begin(), classes.end(),
                            [](const TClassInfo &c) { return c.Clsid == CLSID_OpcServerList; }),
              1);
    CLSID clsid;
    ASSERT_EQ(::CLSIDFromProgID("OPC.ServerList.1", clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_OpcServerList);
    EXPECT_EQ(GUIDToString(clsid), QStringLiteral("{13486D51-4821-11D2-A494-3CB306C10000}"));

    ComPtr<IOPCServerList> list = Create("");
    ASSERT_TRUE(list);
    EXPECT_TRUE(list.As<IUnknown>());
    EXPECT_FALSE(list.As<IOPCServer>());
}

} // namespace
