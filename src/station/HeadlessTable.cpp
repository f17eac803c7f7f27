#include "station/HeadlessTable.h"

#include <algorithm>
#include <sys/ioctl.h>
#include <unistd.h>

namespace pellwick {

namespace {

std::string Fit(std::string text, std::size_t width) {
    if (text.size() > width) {
        text.resize(width);
    }
    return text;
}

std::string Padded(const std::string& text, std::size_t width) {
    std::string fitted = Fit(text, width);
    fitted.resize(width, ' ');
    return fitted;
}

std::string Gauge(int percent) {
    const int filled = std::clamp(percent, 0, 100) / 10;
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(10 - filled), '.') + "]";
}

std::string SecondsText(double seconds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%6.1f s", seconds);
    return buf;
}

// What a slot's state adds to its line: the file with its gauge, or the verdict and cause.
std::string StateText(const SlotView& view) {
    switch (view.State) {
    case SlotState::Loading:
    case SlotState::Verifying:
        return Padded(SlotStateName(view.State), 10) + " " + Padded(view.File, 16) + " " +
               Gauge(view.Percent) + " " + std::to_string(view.Percent) + " %";
    case SlotState::Passed:
        return "PASS";
    case SlotState::Failed:
    case SlotState::BoardGone:
        return std::string("FAIL ") + SlotStateName(view.State) + ": " + view.Cause;
    case SlotState::PortError:
    case SlotState::NotThisSlot:
        return std::string(SlotStateName(view.State)) + ": " + view.Cause;
    case SlotState::Waiting:
    case SlotState::OutOfService:
        break;
    }
    return SlotStateName(view.State);
}

} // namespace

std::string SlotLine(const StationSlot& slot, std::size_t width, std::size_t portWidth) {
    const SlotView& view = slot.View();
    const bool timed = view.Started != std::chrono::steady_clock::time_point{} &&
                       view.State != SlotState::Waiting && view.State != SlotState::OutOfService &&
                       view.State != SlotState::PortError;
    const std::string line =
        Padded(std::to_string(slot.Config().Number), 3) + " " +
        Padded(slot.Config().Port, portWidth) + " " + Padded(view.AdapterSerial, 10) + " " +
        (timed ? SecondsText(view.ElapsedSeconds()) : std::string(8, ' ')) + "  " + StateText(view);
    return Fit(line, width);
}

HeadlessTable::HeadlessTable(Station& station, std::FILE* out, bool tty)
    : station_(station), out_(out), tty_(tty),
      last_(static_cast<std::size_t>(station.SlotCount())) {
    for (int i = 0; i < station.SlotCount(); ++i) {
        portWidth_ =
            std::max(portWidth_, std::min<std::size_t>(station.Slot(i).Config().Port.size(), 48));
    }
    redraw_.setSingleShot(true);
    redraw_.setInterval(100);
    connect(&redraw_, &QTimer::timeout, this, &HeadlessTable::Redraw);
    elapsed_.setInterval(1000);
    connect(&elapsed_, &QTimer::timeout, this, &HeadlessTable::ScheduleRedraw);
    connect(&station_, &Station::SlotChanged, this, &HeadlessTable::SlotChanged);
    connect(&station_, &Station::TotalsChanged, this, &HeadlessTable::ScheduleRedraw);
    connect(&station_, &Station::Message, this,
            [this](const QString& text) { Note(text.toStdString()); });
    if (tty_) {
        Redraw();
    }
}

std::size_t HeadlessTable::Width() const {
    winsize size{};
    if (ioctl(fileno(out_), TIOCGWINSZ, &size) == 0 && size.ws_col > 1) {
        // The last column is left free: a full line would wrap and break the rewriting.
        return size.ws_col - 1u;
    }
    return 159;
}

void HeadlessTable::ScheduleRedraw() {
    if (tty_ && !finished_ && !redraw_.isActive()) {
        redraw_.start();
    }
}

void HeadlessTable::SlotChanged(int index) {
    if (tty_) {
        ScheduleRedraw();
        return;
    }
    StationSlot& slot = station_.Slot(index);
    const SlotView& view = slot.View();
    // Plain lines: a new state or file, and the gauge in quarters; never the clock.
    std::string key = std::string(SlotStateName(view.State)) + "|" + view.File + "|" +
                      std::to_string(view.Percent / 25) + "|" + view.Cause;
    std::string& last = last_[static_cast<std::size_t>(index)];
    if (key == last) {
        return;
    }
    last = key;
    std::fprintf(out_, "%s\n", SlotLine(slot, 400, portWidth_).c_str());
    std::fflush(out_);
}

void HeadlessTable::Redraw() {
    if (!tty_ || finished_) {
        return;
    }
    const std::size_t width = Width();
    std::string text;
    if (drawn_ > 0) {
        text += "\033[" + std::to_string(drawn_) + "A";
    }
    bool loading = false;
    for (int i = 0; i < station_.SlotCount(); ++i) {
        text += "\r\033[K" + SlotLine(station_.Slot(i), width, portWidth_) + "\n";
        loading = loading || station_.Slot(i).Running();
    }
    const StationTotals totals = station_.Totals();
    char buf[160];
    std::snprintf(buf, sizeof buf, "passed %d  failed %d  boards/h %.0f%s", totals.Passed,
                  totals.Failed, totals.BoardsPerHour,
                  station_.Stopping() ? "  (no new boards: Ctrl-C again cancels)" : "");
    text += "\r\033[K" + Fit(buf, width) + "\n";
    drawn_ = station_.SlotCount() + 1;
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
    // The clock only moves while something loads; a waiting station stays quiet.
    if (loading && !elapsed_.isActive()) {
        elapsed_.start();
    } else if (!loading) {
        elapsed_.stop();
    }
}

void HeadlessTable::Note(const std::string& text) {
    if (tty_ && drawn_ > 0) {
        // The note takes the table's place; the table is drawn again below it.
        std::fprintf(out_, "\033[%dA\r\033[J", drawn_);
        drawn_ = 0;
    }
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
    ScheduleRedraw();
}

void HeadlessTable::Finish() {
    if (tty_) {
        redraw_.stop();
        Redraw();
    }
    finished_ = true;
    elapsed_.stop();
}

} // namespace pellwick
