// Test doubles and helpers for the main window tests: a link that records what the engine asks
// of it, a working folder of its own, and waiting on the event loop.
#pragma once

#include <QWidget>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/LinkInterfaces.h"
#include "serial/TVaxoCustomComPort.h"
#include "support/PumpUntil.h"
#include "support/ScriptedBoxes.h"
#include "support/TempFolder.h"

namespace pellwick::test {

// Records the engine's calls; answers commands from Answers ("OK" when none is left). A block
// transfer is held until Drain() unless AutoDrain is set, in which case it drains on its own
// shortly after it started.
class RecordingLink : public ILinkOperations {
public:
    ILinkHost* Host = nullptr;
    TVaxoCustomComPort* Port = nullptr;
    bool Open = true;
    bool AutoDrain = true;
    std::deque<std::string> Answers;
    std::vector<std::string> Sent;   // strings sent, commands among them
    std::vector<std::string> Blocks; // the bytes of each SendBuffer
    std::vector<bool> UploadModes;   // each SetUploadMode
    std::vector<bool> StopRequests;  // each SetStopRequest
    bool Transferring = false;
    bool RunActive = false;

    bool RoomFor(std::size_t) override { return true; }
    void WriteString(const std::string& text) override { Sent.push_back(text); }
    void BeginCommand(const std::string& text) override;
    InputLook TakeAnswer() override { return InputLook::Done; }
    std::string EndCommand() override { return answer_; }
    void BeginTakeInput() override {}
    InputLook TakeArrived(std::size_t&) override { return InputLook::Gone; }
    std::string EndTakeInput() override { return {}; }
    std::chrono::milliseconds QuietTime() const override { return InputQuietShortest; }
    void SendBuffer(const std::uint8_t* bytes, std::uint32_t count) override;
    void SetUploadMode(bool on) override { UploadModes.push_back(on); }
    void SetStopRequest(bool on) override { StopRequests.push_back(on); }
    void StopTransfer() override;
    void DiscardOutput() override {}
    std::string TransferHeld() override { return {}; }
    // A real port, when the test has one, says whether it is open and whether it was lost.
    bool SCommOpen() override { return Port != nullptr ? Port->Open() : Open; }
    bool TriggersReady() override { return SCommOpen() && TriggersMade; }
    bool TransferRunning() const override { return Transferring; }
    void SetRunActive(bool on) override { RunActive = on; }
    void SetHost(ILinkHost* host) override { Host = host; }
    bool LineHungUp() override { return Port != nullptr && Port->LineHungUp(); }
    const LinkState& State() const override { return LinkStateValue; }
    LinkState LinkStateValue;
    bool TriggersMade = true; // false: the port opened without a trigger it needs

    // Ends the running transfer as the link does once the output has drained.
    void Drain();

private:
    std::string answer_ = "OK";
};

// Makes a fresh folder the current directory for the life of the object.
class WorkFolder {
public:
    WorkFolder();
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const std::string& Path() const { return folder_.Path(); }
    std::string File(const std::string& name) const { return folder_.File(name); }
    void Write(const std::string& name, const std::string& content) const;
    std::string Read(const std::string& name) const;

private:
    std::string previous_;
    TempFolder folder_;
};

// Calls `action` with the first modal widget of type T that appears (polling the event loop).
template <typename T> void WhenModal(std::function<void(T*)> action);
void WhenModalWidget(std::function<bool(QWidget*)> action);

template <typename T> void WhenModal(std::function<void(T*)> action) {
    WhenModalWidget([action](QWidget* w) {
        if (auto* t = qobject_cast<T*>(w)) {
            action(t);
            return true;
        }
        return false;
    });
}

} // namespace pellwick::test
