// The main of the benchmarks that need Qt's event loop or the event logger: a QCoreApplication
// and a sandbox for the settings, so that no run touches the user's files.
#include "eventlog/xEventLog.h"
#include "support/Sandbox.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

int main(int argc, char **argv)
{
    QTemporaryDir sandbox;
    RedirectUserFolders(sandbox.path());
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    FreeEventLogger();
    return 0;
}
