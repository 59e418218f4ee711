// The OPC DA client: the connection to one server, its groups and items, and the callbacks
// through which the server reports data, completions and its shutdown.
#pragma once

#include "opc/OPCError.h"
#include "opc/xOPCDAClientNamespace.h"
#include "platform/net/Network.h"
#include "platform/opcda/OpcDa.h"
#include "platform/system/DateTime.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

class TOPCDAClient;
class TOPCDAClientGroup;
class TOPCDAClientItem;

struct TRemoteServerInfo
{
    QString ComputerName;
    ::GUID GUID;
    QString ID; // ProgID
    QString Name;
};

struct TItemProperty
{
    DWORD PropertyID = 0;
    TVariant Value;
    HRESULT Error = S_OK;
};
using TDynItemPropertyArray = std::vector<TItemProperty>;
using TDynDWORDArray = std::vector<DWORD>;

using TDynByteArray = std::vector<std::uint8_t>;
using TDynOPCHandleArray = std::vector<OPCHANDLE>;
using TDynOleVariantArray = std::vector<TVariant>;
using TDynHResultArray = std::vector<HRESULT>;
using TDynOPCClientItemArray = std::vector<TOPCDAClientItem *>;

struct TValidateItemsDef
{
    QString AccessPath;
    QString ItemID;
    BOOL Active = 1;
    OPCHANDLE ClientHandle = 0;
    TDynByteArray Blob;
    VARTYPE RequestedDataType = VT_EMPTY;
    WORD Reserved = 0;
};
using TDynValidateItemsDefArray = std::vector<TValidateItemsDef>;

struct TValidateItemsResult
{
    OPCHANDLE ServerHandle = 0;
    VARTYPE CanonicalDataType = VT_EMPTY;
    WORD Reserved = 0;
    DWORD AccessRights = 0;
    TDynByteArray Blob;
    HRESULT Error = S_OK;
};
using TDynValidateItemsResultArray = std::vector<TValidateItemsResult>;

struct TSyncReadResult
{
    OPCITEMSTATE State;
    HRESULT Error = S_OK;
};
using TDynSyncReadResultArray = std::vector<TSyncReadResult>;

// Trimmed; empty for the names of the local computer ("LOCAL", "LOCALHOST", "127.0.0.1",
// "//127.0.0.1", any case).
QString NormalizeComputerName(const QString &name);
// The name, or "Localhost" for an empty one.
QString ComputerDisplayName(const QString &name);
// "computer\server", or the server alone for the local computer.
QString ServerDisplayName(const QString &computerName, const QString &serverName);
// Whether the network lists a resource whose remote name is name (case ignored), below
// container (the whole network when null). Computers are listed as "\\NAME".
bool IsComputerInNetwork(const QString &name, const TNetResource *container = nullptr);
// Creates the OPC server enumerator on the computer.
void OPCCreateServerList(const QString &computerName, ComPtr<IOPCServerList> &serverList);
// The class of a server by ProgID; all zero when nobody knows it. Creates serverList when empty.
void FindServerClassID(const QString &computerName, const QString &progID,
                       ComPtr<IOPCServerList> &serverList, CLSID &classID);
// Creates the server object that info describes and completes info (normalised computer name,
// class id, ProgID and name as the enumerator reports them).
void OPCCreateServer(TRemoteServerInfo &info, ComPtr<IOPCServerList> serverList,
                     ComPtr<IOPCServer> &server);

// The client's callback object. It is no reference-counted COM object: AddRef and Release
// return 1 and its lifetime belongs to its owner.
class TOPCDACustomClient : public IOPCDataCallback, public IOPCShutdown
{
public:
    TOPCDACustomClient() = default;
    virtual ~TOPCDACustomClient();
    TOPCDACustomClient(const TOPCDACustomClient &) = delete;
    TOPCDACustomClient &operator=(const TOPCDACustomClient &) = delete;

    HRESULT QueryInterface(const IID &iid, void **object) override;
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }

    HRESULT OnDataChange(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterQuality,
                         HRESULT masterError, DWORD count, std::span<const OPCHANDLE> clientItems,
                         std::span<const TVariant> values, std::span<const WORD> qualities,
                         std::span<const FILETIME> timeStamps,
                         std::span<const HRESULT> errors) override;
    HRESULT OnReadComplete(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterQuality,
                           HRESULT masterError, DWORD count, std::span<const OPCHANDLE> clientItems,
                           std::span<const TVariant> values, std::span<const WORD> qualities,
                           std::span<const FILETIME> timeStamps,
                           std::span<const HRESULT> errors) override;
    HRESULT OnWriteComplete(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterError,
                            DWORD count, std::span<const OPCHANDLE> clientItems,
                            std::span<const HRESULT> errors) override;
    HRESULT OnCancelComplete(DWORD transactionID, OPCHANDLE clientGroup) override;
    HRESULT ShutdownRequest(const QString &reason) override;

    // The object as the IUnknown that servers are given.
    IUnknown *Unknown() { return static_cast<IOPCDataCallback *>(this); }

    virtual void DoCancelComplete(DWORD transactionID, OPCHANDLE clientGroup);
    virtual void DoDataChange(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterQuality,
                              HRESULT masterError, DWORD count,
                              std::span<const OPCHANDLE> clientItems,
                              std::span<const TVariant> values, std::span<const WORD> qualities,
                              std::span<const FILETIME> timeStamps,
                              std::span<const HRESULT> errors);
    virtual void DoReadComplete(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterQuality,
                                HRESULT masterError, DWORD count,
                                std::span<const OPCHANDLE> clientItems,
                                std::span<const TVariant> values, std::span<const WORD> qualities,
                                std::span<const FILETIME> timeStamps,
                                std::span<const HRESULT> errors);
    // reason is null when the server gave none.
    virtual void DoShutdownRequest(const QString &reason);
    virtual void DoWriteComplete(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterError,
                                 DWORD count, std::span<const OPCHANDLE> clientItems,
                                 std::span<const HRESULT> errors);
    // Where a multi-threaded variant would serialise; nothing here (one thread).
    virtual void Lock() {}
    virtual void Unlock() {}

private:
    template <class F> HRESULT Incoming(const QString &trace, F &&call);
};

using TOPCDataEvent =
    std::function<void(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterQuality,
                       HRESULT masterError, DWORD count, std::span<const OPCHANDLE> clientItems,
                       std::span<const TVariant> values, std::span<const WORD> qualities,
                       std::span<const FILETIME> timeStamps, std::span<const HRESULT> errors)>;
using TOPCWriteCompleteEvent =
    std::function<void(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterError, DWORD count,
                       std::span<const OPCHANDLE> clientItems, std::span<const HRESULT> errors)>;
using TOPCCancelCompleteEvent = std::function<void(DWORD transactionID, OPCHANDLE clientGroup)>;
using TOPCShutdownEvent = std::function<void(const QString &reason)>;

class TOPCDAClient : public TOPCDACustomClient
{
public:
    TOPCDAClient();
    ~TOPCDAClient() override;

    void DoCancelComplete(DWORD transactionID, OPCHANDLE clientGroup) override;
    void DoDataChange(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterQuality,
                      HRESULT masterError, DWORD count, std::span<const OPCHANDLE> clientItems,
                      std::span<const TVariant> values, std::span<const WORD> qualities,
                      std::span<const FILETIME> timeStamps,
                      std::span<const HRESULT> errors) override;
    void DoReadComplete(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterQuality,
                        HRESULT masterError, DWORD count, std::span<const OPCHANDLE> clientItems,
                        std::span<const TVariant> values, std::span<const WORD> qualities,
                        std::span<const FILETIME> timeStamps,
                        std::span<const HRESULT> errors) override;
    void DoShutdownRequest(const QString &reason) override;
    void DoWriteComplete(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterError,
                         DWORD count, std::span<const OPCHANDLE> clientItems,
                         std::span<const HRESULT> errors) override;

    // timeBias null: the server's default.
    virtual TOPCDAClientGroup *AddGroup(const QString &name, DWORD requestedUpdateRate,
                                        DWORD &revisedUpdateRate, bool active,
                                        float percentDeadband, const LONG *timeBias = nullptr,
                                        LCID lcid = 0);
    // Makes the group object for a server group that AddGroup created.
    virtual std::unique_ptr<TOPCDAClientGroup> GroupClass(ComPtr<IUnknown> groupIntf,
                                                          OPCHANDLE clientHandle);

    void SetServer(const QString &computerName, const QString &name, const CLSID &classID,
                   const QString &progID);
    void ConnectToServer();
    void Disconnect();
    void GetStatus();
    void RemoveGroup(TOPCDAClientGroup *group, bool force);
    void RemoveAllGroups();
    void GetItemProperties(const QString &itemID, const TDynDWORDArray &propertyIDs,
                           TDynItemPropertyArray &properties);
    // Takes a deep copy of source (null: an empty namespace).
    void SetNamespace(const TOPCDAClientNamespace *source);

    bool Connected() const { return m_Connected; }
    TOPCDAClientNamespace &Namespace() { return *m_Namespace; }
    // Groups in creation order; they belong to the client.
    qsizetype GroupCount() const { return static_cast<qsizetype>(m_Groups.size()); }
    TOPCDAClientGroup *Group(qsizetype index) const;
    // The group that registered handle, or null.
    TOPCDAClientGroup *FindGroup(OPCHANDLE clientHandle) const;

    TDateTime ShutdownTime = 0;
    DWORD ReconnectDelay = 5000;
    // Pause after connecting before the first call; tests set it to 0.
    DWORD ConnectWaitMs = 500;
    TRemoteServerInfo ServerInfo;
    // Kept across connections when a caller supplies one; otherwise each connection makes its own.
    ComPtr<IOPCServerList> ServerList;

    TOPCShutdownEvent OnShutdown;
    TOPCCancelCompleteEvent OnCancelComplete;
    TOPCDataEvent OnDataChange;
    TOPCDataEvent OnReadComplete;
    TOPCWriteCompleteEvent OnWriteComplete;

    // The last status read by GetStatus.
    FILETIME StartTime;
    FILETIME CurrentTime;
    FILETIME LastUpdateTime;
    DWORD ServerState = 0;
    DWORD GroupCountOnServer = 0;
    DWORD BandWidth = 0;
    WORD MajorVersion = 0;
    WORD MinorVersion = 0;
    WORD BuildNumber = 0;
    WORD Reserved = 0;
    QString VendorInfo;

    ComPtr<IUnknown> ServerIntf;
    ComPtr<IConnectionPointContainer> ConnectionPointContainer;
    ComPtr<IOPCCommon> OPCCommon;
    ComPtr<IOPCItemProperties> OPCItemProperties;
    ComPtr<IOPCServer> OPCServer;
    ComPtr<IOPCServerPublicGroups> OPCServerPublicGroups;
    ComPtr<IPersistFile> PersistFile;

private:
    void ReleaseInterfaces();
    void AdviseShutdown();
    void UnadviseShutdown();
    OPCHANDLE NextGroupHandle();

    bool m_Connected = false;
    std::unique_ptr<TOPCDAClientNamespace> m_Namespace;
    std::vector<std::unique_ptr<TOPCDAClientGroup>> m_Groups;
    ComPtr<IConnectionPoint> m_ShutdownPoint;
    DWORD m_ShutdownCookie = 0;
    OPCHANDLE m_LastGroupHandle = 0;
};

class TOPCDACustomClientGroup
{
public:
    // clientHandle is the handle the server passes back in callbacks for this group.
    TOPCDACustomClientGroup(ComPtr<IUnknown> groupIntf, OPCHANDLE clientHandle);
    virtual ~TOPCDACustomClientGroup();
    TOPCDACustomClientGroup(const TOPCDACustomClientGroup &) = delete;
    TOPCDACustomClientGroup &operator=(const TOPCDACustomClientGroup &) = delete;

    void GetState();
    // Only the values that differ from the stored ones are sent.
    void SetState(DWORD updateRate, bool active, LCID lcid, float percentDeadband, LONG timeBias);
    void SetActive(bool active);
    void SetUpdateRate(DWORD updateRate);
    void SyncRead(std::span<const OPCHANDLE> serverHandles, OPCDATASOURCE dataSource,
                  TDynSyncReadResultArray &results);
    void SyncWrite(std::span<const OPCHANDLE> serverHandles, std::span<const TVariant> values,
                   TDynHResultArray &results);
    void ValidateItems(const TDynValidateItemsDefArray &definitions, bool blobUpdate,
                       TDynValidateItemsResultArray &results);

    OPCHANDLE ClientHandle() const { return m_ClientHandle; }

    BOOL Active = 0;
    LCID LocaleID = 0;
    QString Name;
    float PercentDeadband = 0;
    OPCHANDLE ServerHandle = 0;
    LONG TimeBias = 0;
    DWORD UpdateRate = 0;

    ComPtr<IUnknown> GroupIntf;
    ComPtr<IConnectionPointContainer> ConnectionPointContainer;
    ComPtr<IOPCAsyncIO2> OPCAsyncIO2;
    ComPtr<IOPCGroupStateMgt> OPCGroupStateMgt;
    ComPtr<IOPCItemMgt> OPCItemMgt;
    ComPtr<IOPCSyncIO> OPCSyncIO;

protected:
    virtual void DoDataChanged() {}
    virtual void DoAfterRead() {}
    virtual void DoBeforeRead() {}
    virtual void Lock() {}
    virtual void Unlock() {}

    // Lock/Unlock for a scope.
    class TLocker
    {
    public:
        explicit TLocker(TOPCDACustomClientGroup &group) : m_Group(group) { m_Group.Lock(); }
        ~TLocker() { m_Group.Unlock(); }
        TLocker(const TLocker &) = delete;
        TLocker &operator=(const TLocker &) = delete;

    private:
        TOPCDACustomClientGroup &m_Group;
    };

    void ReleaseInterfaces();

private:
    OPCHANDLE m_ClientHandle;
};

using TGroupNotifyEvent = std::function<void(TOPCDAClientGroup *sender)>;

class TOPCDAClientGroup : public TOPCDACustomClientGroup
{
public:
    // Groups are made by TOPCDAClient::AddGroup.
    TOPCDAClientGroup(TOPCDAClient *client, ComPtr<IUnknown> groupIntf, OPCHANDLE clientHandle);
    ~TOPCDAClientGroup() override;

    virtual void RemoveAllItems();
    // blob and access path as OPC knows them; name is the client's own and never sent.
    virtual TOPCDAClientItem *AddItem(const QString &name, const QString &itemID, bool active,
                                      VARTYPE requestedDataType = VT_EMPTY,
                                      const TDynByteArray &blob = {},
                                      const QString &accessPath = QString());
    virtual void BeginAddItems();
    virtual void BeginWrite();
    virtual void BeginRead(DWORD dataSource);
    virtual void DoCancelComplete(DWORD transactionID);
    virtual std::unique_ptr<TOPCDAClientItem> ItemClass(VARTYPE requestedDataType,
                                                        const TDynByteArray &blob, bool active,
                                                        const QString &itemID, const QString &name,
                                                        const QString &accessPath);
    virtual void DoDataChange(DWORD count, std::span<const OPCHANDLE> clientItems,
                              std::span<const TVariant> values, std::span<const WORD> qualities,
                              std::span<const FILETIME> timeStamps,
                              std::span<const HRESULT> errors);
    virtual void DoReadComplete(DWORD count, std::span<const OPCHANDLE> clientItems,
                                std::span<const TVariant> values, std::span<const WORD> qualities,
                                std::span<const FILETIME> timeStamps,
                                std::span<const HRESULT> errors);
    virtual void DoWriteComplete(DWORD transactionID, HRESULT masterError, DWORD count,
                                 std::span<const OPCHANDLE> clientItems,
                                 std::span<const HRESULT> errors);
    virtual void EndAddItems();
    virtual void EndWrite();
    // Removed entries are freed and set to null; results get one code per entry (0 for null).
    virtual void RemoveItems(TDynOPCClientItemArray &items, TDynHResultArray &results);
    virtual void EndRead();

    void ReadAll(DWORD dataSource);

    qsizetype ItemCount() const { return static_cast<qsizetype>(m_Items.size()); }
    // Null outside 0..ItemCount-1.
    TOPCDAClientItem *Item(qsizetype index) const;
    // The item that registered handle, or null.
    TOPCDAClientItem *FindItem(OPCHANDLE clientHandle) const;
    TOPCDAClient *Client() const { return m_Client; }
    DWORD ReadSource() const { return m_ReadSource; }

    TGroupNotifyEvent OnAfterRead;
    TGroupNotifyEvent OnBeforeRead;
    TGroupNotifyEvent OnDataChange;

protected:
    void DoDataChanged() override;
    void DoAfterRead() override;
    void DoBeforeRead() override;
    void Lock() override;
    void Unlock() override;

private:
    OPCHANDLE NextItemHandle();
    void Unadvise();

    TOPCDAClient *m_Client;
    DWORD m_Cookie = 0;
    DWORD m_ReadSource = 0;
    int m_AddCount = 0;
    int m_WriteCount = 0;
    int m_ReadCount = 0;
    OPCHANDLE m_LastItemHandle = 0;
    std::vector<std::unique_ptr<TOPCDAClientItem>> m_Items;
    std::unordered_map<OPCHANDLE, TOPCDAClientItem *> m_ItemsByHandle;
    // Expires when the group is freed, so a dispatch can tell that a handler removed it.
    std::shared_ptr<char> m_Alive = std::make_shared<char>(0);
};

using TItemNotifyEvent = std::function<void(TOPCDAClientItem *sender)>;

class TOPCDAClientItem
{
public:
    TOPCDAClientItem(TOPCDAClientGroup *group, VARTYPE requestedDataType, const TDynByteArray &blob,
                     bool active, const QString &itemID, const QString &name,
                     const QString &accessPath);
    virtual ~TOPCDAClientItem() = default;
    TOPCDAClientItem(const TOPCDAClientItem &) = delete;
    TOPCDAClientItem &operator=(const TOPCDAClientItem &) = delete;

    // Stores the values, then raises OnChange (which may free the item).
    virtual void Update(const TVariant &value, WORD quality, const FILETIME &timeStamp,
                        HRESULT error);
    virtual void Write(const TVariant &value);
    virtual void Read(DWORD dataSource);

    TOPCDAClientGroup *Group() const { return m_Group; }
    OPCHANDLE ClientHandle() const { return m_ClientHandle; }

    QString AccessPath;
    DWORD AccessRights = 0;
    BOOL Active = 0;
    bool PendingAdd = false;
    TDynByteArray Blob;
    VARTYPE CanonicalDataType = VT_EMPTY;
    VARTYPE RequestedDataType = VT_EMPTY;
    HRESULT LastError = S_FALSE;
    QString ItemID;
    QString Name;
    TItemNotifyEvent OnChange;
    bool PendingWrite = false;
    bool PendingRead = false;
    WORD Quality = OPC_QUALITY_NOT_CONNECTED;
    OPCHANDLE ServerHandle = 0;
    FILETIME TimeStamp;
    TVariant Value = TVariant::FromI4(0);
    TVariant PendingWriteValue;

private:
    friend class TOPCDAClientGroup;
    TOPCDAClientGroup *m_Group;
    OPCHANDLE m_ClientHandle = 0;
};
