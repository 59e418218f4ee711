// A private OPC group of the simulation server: its items, cache, change detection and the
// subscription and asynchronous callbacks. Private to the server.
#pragma once

#include "opcsim/SimPlant.h"

#include <QLocale>
#include <memory>
#include <unordered_map>
#include <vector>

// The per-item calls share one shape: an empty list is an invalid argument, and a call in which
// some items failed answers S_FALSE.
HRESULT Overall(const std::vector<HRESULT> &errors);

class TOPCSimServer;

struct TSimGroupState
{
    QString Name;
    bool Active = false;
    DWORD UpdateRate = 0;
    LONG TimeBias = 0;
    float PercentDeadband = 0.0f;
    LCID Lcid = 0;
    OPCHANDLE ClientHandle = 0;
};

class TOPCSimGroup final : public TComObject<IOPCItemMgt, IOPCGroupStateMgt, IOPCSyncIO,
                                             IOPCAsyncIO2, IConnectionPointContainer>
{
public:
    TOPCSimGroup(TOPCSimServer *server, std::shared_ptr<TSimPlant> plant, OPCHANDLE serverHandle,
                 const TSimGroupState &state);
    ~TOPCSimGroup() override;

    // IOPCItemMgt
    HRESULT AddItems(std::span<const OPCITEMDEF> items, std::vector<OPCITEMRESULT> &results,
                     std::vector<HRESULT> &errors) override;
    HRESULT ValidateItems(std::span<const OPCITEMDEF> items, BOOL blobUpdate,
                          std::vector<OPCITEMRESULT> &results,
                          std::vector<HRESULT> &errors) override;
    HRESULT RemoveItems(std::span<const OPCHANDLE> serverItems,
                        std::vector<HRESULT> &errors) override;
    HRESULT SetActiveState(std::span<const OPCHANDLE> serverItems, BOOL active,
                           std::vector<HRESULT> &errors) override;
    HRESULT SetClientHandles(std::span<const OPCHANDLE> serverItems,
                             std::span<const OPCHANDLE> clientItems,
                             std::vector<HRESULT> &errors) override;
    HRESULT SetDatatypes(std::span<const OPCHANDLE> serverItems,
                         std::span<const VARTYPE> requestedDataTypes,
                         std::vector<HRESULT> &errors) override;
    HRESULT CreateEnumerator(const IID &iid, ComPtr<IUnknown> &enumerator) override;

    // IOPCGroupStateMgt
    HRESULT GetState(DWORD &updateRate, BOOL &active, QString &name, LONG &timeBias,
                     float &percentDeadband, LCID &lcid, OPCHANDLE &clientGroup,
                     OPCHANDLE &serverGroup) override;
    HRESULT SetState(const DWORD *requestedUpdateRate, DWORD &revisedUpdateRate, const BOOL *active,
                     const LONG *timeBias, const float *percentDeadband, const LCID *lcid,
                     const OPCHANDLE *clientGroup) override;
    HRESULT SetName(const QString &name) override;
    HRESULT CloneGroup(const QString &name, const IID &iid, ComPtr<IUnknown> &group) override;

    // IOPCSyncIO
    HRESULT Read(OPCDATASOURCE source, std::span<const OPCHANDLE> serverItems,
                 std::vector<OPCITEMSTATE> &values, std::vector<HRESULT> &errors) override;
    HRESULT Write(std::span<const OPCHANDLE> serverItems, std::span<const TVariant> values,
                  std::vector<HRESULT> &errors) override;

    // IOPCAsyncIO2
    HRESULT Read(std::span<const OPCHANDLE> serverItems, DWORD transactionID, DWORD &cancelID,
                 std::vector<HRESULT> &errors) override;
    HRESULT Write(std::span<const OPCHANDLE> serverItems, std::span<const TVariant> values,
                  DWORD transactionID, DWORD &cancelID, std::vector<HRESULT> &errors) override;
    HRESULT Refresh2(OPCDATASOURCE source, DWORD transactionID, DWORD &cancelID) override;
    HRESULT Cancel2(DWORD cancelID) override;
    HRESULT SetEnable(BOOL enable) override;
    HRESULT GetEnable(BOOL &enable) override;

    // IConnectionPointContainer
    HRESULT EnumConnectionPoints() override;
    HRESULT FindConnectionPoint(const IID &iid, ComPtr<IConnectionPoint> &point) override;

    // For the server and the scheduler.
    OPCHANDLE ServerHandle() const { return m_ServerHandle; }
    const QString &Name() const { return m_State.Name; }
    const TSimGroupState &State() const { return m_State; }
    // References held by clients: all but the caller's one and those the server holds while
    // it calls out.
    ULONG ClientReferences() const { return RefCount() - 1 - m_InternalHolds; }
    // The group left its server (removed, or the server went away): every call fails from now.
    void Disconnect();
    // A copy with the same items and state, inactive and without callback connection.
    void CopyItemsFrom(const TOPCSimGroup &source);
    void SetActive(bool active);
    bool Scheduled() const { return !m_Disconnected && m_State.Active; }
    qint64 NextDue() const { return m_NextDue; }
    // One update cycle: sample, detect changes, call the data sink.
    void RunCycle(qint64 now);

private:
    struct TItem
    {
        OPCHANDLE Handle = 0;
        OPCHANDLE Client = 0;
        std::uint32_t Signal = 0;
        VARTYPE Requested = VT_EMPTY;
        bool Active = false;
        bool Force = false;    // goes into the next callback even when unchanged
        bool HasValue = false; // the cache holds a sample
        WORD Quality = OPC_QUALITY_BAD;
        double Span = 0.0; // engineering range for the percent deadband; 0 when not analog
        double Value = 0.0;
        std::uint64_t Stamp = 0;
    };

    enum TTransactionKind { tkRead, tkWrite, tkRefresh };
    struct TTransaction
    {
        TTransactionKind Kind;
        DWORD TransactionID;
        DWORD CancelID;
        OPCDATASOURCE Source;
        std::vector<OPCHANDLE> Handles;
        std::vector<TVariant> Values;
    };

    // While the group calls out it holds itself, and RemoveGroup does not count that as a
    // client's reference.
    class THold
    {
    public:
        explicit THold(TOPCSimGroup *group) : m_Group(group)
        {
            m_Group->AddRef();
            ++m_Group->m_InternalHolds;
        }
        ~THold()
        {
            --m_Group->m_InternalHolds;
            m_Group->Release();
        }
        THold(const THold &) = delete;
        THold &operator=(const THold &) = delete;

    private:
        TOPCSimGroup *m_Group;
    };

    HRESULT Enter() const;
    HRESULT CheckItem(const OPCITEMDEF &def, int &signal) const;
    TItem *FindItem(OPCHANDLE handle);
    void SampleInto(TItem &item, qint64 now);
    void ScheduleNow();
    HRESULT ItemValue(const TItem &item, double sample, TVariant &value) const;
    HRESULT Queue(TTransaction transaction, DWORD &cancelID);
    void Complete(DWORD cancelID);
    void CompleteCancel(DWORD transactionID);
    ComPtr<IOPCDataCallback> Sink() const;
    void DeliverData(DWORD transactionID, std::vector<std::uint32_t> indices, bool fromDevice);

    TOPCSimServer *m_Server; // not owned; null once disconnected
    std::shared_ptr<TSimPlant> m_Plant;
    quint64 m_PlantId = 0;
    OPCHANDLE m_ServerHandle;
    TSimGroupState m_State;
    QLocale m_Locale;
    bool m_Enabled = true;
    bool m_Disconnected = false;
    ULONG m_InternalHolds = 0;
    qint64 m_NextDue = 0;
    ComPtr<TConnectionPoint<IOPCDataCallback>> m_DataPoint;

    std::vector<TItem> m_Items;
    std::unordered_map<OPCHANDLE, std::uint32_t> m_Slots;
    OPCHANDLE m_LastItemHandle = 0;

    std::vector<TTransaction> m_Transactions;
    DWORD m_LastCancelID = 0;

    // Buffers of the update cycle, kept between cycles so that a cycle allocates nothing.
    std::vector<std::uint32_t> m_Changed;
    std::vector<OPCHANDLE> m_OutClients;
    std::vector<TVariant> m_OutValues;
    std::vector<WORD> m_OutQualities;
    std::vector<FILETIME> m_OutStamps;
    std::vector<HRESULT> m_OutErrors;
};
