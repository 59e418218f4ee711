#include "app/Startup.h"

#include "acquisition/ExceptionText.h"
#include "app/Artwork.h"
#include "app/MainForm.h"
#include "app/TidewellApplication.h"
#include "app/xfrmAbout.h"
#include "cache/xDataCache.h"
#include "document/xTDWDocument.h"
#include "eventlog/xEventLog.h"
#include "opcsim/OPCSimulation.h"
#include "platform/com/ClassRegistry.h"
#include "platform/opcda/OpcServerList.h"
#include "platform/system/DateTime.h"
#include "platform/system/WindowMessages.h"
#include "settings/xCommon.h"

#include <QFileInfo>
#include <QPointer>
#include <QScreen>
#include <QThread>

namespace {

const QString System = QStringLiteral("System");

void LogSystem(TEventType type, quint8 level, const QString &message)
{
    EventLogger().LogNamed(type, level, System, nullptr, message);
}

std::unique_ptr<TTDWDocument> Load(const QString &path, TDataCache *dataCache)
{
    auto document = std::make_unique<TTDWDocument>();
    try {
        document->LoadFromFile(path, dataCache);
        return document;
    } catch (...) {
        LogSystem(etError, 1,
                  QStringLiteral("Fehler beim Laden des Dokuments \"%1\": %2")
                      .arg(QFileInfo(path).fileName(), CurrentExceptionText()));
        return nullptr;
    }
}

} // namespace

std::unique_ptr<TTDWDocument>
LoadStartupDocument(const QString &argument, const TConfiguration &settings, TDataCache *dataCache)
{
    if (!argument.isEmpty())
        return QFileInfo::exists(argument) ? Load(argument, dataCache) : nullptr;
    if (settings.LoadDocumentAtStartup && !settings.DocumentToLoad.isEmpty()) {
        EventLogger().Log(etInformation, 3, nullptr, QStringLiteral("Dokument wird geladen..."));
        return Load(settings.DocumentToLoad, dataCache);
    }
    return nullptr;
}

void WaitForStep(double start, int ms)
{
    const double delay = ms / 86400000.0;
    while (Now() - start < delay)
        QThread::usleep(500);
}

int RunTidewell(TTidewellApplication &app)
{
    // The settings size the main window to the primary screen.
    SetScreenSizeProvider([] {
        const QScreen *screen = QGuiApplication::primaryScreen();
        return screen ? screen->availableGeometry().size() : QSize();
    });
    TConfiguration &settings = CreateConfiguration();
    CreateEventLogger(settings.BaseKey());

    QApplication::setOverrideCursor(Qt::WaitCursor);
    QApplication::setWindowIcon(QIcon(LogoMark(64)));
    QApplication::processEvents();

    // The main window frees the splash once it has taken over.
    QPointer<TAboutDlg> splash = new TAboutDlg;
    splash->SetSplashMode(true);
    splash->SetInfo(QObject::tr("Anwendung wird initialisiert..."));
    splash->show();
    QApplication::processEvents();

    double stepStart = Now();
    QApplication::setApplicationDisplayName(QStringLiteral("Tidewell"));
    WaitForStep(stepStart);
    stepStart = Now();

    splash->SetInfo(QObject::tr("Ereignisprotokollierungs-System wird gestartet..."));
    WaitForStep(stepStart);
    stepStart = Now();

    LogSystem(etInformation, 3, QStringLiteral("Tidewell gestartet"));
    app.InstallExceptionHook();
    // Documents may name the built-in simulation server, so it is there before any is loaded.
    try {
        EnsureLocalOpcServerList();
        RegisterSimulationServer(LocalHost(), TSimulationOptions());
    } catch (...) {
        LogSystem(etError, 1, CurrentExceptionText());
    }

    splash->SetInfo(QObject::tr("Konfiguration wird geladen..."));
    LogSystem(etInformation, 4, QStringLiteral("Vorhandenen Registry-Einstellungen übernehmen"));
    settings.Load();
    std::unique_ptr<TTDWDocument> document = LoadStartupDocument(
        QApplication::arguments().value(1), settings, TSingletonDataCache::Instance());

    int code = 0;
    {
        TMainForm mainForm;
        mainForm.SetSplash(splash);
        WaitForStep(stepStart);
        splash->SetInfo(QObject::tr("Systemstart abschließen..."));
        PostMessage(&mainForm, WM_STARTDOCUMENT, 0, reinterpret_cast<LPARAM>(document.release()));
        code = QApplication::exec();
    }
    delete splash.data(); // only when the loop ended before the hand-over

    LogSystem(etInformation, 4, QStringLiteral("Aktuelle Einstellungen in die Registry schreiben"));
    settings.Save();
    LogSystem(etInformation, 3, QStringLiteral("Tidewell Ereignisprotokollierung beendet"));
    FreeEventLogger();
    FreeConfiguration();
    return code;
}
