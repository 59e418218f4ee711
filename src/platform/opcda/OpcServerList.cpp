#include "platform/opcda/OpcServerList.h"

#include <algorithm>

namespace {
bool Implements(const TClassInfo &info, const GUID &category)
{
    return std::find(info.ImplementedCategories.begin(), info.ImplementedCategories.end(),
                     category) != info.ImplementedCategories.end();
}
} // namespace

TOPCServerList::TOPCServerList(QString computerName) : m_ComputerName(std::move(computerName)) {}

TComHost *TOPCServerList::Host() const
{
    TComHost *host = FindHost(m_ComputerName);
    return host && host->Reachable() ? host : nullptr;
}

HRESULT TOPCServerList::EnumClassesOfCategories(std::span<const GUID> implemented,
                                                std::span<const GUID> required,
                                                ComPtr<IEnumGUID> &classes)
{
    classes.Reset();
    TComHost *host = Host();
    if (!host)
        return RPC_S_SERVER_UNAVAILABLE_HR;
    std::vector<GUID> found;
    for (const TClassInfo &info : host->Classes().Classes()) {
        const bool anyImplemented =
            implemented.empty() || std::any_of(implemented.begin(), implemented.end(),
                                               [&](const GUID &c) { return Implements(info, c); });
        const bool allRequired = std::all_of(required.begin(), required.end(),
                                             [&](const GUID &c) { return Implements(info, c); });
        if (anyImplemented && allRequired)
            found.push_back(info.Clsid);
    }
    classes = MakeCom<TEnumGUID>(std::move(found));
    return S_OK;
}

HRESULT TOPCServerList::GetClassDetails(const CLSID &clsid, QString &progID, QString &userType)
{
    progID.clear();
    userType.clear();
    TComHost *host = Host();
    if (!host)
        return RPC_S_SERVER_UNAVAILABLE_HR;
    const std::optional<TClassInfo> info = host->Classes().Find(clsid);
    if (!info)
        return REGDB_E_CLASSNOTREG;
    progID = info->ProgID;
    userType = info->Name;
    return S_OK;
}

HRESULT TOPCServerList::CLSIDFromProgID(const QString &progID, CLSID &clsid)
{
    clsid = CLSID();
    TComHost *host = Host();
    if (!host)
        return RPC_S_SERVER_UNAVAILABLE_HR;
    const std::optional<TClassInfo> info = host->Classes().FindProgID(progID);
    if (!info)
        return CO_E_CLASSSTRING;
    clsid = info->Clsid;
    return S_OK;
}

void RegisterOpcServerList(TComHost &host)
{
    host.Classes().Register(TClassInfo{CLSID_OpcServerList,
                                       OpcServerListProgID,
                                       OpcServerListName,
                                       {},
                                       [](const QString &computerName, ComPtr<IUnknown> &object) {
                                           object = MakeCom<TOPCServerList>(computerName);
                                           return S_OK;
                                       }});
}

bool UnregisterOpcServerList(TComHost &host)
{
    return host.Classes().Unregister(CLSID_OpcServerList);
}

void EnsureLocalOpcServerList()
{
    if (!LocalHost().Classes().Find(CLSID_OpcServerList))
        RegisterOpcServerList(LocalHost());
}
