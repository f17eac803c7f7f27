// Composition soak of the upload run: the run objects of the three programs (the main window's
// UploadRun with its hooks, pellwick-run's UploadRun with the runner's boxes and exit status, and
// the station's BoardRuns, several at once on one thread) driven through the same random
// sequences of what happens around a run: the terminal shown and hidden, device error strings
// at random moments and repeated, cancels in every kind of wait and during transfers, unplug
// and replug, saved settings (new line rates), verification answers late, missing or wrong, a
// held line, and random script shapes. Each sequence is one device with its faults and a few
// runs; a station takes a board's sequence after the other.
//
// On the virtual clock (the default) the device is the simulator's protocol behind a virtual
// port in this process, and thousands of runs take minutes. On the real clock the run objects
// sit on the programs' port owners on pseudo-terminals against pellwick-devsim processes that
// remove their link and make it again (unplug and replug).
//
// After every event it checks:
//   block     after a refusal or a cancel at most one further block is handed to the port;
//   verdict   each file's verdict in the run's record matches what the device stored;
//   controls  Start is offered exactly when no run goes and the port is usable (open, not hung
//             up), Cancel exactly while a run goes;
//   time      every run ends within a bound computed from its script; a confirmed cancel, and
//             the end a held line puts to a transfer, end the run within 0.5 s on the virtual
//             clock (2 s on the real one); a held line is found 5 s after its output stood still;
//   counts    a stopped file's bytes sent equal the count its cause names and never exceed what
//             the line's rate allows between its first byte and its stop;
//   result    the runner's exit status is 0 only when every file was verified and is held by
//             the device; a station board's result lists its own files with their outcomes, a
//             start on a line that has just hung up ends that board failed with its own cause,
//             and a board swapped in during a run gets no byte before its own run;
//   other     an exception that reached the event loop, a port that did not come back.
// A stored file that the run did not confirm is excused, not counted, when the device itself made
// the truth unknowable: it sent its error string beside a good file, it was pulled out after
// taking the file but before its answer could leave, or the cancel came while it took the
// verifying CR.
//
// Usage: upload_composition_soak [--clock virtual|real] [--programs window,runner,station]
//        [--boards N] [RUNS [SEED [SEQUENCE]]]
// RUNS of each program (default 2000), SEED of the plans (default from the clock); with a
// SEQUENCE only that sequence of the seed runs, every run of it printed, to reproduce it (a
// station runs it and the next ones, one a board). A violation prints the program, seed,
// sequence, board and run with the device, the script, the actions and the device's journal.
// Exit status: 0 without violations, 1 with any, 2 for a bad command line or a failed set-up.
#include "SoakWorlds.h"
#include "support/TempFolder.h"

#include <QApplication>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

using namespace pellwick;
using namespace pellwick::soak;

namespace {

constexpr const char* Usage =
    "usage: upload_composition_soak [--clock virtual|real] [--programs LIST] [--boards N]\n"
    "                               [RUNS [SEED [SEQUENCE]]]\n"
    "  --clock virtual   the virtual clock and virtual device ports (the default)\n"
    "  --clock real      the real clock, the programs' ports on pseudo-terminals, pellwick-devsim\n"
    "  --programs LIST   window, runner and station, separated by commas (default all)\n"
    "  --boards N        boards of the station at once (default 4; real clock 2)\n"
    "  RUNS              runs of each program (default 2000)\n"
    "  SEED              the plans' seed (default from the clock)\n"
    "  SEQUENCE          only this sequence of the seed, to reproduce it (a station: it and the\n"
    "                    next ones, one a board)\n"
    "Exit status: 0 no violation, 1 violations, 2 a bad command line or a set-up that failed.\n";

// Passes on uncaught exceptions of event handlers to the soak instead of ending the program.
class SoakApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            Tell(e.what());
        } catch (...) {
            Tell("an exception of unknown type");
        }
        return false;
    }

private:
    static void Tell(const std::string& what) {
        if (EventLoopException) {
            EventLoopException(what);
        }
    }
};

bool ParsePrograms(const std::string& list, std::vector<SoakProgram>& programs) {
    programs.clear();
    std::size_t from = 0;
    while (from <= list.size()) {
        const std::size_t comma = std::min(list.find(',', from), list.size());
        const std::string name = list.substr(from, comma - from);
        bool known = false;
        for (SoakProgram program :
             {SoakProgram::Window, SoakProgram::Runner, SoakProgram::Station}) {
            if (name == NameOf(program)) {
                programs.push_back(program);
                known = true;
            }
        }
        if (!known) {
            return false;
        }
        from = comma + 1;
    }
    return !programs.empty();
}

bool ParseNumber(const char* text, long long lo, long long hi, long long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= lo && value <= hi;
}

} // namespace

int main(int argc, char** argv) {
    SoakOptions options;
    options.seed =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    bool real = false;
    int boards = -1;
    std::vector<SoakProgram> programs = {SoakProgram::Window, SoakProgram::Runner,
                                         SoakProgram::Station};
    std::vector<const char*> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        long long value = 0;
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (arg == "--clock" && i + 1 < argc &&
            (std::strcmp(argv[i + 1], "virtual") == 0 || std::strcmp(argv[i + 1], "real") == 0)) {
            real = std::strcmp(argv[++i], "real") == 0;
        } else if (arg == "--programs" && i + 1 < argc && ParsePrograms(argv[i + 1], programs)) {
            ++i;
        } else if (arg == "--boards" && i + 1 < argc && ParseNumber(argv[i + 1], 1, 16, value)) {
            boards = static_cast<int>(value);
            ++i;
        } else if (arg.rfind("--", 0) != 0 && positional.size() < 3) {
            positional.push_back(argv[i]);
        } else {
            std::fputs(Usage, stderr);
            return 2;
        }
    }
    long long value = 0;
    if ((positional.size() > 0 && !ParseNumber(positional[0], 1, INT_MAX, value)) ||
        (positional.size() > 0 && (options.runs = static_cast<int>(value)) <= 0)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    if (positional.size() > 1) {
        char* end = nullptr;
        options.seed = std::strtoull(positional[1], &end, 10);
        if (*end != '\0' || end == positional[1]) {
            std::fputs(Usage, stderr);
            return 2;
        }
    }
    if (positional.size() > 2) {
        if (!ParseNumber(positional[2], 0, INT_MAX, value)) {
            std::fputs(Usage, stderr);
            return 2;
        }
        options.sequence = static_cast<int>(value);
    }
    options.boards = boards > 0 ? boards : real ? 2 : 4;

    // The terminal control is a widget: without a display it needs the offscreen platform.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int qtArgc = 1;
    SoakApplication app(qtArgc, argv);
    // The upload log goes to the current folder, the scripts' files are named relative to it.
    TempFolder work;
    if (work.Path().empty()) {
        std::fprintf(stderr, "cannot make a work folder\n");
        return 2;
    }
    const auto startDir = std::filesystem::current_path();
    std::filesystem::current_path(work.Path());
    std::printf(
        "composition soak on the %s clock: %d runs of each program, seed %llu%s\n",
        real ? "real" : "virtual", options.runs, static_cast<unsigned long long>(options.seed),
        options.sequence >= 0 ? (", sequence " + std::to_string(options.sequence)).c_str() : "");
    std::fflush(stdout);
    bool setUp = true, met = true;
    for (SoakProgram program : programs) {
        Totals totals;
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpu = std::clock();
        const bool went =
            real ? SoakReal(options, program, totals) : SoakVirtual(options, program, totals);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        met = totals.Report(NameOf(program), seconds,
                            static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC) &&
              met;
        setUp = setUp && (went || totals.Violations() > 0);
    }
    std::filesystem::current_path(startDir);
    return !met ? 1 : setUp ? 0 : 2;
}
