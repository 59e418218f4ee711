// The network as the Windows network enumeration shows it: one network, its domains or
// workgroups, and their computers. A computer added here is also an in-process host that objects
// can be created on; a host that is registered but not added is reachable yet not listed, and
// this computer is listed only when it is added like any other.
#pragma once

#include "platform/com/ClassRegistry.h"

#include <QString>
#include <cstdint>
#include <vector>

// Results of the enumeration functions (Win32 error codes).
inline constexpr DWORD NO_ERROR = 0;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_BAD_NET_NAME = 67;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_NOT_CONTAINER = 1207;

// Scopes.
inline constexpr DWORD RESOURCE_CONNECTED = 0x1;
inline constexpr DWORD RESOURCE_GLOBALNET = 0x2;
inline constexpr DWORD RESOURCE_REMEMBERED = 0x3;
inline constexpr DWORD RESOURCE_RECENT = 0x4;
inline constexpr DWORD RESOURCE_CONTEXT = 0x5;

// Resource types.
inline constexpr DWORD RESOURCETYPE_ANY = 0x0;
inline constexpr DWORD RESOURCETYPE_DISK = 0x1;
inline constexpr DWORD RESOURCETYPE_PRINT = 0x2;
inline constexpr DWORD RESOURCETYPE_RESERVED = 0x8;
inline constexpr DWORD RESOURCETYPE_UNKNOWN = 0xFFFFFFFF;

// Usages (bits).
inline constexpr DWORD RESOURCEUSAGE_CONNECTABLE = 0x1;
inline constexpr DWORD RESOURCEUSAGE_CONTAINER = 0x2;
inline constexpr DWORD RESOURCEUSAGE_NOLOCALDEVICE = 0x4;
inline constexpr DWORD RESOURCEUSAGE_SIBLING = 0x8;
inline constexpr DWORD RESOURCEUSAGE_ATTACHED = 0x10;
inline constexpr DWORD RESOURCEUSAGE_ALL =
    RESOURCEUSAGE_CONNECTABLE | RESOURCEUSAGE_CONTAINER | RESOURCEUSAGE_ATTACHED;
inline constexpr DWORD RESOURCEUSAGE_RESERVED = 0x80000000;

// Display types.
inline constexpr DWORD RESOURCEDISPLAYTYPE_GENERIC = 0x0;
inline constexpr DWORD RESOURCEDISPLAYTYPE_DOMAIN = 0x1;
inline constexpr DWORD RESOURCEDISPLAYTYPE_SERVER = 0x2;
inline constexpr DWORD RESOURCEDISPLAYTYPE_SHARE = 0x3;
inline constexpr DWORD RESOURCEDISPLAYTYPE_FILE = 0x4;
inline constexpr DWORD RESOURCEDISPLAYTYPE_GROUP = 0x5;
inline constexpr DWORD RESOURCEDISPLAYTYPE_NETWORK = 0x6;
inline constexpr DWORD RESOURCEDISPLAYTYPE_ROOT = 0x7;
inline constexpr DWORD RESOURCEDISPLAYTYPE_SHAREADMIN = 0x8;
inline constexpr DWORD RESOURCEDISPLAYTYPE_DIRECTORY = 0x9;

// One entry of the listing. The network is RESOURCEDISPLAYTYPE_NETWORK with the usage
// container | reserved, a domain RESOURCEDISPLAYTYPE_DOMAIN, a computer RESOURCEDISPLAYTYPE_SERVER
// with the remote name "\\NAME"; all are containers of the global network, their provider is the
// network's name.
struct TNetResource
{
    DWORD Scope = 0;
    DWORD Type = 0;
    DWORD DisplayType = 0;
    DWORD Usage = 0;
    QString LocalName;
    QString RemoteName;
    QString Comment;
    QString Provider;

    friend bool operator==(const TNetResource &, const TNetResource &) = default;
};

// The one network the listing holds, present even while it has no computers.
inline const QString NetworkName = QStringLiteral("Tidewell Network");
// The workgroup of computers added without a domain.
inline const QString DefaultWorkgroup = QStringLiteral("WORKGROUP");

// Lists the computer as "\\computerName" below the domain (or workgroup; DefaultWorkgroup when
// empty) and returns its host: the existing one, this computer for a local name, else a new
// in-process host. withServerList offers the OPC server enumerator on it (RegisterOpcServerList).
// A computer already listed moves to the new domain. The name may carry a leading "\\"; an
// empty name raises an internal error.
TComHost &AddNetworkComputer(const QString &domain, const QString &computerName,
                             bool withServerList = true);
// Takes the computer out of the listing; its host is unregistered too when AddNetworkComputer
// made it. A domain without computers disappears. False when the computer was not listed.
bool RemoveNetworkComputer(const QString &computerName);
// Removes every computer as RemoveNetworkComputer does.
void ClearNetwork();

// An open enumeration; 0 is never one.
using TNetEnumHandle = std::uint32_t;
// maxCount of EnumNetworkResources: every entry that is left.
inline constexpr DWORD NET_ENUM_ALL = 0xFFFFFFFF;

// Starts an enumeration of the entries below container (the network itself when null):
// RESOURCE_GLOBALNET lists the network, its domains below it, a domain's computers below the
// domain and nothing below a computer (no shares are offered); the container is found by its
// remote name, ignoring case. RESOURCE_CONTEXT lists the domain of this computer (nothing while
// it is not added), RESOURCE_CONNECTED and RESOURCE_REMEMBERED nothing (there are no
// connections). type is any, disk or print; usage filters by the connectable and container
// bits (0 or RESOURCEUSAGE_ALL for all). The entries are taken at this moment.
// ERROR_INVALID_PARAMETER for another scope or type, ERROR_NOT_CONTAINER for a container
// without the container usage, ERROR_BAD_NET_NAME for one the network does not list.
DWORD OpenNetworkEnumeration(DWORD scope, DWORD type, DWORD usage, const TNetResource *container,
                             TNetEnumHandle &handle);
// Replaces resources with the next entries, at most maxCount (NET_ENUM_ALL for all that are
// left): NO_ERROR with at least one entry, ERROR_NO_MORE_ITEMS when none is left,
// ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER for a maxCount of 0. Callers that ask for fewer
// than all must call again until ERROR_NO_MORE_ITEMS, or they miss entries.
DWORD EnumNetworkResources(TNetEnumHandle handle, DWORD maxCount,
                           std::vector<TNetResource> &resources);
// NO_ERROR, or ERROR_INVALID_HANDLE for a handle that is not open.
DWORD CloseNetworkEnumeration(TNetEnumHandle handle);

// Closes an enumeration when it goes out of scope, whatever happens in between.
class TNetEnumCloser
{
public:
    explicit TNetEnumCloser(TNetEnumHandle handle) : m_Handle(handle) {}
    ~TNetEnumCloser() { CloseNetworkEnumeration(m_Handle); }
    TNetEnumCloser(const TNetEnumCloser &) = delete;
    TNetEnumCloser &operator=(const TNetEnumCloser &) = delete;

private:
    TNetEnumHandle m_Handle;
};
