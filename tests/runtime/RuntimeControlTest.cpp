#include "RuntimeTestSupport.h"

#include "support/TestSupport.h"

using namespace rttest;

namespace {

class RuntimeSQLiteTest : public RuntimeTest
{
protected:
    void SetUp() override
    {
        RuntimeTest::SetUp();
        CreateSchema(Database.ConnectionString());
    }
    void StartDocument(int transmitters = 1)
    {
        Start(DocumentText(Database.ConnectionString(), transmitters));
    }

    TempSQLiteDatabase Database;
};

} // namespace

TEST_F(RuntimeSQLiteTest, EveryDataChangeWritesTheTablesOfTheDocument)
{
    StartDocument();
    Step();
    const int rows = Rows("werte");
    const int changes = View.DataChanges;
    ASSERT_GT(rows, 0);
    for (int i = 0; i < 3; ++i)
        Step();
    // one callback per period, and each one writes both tables
    EXPECT_EQ(View.DataChanges, changes + 3);
    EXPECT_EQ(Rows("werte"), rows + 3);
    EXPECT_EQ(Rows("wertestatus"), Rows("werte"));
    EXPECT_EQ(Rows("aktuell"), 1);

    int hint = 0;
    const TDataCacheValue temp = Cache.GetValue("Temp1", hint);
    EXPECT_DOUBLE_EQ(Query("SELECT temp FROM aktuell").ToDouble(), temp.Value.ToDouble());
    EXPECT_DOUBLE_EQ(Query("SELECT temp FROM werte ORDER BY rowid DESC").ToDouble(),
                     temp.Value.ToDouble());
    // The bad item writes its substitute; the status table carries the translated qualities.
    EXPECT_EQ(Query("SELECT bad FROM werte ORDER BY rowid DESC").ToDouble(), -1.0);
    EXPECT_EQ(Query("SELECT temp FROM wertestatus ORDER BY rowid DESC").ToString(), "Gut");
    EXPECT_EQ(Query("SELECT bad FROM wertestatus ORDER BY rowid DESC").ToString(), "Schlecht");
    EXPECT_EQ(Query("SELECT linie FROM wertestatus ORDER BY rowid DESC").ToString(), "L1");
}

TEST_F(RuntimeSQLiteTest, ForcedWriteIntervalWritesWithoutDataChanges)
{
    StartDocument();
    const int rows = Rows("werte");
    Control->TimerTick(); // not due yet
    EXPECT_EQ(Rows("werte"), rows);
    Control->NextForcedWrite -= 61.0 / 86400; // the interval of 60 s has passed
    Control->TimerTick();
    EXPECT_EQ(Rows("werte"), rows + 1);
    EXPECT_GT(Control->NextForcedWrite, NowWithTimeZone().Local + 59.0 / 86400);
    SettleOverloadRule();
    Control->TimerTick();
    EXPECT_EQ(Rows("werte"), rows + 1);
}

TEST_F(RuntimeSQLiteTest, OverloadRuleSkipsWritesAndReportsOncePerMinute)
{
    StartDocument();
    Messages();
    const int rows = Rows("werte");
    const QString gap = "Der Abstand zwischen zwei Schreibvorgängen ist im Verhältnis zu deren "
                        "Dauer zu gering. Um eine Überlastung zu vermeiden werden Schreibvorgänge "
                        "ausgelassen.";
    // The last write lasted long and ended just now: the next attempt is skipped.
    Control->LastWriteEnd = float(TRuntimeControl::CounterMs());
    Control->LastWriteDuration = 1e6f;
    Control->LastOverloadReport = 0;
    Control->HandleDataChange();
    EXPECT_EQ(Rows("werte"), rows);
    // The skipped attempt counts as a short one of its own: the next change writes again.
    Control->LastWriteDuration = 1e6f;
    Control->LastWriteEnd = float(TRuntimeControl::CounterMs());
    Control->HandleDataChange();
    EXPECT_EQ(Count(Messages(), gap), 1);
    SettleOverloadRule();
    Control->HandleDataChange();
    EXPECT_EQ(Rows("werte"), rows + 1);

    // A data change that arrives while a write is still running does not start another one.
    const QString during = "Während des Schreibens in die Datenbank wurden erneut OPC-Callbacks "
                           "empfangen. Um eine Überlastung zu vermeiden werden Schreibvorgänge "
                           "ausgelassen.";
    Control->LastOverloadReport = 0;
    int nested = 0;
    View.DuringRefresh = [&] {
        if (Control->WriteInProgress() && nested == 0)
            for (; nested < 2; ++nested)
                Control->HandleDataChange();
    };
    SettleOverloadRule();
    Control->HandleDataChange();
    View.DuringRefresh = nullptr;
    EXPECT_EQ(nested, 2);
    EXPECT_EQ(Rows("werte"), rows + 2);
    EXPECT_EQ(Count(Messages(), during), 1);
}

TEST_F(RuntimeSQLiteTest, PauseKeepsTheDatabaseAndStopRestartsEverything)
{
    StartDocument();
    const TZonedDateTime connected = Db().ConnectTime;
    Control->Pause();
    EXPECT_EQ(Control->State(), asPaused);
    int rows = Rows("werte");
    Step();
    Step();
    EXPECT_EQ(Rows("werte"), rows);

    Control->Play();
    EXPECT_EQ(Control->State(), asRunning);
    Step();
    EXPECT_GT(Rows("werte"), rows);
    EXPECT_EQ(Db().ConnectTime.Local, connected.Local); // the database was not reconnected

    Control->Stop();
    EXPECT_EQ(Control->State(), asStopped);
    EXPECT_FALSE(Opc().Connected());
    EXPECT_FALSE(Db().Connected);
    rows = Rows("werte");
    Step();
    EXPECT_EQ(Rows("werte"), rows);
    Control->Play();
    Step();
    EXPECT_GT(Rows("werte"), rows);

    const auto messages = Messages();
    for (const char *text :
         {"Die Datenerfassung wurde angehalten", "Die Datenerfassung wurde wieder aufgenommen",
          "Datenerfassung wurde gestoppt"})
        EXPECT_GE(Count(messages, text), 1) << text;
}

TEST_F(RuntimeSQLiteTest, ServerShutdownIsFollowedByReconnectionOnTheTimer)
{
    StartDocument();
    Sim->RequestShutdown("Wartung");
    QDeadlineTimer deadline(10000);
    while (Opc().Connected() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_FALSE(Opc().Connected());
    EXPECT_EQ(Count(Messages(), "Der Quellserver wurde beendet (Grund: Wartung)."), 1);

    const int rows = Rows("werte");
    QThread::msleep(5); // the client declines within its reconnect delay (0 here) of the shutdown
    Control->TimerTick();
    EXPECT_TRUE(Opc().Connected());
    Step();
    EXPECT_GT(Rows("werte"), rows);
}

TEST_F(RuntimeSQLiteTest, DocumentCommandsFollowTheOperatorsAnswers)
{
    StartDocument(3);
    View.IntervalAnswer = 2000;
    Control->EditUpdateRate();
    EXPECT_EQ(Opc().Transmitters(0)->UpdateRate, 2000u);
    EXPECT_EQ(Opc().Transmitters(1)->UpdateRate, 1000u);
    EXPECT_EQ(Opc().Transmitters(2)->UpdateRate, 1000u);
    EXPECT_TRUE(Control->Document().Modified());
    Control->EditForcedWriteInterval();
    EXPECT_EQ(Db().ForcedWriteInterval, 2000u);
    const auto messages = Messages();
    EXPECT_EQ(Count(messages, "Das Aktualisierungsintervall wurde auf 2000ms geändert."), 0)
        << "level 4 is below the logging level";

    // A modified document is not dropped while the operator cancels.
    View.Answer = TDialogAnswer::Cancel;
    Control->NewDocument();
    EXPECT_NE(Control->Document().OPCBridge(), nullptr);
    EXPECT_EQ(View.Questions.back(), "Möchten Sie die Änderungen in \"test.tdw\" speichern?");
    View.Answer = TDialogAnswer::No;
    Control->NewDocument();
    EXPECT_EQ(Control->Document().OPCBridge(), nullptr);
    EXPECT_TRUE(Control->Document().IsUntitled());
}

TEST_F(RuntimeSQLiteTest, OpeningABrokenFileLeavesAnEmptyDocumentAndOneError)
{
    StartDocument();
    Messages();
    EXPECT_FALSE(Control->OpenDocument(Dir.filePath("fehlt.tdw")));
    const auto messages = Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Fehler beim Laden des Dokuments \"fehlt.tdw\": Datei nicht gefunden.");
    EXPECT_TRUE(Control->Document().IsUntitled());
    EXPECT_EQ(Control->Document().OPCBridge(), nullptr);
    EXPECT_TRUE(Control->UpdateTimer().isActive());
    Control->UpdateTimer().stop();
}
