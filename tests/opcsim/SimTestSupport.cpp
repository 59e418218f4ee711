#include "SimTestSupport.h"

namespace {

TDataChange Record(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterQuality,
                   HRESULT masterError, DWORD count, std::span<const OPCHANDLE> clientItems,
                   std::span<const TVariant> values, std::span<const WORD> qualities,
                   std::span<const FILETIME> timeStamps, std::span<const HRESULT> errors)
{
    EXPECT_EQ(clientItems.size(), count);
    EXPECT_EQ(values.size(), count);
    EXPECT_EQ(qualities.size(), count);
    EXPECT_EQ(timeStamps.size(), count);
    EXPECT_EQ(errors.size(), count);
    return TDataChange{transactionID,
                       clientGroup,
                       masterQuality,
                       masterError,
                       {clientItems.begin(), clientItems.end()},
                       {values.begin(), values.end()},
                       {qualities.begin(), qualities.end()},
                       {timeStamps.begin(), timeStamps.end()},
                       {errors.begin(), errors.end()}};
}

} // namespace

std::size_t TDataChange::IndexOf(OPCHANDLE client) const
{
    for (std::size_t i = 0; i < Clients.size(); ++i)
        if (Clients[i] == client)
            return i;
    ADD_FAILURE() << "client handle " << client << " is not in the callback";
    return 0;
}

bool TDataChange::Has(OPCHANDLE client) const
{
    return std::find(Clients.begin(), Clients.end(), client) != Clients.end();
}

HRESULT TTestDataSink::OnDataChange(DWORD transactionID, OPCHANDLE clientGroup,
                                    HRESULT masterQuality, HRESULT masterError, DWORD count,
                                    std::span<const OPCHANDLE> clientItems,
                                    std::span<const TVariant> values,
                                    std::span<const WORD> qualities,
                                    std::span<const FILETIME> timeStamps,
                                    std::span<const HRESULT> errors)
{
    DataChanges.push_back(Record(transactionID, clientGroup, masterQuality, masterError, count,
                                 clientItems, values, qualities, timeStamps, errors));
    if (DuringDataChange)
        DuringDataChange();
    return S_OK;
}

HRESULT TTestDataSink::OnReadComplete(DWORD transactionID, OPCHANDLE clientGroup,
                                      HRESULT masterQuality, HRESULT masterError, DWORD count,
                                      std::span<const OPCHANDLE> clientItems,
                                      std::span<const TVariant> values,
                                      std::span<const WORD> qualities,
                                      std::span<const FILETIME> timeStamps,
                                      std::span<const HRESULT> errors)
{
    ReadCompletes.push_back(Record(transactionID, clientGroup, masterQuality, masterError, count,
                                   clientItems, values, qualities, timeStamps, errors));
    return S_OK;
}

HRESULT TTestDataSink::OnWriteComplete(DWORD transactionID, OPCHANDLE clientGroup,
                                       HRESULT masterError, DWORD count,
                                       std::span<const OPCHANDLE> clientItems,
                                       std::span<const HRESULT> errors)
{
    EXPECT_EQ(clientItems.size(), count);
    EXPECT_EQ(errors.size(), count);
    TDataChange change;
    change.TransactionID = transactionID;
    change.Group = clientGroup;
    change.MasterError = masterError;
    change.Clients.assign(clientItems.begin(), clientItems.end());
    change.Errors.assign(errors.begin(), errors.end());
    WriteCompletes.push_back(std::move(change));
    return S_OK;
}

HRESULT TTestDataSink::OnCancelComplete(DWORD transactionID, OPCHANDLE clientGroup)
{
    CancelCompletes.emplace_back(transactionID, clientGroup);
    return S_OK;
}

HRESULT TTestShutdownSink::ShutdownRequest(const QString &reason)
{
    Reasons.push_back(reason);
    if (DuringShutdown)
        DuringShutdown();
    return S_OK;
}

std::vector<OPCHANDLE> TTestGroup::AddItems(std::initializer_list<const char *> ids, bool active,
                                            VARTYPE requested) const
{
    std::vector<OPCITEMDEF> defs;
    for (const char *id : ids) {
        OPCITEMDEF def;
        def.szItemID = QString::fromUtf8(id);
        def.bActive = active ? 1 : 0;
        def.hClient = FirstClientItem + static_cast<OPCHANDLE>(defs.size());
        def.vtRequestedDataType = requested;
        defs.push_back(def);
    }
    std::vector<OPCITEMRESULT> results;
    std::vector<HRESULT> errors;
    const HRESULT hr = As<IOPCItemMgt>()->AddItems(defs, results, errors);
    EXPECT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
    std::vector<OPCHANDLE> handles;
    for (const OPCITEMRESULT &result : results)
        handles.push_back(result.hServer);
    handles.resize(defs.size());
    return handles;
}

DWORD TTestGroup::Advise(const ComPtr<TTestDataSink> &sink) const
{
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(As<IConnectionPointContainer>()->FindConnectionPoint(IOPCDataCallback::Iid, point),
              S_OK);
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(sink.Get(), cookie), S_OK);
    return cookie;
}

HRESULT TTestGroup::SetActive(bool active) const
{
    DWORD revised = 0;
    const BOOL flag = active ? 1 : 0;
    return As<IOPCGroupStateMgt>()->SetState(nullptr, revised, &flag, nullptr, nullptr, nullptr,
                                             nullptr);
}

HRESULT TTestGroup::SetDeadband(float percent) const
{
    DWORD revised = 0;
    return As<IOPCGroupStateMgt>()->SetState(nullptr, revised, nullptr, nullptr, &percent, nullptr,
                                             nullptr);
}

HRESULT TTestGroup::SetLocale(LCID lcid) const
{
    DWORD revised = 0;
    return As<IOPCGroupStateMgt>()->SetState(nullptr, revised, nullptr, nullptr, nullptr, &lcid,
                                             nullptr);
}

OPCITEMSTATE TTestGroup::ReadOne(OPCHANDLE item, OPCDATASOURCE source, HRESULT *error) const
{
    std::vector<OPCITEMSTATE> values;
    std::vector<HRESULT> errors;
    const OPCHANDLE handles[] = {item};
    const HRESULT hr = As<IOPCSyncIO>()->Read(source, handles, values, errors);
    if (error)
        *error = errors.empty() ? hr : errors[0];
    else
        EXPECT_EQ(hr, S_OK);
    return values.empty() ? OPCITEMSTATE() : values[0];
}

HRESULT TTestGroup::WriteOne(OPCHANDLE item, const TVariant &value) const
{
    std::vector<HRESULT> errors;
    const OPCHANDLE handles[] = {item};
    const TVariant values[] = {value};
    const HRESULT hr = As<IOPCSyncIO>()->Write(handles, values, errors);
    return errors.empty() ? hr : errors[0];
}

void SimFixture::SetUp()
{
    Register(TSimulationOptions());
    m_Server = Connect();
    ASSERT_TRUE(m_Server);
}

void SimFixture::TearDown()
{
    m_Server.Reset();
    if (m_Control)
        m_Control->Unregister();
}

void SimFixture::Register(TSimulationOptions options)
{
    if (m_Control)
        m_Control->Unregister();
    options.ManualClock = true;
    if (options.PlantText.isEmpty() && options.PlantFile.isEmpty())
        options.PlantText = QString::fromUtf8(TestPlant);
    m_Control = RegisterSimulationServer(LocalHost(), options);
}

ComPtr<IOPCServer> SimFixture::Connect() const
{
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(m_Control->Options().ProgID, clsid), S_OK);
    ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(clsid, CLSCTX_SERVER, IOPCServer::Iid, object), S_OK);
    return object.As<IOPCServer>();
}

TTestGroup SimFixture::AddGroup(const ComPtr<IOPCServer> &server, bool active, DWORD rate,
                                const QString &name) const
{
    TTestGroup group;
    group.Result =
        server->AddGroup(name, active ? 1 : 0, rate, TestGroupClientHandle, nullptr, nullptr, 0x409,
                         group.Handle, group.RevisedRate, IOPCItemMgt::Iid, group.Unknown);
    return group;
}

qint64 MsBetween(const FILETIME &from, const FILETIME &to)
{
    return (static_cast<qint64>(FileTimeToUInt64(to)) -
            static_cast<qint64>(FileTimeToUInt64(from))) /
           10000;
}
