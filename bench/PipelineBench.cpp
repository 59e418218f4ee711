// The whole pipeline: a data change of 10,000 items arriving through the OPC callback, the data
// cache, and the write cycle into SQLite that it triggers (ten insert tables of 1,000 columns in
// one transaction). Against it, the same rows written with plain ODBC calls in the same run; the
// counter ratio_to_raw_odbc is the pipeline's time per cycle divided by that baseline.
#include "RawOdbc.h"
#include "acquisition/xOPCClientBridge.h"
#include "cache/xDataCache.h"
#include "database/xADOBridge.h"
#include "document/IniFile.h"
#include "document/xTDWDocument.h"
#include "eventlog/xEventLog.h"
#include "opcsim/OPCSimulation.h"
#include "platform/ado/Ado.h"
#include "platform/opcda/OpcServerList.h"
#include "runtime/RuntimeControl.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <stdexcept>
#include <vector>

namespace {

constexpr int Items = 10000;
constexpr int Tables = 10;
constexpr int Columns = Items / Tables;

double g_RawOdbcMsPerCycle = 0;

QString CreateTable(int table)
{
    QStringList columns;
    for (int c = 1; c <= Columns; ++c)
        columns << QStringLiteral("c%1 DOUBLE PRECISION").arg(c);
    return QStringLiteral("CREATE TABLE t%1 (%2)").arg(table).arg(columns.join(u", "));
}

QString DocumentText(const QString &database)
{
    QString text = QStringLiteral("[RemoteOPCServer]\r\nID=Tidewell.OPCSimulation.1\r\n"
                                  "TransmitterCount=1\r\n[OPCTransmitter1]\r\nUpdateRate=1000\r\n");
    for (int i = 1; i <= Items; ++i)
        text += QStringLiteral("S%1=\tP.S%1\r\n").arg(i);
    text += QStringLiteral("[ADOConnection]\r\nConnectionString=Provider=SQLite;Data Source=%1\r\n"
                           "ForcedWriteInterval=600000\r\nTransmitterCount=%2\r\n")
                .arg(database)
                .arg(Tables);
    for (int t = 0; t < Tables; ++t) {
        text += QStringLiteral("[ADOTransmitter%1 Config]\r\nTable=t%2\r\nTableType=1\r\n"
                               "[ADOTransmitter%1 Fields]\r\n")
                    .arg(t + 1)
                    .arg(t);
        for (int c = 1; c <= Columns; ++c)
            text += QStringLiteral("c%1=DATA\tS%2\r\n").arg(c).arg(t * Columns + c);
    }
    return text;
}

void BM_RawOdbcCycle(benchmark::State &state)
{
    QTemporaryDir dir;
    TRawOdbcConnection connection(
        QStringLiteral("Driver=SQLite3;Database=%1/raw.db").arg(dir.path()));
    const SQLHDBC dbc = connection.Dbc();
    std::vector<SQLHSTMT> inserts(Tables, SQL_NULL_HSTMT);
    std::vector<double> values(Items, 0.0);
    std::vector<SQLLEN> lengths(Items, 0);
    for (int t = 0; t < Tables; ++t) {
        SQLHSTMT create = SQL_NULL_HSTMT;
        Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &create), "stmt");
        Ok(SQLExecDirectW(create, const_cast<SQLWCHAR *>(ado_detail::Wide(CreateTable(t))),
                          SQL_NTS),
           "create");
        SQLFreeHandle(SQL_HANDLE_STMT, create);
        QStringList names, marks;
        for (int c = 1; c <= Columns; ++c) {
            names << QStringLiteral("c%1").arg(c);
            marks << QStringLiteral("?");
        }
        const QString insert = QStringLiteral("INSERT INTO \"t%1\" (%2) VALUES (%3)")
                                   .arg(t)
                                   .arg(names.join(u", "), marks.join(u", "));
        Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &inserts[t]), "stmt");
        Ok(SQLPrepareW(inserts[t], const_cast<SQLWCHAR *>(ado_detail::Wide(insert)), SQL_NTS),
           "prepare");
        for (int c = 0; c < Columns; ++c)
            Ok(SQLBindParameter(inserts[t], SQLUSMALLINT(c + 1), SQL_PARAM_INPUT, SQL_C_DOUBLE,
                                SQL_DOUBLE, 15, 0, &values[t * Columns + c], 0,
                                &lengths[t * Columns + c]),
               "bind");
    }
    double totalMs = 0;
    int cycle = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        ++cycle;
        for (int i = 0; i < Items; ++i)
            values[i] = cycle + i * 0.001;
        connection.SetAutoCommit(false);
        for (SQLHSTMT insert : inserts)
            Ok(SQLExecute(insert), "execute");
        connection.Commit();
        connection.SetAutoCommit(true);
        totalMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
    }
    g_RawOdbcMsPerCycle = totalMs / double(state.iterations());
    state.counters["ms_per_cycle"] = g_RawOdbcMsPerCycle;
    for (SQLHSTMT insert : inserts)
        SQLFreeHandle(SQL_HANDLE_STMT, insert);
}
// Registered first, so the pipeline can compare itself with it.
BENCHMARK(BM_RawOdbcCycle)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PipelineCycle(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("pipeline.sqlite"));
    {
        TADOConnection sql;
        sql.Open(QStringLiteral("Provider=SQLite;Data Source=") + database, {}, {});
        for (int t = 0; t < Tables; ++t) {
            TADOCommand create;
            create.SetActiveConnection(&sql);
            create.SetCommandText(CreateTable(t));
            create.Execute();
        }
    }
    EnsureLocalOpcServerList();
    TSimulationOptions options;
    options.PlantText =
        QStringLiteral("[P]\nS# sine count=%1 low=0 high=100 period=7\n").arg(Items);
    options.ManualClock = true;
    auto sim = RegisterSimulationServer(LocalHost(), options);

    const QString path = dir.filePath(QStringLiteral("pipeline.tdw"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(EncodeDocumentText(DocumentText(database)));
    file.close();
    TDataCache cache;
    auto document = std::make_unique<TTDWDocument>();
    document->LoadFromFile(path, &cache);
    document->OPCBridge()->OPCDAClient().ConnectWaitMs = 0;
    TRuntimeControl control(&cache);
    control.HandleStartDocument(std::move(document));
    control.UpdateTimer().stop();
    QCoreApplication::processEvents();

    double totalMs = 0;
    for (auto _ : state) {
        control.LastWriteDuration = -1; // each cycle writes; the overload rule has its own tests
        const auto start = std::chrono::steady_clock::now();
        sim->AdvanceTime(1000);
        QCoreApplication::processEvents();
        totalMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
    }
    const double msPerCycle = totalMs / double(state.iterations());
    state.counters["ms_per_cycle"] = msPerCycle;
    if (g_RawOdbcMsPerCycle > 0)
        state.counters["ratio_to_raw_odbc"] = msPerCycle / g_RawOdbcMsPerCycle;

    TADOConnection sql;
    sql.Open(QStringLiteral("Provider=SQLite;Data Source=") + database, {}, {});
    TADORecordset rows;
    rows.Open(QStringLiteral("SELECT COUNT(*) FROM t0"), &sql);
    if (rows.Fields(0).ToInt64() < qint64(state.iterations()))
        state.SkipWithError("not every cycle wrote a row");
    rows.Close();
    control.Shutdown(false);
    sim->Unregister();
}
BENCHMARK(BM_PipelineCycle)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
