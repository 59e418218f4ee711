// Cost of the simulation server's update cycle for one group of 50,000 items at 100 ms: sample
// the plant, detect changes, build one OnDataChange and deliver it to a sink that only counts.
// Items per second is the rate of delivered changes; its inverse is the cost per change.
#include "opcsim/OPCSimulation.h"

#include <benchmark/benchmark.h>

#include <stdexcept>

namespace {

class TCountingSink : public TComObject<IOPCDataCallback>
{
public:
    HRESULT OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD count,
                         std::span<const OPCHANDLE> clientItems, std::span<const TVariant> values,
                         std::span<const WORD>, std::span<const FILETIME>,
                         std::span<const HRESULT>) override
    {
        Changes += count;
        // Touch what a client would copy, so nothing is optimised away.
        if (count > 0)
            Checksum += clientItems.back() + values.back().Type();
        return S_OK;
    }
    HRESULT OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, std::span<const OPCHANDLE>,
                           std::span<const TVariant>, std::span<const WORD>,
                           std::span<const FILETIME>, std::span<const HRESULT>) override
    {
        return S_OK;
    }
    HRESULT OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, std::span<const OPCHANDLE>,
                            std::span<const HRESULT>) override
    {
        return S_OK;
    }
    HRESULT OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

    std::uint64_t Changes = 0;
    std::uint64_t Checksum = 0;
};

constexpr int ItemCount = 50000;
constexpr DWORD UpdateRate = 100;

// One registered plant with one active group holding every signal, its first callback done.
struct TSetup
{
    TSetup(int changing, VARTYPE requested)
    {
        TSimulationOptions options;
        options.Clsid = CreateGUID();
        options.ProgID = QStringLiteral("Tidewell.OPCSimulationBench.1");
        options.ManualClock = true;
        // Sines change in every cycle, constants never.
        options.PlantText = QStringLiteral("[Bulk]\n");
        if (changing > 0)
            options.PlantText += QStringLiteral("S# sine count=%1 period=10\n").arg(changing);
        if (changing < ItemCount)
            options.PlantText +=
                QStringLiteral("C# const count=%1 value=5\n").arg(ItemCount - changing);
        Control = RegisterSimulationServer(LocalHost(), options);

        ComPtr<IUnknown> object;
        CoCreateInstance(options.Clsid, CLSCTX_SERVER, IOPCServer::Iid, object);
        Server = object.As<IOPCServer>();
        OPCHANDLE handle = 0;
        DWORD revised = 0;
        Server->AddGroup(QString(), 1, UpdateRate, 1, nullptr, nullptr, 0, handle, revised,
                         IOPCItemMgt::Iid, Group);
        ComPtr<IConnectionPoint> point;
        Group.As<IConnectionPointContainer>()->FindConnectionPoint(IOPCDataCallback::Iid, point);
        DWORD cookie = 0;
        point->Advise(Sink.Get(), cookie);

        // The plant names them with as many digits as their count has.
        const auto id = [](QChar prefix, int n, int count) {
            const int width = static_cast<int>(QString::number(count).size());
            return QStringLiteral("Bulk.%1%2").arg(prefix).arg(n, width, 10, QLatin1Char('0'));
        };
        std::vector<OPCITEMDEF> defs(ItemCount);
        for (int i = 0; i < ItemCount; ++i) {
            defs[i].szItemID = i < changing ? id(u'S', i + 1, changing)
                                            : id(u'C', i - changing + 1, ItemCount - changing);
            defs[i].hClient = static_cast<OPCHANDLE>(i);
            defs[i].vtRequestedDataType = requested;
        }
        std::vector<OPCITEMRESULT> results;
        std::vector<HRESULT> errors;
        if (Group.As<IOPCItemMgt>()->AddItems(defs, results, errors) != S_OK)
            throw std::runtime_error("AddItems failed");
        Control->RunDue(); // the first callback carries every item
        Sink->Changes = 0;
    }
    ~TSetup()
    {
        Group.Reset();
        Server.Reset();
        Control->Unregister();
    }

    std::shared_ptr<TSimulationControl> Control;
    ComPtr<IOPCServer> Server;
    ComPtr<IUnknown> Group;
    ComPtr<TCountingSink> Sink = MakeCom<TCountingSink>();
};

void RunCycles(benchmark::State &state, TSetup &setup)
{
    for (auto _ : state)
        setup.Control->AdvanceTime(UpdateRate); // exactly one update cycle
    state.SetItemsProcessed(static_cast<std::int64_t>(setup.Sink->Changes));
    state.counters["changes/cycle"] =
        benchmark::Counter(static_cast<double>(setup.Sink->Changes) / state.iterations());
    benchmark::DoNotOptimize(setup.Sink->Checksum);
}

// Every item changes in every cycle, delivered in its canonical type (VT_R8).
void BM_Cycle50kAllChange(benchmark::State &state)
{
    TSetup setup(ItemCount, VT_EMPTY);
    RunCycles(state, setup);
}

// One item in ten changes: the cost of sampling and comparing the quiet ones shows.
void BM_Cycle50kTenthChanges(benchmark::State &state)
{
    TSetup setup(ItemCount / 10, VT_EMPTY);
    RunCycles(state, setup);
}

// Nothing changes: sampling and change detection alone, no callback.
void BM_Cycle50kNoChange(benchmark::State &state)
{
    TSetup setup(0, VT_EMPTY);
    for (auto _ : state)
        setup.Control->AdvanceTime(UpdateRate);
    state.SetItemsProcessed(state.iterations() * ItemCount); // items sampled
}

// Every item changes and the client asked for text: one string per change.
void BM_Cycle50kAllChangeAsText(benchmark::State &state)
{
    TSetup setup(ItemCount, VT_BSTR);
    RunCycles(state, setup);
}

BENCHMARK(BM_Cycle50kAllChange)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Cycle50kTenthChanges)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Cycle50kNoChange)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Cycle50kAllChangeAsText)->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace

BENCHMARK_MAIN();
