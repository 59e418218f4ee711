// The OPC Data Access 2.0 and OPC Common custom interfaces, their ids, constants and result
// codes. [in] arrays are spans, [out] arrays are vectors the callee fills; strings are QString
// (a null QString where the interface allows a missing string).
#pragma once

#include "platform/com/ComBase.h"
#include "platform/com/Connection.h"
#include "platform/com/FileTime.h"
#include "platform/com/Variant.h"

#include <QString>
#include <cstdint>
#include <span>
#include <vector>

using OPCHANDLE = DWORD;

enum OPCDATASOURCE : DWORD { OPC_DS_CACHE = 1, OPC_DS_DEVICE = 2 };
enum OPCBROWSETYPE : DWORD { OPC_BRANCH = 1, OPC_LEAF = 2, OPC_FLAT = 3 };
enum OPCNAMESPACETYPE : DWORD { OPC_NS_HIERARCHIAL = 1, OPC_NS_FLAT = 2 };
enum OPCBROWSEDIRECTION : DWORD { OPC_BROWSE_UP = 1, OPC_BROWSE_DOWN = 2, OPC_BROWSE_TO = 3 };
enum OPCSERVERSTATE : DWORD {
    OPC_STATUS_RUNNING = 1,
    OPC_STATUS_FAILED = 2,
    OPC_STATUS_NOCONFIG = 3,
    OPC_STATUS_SUSPENDED = 4,
    OPC_STATUS_TEST = 5
};
enum OPCENUMSCOPE : DWORD {
    OPC_ENUM_PRIVATE_CONNECTIONS = 1,
    OPC_ENUM_PUBLIC_CONNECTIONS = 2,
    OPC_ENUM_ALL_CONNECTIONS = 3,
    OPC_ENUM_PRIVATE = 4,
    OPC_ENUM_PUBLIC = 5,
    OPC_ENUM_ALL = 6
};

// Access rights.
inline constexpr DWORD OPC_READABLE = 1;
inline constexpr DWORD OPC_WRITEABLE = 2;

// Qualities: bits 7..6 quality, 5..2 substatus, 1..0 limit.
inline constexpr WORD OPC_QUALITY_MASK = 0xC0;
inline constexpr WORD OPC_STATUS_MASK = 0xFC;
inline constexpr WORD OPC_LIMIT_MASK = 0x03;
inline constexpr WORD OPC_QUALITY_BAD = 0x00;
inline constexpr WORD OPC_QUALITY_UNCERTAIN = 0x40;
inline constexpr WORD OPC_QUALITY_GOOD = 0xC0;
inline constexpr WORD OPC_QUALITY_CONFIG_ERROR = 0x04;
inline constexpr WORD OPC_QUALITY_NOT_CONNECTED = 0x08;
inline constexpr WORD OPC_QUALITY_DEVICE_FAILURE = 0x0C;
inline constexpr WORD OPC_QUALITY_SENSOR_FAILURE = 0x10;
inline constexpr WORD OPC_QUALITY_LAST_KNOWN = 0x14;
inline constexpr WORD OPC_QUALITY_COMM_FAILURE = 0x18;
inline constexpr WORD OPC_QUALITY_OUT_OF_SERVICE = 0x1C;
inline constexpr WORD OPC_QUALITY_LAST_USABLE = 0x44;
inline constexpr WORD OPC_QUALITY_SENSOR_CAL = 0x50;
inline constexpr WORD OPC_QUALITY_EGU_EXCEEDED = 0x54;
inline constexpr WORD OPC_QUALITY_SUB_NORMAL = 0x58;
inline constexpr WORD OPC_QUALITY_LOCAL_OVERRIDE = 0xD8;
inline constexpr WORD OPC_LIMIT_OK = 0x00;
inline constexpr WORD OPC_LIMIT_LOW = 0x01;
inline constexpr WORD OPC_LIMIT_HIGH = 0x02;
inline constexpr WORD OPC_LIMIT_CONST = 0x03;

// Item property ids.
inline constexpr DWORD OPC_PROPERTY_DATATYPE = 1;
inline constexpr DWORD OPC_PROPERTY_VALUE = 2;
inline constexpr DWORD OPC_PROPERTY_QUALITY = 3;
inline constexpr DWORD OPC_PROPERTY_TIMESTAMP = 4;
inline constexpr DWORD OPC_PROPERTY_ACCESS_RIGHTS = 5;
inline constexpr DWORD OPC_PROPERTY_SCAN_RATE = 6;
inline constexpr DWORD OPC_PROPERTY_EU_UNITS = 100;
inline constexpr DWORD OPC_PROPERTY_DESCRIPTION = 101;

// Result codes.
inline constexpr HRESULT OPC_E_INVALIDHANDLE = MakeHResult(0xC0040001);
inline constexpr HRESULT OPC_E_BADTYPE = MakeHResult(0xC0040004);
inline constexpr HRESULT OPC_E_PUBLIC = MakeHResult(0xC0040005);
inline constexpr HRESULT OPC_E_BADRIGHTS = MakeHResult(0xC0040006);
inline constexpr HRESULT OPC_E_UNKNOWNITEMID = MakeHResult(0xC0040007);
inline constexpr HRESULT OPC_E_INVALIDITEMID = MakeHResult(0xC0040008);
inline constexpr HRESULT OPC_E_INVALIDFILTER = MakeHResult(0xC0040009);
inline constexpr HRESULT OPC_E_UNKNOWNPATH = MakeHResult(0xC004000A);
inline constexpr HRESULT OPC_E_RANGE = MakeHResult(0xC004000B);
inline constexpr HRESULT OPC_E_DUPLICATENAME = MakeHResult(0xC004000C);
inline constexpr HRESULT OPC_S_UNSUPPORTEDRATE = MakeHResult(0x0004000D);
inline constexpr HRESULT OPC_S_CLAMP = MakeHResult(0x0004000E);
inline constexpr HRESULT OPC_S_INUSE = MakeHResult(0x0004000F);
inline constexpr HRESULT OPC_E_INVALIDCONFIGFILE = MakeHResult(0xC0040010);
inline constexpr HRESULT OPC_E_NOTFOUND = MakeHResult(0xC0040011);
inline constexpr HRESULT OPC_E_INVALID_PID = MakeHResult(0xC0040203);
inline constexpr HRESULT OPC_E_DEADBANDNOTSET = MakeHResult(0xC0040400);
inline constexpr HRESULT OPC_E_DEADBANDNOTSUPPORTED = MakeHResult(0xC0040401);
inline constexpr HRESULT OPC_E_NOBUFFERING = MakeHResult(0xC0040402);
inline constexpr HRESULT OPC_E_INVALIDCONTINUATIONPOINT = MakeHResult(0xC0040403);
inline constexpr HRESULT OPC_S_DATAQUEUEOVERFLOW = MakeHResult(0x00040404);
inline constexpr HRESULT OPC_E_RATENOTSET = MakeHResult(0xC0040405);
inline constexpr HRESULT OPC_E_NOTSUPPORTED = MakeHResult(0xC0040406);

// Category of OPC DA 2.0 servers, and the server enumerator's class.
inline constexpr GUID CATID_OPCDAServer10{0x63D5F430, 0xCFE4, 0x11D1, 0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB};
inline constexpr GUID CATID_OPCDAServer20{0x63D5F432, 0xCFE4, 0x11D1, 0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB};
inline constexpr CLSID CLSID_OpcServerList{0x13486D51, 0x4821, 0x11D2, 0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00};

struct OPCSERVERSTATUS
{
    FILETIME ftStartTime;
    FILETIME ftCurrentTime;
    FILETIME ftLastUpdateTime;
    OPCSERVERSTATE dwServerState = OPC_STATUS_RUNNING;
    DWORD dwGroupCount = 0;
    DWORD dwBandWidth = 0;
    WORD wMajorVersion = 0;
    WORD wMinorVersion = 0;
    WORD wBuildNumber = 0;
    WORD wReserved = 0;
    QString szVendorInfo;
};

struct OPCITEMDEF
{
    QString szAccessPath;
    QString szItemID;
    BOOL bActive = 1;
    OPCHANDLE hClient = 0;
    std::vector<std::uint8_t> pBlob;
    VARTYPE vtRequestedDataType = VT_EMPTY;
    WORD wReserved = 0;
};

struct OPCITEMRESULT
{
    OPCHANDLE hServer = 0;
    VARTYPE vtCanonicalDataType = VT_EMPTY;
    WORD wReserved = 0;
    DWORD dwAccessRights = 0;
    std::vector<std::uint8_t> pBlob;
};

struct OPCITEMSTATE
{
    OPCHANDLE hClient = 0;
    FILETIME ftTimeStamp;
    WORD wQuality = 0;
    WORD wReserved = 0;
    TVariant vDataValue;
};

// Per-item results: on a call that returns S_FALSE some entries of errors failed; on a failed
// call the out arrays are left empty.

struct IOPCServer : IUnknown
{
    static constexpr IID Iid{0x39C13A4D, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3};
    // timeBias and percentDeadband may be null (server defaults).
    virtual HRESULT AddGroup(const QString &name, BOOL active, DWORD requestedUpdateRate,
                             OPCHANDLE clientGroup, const LONG *timeBias,
                             const float *percentDeadband, LCID lcid, OPCHANDLE &serverGroup,
                             DWORD &revisedUpdateRate, const IID &iid,
                             ComPtr<IUnknown> &group) = 0;
    virtual HRESULT GetErrorString(HRESULT error, LCID locale, QString &text) = 0;
    virtual HRESULT GetGroupByName(const QString &name, const IID &iid,
                                   ComPtr<IUnknown> &group) = 0;
    virtual HRESULT GetStatus(OPCSERVERSTATUS &status) = 0;
    virtual HRESULT RemoveGroup(OPCHANDLE serverGroup, BOOL force) = 0;
    virtual HRESULT CreateGroupEnumerator(OPCENUMSCOPE scope, const IID &iid,
                                          ComPtr<IUnknown> &enumerator) = 0;
};

struct IOPCServerPublicGroups : IUnknown
{
    static constexpr IID Iid{0x39C13A4E, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3};
    virtual HRESULT GetPublicGroupByName(const QString &name, const IID &iid,
                                         ComPtr<IUnknown> &group) = 0;
    virtual HRESULT RemovePublicGroup(OPCHANDLE serverGroup, BOOL force) = 0;
};

struct IOPCBrowseServerAddressSpace : IUnknown
{
    static constexpr IID Iid{0x39C13A4F, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3};
    virtual HRESULT QueryOrganization(OPCNAMESPACETYPE &organization) = 0;
    virtual HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION direction, const QString &name) = 0;
    // S_FALSE with an empty enumerator when nothing matches.
    virtual HRESULT BrowseOPCItemIDs(OPCBROWSETYPE browseType, const QString &filterCriteria,
                                     VARTYPE dataTypeFilter, DWORD accessRightsFilter,
                                     ComPtr<IEnumString> &names) = 0;
    virtual HRESULT GetItemID(const QString &itemDataID, QString &itemID) = 0;
    virtual HRESULT BrowseAccessPaths(const QString &itemID, ComPtr<IEnumString> &paths) = 0;
};

struct IOPCGroupStateMgt : IUnknown
{
    static constexpr IID Iid{0x39C13A50, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3};
    virtual HRESULT GetState(DWORD &updateRate, BOOL &active, QString &name, LONG &timeBias,
                             float &percentDeadband, LCID &lcid, OPCHANDLE &clientGroup,
                             OPCHANDLE &serverGroup) = 0;
    // Null arguments leave that value as it is.
    virtual HRESULT SetState(const DWORD *requestedUpdateRate, DWORD &revisedUpdateRate,
                             const BOOL *active, const LONG *timeBias,
                             const float *percentDeadband, const LCID *lcid,
                             const OPCHANDLE *clientGroup) = 0;
    virtual HRESULT SetName(const QString &name) = 0;
    virtual HRESULT CloneGroup(const QString &name, const IID &iid, ComPtr<IUnknown> &group) = 0;
};

struct IOPCSyncIO : IUnknown
{
    static constexpr IID Iid{0x39C13A52, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3};
    virtual HRESULT Read(OPCDATASOURCE source, std::span<const OPCHANDLE> serverItems,
                         std::vector<OPCITEMSTATE> &values, std::vector<HRESULT> &errors) = 0;
    virtual HRESULT Write(std::span<const OPCHANDLE> serverItems, std::span<const TVariant> values,
                          std::vector<HRESULT> &errors) = 0;
};

struct IOPCItemMgt : IUnknown
{
    static constexpr IID Iid{0x39C13A54, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3};
    virtual HRESULT AddItems(std::span<const OPCITEMDEF> items, std::vector<OPCITEMRESULT> &results,
                             std::vector<HRESULT> &errors) = 0;
    virtual HRESULT ValidateItems(std::span<const OPCITEMDEF> items, BOOL blobUpdate,
                                  std::vector<OPCITEMRESULT> &results,
                                  std::vector<HRESULT> &errors) = 0;
    virtual HRESULT RemoveItems(std::span<const OPCHANDLE> serverItems,
                                std::vector<HRESULT> &errors) = 0;
    virtual HRESULT SetActiveState(std::span<const OPCHANDLE> serverItems, BOOL active,
                                   std::vector<HRESULT> &errors) = 0;
    virtual HRESULT SetClientHandles(std::span<const OPCHANDLE> serverItems,
                                     std::span<const OPCHANDLE> clientItems,
                                     std::vector<HRESULT> &errors) = 0;
    virtual HRESULT SetDatatypes(std::span<const OPCHANDLE> serverItems,
                                 std::span<const VARTYPE> requestedDataTypes,
                                 std::vector<HRESULT> &errors) = 0;
    virtual HRESULT CreateEnumerator(const IID &iid, ComPtr<IUnknown> &enumerator) = 0;
};

struct IOPCAsyncIO2 : IUnknown
{
    static constexpr IID Iid{0x39C13A71, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3};
    virtual HRESULT Read(std::span<const OPCHANDLE> serverItems, DWORD transactionID,
                         DWORD &cancelID, std::vector<HRESULT> &errors) = 0;
    virtual HRESULT Write(std::span<const OPCHANDLE> serverItems, std::span<const TVariant> values,
                          DWORD transactionID, DWORD &cancelID, std::vector<HRESULT> &errors) = 0;
    virtual HRESULT Refresh2(OPCDATASOURCE source, DWORD transactionID, DWORD &cancelID) = 0;
    virtual HRESULT Cancel2(DWORD cancelID) = 0;
    virtual HRESULT SetEnable(BOOL enable) = 0;
    virtual HRESULT GetEnable(BOOL &enable) = 0;
};

// The client's data sink. The arrays hold count entries each; a server always passes them all,
// a missing one shows as a span shorter than count.
struct IOPCDataCallback : IUnknown
{
    static constexpr IID Iid{0x39C13A70, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3};
    virtual HRESULT OnDataChange(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterQuality,
                                 HRESULT masterError, DWORD count,
                                 std::span<const OPCHANDLE> clientItems,
                                 std::span<const TVariant> values, std::span<const WORD> qualities,
                                 std::span<const FILETIME> timeStamps,
                                 std::span<const HRESULT> errors) = 0;
    virtual HRESULT OnReadComplete(DWORD transactionID, OPCHANDLE clientGroup,
                                   HRESULT masterQuality, HRESULT masterError, DWORD count,
                                   std::span<const OPCHANDLE> clientItems,
                                   std::span<const TVariant> values,
                                   std::span<const WORD> qualities,
                                   std::span<const FILETIME> timeStamps,
                                   std::span<const HRESULT> errors) = 0;
    virtual HRESULT OnWriteComplete(DWORD transactionID, OPCHANDLE clientGroup,
                                    HRESULT masterError, DWORD count,
                                    std::span<const OPCHANDLE> clientItems,
                                    std::span<const HRESULT> errors) = 0;
    virtual HRESULT OnCancelComplete(DWORD transactionID, OPCHANDLE clientGroup) = 0;
};

struct IOPCItemProperties : IUnknown
{
    static constexpr IID Iid{0x39C13A72, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3};
    virtual HRESULT QueryAvailableProperties(const QString &itemID, std::vector<DWORD> &propertyIDs,
                                             std::vector<QString> &descriptions,
                                             std::vector<VARTYPE> &dataTypes) = 0;
    virtual HRESULT GetItemProperties(const QString &itemID, std::span<const DWORD> propertyIDs,
                                      std::vector<TVariant> &data,
                                      std::vector<HRESULT> &errors) = 0;
    virtual HRESULT LookupItemIDs(const QString &itemID, std::span<const DWORD> propertyIDs,
                                  std::vector<QString> &newItemIDs,
                                  std::vector<HRESULT> &errors) = 0;
};

struct IOPCCommon : IUnknown
{
    static constexpr IID Iid{0xF31DFDE2, 0x07B6, 0x11D2, 0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB};
    virtual HRESULT SetLocaleID(LCID lcid) = 0;
    virtual HRESULT GetLocaleID(LCID &lcid) = 0;
    virtual HRESULT QueryAvailableLocaleIDs(std::vector<LCID> &lcids) = 0;
    virtual HRESULT GetErrorString(HRESULT error, QString &text) = 0;
    virtual HRESULT SetClientName(const QString &name) = 0;
};

// The client's shutdown sink; a null reason means the server gave none.
struct IOPCShutdown : IUnknown
{
    static constexpr IID Iid{0xF31DFDE1, 0x07B6, 0x11D2, 0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB};
    virtual HRESULT ShutdownRequest(const QString &reason) = 0;
};

struct IOPCServerList : IUnknown
{
    static constexpr IID Iid{0x13486D50, 0x4821, 0x11D2, 0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00};
    virtual HRESULT EnumClassesOfCategories(std::span<const GUID> implemented,
                                            std::span<const GUID> required,
                                            ComPtr<IEnumGUID> &classes) = 0;
    virtual HRESULT GetClassDetails(const CLSID &clsid, QString &progID, QString &userType) = 0;
    virtual HRESULT CLSIDFromProgID(const QString &progID, CLSID &clsid) = 0;
};

struct IPersistFile : IUnknown
{
    static constexpr IID Iid{0x0000010B, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    virtual HRESULT GetClassID(CLSID &clsid) = 0;
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT Load(const QString &fileName, DWORD mode) = 0;
    virtual HRESULT Save(const QString &fileName, BOOL remember) = 0;
    virtual HRESULT SaveCompleted(const QString &fileName) = 0;
    virtual HRESULT GetCurFile(QString &fileName) = 0;
};
