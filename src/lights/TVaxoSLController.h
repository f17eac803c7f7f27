// Drives a set of status lamps from one port's triggers. While watching, the controller owns
// a few triggers on the port and three of its events (OnTriggerAvail, OnTriggerStatus,
// OnTriggerTimer); the handlers that were on the port before keep being called after the
// controller's own work, and are put back when watching stops.
//
// Everything runs on the GUI thread: the handlers come from the port's event delivery, the
// open/close routine from the port's announcements.
#pragma once

#include "lights/TLightSet.h"
#include "serial/TVaxoCustomComPort.h"

#include <QMetaObject>
#include <QObject>
#include <cstdint>
#include <vector>

namespace pellwick {

class TVaxoCustomSLController : public QObject {
    Q_OBJECT

public:
    // Links to the first port component among the owner's children, if there is one.
    explicit TVaxoCustomSLController(QObject* owner = nullptr);
    // Stops watching (the port gets its handlers back) and leaves the port's notify list.
    ~TVaxoCustomSLController() override;

    TVaxoCustomComPort* ComPort() const { return port_; }
    void SetComPort(TVaxoCustomComPort* port);

    // Time-outs in ticks of 55 ms.
    std::int32_t ErrorOffTimeout() const { return errorOffTimeout_; }
    void SetErrorOffTimeout(std::int32_t ticks) { errorOffTimeout_ = ticks; }
    std::int32_t BreakOffTimeout() const { return breakOffTimeout_; }
    void SetBreakOffTimeout(std::int32_t ticks) { breakOffTimeout_ = ticks; }
    std::int32_t RXDOffTimeout() const { return rxdOffTimeout_; }
    void SetRXDOffTimeout(std::int32_t ticks) { rxdOffTimeout_ = ticks; }
    std::int32_t TXDOffTimeout() const { return txdOffTimeout_; }
    void SetTXDOffTimeout(std::int32_t ticks) { txdOffTimeout_ = ticks; }
    std::int32_t RingOffTimeout() const { return ringOffTimeout_; }
    void SetRingOffTimeout(std::int32_t ticks) { ringOffTimeout_ = ticks; }

    TLightSet& Lights() { return lights_; }
    const TLightSet& Lights() const { return lights_; }

    // True while the controller watches an open port. Switching it on without a port raises
    // EPortNotAssigned; on a closed port it only asks for watching to start when it opens.
    bool Watching() const { return watching_; }
    void SetWatching(bool on);
    // Watching was asked for while the port was closed (or the port closed while watching).
    bool ResumeOnOpen() const { return resumeOnOpen_; }

    // While the owner restores its stored settings, Watching is left alone and the port is
    // only remembered; EndLoading then links to the port's open/close announcements.
    void BeginLoading() { loading_ = true; }
    void EndLoading();
    bool Loading() const { return loading_; }

    // The routine registered with the port's notify list; context is the controller.
    static void HandlePortOpenClose(void* context, TVaxoCustomComPort* port, bool opening);

    // Installed on the port while watching.
    void HandleAvail(TVaxoCustomComPort& CP, std::uint16_t Count);
    void HandleStatus(TVaxoCustomComPort& CP, std::uint16_t TriggerHandle);
    void HandleTimer(TVaxoCustomComPort& CP, std::uint16_t TriggerHandle);

    // The value the modem trigger is armed with (0 while no modem lamp is watched).
    std::uint16_t ModemMask() const { return modemMask_; }

protected:
    void ArmLightTriggers();
    void DropLightTriggers();
    void ResetLamps();

private:
    // The handles of the controller's triggers; 0 when not in use.
    struct Handles {
        std::uint16_t modem = 0;
        std::uint16_t error = 0;
        std::uint16_t brk = 0;
        std::uint16_t errorOff = 0;
        std::uint16_t breakOff = 0;
        std::uint16_t rxdOff = 0;
        std::uint16_t txd = 0;
        std::uint16_t txdOff = 0;
        std::uint16_t ringOff = 0;
    };
    // Marks a handler on the port as this controller's, so that a chain of controllers on one
    // port can be taken apart in any order.
    struct Hook {
        TVaxoCustomSLController* controller;
    };
    struct AvailHook : Hook {
        void operator()(TVaxoCustomComPort& CP, std::uint16_t Count) const;
    };
    struct StatusHook : Hook {
        void operator()(TVaxoCustomComPort& CP, std::uint16_t TriggerHandle) const;
    };
    struct TimerHook : Hook {
        void operator()(TVaxoCustomComPort& CP, std::uint16_t TriggerHandle) const;
    };

    void TakeOverEvents();
    void GiveBackEvents();
    void Register();
    void Unregister();
    void PortDestroyed();
    void DropStaleTriggers();
    TVaxoCustomStatusLight* Lamp(TLightSet::Slot slot) const { return lights_.Light(slot); }

    TVaxoCustomComPort* port_ = nullptr;
    QMetaObject::Connection portDestroyed_;
    bool registered_ = false;
    std::int32_t errorOffTimeout_ = 36;
    std::int32_t breakOffTimeout_ = 36;
    std::int32_t rxdOffTimeout_ = 1;
    std::int32_t txdOffTimeout_ = 1;
    std::int32_t ringOffTimeout_ = 8;
    TLightSet lights_;
    bool watching_ = false;
    bool resumeOnOpen_ = false;
    bool loading_ = false;
    TTriggerAvailEvent savedAvail_;
    TTriggerStatusEvent savedStatus_;
    TTriggerTimerEvent savedTimer_;
    std::uint16_t modemMask_ = 0;
    Handles handles_;
    // Triggers that could not be dropped because the port was closing: the port keeps them
    // across the close and brings them back when it reopens, so they are dropped then.
    std::vector<std::uint16_t> staleHandles_;
};

// The controller as windows place it.
class TVaxoSLController : public TVaxoCustomSLController {
    Q_OBJECT

public:
    explicit TVaxoSLController(QObject* owner = nullptr) : TVaxoCustomSLController(owner) {}
};

} // namespace pellwick
