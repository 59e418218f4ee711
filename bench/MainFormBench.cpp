// The current-values tree of the main window with many items: one refresh rebuilds every row's
// texts from the data cache and repaints the view.
#include "app/MainForm.h"

#include "cache/xDataCache.h"
#include "eventlog/xEventLog.h"
#include "settings/ZonedDateTime.h"
#include "support/Sandbox.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTreeView>
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
