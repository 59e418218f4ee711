// The write-cycle scenarios on PostgreSQL, plus what only a server shows: authentication, name
// folding and a server that goes away and comes back.
#include "WriterScenarioTest.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>

INSTANTIATE_TEST_SUITE_P(PostgreSQL, WriterTest,
                         ::testing::Values(TBackend{"PostgreSQL", NewPostgresScratch}),
                         [](const auto &info) { return std::string(info.param.Name); });

namespace {

class PostgresOnlyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Scratch = NewPostgresScratch();
        ASSERT_NE(Scratch, nullptr);
        Db = Scratch->Database();
        Sql = std::make_unique<TSqlSession>(Db);
    }

    TEventCapture Events;
    std::unique_ptr<TScratchDatabase> Scratch;
    TTestDatabase Db;
    std::unique_ptr<TSqlSession> Sql;
};

// A server of this test's own, so stopping it disturbs no other test.
class TPrivateServer
{
public:
    TPrivateServer() : m_Script(QStringLiteral(TIDEWELL_SOURCE_DIR "/scripts/pg-test-server.sh"))
    {
        Started = Run(QStringLiteral("bash"), {m_Script, QStringLiteral("start"), m_Dir.path()});
        if (!Started)
            return;
        QSettings env(m_Dir.filePath(QStringLiteral("connection.env")), QSettings::IniFormat);
        Host = env.value(QStringLiteral("TIDEWELL_PG_HOST")).toString();
        Port = env.value(QStringLiteral("TIDEWELL_PG_PORT")).toInt();
        User = env.value(QStringLiteral("TIDEWELL_PG_USER")).toString();
        Password = env.value(QStringLiteral("TIDEWELL_PG_PASSWORD")).toString();
        Database = env.value(QStringLiteral("TIDEWELL_PG_DATABASE")).toString();
        QFile path(m_Dir.filePath(QStringLiteral("server.path")));
        if (path.open(QIODevice::ReadOnly))
            m_Data = QString::fromLocal8Bit(path.readAll()).trimmed();
        const QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql"))
                                         .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        m_Bin =
            QStringLiteral("/usr/lib/postgresql/%1/bin").arg(versions.value(versions.size() - 1));
    }
    ~TPrivateServer()
    {
        if (Started)
            Run(QStringLiteral("bash"), {m_Script, QStringLiteral("stop"), m_Dir.path()});
    }

    TTestDatabase Connection() const
    {
        return {QStringLiteral("PostgreSQL"),
                QStringLiteral("Provider=PostgreSQL;Data Source=%1:%2;Initial Catalog=%3")
                    .arg(Host)
                    .arg(Port)
                    .arg(Database),
                User, Password, true};
    }
    bool Stop()
    {
        return PgCtl({QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("stop")});
    }
    bool Start()
    {
        return PgCtl({QStringLiteral("-l"), m_Data + QStringLiteral("/log"), QStringLiteral("-o"),
                      QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                          .arg(Port)
                          .arg(m_Data),
                      QStringLiteral("start")});
    }

    bool Started = false;
    QString Host, User, Password, Database;
    int Port = 0;

private:
    bool PgCtl(QStringList arguments)
    {
        arguments = QStringList{QStringLiteral("-D"), m_Data + QStringLiteral("/data"),
                                QStringLiteral("-w")} +
                    arguments;
        const QString pgCtl = m_Bin + QStringLiteral("/pg_ctl");
        if (geteuid() == 0)
            return Run(QStringLiteral("runuser"),
                       QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                                   QStringLiteral("--"), pgCtl} +
                           arguments);
        return Run(pgCtl, arguments);
    }
    static bool Run(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            ADD_FAILURE() << program.toStdString() << " " << arguments.join(u' ').toStdString()
                          << " failed: " << process.readAllStandardError().toStdString();
            return false;
        }
        return true;
    }

    QString m_Script;
    QTemporaryDir m_Dir;
    QString m_Data;
    QString m_Bin;
};

} // namespace

TEST_F(PostgresOnlyTest, BridgeCredentialsReplaceThoseInTheConnectionString)
{
    const QString withWrongCredentials =
        Db.ConnectionString + QStringLiteral(";User ID=nobody;Password=wrong");
    TADOBridge bridge(withWrongCredentials, Db.UserID, Db.Password, nullptr);
    EXPECT_EQ(bridge.DataBaseController().UserID(), Db.UserID);
    EXPECT_FALSE(bridge.DataBaseController().ConnectionString().contains(QStringLiteral("nobody")));
    EXPECT_TRUE(bridge.TryToConnect());

    // the other way round: right credentials in the string, a wrong password given
    const QString withRightCredentials =
        Db.ConnectionString + QStringLiteral(";User ID=%1;Password=%2").arg(Db.UserID, Db.Password);
    TADOBridge refused(withRightCredentials, Db.UserID, QStringLiteral("wrong"), nullptr);
    EXPECT_FALSE(refused.TryToConnect());
    const QStringList messages = Events.TakeMessages();
    ASSERT_EQ(CountStartingWith(messages, QStringLiteral("Es kann keine Verbindung zur Datenbank "
                                                         "aufgebaut werden. Meldung: ")),
              1);
    EXPECT_TRUE(messages.join(u'\n').contains(QStringLiteral("password authentication failed")));
}

TEST_F(PostgresOnlyTest, InsertTableNameKeepsItsCaseUpdateTableNameFolds)
{
    Sql->Exec(QStringLiteral("CREATE TABLE \"Mixed\" (a INTEGER)"));
    Sql->Exec(QStringLiteral("CREATE TABLE upd (k INTEGER, a INTEGER)"));
    Sql->Exec(QStringLiteral("INSERT INTO upd (k, a) VALUES (1, 0)"));
    TADOBridge bridge(Db.ConnectionString, Db.UserID, Db.Password, nullptr);
    TADOTableTransmitter *insert = bridge.AddTableTransmitter();
    insert->TableName = QStringLiteral("Mixed");
    insert->SetTableType(tt_TableInsert);
    auto *a = insert->AddField<TConstantADOTableField>();
    a->Name = QStringLiteral("A");
    a->Value = TVariant::FromString(QStringLiteral("5"));
    TADOTableTransmitter *update = bridge.AddTableTransmitter();
    update->TableName = QStringLiteral("UPD");
    update->SetTableType(tt_TableUpdate);
    auto *k = update->AddField<TKeyADOTableField>();
    k->Name = QStringLiteral("K");
    k->Value = TVariant::FromString(QStringLiteral("1"));
    auto *ua = update->AddField<TConstantADOTableField>();
    ua->Name = QStringLiteral("A");
    ua->Value = TVariant::FromString(QStringLiteral("7"));

    bridge.ValidateWithProgress();
    bridge.PrepareTransmission();
    bridge.Transmit();
    EXPECT_EQ(bridge.ErrorFlags(), 0);
    EXPECT_EQ(Sql->Rows(QStringLiteral("SELECT a FROM \"Mixed\"")), QStringList{"5"});
    EXPECT_EQ(Sql->Rows(QStringLiteral("SELECT a FROM upd")), QStringList{"7"});
}

TEST(PostgresServer, BridgeReconnectsAfterTheServerWasRestarted)
{
    TEventCapture events;
    TPrivateServer server;
    ASSERT_TRUE(server.Started);
    const TTestDatabase db = server.Connection();
    TSqlSession(db).Exec(QStringLiteral("CREATE TABLE t (a INTEGER)"));

    TADOBridge bridge(db.ConnectionString, db.UserID, db.Password, nullptr);
    std::uint32_t tick = 1000;
    bridge.TickSource = [&] { return tick; };
    TADOTableTransmitter *table = bridge.AddTableTransmitter();
    table->TableName = QStringLiteral("t");
    table->SetTableType(tt_TableInsert);
    auto *a = table->AddField<TConstantADOTableField>();
    a->Name = QStringLiteral("a");
    a->Value = TVariant::FromString(QStringLiteral("1"));

    // the runtime control's write step
    const auto write = [&] {
        try {
            if (!bridge.Connected) {
                if (!bridge.TryToConnect())
                    return;
                bridge.ValidateWithProgress();
                bridge.CheckAliases();
                bridge.PrepareTransmission();
            }
            bridge.Transmit();
        } catch (const Exception &) {
            // a transaction that cannot begin or commit goes to the caller; it carries on
        }
    };
    bridge.ValidateWithProgress();
    bridge.PrepareTransmission();
    write();
    ASSERT_TRUE(bridge.Connected);

    ASSERT_TRUE(server.Stop());
    events.Take();
    write();
    EXPECT_FALSE(bridge.Connected);
    write(); // within the interval: no attempt
    ASSERT_TRUE(server.Start());
    tick += 20000;
    write();
    EXPECT_TRUE(bridge.Connected);
    EXPECT_EQ(TSqlSession(db).Count(QStringLiteral("t")), 2);
    EXPECT_EQ(table->ErrorFlags, 0);
    const QStringList messages = events.TakeMessages();
    EXPECT_EQ(CountOf(messages, QStringLiteral("ADO: Die Verbindung zur Datenbank wurde "
                                               "aufgebaut.")),
              1)
        << messages.join(u'\n').toStdString();
    EXPECT_FALSE(messages.join(u'\n').contains(QStringLiteral("besteht bereits")))
        << messages.join(u'\n').toStdString();
}
