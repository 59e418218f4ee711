// Cost of the client's data-change dispatch: one OnDataChange for a group of 10,000 items,
// called directly on the client's IOPCDataCallback with prepared arrays; every item's OnChange
// does a trivial thing. Items per second is the dispatch rate; its inverse the cost per item.
#include "eventlog/xEventLog.h"
#include "opc/xOPCDAClient.h"
#include "opcsim/OPCSimulation.h"
#include "platform/opcda/OpcServerList.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int ItemCount = 10000;

void BM_DataChangeDispatch(benchmark::State &state)
{
    EnsureLocalOpcServerList();
    TSimulationOptions options;
    options.PlantText = QStringLiteral("[A]\nS# const value=1 count=%1\n").arg(ItemCount);
    options.ManualClock = true;
    const auto sim = RegisterSimulationServer(LocalHost(), options);
    {
        TOPCDAClient client;
        client.ConnectWaitMs = 0;
        client.SetServer(QString(), QStringLiteral("Sim"), CLSID(), options.ProgID);
        DWORD revised = 0;
        TOPCDAClientGroup *group =
            client.AddGroup(QStringLiteral("Bench"), 1000, revised, false, 0.0f);
        std::uint64_t changes = 0;
        std::vector<OPCHANDLE> handles;
        group->BeginAddItems();
        for (int i = 1; i <= ItemCount; ++i) {
            const QString id = QStringLiteral("A.S%1").arg(i, QString::number(ItemCount).size(), 10,
                                                           QLatin1Char('0'));
            TOPCDAClientItem *item = group->AddItem(id, id, true);
            item->OnChange = [&changes](TOPCDAClientItem *) { ++changes; };
            handles.push_back(item->ClientHandle());
        }
        group->EndAddItems();
        std::vector<TVariant> values;
        for (int i = 0; i < ItemCount; ++i)
            values.push_back(TVariant::FromR8(i * 0.5));
        const std::vector<WORD> qualities(ItemCount, OPC_QUALITY_GOOD);
        const std::vector<FILETIME> stamps(ItemCount, CurrentFileTime());
        const std::vector<HRESULT> errors(ItemCount, S_OK);
        IOPCDataCallback *callback = &client;
        DWORD transaction = 0;
        for (auto _ : state)
            callback->OnDataChange(++transaction, group->ClientHandle(), S_OK, S_OK, ItemCount,
                                   handles, values, qualities, stamps, errors);
        if (changes != static_cast<std::uint64_t>(ItemCount) * state.iterations())
            state.SkipWithError("not every item was dispatched");
        state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * ItemCount);
    }
    sim->Unregister();
}
BENCHMARK(BM_DataChangeDispatch)->Unit(benchmark::kMicrosecond);

} // namespace
