#include "platform/net/Network.h"

#include "platform/opcda/OpcServerList.h"
#include "platform/system/Exception.h"
#include "platform/system/HostInfo.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace {

struct TComputerEntry
{
    QString Name;          // without "\\"
    bool OwnsHost = false; // the host was made by AddNetworkComputer
};

struct TDomainEntry
{
    QString Name;
    std::vector<TComputerEntry> Computers;
};

struct TOpenEnumeration
{
    std::vector<TNetResource> Entries;
    std::size_t Position = 0;
};

// Guards the listing, the open enumerations and the handle counter.
std::mutex networkMutex;

std::vector<TDomainEntry> &Domains()
{
    static std::vector<TDomainEntry> domains;
    return domains;
}

std::map<TNetEnumHandle, TOpenEnumeration> &OpenEnumerations()
{
    static std::map<TNetEnumHandle, TOpenEnumeration> open;
    return open;
}

TNetEnumHandle lastHandle = 0;

QString PlainComputerName(const QString &name)
{
    QString plain = name.trimmed();
    while (plain.startsWith(u'\\'))
        plain.remove(0, 1);
    return plain;
}

bool SameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool LessName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) < 0;
}

TNetResource Record(DWORD displayType, DWORD usage, const QString &remoteName)
{
    TNetResource record;
    record.Scope = RESOURCE_GLOBALNET;
    record.Type = RESOURCETYPE_ANY;
    record.DisplayType = displayType;
    record.Usage = usage;
    record.RemoteName = remoteName;
    record.Provider = NetworkName;
    return record;
}

TNetResource NetworkRecord()
{
    return Record(RESOURCEDISPLAYTYPE_NETWORK, RESOURCEUSAGE_CONTAINER | RESOURCEUSAGE_RESERVED,
                  NetworkName);
}

TNetResource DomainRecord(const TDomainEntry &domain)
{
    return Record(RESOURCEDISPLAYTYPE_DOMAIN, RESOURCEUSAGE_CONTAINER, domain.Name);
}

TNetResource ComputerRecord(const TComputerEntry &computer)
{
    return Record(RESOURCEDISPLAYTYPE_SERVER, RESOURCEUSAGE_CONTAINER,
                  QStringLiteral("\\\\") + computer.Name);
}

// Sorted by name, as a network browser shows them.
std::vector<TNetResource> DomainRecords()
{
    std::vector<const TDomainEntry *> domains;
    for (const TDomainEntry &domain : Domains())
        domains.push_back(&domain);
    std::sort(domains.begin(), domains.end(),
              [](auto *a, auto *b) { return LessName(a->Name, b->Name); });
    std::vector<TNetResource> records;
    for (const TDomainEntry *domain : domains)
        records.push_back(DomainRecord(*domain));
    return records;
}

std::vector<TNetResource> ComputerRecords(const TDomainEntry &domain)
{
    std::vector<TComputerEntry> computers = domain.Computers;
    std::sort(computers.begin(), computers.end(),
              [](const auto &a, const auto &b) { return LessName(a.Name, b.Name); });
    std::vector<TNetResource> records;
    for (const TComputerEntry &computer : computers)
        records.push_back(ComputerRecord(computer));
    return records;
}

// The domain and index of a listed computer; caller holds the lock.
std::pair<TDomainEntry *, std::size_t> FindComputer(const QString &plainName)
{
    for (TDomainEntry &domain : Domains())
        for (std::size_t i = 0; i < domain.Computers.size(); ++i)
            if (SameName(domain.Computers[i].Name, plainName))
                return {&domain, i};
    return {nullptr, 0};
}

// Takes a computer out of the listing, dropping its domain when that becomes empty; returns
// the entry. Caller holds the lock.
TComputerEntry Unlist(TDomainEntry &domain, std::size_t index)
{
    TComputerEntry entry = domain.Computers[index];
    domain.Computers.erase(domain.Computers.begin() + static_cast<std::ptrdiff_t>(index));
    if (domain.Computers.empty())
        std::erase_if(Domains(), [&](const TDomainEntry &d) { return &d == &domain; });
    return entry;
}

// The entries below a container of the global network; caller holds the lock.
DWORD GlobalEntries(const TNetResource *container, std::vector<TNetResource> &entries)
{
    if (!container) {
        entries.push_back(NetworkRecord());
        return NO_ERROR;
    }
    if ((container->Usage & RESOURCEUSAGE_CONTAINER) == 0)
        return ERROR_NOT_CONTAINER;
    const QString &name = container->RemoteName;
    if (SameName(name, NetworkName)) {
        entries = DomainRecords();
        return NO_ERROR;
    }
    for (const TDomainEntry &domain : Domains()) {
        if (SameName(domain.Name, name)) {
            entries = ComputerRecords(domain);
            return NO_ERROR;
        }
    }
    // A computer's shares are not part of this network.
    if (name.startsWith(QStringLiteral("\\\\")) && FindComputer(PlainComputerName(name)).first)
        return NO_ERROR;
    return ERROR_BAD_NET_NAME;
}

TComHost &HostFor(const QString &plainName, bool &madeHere)
{
    madeHere = false;
    if (IsLocalComputerName(plainName))
        return LocalHost();
    if (TComHost *existing = FindHost(plainName))
        return *existing;
    madeHere = true;
    return RegisterHost(plainName);
}

} // namespace

TComHost &AddNetworkComputer(const QString &domain, const QString &computerName,
                             bool withServerList)
{
    const QString plainName = PlainComputerName(computerName);
    if (plainName.isEmpty())
        RaiseMissingParameter(QStringLiteral("AddNetworkComputer"), QStringLiteral("computerName"));
    const QString domainName = domain.trimmed().isEmpty() ? DefaultWorkgroup : domain.trimmed();

    TComHost *host = nullptr;
    {
        std::lock_guard guard(networkMutex);
        TComputerEntry entry{plainName, false};
        if (auto [oldDomain, index] = FindComputer(plainName); oldDomain) {
            entry = Unlist(*oldDomain, index);
            host = FindHost(plainName);
        }
        if (!host)
            host = &HostFor(plainName, entry.OwnsHost);
        auto it = std::find_if(Domains().begin(), Domains().end(),
                               [&](const TDomainEntry &d) { return SameName(d.Name, domainName); });
        if (it == Domains().end())
            it = Domains().insert(Domains().end(), TDomainEntry{domainName, {}});
        it->Computers.push_back(entry);
    }
    if (withServerList)
        RegisterOpcServerList(*host);
    return *host;
}

bool RemoveNetworkComputer(const QString &computerName)
{
    TComputerEntry entry;
    {
        std::lock_guard guard(networkMutex);
        auto [domain, index] = FindComputer(PlainComputerName(computerName));
        if (!domain)
            return false;
        entry = Unlist(*domain, index);
    }
    if (entry.OwnsHost)
        UnregisterHost(entry.Name);
    return true;
}

void ClearNetwork()
{
    std::vector<TDomainEntry> domains;
    {
        std::lock_guard guard(networkMutex);
        domains.swap(Domains());
    }
    for (const TDomainEntry &domain : domains)
        for (const TComputerEntry &computer : domain.Computers)
            if (computer.OwnsHost)
                UnregisterHost(computer.Name);
}

DWORD OpenNetworkEnumeration(DWORD scope, DWORD type, DWORD usage, const TNetResource *container,
                             TNetEnumHandle &handle)
{
    handle = 0;
    if (type != RESOURCETYPE_ANY && type != RESOURCETYPE_DISK && type != RESOURCETYPE_PRINT)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard guard(networkMutex);
    std::vector<TNetResource> entries;
    switch (scope) {
    case RESOURCE_GLOBALNET:
        if (const DWORD error = GlobalEntries(container, entries); error != NO_ERROR)
            return error;
        break;
    case RESOURCE_CONTEXT:
        for (const TDomainEntry &domain : Domains())
            if (std::any_of(domain.Computers.begin(), domain.Computers.end(),
                            [](const auto &c) { return IsLocalComputerName(c.Name); }))
                entries = ComputerRecords(domain);
        break;
    case RESOURCE_CONNECTED:
    case RESOURCE_REMEMBERED: break;
    default: return ERROR_INVALID_PARAMETER;
    }
    // Every entry here is a container and none is connectable.
    const DWORD kinds = usage & (RESOURCEUSAGE_CONNECTABLE | RESOURCEUSAGE_CONTAINER);
    if (kinds != 0)
        std::erase_if(entries, [&](const TNetResource &r) { return (r.Usage & kinds) == 0; });

    do
        handle = ++lastHandle;
    while (handle == 0 || OpenEnumerations().contains(handle));
    OpenEnumerations()[handle] = TOpenEnumeration{std::move(entries), 0};
    return NO_ERROR;
}

DWORD EnumNetworkResources(TNetEnumHandle handle, DWORD maxCount,
                           std::vector<TNetResource> &resources)
{
    resources.clear();
    std::lock_guard guard(networkMutex);
    auto it = OpenEnumerations().find(handle);
    if (it == OpenEnumerations().end())
        return ERROR_INVALID_HANDLE;
    if (maxCount == 0)
        return ERROR_INVALID_PARAMETER;
    TOpenEnumeration &open = it->second;
    const std::size_t left = open.Entries.size() - open.Position;
    if (left == 0)
        return ERROR_NO_MORE_ITEMS;
    const std::size_t count = std::min<std::size_t>(left, maxCount);
    const auto first = open.Entries.begin() + static_cast<std::ptrdiff_t>(open.Position);
    resources.assign(first, first + static_cast<std::ptrdiff_t>(count));
    open.Position += count;
    return NO_ERROR;
}

DWORD CloseNetworkEnumeration(TNetEnumHandle handle)
{
    std::lock_guard guard(networkMutex);
    return OpenEnumerations().erase(handle) ? NO_ERROR : ERROR_INVALID_HANDLE;
}
