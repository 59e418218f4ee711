// The acquisition bridge: the OPC side of a loaded configuration. One OPC DA client, its groups
// (transmitters) and the configured items, whose values, qualities, time stamps and state go into
// the data cache.
#pragma once

#include "acquisition/OPCProgress.h"
#include "cache/xDataCache.h"
#include "opc/xOPCDAClient.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtGlobal>
#include <memory>
#include <vector>

// One byte; bridge, transmitters and items use disjoint bits, so their union is one status.
using TOPCErrorFlags = quint8;
enum : TOPCErrorFlags {
    oe_ServerUnreachable = 0x01, // bridge: the last connection attempt failed
    oe_InvalidPath = 0x02,       // item: path and/or ItemID unusable
    oe_UnknownElement = 0x04,    // item: the server rejected the ItemID on validation
    oe_GroupError = 0x08,        // transmitter: the group could not be created
    oe_AddItemError = 0x10,      // item: the group refused the item when it was added
};

class TOPCClientTransmitter;
class TOPCBridgedItem;

class TOPCClientBridge
{
public:
    // A nil ADataCache raises the missing-parameter error.
    TOPCClientBridge(const TRemoteServerInfo &serverInfo, TDataCache *ADataCache);
    // Takes the server identification and a copy of the address-space model of AOPCDAClient,
    // which stays with its owner.
    TOPCClientBridge(TOPCDAClient *AOPCDAClient, TDataCache *ADataCache);
    virtual ~TOPCClientBridge();
    TOPCClientBridge(const TOPCClientBridge &) = delete;
    TOPCClientBridge &operator=(const TOPCClientBridge &) = delete;

    int TransmitterCount() const { return static_cast<int>(m_Transmitters.size()); }
    // EListError outside 0..TransmitterCount-1.
    TOPCClientTransmitter *Transmitters(int index) const;
    TDataCache &DataCache() const { return *m_DataCache; }
    TOPCDAClient &OPCDAClient() const { return *m_OPCDAClient; }

    bool Connected() const { return m_OPCDAClient->Connected(); }
    bool Connect();
    void ConnectAndResolveItems();
    void CreateGroups();
    void CreateCacheEntries();
    void DeactivateGroups();
    void RefreshCache();
    void Disconnect();
    void ServerShutdown(const QString &reason);
    // The bridge's own flags with those of every transmitter and item.
    TOPCErrorFlags ErrorFlags() const;
    TOPCErrorFlags OwnErrorFlags() const { return m_ErrorFlags; }

    // Receives WM_OPCDATACHANGE and WM_OPCSERVERSHUTDOWN (the main window); nothing is posted
    // while there is none. Held as a QPointer, so a receiver that goes away is simply dropped.
    void SetMessageReceiver(QObject *receiver) { m_MessageReceiver = receiver; }
    QObject *MessageReceiver() const { return m_MessageReceiver.data(); }
    // Where item resolution shows its progress; null restores the quiet default. Not owned.
    void SetResolveProgress(TOPCResolveProgress *progress);
    TOPCResolveProgress &ResolveProgress() const { return *m_ResolveProgress; }

private:
    friend class TOPCClientTransmitter;
    void InstallShutdownHandler();

    std::vector<std::unique_ptr<TOPCClientTransmitter>> m_Transmitters;
    TDataCache *m_DataCache;
    std::unique_ptr<TOPCDAClient> m_OPCDAClient;
    TOPCErrorFlags m_ErrorFlags = 0;
    QPointer<QObject> m_MessageReceiver;
    TOPCResolveProgress *m_ResolveProgress;
};

class TOPCClientTransmitter
{
public:
    // Creates a transmitter that the bridge owns and appends; a nil bridge raises the
    // missing-parameter error.
    static TOPCClientTransmitter *Create(TOPCClientBridge *AOPCClientBridge, const QString &name);
    virtual ~TOPCClientTransmitter();
    TOPCClientTransmitter(const TOPCClientTransmitter &) = delete;
    TOPCClientTransmitter &operator=(const TOPCClientTransmitter &) = delete;

    TOPCClientBridge &Bridge() const { return *m_Bridge; }
    int ItemCount() const { return static_cast<int>(m_Items.size()); }
    // EListError outside 0..ItemCount-1.
    TOPCBridgedItem *Items(int index) const;
    // The group while the client holds it, else null. Looked up by handle, so a group that the
    // client has freed (disconnection, shutdown) is never followed.
    TOPCDAClientGroup *Group() const;

    void CreateCacheEntries();
    void CreateGroup();
    void RemoveGroup();
    void DeactivateGroup();
    void ForgetGroup();
    void RefreshCache();
    void SetUpdateRate(DWORD ms);
    TOPCBridgedItem *FindItemByAlias(const QString &alias) const;
    TOPCBridgedItem *FindItemByOPCItem(const TOPCDAClientItem *item) const;
    void ResolveItems();

    QString Name;
    DWORD UpdateRate = 0;
    TOPCErrorFlags ErrorFlags = 0;

private:
    friend class TOPCBridgedItem;
    TOPCClientTransmitter(TOPCClientBridge *bridge, const QString &name);

    TOPCDAClient &Client() const { return m_Bridge->OPCDAClient(); }
    TOPCResolveProgress &Progress() const { return m_Bridge->ResolveProgress(); }
    void Resolve();
    void SearchByPath(TOPCDAClientNamespace &ns);
    void ValidateItemIDs();
    void SearchByItemID(TOPCDAClientNamespace &ns);
    void MarkInvalid(TOPCBridgedItem &item, const QString &message);
    void ApplyAddItemsFailure(const EOPCOpCompletedWithOneOrMoreErrors &e);
    void DetachHandlers();

    TOPCClientBridge *m_Bridge;
    std::vector<std::unique_ptr<TOPCBridgedItem>> m_Items;
    OPCHANDLE m_GroupHandle = 0;
    bool m_Resolving = false;
};

class TOPCBridgedItem
{
public:
    // Creates an item that the transmitter owns and appends; a nil transmitter raises the
    // missing-parameter error.
    static TOPCBridgedItem *Create(TOPCClientTransmitter *AOPCClientTransmitter,
                                   const QString &path, const QString &itemID,
                                   const QString &alias);
    virtual ~TOPCBridgedItem() = default;
    TOPCBridgedItem(const TOPCBridgedItem &) = delete;
    TOPCBridgedItem &operator=(const TOPCBridgedItem &) = delete;

    TOPCClientTransmitter &Transmitter() const { return *m_Transmitter; }
    // The OPC item while it is in the transmitter's live group, else null.
    TOPCDAClientItem *OPCItem() const;
    void SetOPCItem(TOPCDAClientItem *item);

    // The "OPCState" text for the current flags and OPC item.
    QString StateText() const;
    void UpdateCacheEntry();
    void ReadItemProperties();

    int IndexHint = 0;
    QString Alias;
    QString ItemID;
    QString Path;
    TOPCErrorFlags ErrorFlags = 0;

private:
    friend class TOPCClientTransmitter;
    TOPCBridgedItem(TOPCClientTransmitter *transmitter, const QString &path, const QString &itemID,
                    const QString &alias);
    void OPCItemChanged(TOPCDAClientItem *sender);

    TOPCClientTransmitter *m_Transmitter;
    // The item by its group's and its own client handle: handles are not reused by a client,
    // so a stale pair finds nothing instead of a freed or foreign object.
    OPCHANDLE m_OPCGroupHandle = 0;
    OPCHANDLE m_OPCItemHandle = 0;
    // The invalid-path message last reported; resolution clears the flag before the search by
    // ItemID sets it again, and this keeps that from reporting the same fault every run.
    QString m_ReportedInvalidPath;
};
