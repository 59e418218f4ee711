#include "cli/HeadlessRunner.h"

#include "acquisition/xOPCClientBridge.h"
#include "cache/xDataCache.h"
#include "database/xADOBridge.h"
#include "document/xTDWDocument.h"
#include "eventlog/LogWriter.h"
#include "eventlog/xEventLog.h"
#include "opcsim/OPCSimulation.h"
#include "platform/opcda/OpcServerList.h"
#include "platform/system/WindowMessages.h"
#include "runtime/RuntimeControl.h"
#include "settings/xCommon.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString System = QStringLiteral("System");

QTextStream &Err()
{
    static QTextStream stream(stderr);
    return stream;
}

QTextStream &Out()
{
    static QTextStream stream(stdout);
    return stream;
}

void PrintUsage()
{
    Err() << "Aufruf: tidewell-cli run DOKUMENT [--duration SEKUNDEN] [--level 1..5] "
             "[--plant DATEI]\n"
             "        tidewell-cli check DOKUMENT\n";
    Err().flush();
}

// Prints the logger's queued events as log-file lines.
class TEventPrinter : public QObject
{
public:
    TEventPrinter() { EventLogger().SetNotifyWindow(this); }
    ~TEventPrinter() override { EventLogger().SetNotifyWindow(nullptr); }

    void Drain()
    {
        for (const auto &entry : EventLogger().TakeEntries())
            Err() << FormatEventLine(entry->EventType, entry->Message, entry->TimeStamp,
                                     entry->Sender, entry->SenderName, entry->ThreadID)
                  << '\n';
        Err().flush();
    }

protected:
    bool event(QEvent *event) override
    {
        if (int(event->type()) != WM_EVENTLOGNOTIFY)
            return QObject::event(event);
        Drain();
        return true;
    }
};

// SIGINT and SIGTERM become a quit of the event loop through a socket pair, the one thing a
// signal handler may safely touch.
int g_SignalFd[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_SignalFd[1], &byte, 1);
}

class TSignalQuit
{
public:
    TSignalQuit()
    {
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_SignalFd) != 0)
            return;
        m_Notifier = std::make_unique<QSocketNotifier>(g_SignalFd[0], QSocketNotifier::Read);
        QObject::connect(m_Notifier.get(), &QSocketNotifier::activated, [] {
            char byte;
            [[maybe_unused]] const ssize_t read = ::read(g_SignalFd[0], &byte, 1);
            QCoreApplication::quit();
        });
        struct sigaction action = {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
    }
    ~TSignalQuit()
    {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        m_Notifier.reset();
        for (int &fd : g_SignalFd)
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
    }
    TSignalQuit(const TSignalQuit &) = delete;
    TSignalQuit &operator=(const TSignalQuit &) = delete;

private:
    std::unique_ptr<QSocketNotifier> m_Notifier;
};

void Describe(const TTDWDocument &document)
{
    QTextStream &out = Out();
    if (const TOPCClientBridge *opc = document.OPCBridge()) {
        const TRemoteServerInfo &server = opc->OPCDAClient().ServerInfo;
        out << "OPC-Server: " << (server.ID.isEmpty() ? QStringLiteral("(keiner)") : server.ID);
        if (!server.ComputerName.isEmpty())
            out << " auf " << server.ComputerName;
        out << '\n';
        for (int i = 0; i < opc->TransmitterCount(); ++i) {
            const TOPCClientTransmitter &group = *opc->Transmitters(i);
            out << "  Gruppe " << group.Name << ": " << group.ItemCount() << " Items, "
                << group.UpdateRate << " ms\n";
        }
    }
    if (const TADOBridge *db = document.DataBaseBridge()) {
        out << "Datenbank: " << db->DataBaseController().ConnectionString()
            << " (erzwungenes Schreiben alle " << db->ForcedWriteInterval << " ms)\n";
        for (int i = 0; i < db->TransmitterCount(); ++i) {
            const auto *table = dynamic_cast<const TADOTableTransmitter *>(db->Transmitters(i));
            if (!table)
                continue;
            out << "  Tabelle " << table->TableName << " ("
                << (table->TableType() == tt_TableUpdate ? "Update" : "Insert") << "), "
                << table->FieldCount() << " Spalten";
            if (!table->StatusTableName.isEmpty())
                out << ", Statustabelle " << table->StatusTableName;
            if (table->QualityTranslation().Count() > 0)
                out << ", " << table->QualityTranslation().Count() << " Qualitätsregeln";
            out << '\n';
        }
    }
    out.flush();
}

// Settings and the event logger as the start-up creates them.
void StartServices(int level)
{
    TConfiguration &settings = CreateConfiguration();
    CreateEventLogger(settings.BaseKey());
    if (level > 0)
        EventLogger().SetLoggingLevel(quint8(level));
}

void StopServices(TEventPrinter *printer)
{
    if (Configuration()) {
        EventLogger().LogNamed(etInformation, 4, System, nullptr,
                               QStringLiteral("Aktuelle Einstellungen in die Registry schreiben"));
        Configuration()->Save();
    }
    EventLogger().LogNamed(etInformation, 3, System, nullptr,
                           QStringLiteral("Tidewell Ereignisprotokollierung beendet"));
    if (printer)
        printer->Drain();
    FreeEventLogger();
    FreeConfiguration();
}

std::unique_ptr<TTDWDocument> Load(const QString &path, TDataCache *cache)
{
    auto document = std::make_unique<TTDWDocument>();
    try {
        document->LoadFromFile(path, cache);
        return document;
    } catch (const Exception &e) {
        EventLogger().LogNamed(etError, 1, System, nullptr,
                               QStringLiteral("Fehler beim Laden des Dokuments \"%1\": %2")
                                   .arg(QFileInfo(path).fileName(), e.Message()));
        return nullptr;
    }
}

int Check(const QString &path)
{
    StartServices(0);
    TEventPrinter printer;
    int code = ceOK;
    {
        TDataCache cache;
        if (auto document = Load(path, &cache))
            Describe(*document);
        else
            code = ceLoadError;
    }
    printer.Drain();
    StopServices(nullptr);
    return code;
}

int Run(const QString &path, double durationSecs, int level, const QString &plantFile)
{
    StartServices(level);
    TEventPrinter printer;
    EventLogger().LogNamed(etInformation, 3, System, nullptr, QStringLiteral("Tidewell gestartet"));
    EventLogger().LogNamed(etInformation, 4, System, nullptr,
                           QStringLiteral("Vorhandenen Registry-Einstellungen übernehmen"));
    Configuration()->Load();

    int code = ceOK;
    try {
        EnsureLocalOpcServerList();
        TSimulationOptions options;
        options.PlantFile = plantFile;
        RegisterSimulationServer(LocalHost(), options);
    } catch (const Exception &e) {
        EventLogger().LogNamed(etError, 1, System, nullptr, e.Message());
        code = ceRuntimeError;
    }

    TSingletonDataCache *cache = TSingletonDataCache::Instance();
    std::unique_ptr<TTDWDocument> document = code == ceOK ? Load(path, cache) : nullptr;
    if (code == ceOK && !document)
        code = ceLoadError;
    if (code == ceOK) {
        TSignalQuit signalQuit;
        TRuntimeControl control(cache);
        control.HandleStartDocument(std::move(document));
        control.TimerTick();
        if (durationSecs > 0)
            QTimer::singleShot(int(durationSecs * 1000), QCoreApplication::instance(),
                               &QCoreApplication::quit);
        QCoreApplication::exec();
        control.Shutdown(false);
    }
    TSingletonDataCache::ReleaseInstance();
    StopServices(&printer);
    return code;
}

} // namespace

int RunCli(const QStringList &arguments)
{
    const QString command = arguments.value(0);
    if (command == QLatin1String("check") && arguments.size() == 2)
        return Check(arguments[1]);
    if (command != QLatin1String("run") || arguments.size() < 2) {
        PrintUsage();
        return ceUsage;
    }
    double duration = 0;
    int level = 0;
    QString plant;
    for (int i = 2; i < arguments.size(); i += 2) {
        const QString option = arguments[i];
        const QString value = arguments.value(i + 1);
        bool ok = !value.isEmpty();
        if (option == QLatin1String("--duration"))
            duration = value.toDouble(&ok);
        else if (option == QLatin1String("--level"))
            ok = ok && (level = value.toInt(&ok)) >= 1 && level <= 5;
        else if (option == QLatin1String("--plant"))
            plant = value;
        else
            ok = false;
        if (!ok || duration < 0) {
            PrintUsage();
            return ceUsage;
        }
    }
    return Run(arguments[1], duration, level, plant);
}
