// Item resolution of 10,000 configured items against a simulated address space of 50,000 leaves
// (10 areas x 5 lines x 1,000 signals): connect, browse, the three phases and the cache refresh,
// each iteration on a fresh bridge that has browsed nothing yet.
#include "acquisition/xOPCClientBridge.h"
#include "opcsim/OPCSimulation.h"
#include "platform/com/Guid.h"
#include "platform/opcda/OpcServerList.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <stdexcept>

namespace {

constexpr int Areas = 10;
constexpr int Lines = 5;
constexpr int SignalsPerLine = 1000;
constexpr int ConfiguredItems = 10000;
const QString ProgID = QStringLiteral("Tidewell.AcquisitionBench.1");

QString PlantText()
{
    QString text;
    for (int a = 1; a <= Areas; ++a)
        for (int l = 1; l <= Lines; ++l)
            text += QStringLiteral("[Area%1.Line%2]\nS# const count=%3\n")
                        .arg(a)
                        .arg(l)
                        .arg(SignalsPerLine);
    return text;
}

enum TConfiguration { ByPath, ByItemID, ByNameAndItemID };

struct TSignal
{
    QString Path;
    QString ItemID;
    QString Name;
};

// Every fifth signal of the plant, spread over all branches.
TSignal Configured(int index)
{
    const int n = index * 5;
    const int perArea = Lines * SignalsPerLine;
    const int area = n / perArea + 1;
    const int line = n % perArea / SignalsPerLine + 1;
    const QString name = QStringLiteral("S%1").arg(n % SignalsPerLine + 1, 4, 10, QLatin1Char('0'));
    return {QStringLiteral("Area%1\\Line%2\\%3").arg(area).arg(line).arg(name),
            QStringLiteral("Area%1.Line%2.%3").arg(area).arg(line).arg(name), name};
}

void BM_ResolveItems(benchmark::State &state)
{
    const auto configuration = static_cast<TConfiguration>(state.range(0));
    EnsureLocalOpcServerList();
    TSimulationOptions options;
    options.Clsid = CreateGUID();
    options.ProgID = ProgID;
    options.ManualClock = true;
    options.PlantText = PlantText();
    const auto control = RegisterSimulationServer(LocalHost(), options);
    TRemoteServerInfo info;
    info.ID = ProgID;
    info.Name = QStringLiteral("Bench");

    for (auto _ : state) {
        state.PauseTiming();
        TDataCache cache;
        auto bridge = std::make_unique<TOPCClientBridge>(info, &cache);
        bridge->OPCDAClient().ConnectWaitMs = 0;
        TOPCClientTransmitter *t =
            TOPCClientTransmitter::Create(bridge.get(), QStringLiteral("CallbackGroup1"));
        for (int i = 0; i < ConfiguredItems; ++i) {
            const TSignal s = Configured(i);
            switch (configuration) {
            case ByPath: TOPCBridgedItem::Create(t, s.Path, QString(), s.ItemID); break;
            case ByItemID: TOPCBridgedItem::Create(t, QString(), s.ItemID, s.ItemID); break;
            case ByNameAndItemID: TOPCBridgedItem::Create(t, s.Name, s.ItemID, s.ItemID); break;
            }
        }
        bridge->CreateCacheEntries();
        state.ResumeTiming();

        bridge->ConnectAndResolveItems();

        state.PauseTiming();
        if (bridge->ErrorFlags() != 0)
            throw std::runtime_error("resolution marked items");
        bridge.reset();
        state.ResumeTiming();
    }
    control->Unregister();
}
BENCHMARK(BM_ResolveItems)
    ->ArgName("configuration")
    ->Arg(ByPath)
    ->Arg(ByItemID)
    ->Arg(ByNameAndItemID)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

} // namespace
