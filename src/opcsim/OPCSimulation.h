// The built-in OPC DA 2.0 simulation server: registration in a host's class registry, the
// options fixed at registration, the knobs that tests turn at run time, and the control object
// that drives the simulated plant.
#pragma once

#include "platform/com/ClassRegistry.h"
#include "platform/opcda/OpcDa.h"
#include "platform/system/Exception.h"

#include <QString>
#include <map>
#include <memory>

// {EB0F128A-150A-465C-A0F3-2E4E90EBF4B6}
inline constexpr CLSID CLSID_TidewellOPCSimulation{0xEB0F128A, 0x150A, 0x465C, 0xA0, 0xF3, 0x2E,
                                                   0x4E,       0x90,   0xEB,   0xF4, 0xB6};
inline constexpr const char *TidewellOPCSimulationProgID = "Tidewell.OPCSimulation.1";
inline constexpr const char *TidewellOPCSimulationName = "Tidewell OPC Simulation Server";
inline constexpr const char *TidewellOPCSimulationVendor = "Tidewell OPC Simulation";

// Behaviour that can change while the server runs (through TSimulationControl::Knobs()).
struct TSimulationKnobs
{
    // QueryInterface answers E_NOINTERFACE for an interface that is switched off.
    bool WithBrowsing = true;       // IOPCBrowseServerAddressSpace
    bool WithItemProperties = true; // IOPCItemProperties
    bool WithPublicGroups = true;   // IOPCServerPublicGroups
    // QueryOrganization answers OPC_NS_FLAT and browsing lists full item ids only.
    bool FlatNamespace = false;
    // ChangeBrowsePosition(OPC_BROWSE_TO, "") answers E_INVALIDARG, as some older servers do.
    bool RefuseBrowseToRoot = false;
    // A failure code makes every AddGroup fail with it.
    HRESULT AddGroupError = S_OK;
    // A failure code makes the class factory refuse to create server objects.
    HRESULT CreateError = S_OK;
    // Item ids that AddItems and ValidateItems reject with the given per-item code.
    std::map<QString, HRESULT> RejectedItemIDs;
    // Every call of a server or group interface sleeps this long first.
    DWORD CallDelayMs = 0;
    // The state that GetStatus reports.
    OPCSERVERSTATE ServerState = OPC_STATUS_RUNNING;
};

struct TSimulationOptions
{
    CLSID Clsid = CLSID_TidewellOPCSimulation;
    QString ProgID = QString::fromLatin1(TidewellOPCSimulationProgID);
    QString Name = QString::fromLatin1(TidewellOPCSimulationName);
    // The plant: the text wins over the file; with neither, the built-in demo plant.
    QString PlantFile;
    QString PlantText;
    // The fastest group update rate; slower requests are kept as they are.
    DWORD MinUpdateRate = 50;
    // Plant time stands still unless TSimulationControl::AdvanceTime moves it (tests and
    // benchmarks); otherwise it follows the steady clock.
    bool ManualClock = false;
    TSimulationKnobs Knobs;
};

// A plant configuration that cannot be read or parsed.
class ESimulationConfigError : public Exception
{
public:
    using Exception::Exception;
};

class TSimPlant;

// Drives one registered simulation class: its plant, time and knobs. All server objects created
// from the registration share this plant, so every client sees the same values and writes.
// Dropping the control leaves the class registered; Unregister removes it. Like the server
// objects, it belongs to the thread of the Qt event loop.
class TSimulationControl
{
public:
    explicit TSimulationControl(std::shared_ptr<TSimPlant> plant);
    ~TSimulationControl();
    TSimulationControl(const TSimulationControl &) = delete;
    TSimulationControl &operator=(const TSimulationControl &) = delete;

    const TSimulationOptions &Options() const;
    TSimulationKnobs &Knobs();

    // Milliseconds of plant time since registration.
    qint64 Now() const;
    // Moves plant time forward by ms, running every group cycle that falls due on the way, in
    // order, and delivering pending callbacks. With 0 it just delivers what is due now.
    void AdvanceTime(qint64 ms);
    void RunDue() { AdvanceTime(0); }

    // Every live server object sends ShutdownRequest(reason) to its IOPCShutdown sinks from the
    // event loop; afterwards it and its groups answer every call with RPC_E_DISCONNECTED. New
    // server objects can be created as before.
    void RequestShutdown(const QString &reason);

    // Live server objects and groups of this registration (for lifetime checks).
    int ServerCount() const;
    int GroupCount() const;
    int SignalCount() const;

    // Removes the class from the host it was registered on.
    void Unregister();

private:
    friend std::shared_ptr<TSimulationControl> RegisterSimulationServer(TComHost &,
                                                                        const TSimulationOptions &);
    std::shared_ptr<TSimPlant> m_Plant;
    TComHost *m_Host = nullptr;
};

// Registers a simulation class (category CATID_OPCDAServer20) on the host and returns its
// control. Registering the same CLSID again replaces the earlier registration. Raises
// ESimulationConfigError when the plant configuration is faulty.
std::shared_ptr<TSimulationControl>
RegisterSimulationServer(TComHost &host = LocalHost(),
                         const TSimulationOptions &options = TSimulationOptions());

// The text of the built-in demo plant (the format is described in SimPlantParser.cpp).
QString BuiltInPlantText();
