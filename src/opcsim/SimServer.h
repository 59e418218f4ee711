// The simulation server object: one per client connection, with its own groups, browse position
// and locale, on the plant that all server objects of the registration share. Private.
#pragma once

#include "opcsim/SimPlant.h"

#include <map>
#include <memory>

class TOPCSimGroup;

class TOPCSimServer final
    : public TComObject<IOPCServer, IOPCCommon, IOPCItemProperties, IOPCBrowseServerAddressSpace,
                        IOPCServerPublicGroups, IPersistFile, IConnectionPointContainer>
{
public:
    explicit TOPCSimServer(std::shared_ptr<TSimPlant> plant);
    ~TOPCSimServer() override;

    // Interfaces switched off by the knobs are not answered.
    HRESULT QueryInterface(const IID &iid, void **object) override;

    // IOPCServer
    HRESULT AddGroup(const QString &name, BOOL active, DWORD requestedUpdateRate,
                     OPCHANDLE clientGroup, const LONG *timeBias, const float *percentDeadband,
                     LCID lcid, OPCHANDLE &serverGroup, DWORD &revisedUpdateRate, const IID &iid,
                     ComPtr<IUnknown> &group) override;
    HRESULT GetErrorString(HRESULT error, LCID locale, QString &text) override;
    HRESULT GetGroupByName(const QString &name, const IID &iid, ComPtr<IUnknown> &group) override;
    HRESULT GetStatus(OPCSERVERSTATUS &status) override;
    HRESULT RemoveGroup(OPCHANDLE serverGroup, BOOL force) override;
    HRESULT CreateGroupEnumerator(OPCENUMSCOPE scope, const IID &iid,
                                  ComPtr<IUnknown> &enumerator) override;

    // IOPCCommon
    HRESULT SetLocaleID(LCID lcid) override;
    HRESULT GetLocaleID(LCID &lcid) override;
    HRESULT QueryAvailableLocaleIDs(std::vector<LCID> &lcids) override;
    HRESULT GetErrorString(HRESULT error, QString &text) override;
    HRESULT SetClientName(const QString &name) override;

    // IOPCItemProperties
    HRESULT QueryAvailableProperties(const QString &itemID, std::vector<DWORD> &propertyIDs,
                                     std::vector<QString> &descriptions,
                                     std::vector<VARTYPE> &dataTypes) override;
    HRESULT GetItemProperties(const QString &itemID, std::span<const DWORD> propertyIDs,
                              std::vector<TVariant> &data, std::vector<HRESULT> &errors) override;
    HRESULT LookupItemIDs(const QString &itemID, std::span<const DWORD> propertyIDs,
                          std::vector<QString> &newItemIDs, std::vector<HRESULT> &errors) override;

    // IOPCBrowseServerAddressSpace
    HRESULT QueryOrganization(OPCNAMESPACETYPE &organization) override;
    HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION direction, const QString &name) override;
    HRESULT BrowseOPCItemIDs(OPCBROWSETYPE browseType, const QString &filterCriteria,
                             VARTYPE dataTypeFilter, DWORD accessRightsFilter,
                             ComPtr<IEnumString> &names) override;
    HRESULT GetItemID(const QString &itemDataID, QString &itemID) override;
    HRESULT BrowseAccessPaths(const QString &itemID, ComPtr<IEnumString> &paths) override;

    // IOPCServerPublicGroups
    HRESULT GetPublicGroupByName(const QString &name, const IID &iid,
                                 ComPtr<IUnknown> &group) override;
    HRESULT RemovePublicGroup(OPCHANDLE serverGroup, BOOL force) override;

    // IPersistFile
    HRESULT GetClassID(CLSID &clsid) override;
    HRESULT IsDirty() override;
    HRESULT Load(const QString &fileName, DWORD mode) override;
    HRESULT Save(const QString &fileName, BOOL remember) override;
    HRESULT SaveCompleted(const QString &fileName) override;
    HRESULT GetCurFile(QString &fileName) override;

    // IConnectionPointContainer
    HRESULT EnumConnectionPoints() override;
    HRESULT FindConnectionPoint(const IID &iid, ComPtr<IConnectionPoint> &point) override;

    // For groups and the plant.
    // The call delay knob, then RPC_E_DISCONNECTED once the server has shut down.
    HRESULT Enter() const;
    bool IsNameTaken(const QString &name, const TOPCSimGroup *except) const;
    HRESULT CloneGroup(const TOPCSimGroup &source, const QString &name, const IID &iid,
                       ComPtr<IUnknown> &group);
    void NoteUpdate(const FILETIME &time) { m_LastUpdate = time; }
    DWORD ReviseUpdateRate(DWORD requested) const;
    // Queues the shutdown notice; it is sent from the event loop.
    void BeginShutdown(const QString &reason);

private:
    HRESULT FindItem(const QString &itemID, int &signal) const;
    HRESULT ErrorText(HRESULT error, QString &text) const;
    QString UniqueGroupName() const;
    void DeliverShutdown(const QString &reason);
    void Disconnect();

    std::shared_ptr<TSimPlant> m_Plant;
    quint64 m_PlantId;
    ComPtr<TConnectionPoint<IOPCShutdown>> m_ShutdownPoint;
    std::map<OPCHANDLE, ComPtr<TOPCSimGroup>> m_Groups;
    OPCHANDLE m_LastGroupHandle = 0;
    int m_BrowseBranch = 0;
    LCID m_Locale = 0x0800; // the system default locale
    QString m_ClientName;
    FILETIME m_LastUpdate;
    bool m_ShutdownPending = false;
    bool m_Disconnected = false;
};
