// Follows one upload run from what the engine shows (the upload label, the lamp, the sleeps
// and the message boxes) and turns it into the run report's file entries: one per _LD line of
// the script, with its outcome and its transfer and verification times. It stands between the
// engine and the runner's window and boxes, so the engine needs no report of its own.
#pragma once

#include "serial/MessageBoxes.h"
#include "upload/DateText.h"
#include "upload/IUploadWindow.h"
#include "upload/ScriptRun.h"
#include "upload/headless/RunReport.h"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pellwick {

class RunRecorder {
public:
    // Answers, after a failed verification, whether the device's error string came back.
    using RefusalCheck = std::function<bool()>;

    RunRecorder(IUploadWindow& window, IMessageBoxes& boxes);
    RunRecorder(const RunRecorder&) = delete;
    RunRecorder& operator=(const RunRecorder&) = delete;

    // What the engine and the port's owner use in place of the runner's own window and boxes.
    IUploadWindow& Window() { return window_; }
    IMessageBoxes& Boxes() { return boxes_; }
    // The engine's run, read when a file starts and when the script is listed.
    void Attach(const ScriptRun* run, RefusalCheck refused, DateFormats formats);

    // The script to list when the run never started (the port could not be opened).
    void ListScript(const std::string& path);

    // The entries of every _LD of the script in order: what happened to each file, "not sent"
    // for those the run did not reach. A file still open (the program is ending) counts as
    // cancelled after a cancel, otherwise as not verified.
    std::vector<FileReport> Files() const;
    // The text of the last error box, empty when there was none.
    const std::string& LastError() const { return lastError_; }

private:
    using Clock = std::chrono::steady_clock;
    enum class Phase { Header, Transfer, Verify };

    class WindowTap final : public IUploadWindow {
    public:
        WindowTap(RunRecorder& recorder, IUploadWindow& inner) : r_(recorder), inner_(inner) {}
        void SetScriptGauge(int percent) override { inner_.SetScriptGauge(percent); }
        void SetUploadGauge(int percent) override { inner_.SetUploadGauge(percent); }
        void SetUploadLabel(const std::string& text) override;
        void SetComLamp(LampColour colour) override;
        void ShowProgress(bool visible) override { inner_.ShowProgress(visible); }
        void SetUploadBtnState(bool on) override { inner_.SetUploadBtnState(on); }
        void SetScriptTimerEnabled(bool on) override { inner_.SetScriptTimerEnabled(on); }
        bool TerminalExists() const override { return inner_.TerminalExists(); }
        void SetTerminalActive(bool active) override { inner_.SetTerminalActive(active); }
        void Sleep(std::int32_t milliseconds) override;
        bool ChooseScriptFile(std::string& path) override { return inner_.ChooseScriptFile(path); }

    private:
        RunRecorder& r_;
        IUploadWindow& inner_;
    };

    class BoxTap final : public IMessageBoxes {
    public:
        BoxTap(RunRecorder& recorder, IMessageBoxes& inner) : r_(recorder), inner_(inner) {}
        MsgButton Show(MsgKind kind, const std::string& text, unsigned buttons) override;

    private:
        RunRecorder& r_;
        IMessageBoxes& inner_;
    };

    struct OpenFile {
        int line = 0; // 1-based line of its _LD
        FileReport report;
        Phase phase = Phase::Header;
        Clock::time_point transferStart, verifyStart;
    };

    void FileStarted();
    void VerifyStarted();
    void FileEnded(std::optional<FileOutcome> failure);
    void ErrorShown(const std::string& text);
    FileReport Describe(const std::string& file, const std::string& address,
                        const std::string& version, const std::vector<std::uint8_t>& bytes) const;
    static double Seconds(Clock::time_point from, Clock::time_point to);

    WindowTap window_;
    BoxTap boxes_;
    const ScriptRun* run_ = nullptr;
    RefusalCheck refused_;
    DateFormats formats_;
    std::optional<OpenFile> open_;
    std::map<int, FileReport> done_;   // by the line of their _LD
    int awaitingMessage_ = 0;          // line of a failed file still without its box text
    std::map<int, std::string> notes_; // error boxes of files that never started, by line
    std::string lastError_;
    std::vector<std::string> unrunLines_; // the script of a run that never started
};

} // namespace pellwick
