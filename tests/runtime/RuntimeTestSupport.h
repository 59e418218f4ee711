// A runtime control on the simulation server and a real database, driven step by step: plant
// time moves only when a test says so, and the update timer ticks only when a test calls it.
#pragma once

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
#include "runtime/RuntimeControl.h"
#include "support/SimulationSession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace rttest {

inline const char *const Plant = R"(
[Line]
Temp   sine  low=0 high=100 period=10 unit=°C
Bad    sine  low=0 high=10 period=10 quality=bad
Level  ramp  low=0 high=100 period=60
)";

// A document on the simulation server: one group of three items, an insert table with a status
// table and quality texts, and an update table with a key column.
inline QString DocumentText(const QString &connectionString, int transmitters = 1)
{
    QString text = QStringLiteral("[VersionInfo]\r\nFileVersion=13\r\n"
                                  "[RemoteOPCServer]\r\nID=Tidewell.OPCSimulation.1\r\n"
                                  "TransmitterCount=%1\r\n")
                       .arg(transmitters);
    for (int n = 1; n <= transmitters; ++n)
        text += QStringLiteral("[OPCTransmitter%1]\r\nUpdateRate=1000\r\n"
                               "Temp%1=\tLine.Temp\r\nBad%1=\tLine.Bad\r\nLevel%1=\tLine.Level\r\n")
                    .arg(n);
    text += QStringLiteral(
                "[ADOConnection]\r\nConnectionString=%1\r\nForcedWriteInterval=60000\r\n"
                "TransmitterCount=2\r\n"
                "[ADOTransmitter1 Config]\r\nTable=werte\r\nStatusTable=wertestatus\r\n"
                "TableType=1\r\n"
                "[ADOTransmitter1 QualityTranslation]\r\nRule1=$C0\t$C0\tGut\r\n"
                "Rule2=$C0\t$40\tUnsicher\r\nRule3=$C0\t$00\tSchlecht\r\n"
                "[ADOTransmitter1 Fields]\r\nzeit=XTIME\tYYYY-MM-DD hh:mm:ss\r\nlinie=CONST\tL1\r\n"
                "temp=DATA\tTemp1\r\nbad=DATA\tBad1\t-1\r\n"
                "[ADOTransmitter2 Config]\r\nTable=aktuell\r\nTableType=0\r\n"
                "[ADOTransmitter2 Fields]\r\nid=KEY\t1\r\ntemp=DATA\tTemp1\r\n"
                "level=DATA\tLevel1\r\n")
                .arg(connectionString);
    return text;
}

inline const QStringList Schema = {
    "CREATE TABLE werte (zeit VARCHAR(30), linie VARCHAR(10), temp DOUBLE PRECISION, "
    "bad DOUBLE PRECISION)",
    "CREATE TABLE wertestatus (zeit VARCHAR(30), linie VARCHAR(10), temp VARCHAR(20), "
    "bad VARCHAR(20))",
    "CREATE TABLE aktuell (id INTEGER, temp DOUBLE PRECISION, level DOUBLE PRECISION)",
    "INSERT INTO aktuell (id) VALUES (1)",
};

// Counts what the runtime control shows and lets a test act from inside a write.
class TCountingView : public TRuntimeView
{
public:
    void RefreshDisplay() override
    {
        ++Refreshes;
        if (DuringRefresh)
            DuringRefresh();
    }
    void RefreshCurrentValues() override { ++DataChanges; }
    TDialogAnswer Ask(const QString &text) override
    {
        Questions.push_back(text);
        return Answer;
    }
    std::optional<int> EditTimeInterval(const QString &header, int value) override
    {
        Questions.push_back(header + QLatin1Char(' ') + QString::number(value));
        return IntervalAnswer;
    }

    int Refreshes = 0;
    int DataChanges = 0;
    std::function<void()> DuringRefresh;
    std::vector<QString> Questions;
    TDialogAnswer Answer = TDialogAnswer::Cancel;
    std::optional<int> IntervalAnswer;
};

class RuntimeTest : public ::testing::Test
{
protected:
    void SetUp() override { Sim = StartManualSimulation(QString::fromUtf8(Plant)); }

    void TearDown() override
    {
        Control.reset();
        Sql.Close();
        StopSimulation(*Sim);
    }

    void CreateSchema(const QString &connectionString, const QString &user = QString(),
                      const QString &password = QString())
    {
        Sql.Open(connectionString, user, password);
        for (const QString &statement : Schema)
            Execute(statement);
    }

    void Execute(const QString &sql)
    {
        TADOCommand command;
        command.SetActiveConnection(&Sql);
        command.SetCommandText(sql);
        command.Execute();
    }

    TVariant Query(const QString &sql)
    {
        TADORecordset recordset;
        recordset.Open(sql, &Sql);
        return recordset.Eof() ? TVariant::Null() : recordset.Fields(0);
    }

    int Rows(const QString &table)
    {
        return int(Query(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)).ToInt64());
    }

    // Loads the document text and starts it as the start-up sequence hands it over; the timer
    // stays off so that tests tick it themselves.
    void Start(const QString &text)
    {
        const QString path = Dir.filePath(QStringLiteral("test.tdw"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(EncodeDocumentText(text));
        file.close();
        auto document = std::make_unique<TTDWDocument>();
        document->LoadFromFile(path, &Cache);
        Prepare(*document);
        Control = std::make_unique<TRuntimeControl>(&Cache, &View);
        Control->HandleStartDocument(std::move(document));
        Control->UpdateTimer().stop();
        QCoreApplication::processEvents();
        SettleOverloadRule();
    }

    static void Prepare(TTDWDocument &document)
    {
        if (TOPCClientBridge *opc = document.OPCBridge()) {
            opc->OPCDAClient().ConnectWaitMs = 0;
            opc->OPCDAClient().ReconnectDelay = 0;
        }
        if (TADOBridge *db = document.DataBaseBridge())
            db->ReconnectInterval = 0;
    }

    TOPCClientBridge &Opc() const { return *Control->Document().OPCBridge(); }
    TADOBridge &Db() const { return *Control->Document().DataBaseBridge(); }

    // Plant time moves by one update period; the callbacks are delivered and handled.
    void Step(qint64 ms = 1000)
    {
        Sim->AdvanceTime(ms);
        QCoreApplication::processEvents();
        SettleOverloadRule();
    }

    // Waits in real time as long as the last write took, so that the overload rule does not skip
    // the next one; the rule itself has its own tests.
    void SettleOverloadRule()
    {
        if (Control && Control->LastWriteDuration > 0)
            QThread::msleep(static_cast<unsigned long>(std::ceil(Control->LastWriteDuration)) + 1);
    }

    std::vector<QString> Messages()
    {
        std::vector<QString> messages;
        for (const auto &entry : EventLogger().TakeEntries())
            messages.push_back(entry->Message);
        return messages;
    }

    static int Count(const std::vector<QString> &messages, const QString &text)
    {
        return int(std::count(messages.begin(), messages.end(), text));
    }

    std::shared_ptr<TSimulationControl> Sim;
    TDataCache Cache;
    TCountingView View;
    TADOConnection Sql;
    QTemporaryDir Dir;
    std::unique_ptr<TRuntimeControl> Control;
};

} // namespace rttest
