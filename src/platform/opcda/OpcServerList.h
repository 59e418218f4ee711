// The OPC server enumerator: the object a computer offers under CLSID_OpcServerList so that
// clients can list its OPC servers and look up their class ids.
#pragma once

#include "platform/com/ClassRegistry.h"
#include "platform/opcda/OpcDa.h"

inline const QString OpcServerListProgID = QStringLiteral("OPC.ServerList.1");
inline const QString OpcServerListName = QStringLiteral("OpcEnum");

// IOPCServerList over the class registry of one computer. The computer is looked up by name at
// every call, so an enumerator outliving its computer's registration answers
// RPC_S_SERVER_UNAVAILABLE_HR instead of reading a registry that is gone.
class TOPCServerList : public TComObject<IOPCServerList>
{
public:
    // computerName as activation received it; empty for this computer.
    explicit TOPCServerList(QString computerName);

    // The classes that implement at least one of the implemented categories (any class when
    // none is given) and every one of the required categories, in registry order.
    HRESULT EnumClassesOfCategories(std::span<const GUID> implemented,
                                    std::span<const GUID> required,
                                    ComPtr<IEnumGUID> &classes) override;
    // ProgID and descriptive name; REGDB_E_CLASSNOTREG for a class the computer lacks.
    HRESULT GetClassDetails(const CLSID &clsid, QString &progID, QString &userType) override;
    // The class of a ProgID in that computer's registry (case ignored); CO_E_CLASSSTRING when
    // unknown.
    HRESULT CLSIDFromProgID(const QString &progID, CLSID &clsid) override;

private:
    // The computer's host, or null when it can no longer be reached.
    TComHost *Host() const;

    QString m_ComputerName;
};

// Offers the enumerator on a host (again if it is there already). Activation passes the
// computer name to the enumerator, which then lists the classes of the host that name reaches.
void RegisterOpcServerList(TComHost &host);
// Takes it away again, to model a computer without the enumerator; false when it was not there.
bool UnregisterOpcServerList(TComHost &host);
// Offers the enumerator on this computer unless it is there; the program calls this at start.
void EnsureLocalOpcServerList();
