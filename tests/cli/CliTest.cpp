// tidewell-cli as a person runs it: a separate process, its exit codes, its output and SIGTERM.
#include "platform/ado/Ado.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {

const QString Cli = QStringLiteral(TIDEWELL_CLI_PATH);
const QString Examples = QStringLiteral(TIDEWELL_SOURCE_DIR "/examples");

class CliTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::copy(Examples + "/demo.tdw", Dir.filePath("demo.tdw")));
        Process.setWorkingDirectory(Dir.path());
    }

    // Runs to the end; the exit code.
    int Run(const QStringList &arguments)
    {
        Process.start(Cli, arguments);
        EXPECT_TRUE(Process.waitForFinished(60000));
        return Process.exitCode();
    }

    // The demo database, made from the example schema.
    void CreateDemoDatabase()
    {
        QFile schema(Examples + "/demo-schema.sql");
        ASSERT_TRUE(schema.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(schema.readAll());
        text.remove(QRegularExpression("--[^\n]*"));
        Sql.Open("Provider=SQLite;Data Source=" + Dir.filePath("demo.sqlite"), {}, {});
        for (const QString &statement : text.split(';', Qt::SkipEmptyParts)) {
            if (statement.trimmed().isEmpty())
                continue;
            TADOCommand command;
            command.SetActiveConnection(&Sql);
            command.SetCommandText(statement);
            command.Execute();
        }
    }

    qint64 Scalar(const QString &sql)
    {
        TADORecordset recordset;
        recordset.Open(sql, &Sql);
        return recordset.Fields(0).ToInt64();
    }

    QTemporaryDir Dir;
    QProcess Process;
    TADOConnection Sql;
};

} // namespace

TEST_F(CliTest, CheckReportsWhatTheDocumentConfigures)
{
    EXPECT_EQ(Run({"check", "demo.tdw"}), 0);
    const QString out = QString::fromUtf8(Process.readAllStandardOutput());
    EXPECT_TRUE(out.contains("OPC-Server: Tidewell.OPCSimulation.1")) << out.toStdString();
    EXPECT_TRUE(out.contains("Gruppe CallbackGroup1: 5 Items, 1000 ms")) << out.toStdString();
    EXPECT_TRUE(out.contains("Tabelle Messwerte (Insert), 7 Spalten, Statustabelle "
                             "MesswerteStatus, 3 Qualitätsregeln"))
        << out.toStdString();
}

TEST_F(CliTest, ExitCodesTellUsageAndLoadErrorsApart)
{
    EXPECT_EQ(Run({"check", "fehlt.tdw"}), 2);
    EXPECT_TRUE(
        QString::fromUtf8(Process.readAllStandardError())
            .contains("Fehler beim Laden des Dokuments \"fehlt.tdw\": Datei nicht gefunden."));
    EXPECT_EQ(Run({"run", "fehlt.tdw", "--duration", "1"}), 2);
    EXPECT_EQ(Run({}), 1);
    EXPECT_EQ(Run({"run", "demo.tdw", "--duration", "lang"}), 1);
    EXPECT_EQ(Run({"lauf", "demo.tdw"}), 1);
}

TEST_F(CliTest, RunWritesChangingRowsAndStopsInOrderOnSigterm)
{
    CreateDemoDatabase();
    Process.start(Cli, {"run", "demo.tdw", "--duration", "120"});
    ASSERT_TRUE(Process.waitForStarted());
    QDeadlineTimer deadline(60000);
    while (Scalar("SELECT COUNT(DISTINCT Temperatur) FROM Messwerte") < 3 && !deadline.hasExpired())
        QThread::msleep(200);
    ::kill(pid_t(Process.processId()), SIGTERM);
    ASSERT_TRUE(Process.waitForFinished(30000));
    EXPECT_EQ(Process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Process.exitCode(), 0);

    EXPECT_GE(Scalar("SELECT COUNT(DISTINCT Temperatur) FROM Messwerte"), 3);
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM MesswerteStatus"),
              Scalar("SELECT COUNT(*) FROM Messwerte"));
    EXPECT_EQ(Scalar("SELECT COUNT(*) FROM Aktuell WHERE Stand IS NOT NULL"), 1);
    const QString err = QString::fromUtf8(Process.readAllStandardError());
    EXPECT_TRUE(err.contains("Tidewell gestartet")) << err.toStdString();
    EXPECT_TRUE(err.contains("Tidewell Ereignisprotokollierung beendet")) << err.toStdString();
    EXPECT_FALSE(err.contains("Fehler")) << err.toStdString();
}
