// The whole pipeline into PostgreSQL, with a private server that goes away and comes back.
#include "RuntimeTestSupport.h"

#include <QProcess>

using namespace rttest;

namespace {

class RuntimePostgresTest : public RuntimeTest
{
protected:
    void SetUp() override
    {
        RuntimeTest::SetUp();
        ASSERT_EQ(Server("start"), 0);
        QFile env(ServerDir.filePath("connection.env"));
        ASSERT_TRUE(env.open(QIODevice::ReadOnly | QIODevice::Text));
        QMap<QString, QString> values;
        for (const QByteArray &line : env.readAll().split('\n'))
            if (const qsizetype eq = line.indexOf('='); eq > 0)
                values[QString::fromUtf8(line.left(eq))] = QString::fromUtf8(line.mid(eq + 1));
        ConnectionString = QStringLiteral("Provider=PostgreSQL;Data Source=127.0.0.1:%1;"
                                          "Initial Catalog=%2")
                               .arg(values["TIDEWELL_PG_PORT"], values["TIDEWELL_PG_DATABASE"]);
        User = values["TIDEWELL_PG_USER"];
        Password = values["TIDEWELL_PG_PASSWORD"];
        CreateSchema(ConnectionString, User, Password);
    }

    void TearDown() override
    {
        RuntimeTest::TearDown();
        Server("stop");
    }

    int Server(const QString &action)
    {
        QProcess script;
        script.start("bash",
                     {TIDEWELL_SOURCE_DIR "/scripts/pg-test-server.sh", action, ServerDir.path()});
        script.waitForFinished(120000);
        if (script.exitCode() != 0)
            ADD_FAILURE() << script.readAllStandardError().toStdString();
        return script.exitCode();
    }

    QTemporaryDir ServerDir;
    QString ConnectionString, User, Password;
};

} // namespace

TEST_F(RuntimePostgresTest, WritesAllTablesAndReconnectsAfterTheServerCameBack)
{
    Start(DocumentText(ConnectionString + ";User ID=" + User + ";Password=" + Password));
    Step();
    const int rows = Rows("werte");
    ASSERT_GT(rows, 0);
    Step();
    EXPECT_EQ(Rows("werte"), rows + 1);
    EXPECT_EQ(Rows("wertestatus"), rows + 1);
    EXPECT_EQ(Rows("aktuell"), 1);
    EXPECT_EQ(Query("SELECT bad FROM wertestatus ORDER BY zeit DESC LIMIT 1").ToString(),
              "Schlecht");
    int hint = 0;
    EXPECT_DOUBLE_EQ(Query("SELECT temp FROM aktuell").ToDouble(),
                     Cache.GetValue("Temp1", hint).Value.ToDouble());
    Messages();

    Sql.Close();
    ASSERT_EQ(Server("halt"), 0);
    for (int i = 0; i < 3; ++i)
        Step(); // the first write fails and closes the connection; then attempts fail
    EXPECT_FALSE(Db().Connected);
    const auto messages = Messages();
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [](const QString &m) {
                                return m.startsWith("Es kann keine Verbindung zur Datenbank "
                                                    "aufgebaut werden. Meldung: ");
                            }),
              1);

    ASSERT_EQ(Server("resume"), 0);
    Step();
    EXPECT_TRUE(Db().Connected);
    Step();
    Sql.Open(ConnectionString, User, Password);
    EXPECT_GE(Rows("werte"), rows + 3);
    EXPECT_EQ(Rows("wertestatus"), Rows("werte"));
}
