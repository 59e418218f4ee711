#include "database/xADOBridge.h"

#include "cache/xDataCache.h"
#include "eventlog/xEventLog.h"
#include "platform/system/TickCounter.h"

#include <QThread>
#include <mutex>

TADOBridge::TADOBridge(const QString &AConnectionString, const QString &userID,
                       const QString &password, TDataCache *dataCache)
    : m_DataBaseController(std::make_unique<TDataBaseController>()), m_DataCache(dataCache),
      m_Progress(&QuietADOValidationProgress())
{
    if (AConnectionString.isEmpty())
        RaiseMissingParameter(QStringLiteral("TADOBridge.Create"),
                              QStringLiteral("AConnectionString"));
    m_DataBaseController->SetConnectionString(AConnectionString);
    m_DataBaseController->SetUserID(userID);
    m_DataBaseController->SetPassword(password);
    TickSource = [] { return GetTickCount(); };
    RetryWait = [](std::uint32_t ms) { QThread::msleep(ms); };
}

TADOBridge::~TADOBridge()
{
    m_ProbeCommand.reset();
    m_Recordset.reset();
    for (auto &transmitter : m_Transmitters)
        transmitter.reset();
    m_Transmitters.clear();
    m_DataBaseController.reset();
}

TADOTableTransmitter *TADOBridge::AddTableTransmitter()
{
    return static_cast<TADOTableTransmitter *>(
        AddTransmitter(std::make_unique<TADOTableTransmitter>(this)));
}

TADOTransmitter *TADOBridge::AddTransmitter(std::unique_ptr<TADOTransmitter> transmitter)
{
    if (!transmitter || transmitter->Bridge() != this)
        RaiseMissingParameter(QStringLiteral("TADOBridge.AddTransmitter"),
                              QStringLiteral("ATransmitter"));
    m_Transmitters.push_back(std::move(transmitter));
    return m_Transmitters.back().get();
}

TADOTransmitter *TADOBridge::Transmitters(int index) const
{
    if (index < 0 || index >= TransmitterCount())
        throw EListError(index);
    return m_Transmitters[std::size_t(index)].get();
}

void TADOBridge::SetValidationProgress(TADOValidationProgress *progress)
{
    m_Progress = progress ? progress : &QuietADOValidationProgress();
}

std::uint32_t TADOBridge::Now() const
{
    return TickSource ? TickSource() : GetTickCount();
}

void TADOBridge::ReleaseConnectionObjects()
{
    for (auto &transmitter : m_Transmitters)
        transmitter->Close();
    m_ProbeCommand.reset();
    if (m_Recordset) {
        try {
            m_Recordset->Close();
        } catch (...) {
            // dropped below either way
        }
        m_Recordset.reset();
    }
}

void TADOBridge::CloseConnection()
{
    ReleaseConnectionObjects();
    Connected = false;
    try {
        m_DataBaseController->Close();
    } catch (...) {
        // the connection object is dropped even when closing fails
    }
}

bool TADOBridge::TryToConnect()
{
    EventLogger().Log(etDebug, 3, nullptr, QStringLiteral("TADOBridge.TryToConnect()"));
    if (Connected)
        return true;
    const std::uint32_t now = Now();
    if (LastConnectAttemptTick != 0 && now - LastConnectAttemptTick < ReconnectInterval)
        return false;
    EventLogger().Log(etDebug, 3, nullptr, QStringLiteral("DB-Verbinung wird getrennt."));
    LastConnectAttemptTick = now;
    bool result = false;
    try {
        // A connection that a failed cycle left open is stale: start afresh instead of being
        // refused as already open.
        CloseConnection();
        m_DataBaseController->Open();
        EventLogger().Log(etDebug, 4, this,
                          QStringLiteral("ADO: Die Verbindung zur Datenbank wurde aufgebaut."));
        m_ErrorFlags &= ~de_DatabaseUnreachable;
        Connected = true;
        m_ProbeCommand = std::make_unique<TADOCommand>();
        m_ProbeCommand->SetActiveConnection(m_DataBaseController->Connection());
        m_ProbeCommand->CommandType = adCmdText;
        m_Recordset = std::make_unique<TADORecordset>();
        ConnectTime = NowWithTimeZone();
        ReadColumnTypes();
        result = true;
    } catch (const std::exception &e) {
        if (!(m_ErrorFlags & de_DatabaseUnreachable)) {
            const auto *exception = dynamic_cast<const Exception *>(&e);
            EventLogger().Log(
                etError, 1, this,
                QStringLiteral("Es kann keine Verbindung zur Datenbank aufgebaut "
                               "werden. Meldung: %1")
                    .arg(exception ? exception->Message() : QString::fromLocal8Bit(e.what())));
            m_ErrorFlags |= de_DatabaseUnreachable;
        }
        // Half a connection (opened, but the catalog failed) is no connection.
        CloseConnection();
    }
    UpdateDBStates();
    return result;
}

void TADOBridge::ReadColumnTypes()
{
    if (!TryToConnect())
        return;
    const std::unique_ptr<TADOXCatalog> catalog = m_DataBaseController->GetCatalog();
    for (auto &transmitter : m_Transmitters)
        transmitter->ReadColumnTypes(catalog.get());
}

void TADOBridge::ValidateWithProgress()
{
    TADOValidationProgress *progress = m_Progress;
    try {
        progress->RunModal(QStringLiteral("Bitte warten..."), [this, progress] {
            progress->SelectStep(TADOValidationProgress::psConnection,
                                 m_DataBaseController->GetDataSource());
            if (!TryToConnect())
                return;
            const std::unique_ptr<TADOXCatalog> catalog = m_DataBaseController->GetCatalog();
            for (auto &transmitter : m_Transmitters)
                transmitter->Validate(progress, catalog.get());
        });
    } catch (...) {
        UpdateDBStates();
        throw;
    }
    UpdateDBStates();
}

void TADOBridge::PrepareTransmission()
{
    if (m_DataCache) {
        {
            std::scoped_lock lock(*m_DataCache);
            for (int i = 0; i < m_DataCache->Count(); ++i)
                m_DataCache->Items(i)->WriteAttribute(QStringLiteral("ValueTables"), QString());
        }
        for (auto &transmitter : m_Transmitters)
            transmitter->RegisterFieldsInCache();
    }
    if (TryToConnect())
        for (auto &transmitter : m_Transmitters)
            transmitter->PrepareCommands();
}

void TADOBridge::Transmit()
{
    if (!TryToConnect())
        return;
    LastWriteTime = NowWithTimeZone();
    if (m_Transmitters.empty())
        return;

    Connected = false;
    const std::uint32_t now = Now();
    if (LastCommandRenewalTick == 0)
        LastCommandRenewalTick = now;
    if (now - LastCommandRenewalTick >= CommandRenewalInterval) {
        for (auto &transmitter : m_Transmitters)
            transmitter->ReleaseCommands();
        LastCommandRenewalTick = now;
    }

    m_DataBaseController->BeginTrans();
    try {
        for (auto &transmitter : m_Transmitters)
            transmitter->Transmit();
        m_DataBaseController->CommitTrans();
    } catch (...) {
        // Leave no transaction open behind the error, or every later cycle would fail to begin.
        try {
            m_DataBaseController->RollbackTrans();
        } catch (...) {
            // the connection is probably gone; the probe of a later cycle finds out
        }
        UpdateDBStates();
        throw;
    }
    UpdateDBStates();

    if (!Connected)
        ProbeConnection();
}

void TADOBridge::ProbeConnection()
{
    EventLogger().Log(etDebug, 4, this,
                      QStringLiteral("Es konnte kein erfolgreicher Schreibvorgang ausgeführt "
                                     "werden. Das Vorhandensein der Datenbankverbindung wird "
                                     "nochmals überprüft"));
    for (auto &transmitter : m_Transmitters) {
        auto *table = dynamic_cast<TADOTableTransmitter *>(transmitter.get());
        if (!table || !m_ProbeCommand)
            continue;
        try {
            m_ProbeCommand->SetCommandText(
                QStringLiteral("SELECT COUNT(*) FROM %1").arg(table->TableName));
            m_ProbeCommand->Execute(adExecuteNoRecords);
            Connected = true;
            break;
        } catch (...) {
            // the next table may still answer
        }
    }
    if (Connected) {
        EventLogger().Log(etDebug, 4, this,
                          QStringLiteral("Datenbankverbindung besteht weiterhin."));
    } else {
        CloseConnection();
        EventLogger().Log(etDebug, 4, this,
                          QStringLiteral("ADO: Die Verbindung zur Datenbank wurde getrennt."));
    }
}

void TADOBridge::Disconnect()
{
    CloseConnection();
}

void TADOBridge::UpdateDBStates()
{
    for (auto &transmitter : m_Transmitters)
        if (auto *table = dynamic_cast<TADOTableTransmitter *>(transmitter.get()))
            table->UpdateDBStates();
}

void TADOBridge::CheckAliases()
{
    for (auto &transmitter : m_Transmitters)
        transmitter->CheckAliases();
}

TDBErrorFlags TADOBridge::ErrorFlags() const
{
    TDBErrorFlags flags = m_ErrorFlags;
    for (const auto &transmitter : m_Transmitters) {
        const auto *table = dynamic_cast<const TADOTableTransmitter *>(transmitter.get());
        if (!table)
            continue;
        flags |= table->ErrorFlags | table->StatusErrorFlags;
        for (int i = 0; i < table->FieldCount(); ++i)
            flags |= table->Fields(i)->ErrorFlags | table->Fields(i)->StatusErrorFlags;
    }
    return flags;
}
