// Cost of the data cache's hot paths: every data change writes one entry and every write cycle
// reads one entry per cache-fed column, each through a caller-held position hint.
#include "cache/xDataCache.h"

#include <benchmark/benchmark.h>

namespace {

struct Filled
{
    explicit Filled(int count)
    {
        for (int i = 0; i < count; ++i)
            cache.Add(QStringLiteral("Anlage1.Kessel%1.Temperatur").arg(i));
        // A miss scans from the start; the middle entry is the average case.
        target = cache.Items(count / 2)->ID();
        hint = count / 2;
    }

    TDataCache cache;
    QString target;
    int hint;
};

const TZonedDateTime Stamp{46000.5, -4};

void BM_FindItemWithHint(benchmark::State &state)
{
    Filled f(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(f.cache.FindItem(f.target, f.hint));
}

void BM_FindItemMiss(benchmark::State &state)
{
    Filled f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        int hint = 0;
        benchmark::DoNotOptimize(f.cache.FindItem(f.target, hint));
    }
}

void BM_SetValueWithHint(benchmark::State &state)
{
    Filled f(static_cast<int>(state.range(0)));
    const TVariant value = TVariant::FromR8(87.25);
    for (auto _ : state)
        f.cache.SetValue(f.target, f.hint, value, Stamp, 0xC0);
}

void BM_SetValueMiss(benchmark::State &state)
{
    Filled f(static_cast<int>(state.range(0)));
    const TVariant value = TVariant::FromR8(87.25);
    for (auto _ : state) {
        int hint = 0;
        f.cache.SetValue(f.target, hint, value, Stamp, 0xC0);
    }
}

// As an OPC data change delivers it: the UTC file time is converted on every call.
void BM_SetValueFileTimeWithHint(benchmark::State &state)
{
    Filled f(static_cast<int>(state.range(0)));
    const TVariant value = TVariant::FromR8(87.25);
    const FILETIME stamp = CurrentFileTime();
    for (auto _ : state)
        f.cache.SetValue(f.target, f.hint, value, stamp, 0xC0);
}

void BM_GetValueWithHint(benchmark::State &state)
{
    Filled f(static_cast<int>(state.range(0)));
    f.cache.SetValue(f.target, f.hint, TVariant::FromString(QStringLiteral("Störung")), Stamp,
                     0xC0);
    for (auto _ : state)
        benchmark::DoNotOptimize(f.cache.GetValue(f.target, f.hint));
}

constexpr double MinTime = 0.1; // seconds per benchmark: run by hand, kept short

BENCHMARK(BM_FindItemWithHint)->Arg(1000)->Arg(50000)->MinTime(MinTime);
BENCHMARK(BM_FindItemMiss)->Arg(1000)->Arg(50000)->MinTime(MinTime);
BENCHMARK(BM_SetValueWithHint)->Arg(1000)->Arg(50000)->MinTime(MinTime);
BENCHMARK(BM_SetValueMiss)->Arg(1000)->Arg(50000)->MinTime(MinTime);
BENCHMARK(BM_SetValueFileTimeWithHint)->Arg(1000)->MinTime(MinTime);
BENCHMARK(BM_GetValueWithHint)->Arg(1000)->Arg(50000)->MinTime(MinTime);

} // namespace

BENCHMARK_MAIN();
