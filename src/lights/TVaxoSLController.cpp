#include "lights/TVaxoSLController.h"

#include "serial/errors/ErrorNumbers.h"
#include "serial/errors/ErrorToException.h"

#include <exception>
#include <vector>

namespace pellwick {

namespace {

// Line-error classes the error and break triggers watch.
constexpr std::uint16_t kLineErrorClasses = 7; // overrun, parity, framing
constexpr std::uint16_t kBreakClass = 8;

// Modem mask bits: signal states of CTS, DSR and DCD, and the ring-seen change.
constexpr std::uint16_t kMaskCts = 0x10;
constexpr std::uint16_t kMaskDsr = 0x20;
constexpr std::uint16_t kMaskDcd = 0x80;
constexpr std::uint16_t kMaskRing = 0x04;

// Longest chain of controllers followed when one leaves the middle of it; a guard against a
// cycle, far above the number of controllers a port has.
constexpr int kMaxChain = 64;

void SetLamp(TVaxoCustomStatusLight* lamp, bool lit) {
    if (lamp != nullptr) {
        lamp->setLit(lit);
    }
}

// Every controller alive; all of them live on the GUI thread.
std::vector<TVaxoCustomSLController*>& LiveControllers() {
    static std::vector<TVaxoCustomSLController*> controllers;
    return controllers;
}

// Whether a notification's handle is the trigger kept in `ours` (0: no such trigger).
bool Ours(std::uint16_t handle, std::uint16_t ours) {
    return ours != 0 && handle == ours;
}

// The controller whose hook `handler` is, or null when it is no controller's hook.
template <class HookType, class Event> TVaxoCustomSLController* HookOwner(const Event& handler) {
    const HookType* hook = handler.template target<HookType>();
    return hook != nullptr ? hook->controller : nullptr;
}

} // namespace

TVaxoCustomSLController::TVaxoCustomSLController(QObject* owner) : QObject(owner) {
    LiveControllers().push_back(this);
    if (owner != nullptr) {
        const auto ports = owner->findChildren<TVaxoCustomComPort*>(Qt::FindDirectChildrenOnly);
        if (!ports.isEmpty()) {
            SetComPort(ports.first());
        }
    }
}

TVaxoCustomSLController::~TVaxoCustomSLController() {
    // The port must not keep handlers that call into a destroyed controller, loading or not.
    loading_ = false;
    // Nothing may escape a destructor; a failed drop leaves at worst an unused trigger.
    try {
        SetWatching(false);
    } catch (...) {
    }
    resumeOnOpen_ = false;
    Unregister();
    QObject::disconnect(portDestroyed_);
    std::erase(LiveControllers(), this);
}

void TVaxoCustomSLController::SetComPort(TVaxoCustomComPort* port) {
    if (port == port_) {
        return;
    }
    Unregister();
    QObject::disconnect(portDestroyed_);
    const bool was = watching_;
    SetWatching(false);
    port_ = port;
    staleHandles_.clear();
    if (port_ != nullptr) {
        portDestroyed_ = connect(port_, &QObject::destroyed, this, [this] { PortDestroyed(); });
    }
    // Linked to the announcements first, so that a failure to start watching leaves the
    // controller registered with its new port.
    if (!loading_) {
        Register();
    }
    SetWatching(was);
}

void TVaxoCustomSLController::EndLoading() {
    loading_ = false;
    Register();
}

void TVaxoCustomSLController::Register() {
    if (port_ != nullptr && !registered_) {
        port_->AddNotifyProc(&TVaxoCustomSLController::HandlePortOpenClose, this);
        registered_ = true;
    }
}

void TVaxoCustomSLController::Unregister() {
    if (port_ == nullptr || !registered_) {
        return;
    }
    registered_ = false;
    // The port removes every registration of the routine, whatever its context: the other
    // controllers on this port register again so that they keep hearing of opens and closes.
    port_->RemoveNotifyProc(&TVaxoCustomSLController::HandlePortOpenClose, this);
    for (TVaxoCustomSLController* other : LiveControllers()) {
        if (other != this && other->port_ == port_ && other->registered_) {
            port_->AddNotifyProc(&TVaxoCustomSLController::HandlePortOpenClose, other);
        }
    }
}

void TVaxoCustomSLController::PortDestroyed() {
    // The port object is gone: nothing may be called on it, only forgotten.
    watching_ = false;
    resumeOnOpen_ = false;
    registered_ = false;
    savedAvail_ = nullptr;
    savedStatus_ = nullptr;
    savedTimer_ = nullptr;
    handles_ = {};
    modemMask_ = 0;
    staleHandles_.clear();
    port_ = nullptr;
    lights_.SetAllUnlit();
}

void TVaxoCustomSLController::SetWatching(bool on) {
    if (loading_) {
        return;
    }
    if (on == watching_) {
        // Switching off also cancels a start that waits for the port to open.
        if (!on) {
            resumeOnOpen_ = false;
        }
        return;
    }
    if (port_ == nullptr) {
        ErrorToException(ecPortNotAssigned);
    }
    if (!port_->Open()) {
        resumeOnOpen_ = on;
        if (on) {
            return;
        }
    }
    watching_ = on;
    if (on) {
        TakeOverEvents();
        ArmLightTriggers();
    } else {
        GiveBackEvents();
        DropLightTriggers();
    }
    ResetLamps();
}

void TVaxoCustomSLController::TakeOverEvents() {
    // A handler that is already this controller's own would make it call itself for ever.
    if (HookOwner<AvailHook>(port_->OnTriggerAvail()) != this) {
        savedAvail_ = port_->OnTriggerAvail();
    }
    if (HookOwner<StatusHook>(port_->OnTriggerStatus()) != this) {
        savedStatus_ = port_->OnTriggerStatus();
    }
    if (HookOwner<TimerHook>(port_->OnTriggerTimer()) != this) {
        savedTimer_ = port_->OnTriggerTimer();
    }
    port_->SetOnTriggerAvail(AvailHook{{this}});
    port_->SetOnTriggerStatus(StatusHook{{this}});
    port_->SetOnTriggerTimer(TimerHook{{this}});
}

namespace {

// Takes `self`'s hook out of the chain that starts at the port's current handler: when another
// controller took the event over after `self`, that controller inherits `self`'s saved handler.
// Returns false when `self`'s hook is nowhere in the chain.
template <class HookType, class Event, class SavedOf>
bool Unchain(TVaxoCustomSLController* self, const Event& current, Event& ownSaved,
             SavedOf savedOf) {
    TVaxoCustomSLController* next = HookOwner<HookType>(current);
    for (int step = 0; next != nullptr && next != self && step < kMaxChain; ++step) {
        Event& saved = savedOf(next);
        if (HookOwner<HookType>(saved) == self) {
            saved = std::move(ownSaved);
            ownSaved = nullptr;
            return true;
        }
        next = HookOwner<HookType>(saved);
    }
    return false;
}

} // namespace

void TVaxoCustomSLController::GiveBackEvents() {
    if (HookOwner<AvailHook>(port_->OnTriggerAvail()) == this ||
        !Unchain<AvailHook>(
            this, port_->OnTriggerAvail(), savedAvail_,
            [](TVaxoCustomSLController * c) -> auto& { return c->savedAvail_; })) {
        port_->SetOnTriggerAvail(std::move(savedAvail_));
    }
    if (HookOwner<StatusHook>(port_->OnTriggerStatus()) == this ||
        !Unchain<StatusHook>(
            this, port_->OnTriggerStatus(), savedStatus_,
            [](TVaxoCustomSLController * c) -> auto& { return c->savedStatus_; })) {
        port_->SetOnTriggerStatus(std::move(savedStatus_));
    }
    if (HookOwner<TimerHook>(port_->OnTriggerTimer()) == this ||
        !Unchain<TimerHook>(
            this, port_->OnTriggerTimer(), savedTimer_,
            [](TVaxoCustomSLController * c) -> auto& { return c->savedTimer_; })) {
        port_->SetOnTriggerTimer(std::move(savedTimer_));
    }
    savedAvail_ = nullptr;
    savedStatus_ = nullptr;
    savedTimer_ = nullptr;
}

void TVaxoCustomSLController::ArmLightTriggers() {
    handles_ = {};
    if (port_ == nullptr) {
        return;
    }
    DropStaleTriggers();
    const bool cts = lights_.Assigned(TLightSet::CTS);
    const bool dsr = lights_.Assigned(TLightSet::DSR);
    const bool dcd = lights_.Assigned(TLightSet::DCD);
    const bool ring = lights_.Assigned(TLightSet::RING);
    const bool modem = cts || dsr || dcd || ring;
    try {
        if (modem) {
            handles_.modem = port_->NewStatusTrigger(skModem);
            if (ring) {
                handles_.ringOff = port_->NewTimerTrigger();
            }
        }
        if (lights_.Assigned(TLightSet::ERROR)) {
            handles_.error = port_->NewStatusTrigger(skLineError);
            handles_.errorOff = port_->NewTimerTrigger();
        }
        if (lights_.Assigned(TLightSet::BREAK)) {
            handles_.brk = port_->NewStatusTrigger(skLineError);
            handles_.breakOff = port_->NewTimerTrigger();
        }
        if (lights_.Assigned(TLightSet::RXD)) {
            handles_.rxdOff = port_->NewTimerTrigger();
        }
        if (lights_.Assigned(TLightSet::TXD)) {
            handles_.txd = port_->NewStatusTrigger(skOutputSent);
            handles_.txdOff = port_->NewTimerTrigger();
        }
        modemMask_ = (cts ? kMaskCts : 0) | (dsr ? kMaskDsr : 0) | (dcd ? kMaskDcd : 0) |
                     (ring ? kMaskRing : 0);
        if (handles_.modem != 0) {
            port_->ArmStatusTrigger(handles_.modem, modemMask_, true);
        }
        if (handles_.error != 0) {
            port_->ArmStatusTrigger(handles_.error, kLineErrorClasses, true);
        }
        if (handles_.brk != 0) {
            port_->ArmStatusTrigger(handles_.brk, kBreakClass, true);
        }
        if (handles_.txd != 0) {
            port_->ArmStatusTrigger(handles_.txd, 0, true);
        }
    } catch (...) {
        modemMask_ = 0;
        // The first failure is the one the caller hears of.
        try {
            DropLightTriggers();
        } catch (...) {
        }
        throw;
    }
}

void TVaxoCustomSLController::DropLightTriggers() {
    std::exception_ptr failure;
    if (port_ != nullptr) {
        // A closing port does not drop triggers but keeps them for its reopen.
        const bool live = port_->PortState() == TVaxoCustomComPort::State::Open;
        for (std::uint16_t handle :
             {handles_.modem, handles_.ringOff, handles_.error, handles_.errorOff, handles_.brk,
              handles_.breakOff, handles_.rxdOff, handles_.txd, handles_.txdOff}) {
            if (handle == 0) {
                continue;
            }
            if (!live) {
                staleHandles_.push_back(handle);
                continue;
            }
            try {
                port_->DropTrigger(handle);
            } catch (...) {
                if (!failure) {
                    failure = std::current_exception();
                }
            }
        }
    }
    handles_ = {};
    modemMask_ = 0;
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void TVaxoCustomSLController::DropStaleTriggers() {
    if (port_ == nullptr || port_->PortState() != TVaxoCustomComPort::State::Open) {
        return;
    }
    const auto stale = std::move(staleHandles_);
    staleHandles_.clear();
    for (std::uint16_t handle : stale) {
        // A trigger the port did not bring back is simply gone.
        try {
            port_->DropTrigger(handle);
        } catch (const std::exception&) {
        }
    }
}

void TVaxoCustomSLController::ResetLamps() {
    lights_.SetAllUnlit();
    if (port_ != nullptr && watching_) {
        if (auto* lamp = Lamp(TLightSet::CTS)) {
            lamp->setLit(port_->CtsSignal());
        }
        if (auto* lamp = Lamp(TLightSet::DSR)) {
            lamp->setLit(port_->DsrSignal());
        }
        if (auto* lamp = Lamp(TLightSet::DCD)) {
            lamp->setLit(port_->DcdSignal());
        }
    }
}

void TVaxoCustomSLController::HandleAvail(TVaxoCustomComPort& CP, std::uint16_t Count) {
    if (port_ == nullptr) {
        return;
    }
    auto* rxd = Lamp(TLightSet::RXD);
    if (rxd != nullptr && !rxd->Lit() && handles_.rxdOff != 0) {
        rxd->setLit(true);
        port_->ArmTimerTrigger(handles_.rxdOff, rxdOffTimeout_, true);
    }
    // A copy: the saved handler may end watching, which clears the saved one.
    const auto saved = savedAvail_;
    if (saved) {
        saved(CP, Count);
    }
}

void TVaxoCustomSLController::HandleStatus(TVaxoCustomComPort& CP, std::uint16_t TriggerHandle) {
    if (port_ == nullptr) {
        return;
    }
    if (Ours(TriggerHandle, handles_.modem)) {
        if (auto* lamp = Lamp(TLightSet::DCD)) {
            lamp->setLit(port_->DcdSignal());
        }
        if (auto* lamp = Lamp(TLightSet::CTS)) {
            lamp->setLit(port_->CtsSignal());
        }
        if (auto* lamp = Lamp(TLightSet::DSR)) {
            lamp->setLit(port_->DsrSignal());
        }
        auto* ring = Lamp(TLightSet::RING);
        if (ring != nullptr && port_->RingSignal() && !ring->Lit() && handles_.ringOff != 0) {
            ring->setLit(true);
            port_->ArmTimerTrigger(handles_.ringOff, ringOffTimeout_, true);
        }
        port_->ArmStatusTrigger(handles_.modem, modemMask_, true);
    } else if (Ours(TriggerHandle, handles_.error)) {
        SetLamp(Lamp(TLightSet::ERROR), true);
        port_->ArmTimerTrigger(handles_.errorOff, errorOffTimeout_, true);
        port_->PendingLineError();
    } else if (Ours(TriggerHandle, handles_.brk)) {
        SetLamp(Lamp(TLightSet::BREAK), true);
        port_->ArmTimerTrigger(handles_.breakOff, breakOffTimeout_, true);
        port_->PendingBreak();
    } else if (Ours(TriggerHandle, handles_.txd)) {
        SetLamp(Lamp(TLightSet::TXD), true);
        port_->ArmTimerTrigger(handles_.txdOff, txdOffTimeout_, true);
    }
    const auto saved = savedStatus_;
    if (saved) {
        saved(CP, TriggerHandle);
    }
}

void TVaxoCustomSLController::HandleTimer(TVaxoCustomComPort& CP, std::uint16_t TriggerHandle) {
    if (port_ == nullptr) {
        return;
    }
    if (Ours(TriggerHandle, handles_.errorOff)) {
        SetLamp(Lamp(TLightSet::ERROR), false);
        port_->ArmStatusTrigger(handles_.error, kLineErrorClasses, true);
    } else if (Ours(TriggerHandle, handles_.breakOff)) {
        SetLamp(Lamp(TLightSet::BREAK), false);
        port_->ArmStatusTrigger(handles_.brk, kBreakClass, true);
    } else if (Ours(TriggerHandle, handles_.rxdOff)) {
        // The lamp stays lit as long as received data waits unread.
        if (port_->InputCount() != 0) {
            port_->ArmTimerTrigger(handles_.rxdOff, rxdOffTimeout_, true);
        } else {
            SetLamp(Lamp(TLightSet::RXD), false);
        }
    } else if (Ours(TriggerHandle, handles_.txdOff)) {
        if (port_->OutputCount() != 0) {
            port_->ArmTimerTrigger(handles_.txdOff, txdOffTimeout_, true);
        } else {
            SetLamp(Lamp(TLightSet::TXD), false);
            port_->ArmStatusTrigger(handles_.txd, 0, true);
        }
    } else if (Ours(TriggerHandle, handles_.ringOff)) {
        SetLamp(Lamp(TLightSet::RING), false);
    }
    const auto saved = savedTimer_;
    if (saved) {
        saved(CP, TriggerHandle);
    }
}

void TVaxoCustomSLController::HandlePortOpenClose(void* context, TVaxoCustomComPort* /*port*/,
                                                  bool opening) {
    auto* self = static_cast<TVaxoCustomSLController*>(context);
    if (opening) {
        // Triggers left from before the close came back with the reopen.
        self->DropStaleTriggers();
        if (self->resumeOnOpen_) {
            self->resumeOnOpen_ = false;
            self->SetWatching(true);
        }
    } else {
        const bool was = self->watching_;
        self->SetWatching(false);
        self->resumeOnOpen_ = was;
    }
}

void TVaxoCustomSLController::AvailHook::operator()(TVaxoCustomComPort& CP,
                                                    std::uint16_t Count) const {
    controller->HandleAvail(CP, Count);
}

void TVaxoCustomSLController::StatusHook::operator()(TVaxoCustomComPort& CP,
                                                     std::uint16_t TriggerHandle) const {
    controller->HandleStatus(CP, TriggerHandle);
}

void TVaxoCustomSLController::TimerHook::operator()(TVaxoCustomComPort& CP,
                                                    std::uint16_t TriggerHandle) const {
    controller->HandleTimer(CP, TriggerHandle);
}

} // namespace pellwick
