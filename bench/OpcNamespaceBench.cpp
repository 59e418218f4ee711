// Lookups in a fully browsed address space of 50,000 leaves from the simulation server
// (10 areas x 5 lines x 1,000 signals): by browse path, by item id (hits and misses), and the
// one-off costs of browsing everything and resolving every item id.
#include "opc/xOPCDAClientNamespace.h"
#include "opcsim/OPCSimulation.h"
#include "platform/com/Guid.h"

#include <benchmark/benchmark.h>

#include <stdexcept>

namespace {

constexpr int Areas = 10;
constexpr int Lines = 5;
constexpr int SignalsPerLine = 1000;

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

struct TSetup
{
    TSetup()
    {
        TSimulationOptions options;
        options.Clsid = CreateGUID();
        options.ProgID = QStringLiteral("Tidewell.OPCNamespaceBench.1");
        options.ManualClock = true;
        options.PlantText = PlantText();
        Control = RegisterSimulationServer(LocalHost(), options);
        ComPtr<IUnknown> object;
        if (CoCreateInstance(options.Clsid, CLSCTX_SERVER, IOPCServer::Iid, object) != S_OK)
            throw std::runtime_error("CoCreateInstance failed");
        object.As(Root.BrowseServerAddressSpace);
        object.As(Root.ItemProperties);
    }
    ~TSetup()
    {
        Root.Clear();
        Root.BrowseServerAddressSpace.Reset();
        Root.ItemProperties.Reset();
        Control->Unregister();
    }
    // Browses everything and resolves every item id (a miss visits every leaf).
    void Prepare()
    {
        Root.Browse(true);
        if (Root.FindNodeByItemID(QStringLiteral("no such item"), true))
            throw std::runtime_error("unexpected hit");
    }
    // Every 50th leaf, spread over the whole tree.
    void Samples(QStringList &paths, QStringList &ids)
    {
        for (int a = 1; a <= Areas; ++a)
            for (int l = 1; l <= Lines; ++l)
                for (int s = 1; s <= SignalsPerLine; s += 50) {
                    const QString name = QStringLiteral("S%1").arg(s, 4, 10, QLatin1Char('0'));
                    paths << QStringLiteral("Area%1\\Line%2\\%3").arg(a).arg(l).arg(name);
                    ids << QStringLiteral("Area%1.Line%2.%3").arg(a).arg(l).arg(name);
                }
    }

    std::shared_ptr<TSimulationControl> Control;
    TOPCDAClientNamespace Root;
};

TSetup &Shared()
{
    static TSetup setup;
    static const bool prepared = (setup.Prepare(), true);
    (void)prepared;
    return setup;
}

void BM_FindNodeByPath50k(benchmark::State &state)
{
    TSetup &setup = Shared();
    QStringList paths, ids;
    setup.Samples(paths, ids);
    qsizetype i = 0;
    for (auto _ : state) {
        TOPCDAClientNode *node = setup.Root.FindNodeByPath(paths[i]);
        if (!node)
            state.SkipWithError("path not found");
        benchmark::DoNotOptimize(node);
        i = (i + 1) % paths.size();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_FindNodeByItemID50k(benchmark::State &state)
{
    TSetup &setup = Shared();
    QStringList paths, ids;
    setup.Samples(paths, ids);
    qsizetype i = 0;
    for (auto _ : state) {
        TOPCDAClientNode *node = setup.Root.FindNodeByItemID(ids[i], true);
        if (!node)
            state.SkipWithError("item id not found");
        benchmark::DoNotOptimize(node);
        i = (i + 1) % ids.size();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_FindNodeByItemIDMiss50k(benchmark::State &state)
{
    TSetup &setup = Shared();
    const QString missing = QStringLiteral("Area1.Line1.Missing");
    for (auto _ : state)
        benchmark::DoNotOptimize(setup.Root.FindNodeByItemID(missing, true));
    state.SetItemsProcessed(state.iterations());
}

// One-off costs on a fresh tree: full browse, then resolving all 50,000 item ids.
void BM_BrowseAndResolve50k(benchmark::State &state)
{
    TSetup setup;
    for (auto _ : state) {
        setup.Root.Clear();
        setup.Root.Browse(true);
        if (state.range(0))
            benchmark::DoNotOptimize(setup.Root.FindNodeByItemID(QStringLiteral("none"), true));
    }
}

BENCHMARK(BM_FindNodeByPath50k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindNodeByItemID50k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindNodeByItemIDMiss50k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BrowseAndResolve50k)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
