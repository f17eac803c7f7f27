// Test doubles for the upload engine: a link that records what it is asked and answers from a
// script, and a window that records its controls.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/LinkInterfaces.h"
#include "support/ScriptedBoxes.h"
#include "upload/IUploadWindow.h"

namespace pellwick::test {

class FakeLink : public ILinkOperations {
public:
    bool RoomFor(std::size_t) override {
        if (NoRoomLooks > 0) {
            --NoRoomLooks;
            return false;
        }
        return true;
    }
    void WriteString(const std::string& text) override {
        Calls.push_back("SendDataString");
        if (!ThrowOnSend.empty() && text == ThrowOnSend) {
            throw std::runtime_error(ThrowMessage);
        }
        Sent.push_back(text);
        if (OnSend) {
            OnSend(text);
        }
    }
    // The answer is there at the first look, unless the device says nothing: an "ERROR" with no
    // reply is silence, and the engine's own deadline ends the wait.
    void BeginCommand(const std::string& text) override {
        Calls.push_back("SendInitCmd");
        InitCmds.push_back(text);
        if (ThrowOnInitCmd) {
            throw std::runtime_error(ThrowMessage);
        }
        answer_ = "OK";
        if (!Answers.empty()) {
            answer_ = Answers.front();
            Answers.pop_front();
        }
        LinkStateValue.ReplyText.clear();
        if (!Replies.empty()) {
            LinkStateValue.ReplyText = Replies.front();
            Replies.pop_front();
        }
        // A prompt left in the input ends the wait before the device's own answer.
        if (StalePrompt) {
            answer_ = "OK";
        }
        silent_ = answer_ == "ERROR" && LinkStateValue.ReplyText.empty();
    }
    InputLook TakeAnswer() override {
        if (HungUp) {
            return InputLook::Gone;
        }
        return silent_ ? InputLook::Waiting : InputLook::Done;
    }
    std::string EndCommand() override {
        if (OnInitCmd) {
            OnInitCmd();
        }
        return answer_;
    }
    void BeginTakeInput() override {
        Calls.push_back("TakeInput");
        StalePrompt = false;
        taken_.clear();
        if (!Stale.empty()) {
            taken_ = Stale.front();
            Stale.pop_front();
        }
        told_ = false;
    }
    InputLook TakeArrived(std::size_t& taken) override {
        if (!told_) {
            taken += taken_.size();
            told_ = true;
        }
        return HungUp ? InputLook::Gone : InputLook::Waiting;
    }
    std::string EndTakeInput() override { return taken_; }
    std::chrono::milliseconds QuietTime() const override { return InputQuietShortest; }

    void SendBuffer(const std::uint8_t* bytes, std::uint32_t count) override {
        Calls.push_back("SendBuffer");
        if (ThrowOnSendBuffer) {
            throw std::runtime_error(ThrowMessage);
        }
        Transfers.emplace_back(bytes, bytes + count);
        LinkStateValue.BlockCursor = bytes;
        TransferEnd = bytes + count;
        StopRequestAtTransferStart.push_back(StopRequest);
        TransferPending = true;
        Frozen = false;
    }
    void SetUploadMode(bool on) override {
        Calls.push_back("SetUploadMode");
        UploadMode = on;
    }
    void SetStopRequest(bool on) override {
        Calls.push_back(on ? "SetStopRequest(true)" : "SetStopRequest(false)");
        StopRequest = on;
    }
    void DiscardOutput() override { Calls.push_back("DiscardOutput"); }
    void StopTransfer() override {
        Calls.push_back("StopTransfer");
        FreezeProgress();
    }
    std::string TransferHeld() override { return TransferPending ? HeldCause : std::string(); }
    bool SCommOpen() override { return true; }
    bool TriggersReady() override { return true; }
    bool TransferRunning() const override { return TransferPending; }
    void SetRunActive(bool on) override { RunActive = on; }
    void SetHost(ILinkHost* host) override { Host = host; }
    bool LineHungUp() override { return HungUp; }
    const LinkState& State() const override { return LinkStateValue; }
    // The last transfer as far as its cursor got; its bytes count as on the line at once.
    TransferProgress Progress() const override {
        TransferProgress progress;
        if (Transfers.empty()) {
            return progress;
        }
        progress.Started = true;
        progress.Total = static_cast<std::int32_t>(Transfers.back().size());
        progress.Handed = LinkStateValue.BlockCursor - (TransferEnd - progress.Total);
        progress.OnLine = Frozen ? FrozenOnLine : progress.Handed;
        progress.Frozen = Frozen;
        progress.Drained = !TransferPending;
        progress.Seconds = TransferSeconds;
        progress.SecondsLeft = SecondsLeft;
        return progress;
    }
    void FreezeProgress() override {
        if (!Frozen && !Transfers.empty()) {
            FrozenOnLine = Progress().OnLine;
            Frozen = true;
        }
    }

    std::vector<std::string> Calls; // every operation in order
    std::vector<std::string> Sent;
    std::vector<std::string> InitCmds;
    std::deque<std::string> Answers; // command answers; "OK" when empty
    std::deque<std::string> Replies; // command reply texts; empty when none is left
    std::function<void()> OnInitCmd; // runs as an exchange ends, as a trigger handler would
    bool StalePrompt = false;        // a prompt waits in the input until TakeInput
    std::deque<std::string> Stale;   // what each TakeInput finds; nothing when none is left
    int NoRoomLooks = 0;             // looks that find no room for a string
    bool HungUp = false;
    std::string HeldCause; // what TransferHeld says while a transfer runs
    LinkState LinkStateValue;
    const std::uint8_t* TransferEnd = nullptr;
    double TransferSeconds = 0.5;
    double SecondsLeft = 0;
    bool Frozen = false;
    std::int64_t FrozenOnLine = 0;
    std::vector<std::vector<std::uint8_t>> Transfers;
    std::vector<bool> StopRequestAtTransferStart;
    bool TransferPending = false;
    bool UploadMode = false;
    bool RunActive = false;
    ILinkHost* Host = nullptr;
    bool StopRequest = false; // kept as set: this link does not clear it at transfer start
    std::function<void(const std::string&)> OnSend; // runs after a string went out
    std::string ThrowOnSend;
    bool ThrowOnInitCmd = false;
    bool ThrowOnSendBuffer = false;
    std::string ThrowMessage = "Port not open";

private:
    std::string answer_ = "OK";
    bool silent_ = false;
    std::string taken_;
    bool told_ = false;
};

class FakeWindow : public IUploadWindow {
public:
    void SetScriptGauge(int percent) override { ScriptGauge.push_back(percent); }
    void SetUploadGauge(int percent) override { UploadGauge.push_back(percent); }
    void SetUploadLabel(const std::string& text) override { Labels.push_back(text); }
    void SetComLamp(LampColour colour) override { Lamp = colour; }
    void ShowProgress(bool visible) override { ProgressVisible = visible; }
    void SetUploadBtnState(bool on) override { IdleControls = on; }
    bool TerminalExists() const override { return TerminalCreated; }
    void SetTerminalActive(bool active) override { TerminalActive.push_back(active); }
    bool ChooseScriptFile(std::string& path) override {
        ++ChooserCalls;
        if (!ChosenScript) {
            return false;
        }
        path = *ChosenScript;
        return true;
    }

    std::vector<int> ScriptGauge;
    std::vector<int> UploadGauge;
    std::vector<std::string> Labels;
    LampColour Lamp = LampRed;
    bool ProgressVisible = false;
    bool IdleControls = true;
    bool TerminalCreated = false;
    std::vector<bool> TerminalActive;
    std::optional<std::string> ChosenScript;
    int ChooserCalls = 0;
};

} // namespace pellwick::test
