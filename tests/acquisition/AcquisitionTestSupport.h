// The simulation server, a data cache and a bridge on it, and the events the bridge's objects log.
#pragma once

#include "acquisition/xOPCClientBridge.h"
#include "eventlog/xEventLog.h"
#include "opcsim/OPCSimulation.h"
#include "platform/net/Network.h"
#include "platform/opcda/OpcServerList.h"
#include "platform/system/WindowMessages.h"
#include "support/SimulationSession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QObject>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <vector>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace acqtest {

inline const QString ProgID = QString::fromLatin1(TidewellOPCSimulationProgID);

// Branch names repeat leaf names on purpose ("Temp" twice) so that the search by name has to
// choose.
inline const char *const Plant = R"(
[Area1.Line1]
Temp   sine     low=0 high=100 period=10 unit=°C description="Product temperature"
Level  ramp     low=0 high=100 period=60 quality=bad unit=% description="Tank level"
Count  counter  period=1 description="Pieces"
[Area2]
Temp   const    value=5 unit=K description="Outside temperature"
Flow   sine     low=0 high=10 period=20 unit=m3/h description="Flow"
)";

struct TEvent
{
    TEventType Type;
    QString Sender;
    QString Message;
    friend bool operator==(const TEvent &, const TEvent &) = default;
};

inline void PrintTo(const TEvent &e, std::ostream *out)
{
    *out << "{" << int(e.Type) << ", " << e.Sender.toStdString() << ", " << e.Message.toStdString()
         << "}";
}

// Receives the bridge's window messages; Check runs when WM_OPCDATACHANGE arrives.
class TMessageReceiver : public QObject
{
public:
    bool event(QEvent *e) override
    {
        if (e->type() == static_cast<QEvent::Type>(WM_OPCDATACHANGE)) {
            ++DataChanges;
            if (Check)
                Check();
            return true;
        }
        if (e->type() == static_cast<QEvent::Type>(WM_OPCSERVERSHUTDOWN)) {
            ++Shutdowns;
            return true;
        }
        return QObject::event(e);
    }
    int DataChanges = 0;
    int Shutdowns = 0;
    std::function<void()> Check;
};

class AcquisitionTest : public ::testing::Test
{
protected:
    void SetUp() override { Sim = StartManualSimulation(QString::fromUtf8(Plant)); }
    void TearDown() override
    {
        Bridge.reset();
        StopSimulation(*Sim);
    }

    static TRemoteServerInfo SimInfo()
    {
        TRemoteServerInfo info;
        info.ID = ProgID;
        info.Name = QStringLiteral("Sim");
        return info;
    }

    TOPCClientBridge &MakeBridge(const TRemoteServerInfo &info = SimInfo())
    {
        Bridge = std::make_unique<TOPCClientBridge>(info, &Cache);
        PrepareClient(Bridge->OPCDAClient());
        Bridge->SetMessageReceiver(&Receiver);
        return *Bridge;
    }

    static void PrepareClient(TOPCDAClient &client)
    {
        client.ConnectWaitMs = 0;
        client.ReconnectDelay = 0;
    }

    // The events of the bridge's own objects; the client's traces are left out.
    static std::vector<TEvent> TakeEvents()
    {
        std::vector<TEvent> events;
        for (const auto &entry : EventLogger().TakeEntries())
            if (entry->SenderName.startsWith(QStringLiteral("TOPCClient")) ||
                entry->SenderName == QStringLiteral("TOPCBridgedItem"))
                events.push_back({entry->EventType, entry->SenderName, entry->Message});
        return events;
    }

    // Runs the plant for ms in steps, delivering the posted messages after each step.
    void Run(qint64 ms, qint64 step = 50)
    {
        for (qint64 t = 0; t < ms; t += step) {
            Sim->AdvanceTime(step);
            QCoreApplication::processEvents();
        }
    }

    // Delivers the shutdown request and waits until the client has seen it.
    void ShutDown(const QString &reason)
    {
        Sim->RequestShutdown(reason);
        QDeadlineTimer deadline(10000);
        while (Bridge->Connected() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::processEvents();
    }

    QString State(const QString &alias) const
    {
        return Cache.ReadAttribute(alias, 0, QStringLiteral("OPCState"));
    }

    std::shared_ptr<TSimulationControl> Sim;
    TDataCache Cache;
    TMessageReceiver Receiver;
    std::unique_ptr<TOPCClientBridge> Bridge;
};

} // namespace acqtest
