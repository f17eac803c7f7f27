// Test doubles for the link: a scripted port and a host that records its calls; the shared
// message boxes beside them.
#pragma once

#include "link/ILinkPort.h"
#include "link/LinkInterfaces.h"
#include "support/ScriptedBoxes.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace pellwick::test {

// A port without a device: it keeps what is written, answers from a scripted input, keeps the
// triggers it was asked for, and refuses like the real port when it is closed.
class FakeLinkPort : public ILinkPort {
public:
    struct TextTrigger {
        std::string Text;
        bool IgnoreCase;
    };

    void SetHandlers(LinkPortHandlers handlers) override { H = std::move(handlers); }
    bool Open() const override { return IsOpen; }
    void SetOpen(bool open) override {
        Log.push_back(open ? "Open" : "Close");
        if (open && FailOpen)
            throw std::runtime_error("ie_BadId - Specified comport doesn't exist");
        // Closing takes the triggers with it, as the real port's dispatcher does.
        if (!open) {
            TextTriggers.clear();
            StatusTriggers.clear();
        }
        IsOpen = open;
    }
    void SetComNumber(std::uint16_t n) override { Log.push_back("ComNumber " + std::to_string(n)); }
    void SetBaud(std::int32_t b) override { Log.push_back("Baud " + std::to_string(b)); }
    void SetDataBits(std::uint16_t b) override { Log.push_back("DataBits " + std::to_string(b)); }
    void SetParityCode(std::uint8_t c) override { Log.push_back("Parity " + std::to_string(c)); }
    void SetStopBits(std::uint16_t b) override { Log.push_back("StopBits " + std::to_string(b)); }
    void SetHWFlowOptions(std::uint8_t o) override {
        Log.push_back("Flow " + std::to_string(o));
        FlowOptions = o;
    }
    void SetDTR(bool on) override { Log.push_back(std::string("DTR ") + (on ? "1" : "0")); }
    void SetRTS(bool on) override { Log.push_back(std::string("RTS ") + (on ? "1" : "0")); }
    void SetOutSize(std::uint16_t s) override { Log.push_back("OutSize " + std::to_string(s)); }
    int Tag() const override { return TagValue; }
    void SetTag(int tag) override { TagValue = tag; }

    std::uint16_t OutputRoom() override { return IsOpen ? Room : 4096; }
    std::uint16_t OutputCount() override { return IsOpen ? static_cast<std::uint16_t>(Ring) : 0; }
    std::uint64_t OutputHanded() override { return Handed; }
    std::int32_t DriverOutputCount() override { return IsOpen ? DriverQueue : -1; }
    double BytesPerSecond() const override { return LineRate; }
    bool UntoldQueueBounded() const override { return Bounded; }
    std::uint16_t InputCount() override {
        RequireOpen();
        return static_cast<std::uint16_t>(Input.size());
    }
    std::uint16_t PendingLineError() override { return IsOpen ? LineError : 0; }
    void WriteChar(char c) override {
        RequireOpen();
        Output.push_back(c);
        Queue(1);
    }
    void WriteText(const std::string& text) override {
        RequireOpen();
        Output += text;
        Queue(text.size());
        Log.push_back("WriteText");
        if (Answer)
            Arrive(Answer(text));
    }
    void WriteBlock(const void* buffer, std::uint16_t length) override {
        RequireOpen();
        Output.append(static_cast<const char*>(buffer), length);
        Queue(length);
        Blocks.push_back(length);
        Log.push_back("WriteBlock " + std::to_string(length));
    }
    void ReadBlock(void* buffer, std::uint16_t length) override {
        RequireOpen();
        if (length > Input.size())
            throw std::runtime_error("not that much input");
        std::copy_n(Input.begin(), length, static_cast<char*>(buffer));
        Input.erase(0, length);
    }
    char PeekInput(std::uint16_t index) override {
        RequireOpen();
        if (index == 0 || index > Input.size())
            throw std::runtime_error("no such byte");
        return Input[index - 1];
    }
    void DiscardInput() override {
        RequireOpen();
        Input.clear();
        Log.push_back("DiscardInput");
    }
    void DiscardOutput() override {
        RequireOpen();
        Ring = 0;
        Log.push_back("DiscardOutput");
    }
    std::uint16_t NewTextTrigger(const std::string& text, bool ignoreCase) override {
        RequireOpen();
        if (text.size() > 21)
            throw std::runtime_error("trigger string too long");
        TextTriggers[++lastHandle_] = {text, ignoreCase};
        return lastHandle_;
    }
    std::uint16_t NewStatusTrigger(std::uint16_t kind) override {
        RequireOpen();
        StatusTriggers[++lastHandle_] = kind;
        return lastHandle_;
    }
    void DropTrigger(std::uint16_t handle) override {
        if (!IsOpen)
            return;
        if (TextTriggers.erase(handle) + StatusTriggers.erase(handle) == 0)
            throw std::runtime_error("unknown trigger");
    }
    void ArmStatusTrigger(std::uint16_t handle, std::uint16_t value, bool activate) override {
        RequireOpen();
        Log.push_back("Arm " + std::to_string(StatusTriggers.at(handle)) + " " +
                      std::to_string(value) + (activate ? "" : " off"));
    }
    bool HungUp() override { return IsOpen && LineGone; }
    // Takes the scripted input byte by byte until `done` ends the wait; running out of input
    // ends it too, as if the line had gone quiet for good.
    void BeginInputWait() override {
        RequireOpen();
        Waits.push_back("begin");
        Waiting = true;
    }
    InputLook TakeWaitingInput(const std::function<bool(char)>& done) override {
        if (!IsOpen)
            return InputLook::Gone;
        while (!Input.empty()) {
            const char c = Input.front();
            Input.erase(0, 1);
            if (H.WaitChar)
                H.WaitChar(c);
            if (done(c))
                return InputLook::Done;
        }
        return InputLook::Gone;
    }
    void EndInputWait() override {
        Waits.push_back("end");
        Waiting = false;
    }
    bool CtsSignal() override { return IsOpen && Cts; }
    std::uint8_t HWFlowOptions() const override { return FlowOptions; }

    // Bytes from the device. As on the real port, a data trigger they complete fires at once
    // unless an input wait runs, which takes them itself.
    void Arrive(const std::string& bytes) {
        Input += bytes;
        if (Waiting || !H.TriggerData)
            return;
        for (const auto& [handle, trigger] : std::map(TextTriggers))
            if (!trigger.Text.empty() && Input.find(trigger.Text) != std::string::npos)
                H.TriggerData(handle);
    }

    // The driver takes n of the bytes waiting in the buffer.
    void HandOver(std::size_t n) {
        n = std::min(n, Ring);
        Ring -= n;
        Handed += n;
    }

    std::uint16_t TriggerOfText(const std::string& text) const {
        for (const auto& [handle, trigger] : TextTriggers)
            if (trigger.Text == text)
                return handle;
        return 0;
    }

    LinkPortHandlers H;
    bool IsOpen = false;
    bool LineGone = false; // the device hung up
    bool FailOpen = false;
    int TagValue = 0;
    std::uint16_t Room = 4096;
    // Output goes straight to the driver (Handed), or waits in the buffer (Ring) while
    // HoldOutput is set. A line rate of 0 is unknown.
    bool HoldOutput = false;
    std::size_t Ring = 0;
    std::uint64_t Handed = 0;
    std::int32_t DriverQueue = -1;
    double LineRate = 0;
    bool Bounded = true; // an untold driver holds at most a terminal's buffer
    std::uint16_t LineError = 0;
    std::string Input;
    std::string Output;
    std::vector<std::uint16_t> Blocks;
    std::vector<std::string> Log;
    std::function<std::string(const std::string& sent)> Answer;
    std::map<std::uint16_t, TextTrigger> TextTriggers;
    std::map<std::uint16_t, std::uint16_t> StatusTriggers;
    std::vector<std::string> Waits; // "begin" and "end" of each input wait
    bool Waiting = false;
    std::uint8_t FlowOptions = 0;
    bool Cts = false;

private:
    void Queue(std::size_t n) {
        if (HoldOutput)
            Ring += n;
        else
            Handed += n;
    }
    void RequireOpen() const {
        if (!IsOpen)
            throw std::runtime_error("ie_NOpen - device not open");
    }
    std::uint16_t lastHandle_ = 0;
};

class FakeLinkHost : public ILinkHost {
public:
    void SetScriptError() override { Calls.push_back("SetScriptError"); }
    void SetULError() override { Calls.push_back("SetULError"); }
    void EnableScriptTimer() override { Calls.push_back("EnableScriptTimer"); }
    void SetUploadGauge(int percent) override { Gauge.push_back(percent); }
    void SetComBtnState(bool on) override { ComBtnState.push_back(on); }

    std::vector<std::string> Calls;
    std::vector<int> Gauge;
    std::vector<bool> ComBtnState;
};

} // namespace pellwick::test
