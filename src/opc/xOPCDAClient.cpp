#include "opc/xOPCDAClient.h"

#include "eventlog/xEventLog.h"
#include "platform/system/HostInfo.h"

#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <exception>

namespace {

const QString OutgoingCall = QStringLiteral("Ausgehender OPC-Aufruf: ");
const QString IncomingCall = QStringLiteral("Eingehender OPC-Aufruf: ");

template <class T> void LogOutgoingFrom(const T *sender, const char *call)
{
    TEventLogger &logger = EventLogger();
    if (logger.LoggingLevel() < 5)
        return;
    logger.Log(etInformation, 5, sender, OutgoingCall + QLatin1String(call));
}

void CheckFailed(HRESULT hr)
{
    if (FAILED(hr))
        throw EOPCException(hr);
}

bool IsNumericIPv4(const QString &name)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return false;
    for (int i = 1; i <= 4; ++i)
        if (match.captured(i).toInt() > 255)
            return false;
    return true;
}

// Activation on another computer, asking for IUnknown only.
HRESULT CreateRemote(const CLSID &clsid, const QString &computerName, ComPtr<IUnknown> &object)
{
    const DWORD context = computerName.compare(HostComputerName(), Qt::CaseInsensitive) == 0
                              ? CLSCTX_SERVER
                              : CLSCTX_REMOTE_SERVER;
    return CoCreateInstanceEx(clsid, context, computerName, IUnknown::Iid, object);
}

HRESULT CreateLocal(const CLSID &clsid, ComPtr<IUnknown> &object)
{
    return CoCreateInstance(clsid, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IUnknown::Iid,
                            object);
}

QString Hex8(HRESULT code)
{
    return QStringLiteral("%1").arg(static_cast<quint32>(code), 8, 16, QLatin1Char('0')).toUpper();
}

QString Quoted(const QString &id)
{
    return QLatin1Char('\'') + id + QLatin1Char('\'');
}

// Runs a function when the scope ends, also when an exception leaves it.
template <class F> class TScopeExit
{
public:
    explicit TScopeExit(F function) : m_Function(std::move(function)) {}
    ~TScopeExit() { m_Function(); }
    TScopeExit(const TScopeExit &) = delete;
    TScopeExit &operator=(const TScopeExit &) = delete;

private:
    F m_Function;
};

// The items a batch call failed for, and the one exception that names them all.
class TBatchFailures
{
public:
    void Add(TOPCDAClientItem *item)
    {
        if (!m_Failure)
            m_Failure = std::make_unique<EOPCOpCompletedWithOneOrMoreErrors>();
        m_Failure->Add(item);
        if (!m_IDs.isEmpty())
            m_IDs += QStringLiteral(", ");
        m_IDs += Quoted(item->ItemID);
    }

    // Raises with the plural or the singular text, %1 being the quoted ids and %2 the extra text.
    void RaiseIfAny(const QString &plural, const QString &singular,
                    const QString &extra = QString()) const
    {
        if (!m_Failure)
            return;
        const QString &text = m_Failure->Count() > 1 ? plural : singular;
        m_Failure->SetMessage(extra.isNull() ? text.arg(m_IDs) : text.arg(m_IDs, extra));
        throw EOPCOpCompletedWithOneOrMoreErrors(*m_Failure);
    }

private:
    std::unique_ptr<EOPCOpCompletedWithOneOrMoreErrors> m_Failure;
    QString m_IDs;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Module functions

QString NormalizeComputerName(const QString &name)
{
    const QString trimmed = name.trimmed();
    const QString upper = trimmed.toUpper();
    if (upper == QLatin1String("LOCAL") || upper == QLatin1String("LOCALHOST") ||
        upper == QLatin1String("127.0.0.1") || upper == QLatin1String("//127.0.0.1"))
        return QString();
    return trimmed;
}

QString ComputerDisplayName(const QString &name)
{
    return name.isEmpty() ? QStringLiteral("Localhost") : name;
}

QString ServerDisplayName(const QString &computerName, const QString &serverName)
{
    return computerName.isEmpty() ? serverName : computerName + QLatin1Char('\\') + serverName;
}

bool IsComputerInNetwork(const QString &name, const TNetResource *container)
{
    TNetEnumHandle handle = 0;
    if (OpenNetworkEnumeration(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, RESOURCEUSAGE_CONTAINER,
                               container, handle) != NO_ERROR)
        return false;
    TNetEnumCloser closer(handle);
    bool found = false;
    std::vector<TNetResource> entries;
    // Every batch up to ERROR_NO_MORE_ITEMS: stopping after the first would miss computers.
    while (EnumNetworkResources(handle, NET_ENUM_ALL, entries) == NO_ERROR) {
        for (const TNetResource &entry : entries) {
            const bool isContainer =
                (entry.Usage & ~RESOURCEUSAGE_RESERVED) == RESOURCEUSAGE_CONTAINER;
            if ((entry.DisplayType == RESOURCEDISPLAYTYPE_DOMAIN ||
                 entry.DisplayType == RESOURCEDISPLAYTYPE_NETWORK) &&
                isContainer) {
                if (IsComputerInNetwork(name, &entry))
                    return true;
            } else if (entry.RemoteName.compare(name, Qt::CaseInsensitive) == 0) {
                found = true;
            }
        }
    }
    return found;
}

void OPCCreateServerList(const QString &computerName, ComPtr<IOPCServerList> &serverList)
{
    serverList.Reset();
    const QString name = NormalizeComputerName(computerName);
    ComPtr<IUnknown> object;
    const HRESULT hr = name.isEmpty() ? CreateLocal(CLSID_OpcServerList, object)
                                      : CreateRemote(CLSID_OpcServerList, name, object);
    CheckFailed(hr);
    if (!object)
        throw EOPCException(
            QStringLiteral("COM-Objekt IOPCServerList konnte nicht erzeugt werden."));
    OPCCheck(object.As(serverList));
    EventLogger().LogNamed(etInformation, 4, QStringLiteral("xOPCClient:OPCCreateServerList"),
                           nullptr,
                           QStringLiteral("COM-Objekt IOPCServerList wurde auf \"%1\" erzeugt.")
                               .arg(ComputerDisplayName(name)));
}

void FindServerClassID(const QString &computerName, const QString &progID,
                       ComPtr<IOPCServerList> &serverList, CLSID &classID)
{
    classID = CLSID();
    if (SUCCEEDED(CLSIDFromProgID(progID, classID)))
        return;
    classID = CLSID();
    if (!serverList)
        OPCCreateServerList(computerName, serverList);
    if (SUCCEEDED(serverList->CLSIDFromProgID(progID, classID)))
        return;
    classID = CLSID();

    ComPtr<IEnumGUID> classes;
    const GUID implemented[] = {CATID_OPCDAServer20};
    HRESULT hr = serverList->EnumClassesOfCategories(implemented, {}, classes);
    if (FAILED(hr))
        throw EOPCException(hr);
    if (!classes)
        return;
    for (;;) {
        std::vector<GUID> fetched;
        hr = classes->Next(1, fetched);
        if (FAILED(hr))
            throw EOPCException(hr);
        if (fetched.empty())
            return;
        QString foundProgID;
        QString userType;
        if (SUCCEEDED(serverList->GetClassDetails(fetched.front(), foundProgID, userType)) &&
            foundProgID == progID) {
            classID = fetched.front();
            return;
        }
        if (hr != S_OK)
            return;
    }
}

void OPCCreateServer(TRemoteServerInfo &info, ComPtr<IOPCServerList> serverList,
                     ComPtr<IOPCServer> &server)
{
    server.Reset();
    info.ComputerName = NormalizeComputerName(info.ComputerName);
    const QString &computer = info.ComputerName;
    if (!serverList)
        OPCCreateServerList(computer, serverList);

    ComPtr<IUnknown> object;
    HRESULT hr = S_OK;
    if (computer.isEmpty()) {
        if (info.GUID.isNull())
            CheckFailed(CLSIDFromProgID(info.ID, info.GUID));
        hr = CreateLocal(info.GUID, object);
    } else {
        // The network lists computers as "\\NAME"; a plain name is looked up that way.
        const QString listed = computer.startsWith(QLatin1String("\\\\"))
                                   ? computer
                                   : QStringLiteral("\\\\") + computer;
        if (!IsNumericIPv4(computer) && !IsComputerInNetwork(listed, nullptr))
            throw Exception(
                QStringLiteral(
                    "Das System mit dem Namen %1 konnte nicht im Netzwerk gefunden werden")
                    .arg(computer));
        if (info.GUID.isNull())
            FindServerClassID(computer, info.ID, serverList, info.GUID);
        hr = CreateRemote(info.GUID, computer, object);
    }
    CheckFailed(hr);
    if (!object)
        throw EOPCException(QStringLiteral("COM-Objekt IOPCServer konnte nicht erzeugt werden."));

    QString progID;
    QString name;
    OPCCheck(serverList->GetClassDetails(info.GUID, progID, name));
    info.ID = progID;
    info.Name = name;
    OPCCheck(object.As(server));
    EventLogger().LogNamed(etInformation, 4, QStringLiteral("xOPCClient:OPCCreateServer"), nullptr,
                           QStringLiteral("COM-Objekt IOPCServer \"%1\" wurde auf \"%2\" erzeugt.")
                               .arg(info.ID, ComputerDisplayName(computer)));
}

// ---------------------------------------------------------------------------------------------
// TOPCDACustomClient

TOPCDACustomClient::~TOPCDACustomClient() = default;

HRESULT TOPCDACustomClient::QueryInterface(const IID &iid, void **object)
{
    if (!object)
        return E_POINTER;
    if (iid == IUnknown::Iid || iid == IOPCDataCallback::Iid)
        *object = static_cast<IOPCDataCallback *>(this);
    else if (iid == IOPCShutdown::Iid)
        *object = static_cast<IOPCShutdown *>(this);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    return S_OK;
}

template <class F> HRESULT TOPCDACustomClient::Incoming(const QString &trace, F &&call)
{
    // Nothing may escape towards the server.
    try {
        Lock();
        struct TUnlock
        {
            TOPCDACustomClient *Client;
            ~TUnlock() { Client->Unlock(); }
        } unlock{this};
        EventLogger().Log(etInformation, 5, this, IncomingCall + trace);
        call();
    } catch (const Exception &e) {
        EventLogger().Log(etError, 1, this, e.Message());
    } catch (const std::exception &e) {
        EventLogger().Log(etError, 1, this, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        EventLogger().Log(etError, 1, this, QStringLiteral("Unbekannter Fehler"));
    }
    return S_OK;
}

HRESULT TOPCDACustomClient::OnDataChange(DWORD transactionID, OPCHANDLE clientGroup,
                                         HRESULT masterQuality, HRESULT masterError, DWORD count,
                                         std::span<const OPCHANDLE> clientItems,
                                         std::span<const TVariant> values,
                                         std::span<const WORD> qualities,
                                         std::span<const FILETIME> timeStamps,
                                         std::span<const HRESULT> errors)
{
    return Incoming(QStringLiteral("IOPCDataCallback.OnDataChange TransID=%1").arg(transactionID),
                    [&] {
                        DoDataChange(transactionID, clientGroup, masterQuality, masterError, count,
                                     clientItems, values, qualities, timeStamps, errors);
                    });
}

HRESULT TOPCDACustomClient::OnReadComplete(DWORD transactionID, OPCHANDLE clientGroup,
                                           HRESULT masterQuality, HRESULT masterError, DWORD count,
                                           std::span<const OPCHANDLE> clientItems,
                                           std::span<const TVariant> values,
                                           std::span<const WORD> qualities,
                                           std::span<const FILETIME> timeStamps,
                                           std::span<const HRESULT> errors)
{
    return Incoming(QStringLiteral("IOPCDataCallback.OnReadComplete TransID=%1").arg(transactionID),
                    [&] {
                        DoReadComplete(transactionID, clientGroup, masterQuality, masterError,
                                       count, clientItems, values, qualities, timeStamps, errors);
                    });
}

HRESULT TOPCDACustomClient::OnWriteComplete(DWORD transactionID, OPCHANDLE clientGroup,
                                            HRESULT masterError, DWORD count,
                                            std::span<const OPCHANDLE> clientItems,
                                            std::span<const HRESULT> errors)
{
    return Incoming(
        QStringLiteral("IOPCDataCallback.OnWriteComplete TransID=%1").arg(transactionID), [&] {
            DoWriteComplete(transactionID, clientGroup, masterError, count, clientItems, errors);
        });
}

HRESULT TOPCDACustomClient::OnCancelComplete(DWORD transactionID, OPCHANDLE clientGroup)
{
    return Incoming(
        QStringLiteral("IOPCDataCallback.OnCancelComplete TransID=%1").arg(transactionID),
        [&] { DoCancelComplete(transactionID, clientGroup); });
}

HRESULT TOPCDACustomClient::ShutdownRequest(const QString &reason)
{
    const QString trace =
        reason.isNull()
            ? QStringLiteral("IOPCShutDown.ShutdownRequest (Reason unknown)")
            : QStringLiteral("IOPCShutDown.ShutdownRequest (Reason: ") + reason + QLatin1Char(')');
    return Incoming(trace, [&] { DoShutdownRequest(reason); });
}

void TOPCDACustomClient::DoCancelComplete(DWORD, OPCHANDLE) {}
void TOPCDACustomClient::DoDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD,
                                      std::span<const OPCHANDLE>, std::span<const TVariant>,
                                      std::span<const WORD>, std::span<const FILETIME>,
                                      std::span<const HRESULT>)
{
}
void TOPCDACustomClient::DoReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD,
                                        std::span<const OPCHANDLE>, std::span<const TVariant>,
                                        std::span<const WORD>, std::span<const FILETIME>,
                                        std::span<const HRESULT>)
{
}
void TOPCDACustomClient::DoShutdownRequest(const QString &) {}
void TOPCDACustomClient::DoWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD,
                                         std::span<const OPCHANDLE>, std::span<const HRESULT>)
{
}

// ---------------------------------------------------------------------------------------------
// TOPCDAClient

namespace {

class TClientLocker
{
public:
    explicit TClientLocker(TOPCDACustomClient &client) : m_Client(client) { m_Client.Lock(); }
    ~TClientLocker() { m_Client.Unlock(); }
    TClientLocker(const TClientLocker &) = delete;
    TClientLocker &operator=(const TClientLocker &) = delete;

private:
    TOPCDACustomClient &m_Client;
};

void CheckCallbackArrays(DWORD count, std::initializer_list<std::size_t> sizes)
{
    for (const std::size_t size : sizes)
        if (size < count)
            throw Exception(QStringLiteral("Callback-Parameter darf nicht NIL sein."));
}

[[noreturn]] void RaiseInvalidGroupHandle()
{
    throw Exception(QStringLiteral("Ungültiges Gruppenhandle"));
}

} // namespace

TOPCDAClient::TOPCDAClient() : m_Namespace(std::make_unique<TOPCDAClientNamespace>()) {}

TOPCDAClient::~TOPCDAClient()
{
    try {
        Disconnect();
    } catch (...) {
        // Disconnect logs what matters; a destructor must not throw.
    }
    m_Groups.clear();
    ReleaseInterfaces();
}

TOPCDAClientGroup *TOPCDAClient::Group(qsizetype index) const
{
    if (index < 0 || index >= GroupCount())
        return nullptr;
    return m_Groups[static_cast<std::size_t>(index)].get();
}

TOPCDAClientGroup *TOPCDAClient::FindGroup(OPCHANDLE clientHandle) const
{
    for (const auto &group : m_Groups)
        if (group->ClientHandle() == clientHandle)
            return group.get();
    return nullptr;
}

OPCHANDLE TOPCDAClient::NextGroupHandle()
{
    // Handles are never 0 and never reused while a group holds them.
    do {
        ++m_LastGroupHandle;
    } while (m_LastGroupHandle == 0 || FindGroup(m_LastGroupHandle));
    return m_LastGroupHandle;
}

void TOPCDAClient::ReleaseInterfaces()
{
    ServerIntf.Reset();
    ConnectionPointContainer.Reset();
    OPCCommon.Reset();
    OPCItemProperties.Reset();
    OPCServer.Reset();
    OPCServerPublicGroups.Reset();
    PersistFile.Reset();
    m_ShutdownPoint.Reset();
    m_ShutdownCookie = 0;
    m_Namespace->BrowseServerAddressSpace.Reset();
    m_Namespace->ItemProperties.Reset();
}

void TOPCDAClient::AdviseShutdown()
{
    if (!ConnectionPointContainer)
        return;
    ComPtr<IConnectionPoint> point;
    if (FAILED(ConnectionPointContainer->FindConnectionPoint(IOPCShutdown::Iid, point)) || !point)
        return;
    DWORD cookie = 0;
    if (FAILED(point->Advise(Unknown(), cookie)))
        return;
    m_ShutdownPoint = point;
    m_ShutdownCookie = cookie;
}

void TOPCDAClient::UnadviseShutdown()
{
    if (!m_ShutdownPoint)
        return;
    const ComPtr<IConnectionPoint> point = std::move(m_ShutdownPoint);
    m_ShutdownPoint.Reset();
    const DWORD cookie = std::exchange(m_ShutdownCookie, 0);
    CheckFailed(point->Unadvise(cookie));
}

void TOPCDAClient::SetServer(const QString &computerName, const QString &name, const CLSID &classID,
                             const QString &progID)
{
    Disconnect();
    ServerInfo.ComputerName = computerName;
    ServerInfo.Name = name;
    ServerInfo.GUID = classID;
    ServerInfo.ID = progID;
    if (name.isEmpty() || progID.isEmpty())
        return;
    try {
        ConnectToServer();
    } catch (...) {
        Disconnect();
        throw;
    }
}

void TOPCDAClient::ConnectToServer()
{
    TClientLocker locker(*this);
    const double elapsed = (Now() - ShutdownTime) * 86400000.0;
    if (static_cast<double>(ReconnectDelay) >= elapsed)
        return;
    if (!m_Connected) {
        EventLogger().Log(etInformation, 5, this,
                          QStringLiteral("ConnectToServer ServerID=") + ServerInfo.ID, 1);
        try {
            ComPtr<IOPCServer> server;
            OPCCreateServer(ServerInfo, ServerList, server);
            ServerIntf = server;
            CheckFailed(ServerIntf.As(ConnectionPointContainer));
            CheckFailed(ServerIntf.As(OPCCommon));
            CheckFailed(ServerIntf.As(OPCItemProperties));
            m_Namespace->ItemProperties = OPCItemProperties;
            CheckFailed(ServerIntf.As(OPCServer));
            ServerIntf.As(OPCServerPublicGroups);
            ServerIntf.As(m_Namespace->BrowseServerAddressSpace);
            ServerIntf.As(PersistFile);
            AdviseShutdown();
            m_Connected = true;
            if (ConnectWaitMs > 0)
                QThread::msleep(ConnectWaitMs);
        } catch (...) {
            ReleaseInterfaces();
            m_Connected = false;
            throw;
        }
    }
    try {
        GetStatus();
    } catch (...) {
        // A status that cannot be read does not undo the connection.
    }
}

void TOPCDAClient::Disconnect()
{
    TClientLocker locker(*this);
    if (!m_Connected)
        return;
    m_Connected = false;
    try {
        UnadviseShutdown();
    } catch (const Exception &e) {
        EventLogger().Log(etWarning, 2, this, e.Message());
    }
    try {
        RemoveAllGroups();
    } catch (const Exception &e) {
        EventLogger().Log(etWarning, 2, this, e.Message());
    }
    ReleaseInterfaces();
    m_Namespace->Clear();
}

void TOPCDAClient::GetStatus()
{
    if (!OPCServer)
        return;
    LogOutgoingFrom(this, "IOPCServer.GetStatus");
    OPCSERVERSTATUS status;
    CheckFailed(OPCServer->GetStatus(status));
    StartTime = status.ftStartTime;
    CurrentTime = status.ftCurrentTime;
    LastUpdateTime = status.ftLastUpdateTime;
    ServerState = status.dwServerState;
    GroupCountOnServer = status.dwGroupCount;
    BandWidth = status.dwBandWidth;
    MajorVersion = status.wMajorVersion;
    MinorVersion = status.wMinorVersion;
    BuildNumber = status.wBuildNumber;
    Reserved = status.wReserved;
    VendorInfo = status.szVendorInfo;
}

TOPCDAClientGroup *TOPCDAClient::AddGroup(const QString &name, DWORD requestedUpdateRate,
                                          DWORD &revisedUpdateRate, bool active,
                                          float percentDeadband, const LONG *timeBias, LCID lcid)
{
    TClientLocker locker(*this);
    EventLogger().Log(etInformation, 4, this,
                      QStringLiteral("Versuch eine Gruppe zum RemoteOPCServer hinzuzufügen"));
    if (!OPCServer)
        throw Exception(QStringLiteral("Interface-Zeiger '%1' ist nicht initialisiert")
                            .arg(QStringLiteral("IOPCServer")));
    LogOutgoingFrom(this, "IOPCServer.AddGroup");
    OPCHANDLE serverGroup = 0;
    ComPtr<IUnknown> groupIntf;
    const HRESULT hr = OPCServer->AddGroup(name, active ? 1 : 0, requestedUpdateRate, 0, timeBias,
                                           &percentDeadband, lcid, serverGroup, revisedUpdateRate,
                                           IUnknown::Iid, groupIntf);
    if (FAILED(hr))
        throw EOPCException(hr);
    if (!groupIntf)
        throw EOPCException(hr == S_OK ? E_FAIL : hr);
    try {
        m_Groups.push_back(GroupClass(groupIntf, NextGroupHandle()));
    } catch (...) {
        OPCServer->RemoveGroup(serverGroup, 1);
        throw;
    }
    return m_Groups.back().get();
}

std::unique_ptr<TOPCDAClientGroup> TOPCDAClient::GroupClass(ComPtr<IUnknown> groupIntf,
                                                            OPCHANDLE clientHandle)
{
    return std::make_unique<TOPCDAClientGroup>(this, std::move(groupIntf), clientHandle);
}

void TOPCDAClient::RemoveGroup(TOPCDAClientGroup *group, bool force)
{
    TClientLocker locker(*this);
    // Membership first: a pointer that is not one of ours is never followed.
    const auto it = std::find_if(m_Groups.begin(), m_Groups.end(),
                                 [group](const auto &own) { return own.get() == group; });
    if (!group || it == m_Groups.end())
        throw EOPCException(OPC_E_INVALIDHANDLE);

    // The group goes on the client side whatever the server answers, so a lost server never
    // leaves groups behind; the first failure is passed on afterwards.
    std::exception_ptr failure;
    try {
        group->SetActive(false);
    } catch (...) {
        failure = std::current_exception();
    }
    const OPCHANDLE serverHandle = group->ServerHandle;
    try {
        group->RemoveAllItems();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    std::unique_ptr<TOPCDAClientGroup> owned = std::move(*it);
    m_Groups.erase(std::find(m_Groups.begin(), m_Groups.end(), nullptr));
    owned.reset();
    if (OPCServer) {
        LogOutgoingFrom(this, "IOPCServer.RemoveGroup");
        const HRESULT hr = OPCServer->RemoveGroup(serverHandle, force ? 1 : 0);
        if (FAILED(hr) && !failure)
            failure = std::make_exception_ptr(EOPCException(hr));
    }
    if (failure)
        std::rethrow_exception(failure);
}

void TOPCDAClient::RemoveAllGroups()
{
    std::exception_ptr failure;
    while (!m_Groups.empty()) {
        try {
            RemoveGroup(m_Groups.back().get(), true);
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

void TOPCDAClient::GetItemProperties(const QString &itemID, const TDynDWORDArray &propertyIDs,
                                     TDynItemPropertyArray &properties)
{
    TClientLocker locker(*this);
    properties.clear();
    properties.reserve(propertyIDs.size());
    if (OPCItemProperties && !propertyIDs.empty()) {
        LogOutgoingFrom(this, "IOPCItemProperties.GetItemProperties");
        std::vector<TVariant> data;
        std::vector<HRESULT> errors;
        const HRESULT hr = OPCItemProperties->GetItemProperties(itemID, propertyIDs, data, errors);
        CheckFailed(hr);
        for (std::size_t i = 0; i < propertyIDs.size(); ++i)
            properties.push_back({propertyIDs[i], i < data.size() ? data[i] : TVariant(),
                                  i < errors.size() ? errors[i] : E_FAIL});
        return;
    }
    for (const DWORD id : propertyIDs)
        properties.push_back({id, TVariant::FromI4(0), E_FAIL});
}

void TOPCDAClient::SetNamespace(const TOPCDAClientNamespace *source)
{
    std::unique_ptr<TOPCDAClientNamespace> copy;
    if (source) {
        std::unique_ptr<TOPCDAClientNode> clone = source->Clone();
        if (auto *ns = dynamic_cast<TOPCDAClientNamespace *>(clone.get())) {
            clone.release();
            copy.reset(ns);
        }
    }
    if (!copy)
        copy = std::make_unique<TOPCDAClientNamespace>();
    m_Namespace = std::move(copy);
}

void TOPCDAClient::DoDataChange(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterQuality,
                                HRESULT masterError, DWORD count,
                                std::span<const OPCHANDLE> clientItems,
                                std::span<const TVariant> values, std::span<const WORD> qualities,
                                std::span<const FILETIME> timeStamps,
                                std::span<const HRESULT> errors)
{
    CheckCallbackArrays(count, {clientItems.size(), values.size(), qualities.size(),
                                timeStamps.size(), errors.size()});
    if (TOPCDAClientGroup *group = FindGroup(clientGroup))
        group->DoDataChange(count, clientItems, values, qualities, timeStamps, errors);
    if (OnDataChange)
        OnDataChange(transactionID, clientGroup, masterQuality, masterError, count, clientItems,
                     values, qualities, timeStamps, errors);
}

void TOPCDAClient::DoReadComplete(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterQuality,
                                  HRESULT masterError, DWORD count,
                                  std::span<const OPCHANDLE> clientItems,
                                  std::span<const TVariant> values, std::span<const WORD> qualities,
                                  std::span<const FILETIME> timeStamps,
                                  std::span<const HRESULT> errors)
{
    CheckCallbackArrays(count, {clientItems.size(), values.size(), qualities.size(),
                                timeStamps.size(), errors.size()});
    TOPCDAClientGroup *group = FindGroup(clientGroup);
    if (!group)
        RaiseInvalidGroupHandle();
    group->DoReadComplete(count, clientItems, values, qualities, timeStamps, errors);
    if (OnReadComplete)
        OnReadComplete(transactionID, clientGroup, masterQuality, masterError, count, clientItems,
                       values, qualities, timeStamps, errors);
}

void TOPCDAClient::DoWriteComplete(DWORD transactionID, OPCHANDLE clientGroup, HRESULT masterError,
                                   DWORD count, std::span<const OPCHANDLE> clientItems,
                                   std::span<const HRESULT> errors)
{
    CheckCallbackArrays(count, {clientItems.size(), errors.size()});
    TOPCDAClientGroup *group = FindGroup(clientGroup);
    if (!group)
        RaiseInvalidGroupHandle();
    group->DoWriteComplete(transactionID, masterError, count, clientItems, errors);
    if (OnWriteComplete)
        OnWriteComplete(transactionID, clientGroup, masterError, count, clientItems, errors);
}

void TOPCDAClient::DoCancelComplete(DWORD transactionID, OPCHANDLE clientGroup)
{
    TOPCDAClientGroup *group = FindGroup(clientGroup);
    if (!group)
        RaiseInvalidGroupHandle();
    group->DoCancelComplete(transactionID);
    if (OnCancelComplete)
        OnCancelComplete(transactionID, clientGroup);
}

void TOPCDAClient::DoShutdownRequest(const QString &reason)
{
    ShutdownTime = Now();
    Disconnect();
    if (OnShutdown)
        OnShutdown(reason.isNull() ? QString(QLatin1String("")) : reason);
}

// ---------------------------------------------------------------------------------------------
// TOPCDACustomClientGroup

TOPCDACustomClientGroup::TOPCDACustomClientGroup(ComPtr<IUnknown> groupIntf, OPCHANDLE clientHandle)
    : GroupIntf(std::move(groupIntf)), m_ClientHandle(clientHandle)
{
    if (!GroupIntf)
        RaiseMissingParameter(QStringLiteral("TOPCDACustomClientGroup.Create"),
                              QStringLiteral("AGroupIntf"));
    OPCCheck(GroupIntf.As(OPCItemMgt));
    OPCCheck(GroupIntf.As(ConnectionPointContainer));
    OPCCheck(GroupIntf.As(OPCGroupStateMgt));
    OPCCheck(GroupIntf.As(OPCSyncIO));
    OPCCheck(GroupIntf.As(OPCAsyncIO2));
    DWORD revised = 0;
    LogOutgoingFrom(this, "IOPCGroupStateMgt.SetState");
    CheckFailed(OPCGroupStateMgt->SetState(nullptr, revised, nullptr, nullptr, nullptr, nullptr,
                                           &m_ClientHandle));
    GetState();
}

TOPCDACustomClientGroup::~TOPCDACustomClientGroup() = default;

void TOPCDACustomClientGroup::ReleaseInterfaces()
{
    OPCSyncIO.Reset();
    OPCItemMgt.Reset();
    OPCGroupStateMgt.Reset();
    OPCAsyncIO2.Reset();
    ConnectionPointContainer.Reset();
    GroupIntf.Reset();
}

void TOPCDACustomClientGroup::GetState()
{
    TLocker locker(*this);
    if (!OPCGroupStateMgt)
        return;
    LogOutgoingFrom(this, "IOPCGroupStateMgt.GetState");
    DWORD updateRate = 0;
    BOOL active = 0;
    QString name;
    LONG timeBias = 0;
    float deadband = 0;
    LCID lcid = 0;
    OPCHANDLE clientGroup = 0;
    OPCHANDLE serverGroup = 0;
    CheckFailed(OPCGroupStateMgt->GetState(updateRate, active, name, timeBias, deadband, lcid,
                                           clientGroup, serverGroup));
    UpdateRate = updateRate;
    Active = active;
    TimeBias = timeBias;
    PercentDeadband = deadband;
    LocaleID = lcid;
    ServerHandle = serverGroup;
    if (!name.isNull())
        Name = name;
}

void TOPCDACustomClientGroup::SetState(DWORD updateRate, bool active, LCID lcid,
                                       float percentDeadband, LONG timeBias)
{
    TLocker locker(*this);
    if (!OPCGroupStateMgt)
        return;
    const BOOL activeFlag = active ? 1 : 0;
    const bool rateChanged = updateRate != UpdateRate;
    const bool activeChanged = active != (Active != 0);
    const bool lcidChanged = lcid != LocaleID;
    const bool deadbandChanged = percentDeadband != PercentDeadband;
    const bool biasChanged = timeBias != TimeBias;
    DWORD revised = UpdateRate;
    LogOutgoingFrom(this, "IOPCGroupStateMgt.SetState");
    CheckFailed(OPCGroupStateMgt->SetState(
        rateChanged ? &updateRate : nullptr, revised, activeChanged ? &activeFlag : nullptr,
        biasChanged ? &timeBias : nullptr, deadbandChanged ? &percentDeadband : nullptr,
        lcidChanged ? &lcid : nullptr, nullptr));
    if (activeChanged)
        Active = activeFlag;
    if (lcidChanged)
        LocaleID = lcid;
    if (deadbandChanged)
        PercentDeadband = percentDeadband;
    if (biasChanged)
        TimeBias = timeBias;
    UpdateRate = revised;
}

void TOPCDACustomClientGroup::SetActive(bool active)
{
    SetState(UpdateRate, active, LocaleID, PercentDeadband, TimeBias);
    Active = active ? 1 : 0;
}

void TOPCDACustomClientGroup::SetUpdateRate(DWORD updateRate)
{
    SetState(updateRate, Active != 0, LocaleID, PercentDeadband, TimeBias);
    UpdateRate = updateRate;
}

void TOPCDACustomClientGroup::SyncRead(std::span<const OPCHANDLE> serverHandles,
                                       OPCDATASOURCE dataSource, TDynSyncReadResultArray &results)
{
    TLocker locker(*this);
    results.clear();
    if (serverHandles.empty())
        return;
    if (!OPCSyncIO)
        throw EOPCException(E_FAIL);
    DoBeforeRead();
    LogOutgoingFrom(this, "IOPCSyncIO.Read");
    std::vector<OPCITEMSTATE> states;
    std::vector<HRESULT> errors;
    const HRESULT hr = OPCSyncIO->Read(dataSource, serverHandles, states, errors);
    DoAfterRead();
    CheckFailed(hr);
    results.resize(serverHandles.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
        TSyncReadResult &result = results[i];
        result.Error = i < errors.size() ? errors[i] : E_FAIL;
        if (SUCCEEDED(result.Error) && i < states.size())
            result.State = std::move(states[i]);
        else
            result.State.vDataValue = TVariant::FromI4(0);
    }
}

void TOPCDACustomClientGroup::SyncWrite(std::span<const OPCHANDLE> serverHandles,
                                        std::span<const TVariant> values, TDynHResultArray &results)
{
    TLocker locker(*this);
    results.clear();
    if (serverHandles.size() != values.size())
        throw Exception(QStringLiteral("Die übergebenen Arrays müssen die gleiche Größe haben"));
    if (serverHandles.empty())
        return;
    if (!OPCSyncIO)
        throw EOPCException(E_FAIL);
    LogOutgoingFrom(this, "IOPCSyncIO.Write");
    std::vector<HRESULT> errors;
    CheckFailed(OPCSyncIO->Write(serverHandles, values, errors));
    results.assign(serverHandles.size(), E_FAIL);
    std::copy_n(errors.begin(), std::min(errors.size(), results.size()), results.begin());
}

void TOPCDACustomClientGroup::ValidateItems(const TDynValidateItemsDefArray &definitions,
                                            bool blobUpdate, TDynValidateItemsResultArray &results)
{
    TLocker locker(*this);
    results.clear();
    results.resize(definitions.size());
    if (!OPCItemMgt) {
        for (TValidateItemsResult &result : results)
            result.Error = E_FAIL;
        return;
    }
    std::vector<OPCITEMDEF> defs(definitions.size());
    for (std::size_t i = 0; i < definitions.size(); ++i) {
        const TValidateItemsDef &from = definitions[i];
        OPCITEMDEF &def = defs[i];
        def.szAccessPath = from.AccessPath;
        def.szItemID = from.ItemID;
        def.bActive = from.Active;
        def.hClient = from.ClientHandle;
        def.pBlob = from.Blob;
        def.vtRequestedDataType = from.RequestedDataType;
        def.wReserved = from.Reserved;
    }
    LogOutgoingFrom(this, "IOPCItemMgt.ValidateItems");
    std::vector<OPCITEMRESULT> itemResults;
    std::vector<HRESULT> errors;
    CheckFailed(OPCItemMgt->ValidateItems(defs, blobUpdate ? 1 : 0, itemResults, errors));
    for (std::size_t i = 0; i < results.size(); ++i) {
        TValidateItemsResult &result = results[i];
        if (i < itemResults.size()) {
            const OPCITEMRESULT &r = itemResults[i];
            result.ServerHandle = r.hServer;
            result.CanonicalDataType = r.vtCanonicalDataType;
            result.Reserved = r.wReserved;
            result.AccessRights = r.dwAccessRights;
            result.Blob = r.pBlob;
        }
        result.Error = i < errors.size() ? errors[i] : E_FAIL;
    }
}

// ---------------------------------------------------------------------------------------------
// TOPCDAClientGroup

namespace {
ComPtr<IUnknown> RequireGroupIntf(TOPCDAClient *client, ComPtr<IUnknown> groupIntf)
{
    if (!client)
        RaiseMissingParameter(QStringLiteral("TOPCDAClientGroup.Create"),
                              QStringLiteral("AOPCClient"));
    return groupIntf;
}
} // namespace

TOPCDAClientGroup::TOPCDAClientGroup(TOPCDAClient *client, ComPtr<IUnknown> groupIntf,
                                     OPCHANDLE clientHandle)
    : TOPCDACustomClientGroup(RequireGroupIntf(client, std::move(groupIntf)), clientHandle),
      m_Client(client)
{
    ComPtr<IConnectionPoint> point;
    OPCCheck(ConnectionPointContainer->FindConnectionPoint(IOPCDataCallback::Iid, point));
    if (!point)
        throw Exception(QStringLiteral(
            "Es steht kein ConnectionPoint für das IOPCDataCallback-Interface zur Verfügung."));
    CheckFailed(point->Advise(m_Client->Unknown(), m_Cookie));
}

TOPCDAClientGroup::~TOPCDAClientGroup()
{
    try {
        RemoveAllItems();
    } catch (...) {
        // The server may be gone; the items go on this side regardless.
    }
    m_ItemsByHandle.clear();
    m_Items.clear();
    Unadvise();
    ReleaseInterfaces();
}

void TOPCDAClientGroup::Unadvise()
{
    if (!ConnectionPointContainer)
        return;
    ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(ConnectionPointContainer->FindConnectionPoint(IOPCDataCallback::Iid, point)) &&
        point)
        point->Unadvise(m_Cookie);
}

void TOPCDAClientGroup::DoDataChanged()
{
    if (OnDataChange)
        OnDataChange(this);
}

void TOPCDAClientGroup::DoAfterRead()
{
    if (OnAfterRead)
        OnAfterRead(this);
}

void TOPCDAClientGroup::DoBeforeRead()
{
    if (OnBeforeRead)
        OnBeforeRead(this);
}

void TOPCDAClientGroup::Lock()
{
    m_Client->Lock();
}

void TOPCDAClientGroup::Unlock()
{
    m_Client->Unlock();
}

TOPCDAClientItem *TOPCDAClientGroup::Item(qsizetype index) const
{
    if (index < 0 || index >= ItemCount())
        return nullptr;
    return m_Items[static_cast<std::size_t>(index)].get();
}

TOPCDAClientItem *TOPCDAClientGroup::FindItem(OPCHANDLE clientHandle) const
{
    const auto it = m_ItemsByHandle.find(clientHandle);
    return it == m_ItemsByHandle.end() ? nullptr : it->second;
}

OPCHANDLE TOPCDAClientGroup::NextItemHandle()
{
    do {
        ++m_LastItemHandle;
    } while (m_LastItemHandle == 0 || m_ItemsByHandle.contains(m_LastItemHandle));
    return m_LastItemHandle;
}

std::unique_ptr<TOPCDAClientItem>
TOPCDAClientGroup::ItemClass(VARTYPE requestedDataType, const TDynByteArray &blob, bool active,
                             const QString &itemID, const QString &name, const QString &accessPath)
{
    return std::make_unique<TOPCDAClientItem>(this, requestedDataType, blob, active, itemID, name,
                                              accessPath);
}

TOPCDAClientItem *TOPCDAClientGroup::AddItem(const QString &name, const QString &itemID,
                                             bool active, VARTYPE requestedDataType,
                                             const TDynByteArray &blob, const QString &accessPath)
{
    BeginAddItems();
    TOPCDAClientItem *item = nullptr;
    try {
        std::unique_ptr<TOPCDAClientItem> created =
            ItemClass(requestedDataType, blob, active, itemID, name, accessPath);
        created->m_ClientHandle = NextItemHandle();
        created->PendingAdd = true;
        item = created.get();
        m_ItemsByHandle.emplace(item->m_ClientHandle, item);
        m_Items.push_back(std::move(created));
    } catch (...) {
        --m_AddCount;
        throw;
    }
    EndAddItems();
    return item;
}

void TOPCDAClientGroup::BeginAddItems()
{
    ++m_AddCount;
}

void TOPCDAClientGroup::EndAddItems()
{
    TLocker locker(*this);
    if (m_AddCount > 0)
        --m_AddCount;
    if (m_AddCount != 0)
        return;
    std::vector<TOPCDAClientItem *> pending;
    for (const auto &item : m_Items)
        if (item->PendingAdd)
            pending.push_back(item.get());
    if (pending.empty())
        return;

    std::vector<OPCITEMDEF> defs(pending.size());
    for (std::size_t i = 0; i < pending.size(); ++i) {
        const TOPCDAClientItem &item = *pending[i];
        OPCITEMDEF &def = defs[i];
        def.szAccessPath = item.AccessPath;
        def.szItemID = item.ItemID;
        def.bActive = item.Active;
        def.hClient = item.ClientHandle();
        def.pBlob = item.Blob;
        def.vtRequestedDataType = item.RequestedDataType;
    }

    const bool wasActive = Active != 0;
    if (wasActive) {
        try {
            SetActive(false);
        } catch (...) {
            // Adding to an active group works too, only less smoothly.
        }
    }
    const auto reactivate = [&] {
        if (!wasActive)
            return;
        try {
            SetActive(true);
        } catch (...) {
        }
    };

    if (!OPCItemMgt) {
        reactivate();
        throw EOPCException(E_FAIL);
    }
    LogOutgoingFrom(this, "IOPCItemMgt.AddItems");
    std::vector<OPCITEMRESULT> results;
    std::vector<HRESULT> errors;
    const HRESULT hr = OPCItemMgt->AddItems(defs, results, errors);
    if (FAILED(hr)) {
        reactivate();
        throw EOPCException(hr);
    }

    TBatchFailures failures;
    for (std::size_t i = 0; i < pending.size(); ++i) {
        TOPCDAClientItem &item = *pending[i];
        if (i < results.size()) {
            OPCITEMRESULT &result = results[i];
            item.ServerHandle = result.hServer;
            item.CanonicalDataType = result.vtCanonicalDataType;
            item.AccessRights = result.dwAccessRights;
            if (!result.pBlob.empty())
                item.Blob = std::move(result.pBlob);
        }
        item.LastError = i < errors.size() ? errors[i] : E_FAIL;
        item.PendingAdd = false;
        if (item.LastError != S_OK)
            failures.Add(&item);
    }
    reactivate();
    failures.RaiseIfAny(QStringLiteral("Fehler in AddItems: Die Elemente %1 konnten nicht zur "
                                       "Gruppe %2 hinzugefügt werden"),
                        QStringLiteral("Fehler in AddItems: Das Element %1 konnte nicht zur "
                                       "Gruppe %2 hinzugefügt werden"),
                        Name);
}

void TOPCDAClientGroup::BeginWrite()
{
    TLocker locker(*this);
    ++m_WriteCount;
}

void TOPCDAClientGroup::EndWrite()
{
    TLocker locker(*this);
    if (m_WriteCount > 0)
        --m_WriteCount;
    if (m_WriteCount != 0)
        return;
    // By handle: a handler may free items while the write runs.
    std::vector<OPCHANDLE> pending;
    std::vector<OPCHANDLE> serverHandles;
    std::vector<TVariant> values;
    for (const auto &item : m_Items)
        if (item->PendingWrite) {
            pending.push_back(item->ClientHandle());
            serverHandles.push_back(item->ServerHandle);
            values.push_back(item->PendingWriteValue);
        }
    if (pending.empty())
        return;
    const TScopeExit clearPending([&] {
        for (const OPCHANDLE handle : pending)
            if (TOPCDAClientItem *item = FindItem(handle)) {
                item->PendingWrite = false;
                item->PendingWriteValue = TVariant();
            }
    });

    TDynHResultArray results;
    SyncWrite(serverHandles, values, results);
    TBatchFailures failures;
    for (std::size_t i = 0; i < pending.size(); ++i) {
        TOPCDAClientItem *item = FindItem(pending[i]);
        if (!item)
            continue;
        const HRESULT result = results[i];
        item->LastError = result;
        if (SUCCEEDED(result)) {
            item->Value = values[i];
            continue;
        }
        EventLogger().Log(etError, 5, nullptr,
                          QStringLiteral("WriteSync-Result für Item: ") + item->ItemID +
                              QStringLiteral("($") + Hex8(result) + QStringLiteral(") ") +
                              OPCErrorText(result));
        failures.Add(item);
    }
    failures.RaiseIfAny(QStringLiteral("Fehler in WriteSync: Die neuen Werte für die Elemente %1 "
                                       "konnten nicht geschrieben werden"),
                        QStringLiteral("Fehler in WriteSync: Der neue Wert für das Element %1 "
                                       "konnte nicht geschrieben werden"));
}

void TOPCDAClientGroup::BeginRead(DWORD dataSource)
{
    TLocker locker(*this);
    if (m_ReadCount == 0)
        m_ReadSource = dataSource;
    else if (dataSource != 0) {
        if (m_ReadSource == 0)
            m_ReadSource = dataSource;
        else if (m_ReadSource != dataSource)
            throw Exception(QStringLiteral(
                "Innerhalb eines ReadSync-Aufrufs kann als Datenquelle nur Cache oder Device "
                "angegeben werden, nicht jedoch beides"));
    }
    ++m_ReadCount;
}

void TOPCDAClientGroup::EndRead()
{
    TLocker locker(*this);
    if (m_ReadCount > 0)
        --m_ReadCount;
    if (m_ReadCount != 0)
        return;
    std::vector<OPCHANDLE> pending;
    std::vector<OPCHANDLE> serverHandles;
    for (const auto &item : m_Items)
        if (item->PendingRead) {
            pending.push_back(item->ClientHandle());
            serverHandles.push_back(item->ServerHandle);
        }
    if (pending.empty())
        return;
    const TScopeExit clearPending([&] {
        for (const OPCHANDLE handle : pending)
            if (TOPCDAClientItem *item = FindItem(handle))
                item->PendingRead = false;
    });

    const OPCDATASOURCE source =
        m_ReadSource == 0 ? OPC_DS_CACHE : static_cast<OPCDATASOURCE>(m_ReadSource);
    TDynSyncReadResultArray results;
    SyncRead(serverHandles, source, results);
    TBatchFailures failures;
    for (std::size_t i = 0; i < pending.size(); ++i) {
        TOPCDAClientItem *item = FindItem(pending[i]);
        if (!item)
            continue;
        TSyncReadResult &result = results[i];
        item->LastError = result.Error;
        if (SUCCEEDED(result.Error)) {
            item->Value = std::move(result.State.vDataValue);
            item->Quality = result.State.wQuality;
            item->TimeStamp = result.State.ftTimeStamp;
            continue;
        }
        failures.Add(item);
    }
    failures.RaiseIfAny(QStringLiteral("Fehler in ReadSync: Die neuen Werte für die Elemente %1 "
                                       "konnten nicht gelesen werden"),
                        QStringLiteral("Fehler in ReadSync: Der neue Wert für das Element %1 "
                                       "konnte nicht gelesen werden"));
}

void TOPCDAClientGroup::ReadAll(DWORD dataSource)
{
    BeginRead(dataSource);
    for (const auto &item : m_Items)
        item->PendingRead = true;
    EndRead();
}

void TOPCDAClientGroup::RemoveItems(TDynOPCClientItemArray &items, TDynHResultArray &results)
{
    TLocker locker(*this);
    results.assign(items.size(), S_OK);
    if (items.empty())
        return;
    if (!OPCItemMgt) {
        std::fill(results.begin(), results.end(), E_FAIL);
        return;
    }
    // Only our own items count; anything else is never followed.
    std::vector<std::size_t> positions;
    std::vector<OPCHANDLE> serverHandles;
    for (std::size_t i = 0; i < items.size(); ++i) {
        TOPCDAClientItem *item = items[i];
        if (!item)
            continue;
        if (FindItem(item->m_ClientHandle) != item) {
            results[i] = OPC_E_INVALIDHANDLE;
            continue;
        }
        positions.push_back(i);
        serverHandles.push_back(item->ServerHandle);
    }
    if (positions.empty())
        return;
    LogOutgoingFrom(this, "IOPCItemMgt.RemoveItems");
    std::vector<HRESULT> errors;
    CheckFailed(OPCItemMgt->RemoveItems(serverHandles, errors));
    for (std::size_t k = 0; k < positions.size(); ++k) {
        const std::size_t i = positions[k];
        TOPCDAClientItem *item = items[i];
        results[i] = k < errors.size() ? errors[k] : S_OK;
        m_ItemsByHandle.erase(item->m_ClientHandle);
        items[i] = nullptr;
    }
    // One pass over the list frees every removed item.
    std::erase_if(m_Items, [this](const std::unique_ptr<TOPCDAClientItem> &own) {
        const auto it = m_ItemsByHandle.find(own->m_ClientHandle);
        return it == m_ItemsByHandle.end() || it->second != own.get();
    });
}

void TOPCDAClientGroup::RemoveAllItems()
{
    TDynOPCClientItemArray items;
    items.reserve(m_Items.size());
    for (const auto &item : m_Items)
        items.push_back(item.get());
    TDynHResultArray results;
    RemoveItems(items, results);
}

void TOPCDAClientGroup::DoDataChange(DWORD count, std::span<const OPCHANDLE> clientItems,
                                     std::span<const TVariant> values,
                                     std::span<const WORD> qualities,
                                     std::span<const FILETIME> timeStamps,
                                     std::span<const HRESULT> errors)
{
    // Locked through the client: a handler may free this group before the lock ends.
    TClientLocker locker(*m_Client);
    const std::weak_ptr<char> alive = m_Alive;
    const DWORD n = std::min<DWORD>(count, static_cast<DWORD>(clientItems.size()));
    for (DWORD i = 0; i < n; ++i) {
        // Looked up per entry: a handler may have removed items, or the group itself.
        const auto it = m_ItemsByHandle.find(clientItems[i]);
        if (it == m_ItemsByHandle.end())
            continue;
        it->second->Update(values[i], qualities[i], timeStamps[i], errors[i]);
        if (alive.expired())
            return;
    }
    DoDataChanged();
}

void TOPCDAClientGroup::DoReadComplete(DWORD count, std::span<const OPCHANDLE> clientItems,
                                       std::span<const TVariant> values,
                                       std::span<const WORD> qualities,
                                       std::span<const FILETIME> timeStamps,
                                       std::span<const HRESULT> errors)
{
    // Locked through the client: a handler may free this group before the lock ends.
    TClientLocker locker(*m_Client);
    const std::weak_ptr<char> alive = m_Alive;
    const DWORD n = std::min<DWORD>(count, static_cast<DWORD>(clientItems.size()));
    for (DWORD i = 0; i < n; ++i) {
        const auto it = m_ItemsByHandle.find(clientItems[i]);
        if (it == m_ItemsByHandle.end())
            continue;
        it->second->Update(values[i], qualities[i], timeStamps[i], errors[i]);
        if (alive.expired())
            return;
    }
}

void TOPCDAClientGroup::DoWriteComplete(DWORD, HRESULT, DWORD, std::span<const OPCHANDLE>,
                                        std::span<const HRESULT>)
{
}

void TOPCDAClientGroup::DoCancelComplete(DWORD) {}

// ---------------------------------------------------------------------------------------------
// TOPCDAClientItem

namespace {
TOPCDAClientGroup *RequireGroup(TOPCDAClientGroup *group)
{
    if (!group)
        RaiseMissingParameter(QStringLiteral("TOPCDAClientItem.Create"),
                              QStringLiteral("AClientGroup"));
    return group;
}
} // namespace

TOPCDAClientItem::TOPCDAClientItem(TOPCDAClientGroup *group, VARTYPE requestedDataType,
                                   const TDynByteArray &blob, bool active, const QString &itemID,
                                   const QString &name, const QString &accessPath)
    : AccessPath(accessPath), Active(active ? 1 : 0), Blob(blob),
      RequestedDataType(requestedDataType), ItemID(itemID), Name(name),
      TimeStamp(CurrentFileTime()), m_Group(RequireGroup(group))
{
}

void TOPCDAClientItem::Update(const TVariant &value, WORD quality, const FILETIME &timeStamp,
                              HRESULT error)
{
    Value = value;
    Quality = quality;
    TimeStamp = timeStamp;
    LastError = error;
    if (OnChange)
        OnChange(this);
}

void TOPCDAClientItem::Write(const TVariant &value)
{
    TOPCDAClientGroup *group = m_Group;
    group->BeginWrite();
    PendingWriteValue = value;
    PendingWrite = true;
    group->EndWrite();
}

void TOPCDAClientItem::Read(DWORD dataSource)
{
    TOPCDAClientGroup *group = m_Group;
    group->BeginRead(dataSource);
    PendingRead = true;
    group->EndRead();
}
