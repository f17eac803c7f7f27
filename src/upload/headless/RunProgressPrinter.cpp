#include "upload/headless/RunProgressPrinter.h"

#include "upload/run/UploadRun.h"

#include <algorithm>

namespace pellwick {

RunProgressPrinter::RunProgressPrinter(UploadRun& run, std::FILE* out, bool tty)
    : run_(run), out_(out), tty_(tty) {
    connect(&run_, &UploadRun::Changed, this, &RunProgressPrinter::Print);
}

void RunProgressPrinter::BreakLine() {
    if (lineOpen_) {
        std::fputc('\n', out_);
        std::fflush(out_);
        lineOpen_ = false;
    }
}

void RunProgressPrinter::Print() {
    const RunView& view = run_.View();
    if (!view.ProgressVisible) {
        return;
    }
    const int script = view.ScriptPercent;
    const int upload = view.UploadPercent;
    const std::string& label = view.UploadLabel;
    if (tty_) {
        if (script == lastScript_ && upload == lastUpload_ && label == lastLabel_) {
            return;
        }
        std::fprintf(out_, "\r\033[Kscript %3d %%  %s %3d %%", script, label.c_str(), upload);
        std::fflush(out_);
        lineOpen_ = true;
    } else {
        // Plain lines: a new label, and the upload gauge in steps of ten.
        const bool labelChanged = label != lastLabel_;
        const bool uploadStep =
            upload / 10 != lastUpload_ / 10 || (upload == 100 && lastUpload_ != 100);
        if (!labelChanged && !uploadStep) {
            lastScript_ = script;
            return;
        }
        std::fprintf(out_, "progress: script %d %%, %s %d %%\n", script, label.c_str(), upload);
        std::fflush(out_);
    }
    lastScript_ = script;
    lastUpload_ = upload;
    lastLabel_ = label;
}

void RunProgressPrinter::PrintSummary(const std::vector<FileRecord>& files) {
    BreakLine();
    if (files.empty()) {
        return;
    }
    std::size_t width = 4;
    for (const FileRecord& file : files) {
        width = std::max(width, file.Name.size());
    }
    width = std::min<std::size_t>(width, 40);
    std::uint64_t bytes = 0;
    double seconds = 0;
    int verified = 0;
    std::fprintf(out_, "files:\n");
    for (const FileRecord& file : files) {
        std::fprintf(out_, "  %-*s  %-12s %10llu bytes %8.2f s", static_cast<int>(width),
                     file.Name.c_str(), FileOutcomeName(file.Outcome),
                     static_cast<unsigned long long>(file.BytesSent),
                     file.TransferSeconds + file.VerifySeconds);
        if (!file.Cause.empty()) {
            std::fprintf(out_, "  %s", file.Cause.c_str());
        }
        std::fputc('\n', out_);
        bytes += static_cast<std::uint64_t>(file.BytesSent);
        seconds += file.TransferSeconds + file.VerifySeconds;
        verified += file.Outcome == FileOutcome::Verified ? 1 : 0;
    }
    std::fprintf(out_, "total: %d of %zu files verified, %llu bytes in %.2f s\n", verified,
                 files.size(), static_cast<unsigned long long>(bytes), seconds);
    std::fflush(out_);
}

} // namespace pellwick
