#include "runtime/RuntimeControl.h"

#include "acquisition/ExceptionText.h"
#include "acquisition/xOPCClientBridge.h"
#include "cache/xDataCache.h"
#include "database/xADOBridge.h"
#include "document/xTDWDocument.h"
#include "eventlog/xEventLog.h"
#include "platform/system/TickCounter.h"
#include "platform/system/WindowMessages.h"
#include "settings/ZonedDateTime.h"
#include "settings/xCommon.h"

#include <QFileInfo>
#include <cmath>

namespace {

constexpr int UpdateInterval = 5000;
constexpr std::int64_t OverloadReportInterval = 60000;
constexpr double MsPerDay = 86400000.0;

TDateTime LocalNow()
{
    return NowWithTimeZone().Local;
}

// Runs its function when the scope ends, also by an exception.
template <class F> class TFinally
{
public:
    explicit TFinally(F f) : m_F(std::move(f)) {}
    ~TFinally() { m_F(); }
    TFinally(const TFinally &) = delete;
    TFinally &operator=(const TFinally &) = delete;

private:
    F m_F;
};

} // namespace

TRuntimeControl::TRuntimeControl(TDataCache *dataCache, TRuntimeView *view, QObject *parent)
    : QObject(parent), m_DataCache(dataCache), m_View(view ? view : &m_QuietView),
      m_Document(std::make_unique<TTDWDocument>())
{
    if (!dataCache)
        RaiseMissingParameter(QStringLiteral("TRuntimeControl.Create"),
                              QStringLiteral("ADataCache"));
    NextForcedWrite = LocalNow();
    m_UpdateTimer.setInterval(UpdateInterval);
    connect(&m_UpdateTimer, &QTimer::timeout, this, [this] {
        try {
            TimerTick();
        } catch (...) {
            LogCurrentException();
        }
    });
}

TRuntimeControl::~TRuntimeControl()
{
    m_UpdateTimer.stop();
    m_Document.reset();
}

double TRuntimeControl::CounterMs()
{
    return double(QueryPerformanceCounter()) / double(QueryPerformanceFrequency()) * 1000.0;
}

void TRuntimeControl::LogInformation(quint8 level, const QString &message)
{
    EventLogger().LogNamed(etInformation, level, SenderName, this, message);
}

void TRuntimeControl::LogCurrentException()
{
    EventLogger().LogNamed(etError, 1, SenderName, this, CurrentExceptionText());
}

void TRuntimeControl::SetNextForcedWrite()
{
    if (TADOBridge *db = m_Document->DataBaseBridge())
        NextForcedWrite = LocalNow() + db->ForcedWriteInterval / MsPerDay;
}

bool TRuntimeControl::event(QEvent *event)
{
    const int message = int(event->type());
    if (message != WM_OPCDATACHANGE && message != WM_OPCSERVERSHUTDOWN &&
        message != WM_STARTDOCUMENT)
        return QObject::event(event);
    // Nothing may escape into the event loop: what would reach the application's exception hook
    // is logged here the same way.
    try {
        if (message == WM_OPCDATACHANGE) {
            HandleDataChange();
        } else if (message == WM_OPCSERVERSHUTDOWN) {
            RefreshDisplay();
        } else {
            const auto *start = static_cast<TMessageEvent *>(event);
            HandleStartDocument(
                std::unique_ptr<TTDWDocument>(reinterpret_cast<TTDWDocument *>(start->LParam())));
        }
    } catch (...) {
        LogCurrentException();
    }
    return true;
}

void TRuntimeControl::HandleStartDocument(std::unique_ptr<TTDWDocument> document)
{
    if (document) {
        try {
            m_Document = std::move(document);
            StartDocument();
            SetNextForcedWrite();
            RefreshBridgeStates();
            m_State = asRunning;
        } catch (...) {
            LogCurrentException();
        }
    }
    RefreshDisplay();
    m_UpdateTimer.start();
}

void TRuntimeControl::StartDocument()
{
    m_View->DocumentStarting(*m_Document);
    TOPCClientBridge *opc = m_Document->OPCBridge();
    TADOBridge *db = m_Document->DataBaseBridge();
    if (opc) {
        opc->SetMessageReceiver(this);
        opc->CreateCacheEntries();
        opc->ConnectAndResolveItems();
    }
    if (db) {
        db->ValidateWithProgress();
        db->CheckAliases();
    }
    if (opc)
        opc->CreateGroups();
    if (db)
        db->PrepareTransmission();
}

void TRuntimeControl::RefreshBridgeStates()
{
    m_View->SetBusyCursor(true);
    TFinally restore([this] {
        m_View->SetBusyCursor(false);
        RefreshDisplay();
    });
    if (TOPCClientBridge *opc = m_Document->OPCBridge())
        opc->RefreshCache();
    if (TADOBridge *db = m_Document->DataBaseBridge())
        db->UpdateDBStates();
}

void TRuntimeControl::RefreshDisplay()
{
    m_View->RefreshDisplay();
}

void TRuntimeControl::WriteToDataBase()
{
    if (m_State != asRunning)
        return;
    m_WriteInProgress = true;
    TFinally clear([this] { m_WriteInProgress = false; });
    TADOBridge *db = m_Document->DataBaseBridge();
    if (!db)
        return;
    EventLogger().Log(etInformation, 5, nullptr,
                      QStringLiteral("Es sind neue Daten vom OPC-Server eingegangen. Diese werden "
                                     "nun in die Zieldatenbank geschrieben."));
    const double start = CounterMs();
    TFinally record([this, start] {
        const double end = CounterMs();
        LastWriteEnd = float(end);
        LastWriteDuration = float(end - start);
        RefreshDisplay();
    });
    if (double(LastWriteEnd) + double(LastWriteDuration) >= start) {
        if (start - double(LastOverloadReport) > OverloadReportInterval) {
            LogInformation(2, QStringLiteral("Der Abstand zwischen zwei Schreibvorgängen ist im "
                                             "Verhältnis zu deren Dauer zu gering. Um eine "
                                             "Überlastung zu vermeiden werden Schreibvorgänge "
                                             "ausgelassen."));
            LastOverloadReport = std::llround(start);
        }
        return;
    }
    if (!db->Connected) {
        if (!db->TryToConnect())
            return;
        db->ValidateWithProgress();
        db->CheckAliases();
        db->PrepareTransmission();
    }
    db->Transmit();
    SetNextForcedWrite();
}

void TRuntimeControl::HandleDataChange()
{
    LastCallbackTime = LocalNow();
    m_View->RefreshCurrentValues();
    const std::int64_t t = std::llround(CounterMs());
    if (m_WriteInProgress) {
        if (t - LastOverloadReport > OverloadReportInterval) {
            LogInformation(2,
                           QStringLiteral("Während des Schreibens in die Datenbank wurden erneut "
                                          "OPC-Callbacks empfangen. Um eine Überlastung zu "
                                          "vermeiden werden Schreibvorgänge ausgelassen."));
            LastOverloadReport = t;
        }
        return;
    }
    WriteToDataBase();
}

void TRuntimeControl::TimerTick()
{
    TFinally refresh([this] { RefreshDisplay(); });
    if (m_State != asRunning)
        return;
    TOPCClientBridge *opc = m_Document->OPCBridge();
    if (opc && !opc->Connected()) {
        LogInformation(4, QStringLiteral("Es wird versucht die Verbindung zum Quellserver erneut "
                                         "aufzubauen..."));
        TFinally status([this] { m_View->SetStatusText(QString()); });
        if (opc->Connect()) {
            opc->ConnectAndResolveItems();
            opc->CreateGroups();
            opc->RefreshCache();
        }
    }
    if (m_Document->DataBaseBridge() && LocalNow() > NextForcedWrite && !m_WriteInProgress) {
        WriteToDataBase();
        SetNextForcedWrite();
    }
}

void TRuntimeControl::Play()
{
    try {
        TOPCClientBridge *opc = m_Document->OPCBridge();
        const QString resumed = QStringLiteral("Die Datenerfassung wurde wieder aufgenommen");
        if (m_State == asPaused && opc) {
            opc->CreateGroups();
            LogInformation(3, resumed);
        } else if (m_State == asStopped) {
            StartDocument();
            LogInformation(3, resumed);
        }
        LastWriteDuration = -1;
        m_State = asRunning;
        RefreshBridgeStates();
    } catch (...) {
        m_State = asRunning;
        LogCurrentException();
    }
}

void TRuntimeControl::Pause()
{
    try {
        m_State = asPaused;
        if (TOPCClientBridge *opc = m_Document->OPCBridge()) {
            opc->DeactivateGroups();
            LogInformation(3, QStringLiteral("Die Datenerfassung wurde angehalten"));
        }
    } catch (...) {
        LogCurrentException();
    }
    RefreshDisplay();
}

void TRuntimeControl::Stop()
{
    try {
        m_State = asStopped;
        m_Document->CloseDocument();
        if (m_Document->OPCBridge() || m_Document->DataBaseBridge())
            LogInformation(3, QStringLiteral("Datenerfassung wurde gestoppt"));
    } catch (...) {
        LogCurrentException();
    }
    RefreshDisplay();
}

bool TRuntimeControl::CanCloseDocument()
{
    if (!m_Document->Modified())
        return true;
    const QString text = m_Document->FileName().isEmpty()
                             ? QStringLiteral("Möchten Sie die Änderungen speichern?")
                             : QStringLiteral("Möchten Sie die Änderungen in \"%1\" speichern?")
                                   .arg(QFileInfo(m_Document->FileName()).fileName());
    switch (m_View->Ask(text)) {
    case TDialogAnswer::Yes: SaveDocument(false); return !m_Document->Modified();
    case TDialogAnswer::No: return true;
    case TDialogAnswer::Cancel: break;
    }
    return false;
}

void TRuntimeControl::NewDocument()
{
    try {
        if (!CanCloseDocument())
            return;
        m_Document->CloseDocument();
        LastWriteDuration = -1;
        m_Document = std::make_unique<TTDWDocument>();
        m_State = asRunning;
    } catch (...) {
        LogCurrentException();
    }
    RefreshDisplay();
}

bool TRuntimeControl::OpenDocument(const QString &path)
{
    QString file = path;
    try {
        if (!CanCloseDocument())
            return false;
        if (file.isEmpty()) {
            const auto chosen = m_View->ChooseOpenFile();
            if (!chosen)
                return false;
            file = *chosen;
        }
    } catch (...) {
        LogCurrentException();
        return false;
    }

    m_View->SetBusyCursor(true);
    m_View->ShowWaitPanel(true);
    m_UpdateTimer.stop();
    m_View->SetStatusText(QStringLiteral("(Dokument wird geladen...)"));
    TFinally restore([this] {
        m_View->SetBusyCursor(false);
        m_View->ShowWaitPanel(false);
        m_UpdateTimer.start();
        m_View->SetStatusText(QString());
        RefreshDisplay();
    });
    try {
        m_Document->CloseDocument();
        m_DataCache->Clear();
        m_Document->LoadFromFile(file, m_DataCache);
    } catch (...) {
        EventLogger().LogNamed(etError, 1, SenderName, this,
                               QStringLiteral("Fehler beim Laden des Dokuments \"%1\": %2")
                                   .arg(QFileInfo(file).fileName(), CurrentExceptionText()));
        m_Document->Clear();
        return false;
    }
    try {
        StartDocument();
        SetNextForcedWrite();
        LogInformation(3, QStringLiteral("Die Konfiguration \"%1\" wurde geladen.").arg(file));
        RefreshBridgeStates();
    } catch (...) {
        LogCurrentException();
    }
    m_State = asRunning;
    LastWriteDuration = -1;
    return true;
}

void TRuntimeControl::SaveDocument(bool saveAs)
{
    try {
        if (m_Document->ConfigDBLink == 2) {
            switch (m_View->Ask(
                QStringLiteral("Achtung...\r\n\r\nDie Konfiguration ist mit einer "
                               "Konfigurationsdatenbank verknüpft, wurde aber manuell verändert. "
                               "Diese Änderungen werden beim nächsten Laden ignoriert, solange die "
                               "Verknüpfung mit der Konfigurationsdatenbank besteht.\r\nUm dies zu "
                               "vermeiden kann die Verknüpfung aufgehoben werden.\r\n\r\nSoll die "
                               "Verknüpfung jetzt aufgehoben werden?"))) {
            case TDialogAnswer::Yes: m_Document->ConfigDBLink = 0; break;
            case TDialogAnswer::No: break;
            case TDialogAnswer::Cancel: return;
            }
        }
        QString path = m_Document->FileName();
        if (saveAs || m_Document->IsUntitled()) {
            const auto chosen = m_View->ChooseSaveFile(
                path.isEmpty() ? QStringLiteral("Unbenannte Konfiguration") : path);
            if (!chosen)
                return;
            path = *chosen;
        }
        m_Document->SaveToFile(path);
        EventLogger().LogNamed(
            etInformation, 5, SenderName, this,
            QStringLiteral("Die Konfiguration wurde unter folgenden Namen gespeichert: %1")
                .arg(path));
    } catch (...) {
        LogCurrentException();
    }
    RefreshDisplay();
}

void TRuntimeControl::EditForcedWriteInterval()
{
    try {
        TADOBridge *db = m_Document->DataBaseBridge();
        if (!db)
            return;
        const auto value = m_View->EditTimeInterval(
            QStringLiteral("Max. Schreibintervall ändern..."), int(db->ForcedWriteInterval));
        if (!value)
            return;
        db->ForcedWriteInterval = std::uint32_t(*value);
        LogInformation(4, QStringLiteral("Das Intervall der erzwungenen Datenspeicherung wurde auf "
                                         "%1ms geändert.")
                              .arg(*value));
        SetNextForcedWrite();
        m_Document->SetModified(true);
    } catch (...) {
        LogCurrentException();
    }
}

void TRuntimeControl::EditUpdateRate()
{
    try {
        TOPCClientBridge *opc = m_Document->OPCBridge();
        if (!opc || opc->TransmitterCount() == 0)
            return;
        TOPCClientTransmitter *first = opc->Transmitters(0);
        const auto value = m_View->EditTimeInterval(
            QStringLiteral("Aktualisierungsintervall ändern..."), int(first->UpdateRate));
        if (!value)
            return;
        first->SetUpdateRate(DWORD(*value));
        m_Document->SetModified(true);
        LogInformation(4, QStringLiteral("Das Aktualisierungsintervall wurde auf %1ms geändert.")
                              .arg(first->UpdateRate));
    } catch (...) {
        LogCurrentException();
    }
}

void TRuntimeControl::RefreshNow()
{
    try {
        TOPCClientBridge *opc = m_Document->OPCBridge();
        if (!opc)
            return;
        opc->RefreshCache();
        LastCallbackTime = LocalNow();
        TimerTick();
    } catch (...) {
        LogCurrentException();
    }
}

void TRuntimeControl::Shutdown(bool rememberDocument)
{
    m_UpdateTimer.stop();
    TConfiguration *settings = Configuration();
    if (rememberDocument && settings && !m_Document->FileName().isEmpty() &&
        settings->SaveDocumentNameAtShutdown)
        settings->DocumentToLoad = m_Document->FileName();
    try {
        m_Document->CloseDocument();
        m_Document->Clear();
    } catch (...) {
        LogCurrentException();
    }
    if (settings)
        settings->Save();
}
