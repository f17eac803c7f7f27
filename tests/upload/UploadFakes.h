// Test doubles for the upload engine: a link that records what it is asked and answers from a
// script and a window that records its controls.
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
    void SendDataString(const std::string& text) override {
        Calls.push_back("SendDataString");
        if (!ThrowOnSend.empty() && text == ThrowOnSend) {
            throw std::runtime_error(ThrowMessage);
        }
        Sent.push_back(text);
        if (OnSend) {
            OnSend(text);
        }
    }
    void SendInitCmd(const std::string& text, std::string& answer) override {
        Calls.push_back("SendInitCmd");
        InitCmds.push_back(text);
        if (ThrowOnInitCmd) {
            throw std::runtime_error(ThrowMessage);
        }
        answer = "OK";
        if (!Answers.empty()) {
            answer = Answers.front();
            Answers.pop_front();
        }
        LinkStateValue.ReplyText.clear();
        if (!Replies.empty()) {
            LinkStateValue.ReplyText = Replies.front();
            Replies.pop_front();
        }
        // A prompt left in the input ends the wait before the device's own answer.
        if (StalePrompt) {
            answer = "OK";
        }
        if (OnInitCmd) {
            OnInitCmd();
        }
    }
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
    }
    void SetUploadMode(bool on) override {
        Calls.push_back("SetUploadMode");
        UploadMode = on;
    }
    void SetStopRequest(bool on) override {
        Calls.push_back(on ? "SetStopRequest(true)" : "SetStopRequest(false)");
        StopRequest = on;
    }
    bool SCommOpen() override { return true; }
    bool TransferRunning() const override { return TransferPending; }
    void SetRunActive(bool on) override { RunActive = on; }
    void SetHost(ILinkHost* host) override { Host = host; }
    std::string TakeInput() override {
        Calls.push_back("TakeInput");
        StalePrompt = false;
        std::string taken;
        if (!Stale.empty()) {
            taken = Stale.front();
            Stale.pop_front();
        }
        return taken;
    }
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
        progress.OnLine = progress.Handed;
        progress.Drained = !TransferPending;
        progress.Seconds = TransferSeconds;
        return progress;
    }

    std::vector<std::string> Calls; // every operation in order
    std::vector<std::string> Sent;
    std::vector<std::string> InitCmds;
    std::deque<std::string> Answers; // SendInitCmd answers; "OK" when empty
    std::deque<std::string> Replies; // SendInitCmd reply texts; empty when none is left
    std::function<void()> OnInitCmd; // runs after an exchange, as a trigger handler would
    bool StalePrompt = false;        // a prompt waits in the input until TakeInput
    std::deque<std::string> Stale;   // what each TakeInput finds; nothing when none is left
    bool HungUp = false;
    LinkState LinkStateValue;
    const std::uint8_t* TransferEnd = nullptr;
    double TransferSeconds = 0.5;
    std::vector<std::vector<std::uint8_t>> Transfers;
    std::vector<bool> StopRequestAtTransferStart;
    bool TransferPending = false;
    bool UploadMode = false;
    bool RunActive = false;
    ILinkHost* Host = nullptr;
    bool StopRequest = false; // kept as set: this link does not clear it at transfer start
    std::function<void(const std::string&)> OnSend; // as if messages ran while sending
    std::string ThrowOnSend;
    bool ThrowOnInitCmd = false;
    bool ThrowOnSendBuffer = false;
    std::string ThrowMessage = "Port not open";
};

class FakeWindow : public IUploadWindow {
public:
    void SetScriptGauge(int percent) override { ScriptGauge.push_back(percent); }
    void SetUploadGauge(int percent) override { UploadGauge.push_back(percent); }
    void SetUploadLabel(const std::string& text) override { Labels.push_back(text); }
    void SetComLamp(LampColour colour) override { Lamp = colour; }
    void ShowProgress(bool visible) override { ProgressVisible = visible; }
    void SetUploadBtnState(bool on) override { IdleControls = on; }
    void SetScriptTimerEnabled(bool on) override { Timer = on; }
    bool TerminalExists() const override { return TerminalCreated; }
    void SetTerminalActive(bool active) override { TerminalActive.push_back(active); }
    void Sleep(std::int32_t milliseconds) override {
        Sleeps.push_back(milliseconds);
        if (Journal != nullptr) {
            Journal->push_back("Sleep " + std::to_string(milliseconds));
        }
    }
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
    bool Timer = false;
    bool TerminalCreated = false;
    std::vector<bool> TerminalActive;
    std::vector<std::int32_t> Sleeps;
    std::vector<std::string>* Journal = nullptr; // sleeps go into the link's call list
    std::optional<std::string> ChosenScript;
    int ChooserCalls = 0;
};

} // namespace pellwick::test
