// The current-values tree of the main window with many items: one refresh rebuilds every row's
// texts from the data cache and repaints the view.
#include "app/MainForm.h"

#include "acquisition/xOPCClientBridge.h"
#include "cache/xDataCache.h"
#include "document/IniFile.h"
#include "document/xTDWDocument.h"
#include "eventlog/xEventLog.h"
#include "opcsim/OPCSimulation.h"
#include "platform/ado/Ado.h"
#include "platform/opcda/OpcServerList.h"
#include "runtime/RuntimeControl.h"
#include "settings/ZonedDateTime.h"
#include "support/Sandbox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <benchmark/benchmark.h>

namespace {

void FillCache(TDataCache &cache, int items)
{
    for (int i = 0; i < items; ++i) {
        TDataCacheItem *item = cache.Add(QStringLiteral("Linie%1.Signal%2").arg(i / 100).arg(i));
        item->WriteAttribute(QStringLiteral("OPCState"), QStringLiteral("OK"));
        item->WriteAttribute(QStringLiteral("Description"), QStringLiteral("Messstelle %1").arg(i));
        item->WriteAttribute(QStringLiteral("ValueUnit"), QStringLiteral("°C"));
        item->WriteAttribute(QStringLiteral("ValueTables"), QStringLiteral("Messwerte"));
        item->WriteAttribute(QStringLiteral("Messwerte.StatusTable"),
                             QStringLiteral("MesswerteStatus"));
        item->WriteAttribute(QStringLiteral("Messwerte.TargetTableFields"),
                             QStringLiteral("wert%1").arg(i));
        item->WriteAttribute(QStringLiteral("Messwerte.wert%1.DBState").arg(i),
                             QStringLiteral("OK"));
    }
}

void BM_CurrentValuesRefresh(benchmark::State &state)
{
    const int items = int(state.range(0));
    TDataCache cache;
    FillCache(cache, items);
    TMainForm form(&cache);
    form.resize(1000, 720);
    form.show();
    QApplication::processEvents();
    double value = 0;
    for (auto _ : state) {
        // New values every round, as after a data change.
        state.PauseTiming();
        const TZonedDateTime now = NowWithTimeZone();
        for (int i = 0; i < items; ++i)
            cache.Items(i)->SetValue(TVariant::FromR8(value + i * 0.25), 0xC0, now);
        value += 1;
        state.ResumeTiming();
        form.RefreshCurrentValuesNow();
        form.DataCacheTable()->viewport()->repaint();
    }
    if (form.CurrentValues().rowCount() != items)
        state.SkipWithError("wrong row count");
    state.SetItemsProcessed(state.iterations() * items);
}
BENCHMARK(BM_CurrentValuesRefresh)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The row texts alone, without the view, when no value changed since the last refresh.
void BM_CurrentValueRowsUnchanged(benchmark::State &state)
{
    TDataCache cache;
    FillCache(cache, int(state.range(0)));
    std::vector<TCurrentValueRow> rows;
    for (auto _ : state)
        benchmark::DoNotOptimize(FillCurrentValueRows(cache, rows));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CurrentValueRowsUnchanged)->Arg(10000)->Unit(benchmark::kMillisecond);

// The window while the simulation server delivers changes of 1,000 items every 100 ms and each
// change is written into SQLite: how late a 10 ms timer of the event loop fires is what a person
// feels as the window's responsiveness.
void BM_ResponsivenessUnderDataChanges(benchmark::State &state)
{
    constexpr int Items = 1000;
    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("werte.sqlite"));
    {
        QStringList columns;
        for (int i = 1; i <= Items; ++i)
            columns << QStringLiteral("w%1 DOUBLE PRECISION").arg(i);
        TADOConnection sql;
        sql.Open(QStringLiteral("Provider=SQLite;Data Source=") + database, {}, {});
        TADOCommand create;
        create.SetActiveConnection(&sql);
        create.SetCommandText(QStringLiteral("CREATE TABLE werte (%1)").arg(columns.join(u", ")));
        create.Execute();
    }
    EnsureLocalOpcServerList();
    TSimulationOptions options;
    options.PlantText =
        QStringLiteral("[P]\nS# sine count=%1 low=0 high=100 period=5\n").arg(Items);
    options.MinUpdateRate = 100;
    auto sim = RegisterSimulationServer(LocalHost(), options);

    QString text = QStringLiteral("[RemoteOPCServer]\r\nID=Tidewell.OPCSimulation.1\r\n"
                                  "TransmitterCount=1\r\n[OPCTransmitter1]\r\nUpdateRate=100\r\n");
    for (int i = 1; i <= Items; ++i)
        text += QStringLiteral("S%1=\tP.S%1\r\n").arg(i);
    text += QStringLiteral("[ADOConnection]\r\nConnectionString=Provider=SQLite;Data Source=%1\r\n"
                           "TransmitterCount=1\r\n[ADOTransmitter1 Config]\r\nTable=werte\r\n"
                           "TableType=1\r\n[ADOTransmitter1 Fields]\r\n")
                .arg(database);
    for (int i = 1; i <= Items; ++i)
        text += QStringLiteral("w%1=DATA\tS%1\r\n").arg(i);
    const QString path = dir.filePath(QStringLiteral("werte.tdw"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(EncodeDocumentText(text));
    file.close();

    TDataCache cache;
    auto document = std::make_unique<TTDWDocument>();
    document->LoadFromFile(path, &cache);
    document->OPCBridge()->OPCDAClient().ConnectWaitMs = 0;
    TMainForm form(&cache);
    form.resize(1000, 720);
    form.show();
    form.Control().HandleStartDocument(std::move(document));

    double worst = 0, total = 0;
    qint64 ticks = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(10);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const double late = std::max(0.0, double(clock.nsecsElapsed()) / 1e6 - 10.0);
            worst = std::max(worst, late);
            total += late;
            ++ticks;
            clock.restart();
        });
        QEventLoop loop;
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        clock.start();
        probe.start();
        loop.exec();
    }
    state.counters["worst_latency_ms"] = worst;
    state.counters["mean_latency_ms"] = ticks ? total / double(ticks) : 0;
    form.Control().Shutdown(false);
    TADOConnection sql;
    sql.Open(QStringLiteral("Provider=SQLite;Data Source=") + database, {}, {});
    TADORecordset rows;
    rows.Open(QStringLiteral("SELECT COUNT(*) FROM werte"), &sql);
    state.counters["rows_written"] = double(rows.Fields(0).ToInt64());
    if (rows.Fields(0).ToInt64() == 0)
        state.SkipWithError("nothing was written");
    sim->Unregister();
}
BENCHMARK(BM_ResponsivenessUnderDataChanges)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window logs and reads settings: keep them away from the user's files.
    QTemporaryDir sandbox;
    RedirectUserFolders(sandbox.path());
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    FreeEventLogger();
    return 0;
}
