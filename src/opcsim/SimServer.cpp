#include "opcsim/SimServer.h"

#include "opcsim/SimConvert.h"
#include "opcsim/SimGroup.h"
#include "platform/system/DateTime.h"
#include "platform/system/Version.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

constexpr LCID LocaleNeutral = 0x0000;
constexpr LCID LocaleUserDefault = 0x0400;
constexpr LCID LocaleSystemDefault = 0x0800;
constexpr LCID AvailableLocales[] = {0x0409, 0x0407, LocaleSystemDefault, LocaleUserDefault,
                                     LocaleNeutral};

bool IsAvailableLocale(LCID lcid)
{
    return std::find(std::begin(AvailableLocales), std::end(AvailableLocales), lcid) !=
           std::end(AvailableLocales);
}

struct TErrorText
{
    HRESULT Code;
    const char *Text;
};

constexpr TErrorText ErrorTexts[] = {
    {S_OK, "The operation succeeded."},
    {S_FALSE, "The operation succeeded for some of the items only."},
    {E_FAIL, "Unspecified error."},
    {E_NOTIMPL, "Not implemented."},
    {E_NOINTERFACE, "No such interface supported."},
    {E_POINTER, "Invalid pointer."},
    {E_OUTOFMEMORY, "Not enough memory."},
    {E_INVALIDARG, "One or more arguments are invalid."},
    {E_UNEXPECTED, "Catastrophic failure."},
    {CONNECT_E_NOCONNECTION, "No callback is connected."},
    {CONNECT_E_ADVISELIMIT, "The connection point accepts no further callback."},
    {CONNECT_E_CANNOTCONNECT, "The callback does not support the required interface."},
    {RPC_E_DISCONNECTED, "The server has disconnected from its clients."},
    {OPC_E_INVALIDHANDLE, "The value of the handle is invalid."},
    {OPC_E_BADTYPE, "The server cannot convert between the requested and the canonical data "
                    "type."},
    {OPC_E_PUBLIC, "The operation cannot be done on a public group."},
    {OPC_E_BADRIGHTS, "The access rights of the item do not allow the operation."},
    {OPC_E_UNKNOWNITEMID, "The item id is not defined in the server's address space."},
    {OPC_E_INVALIDITEMID, "The item id does not conform to the server's syntax."},
    {OPC_E_INVALIDFILTER, "The filter string is not valid."},
    {OPC_E_UNKNOWNPATH, "The access path is not known to the server."},
    {OPC_E_RANGE, "The value is out of range."},
    {OPC_E_DUPLICATENAME, "A group of that name exists already."},
    {OPC_S_UNSUPPORTEDRATE, "The server does not support the requested update rate and uses the "
                            "closest rate it supports."},
    {OPC_S_CLAMP, "The written value was accepted but clamped."},
    {OPC_S_INUSE, "The object is still referenced; it is removed when the references are "
                  "released."},
    {OPC_E_INVALIDCONFIGFILE, "The server's configuration file is not valid."},
    {OPC_E_NOTFOUND, "The requested object was not found."},
    {OPC_E_INVALID_PID, "The property id is not valid for the item."},
};

struct TPropertyInfo
{
    DWORD ID;
    const char *Description;
    VARTYPE Type;
};

constexpr TPropertyInfo Properties[] = {
    {OPC_PROPERTY_DATATYPE, "Item Canonical Data Type", VT_I2},
    {OPC_PROPERTY_VALUE, "Item Value", VT_VARIANT},
    {OPC_PROPERTY_QUALITY, "Item Quality", VT_I2},
    {OPC_PROPERTY_TIMESTAMP, "Item Timestamp", VT_DATE},
    {OPC_PROPERTY_ACCESS_RIGHTS, "Item Access Rights", VT_I4},
    {OPC_PROPERTY_SCAN_RATE, "Server Scan Rate", VT_R4},
    {OPC_PROPERTY_EU_UNITS, "EU Units", VT_BSTR},
    {OPC_PROPERTY_DESCRIPTION, "Item Description", VT_BSTR},
};

bool HasProperty(const TSimSignal &signal, DWORD id)
{
    if (id == OPC_PROPERTY_EU_UNITS)
        return !signal.Unit.isEmpty();
    return std::any_of(std::begin(Properties), std::end(Properties),
                       [&](const TPropertyInfo &p) { return p.ID == id; });
}

// '*' matches any run of characters, '?' one character; case matters.
bool MatchesFilter(QStringView text, QStringView filter)
{
    qsizetype t = 0, f = 0, star = -1, resume = 0;
    while (t < text.size()) {
        if (f < filter.size() && (filter[f] == u'?' || filter[f] == text[t])) {
            ++t;
            ++f;
        } else if (f < filter.size() && filter[f] == u'*') {
            star = f++;
            resume = t;
        } else if (star >= 0) {
            f = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (f < filter.size() && filter[f] == u'*')
        ++f;
    return f == filter.size();
}

} // namespace

TOPCSimServer::TOPCSimServer(std::shared_ptr<TSimPlant> plant) : m_Plant(std::move(plant))
{
    m_PlantId = m_Plant->AddServer(this);
    m_ShutdownPoint =
        MakeCom<TConnectionPoint<IOPCShutdown>>(static_cast<IConnectionPointContainer *>(this), 16);
}

TOPCSimServer::~TOPCSimServer()
{
    Disconnect();
    m_Plant->RemoveServer(m_PlantId);
}

void TOPCSimServer::Disconnect()
{
    m_Disconnected = true;
    m_ShutdownPoint->Detach();
    // Groups go first out of the table, so nothing they trigger finds them there.
    auto groups = std::move(m_Groups);
    m_Groups.clear();
    for (auto &[handle, group] : groups)
        group->Disconnect();
}

HRESULT TOPCSimServer::QueryInterface(const IID &iid, void **object)
{
    const TSimulationKnobs &knobs = m_Plant->Options().Knobs;
    if ((iid == IOPCBrowseServerAddressSpace::Iid && !knobs.WithBrowsing) ||
        (iid == IOPCItemProperties::Iid && !knobs.WithItemProperties) ||
        (iid == IOPCServerPublicGroups::Iid && !knobs.WithPublicGroups)) {
        if (object)
            *object = nullptr;
        return E_NOINTERFACE;
    }
    return TComObject::QueryInterface(iid, object);
}

HRESULT TOPCSimServer::Enter() const
{
    if (const DWORD delay = m_Plant->Options().Knobs.CallDelayMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    return m_Disconnected ? RPC_E_DISCONNECTED : S_OK;
}

DWORD TOPCSimServer::ReviseUpdateRate(DWORD requested) const
{
    return std::max(requested, m_Plant->Options().MinUpdateRate);
}

bool TOPCSimServer::IsNameTaken(const QString &name, const TOPCSimGroup *except) const
{
    return std::any_of(m_Groups.begin(), m_Groups.end(), [&](const auto &entry) {
        return entry.second.Get() != except && entry.second->Name() == name;
    });
}

QString TOPCSimServer::UniqueGroupName() const
{
    for (OPCHANDLE n = m_LastGroupHandle + 1;; ++n) {
        const QString name = QStringLiteral("Group%1").arg(n);
        if (!IsNameTaken(name, nullptr))
            return name;
    }
}

// IOPCServer

HRESULT TOPCSimServer::AddGroup(const QString &name, BOOL active, DWORD requestedUpdateRate,
                                OPCHANDLE clientGroup, const LONG *timeBias,
                                const float *percentDeadband, LCID lcid, OPCHANDLE &serverGroup,
                                DWORD &revisedUpdateRate, const IID &iid, ComPtr<IUnknown> &group)
{
    serverGroup = 0;
    revisedUpdateRate = 0;
    group.Reset();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (const HRESULT hr = m_Plant->Options().Knobs.AddGroupError; FAILED(hr))
        return hr;
    if (percentDeadband && !(*percentDeadband >= 0.0f && *percentDeadband <= 100.0f))
        return E_INVALIDARG;
    if (!name.isEmpty() && IsNameTaken(name, nullptr))
        return OPC_E_DUPLICATENAME;

    TSimGroupState state;
    state.Name = name.isEmpty() ? UniqueGroupName() : name;
    state.UpdateRate = ReviseUpdateRate(requestedUpdateRate);
    state.TimeBias = timeBias ? *timeBias : LocalTimeZoneBiasMinutes(QDateTime::currentDateTime());
    state.PercentDeadband = percentDeadband ? *percentDeadband : 0.0f;
    state.Lcid = lcid;
    state.ClientHandle = clientGroup;

    // Ask for the interface before the group counts as added, so a refused one leaves nothing.
    auto created = MakeCom<TOPCSimGroup>(this, m_Plant, m_LastGroupHandle + 1, state);
    void *raw = nullptr;
    if (FAILED(created->QueryInterface(iid, &raw)) || !raw)
        return E_NOINTERFACE;
    group = ComPtr<IUnknown>::Attach(static_cast<IUnknown *>(raw));
    serverGroup = ++m_LastGroupHandle;
    m_Groups.emplace(serverGroup, created);
    revisedUpdateRate = state.UpdateRate;
    created->SetActive(active != 0);
    return revisedUpdateRate == requestedUpdateRate ? S_OK : OPC_S_UNSUPPORTEDRATE;
}

HRESULT TOPCSimServer::ErrorText(HRESULT error, QString &text) const
{
    for (const TErrorText &entry : ErrorTexts) {
        if (entry.Code == error) {
            text = QString::fromLatin1(entry.Text);
            return S_OK;
        }
    }
    text.clear();
    return E_INVALIDARG;
}

HRESULT TOPCSimServer::GetErrorString(HRESULT error, LCID locale, QString &text)
{
    text.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (!IsAvailableLocale(locale))
        return E_INVALIDARG;
    return ErrorText(error, text);
}

HRESULT TOPCSimServer::GetGroupByName(const QString &name, const IID &iid, ComPtr<IUnknown> &group)
{
    group.Reset();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    for (const auto &[handle, candidate] : m_Groups) {
        if (candidate->Name() != name)
            continue;
        void *raw = nullptr;
        if (FAILED(candidate->QueryInterface(iid, &raw)) || !raw)
            return E_NOINTERFACE;
        group = ComPtr<IUnknown>::Attach(static_cast<IUnknown *>(raw));
        return S_OK;
    }
    return E_INVALIDARG;
}

HRESULT TOPCSimServer::GetStatus(OPCSERVERSTATUS &status)
{
    status = OPCSERVERSTATUS();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    status.ftStartTime = m_Plant->StartTime();
    status.ftCurrentTime = m_Plant->FileTimeAt(m_Plant->Now());
    status.ftLastUpdateTime = m_LastUpdate;
    status.dwServerState = m_Plant->Options().Knobs.ServerState;
    status.dwGroupCount = static_cast<DWORD>(m_Groups.size());
    status.dwBandWidth = 0xFFFFFFFF; // not known
    status.wMajorVersion = TidewellVersion::MajorVersion;
    status.wMinorVersion = TidewellVersion::MinorVersion;
    status.wBuildNumber = TidewellVersion::Build;
    status.szVendorInfo = QString::fromLatin1(TidewellOPCSimulationVendor);
    return S_OK;
}

HRESULT TOPCSimServer::RemoveGroup(OPCHANDLE serverGroup, BOOL force)
{
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    const auto it = m_Groups.find(serverGroup);
    if (it == m_Groups.end())
        return OPC_E_INVALIDHANDLE;
    const ComPtr<TOPCSimGroup> group = std::move(it->second);
    m_Groups.erase(it);
    // The group leaves the server either way; a client still holding it gets
    // RPC_E_DISCONNECTED from now on and frees it with its last Release.
    const bool inUse = group->ClientReferences() > 0;
    group->Disconnect();
    return inUse && !force ? OPC_S_INUSE : S_OK;
}

HRESULT TOPCSimServer::CreateGroupEnumerator(OPCENUMSCOPE scope, const IID &iid,
                                             ComPtr<IUnknown> &enumerator)
{
    enumerator.Reset();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (scope < OPC_ENUM_PRIVATE_CONNECTIONS || scope > OPC_ENUM_ALL)
        return E_INVALIDARG;
    if (iid != IEnumString::Iid)
        return E_NOINTERFACE;
    std::vector<QString> names;
    // This server has private groups only.
    if (scope != OPC_ENUM_PUBLIC && scope != OPC_ENUM_PUBLIC_CONNECTIONS)
        for (const auto &[handle, group] : m_Groups)
            names.push_back(group->Name());
    const bool empty = names.empty();
    enumerator = AsUnknown(MakeCom<TEnumString>(std::move(names)));
    return empty ? S_FALSE : S_OK;
}

HRESULT TOPCSimServer::CloneGroup(const TOPCSimGroup &source, const QString &name, const IID &iid,
                                  ComPtr<IUnknown> &group)
{
    if (!name.isEmpty() && IsNameTaken(name, nullptr))
        return OPC_E_DUPLICATENAME;
    TSimGroupState state = source.State();
    state.Name = name.isEmpty() ? UniqueGroupName() : name;
    state.Active = false;
    auto created = MakeCom<TOPCSimGroup>(this, m_Plant, m_LastGroupHandle + 1, state);
    void *raw = nullptr;
    if (FAILED(created->QueryInterface(iid, &raw)) || !raw)
        return E_NOINTERFACE;
    group = ComPtr<IUnknown>::Attach(static_cast<IUnknown *>(raw));
    created->CopyItemsFrom(source);
    m_Groups.emplace(++m_LastGroupHandle, created);
    return S_OK;
}

// IOPCCommon

HRESULT TOPCSimServer::SetLocaleID(LCID lcid)
{
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (!IsAvailableLocale(lcid))
        return E_INVALIDARG;
    m_Locale = lcid;
    return S_OK;
}

HRESULT TOPCSimServer::GetLocaleID(LCID &lcid)
{
    lcid = 0;
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    lcid = m_Locale;
    return S_OK;
}

HRESULT TOPCSimServer::QueryAvailableLocaleIDs(std::vector<LCID> &lcids)
{
    lcids.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    lcids.assign(std::begin(AvailableLocales), std::end(AvailableLocales));
    return S_OK;
}

HRESULT TOPCSimServer::GetErrorString(HRESULT error, QString &text)
{
    text.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    return ErrorText(error, text);
}

HRESULT TOPCSimServer::SetClientName(const QString &name)
{
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    m_ClientName = name;
    return S_OK;
}

// IOPCItemProperties

HRESULT TOPCSimServer::FindItem(const QString &itemID, int &signal) const
{
    signal = -1;
    if (!TSimPlant::IsWellFormedItemID(itemID))
        return OPC_E_INVALIDITEMID;
    signal = m_Plant->FindSignal(itemID);
    return signal < 0 ? OPC_E_UNKNOWNITEMID : S_OK;
}

HRESULT TOPCSimServer::QueryAvailableProperties(const QString &itemID,
                                                std::vector<DWORD> &propertyIDs,
                                                std::vector<QString> &descriptions,
                                                std::vector<VARTYPE> &dataTypes)
{
    propertyIDs.clear();
    descriptions.clear();
    dataTypes.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    int signal = -1;
    if (const HRESULT hr = FindItem(itemID, signal); FAILED(hr))
        return hr;
    for (const TPropertyInfo &property : Properties) {
        if (!HasProperty(m_Plant->Signals()[signal], property.ID))
            continue;
        propertyIDs.push_back(property.ID);
        descriptions.push_back(QString::fromLatin1(property.Description));
        dataTypes.push_back(property.Type);
    }
    return S_OK;
}

HRESULT TOPCSimServer::GetItemProperties(const QString &itemID, std::span<const DWORD> propertyIDs,
                                         std::vector<TVariant> &data, std::vector<HRESULT> &errors)
{
    data.clear();
    errors.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    int signal = -1;
    if (const HRESULT hr = FindItem(itemID, signal); FAILED(hr))
        return hr;
    if (propertyIDs.empty())
        return E_INVALIDARG;
    const TSimSignal &s = m_Plant->Signals()[signal];
    const auto index = static_cast<std::uint32_t>(signal);
    const qint64 now = m_Plant->Now();
    WORD quality = 0;
    const double sample = m_Plant->Sample(index, now, quality);
    data.resize(propertyIDs.size());
    errors.resize(propertyIDs.size(), S_OK);
    for (std::size_t i = 0; i < propertyIDs.size(); ++i) {
        TVariant &value = data[i];
        switch (HasProperty(s, propertyIDs[i]) ? propertyIDs[i] : 0) {
        case OPC_PROPERTY_DATATYPE: value = TVariant::FromI2(static_cast<qint16>(s.Type)); break;
        case OPC_PROPERTY_VALUE:
            errors[i] =
                m_Plant->Deliverable(index, sample, VT_EMPTY, LocaleOfLcid(m_Locale), value);
            break;
        case OPC_PROPERTY_QUALITY: value = TVariant::FromI2(static_cast<qint16>(quality)); break;
        case OPC_PROPERTY_TIMESTAMP:
            // UTC, like the time stamps of the data callbacks.
            value = TVariant::FromDate(
                DateTimeFromQDateTime(FileTimeToQDateTime(m_Plant->FileTimeAt(now))));
            break;
        case OPC_PROPERTY_ACCESS_RIGHTS:
            value = TVariant::FromI4(static_cast<qint32>(s.AccessRights));
            break;
        case OPC_PROPERTY_SCAN_RATE:
            value = TVariant::FromR4(static_cast<float>(m_Plant->Options().MinUpdateRate));
            break;
        case OPC_PROPERTY_EU_UNITS: value = TVariant::FromString(s.Unit); break;
        case OPC_PROPERTY_DESCRIPTION: value = TVariant::FromString(s.Description); break;
        default: errors[i] = OPC_E_INVALID_PID; break;
        }
    }
    return Overall(errors);
}

// No property of this server is an item of its own.
HRESULT TOPCSimServer::LookupItemIDs(const QString &itemID, std::span<const DWORD> propertyIDs,
                                     std::vector<QString> &newItemIDs, std::vector<HRESULT> &errors)
{
    newItemIDs.clear();
    errors.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    int signal = -1;
    if (const HRESULT hr = FindItem(itemID, signal); FAILED(hr))
        return hr;
    if (propertyIDs.empty())
        return E_INVALIDARG;
    newItemIDs.resize(propertyIDs.size());
    for (const DWORD id : propertyIDs)
        errors.push_back(HasProperty(m_Plant->Signals()[signal], id) ? E_FAIL : OPC_E_INVALID_PID);
    return S_FALSE;
}

// IOPCBrowseServerAddressSpace

HRESULT TOPCSimServer::QueryOrganization(OPCNAMESPACETYPE &organization)
{
    organization = OPC_NS_HIERARCHIAL;
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (m_Plant->Options().Knobs.FlatNamespace)
        organization = OPC_NS_FLAT;
    return S_OK;
}

HRESULT TOPCSimServer::ChangeBrowsePosition(OPCBROWSEDIRECTION direction, const QString &name)
{
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    const TSimulationKnobs &knobs = m_Plant->Options().Knobs;
    if (knobs.FlatNamespace)
        return E_FAIL; // a flat space has no positions
    const auto &branches = m_Plant->Branches();
    switch (direction) {
    case OPC_BROWSE_UP:
        if (m_BrowseBranch == 0)
            return E_FAIL;
        m_BrowseBranch = branches[m_BrowseBranch].Parent;
        return S_OK;
    case OPC_BROWSE_DOWN:
        for (const int child : branches[m_BrowseBranch].Branches) {
            if (branches[child].Name == name) {
                m_BrowseBranch = child;
                return S_OK;
            }
        }
        return E_INVALIDARG; // a leaf, or no such branch
    case OPC_BROWSE_TO: {
        if (name.isEmpty() && knobs.RefuseBrowseToRoot)
            return E_INVALIDARG;
        const int branch = m_Plant->FindBranch(name);
        if (branch < 0)
            return E_INVALIDARG;
        m_BrowseBranch = branch;
        return S_OK;
    }
    }
    return E_INVALIDARG;
}

HRESULT TOPCSimServer::BrowseOPCItemIDs(OPCBROWSETYPE browseType, const QString &filterCriteria,
                                        VARTYPE dataTypeFilter, DWORD accessRightsFilter,
                                        ComPtr<IEnumString> &names)
{
    names.Reset();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (browseType != OPC_BRANCH && browseType != OPC_LEAF && browseType != OPC_FLAT)
        return E_INVALIDARG;
    const QString filter = filterCriteria.isEmpty() ? QStringLiteral("*") : filterCriteria;
    const auto &branches = m_Plant->Branches();
    const auto &allSignals = m_Plant->Signals();
    // Data type and access rights filter leaves only: a type filter keeps the items that
    // AddItems would accept with that type.
    const auto leafPasses = [&](const TSimSignal &s, const QString &text) {
        return MatchesFilter(text, filter) &&
               (dataTypeFilter == VT_EMPTY || CanConvert(s.Type, dataTypeFilter)) &&
               (s.AccessRights & accessRightsFilter) == accessRightsFilter;
    };
    std::vector<QString> found;
    const bool flat = m_Plant->Options().Knobs.FlatNamespace;
    if (browseType == OPC_BRANCH) {
        if (!flat)
            for (const int child : branches[m_BrowseBranch].Branches)
                if (MatchesFilter(branches[child].Name, filter))
                    found.push_back(branches[child].Name);
    } else if (browseType == OPC_LEAF && !flat) {
        for (const std::uint32_t leaf : branches[m_BrowseBranch].Leaves)
            if (leafPasses(allSignals[leaf], allSignals[leaf].Name))
                found.push_back(allSignals[leaf].Name);
    } else {
        // Full item ids of everything at and below the position (all of them when flat).
        const QString &path = flat ? QString() : branches[m_BrowseBranch].Path;
        const QString prefix = path.isEmpty() ? QString() : path + SimSeparator;
        for (const TSimSignal &s : allSignals)
            if (s.ItemID.startsWith(prefix) && leafPasses(s, s.ItemID))
                found.push_back(s.ItemID);
    }
    const bool empty = found.empty();
    names = MakeCom<TEnumString>(std::move(found));
    return empty ? S_FALSE : S_OK;
}

HRESULT TOPCSimServer::GetItemID(const QString &itemDataID, QString &itemID)
{
    itemID.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (m_Plant->Options().Knobs.FlatNamespace) {
        if (m_Plant->FindSignal(itemDataID) < 0)
            return E_INVALIDARG;
        itemID = itemDataID;
        return S_OK;
    }
    const TSimBranch &here = m_Plant->Branches()[m_BrowseBranch];
    if (itemDataID.isEmpty()) {
        itemID = here.Path;
        return S_OK;
    }
    const QString candidate =
        here.Path.isEmpty() ? itemDataID : here.Path + SimSeparator + itemDataID;
    if (!itemDataID.contains(SimSeparator) &&
        (m_Plant->FindSignal(candidate) >= 0 || m_Plant->FindBranch(candidate) >= 0)) {
        itemID = candidate;
        return S_OK;
    }
    return E_INVALIDARG;
}

HRESULT TOPCSimServer::BrowseAccessPaths(const QString &, ComPtr<IEnumString> &paths)
{
    paths.Reset();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    return E_NOTIMPL; // the simulation has no access paths
}

// IOPCServerPublicGroups: the simulation has no public groups.

HRESULT TOPCSimServer::GetPublicGroupByName(const QString &, const IID &, ComPtr<IUnknown> &group)
{
    group.Reset();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    return OPC_E_NOTFOUND;
}

HRESULT TOPCSimServer::RemovePublicGroup(OPCHANDLE, BOOL)
{
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    return OPC_E_INVALIDHANDLE;
}

// IPersistFile: the plant is chosen at registration; a client can ask which file it came from.

HRESULT TOPCSimServer::GetClassID(CLSID &clsid)
{
    clsid = CLSID();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    clsid = m_Plant->Options().Clsid;
    return S_OK;
}

HRESULT TOPCSimServer::IsDirty()
{
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    return S_FALSE;
}

HRESULT TOPCSimServer::Load(const QString &, DWORD)
{
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    return E_NOTIMPL;
}

HRESULT TOPCSimServer::Save(const QString &, BOOL)
{
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    return E_NOTIMPL;
}

HRESULT TOPCSimServer::SaveCompleted(const QString &)
{
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    return E_NOTIMPL;
}

HRESULT TOPCSimServer::GetCurFile(QString &fileName)
{
    fileName.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    const TSimulationOptions &options = m_Plant->Options();
    if (options.PlantFile.isEmpty() || !options.PlantText.isEmpty())
        return S_FALSE;
    fileName = options.PlantFile;
    return S_OK;
}

// IConnectionPointContainer

HRESULT TOPCSimServer::EnumConnectionPoints()
{
    return E_NOTIMPL;
}

HRESULT TOPCSimServer::FindConnectionPoint(const IID &iid, ComPtr<IConnectionPoint> &point)
{
    point.Reset();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (iid != IOPCShutdown::Iid)
        return CONNECT_E_NOCONNECTION;
    point = m_ShutdownPoint;
    return S_OK;
}

// Shutdown

void TOPCSimServer::BeginShutdown(const QString &reason)
{
    if (m_Disconnected || m_ShutdownPending)
        return;
    m_ShutdownPending = true;
    m_Plant->Post([plant = m_Plant.get(), id = m_PlantId, reason] {
        if (TOPCSimServer *server = plant->FindServer(id))
            server->DeliverShutdown(reason);
    });
}

// The sinks may still clean up (unadvise, remove groups) while they are told; the server
// disconnects once every sink has heard it.
void TOPCSimServer::DeliverShutdown(const QString &reason)
{
    const ComPtr<TOPCSimServer> keep(this);
    for (const ComPtr<IOPCShutdown> &sink : m_ShutdownPoint->Sinks()) {
        try {
            sink->ShutdownRequest(reason);
        } catch (...) {
            // A sink that throws has failed its call; the others are still told.
        }
    }
    Disconnect();
}
