// The in-process simulation server as the OPC tests above the client use it: registered on a
// manual clock, with the event logger showing every event of its default level.
#pragma once

#include "eventlog/xEventLog.h"
#include "opcsim/OPCSimulation.h"
#include "platform/net/Network.h"
#include "platform/opcda/OpcServerList.h"

#include <memory>

inline std::shared_ptr<TSimulationControl> StartManualSimulation(const QString &plantText)
{
    EnsureLocalOpcServerList();
    TSimulationOptions options;
    options.PlantText = plantText;
    options.ManualClock = true;
    auto sim = RegisterSimulationServer(LocalHost(), options);
    EventLogger().SetLoggingLevel(3);
    EventLogger().SetLimitMessageRate(false);
    EventLogger().TakeEntries();
    return sim;
}

// After everything that talks to the server is gone.
inline void StopSimulation(TSimulationControl &sim)
{
    sim.Unregister();
    ClearNetwork();
    EventLogger().TakeEntries();
    EventLogger().SetLimitMessageRate(true);
}
