// The write-cycle scenarios on SQLite, and the retries, which a second connection's write lock
// makes observable there.
#include "WriterScenarioTest.h"

INSTANTIATE_TEST_SUITE_P(SQLite, WriterTest,
                         ::testing::Values(TBackend{"SQLite", NewSQLiteScratch}),
                         [](const auto &info) { return std::string(info.param.Name); });

namespace {

const QString RetryTrace = QStringLiteral("InsistentExecuteCommand: Nach einen oder mehreren "
                                          "erfolglosen Versuchen wird erneut probiert, das "
                                          "Command auszuführen. (Vorherige Ausführzeit: ");
const QString AbortTrace = QStringLiteral("InsistentExecuteCommand: Nach einen oder mehreren "
                                          "erfolglosen Versuch wird das Ausführen des Commands "
                                          "abgebrochen.");
const QString SuccessTrace = QStringLiteral("InsistentExecuteCommand: Das Command wurde "
                                            "erfolgreich ausgeführt. (Benötigte Ausführzeit: ");

class SQLiteRetryTest : public ::testing::Test
{
protected:
    SQLiteRetryTest()
    {
        Setup.Exec(QStringLiteral("CREATE TABLE t (a INTEGER)"));
        Setup.Exec(QStringLiteral("CREATE TABLE t2 (a INTEGER)"));
        for (const char *name : {"t", "t2"}) {
            TADOTableTransmitter *table = Bridge.AddTableTransmitter();
            table->TableName = QString::fromUtf8(name);
            table->SetTableType(tt_TableInsert);
            auto *column = table->AddField<TConstantADOTableField>();
            column->Name = QStringLiteral("a");
            column->Value = TVariant::FromString(QStringLiteral("1"));
        }
        Table = static_cast<TADOTableTransmitter *>(Bridge.Transmitters(0));
    }
    // Another connection takes the write lock and keeps it until Release.
    void Lock()
    {
        Locker.Connection().BeginTrans();
        Locker.Exec(QStringLiteral("INSERT INTO t2 (a) VALUES (0)"));
    }
    void Release() { Locker.Connection().CommitTrans(); }

    TEventCapture Events;
    TSQLiteScratch Scratch;
    TTestDatabase Db = Scratch.Database();
    TSqlSession Setup{Db};
    TSqlSession Locker{Db};
    TADOBridge Bridge{Db.ConnectionString, QString(), QString(), nullptr};
    TADOTableTransmitter *Table = nullptr;
};

} // namespace

TEST_F(SQLiteRetryTest, StatementIsRetriedUntilTheLockIsGone)
{
    ASSERT_TRUE(Bridge.TryToConnect());
    TADOCommand *command = Table->GetValueCommand();
    Lock();
    int waits = 0;
    Bridge.RetryWait = [&](std::uint32_t ms) {
        EXPECT_EQ(ms, 30u);
        if (++waits == 2)
            Release();
    };
    Events.Take();
    // A budget no machine exhausts: the lock decides how often it runs.
    Table->InsistentExecuteCommand(command, 600000);
    EXPECT_EQ(waits, 2);
    const QStringList messages = Events.TakeMessages();
    EXPECT_EQ(CountStartingWith(messages, RetryTrace), 2);
    EXPECT_EQ(CountStartingWith(messages, SuccessTrace), 1);
    EXPECT_EQ(CountOf(messages, AbortTrace), 0);
    EXPECT_EQ(Setup.Count(QStringLiteral("t")), 1);
}

TEST_F(SQLiteRetryTest, LockedDatabaseFailsTheCycleAfterItsBudgetThenRecovers)
{
    Bridge.ValidateWithProgress();
    Bridge.PrepareTransmission();
    Lock();
    Events.Take();
    Bridge.Transmit();
    QStringList messages = Events.TakeMessages();
    EXPECT_GE(CountStartingWith(messages, RetryTrace), 1);
    EXPECT_EQ(CountOf(messages, AbortTrace), 2); // both tables
    EXPECT_EQ(CountStartingWith(messages, QStringLiteral("Beim Schreiben in die Tabelle \"t\" ist "
                                                         "ein Fehler aufgetreten.  Meldung: ")),
              1);
    EXPECT_EQ(Table->ErrorFlags, de_WriteError);
    // the probe still reads: the connection stays
    EXPECT_TRUE(messages.contains(QStringLiteral("Datenbankverbindung besteht weiterhin.")));

    Release();
    Bridge.Transmit();
    messages = Events.TakeMessages();
    EXPECT_TRUE(messages.contains(QStringLiteral("Das Schreiben in die Tabelle \"t\" war nach "
                                                 "einem erfolglosen Versuch wieder "
                                                 "erfolgreich.")));
    EXPECT_EQ(Table->ErrorFlags, 0);
    EXPECT_EQ(Setup.Count(QStringLiteral("t")), 1);
    EXPECT_EQ(Setup.Count(QStringLiteral("t2")), 2);
}

TEST_F(SQLiteRetryTest, FailedCommitRollsBackAndLeavesTheBridgeUsable)
{
    Bridge.ValidateWithProgress();
    Bridge.PrepareTransmission();
    Bridge.Transmit();
    ASSERT_EQ(Setup.Count(QStringLiteral("t")), 1);
    // A reader inside a transaction keeps SQLite from committing a writer's changes.
    Locker.Connection().BeginTrans();
    Locker.Column(QStringLiteral("SELECT COUNT(*) FROM t"));
    bool raised = false;
    try {
        Bridge.Transmit();
    } catch (const Exception &) {
        raised = true;
    }
    Locker.Connection().CommitTrans();
    EXPECT_TRUE(raised);
    EXPECT_FALSE(Bridge.DataBaseController().Connection()->InTransaction());
    Bridge.Transmit();
    EXPECT_EQ(Setup.Count(QStringLiteral("t")), 2);
}
