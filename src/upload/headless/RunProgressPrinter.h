// What pellwick-run shows of a run while it goes: the run's view printed to standard error, on
// a terminal as one line rewritten in place, otherwise as a plain line for each new label and
// each tenth of the upload gauge. Ends with one line per file and a total.
#pragma once

#include <QObject>
#include <cstdio>
#include <string>
#include <vector>

#include "upload/RunRecord.h"

namespace pellwick {

class UploadRun;

class RunProgressPrinter : public QObject {
    Q_OBJECT
public:
    // Follows the run's view from now on; tty: whether `out` is a terminal.
    RunProgressPrinter(UploadRun& run, std::FILE* out, bool tty);

    // Ends a line rewritten in place, so that the next output starts on a line of its own.
    void BreakLine();
    // One line per file (name, outcome, bytes, seconds, cause) and a total line.
    void PrintSummary(const std::vector<FileRecord>& files);

private:
    void Print();

    UploadRun& run_;
    std::FILE* out_;
    bool tty_;
    int lastScript_ = -1, lastUpload_ = -1;
    std::string lastLabel_;
    bool lineOpen_ = false;
};

} // namespace pellwick
