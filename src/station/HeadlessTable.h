// The station on a terminal: one line per slot (port, adapter serial, state, file and gauge,
// elapsed time, verdict and cause) and a line of totals, rewritten in place; on anything that
// is not a terminal, a plain line for each change of a slot's state or file and each board
// done, so that a log never tangles the slots' progress.
#pragma once

#include "station/Station.h"

#include <QObject>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

namespace pellwick {

// A slot's line of the table, at most width characters, the port in portWidth.
std::string SlotLine(const StationSlot& slot, std::size_t width, std::size_t portWidth);

class HeadlessTable : public QObject {
    Q_OBJECT
public:
    HeadlessTable(Station& station, std::FILE* out, bool tty);

    // A line of its own above the table (or between the plain lines).
    void Note(const std::string& text);
    // The table once more as it ends; nothing is rewritten after this.
    void Finish();

private:
    void SlotChanged(int index);
    void Redraw();
    void ScheduleRedraw();
    std::size_t Width() const;
    std::size_t portWidth_ = 4;

    Station& station_;
    std::FILE* out_;
    bool tty_;
    int drawn_ = 0; // lines of the table on the screen now
    bool finished_ = false;
    QTimer redraw_;  // coalesces changes into at most ten redraws a second
    QTimer elapsed_; // once a second while a board is loading
    // Plain lines: what was last printed of each slot.
    std::vector<std::string> last_;
};

} // namespace pellwick
