#include "acquisition/xOPCClientBridge.h"

#include "acquisition/ExceptionText.h"
#include "eventlog/xEventLog.h"
#include "platform/system/Exception.h"
#include "platform/system/WindowMessages.h"

namespace {

TDataCache *RequireCache(TDataCache *cache)
{
    if (!cache)
        RaiseMissingParameter(QStringLiteral("TOPCClientBridge.Create"),
                              QStringLiteral("ADataCache"));
    return cache;
}

TOPCDAClient &RequireClient(TOPCDAClient *client)
{
    if (!client)
        RaiseMissingParameter(QStringLiteral("TOPCClientBridge.Create"),
                              QStringLiteral("AOPCDAClient"));
    return *client;
}

} // namespace

TOPCClientBridge::TOPCClientBridge(const TRemoteServerInfo &serverInfo, TDataCache *ADataCache)
    : m_DataCache(RequireCache(ADataCache)), m_OPCDAClient(std::make_unique<TOPCDAClient>()),
      m_ResolveProgress(&QuietOPCResolveProgress())
{
    // Not SetServer: that would connect at once, and connecting is Connect's job.
    m_OPCDAClient->ServerInfo = serverInfo;
    InstallShutdownHandler();
}

TOPCClientBridge::TOPCClientBridge(TOPCDAClient *AOPCDAClient, TDataCache *ADataCache)
    : TOPCClientBridge(RequireClient(AOPCDAClient).ServerInfo, ADataCache)
{
    m_OPCDAClient->SetNamespace(&AOPCDAClient->Namespace());
}

TOPCClientBridge::~TOPCClientBridge()
{
    m_OPCDAClient->OnShutdown = nullptr;
    for (auto &transmitter : m_Transmitters)
        transmitter.reset();
    m_Transmitters.clear();
    m_OPCDAClient.reset();
}

void TOPCClientBridge::InstallShutdownHandler()
{
    m_OPCDAClient->OnShutdown = [this](const QString &reason) { ServerShutdown(reason); };
}

TOPCClientTransmitter *TOPCClientBridge::Transmitters(int index) const
{
    if (index < 0 || index >= TransmitterCount())
        throw EListError(index);
    return m_Transmitters[static_cast<std::size_t>(index)].get();
}

void TOPCClientBridge::SetResolveProgress(TOPCResolveProgress *progress)
{
    m_ResolveProgress = progress ? progress : &QuietOPCResolveProgress();
}

bool TOPCClientBridge::Connect()
{
    if (m_OPCDAClient->Connected())
        return true;
    const TRemoteServerInfo &info = m_OPCDAClient->ServerInfo;
    if (info.ID.isEmpty() && info.GUID.isNull())
        return false;
    bool connected = false;
    try {
        m_OPCDAClient->ConnectToServer();
        m_OPCDAClient->GetStatus();
        // Within the reconnect delay after a shutdown the client declines quietly: that is no
        // success, and no failure to report either.
        connected = m_OPCDAClient->Connected();
        if (connected)
            m_ErrorFlags &= ~oe_ServerUnreachable;
    } catch (...) {
        if (!(m_ErrorFlags & oe_ServerUnreachable)) {
            EventLogger().Log(etError, 1, this,
                              QStringLiteral("Fehler beim Verbinden zu %1: ").arg(info.ID) +
                                  CurrentExceptionText());
            m_ErrorFlags |= oe_ServerUnreachable;
        }
        try {
            m_OPCDAClient->Disconnect();
        } catch (...) {
        }
        connected = false;
    }
    RefreshCache();
    return connected;
}

void TOPCClientBridge::ConnectAndResolveItems()
{
    Connect();
    if (!Connected())
        return;
    for (const auto &transmitter : m_Transmitters) {
        try {
            transmitter->ResolveItems();
        } catch (...) {
            // What the application's exception hook does with an exception of the progress
            // window; the other transmitters are still resolved.
            EventLogger().Log(etError, 1, transmitter.get(), CurrentExceptionText());
        }
    }
    RefreshCache();
}

void TOPCClientBridge::CreateGroups()
{
    Connect();
    if (!Connected())
        return;
    for (const auto &transmitter : m_Transmitters)
        transmitter->CreateGroup();
}

void TOPCClientBridge::CreateCacheEntries()
{
    for (const auto &transmitter : m_Transmitters)
        transmitter->CreateCacheEntries();
}

void TOPCClientBridge::DeactivateGroups()
{
    if (!Connected())
        return;
    for (const auto &transmitter : m_Transmitters)
        transmitter->DeactivateGroup();
}

void TOPCClientBridge::RefreshCache()
{
    for (const auto &transmitter : m_Transmitters)
        transmitter->RefreshCache();
}

void TOPCClientBridge::Disconnect()
{
    if (!Connected())
        return;
    for (const auto &transmitter : m_Transmitters)
        transmitter->RemoveGroup();
    m_OPCDAClient->Disconnect();
}

void TOPCClientBridge::ServerShutdown(const QString &reason)
{
    EventLogger().Log(etWarning, 2, this,
                      QStringLiteral("Der Quellserver wurde beendet (Grund: %1).")
                          .arg(reason.isEmpty() ? QStringLiteral("<Unbekannter Grund>") : reason));
    for (const auto &transmitter : m_Transmitters)
        transmitter->ForgetGroup();
    PostMessage(m_MessageReceiver.data(), WM_OPCSERVERSHUTDOWN);
}

TOPCErrorFlags TOPCClientBridge::ErrorFlags() const
{
    TOPCErrorFlags flags = m_ErrorFlags;
    for (const auto &transmitter : m_Transmitters) {
        flags |= transmitter->ErrorFlags;
        for (int i = 0; i < transmitter->ItemCount(); ++i)
            flags |= transmitter->Items(i)->ErrorFlags;
    }
    return flags;
}
