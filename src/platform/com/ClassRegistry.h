// Classes that can be created by id or ProgID, one registry per computer ("host"), and object
// creation on the local computer or on another one. In-process hosts stand in for the computers
// of a network; a name that is neither local nor a known host cannot be reached.
#pragma once

#include "platform/com/ComBase.h"

#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_SERVER =
    CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// Makes a new object of a class on the named computer (the name as the caller gave it, empty for
// the local one).
using TClassFactory = std::function<HRESULT(const QString &computerName, ComPtr<IUnknown> &object)>;

struct TClassInfo
{
    CLSID Clsid;
    QString ProgID;
    QString Name; // descriptive name
    std::vector<GUID> ImplementedCategories;
    TClassFactory Factory;
};

// Lists classes offered at run time instead of registered up front (a gateway, say).
using TClassProvider = std::function<std::vector<TClassInfo>()>;

// The classes of one computer. Registered classes come first, then those of providers; a class
// id registered twice keeps the later registration. Thread-safe.
class TClassRegistry
{
public:
    void Register(TClassInfo info);
    bool Unregister(const CLSID &clsid);
    void AddProvider(TClassProvider provider);

    std::optional<TClassInfo> Find(const CLSID &clsid) const;
    // ProgIDs compare without regard to case, as the system registry does.
    std::optional<TClassInfo> FindProgID(const QString &progID) const;
    std::vector<TClassInfo> Classes() const;

private:
    mutable std::mutex m_Mutex;
    std::vector<TClassInfo> m_Classes;
    std::vector<TClassProvider> m_Providers;
};

class TComHost
{
public:
    explicit TComHost(QString name) : m_Name(std::move(name)) {}
    const QString &Name() const { return m_Name; }
    TClassRegistry &Classes() { return m_Classes; }
    // An unreachable host answers every creation with the RPC "server unavailable" error.
    bool Reachable() const { return m_Reachable; }
    void SetReachable(bool reachable) { m_Reachable = reachable; }

private:
    QString m_Name;
    TClassRegistry m_Classes;
    bool m_Reachable = true;
};

// The computer this program runs on.
TComHost &LocalHost();
// Whether name means this computer: empty, its host name (case ignored, with or without a leading
// "\\").
bool IsLocalComputerName(const QString &name);
// Adds (or returns the existing) in-process host of that name, kept without leading "\\"; a
// local name gives LocalHost(), which UnregisterHost leaves alone.
TComHost &RegisterHost(const QString &name);
void UnregisterHost(const QString &name);
// The host a name reaches: this computer for a local name, a registered host by name (case
// ignored, a leading "\\" allowed), else null.
TComHost *FindHost(const QString &computerName);

// The class of a ProgID in the local registry; CO_E_CLASSSTRING when it is unknown.
HRESULT CLSIDFromProgID(const QString &progID, CLSID &clsid);
// Creates an object on this computer and asks it for iid.
HRESULT CoCreateInstance(const CLSID &clsid, DWORD context, const IID &iid,
                         ComPtr<IUnknown> &object);
// Creates an object on the named computer: RPC_S_SERVER_UNAVAILABLE_HR when it cannot be
// reached, REGDB_E_CLASSNOTREG when it has no such class, E_NOINTERFACE when the object does not
// answer for iid, CO_E_SERVER_EXEC_FAILURE when the factory throws.
HRESULT CoCreateInstanceEx(const CLSID &clsid, DWORD context, const QString &computerName,
                           const IID &iid, ComPtr<IUnknown> &object);
