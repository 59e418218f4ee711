// Cost of one write cycle of the database bridge: 10 insert tables of 1,000 cache-fed columns
// each (10,000 items in all) into a SQLite file, in one transaction. Iteration time is the time
// per cycle; items per second the column throughput.
#include "cache/xDataCache.h"
#include "database/xADOBridge.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int TableCount = 10;
constexpr int ColumnsPerTable = 1000; // below SQLite's limit of 2,000 columns per table

void BM_WriteCycle(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString connectionString =
        QStringLiteral("Provider=SQLite;Data Source=%1").arg(dir.filePath(QStringLiteral("b.db")));
    {
        TADOConnection connection;
        connection.Open(connectionString, QString(), QString());
        for (int t = 0; t < TableCount; ++t) {
            QStringList columns;
            for (int c = 0; c < ColumnsPerTable; ++c)
                columns << QStringLiteral("c%1 DOUBLE PRECISION").arg(c);
            TADOCommand create;
            create.SetActiveConnection(&connection);
            create.SetCommandText(
                QStringLiteral("CREATE TABLE t%1 (%2)").arg(t).arg(columns.join(u',')));
            create.Execute();
        }
    }

    TDataCache cache;
    TADOBridge bridge(connectionString, QString(), QString(), &cache);
    for (int t = 0; t < TableCount; ++t) {
        TADOTableTransmitter *table = bridge.AddTableTransmitter();
        table->TableName = QStringLiteral("t%1").arg(t);
        table->SetTableType(tt_TableInsert);
        for (int c = 0; c < ColumnsPerTable; ++c) {
            const QString alias = QStringLiteral("Item%1.%2").arg(t).arg(c);
            int hint = 0;
            cache.Add(alias);
            cache.SetValue(alias, hint, TVariant::FromR8(c * 0.5), NowWithTimeZone(), 0xC0);
            auto *field = table->AddField<TLinkedADOTableField>();
            field->Name = QStringLiteral("c%1").arg(c);
            field->Alias = alias;
        }
    }
    bridge.ValidateWithProgress();
    bridge.CheckAliases();
    bridge.PrepareTransmission();
    if (bridge.ErrorFlags() != 0) {
        state.SkipWithError("the bridge is not ready");
        return;
    }

    for (auto _ : state)
        bridge.Transmit();
    if (bridge.ErrorFlags() != 0)
        state.SkipWithError("a write failed");
    state.SetItemsProcessed(state.iterations() * TableCount * ColumnsPerTable);
}
BENCHMARK(BM_WriteCycle)->Unit(benchmark::kMillisecond);

} // namespace
