#include "upload/headless/HeadlessUploadWindow.h"

#include <chrono>
#include <thread>
#include <unistd.h>

namespace pellwick {

HeadlessUploadWindow::HeadlessUploadWindow(std::FILE* out)
    : out_(out), tty_(isatty(fileno(out)) != 0) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
        if (tick_) {
            tick_();
        }
    });
}

void HeadlessUploadWindow::SetScriptGauge(int percent) {
    script_ = percent;
    Report(false);
}

void HeadlessUploadWindow::SetUploadGauge(int percent) {
    upload_ = percent;
    Report(false);
}

void HeadlessUploadWindow::SetUploadLabel(const std::string& text) {
    label_ = text;
    Report(true);
}

void HeadlessUploadWindow::ShowProgress(bool) {}

void HeadlessUploadWindow::SetUploadBtnState(bool on) {
    if (on) {
        BreakLine();
        if (ended_) {
            ended_();
        }
    }
}

void HeadlessUploadWindow::SetScriptTimerEnabled(bool on) {
    if (on) {
        timer_.start();
    } else {
        timer_.stop();
    }
}

void HeadlessUploadWindow::Sleep(std::int32_t milliseconds) {
    // The GUI thread blocks here exactly as the window's sleep does.
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void HeadlessUploadWindow::BreakLine() {
    if (lineOpen_) {
        std::fputc('\n', out_);
        lineOpen_ = false;
    }
}

void HeadlessUploadWindow::Report(bool force) {
    if (tty_) {
        if (script_ == lastScript_ && upload_ == lastUpload_ && label_ == lastLabel_) {
            return;
        }
        std::fprintf(out_, "\r\033[Kscript %3d %%  %s %3d %%", script_, label_.c_str(), upload_);
        std::fflush(out_);
        lineOpen_ = true;
    } else {
        // Plain lines: a new label, and the upload gauge in steps of ten.
        const bool labelChanged = label_ != lastLabel_;
        const bool uploadStep =
            upload_ / 10 != lastUpload_ / 10 || (upload_ == 100 && lastUpload_ != 100);
        if (!force && !labelChanged && !uploadStep) {
            lastScript_ = script_;
            return;
        }
        std::fprintf(out_, "progress: script %d %%, %s %d %%\n", script_, label_.c_str(), upload_);
        std::fflush(out_);
    }
    lastScript_ = script_;
    lastUpload_ = upload_;
    lastLabel_ = label_;
}

} // namespace pellwick
