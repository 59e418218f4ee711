#include "platform/net/Network.h"

#include "platform/opcda/OpcServerList.h"
#include "platform/system/Exception.h"
#include "platform/system/HostInfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace {

// Reads a whole enumeration in batches of batchSize.
std::vector<TNetResource> ReadAll(TNetEnumHandle handle, DWORD batchSize)
{
    std::vector<TNetResource> all, batch;
    DWORD result = NO_ERROR;
    while ((result = EnumNetworkResources(handle, batchSize, batch)) == NO_ERROR) {
        EXPECT_FALSE(batch.empty());
        EXPECT_LE(batch.size(), batchSize);
        all.insert(all.end(), batch.begin(), batch.end());
    }
    EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
    EXPECT_TRUE(batch.empty());
    return all;
}

// The entries below container as the client lists them: disk resources, containers only.
std::vector<TNetResource> Below(const TNetResource *container, DWORD batchSize = NET_ENUM_ALL)
{
    TNetEnumHandle handle = 0;
    const DWORD opened = OpenNetworkEnumeration(RESOURCE_GLOBALNET, RESOURCETYPE_DISK,
                                                RESOURCEUSAGE_CONTAINER, container, handle);
    EXPECT_EQ(opened, NO_ERROR);
    if (opened != NO_ERROR)
        return {};
    TNetEnumCloser closer(handle);
    return ReadAll(handle, batchSize);
}

std::vector<TNetResource> Below(const TNetResource &container, DWORD batchSize = NET_ENUM_ALL)
{
    return Below(&container, batchSize);
}

std::vector<QString> RemoteNames(const std::vector<TNetResource> &resources)
{
    std::vector<QString> names;
    for (const TNetResource &resource : resources)
        names.push_back(resource.RemoteName);
    return names;
}

bool IsContainerOfContainers(const TNetResource &r)
{
    return (r.DisplayType == RESOURCEDISPLAYTYPE_NETWORK ||
            r.DisplayType == RESOURCEDISPLAYTYPE_DOMAIN) &&
           (r.Usage & ~RESOURCEUSAGE_RESERVED) == RESOURCEUSAGE_CONTAINER;
}

// How a client searches the network for a computer: recursively through networks and domains,
// comparing the remote names of everything else.
bool FindInNetwork(const QString &name, const TNetResource *container)
{
    bool found = false;
    for (const TNetResource &entry : Below(container)) {
        if (IsContainerOfContainers(entry)) {
            if (FindInNetwork(name, &entry))
                return true;
        } else if (entry.RemoteName.compare(name, Qt::CaseInsensitive) == 0) {
            found = true;
        }
    }
    return found;
}

TNetResource Container(const QString &remoteName, DWORD usage = RESOURCEUSAGE_CONTAINER)
{
    TNetResource resource;
    resource.Scope = RESOURCE_GLOBALNET;
    resource.Usage = usage;
    resource.RemoteName = remoteName;
    return resource;
}

class NetworkTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        ClearNetwork();
        UnregisterOpcServerList(LocalHost());
        UnregisterHost("ELSEWHERE");
    }
};

TEST_F(NetworkTest, AnEmptyNetworkListsOnlyItself)
{
    const std::vector<TNetResource> top = Below(nullptr);
    ASSERT_EQ(top.size(), 1u);
    const TNetResource &network = top[0];
    EXPECT_EQ(network.Scope, RESOURCE_GLOBALNET);
    EXPECT_EQ(network.DisplayType, RESOURCEDISPLAYTYPE_NETWORK);
    EXPECT_EQ(network.Usage, RESOURCEUSAGE_CONTAINER | RESOURCEUSAGE_RESERVED);
    EXPECT_EQ(network.RemoteName, QStringLiteral("Tidewell Network"));
    EXPECT_EQ(network.Provider, QStringLiteral("Tidewell Network"));
    EXPECT_TRUE(Below(&network).empty());
    EXPECT_FALSE(FindInNetwork("\\\\" + HostComputerName(), nullptr));
}

TEST_F(NetworkTest, ComputersAreListedByDomainBelowTheNetwork)
{
    AddNetworkComputer("ANLAGE", "PLC2");
    AddNetworkComputer("ANLAGE", "\\\\plc1");
    AddNetworkComputer("Büro", "WS1");
    AddNetworkComputer("", "Lab");

    const TNetResource network = Below(nullptr).at(0);
    // Batches of one must give the same as one batch of all.
    const std::vector<TNetResource> domains = Below(&network, 1);
    EXPECT_EQ(domains, Below(&network));
    ASSERT_EQ(RemoteNames(domains), (std::vector<QString>{"ANLAGE", "Büro", "WORKGROUP"}));
    for (const TNetResource &domain : domains) {
        EXPECT_EQ(domain.DisplayType, RESOURCEDISPLAYTYPE_DOMAIN);
        EXPECT_EQ(domain.Usage, RESOURCEUSAGE_CONTAINER);
        EXPECT_EQ(domain.Provider, NetworkName);
    }

    const std::vector<TNetResource> computers = Below(&domains[0], 1);
    EXPECT_EQ(RemoteNames(computers), (std::vector<QString>{"\\\\plc1", "\\\\PLC2"}));
    for (const TNetResource &computer : computers) {
        EXPECT_EQ(computer.Scope, RESOURCE_GLOBALNET);
        EXPECT_EQ(computer.DisplayType, RESOURCEDISPLAYTYPE_SERVER);
        EXPECT_EQ(computer.Usage, RESOURCEUSAGE_CONTAINER);
        EXPECT_EQ(computer.Provider, NetworkName);
        EXPECT_TRUE(Below(&computer).empty()); // no shares
    }
    EXPECT_EQ(RemoteNames(Below(&domains[2])), std::vector<QString>{"\\\\Lab"});
    // A container record found elsewhere, given by its name only.
    EXPECT_EQ(RemoteNames(Below(Container("büro"))), std::vector<QString>{"\\\\WS1"});
}

TEST_F(NetworkTest, ARecursiveSearchFindsComputersByTheirRemoteName)
{
    AddNetworkComputer("ANLAGE", "PLC1");
    AddNetworkComputer("BUERO", "WS1");
    RegisterHost("ELSEWHERE"); // reachable, not listed

    struct Case
    {
        QString name;
        bool found;
    };
    const Case cases[] = {
        {"\\\\PLC1", true}, {"\\\\plc1", true},       {"\\\\WS1", true},
        {"PLC1", false},    {"\\\\ELSEWHERE", false}, {"ANLAGE", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FindInNetwork(c.name, nullptr), c.found) << c.name.toStdString();
    const TNetResource buero = Container("BUERO");
    EXPECT_FALSE(FindInNetwork("\\\\PLC1", &buero));
    EXPECT_TRUE(FindInNetwork("\\\\WS1", &buero));

    const QString local = "\\\\" + HostComputerName();
    EXPECT_FALSE(FindInNetwork(local, nullptr));
    EXPECT_EQ(&AddNetworkComputer("ANLAGE", HostComputerName()), &LocalHost());
    EXPECT_TRUE(FindInNetwork(local, nullptr));
}

TEST_F(NetworkTest, AddedComputersAreHostsWithOrWithoutTheServerEnumerator)
{
    TComHost &plc = AddNetworkComputer("ANLAGE", "PLC1");
    EXPECT_EQ(FindHost("PLC1"), &plc);
    EXPECT_EQ(plc.Name(), QStringLiteral("PLC1"));
    AddNetworkComputer("ANLAGE", "BARE", false);

    const auto create = [](const QString &computer) {
        ComPtr<IUnknown> object;
        return CoCreateInstanceEx(CLSID_OpcServerList, CLSCTX_SERVER, computer, IOPCServerList::Iid,
                                  object);
    };
    EXPECT_EQ(create("\\\\PLC1"), S_OK);
    EXPECT_EQ(create("BARE"), REGDB_E_CLASSNOTREG);

    EXPECT_TRUE(RemoveNetworkComputer("\\\\plc1"));
    EXPECT_FALSE(RemoveNetworkComputer("PLC1"));
    EXPECT_EQ(FindHost("PLC1"), nullptr);
    EXPECT_EQ(create("PLC1"), RPC_S_SERVER_UNAVAILABLE_HR);
    EXPECT_FALSE(FindInNetwork("\\\\PLC1", nullptr));

    EXPECT_THROW(AddNetworkComputer("ANLAGE", " \\\\ "), Exception);
}

TEST_F(NetworkTest, HostsMadeElsewhereOutliveTheirListing)
{
    TComHost &elsewhere = RegisterHost("ELSEWHERE");
    const CLSID clsid = CreateGUID();
    elsewhere.Classes().Register(TClassInfo{clsid, "Test.Class", "Test", {}, {}});
    EXPECT_EQ(&AddNetworkComputer("ANLAGE", "elsewhere"), &elsewhere);
    EXPECT_TRUE(RemoveNetworkComputer("ELSEWHERE"));
    EXPECT_EQ(FindHost("ELSEWHERE"), &elsewhere);
    EXPECT_TRUE(elsewhere.Classes().Find(clsid));
    EXPECT_TRUE(elsewhere.Classes().Find(CLSID_OpcServerList));

    AddNetworkComputer("ANLAGE", HostComputerName(), false);
    ClearNetwork();
    EXPECT_EQ(FindHost(HostComputerName()), &LocalHost());
    EXPECT_EQ(FindHost("ELSEWHERE"), &elsewhere);
    EXPECT_EQ(RemoteNames(Below(Container(NetworkName))), std::vector<QString>{});
}

TEST_F(NetworkTest, AComputerIsListedOnceAndEmptyDomainsDisappear)
{
    TComHost &first = AddNetworkComputer("ALT", "PLC1");
    TComHost &again = AddNetworkComputer("NEU", "plc1");
    EXPECT_EQ(&again, &first);
    const TNetResource network = Below(nullptr).at(0);
    EXPECT_EQ(RemoteNames(Below(&network)), std::vector<QString>{"NEU"});
    EXPECT_EQ(RemoteNames(Below(Container("NEU"))), std::vector<QString>{"\\\\PLC1"});

    // Moving keeps the host this listing made, so removing it still unregisters it.
    EXPECT_TRUE(RemoveNetworkComputer("PLC1"));
    EXPECT_EQ(FindHost("PLC1"), nullptr);
    EXPECT_TRUE(Below(&network).empty());
}

TEST_F(NetworkTest, EnumerationArgumentsAndHandlesAreChecked)
{
    AddNetworkComputer("ANLAGE", "PLC1");
    struct Case
    {
        DWORD scope, type, usage;
        std::optional<TNetResource> container;
        DWORD result;
        std::vector<QString> names;
    };
    const Case cases[] = {
        {RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, std::nullopt, NO_ERROR, {NetworkName}},
        {RESOURCE_GLOBALNET,
         RESOURCETYPE_PRINT,
         RESOURCEUSAGE_ALL,
         Container("ANLAGE"),
         NO_ERROR,
         {"\\\\PLC1"}},
        {RESOURCE_GLOBALNET,
         RESOURCETYPE_DISK,
         RESOURCEUSAGE_CONNECTABLE,
         Container("ANLAGE"),
         NO_ERROR,
         {}},
        {RESOURCE_GLOBALNET, 5, 0, std::nullopt, ERROR_INVALID_PARAMETER, {}},
        {99, RESOURCETYPE_ANY, 0, std::nullopt, ERROR_INVALID_PARAMETER, {}},
        {RESOURCE_GLOBALNET,
         RESOURCETYPE_DISK,
         RESOURCEUSAGE_CONTAINER,
         Container("ANLAGE", RESOURCEUSAGE_CONNECTABLE),
         ERROR_NOT_CONTAINER,
         {}},
        {RESOURCE_GLOBALNET,
         RESOURCETYPE_DISK,
         RESOURCEUSAGE_CONTAINER,
         Container("NIRGENDS"),
         ERROR_BAD_NET_NAME,
         {}},
        {RESOURCE_GLOBALNET,
         RESOURCETYPE_DISK,
         RESOURCEUSAGE_CONTAINER,
         Container("\\\\PLC9"),
         ERROR_BAD_NET_NAME,
         {}},
        {RESOURCE_CONNECTED, RESOURCETYPE_ANY, 0, std::nullopt, NO_ERROR, {}},
        {RESOURCE_REMEMBERED, RESOURCETYPE_ANY, 0, std::nullopt, NO_ERROR, {}},
        {RESOURCE_CONTEXT, RESOURCETYPE_ANY, 0, std::nullopt, NO_ERROR, {}},
    };
    for (const Case &c : cases) {
        TNetEnumHandle handle = 12345;
        const DWORD result = OpenNetworkEnumeration(c.scope, c.type, c.usage,
                                                    c.container ? &*c.container : nullptr, handle);
        EXPECT_EQ(result, c.result) << c.scope << "/" << c.type << "/" << c.usage;
        if (result != NO_ERROR) {
            EXPECT_EQ(handle, 0u);
            continue;
        }
        EXPECT_NE(handle, 0u);
        EXPECT_EQ(RemoteNames(ReadAll(handle, NET_ENUM_ALL)), c.names);
        EXPECT_EQ(CloseNetworkEnumeration(handle), NO_ERROR);
        EXPECT_EQ(CloseNetworkEnumeration(handle), ERROR_INVALID_HANDLE);
        std::vector<TNetResource> resources(1);
        EXPECT_EQ(EnumNetworkResources(handle, 1, resources), ERROR_INVALID_HANDLE);
        EXPECT_TRUE(resources.empty());
    }

    TNetEnumHandle handle = 0;
    ASSERT_EQ(OpenNetworkEnumeration(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, nullptr, handle),
              NO_ERROR);
    std::vector<TNetResource> resources;
    EXPECT_EQ(EnumNetworkResources(handle, 0, resources), ERROR_INVALID_PARAMETER);
    {
        TNetEnumCloser closer(handle);
    }
    EXPECT_EQ(EnumNetworkResources(handle, 1, resources), ERROR_INVALID_HANDLE);
    EXPECT_EQ(EnumNetworkResources(0, 1, resources), ERROR_INVALID_HANDLE);
}

TEST_F(NetworkTest, TheContextIsTheDomainOfThisComputer)
{
    AddNetworkComputer("ANLAGE", "PLC1");
    AddNetworkComputer("BUERO", "WS1");
    AddNetworkComputer("BUERO", HostComputerName());
    TNetEnumHandle handle = 0;
    ASSERT_EQ(OpenNetworkEnumeration(RESOURCE_CONTEXT, RESOURCETYPE_ANY, 0, nullptr, handle),
              NO_ERROR);
    TNetEnumCloser closer(handle);
    std::vector<QString> names = RemoteNames(ReadAll(handle, NET_ENUM_ALL));
    std::sort(names.begin(), names.end());
    std::vector<QString> expected{"\\\\WS1", "\\\\" + HostComputerName()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
}

TEST_F(NetworkTest, AnOpenEnumerationKeepsWhatWasListedWhenItOpened)
{
    AddNetworkComputer("ANLAGE", "PLC1");
    TNetEnumHandle first = 0, second = 0;
    const TNetResource domain = Container("ANLAGE");
    ASSERT_EQ(OpenNetworkEnumeration(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, RESOURCEUSAGE_CONTAINER,
                                     &domain, first),
              NO_ERROR);
    TNetEnumCloser closeFirst(first);
    AddNetworkComputer("ANLAGE", "PLC2");
    RemoveNetworkComputer("PLC1");
    ASSERT_EQ(OpenNetworkEnumeration(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, RESOURCEUSAGE_CONTAINER,
                                     &domain, second),
              NO_ERROR);
    TNetEnumCloser closeSecond(second);
    EXPECT_NE(first, second);
    EXPECT_EQ(RemoteNames(ReadAll(second, 1)), std::vector<QString>{"\\\\PLC2"});
    EXPECT_EQ(RemoteNames(ReadAll(first, 1)), std::vector<QString>{"\\\\PLC1"});
}

} // namespace
