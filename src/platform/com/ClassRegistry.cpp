#include "platform/com/ClassRegistry.h"

#include "platform/system/HostInfo.h"

#include <algorithm>
#include <map>

void TClassRegistry::Register(TClassInfo info)
{
    std::lock_guard guard(m_Mutex);
    auto it = std::find_if(m_Classes.begin(), m_Classes.end(),
                           [&](const TClassInfo &c) { return c.Clsid == info.Clsid; });
    if (it != m_Classes.end())
        *it = std::move(info);
    else
        m_Classes.push_back(std::move(info));
}

bool TClassRegistry::Unregister(const CLSID &clsid)
{
    std::lock_guard guard(m_Mutex);
    return std::erase_if(m_Classes, [&](const TClassInfo &c) { return c.Clsid == clsid; }) > 0;
}

void TClassRegistry::AddProvider(TClassProvider provider)
{
    std::lock_guard guard(m_Mutex);
    m_Providers.push_back(std::move(provider));
}

std::vector<TClassInfo> TClassRegistry::Classes() const
{
    std::vector<TClassInfo> classes;
    std::vector<TClassProvider> providers;
    {
        std::lock_guard guard(m_Mutex);
        classes = m_Classes;
        providers = m_Providers;
    }
    // Providers run outside the lock: they may take their time or look at this registry.
    for (const TClassProvider &provider : providers)
        for (TClassInfo &info : provider())
            if (std::none_of(classes.begin(), classes.end(),
                             [&](const TClassInfo &c) { return c.Clsid == info.Clsid; }))
                classes.push_back(std::move(info));
    return classes;
}

std::optional<TClassInfo> TClassRegistry::Find(const CLSID &clsid) const
{
    for (TClassInfo &info : Classes())
        if (info.Clsid == clsid)
            return std::move(info);
    return std::nullopt;
}

std::optional<TClassInfo> TClassRegistry::FindProgID(const QString &progID) const
{
    if (progID.isEmpty())
        return std::nullopt;
    for (TClassInfo &info : Classes())
        if (info.ProgID.compare(progID, Qt::CaseInsensitive) == 0)
            return std::move(info);
    return std::nullopt;
}

namespace {
std::mutex hostsMutex;

std::map<QString, std::unique_ptr<TComHost>> &Hosts()
{
    static std::map<QString, std::unique_ptr<TComHost>> hosts;
    return hosts;
}

// The name without blanks and leading backslashes.
QString PlainName(const QString &name)
{
    QString plain = name.trimmed();
    while (plain.startsWith(u'\\'))
        plain.remove(0, 1);
    return plain;
}

QString HostKey(const QString &name)
{
    return PlainName(name).toLower();
}
} // namespace

TComHost &LocalHost()
{
    static TComHost local(HostComputerName());
    return local;
}

bool IsLocalComputerName(const QString &name)
{
    const QString key = HostKey(name);
    return key.isEmpty() || key == HostKey(LocalHost().Name());
}

TComHost &RegisterHost(const QString &name)
{
    // A host under a local name would never be found: FindHost answers those with this computer.
    if (IsLocalComputerName(name))
        return LocalHost();
    std::lock_guard guard(hostsMutex);
    auto &host = Hosts()[HostKey(name)];
    if (!host)
        host = std::make_unique<TComHost>(PlainName(name));
    return *host;
}

void UnregisterHost(const QString &name)
{
    if (IsLocalComputerName(name))
        return;
    std::lock_guard guard(hostsMutex);
    Hosts().erase(HostKey(name));
}

TComHost *FindHost(const QString &computerName)
{
    if (IsLocalComputerName(computerName))
        return &LocalHost();
    std::lock_guard guard(hostsMutex);
    auto it = Hosts().find(HostKey(computerName));
    return it == Hosts().end() ? nullptr : it->second.get();
}

HRESULT CLSIDFromProgID(const QString &progID, CLSID &clsid)
{
    clsid = CLSID();
    const auto info = LocalHost().Classes().FindProgID(progID);
    if (!info)
        return CO_E_CLASSSTRING;
    clsid = info->Clsid;
    return S_OK;
}

HRESULT CoCreateInstance(const CLSID &clsid, DWORD context, const IID &iid,
                         ComPtr<IUnknown> &object)
{
    return CoCreateInstanceEx(clsid, context, QString(), iid, object);
}

HRESULT CoCreateInstanceEx(const CLSID &clsid, DWORD context, const QString &computerName,
                           const IID &iid, ComPtr<IUnknown> &object)
{
    object.Reset();
    if ((context & CLSCTX_SERVER) == 0)
        return E_INVALIDARG;
    TComHost *host = FindHost(computerName);
    if (!host || !host->Reachable())
        return RPC_S_SERVER_UNAVAILABLE_HR;
    const auto info = host->Classes().Find(clsid);
    if (!info || !info->Factory)
        return REGDB_E_CLASSNOTREG;
    ComPtr<IUnknown> created;
    HRESULT hr = S_OK;
    // An exception must not cross the activation call, as it could not cross a process.
    try {
        hr = info->Factory(computerName, created);
    } catch (...) {
        return CO_E_SERVER_EXEC_FAILURE;
    }
    if (FAILED(hr))
        return hr;
    if (!created)
        return E_UNEXPECTED;
    void *raw = nullptr;
    if (FAILED(created->QueryInterface(iid, &raw)) || !raw)
        return E_NOINTERFACE;
    // Every interface derives from IUnknown, and the reference is the one QueryInterface added.
    object = ComPtr<IUnknown>::Attach(static_cast<IUnknown *>(raw));
    return S_OK;
}
