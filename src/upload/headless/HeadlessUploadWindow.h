// The upload window of the headless runner: no widgets. Progress goes to standard error (one
// updating line on a terminal, plain lines otherwise), the script timer is a QTimer, and the
// end of a run (the idle controls coming back) ends the event loop.
#pragma once

#include "upload/IUploadWindow.h"

#include <QObject>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <string>

namespace pellwick {

class HeadlessUploadWindow : public QObject, public IUploadWindow {
    Q_OBJECT
public:
    explicit HeadlessUploadWindow(std::FILE* out);

    // Runs on each script-timer tick.
    void SetTickHandler(std::function<void()> tick) { tick_ = std::move(tick); }
    // Runs when a run has ended (the idle controls are restored).
    void SetRunEndedHandler(std::function<void()> ended) { ended_ = std::move(ended); }
    // The lamp's last colour: red after an error report.
    LampColour Lamp() const { return lamp_; }
    // Ends an updating progress line, so that the next output starts on a line of its own.
    void BreakLine();

    void SetScriptGauge(int percent) override;
    void SetUploadGauge(int percent) override;
    void SetUploadLabel(const std::string& text) override;
    void SetComLamp(LampColour colour) override { lamp_ = colour; }
    void ShowProgress(bool visible) override;
    void SetUploadBtnState(bool on) override;
    void SetScriptTimerEnabled(bool on) override;
    bool TerminalExists() const override { return false; }
    void SetTerminalActive(bool) override {}
    void Sleep(std::int32_t milliseconds) override;
    bool ChooseScriptFile(std::string&) override { return false; }

private:
    void Report(bool force);

    std::FILE* out_;
    bool tty_;
    QTimer timer_;
    std::function<void()> tick_;
    std::function<void()> ended_;
    LampColour lamp_ = LampRed;
    int script_ = 0;
    int upload_ = 0;
    std::string label_ = "Upload Progress";
    int lastScript_ = -1, lastUpload_ = -1;
    std::string lastLabel_;
    bool lineOpen_ = false;
};

} // namespace pellwick
