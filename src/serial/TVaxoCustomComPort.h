// The port component: the object through which the program uses a serial port. It keeps the
// line settings and options as properties (set before the port exists, kept across closing),
// owns the dispatcher while the port is open, pushes every setting into it, turns the
// dispatcher's notifications into events on the GUI thread, tells registered windows and
// routines when the port opens or closes, and offers the byte-level operations.
//
// Everything here runs on the GUI thread. Results of the dispatcher pass through
// ErrorToException: a negative result raises the exception of its number.
#pragma once

#include "serial/DispatcherTypes.h"
#include "serial/ProcessHook.h"
#include "serial/Triggers.h"

#include <QEvent>
#include <QObject>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pellwick {

class TVaxoBaseDispatcher;
class TVaxoWin32Dispatcher;
class TVaxoCustomComPort;
class VxComWindow;

enum TParity { pNone, pOdd, pEven, pMark, pSpace };
enum TDeviceLayer { dlWin16, dlFossil, dlWin32, dlWinsock };
enum TTapiMode { tmNone, tmAuto, tmOn, tmOff };
// Bits of THWFlowOptionSet (THWFlowOptions, with the dispatcher).
using THWFlowOptionSet = std::uint8_t;
enum TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };
enum TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };

// Events; the first argument is always the port itself.
using TTriggerEvent = std::function<void(TVaxoCustomComPort& CP, std::uint16_t Msg,
                                         std::uint16_t TriggerHandle, std::uint16_t Data)>;
using TTriggerAvailEvent = std::function<void(TVaxoCustomComPort& CP, std::uint16_t Count)>;
using TTriggerHandleEvent =
    std::function<void(TVaxoCustomComPort& CP, std::uint16_t TriggerHandle)>;
using TTriggerDataEvent = TTriggerHandleEvent;
using TTriggerStatusEvent = TTriggerHandleEvent;
using TTriggerTimerEvent = TTriggerHandleEvent;
using TTriggerLineErrorEvent =
    std::function<void(TVaxoCustomComPort& CP, std::uint16_t Error, bool LineBreak)>;
using TWaitCharEvent = std::function<void(TVaxoCustomComPort& CP, char C)>;
using TNotifyEvent = std::function<void(TVaxoCustomComPort& CP)>;

// A routine told of the port's opening (true) and closing (false).
using TPortNotifyProc = void (*)(void* context, TVaxoCustomComPort* port, bool opening);

// Sent synchronously to each registered window when the port has opened or is closing.
class PortNotifyEvent : public QEvent {
public:
    static QEvent::Type EventType();
    explicit PortNotifyEvent(std::uint32_t msg) : QEvent(EventType()), Msg(msg) {}
    std::uint32_t Msg; // MsgPortOpened or MsgPortClosing
};

class TVaxoCustomComPort : public QObject {
    Q_OBJECT
public:
    explicit TVaxoCustomComPort(QObject* owner = nullptr);
    ~TVaxoCustomComPort() override;

    // Asks for a port number when a port with ComNumber 0 is opened and PromptForPort is set:
    // true and the chosen number, or false when the user cancelled. The program sets it to the
    // port selection dialog (the engine never shows windows of its own).
    using PortSelector = std::function<bool(int& comNumber)>;
    static ProcessHook<PortSelector>& PortSelectorHook();
    static void SetPortSelector(PortSelector selector) {
        PortSelectorHook().Set(std::move(selector));
    }
    // The application's standard display of an exception that an event handler or the end of
    // loading raised; the program installs a message box. None: the text goes to stderr.
    using ExceptionDisplay = std::function<void(const std::exception&)>;
    static ProcessHook<ExceptionDisplay>& ExceptionDisplayHook();
    static void SetExceptionDisplay(ExceptionDisplay display) {
        ExceptionDisplayHook().Set(std::move(display));
    }
    static void ShowException(const std::exception& e);

    // --- Published properties --------------------------------------------------------------
    TDeviceLayer DeviceLayer() const { return deviceLayer_; }
    void SetDeviceLayer(TDeviceLayer v);
    std::uint16_t ComNumber() const { return comNumber_; }
    void SetComNumber(std::uint16_t v);
    std::int32_t Baud() const { return baud_; }
    void SetBaud(std::int32_t v);
    bool PromptForPort() const { return promptForPort_; }
    void SetPromptForPort(bool v) { promptForPort_ = v; }
    TParity Parity() const { return parity_; }
    void SetParity(TParity v);
    std::uint16_t DataBits() const { return dataBits_; }
    void SetDataBits(std::uint16_t v);
    std::uint16_t StopBits() const { return stopBits_; }
    void SetStopBits(std::uint16_t v);
    std::uint16_t InSize() const { return inSize_; }
    void SetInSize(std::uint16_t v);
    std::uint16_t OutSize() const { return outSize_; }
    void SetOutSize(std::uint16_t v);
    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool v) { autoOpen_ = v; }
    bool Open() const { return open_; }
    void SetOpen(bool v);
    bool DTR() const { return dtr_; }
    void SetDTR(bool v);
    bool RTS() const { return rts_; }
    void SetRTS(bool v);
    THWFlowOptionSet HWFlowOptions() const { return hwFlow_; }
    void SetHWFlowOptions(THWFlowOptionSet v);
    TSWFlowOptions SWFlowOptions() const { return swFlow_; }
    void SetSWFlowOptions(TSWFlowOptions v);
    char XOnChar() const { return xonChar_; }
    void SetXOnChar(char v);
    char XOffChar() const { return xoffChar_; }
    void SetXOffChar(char v);
    std::uint16_t BufferFull() const { return bufferFull_; }
    void SetBufferFull(std::uint16_t v);
    std::uint16_t BufferResume() const { return bufferResume_; }
    void SetBufferResume(std::uint16_t v);
    TTraceLogState Tracing() const { return tracing_; }
    void SetTracing(TTraceLogState v);
    std::uint32_t TraceSize() const { return traceSize_; }
    void SetTraceSize(std::uint32_t v) { traceSize_ = v; }
    const std::string& TraceName() const { return traceName_; }
    void SetTraceName(const std::string& v) { traceName_ = v.substr(0, 255); }
    bool TraceHex() const { return traceHex_; }
    void SetTraceHex(bool v) { traceHex_ = v; }
    TTraceLogState Logging() const { return logging_; }
    void SetLogging(TTraceLogState v);
    std::uint32_t LogSize() const { return logSize_; }
    void SetLogSize(std::uint32_t v) { logSize_ = v; }
    const std::string& LogName() const { return logName_; }
    void SetLogName(const std::string& v) { logName_ = v.substr(0, 255); }
    bool LogHex() const { return logHex_; }
    void SetLogHex(bool v) { logHex_ = v; }
    bool UseMSRShadow() const { return true; }
    void SetUseMSRShadow(bool v);
    bool UseEventWord() const { return useEventWord_; }
    void SetUseEventWord(bool v);
    std::uint16_t CommNotificationLevel() const { return commNotificationLevel_; }
    void SetCommNotificationLevel(std::uint16_t v) { commNotificationLevel_ = v; }
    TTapiMode TapiMode() const { return tapiMode_; }
    void SetTapiMode(TTapiMode v) { tapiMode_ = v; }
    bool RS485Mode() const { return rs485Mode_; }
    void SetRS485Mode(bool v);
    std::uint8_t WorkerPriority() const { return workerPriority_; }
    void SetWorkerPriority(std::uint8_t v);
    std::uint16_t AvailLength() const { return availLength_; }
    void SetAvailLength(std::uint16_t v);
    // An integer the owner may use freely (the link keeps its transfer phase here).
    int Tag() const { return tag_; }
    void SetTag(int v) { tag_ = v; }

    // Events; each setter (but OnWaitChar's) also runs SyncHandlerState.
    const TTriggerEvent& OnTrigger() const { return onTrigger_; }
    void SetOnTrigger(TTriggerEvent e);
    const TTriggerAvailEvent& OnTriggerAvail() const { return onTriggerAvail_; }
    void SetOnTriggerAvail(TTriggerAvailEvent e);
    const TTriggerDataEvent& OnTriggerData() const { return onTriggerData_; }
    void SetOnTriggerData(TTriggerDataEvent e);
    const TTriggerStatusEvent& OnTriggerStatus() const { return onTriggerStatus_; }
    void SetOnTriggerStatus(TTriggerStatusEvent e);
    const TTriggerTimerEvent& OnTriggerTimer() const { return onTriggerTimer_; }
    void SetOnTriggerTimer(TTriggerTimerEvent e);
    const TTriggerLineErrorEvent& OnTriggerLineError() const { return onTriggerLineError_; }
    void SetOnTriggerLineError(TTriggerLineErrorEvent e);
    const TNotifyEvent& OnTriggerModemStatus() const { return onTriggerModemStatus_; }
    void SetOnTriggerModemStatus(TNotifyEvent e);
    const TNotifyEvent& OnTriggerOutbuffFree() const { return onTriggerOutbuffFree_; }
    void SetOnTriggerOutbuffFree(TNotifyEvent e);
    const TNotifyEvent& OnTriggerOutbuffUsed() const { return onTriggerOutbuffUsed_; }
    void SetOnTriggerOutbuffUsed(TNotifyEvent e);
    const TNotifyEvent& OnTriggerOutSent() const { return onTriggerOutSent_; }
    void SetOnTriggerOutSent(TNotifyEvent e);
    const TWaitCharEvent& OnWaitChar() const { return onWaitChar_; }
    void SetOnWaitChar(TWaitCharEvent e) { onWaitChar_ = std::move(e); }

    // --- Loading ---------------------------------------------------------------------------
    // While the owner loads its stored settings, Open is only remembered and failing results
    // are returned instead of raised; EndLoading then opens the port if asked to.
    void BeginLoading() { loading_ = true; }
    void EndLoading();
    bool Loading() const { return loading_; }

    // --- Operations ------------------------------------------------------------------------
    // Closing: the device is closed, but the dispatcher and its window stay until the dispatch
    // worker has ended its work (a close from inside a handler or a wait for text).
    enum class State { Closed, Closing, Open };
    State PortState() const { return portState_; }
    TVaxoWin32Dispatcher* CurrentDispatcher();
    // The device hung up (peer gone, adapter pulled) while the port is open, or the port was
    // lost that way.
    bool LineHungUp();
    // The device went away while the port was open (adapter pulled, board switched off): the
    // port then closed by itself, its triggers gone with it, and stays lost until it opens
    // again or ClearLoss. OnPortLost runs once for each loss, after the close was announced.
    bool Lost() const { return lost_; }
    // The path of the device that went away; empty while not lost.
    const std::string& LostDevice() const { return lostDevice_; }
    // The device path (or network address) ComNumber stands for; empty when it has none.
    std::string DevicePath() const;
    // What the user should know about the port's line, whatever its state: a raw TCP port
    // carries the bytes only. Empty for other ports.
    std::string LineNote() const;
    void ClearLoss();
    const TNotifyEvent& OnPortLost() const { return onPortLost_; }
    void SetOnPortLost(TNotifyEvent e) { onPortLost_ = std::move(e); }
    TVaxoWin32Dispatcher* RequireDispatcher();
    bool CtsSignal();
    bool DsrSignal();
    bool DcdSignal();
    bool RingSignal();
    std::uint16_t PendingLineError();
    bool PendingBreak();
    std::uint16_t InputCount();
    std::uint16_t OutputCount();
    std::uint16_t OutputRoom();
    // Bytes the driver holds for output, not yet on the line: -1 while the port is not open
    // and where the driver does not tell (pseudo-terminals).
    std::int32_t DriverOutputCount();
    // Bytes handed to the driver since the component was made, over all its openings: what
    // the driver accepted, without output discarded before that.
    std::uint64_t OutputHanded() const;
    void AddNotifyWindow(QObject* window);
    void AddNotifyProc(TPortNotifyProc proc, void* context);
    void RemoveNotifyWindow(QObject* window);
    void RemoveNotifyProc(TPortNotifyProc proc, void* context);
    void DiscardInput();
    void DiscardOutput();
    // A 250 ms break on the line; returns when it has ended. Raises when the port is closed or
    // the device refuses.
    void SendBreak();
    void RequestOpenOnLoad();
    std::uint16_t NewTextTrigger(const std::string& text, bool ignoreCase);
    std::uint16_t NewTimerTrigger();
    std::uint16_t NewStatusTrigger(std::uint16_t kind);
    void DropTrigger(std::uint16_t handle);
    void ArmTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool activate);
    void ArmStatusTrigger(std::uint16_t handle, std::uint16_t value, bool activate);
    bool InputWaiting();
    char PeekInput(std::uint16_t index);
    char ReadChar();
    void ReadBlock(void* buffer, std::uint16_t length);
    void WriteChar(char c);
    void WriteText(const std::string& text);
    void WriteBlock(const void* buffer, std::uint16_t length);
    // Takes input until the text has arrived or the ticks have run out, passing each byte to
    // the WaitChar handler; the calling thread does nothing else meanwhile. For a caller with
    // other work to do, the input wait below does the same one look at a time.
    bool AwaitText(const std::string& text, std::int32_t ticks, bool yield, bool ignoreCase);
    // Takes input, each byte through the WaitChar handler, until none has come for `quiet` or
    // `limit` has passed; returns how many bytes it took. Measured in milliseconds, not ticks:
    // a tick's wait ends anywhere between 0 and 55 ms.
    std::size_t AwaitQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit);

    // A wait for input that the caller drives itself, one look at a time, while its thread
    // goes on with other work (other ports, the window). From BeginInputWait to EndInputWait
    // the dispatcher neither tests nor delivers triggers (the bytes taken are scanned
    // afterwards, as for AwaitText); each TakeWaitingInput passes the bytes that have arrived
    // to the WaitChar handler until `done` says one of them ends the wait. Closing the port
    // ends the wait. One wait at a time; Begin raises when the port is not open.
    enum class InputWaitState {
        Open,  // no byte ended it; more may come
        Found, // a byte ended it (bytes after it stay in the input)
        Lost,  // the port closed, or the device hung up and its last bytes are taken
    };
    void BeginInputWait();
    InputWaitState TakeWaitingInput(const std::function<bool(char)>& done);
    void EndInputWait();
    bool InputWaitActive() const { return awaiting_; }

    // Hooks called after the notify list on open and close (the program assigns neither).
    std::function<void(TVaxoCustomComPort&)> PortOpenHook;
    std::function<void(TVaxoCustomComPort&)> PortCloseHook;

private:
    // Rate, parity, data and stop bits to the open device.
    void ApplyLineSettings();
    // Flow levels left unset or out of range become these shares of the input size.
    void DefaultFlowLevels(int fullPercent, int resumePercent);
    // DTR or RTS: kept as the property, and driven on the open device.
    void DriveControlLine(bool v, bool& kept, int (TVaxoBaseDispatcher::*drive)(int));
    void MakeDispatcher();
    void StartDevice();
    void SetupNotifyWindow(bool create);
    void EnsureComNumber();
    void FireTrigger(std::uint16_t Msg, std::uint16_t TriggerHandle, std::uint16_t Data);
    void FireTriggerAvail(std::uint16_t Count);
    void FireTriggerData(std::uint16_t TriggerHandle);
    void FireTriggerStatus(std::uint16_t TriggerHandle);
    void FireTriggerTimer(std::uint16_t TriggerHandle);
    void SyncHandlerState();
    void FireTriggerLineError(std::uint16_t Error, bool LineBreak);
    void FireTriggerModemStatus();
    void FireTriggerOutbuffFree();
    void FireTriggerOutbuffUsed();
    void FireTriggerOutSent();
    void FireWaitChar(char c);
    // The blocking waits: looks until `done` ends the wait, `expired` says the time is up,
    // the port goes or the device has hung up; between looks it processes events (yield) or
    // sleeps a millisecond. Terminating: the application is closing down.
    enum class WaitEnd { Found, Expired, Lost, Terminating };
    WaitEnd WaitForInput(const std::function<bool(char)>& done,
                         const std::function<bool()>& expired, bool yield);
    void ClosePort();
    void YieldToDevice();
    void OpenPort();
    void AnnouncePortOpen();
    void AnnouncePortClose();
    // The registered windows and routines, last first, then the hook.
    void AnnouncePort(bool opened);

private:
    friend class VxComWindow;
    // The notification window's handling of one dispatcher notification.
    void HandleNotification(std::uint32_t msg, std::uint32_t wParam, std::uint32_t lParam);
    void FinishDeferredClose();
    // Runs on the GUI thread for the dispatcher of the opening numbered serial.
    void DeviceWentAway(std::uint64_t serial);
    std::string DeviceName() const; // "\\.\COMn"
    void ReleaseDispatcher();
    int Check(int result) const; // ErrorToException with the loading state
    void ReapplyFlow();

    TDeviceLayer deviceLayer_ = dlWin32;
    std::uint16_t comNumber_ = 0;
    std::int32_t baud_ = 19200;
    bool promptForPort_ = true;
    TParity parity_ = pNone;
    std::uint16_t dataBits_ = 8;
    std::uint16_t stopBits_ = 1;
    std::uint16_t inSize_ = 4096;
    std::uint16_t outSize_ = 4096;
    bool autoOpen_ = true;
    bool open_ = false;
    bool dtr_ = true;
    bool rts_ = true;
    THWFlowOptionSet hwFlow_ = 0;
    TSWFlowOptions swFlow_ = swfNone;
    char xonChar_ = 17;
    char xoffChar_ = 19;
    std::uint16_t bufferFull_ = 0;
    std::uint16_t bufferResume_ = 0;
    TTraceLogState tracing_ = tlOff;
    std::uint32_t traceSize_ = 10000;
    std::string traceName_ = "VAXO.TRC";
    bool traceHex_ = true;
    TTraceLogState logging_ = tlOff;
    std::uint32_t logSize_ = 10000;
    std::string logName_ = "VAXO.LOG";
    bool logHex_ = true;
    bool useEventWord_ = true;
    std::uint16_t commNotificationLevel_ = 10;
    TTapiMode tapiMode_ = tmAuto;
    bool rs485Mode_ = false;
    std::uint8_t workerPriority_ = 0;
    std::uint16_t availLength_ = 1;
    int tag_ = 0;

    TTriggerEvent onTrigger_;
    TTriggerAvailEvent onTriggerAvail_;
    TTriggerDataEvent onTriggerData_;
    TTriggerStatusEvent onTriggerStatus_;
    TTriggerTimerEvent onTriggerTimer_;
    TTriggerLineErrorEvent onTriggerLineError_;
    TNotifyEvent onTriggerModemStatus_;
    TNotifyEvent onTriggerOutbuffFree_;
    TNotifyEvent onTriggerOutbuffUsed_;
    TNotifyEvent onTriggerOutSent_;
    TWaitCharEvent onWaitChar_;
    TNotifyEvent onPortLost_;

    bool forceApply_ = false;
    State portState_ = State::Closed;
    bool reopenPending_ = false;
    bool openOnLoad_ = false;
    bool loading_ = false;
    // An input wait runs: the dispatcher must not go away under it. waitWasDelivering_ is the
    // dispatcher's waiting flag as the wait found it.
    bool awaiting_ = false;
    bool waitWasDelivering_ = false;
    bool lost_ = false;
    std::string lostDevice_;
    std::uint64_t openSerial_ = 0; // counts openings, so a late loss notice finds its own
    struct Registration {
        QObject* window = nullptr;
        TPortNotifyProc proc = nullptr;
        void* context = nullptr;
    };
    std::vector<Registration> notifyList_;
    bool triggersSaved_ = false;
    TriggerSaveRecord savedTriggers_;
    std::unique_ptr<VxComWindow> notifyWindow_;
    std::unique_ptr<TVaxoWin32Dispatcher> dispatcher_;
    std::uint64_t handedBefore_ = 0; // OutputHanded of the dispatchers released so far
};

// The component as the program places it: all logic is in TVaxoCustomComPort.
class TVaxoComPort final : public TVaxoCustomComPort {
    Q_OBJECT
public:
    explicit TVaxoComPort(QObject* owner = nullptr) : TVaxoCustomComPort(owner) {}
};

// "COM" followed by the decimal number.
std::string PortNameOf(int number);

} // namespace pellwick
