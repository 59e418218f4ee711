#include "app/MainForm.h"
#include "support/SimulationSession.h"

#include "acquisition/xOPCClientBridge.h"
#include "cache/xDataCache.h"
#include "database/xADOBridge.h"
#include "document/IniFile.h"
#include "document/xTDWDocument.h"
#include "eventlog/xEventLog.h"
#include "opcsim/OPCSimulation.h"
#include "platform/ado/Ado.h"
#include "platform/net/Network.h"
#include "platform/opcda/OpcServerList.h"
#include "platform/system/WindowMessages.h"
#include "runtime/RuntimeTestSupport.h"
#include "settings/xCommon.h"
#include "windows/xAlertWin.h"

#include "AppTestSupport.h"
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QThread>
#include <QTreeView>

#include <gtest/gtest.h>

namespace {

class MainFormTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CreateConfiguration();
        Sim = StartManualSimulation(QString::fromUtf8(rttest::Plant));
        Form = std::make_unique<TMainForm>(&Cache);
        Form->resize(1000, 720);
    }

    void TearDown() override
    {
        Form.reset();
        Sql.Close();
        StopSimulation(*Sim);
        FreeConfiguration();
    }

    QString SqliteConnection()
    {
        return QStringLiteral("Provider=SQLite;Data Source=%1")
            .arg(Dir.filePath(QStringLiteral("ziel.sqlite")));
    }

    void CreateSchema()
    {
        Sql.Open(SqliteConnection(), QString(), QString());
        for (const QString &statement : rttest::Schema) {
            TADOCommand command;
            command.SetActiveConnection(&Sql);
            command.SetCommandText(statement);
            command.Execute();
        }
    }

    // Hands the document over as the start-up does, through the posted message.
    void Start(const QString &text)
    {
        const QString path = Dir.filePath(QStringLiteral("test.tdw"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(EncodeDocumentText(text));
        file.close();
        auto document = std::make_unique<TTDWDocument>();
        document->LoadFromFile(path, &Cache);
        if (TOPCClientBridge *opc = document->OPCBridge()) {
            opc->OPCDAClient().ConnectWaitMs = 0;
            opc->OPCDAClient().ReconnectDelay = 0;
        }
        if (TADOBridge *db = document->DataBaseBridge())
            db->ReconnectInterval = 0;
        PostMessage(Form.get(), WM_STARTDOCUMENT, 0, reinterpret_cast<LPARAM>(document.release()));
        QCoreApplication::processEvents();
        Form->Control().UpdateTimer().stop();
    }

    void Step(qint64 ms = 1000)
    {
        Sim->AdvanceTime(ms);
        QCoreApplication::processEvents();
        if (Form->Control().LastWriteDuration > 0)
            QThread::msleep(static_cast<unsigned long>(Form->Control().LastWriteDuration) + 2);
    }

    QLabel *Field(const char *name) const
    {
        auto *label = Form->findChild<QLabel *>(QString::fromLatin1(name));
        EXPECT_NE(label, nullptr) << name;
        return label;
    }

    TStatusText Status(const char *name) const
    {
        QLabel *label = Field(name);
        return {label->text(), label->palette().color(QPalette::WindowText)};
    }

    int RowsOf(const QString &signal) const
    {
        int rows = 0;
        for (int i = 0; i < Form->CurrentValues().rowCount(); ++i)
            rows += Form->CurrentValues().Row(i).Texts[0] == signal;
        return rows;
    }

    QString EventMessage(int row) const { return Form->EventLogGrid()->item(row, 2)->text(); }

    std::shared_ptr<TSimulationControl> Sim;
    TDataCache Cache;
    TADOConnection Sql;
    QTemporaryDir Dir;
    std::unique_ptr<TMainForm> Form;
};

} // namespace

TEST_F(MainFormTest, WelcomePageUntilADocumentNamesABridge)
{
    EXPECT_FALSE(Form->RunTimePageShown());
    PostMessage(Form.get(), WM_STARTDOCUMENT, 0, 0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(Form->RunTimePageShown());
    EXPECT_TRUE(Form->findChild<QWidget *>(QStringLiteral("grpFirstSteps"))->isVisible());
    SaveScreenshot(*Form, QStringLiteral("MainFormWelcome.png"));

    // A database bridge without any OPC server is already worth the run-time page.
    Start(
        QStringLiteral("[VersionInfo]\r\nFileVersion=13\r\n[ADOConnection]\r\n"
                       "ConnectionString=%1\r\nForcedWriteInterval=60000\r\nTransmitterCount=0\r\n")
            .arg(SqliteConnection()));
    EXPECT_TRUE(Form->RunTimePageShown());
    EXPECT_EQ(Status("lblOPCStatus").Text, "'Kein OPC-Server ausgewählt'");

    Form->Control().NewDocument();
    EXPECT_FALSE(Form->RunTimePageShown());
}

TEST_F(MainFormTest, RunningDocumentShowsBothPanelsAndOneRowPerWrittenColumn)
{
    CreateSchema();
    Start(rttest::DocumentText(SqliteConnection()));
    Step();
    Step();
    Form->RefreshDisplay();

    const TStatusText ok{QStringLiteral("OK"), StatusColor::Green};
    EXPECT_EQ(Status("lblOPCStatus"), ok) << Status("lblOPCStatus").Text.toStdString();
    EXPECT_EQ(Status("lblDBStatus"), ok) << Status("lblDBStatus").Text.toStdString();
    EXPECT_EQ(Field("lblOPCID")->text(), "Tidewell.OPCSimulation.1");
    // Item resolution and catalog checks show the window's progress dialogs.
    EXPECT_NE(&Form->Control().Document().OPCBridge()->ResolveProgress(),
              &QuietOPCResolveProgress());
    EXPECT_NE(&Form->Control().Document().DataBaseBridge()->ValidationProgress(),
              &QuietADOValidationProgress());
    EXPECT_NE(Field("lblDBLastWrite")->text(), "-");
    EXPECT_TRUE(Field("lblOPCUpdateRate")->text().startsWith("1,00 Sekunden"));

    // Temp1 goes into werte.temp and aktuell.temp, Bad1 and Level1 into one column each.
    EXPECT_EQ(Form->CurrentValues().rowCount(), 4);
    EXPECT_EQ(RowsOf("Temp1"), 2);
    EXPECT_EQ(RowsOf("Bad1"), 1);
    EXPECT_EQ(RowsOf("Level1"), 1);
    EXPECT_EQ(Form->DataCacheTable()->model()->columnCount(), CurrentValueColumnCount);
    SaveScreenshot(*Form, QStringLiteral("MainFormRunning.png"));

    EXPECT_TRUE(Form->Action("actPause")->isEnabled());
    EXPECT_FALSE(Form->Action("actPlay")->isEnabled());
    EXPECT_TRUE(Form->Action("actViewRemoteServer")->isEnabled());

    Form->Action("actPause")->trigger();
    const TStatusText paused{QStringLiteral("'Angehalten'"), StatusColor::Red};
    EXPECT_EQ(Status("lblOPCStatus"), paused);
    EXPECT_EQ(Status("lblDBStatus"), paused);
    EXPECT_EQ(Field("lblDBForcedWrite")->text(), "-");
    EXPECT_TRUE(Form->Action("actPlay")->isEnabled());
    EXPECT_FALSE(Form->Action("actPause")->isEnabled());

    Form->Action("actPlay")->trigger();
    EXPECT_EQ(Status("lblOPCStatus"), ok);
    Form->Action("actStop")->trigger();
    const TStatusText stopped{QStringLiteral("'Gestoppt'"), StatusColor::Red};
    EXPECT_EQ(Status("lblOPCStatus"), stopped);
    EXPECT_EQ(Status("lblDBStatus"), stopped);
    EXPECT_EQ(Field("lblOPCVersion")->text(), "(Keine Verbindung)");
    EXPECT_EQ(Field("lblOPCVersion")->palette().color(QPalette::WindowText), StatusColor::Grey);
}

// The demo document of the README in the window, against the built-in plant: what a person sees
// when running it, kept as a screenshot.
TEST_F(MainFormTest, DemoDocumentRunsInTheWindow)
{
    Sim->Unregister();
    TSimulationOptions builtIn;
    builtIn.ManualClock = true;
    Sim = RegisterSimulationServer(LocalHost(), builtIn);

    QFile schema(QStringLiteral(TIDEWELL_SOURCE_DIR "/examples/demo-schema.sql"));
    ASSERT_TRUE(schema.open(QIODevice::ReadOnly));
    QString statements = QString::fromUtf8(schema.readAll());
    statements.remove(QRegularExpression(QStringLiteral("--[^\n]*")));
    const QString database = Dir.filePath(QStringLiteral("demo.sqlite"));
    Sql.Open(QStringLiteral("Provider=SQLite;Data Source=") + database, QString(), QString());
    for (const QString &statement : statements.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (statement.trimmed().isEmpty())
            continue;
        TADOCommand command;
        command.SetActiveConnection(&Sql);
        command.SetCommandText(statement);
        command.Execute();
    }
    QFile demo(QStringLiteral(TIDEWELL_SOURCE_DIR "/examples/demo.tdw"));
    ASSERT_TRUE(demo.open(QIODevice::ReadOnly));
    Start(DecodeDocumentText(demo.readAll())
              .replace(QStringLiteral("Data Source=demo.sqlite"),
                       QStringLiteral("Data Source=") + database));
    for (int i = 0; i < 5; ++i)
        Step();
    Form->RefreshCurrentValuesNow();
    Form->RefreshDisplay();

    const TStatusText ok{QStringLiteral("OK"), StatusColor::Green};
    EXPECT_EQ(Status("lblOPCStatus"), ok) << Status("lblOPCStatus").Text.toStdString();
    EXPECT_EQ(Status("lblDBStatus"), ok) << Status("lblDBStatus").Text.toStdString();
    EXPECT_EQ(Form->CurrentValues().rowCount(), 8);
    TADORecordset rows;
    rows.Open(QStringLiteral("SELECT COUNT(*) FROM Messwerte"), &Sql);
    EXPECT_GE(rows.Fields(0).ToInt64(), 5);
    SaveScreenshot(*Form, QStringLiteral("MainFormDemo.png"));
}

TEST_F(MainFormTest, CaptionTurnsToTheErrorCaptionWhileTheDatabaseFails)
{
    TConfiguration &settings = *Configuration();
    settings.UseUserDefinedWindowCaption = true;
    settings.UserDefinedWindowCaption = QStringLiteral("Linie 1");
    settings.UserDefinedWindowErrorCaption = QStringLiteral("Linie 1 (Fehler)");
    Form->UpdateCaption();
    EXPECT_EQ(Form->windowTitle(), "Linie 1");

    Start(QStringLiteral("[VersionInfo]\r\nFileVersion=13\r\n[ADOConnection]\r\n"
                         "ConnectionString=Provider=SQLite;Data Source=%1\r\n"
                         "ForcedWriteInterval=60000\r\nTransmitterCount=0\r\n")
              .arg(Dir.filePath(QStringLiteral("fehlt/nicht/da.sqlite"))));
    EXPECT_NE(Status("lblDBStatus").Text, "OK");
    EXPECT_EQ(Form->windowTitle(), "Linie 1 (Fehler)");

    settings.UseUserDefinedWindowCaption = false;
    PostMessage(Form.get(), WM_ALERTCLOSED);
    QCoreApplication::processEvents();
    EXPECT_EQ(Form->windowTitle(), "Tidewell");
}

TEST_F(MainFormTest, EventGridKeepsTheLast98Events)
{
    for (int i = 1; i <= 99; ++i)
        EventLogger().LogNamed(etInformation, 1, QStringLiteral("System"), nullptr,
                               QStringLiteral("Ereignis %1").arg(i));
    Form->DrainEventQueue();
    ASSERT_EQ(Form->EventCount(), TMainForm::MaxEvents);
    EXPECT_EQ(EventMessage(0), "Ereignis 2");
    EXPECT_EQ(EventMessage(97), "Ereignis 99");
    EXPECT_EQ(Form->EventLogGrid()->rowCount(), 99) << "one empty row below the events";
    EXPECT_EQ(Form->EventLogGrid()->item(98, 2), nullptr);
    EXPECT_EQ(Form->EventLogGrid()->currentRow(), 97);
}

TEST_F(MainFormTest, CopiedEventTextKeepsTheHiddenSender)
{
    ASSERT_FALSE(AppInfo().DebugEnabled);
    EXPECT_TRUE(Form->EventLogGrid()->isColumnHidden(3));
    EventLogger().LogNamed(etError, 1, QStringLiteral("System"), nullptr,
                           QStringLiteral("Verbindung verloren"));
    Form->DrainEventQueue();
    ASSERT_EQ(Form->EventCount(), 1);
    const QString time = Form->EventLogGrid()->item(0, 1)->text();

    QAction *copy = Form->Action("actEditCopyCurrentEvent");
    Form->UpdateActions();
    ASSERT_TRUE(copy->isEnabled());
    copy->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), time + " Fehler: Verbindung verloren [System]");
    EXPECT_EQ(Form->AlertForm().History().size(), 1) << "errors also go to the alert window";

    // The empty bottom row is no event.
    Form->EventLogGrid()->setCurrentCell(1, 1);
    Form->UpdateActions();
    EXPECT_FALSE(copy->isEnabled());
}

TEST_F(MainFormTest, HaltedDisplayShowsWaitingEventsInOrderWhenResumed)
{
    Form->show(); // registers the window with the logger
    QCoreApplication::processEvents();
    Form->DrainEventQueue();
    const int before = Form->EventCount();

    QAction *halt = Form->Action("HaltEventLogAction");
    halt->trigger();
    ASSERT_TRUE(halt->isChecked());
    ASSERT_TRUE(Form->EventLogHalted());
    for (const char *message : {"A", "B"})
        EventLogger().LogNamed(etInformation, 1, QStringLiteral("System"), nullptr,
                               QString::fromLatin1(message));
    QCoreApplication::processEvents();
    EXPECT_EQ(Form->EventCount(), before);

    halt->trigger();
    QCoreApplication::processEvents();
    ASSERT_EQ(Form->EventCount(), before + 4);
    EXPECT_EQ(EventMessage(before), "Die Ereignisprotokollierung wurde angehalten.");
    EXPECT_EQ(EventMessage(before + 1), "A");
    EXPECT_EQ(EventMessage(before + 2), "B");
    EXPECT_EQ(EventMessage(before + 3), "Die Ereignisprotokollierung wurde gestartet.");
}

TEST_F(MainFormTest, ExportWritesOneLinePerEventWithCRLF)
{
    EventLogger().LogNamed(etWarning, 1, QStringLiteral("System"), nullptr, QStringLiteral("Eins"));
    EventLogger().LogNamed(etInformation, 1, QStringLiteral("System"), nullptr,
                           QStringLiteral("Zwei"));
    Form->DrainEventQueue();
    const QString path = Dir.filePath(QStringLiteral("export.txt"));
    ASSERT_TRUE(Form->ExportEventLog(path));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    const QList<QByteArray> lines = text.split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].endsWith(" Warnung: Eins [System]\r")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(" Information: Zwei [System]\r")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].isEmpty());
    EXPECT_FALSE(Form->ExportEventLog(Dir.filePath(QStringLiteral("fehlt/export.txt"))));
}

TEST_F(MainFormTest, TreeRefreshAfterDataChangesIsThrottled)
{
    quint32 tick = 10000;
    Form->TickSource = [&tick] { return tick; };
    auto add = [this](const QString &id) {
        TDataCacheItem *item = Cache.Add(id);
        item->WriteAttribute(QStringLiteral("ValueTables"), QStringLiteral("t"));
        item->WriteAttribute(QStringLiteral("t.TargetTableFields"), QStringLiteral("c"));
    };
    add(QStringLiteral("A"));
    Form->RefreshCurrentValuesNow();
    ASSERT_EQ(Form->CurrentValues().rowCount(), 1);

    add(QStringLiteral("B"));
    tick += TMainForm::TreeRefreshInterval;
    Form->RefreshCurrentValues();
    EXPECT_EQ(Form->CurrentValues().rowCount(), 1);
    tick += 1;
    Form->RefreshCurrentValues();
    EXPECT_EQ(Form->CurrentValues().rowCount(), 2);

    // Rows beyond the cache's go.
    Cache.Clear();
    Form->RefreshCurrentValuesNow();
    EXPECT_EQ(Form->CurrentValues().rowCount(), 0);
}

TEST_F(MainFormTest, EveryLinkNamesAnActionAndLinksIgnoreCase)
{
    CreateSchema();
    Start(rttest::DocumentText(SqliteConnection()));
    const QRegularExpression href(QStringLiteral("href=\"([^\"]+)\""));
    QStringList links;
    for (const QLabel *label : Form->findChildren<QLabel *>())
        for (const auto &match : href.globalMatch(label->text()))
            links << match.captured(1);
    for (const char *expected :
         {"actEditConfigureBridge", "actHelpFirstSteps", "actEditOPCUpdateRate",
          "actEditDBForceWriteIntervall", "actAutoSizeColumns"})
        EXPECT_TRUE(links.contains(QString::fromLatin1(expected))) << expected;
    for (const QString &link : links)
        EXPECT_NE(Form->Action(link), nullptr) << link.toStdString();

    const int before = Form->DataCacheTable()->columnWidth(0);
    Form->DataCacheTable()->setColumnWidth(0, 3);
    EXPECT_TRUE(Form->RunActionByName(QStringLiteral("ACTAUTOSIZECOLUMNS")));
    EXPECT_GT(Form->DataCacheTable()->columnWidth(0), 3);
    EXPECT_NE(before, 0);
    EXPECT_FALSE(Form->RunActionByName(QStringLiteral("actNowhere")));
}

TEST_F(MainFormTest, CommandCaptionsAndShortcuts)
{
    const struct
    {
        const char *Name;
        const char *Caption;
        const char *Shortcut;
    } actions[] = {
        {"actFileNew", "Neu", "Ctrl+N"},
        {"actFileClose", "Schließen", ""},
        {"actFileOpen", "Öffnen...", "Ctrl+O"},
        {"actFileUseConfigDataBase", "Konfigurationsdatenbank verwenden...", ""},
        {"actFileSave", "Speichern", "Ctrl+S"},
        {"actFileSaveAs", "Speichern unter...", ""},
        {"actFileCloseApp", "Beenden", ""},
        {"actEditConfigureBridge", "Bridge konfigurieren...", "F3"},
        {"actPlay", "Datenerfassung wieder aufnehmen", ""},
        {"actPause", "Datenerfassung anhalten", ""},
        {"actStop", "Datenerfassung stoppen", ""},
        {"actEditDBForceWriteIntervall", "Max. Schreibintervall ändern...", ""},
        {"actEditOPCUpdateRate", "Aktualisierungsintervall ändern...", ""},
        {"actViewUpdate", "Aktualisieren", "F5"},
        {"actExtrasConfigAction", "Umgebungsoptionen...", "F12"},
        {"actEditCopyCurrentEvent", "Kopieren", "Ctrl+C"},
        {"actEditExportEventLog", "Ereignisprotokoll exportieren...", ""},
        {"HaltEventLogAction", "Ereignisprotokoll anhalten", ""},
        {"CloseCurrentEventLogAction", "Aktuelle Ereignisprotokoll-Datei abschließen", ""},
        {"actViewRemoteServer", "OPC-Quellserver", ""},
        {"actViewDatabase", "Zieldatenbank", ""},
        {"actViewEventLog", "Ereignisprotokoll", ""},
        {"actAutoSizeColumns", "Spaltenbreiten anpassen", ""},
        {"actHelpAbout", "Info...", ""},
        {"actHelpHelp", "Hilfe (englisch)...", ""},
        {"actHelpFirstSteps", "Erste Schritte (englisch)...", ""},
        {"actHelpOpenUserManual", "Benutzerhandbuch öffnen (englisch)...", ""},
        {"actHelpKestromHomepage", "Kestrom Website öffnen...", ""},
    };
    for (const auto &a : actions) {
        QAction *action = Form->Action(QString::fromLatin1(a.Name));
        ASSERT_NE(action, nullptr) << a.Name;
        EXPECT_EQ(action->text(), QString::fromUtf8(a.Caption)) << a.Name;
        EXPECT_EQ(action->shortcut().toString(), QString::fromLatin1(a.Shortcut)) << a.Name;
    }

    // With an untitled, unmodified document there is nothing to drop, save or run.
    Form->UpdateActions();
    for (const char *name : {"actFileNew", "actFileSave", "actFileSaveAs", "actPlay", "actPause",
                             "actStop", "actViewRemoteServer", "actEditConfigureBridge"})
        EXPECT_FALSE(Form->Action(QString::fromLatin1(name))->isEnabled()) << name;
    Form->ConfigureBridgeHandler = [] {};
    Form->UpdateActions();
    EXPECT_TRUE(Form->Action("actEditConfigureBridge")->isEnabled());
}

TEST_F(MainFormTest, HelpContextsOpenTheirTopics)
{
    Form->Action("actHelpFirstSteps")->trigger();
    ASSERT_NE(Form->Help().Window(), nullptr);
    EXPECT_EQ(Form->Help().Window()->Browser()->source().fileName(), "firststeps.htm");
    Form->Action("actHelpHelp")->trigger();
    EXPECT_EQ(Form->Help().Window()->Browser()->source().fileName(), "index.htm");
    Form->Help().CloseAll();
    EXPECT_EQ(Form->Help().Window(), nullptr);
}

TEST_F(MainFormTest, ClosingStoresWindowColumnsAndTheDocumentPath)
{
    TConfiguration &settings = *Configuration();
    settings.SaveDocumentNameAtShutdown = true;
    settings.DocumentToLoad = QStringLiteral("/vorher.tdw");
    Form->show();
    EXPECT_TRUE(Form->close());
    EXPECT_EQ(settings.DocumentToLoad, "/vorher.tdw") << "an untitled document is not remembered";

    Form = std::make_unique<TMainForm>(&Cache);
    Form->resize(1010, 770);
    CreateSchema();
    Start(rttest::DocumentText(SqliteConnection()));
    Form->DataCacheTable()->setColumnWidth(4, 123);
    EXPECT_TRUE(Form->close());
    EXPECT_EQ(settings.DocumentToLoad, Dir.filePath(QStringLiteral("test.tdw")));
    EXPECT_EQ(settings.MainFormWidth, 1010);
    EXPECT_EQ(settings.MainFormHeight, 770);
    EXPECT_EQ(settings.ColumnSizes[4], 123);
    EXPECT_EQ(Form->Control().Document().OPCBridge(), nullptr) << "the document is closed";

    // The next window comes back with those columns.
    Form = std::make_unique<TMainForm>(&Cache);
    EXPECT_EQ(Form->DataCacheTable()->columnWidth(4), 123);
}
