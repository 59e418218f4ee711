#include "opcsim/OPCSimulation.h"

#include "opcsim/SimPlant.h"
#include "opcsim/SimServer.h"

TSimulationControl::TSimulationControl(std::shared_ptr<TSimPlant> plant) : m_Plant(std::move(plant))
{
}

TSimulationControl::~TSimulationControl() = default;

const TSimulationOptions &TSimulationControl::Options() const
{
    return m_Plant->Options();
}

TSimulationKnobs &TSimulationControl::Knobs()
{
    return m_Plant->Knobs();
}

qint64 TSimulationControl::Now() const
{
    return m_Plant->Now();
}

void TSimulationControl::AdvanceTime(qint64 ms)
{
    m_Plant->AdvanceTime(ms);
}

void TSimulationControl::RequestShutdown(const QString &reason)
{
    m_Plant->RequestShutdown(reason);
}

int TSimulationControl::ServerCount() const
{
    return m_Plant->ServerCount();
}

int TSimulationControl::GroupCount() const
{
    return m_Plant->GroupCount();
}

int TSimulationControl::SignalCount() const
{
    return static_cast<int>(m_Plant->Signals().size());
}

void TSimulationControl::Unregister()
{
    if (m_Host)
        m_Host->Classes().Unregister(m_Plant->Options().Clsid);
    m_Host = nullptr;
}

std::shared_ptr<TSimulationControl> RegisterSimulationServer(TComHost &host,
                                                             const TSimulationOptions &options)
{
    auto plant = std::make_shared<TSimPlant>(options, LoadPlant(options));
    auto control = std::make_shared<TSimulationControl>(plant);
    control->m_Host = &host;

    TClassInfo info;
    info.Clsid = options.Clsid;
    info.ProgID = options.ProgID;
    info.Name = options.Name;
    info.ImplementedCategories = {CATID_OPCDAServer20};
    // The registry keeps the plant alive while the class is registered; every server object
    // created here shares it.
    info.Factory = [plant](const QString &, ComPtr<IUnknown> &object) -> HRESULT {
        object.Reset();
        if (const HRESULT hr = plant->Knobs().CreateError; FAILED(hr))
            return hr;
        object = AsUnknown(MakeCom<TOPCSimServer>(plant));
        return S_OK;
    };
    host.Classes().Register(std::move(info));
    return control;
}
