#include "opcsim/SimGroup.h"

#include "opcsim/SimConvert.h"
#include "opcsim/SimServer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

HRESULT Overall(const std::vector<HRESULT> &errors)
{
    for (const HRESULT e : errors)
        if (e != S_OK)
            return S_FALSE;
    return S_OK;
}

namespace {

bool IsGood(WORD quality)
{
    return (quality & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD;
}

bool IsValidSource(OPCDATASOURCE source)
{
    return source == OPC_DS_CACHE || source == OPC_DS_DEVICE;
}

bool IsValidDeadband(float deadband)
{
    return deadband >= 0.0f && deadband <= 100.0f; // false for NaN too
}

} // namespace

TOPCSimGroup::TOPCSimGroup(TOPCSimServer *server, std::shared_ptr<TSimPlant> plant,
                           OPCHANDLE serverHandle, const TSimGroupState &state)
    : m_Server(server), m_Plant(std::move(plant)), m_ServerHandle(serverHandle), m_State(state),
      m_Locale(LocaleOfLcid(state.Lcid))
{
    m_PlantId = m_Plant->AddGroup(this);
    m_DataPoint = MakeCom<TConnectionPoint<IOPCDataCallback>>(
        static_cast<IConnectionPointContainer *>(this), 1);
}

TOPCSimGroup::~TOPCSimGroup()
{
    Disconnect();
}

void TOPCSimGroup::Disconnect()
{
    if (m_Disconnected)
        return;
    m_Disconnected = true;
    m_Server = nullptr;
    m_Plant->RemoveGroup(m_PlantId);
    m_DataPoint->Detach();
    m_Transactions.clear();
    // The cycle buffers may be in a sink's hands right now; only the items go.
    m_Items.clear();
    m_Items.shrink_to_fit();
    m_Slots.clear();
}

HRESULT TOPCSimGroup::Enter() const
{
    if (const DWORD delay = m_Plant->Options().Knobs.CallDelayMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    return m_Disconnected ? RPC_E_DISCONNECTED : S_OK;
}

TOPCSimGroup::TItem *TOPCSimGroup::FindItem(OPCHANDLE handle)
{
    const auto it = m_Slots.find(handle);
    return it == m_Slots.end() ? nullptr : &m_Items[it->second];
}

HRESULT TOPCSimGroup::CheckItem(const OPCITEMDEF &def, int &signal) const
{
    signal = -1;
    if (!TSimPlant::IsWellFormedItemID(def.szItemID))
        return OPC_E_INVALIDITEMID;
    const auto &rejected = m_Plant->Options().Knobs.RejectedItemIDs;
    if (const auto it = rejected.find(def.szItemID); it != rejected.end())
        return FAILED(it->second) ? it->second : E_FAIL;
    signal = m_Plant->FindSignal(def.szItemID);
    if (signal < 0)
        return OPC_E_UNKNOWNITEMID;
    if (!CanConvert(m_Plant->Signals()[signal].Type, def.vtRequestedDataType))
        return OPC_E_BADTYPE;
    return S_OK;
}

void TOPCSimGroup::SampleInto(TItem &item, qint64 now)
{
    WORD quality = 0;
    item.Value = m_Plant->Sample(item.Signal, now, quality);
    item.Quality = quality;
    item.Stamp = FileTimeToUInt64(m_Plant->FileTimeAt(now));
    item.HasValue = true;
}

// Newly active items get their first callback from the loop at once rather than a full update
// period later.
void TOPCSimGroup::ScheduleNow()
{
    m_NextDue = m_Plant->Now();
    m_Plant->Reschedule();
}

HRESULT TOPCSimGroup::ItemValue(const TItem &item, double sample, TVariant &value) const
{
    return m_Plant->Deliverable(item.Signal, sample, item.Requested, m_Locale, value);
}

// IOPCItemMgt

HRESULT TOPCSimGroup::AddItems(std::span<const OPCITEMDEF> items,
                               std::vector<OPCITEMRESULT> &results, std::vector<HRESULT> &errors)
{
    results.clear();
    errors.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (items.empty())
        return E_INVALIDARG;
    results.resize(items.size());
    errors.resize(items.size());
    const qint64 now = m_Plant->Now();
    bool anyActive = false;
    m_Items.reserve(m_Items.size() + items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        int signal = -1;
        errors[i] = CheckItem(items[i], signal);
        if (FAILED(errors[i]))
            continue;
        const TSimSignal &s = m_Plant->Signals()[signal];
        TItem item;
        item.Handle = ++m_LastItemHandle;
        item.Client = items[i].hClient;
        item.Signal = static_cast<std::uint32_t>(signal);
        item.Requested = items[i].vtRequestedDataType;
        item.Active = items[i].bActive != 0;
        item.Span = s.Analog ? s.High - s.Low : 0.0;
        if (item.Active && m_State.Active) {
            SampleInto(item, now);
            item.Force = true;
            anyActive = true;
        }
        m_Slots.emplace(item.Handle, static_cast<std::uint32_t>(m_Items.size()));
        m_Items.push_back(item);
        results[i].hServer = item.Handle;
        results[i].vtCanonicalDataType = s.Type;
        results[i].dwAccessRights = s.AccessRights;
    }
    if (anyActive)
        ScheduleNow();
    return Overall(errors);
}

HRESULT TOPCSimGroup::ValidateItems(std::span<const OPCITEMDEF> items, BOOL,
                                    std::vector<OPCITEMRESULT> &results,
                                    std::vector<HRESULT> &errors)
{
    results.clear();
    errors.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (items.empty())
        return E_INVALIDARG;
    results.resize(items.size());
    errors.resize(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        int signal = -1;
        errors[i] = CheckItem(items[i], signal);
        if (SUCCEEDED(errors[i])) {
            results[i].vtCanonicalDataType = m_Plant->Signals()[signal].Type;
            results[i].dwAccessRights = m_Plant->Signals()[signal].AccessRights;
        }
    }
    return Overall(errors);
}

HRESULT TOPCSimGroup::RemoveItems(std::span<const OPCHANDLE> serverItems,
                                  std::vector<HRESULT> &errors)
{
    errors.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (serverItems.empty())
        return E_INVALIDARG;
    errors.resize(serverItems.size(), S_OK);
    for (std::size_t i = 0; i < serverItems.size(); ++i) {
        const auto it = m_Slots.find(serverItems[i]);
        if (it == m_Slots.end()) {
            errors[i] = OPC_E_INVALIDHANDLE;
            continue;
        }
        // Swap with the last item so the array stays dense.
        const std::uint32_t slot = it->second;
        m_Slots.erase(it);
        if (slot + 1 != m_Items.size()) {
            m_Items[slot] = m_Items.back();
            m_Slots[m_Items[slot].Handle] = slot;
        }
        m_Items.pop_back();
    }
    return Overall(errors);
}

HRESULT TOPCSimGroup::SetActiveState(std::span<const OPCHANDLE> serverItems, BOOL active,
                                     std::vector<HRESULT> &errors)
{
    errors.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (serverItems.empty())
        return E_INVALIDARG;
    errors.resize(serverItems.size(), S_OK);
    const qint64 now = m_Plant->Now();
    bool activated = false;
    for (std::size_t i = 0; i < serverItems.size(); ++i) {
        TItem *item = FindItem(serverItems[i]);
        if (!item) {
            errors[i] = OPC_E_INVALIDHANDLE;
            continue;
        }
        if (active && !item->Active && m_State.Active) {
            SampleInto(*item, now);
            item->Force = true;
            activated = true;
        }
        item->Active = active != 0;
        if (!item->Active)
            item->Force = false;
    }
    if (activated)
        ScheduleNow();
    return Overall(errors);
}

HRESULT TOPCSimGroup::SetClientHandles(std::span<const OPCHANDLE> serverItems,
                                       std::span<const OPCHANDLE> clientItems,
                                       std::vector<HRESULT> &errors)
{
    errors.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (serverItems.empty() || serverItems.size() != clientItems.size())
        return E_INVALIDARG;
    errors.resize(serverItems.size(), S_OK);
    for (std::size_t i = 0; i < serverItems.size(); ++i) {
        if (TItem *item = FindItem(serverItems[i]))
            item->Client = clientItems[i];
        else
            errors[i] = OPC_E_INVALIDHANDLE;
    }
    return Overall(errors);
}

HRESULT TOPCSimGroup::SetDatatypes(std::span<const OPCHANDLE> serverItems,
                                   std::span<const VARTYPE> requestedDataTypes,
                                   std::vector<HRESULT> &errors)
{
    errors.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (serverItems.empty() || serverItems.size() != requestedDataTypes.size())
        return E_INVALIDARG;
    errors.resize(serverItems.size(), S_OK);
    for (std::size_t i = 0; i < serverItems.size(); ++i) {
        TItem *item = FindItem(serverItems[i]);
        if (!item)
            errors[i] = OPC_E_INVALIDHANDLE;
        else if (!CanConvert(m_Plant->Signals()[item->Signal].Type, requestedDataTypes[i]))
            errors[i] = OPC_E_BADTYPE;
        else
            item->Requested = requestedDataTypes[i];
    }
    return Overall(errors);
}

// The item attribute enumerator is not part of this system's interface set.
HRESULT TOPCSimGroup::CreateEnumerator(const IID &, ComPtr<IUnknown> &enumerator)
{
    enumerator.Reset();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    return E_NOTIMPL;
}

// IOPCGroupStateMgt

HRESULT TOPCSimGroup::GetState(DWORD &updateRate, BOOL &active, QString &name, LONG &timeBias,
                               float &percentDeadband, LCID &lcid, OPCHANDLE &clientGroup,
                               OPCHANDLE &serverGroup)
{
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    updateRate = m_State.UpdateRate;
    active = m_State.Active ? 1 : 0;
    name = m_State.Name;
    timeBias = m_State.TimeBias;
    percentDeadband = m_State.PercentDeadband;
    lcid = m_State.Lcid;
    clientGroup = m_State.ClientHandle;
    serverGroup = m_ServerHandle;
    return S_OK;
}

HRESULT TOPCSimGroup::SetState(const DWORD *requestedUpdateRate, DWORD &revisedUpdateRate,
                               const BOOL *active, const LONG *timeBias,
                               const float *percentDeadband, const LCID *lcid,
                               const OPCHANDLE *clientGroup)
{
    revisedUpdateRate = m_State.UpdateRate;
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (percentDeadband && !IsValidDeadband(*percentDeadband))
        return E_INVALIDARG;
    HRESULT result = S_OK;
    if (requestedUpdateRate && m_Server) {
        const DWORD revised = m_Server->ReviseUpdateRate(*requestedUpdateRate);
        if (revised != *requestedUpdateRate)
            result = OPC_S_UNSUPPORTEDRATE;
        if (revised != m_State.UpdateRate && m_State.Active)
            m_NextDue = std::min(m_NextDue, m_Plant->Now() + revised);
        m_State.UpdateRate = revised;
    }
    if (timeBias)
        m_State.TimeBias = *timeBias;
    if (percentDeadband)
        m_State.PercentDeadband = *percentDeadband;
    if (lcid) {
        m_State.Lcid = *lcid;
        m_Locale = LocaleOfLcid(*lcid);
    }
    if (clientGroup)
        m_State.ClientHandle = *clientGroup;
    if (active)
        SetActive(*active != 0);
    revisedUpdateRate = m_State.UpdateRate;
    m_Plant->Reschedule();
    return result;
}

void TOPCSimGroup::SetActive(bool active)
{
    if (active == m_State.Active)
        return;
    m_State.Active = active;
    if (!active)
        return;
    // As servers do: the first callback after activation carries every active item.
    const qint64 now = m_Plant->Now();
    for (TItem &item : m_Items) {
        if (item.Active) {
            SampleInto(item, now);
            item.Force = true;
        }
    }
    ScheduleNow();
}

HRESULT TOPCSimGroup::SetName(const QString &name)
{
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (name.isEmpty())
        return E_INVALIDARG;
    if (m_Server && m_Server->IsNameTaken(name, this))
        return OPC_E_DUPLICATENAME;
    m_State.Name = name;
    return S_OK;
}

HRESULT TOPCSimGroup::CloneGroup(const QString &name, const IID &iid, ComPtr<IUnknown> &group)
{
    group.Reset();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    return m_Server ? m_Server->CloneGroup(*this, name, iid, group) : RPC_E_DISCONNECTED;
}

void TOPCSimGroup::CopyItemsFrom(const TOPCSimGroup &source)
{
    m_Items = source.m_Items;
    for (TItem &item : m_Items) {
        item.HasValue = false;
        item.Force = false;
    }
    m_Slots = source.m_Slots;
    m_LastItemHandle = source.m_LastItemHandle;
}

// IOPCSyncIO

HRESULT TOPCSimGroup::Read(OPCDATASOURCE source, std::span<const OPCHANDLE> serverItems,
                           std::vector<OPCITEMSTATE> &values, std::vector<HRESULT> &errors)
{
    values.clear();
    errors.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (serverItems.empty() || !IsValidSource(source))
        return E_INVALIDARG;
    values.resize(serverItems.size());
    errors.resize(serverItems.size(), S_OK);
    const qint64 now = m_Plant->Now();
    for (std::size_t i = 0; i < serverItems.size(); ++i) {
        TItem *item = FindItem(serverItems[i]);
        if (!item) {
            errors[i] = OPC_E_INVALIDHANDLE;
            continue;
        }
        OPCITEMSTATE &state = values[i];
        state.hClient = item->Client;
        double sample = 0.0;
        if (source == OPC_DS_DEVICE) {
            sample = m_Plant->Sample(item->Signal, now, state.wQuality);
            state.ftTimeStamp = m_Plant->FileTimeAt(now);
        } else {
            const bool inService = m_State.Active && item->Active;
            if (inService && !item->HasValue)
                SampleInto(*item, now);
            if (!item->HasValue) {
                state.wQuality = OPC_QUALITY_OUT_OF_SERVICE;
                continue;
            }
            sample = item->Value;
            state.wQuality = inService ? item->Quality : OPC_QUALITY_OUT_OF_SERVICE;
            state.ftTimeStamp = UInt64ToFileTime(item->Stamp);
        }
        errors[i] = ItemValue(*item, sample, state.vDataValue);
        if (FAILED(errors[i]))
            state.wQuality = OPC_QUALITY_BAD;
    }
    return Overall(errors);
}

HRESULT TOPCSimGroup::Write(std::span<const OPCHANDLE> serverItems,
                            std::span<const TVariant> values, std::vector<HRESULT> &errors)
{
    errors.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (serverItems.empty() || serverItems.size() != values.size())
        return E_INVALIDARG;
    errors.resize(serverItems.size(), S_OK);
    for (std::size_t i = 0; i < serverItems.size(); ++i) {
        const TItem *item = FindItem(serverItems[i]);
        if (!item)
            errors[i] = OPC_E_INVALIDHANDLE;
        else if (!(m_Plant->Signals()[item->Signal].AccessRights & OPC_WRITEABLE))
            errors[i] = OPC_E_BADRIGHTS;
        else
            errors[i] = m_Plant->Write(item->Signal, values[i], m_Locale);
    }
    return Overall(errors);
}

// IOPCAsyncIO2

ComPtr<IOPCDataCallback> TOPCSimGroup::Sink() const
{
    const auto sinks = m_DataPoint->Sinks();
    return sinks.empty() ? ComPtr<IOPCDataCallback>() : sinks.front();
}

HRESULT TOPCSimGroup::Queue(TTransaction transaction, DWORD &cancelID)
{
    cancelID = ++m_LastCancelID;
    if (cancelID == 0)
        cancelID = ++m_LastCancelID; // 0 never names a transaction
    transaction.CancelID = cancelID;
    m_Transactions.push_back(std::move(transaction));
    m_Plant->Post([plant = m_Plant.get(), id = m_PlantId, cancelID] {
        if (TOPCSimGroup *group = plant->FindGroup(id))
            group->Complete(cancelID);
    });
    return S_OK;
}

HRESULT TOPCSimGroup::Read(std::span<const OPCHANDLE> serverItems, DWORD transactionID,
                           DWORD &cancelID, std::vector<HRESULT> &errors)
{
    cancelID = 0;
    errors.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (serverItems.empty())
        return E_INVALIDARG;
    if (!m_DataPoint->HasSinks())
        return CONNECT_E_NOCONNECTION;
    errors.resize(serverItems.size(), S_OK);
    TTransaction transaction{tkRead, transactionID, 0, OPC_DS_DEVICE, {}, {}};
    for (std::size_t i = 0; i < serverItems.size(); ++i) {
        if (FindItem(serverItems[i]))
            transaction.Handles.push_back(serverItems[i]);
        else
            errors[i] = OPC_E_INVALIDHANDLE;
    }
    if (transaction.Handles.empty())
        return S_FALSE; // nothing to read, so no callback either
    Queue(std::move(transaction), cancelID);
    return Overall(errors);
}

HRESULT TOPCSimGroup::Write(std::span<const OPCHANDLE> serverItems,
                            std::span<const TVariant> values, DWORD transactionID, DWORD &cancelID,
                            std::vector<HRESULT> &errors)
{
    cancelID = 0;
    errors.clear();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (serverItems.empty() || serverItems.size() != values.size())
        return E_INVALIDARG;
    if (!m_DataPoint->HasSinks())
        return CONNECT_E_NOCONNECTION;
    errors.resize(serverItems.size(), S_OK);
    TTransaction transaction{tkWrite, transactionID, 0, OPC_DS_DEVICE, {}, {}};
    for (std::size_t i = 0; i < serverItems.size(); ++i) {
        if (FindItem(serverItems[i])) {
            transaction.Handles.push_back(serverItems[i]);
            transaction.Values.push_back(values[i]);
        } else {
            errors[i] = OPC_E_INVALIDHANDLE;
        }
    }
    if (transaction.Handles.empty())
        return S_FALSE;
    Queue(std::move(transaction), cancelID);
    return Overall(errors);
}

HRESULT TOPCSimGroup::Refresh2(OPCDATASOURCE source, DWORD transactionID, DWORD &cancelID)
{
    cancelID = 0;
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (!IsValidSource(source))
        return E_INVALIDARG;
    if (!m_DataPoint->HasSinks())
        return CONNECT_E_NOCONNECTION;
    const bool anyActive =
        std::any_of(m_Items.begin(), m_Items.end(), [](const TItem &item) { return item.Active; });
    if (!m_State.Active || !anyActive)
        return E_FAIL;
    return Queue(TTransaction{tkRefresh, transactionID, 0, source, {}, {}}, cancelID);
}

HRESULT TOPCSimGroup::Cancel2(DWORD cancelID)
{
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    const auto it = std::find_if(m_Transactions.begin(), m_Transactions.end(),
                                 [&](const TTransaction &t) { return t.CancelID == cancelID; });
    if (it == m_Transactions.end())
        return E_FAIL; // unknown, or already completed
    const DWORD transactionID = it->TransactionID;
    m_Transactions.erase(it);
    m_Plant->Post([plant = m_Plant.get(), id = m_PlantId, transactionID] {
        if (TOPCSimGroup *group = plant->FindGroup(id))
            group->CompleteCancel(transactionID);
    });
    return S_OK;
}

HRESULT TOPCSimGroup::SetEnable(BOOL enable)
{
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (!m_DataPoint->HasSinks())
        return CONNECT_E_NOCONNECTION;
    m_Enabled = enable != 0;
    return S_OK;
}

HRESULT TOPCSimGroup::GetEnable(BOOL &enable)
{
    enable = 0;
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (!m_DataPoint->HasSinks())
        return CONNECT_E_NOCONNECTION;
    enable = m_Enabled ? 1 : 0;
    return S_OK;
}

void TOPCSimGroup::Complete(DWORD cancelID)
{
    const auto it = std::find_if(m_Transactions.begin(), m_Transactions.end(),
                                 [&](const TTransaction &t) { return t.CancelID == cancelID; });
    if (it == m_Transactions.end())
        return; // cancelled meanwhile
    const TTransaction transaction = std::move(*it);
    m_Transactions.erase(it);
    const ComPtr<IOPCDataCallback> sink = Sink();
    if (!sink)
        return;

    if (transaction.Kind == tkRefresh) {
        std::vector<std::uint32_t> indices;
        for (std::uint32_t i = 0; i < m_Items.size(); ++i)
            if (m_Items[i].Active)
                indices.push_back(i);
        DeliverData(transaction.TransactionID, std::move(indices),
                    transaction.Source == OPC_DS_DEVICE);
        return;
    }

    // Items removed since the call are left out.
    const qint64 now = m_Plant->Now();
    const FILETIME stamp = m_Plant->FileTimeAt(now);
    std::vector<OPCHANDLE> clients;
    std::vector<HRESULT> errors;
    std::vector<TVariant> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> stamps;
    for (std::size_t i = 0; i < transaction.Handles.size(); ++i) {
        const TItem *item = FindItem(transaction.Handles[i]);
        if (!item)
            continue;
        clients.push_back(item->Client);
        if (transaction.Kind == tkWrite) {
            const TSimSignal &signal = m_Plant->Signals()[item->Signal];
            errors.push_back(!(signal.AccessRights & OPC_WRITEABLE)
                                 ? OPC_E_BADRIGHTS
                                 : m_Plant->Write(item->Signal, transaction.Values[i], m_Locale));
            continue;
        }
        WORD quality = 0;
        const double sample = m_Plant->Sample(item->Signal, now, quality);
        values.emplace_back();
        errors.push_back(ItemValue(*item, sample, values.back()));
        qualities.push_back(FAILED(errors.back()) ? OPC_QUALITY_BAD : quality);
        stamps.push_back(stamp);
    }
    const HRESULT masterError = Overall(errors);
    const auto count = static_cast<DWORD>(clients.size());
    const ComPtr<TOPCSimServer> server(m_Server);
    THold hold(this);
    if (transaction.Kind == tkWrite) {
        sink->OnWriteComplete(transaction.TransactionID, m_State.ClientHandle, masterError, count,
                              clients, errors);
    } else {
        const bool allGood = std::all_of(qualities.begin(), qualities.end(), IsGood);
        sink->OnReadComplete(transaction.TransactionID, m_State.ClientHandle,
                             allGood ? S_OK : S_FALSE, masterError, count, clients, values,
                             qualities, stamps, errors);
    }
}

void TOPCSimGroup::CompleteCancel(DWORD transactionID)
{
    if (const ComPtr<IOPCDataCallback> sink = Sink()) {
        const ComPtr<TOPCSimServer> server(m_Server);
        THold hold(this);
        sink->OnCancelComplete(transactionID, m_State.ClientHandle);
    }
}

// A refresh: every given item, from the cache or freshly sampled.
void TOPCSimGroup::DeliverData(DWORD transactionID, std::vector<std::uint32_t> indices,
                               bool fromDevice)
{
    const ComPtr<IOPCDataCallback> sink = Sink();
    if (!sink)
        return;
    const qint64 now = m_Plant->Now();
    const auto count = indices.size();
    std::vector<OPCHANDLE> clients(count);
    std::vector<TVariant> values(count);
    std::vector<WORD> qualities(count);
    std::vector<FILETIME> stamps(count);
    std::vector<HRESULT> errors(count, S_OK);
    for (std::size_t j = 0; j < count; ++j) {
        TItem &item = m_Items[indices[j]];
        if (fromDevice || !item.HasValue) {
            WORD quality = 0;
            const double sample = m_Plant->Sample(item.Signal, now, quality);
            if (!item.HasValue || sample != item.Value || quality != item.Quality)
                SampleInto(item, now);
        }
        item.Force = false;
        clients[j] = item.Client;
        qualities[j] = m_State.Active ? item.Quality : OPC_QUALITY_OUT_OF_SERVICE;
        stamps[j] = UInt64ToFileTime(item.Stamp);
        errors[j] = ItemValue(item, item.Value, values[j]);
        if (FAILED(errors[j]))
            qualities[j] = OPC_QUALITY_BAD;
    }
    const bool allGood = std::all_of(qualities.begin(), qualities.end(), IsGood);
    const ComPtr<TOPCSimServer> server(m_Server);
    if (server)
        server->NoteUpdate(m_Plant->FileTimeAt(now));
    THold hold(this);
    sink->OnDataChange(transactionID, m_State.ClientHandle, allGood ? S_OK : S_FALSE,
                       Overall(errors), static_cast<DWORD>(count), clients, values, qualities,
                       stamps, errors);
}

void TOPCSimGroup::RunCycle(qint64 now)
{
    const DWORD rate = std::max<DWORD>(m_State.UpdateRate, 1);
    m_NextDue += rate;
    if (m_NextDue <= now)
        m_NextDue = now + rate; // missed cycles are skipped, not caught up

    const std::uint64_t stamp = FileTimeToUInt64(m_Plant->FileTimeAt(now));
    const double deadband = m_State.PercentDeadband / 100.0;
    TSimPlant &plant = *m_Plant;
    m_Changed.clear();
    const auto itemCount = static_cast<std::uint32_t>(m_Items.size());
    for (std::uint32_t i = 0; i < itemCount; ++i) {
        TItem &item = m_Items[i];
        if (!item.Active)
            continue;
        WORD quality = 0;
        const double value = plant.Sample(item.Signal, now, quality);
        const bool changed =
            !item.HasValue || quality != item.Quality ||
            (deadband > 0.0 && item.Span > 0.0 ? std::abs(value - item.Value) > deadband * item.Span
                                               : value != item.Value);
        if (changed) {
            item.Value = value;
            item.Quality = quality;
            item.Stamp = stamp;
            item.HasValue = true;
        }
        if (changed || item.Force)
            m_Changed.push_back(i);
    }
    if (m_Changed.empty() || !m_Enabled)
        return;
    const ComPtr<IOPCDataCallback> sink = Sink();
    if (!sink)
        return; // the cache is current; forced items wait for a sink

    const std::size_t count = m_Changed.size();
    m_OutClients.resize(count);
    m_OutValues.resize(count);
    m_OutQualities.resize(count);
    m_OutStamps.resize(count);
    m_OutErrors.resize(count);
    bool allGood = true;
    bool noErrors = true;
    for (std::size_t j = 0; j < count; ++j) {
        TItem &item = m_Items[m_Changed[j]];
        item.Force = false;
        m_OutClients[j] = item.Client;
        m_OutStamps[j] = UInt64ToFileTime(item.Stamp);
        m_OutErrors[j] = ItemValue(item, item.Value, m_OutValues[j]);
        m_OutQualities[j] = FAILED(m_OutErrors[j]) ? OPC_QUALITY_BAD : item.Quality;
        allGood = allGood && IsGood(m_OutQualities[j]);
        noErrors = noErrors && m_OutErrors[j] == S_OK;
    }

    // The sink may remove this group or release the server; both stay alive until it returns.
    const ComPtr<TOPCSimServer> server(m_Server);
    if (server)
        server->NoteUpdate(UInt64ToFileTime(stamp));
    THold hold(this);
    sink->OnDataChange(0, m_State.ClientHandle, allGood ? S_OK : S_FALSE, noErrors ? S_OK : S_FALSE,
                       static_cast<DWORD>(count), m_OutClients, m_OutValues, m_OutQualities,
                       m_OutStamps, m_OutErrors);
}

// IConnectionPointContainer

HRESULT TOPCSimGroup::EnumConnectionPoints()
{
    return E_NOTIMPL;
}

HRESULT TOPCSimGroup::FindConnectionPoint(const IID &iid, ComPtr<IConnectionPoint> &point)
{
    point.Reset();
    if (const HRESULT hr = Enter(); FAILED(hr))
        return hr;
    if (iid != IOPCDataCallback::Iid)
        return CONNECT_E_NOCONNECTION;
    point = m_DataPoint;
    return S_OK;
}
