#include "upload/headless/HeadlessRunner.h"

#include "ini/EIniWriteError.h"
#include "ini/PrivateProfile.h"
#include "link/PortOwner.h"
#include "serial/TVaxoCustomComPort.h"
#include "serial/portmap/PortMap.h"
#include "upload/GeneralSettings.h"
#include "upload/ProfileSettingsSource.h"
#include "upload/ScriptEngine.h"
#include "upload/headless/HeadlessUploadWindow.h"
#include "upload/headless/RunnerMessageBoxes.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <unistd.h>

namespace pellwick {

namespace {

int gSignalFd = -1;
volatile std::sig_atomic_t gInterrupts = 0;

void OnSignal(int) {
    // The second one ends the program here and now: the GUI thread may be asleep (Delay, _LP,
    // the verification's pause) or waiting for an answer, and would see a message too late.
    gInterrupts = gInterrupts + 1;
    if (gInterrupts > 1) {
        static const char text[] = "\npellwick-run: interrupted\n";
        [[maybe_unused]] auto w = write(STDERR_FILENO, text, sizeof text - 1);
        _exit(ExitInterrupted);
    }
    char c = 1;
    [[maybe_unused]] auto n = write(gSignalFd, &c, 1);
}

// Runs an event-loop callback; an exception must not unwind through Qt's event loop, so it is
// printed and the program ends with ExitFailure.
template <typename Callback> void Guarded(std::FILE* out, Callback&& callback) {
    try {
        callback();
    } catch (const std::exception& e) {
        std::fprintf(out, "\npellwick-run: %s\n", e.what());
        std::fflush(out);
        QCoreApplication::exit(ExitFailure);
    } catch (...) {
        std::fprintf(out, "\npellwick-run: unknown failure\n");
        std::fflush(out);
        QCoreApplication::exit(ExitFailure);
    }
}

// The main window's side of the link, forwarded to the engine and the progress output.
class RunnerLinkHost : public ILinkHost {
public:
    RunnerLinkHost(ScriptEngine& engine, HeadlessUploadWindow& window)
        : engine_(engine), window_(window) {}
    void SetScriptError() override { engine_.SetScriptError(); }
    void SetULError() override { engine_.SetULError(); }
    void EnableScriptTimer() override { engine_.EnableScriptTimer(); }
    void SetUploadGauge(int percent) override { window_.SetUploadGauge(percent); }
    void SetComBtnState(bool) override {}

private:
    ScriptEngine& engine_;
    HeadlessUploadWindow& window_;
};

} // namespace

int ExitStatusFor(const RunVerdict& verdict) {
    if (verdict.failed) {
        return ExitFailure;
    }
    switch (verdict.outcome) {
    case RunOutcome::Clean:
        // A cancel that found nothing left to stop still did not let the run end as asked.
        if (verdict.interrupted) {
            return ExitUploadError;
        }
        return verdict.ignoredAnError ? ExitErrorsIgnored : ExitClean;
    case RunOutcome::ScriptError:
        return ExitScriptError;
    case RunOutcome::UploadError:
        return ExitUploadError;
    case RunOutcome::PortError:
        return ExitPortError;
    case RunOutcome::ScriptUnreadable:
        return ExitScriptUnreadable;
    }
    return ExitUploadError;
}

const char* ExitStatusName(int status) {
    switch (status) {
    case ExitClean:
        return "clean";
    case ExitUsage:
        return "bad command line";
    case ExitScriptError:
        return "script error";
    case ExitUploadError:
        return "upload error";
    case ExitPortError:
        return "port error";
    case ExitScriptUnreadable:
        return "script unreadable";
    case ExitErrorsIgnored:
        return "errors ignored";
    case ExitFailure:
        return "failure";
    case ExitInterrupted:
        return "interrupted";
    }
    return "unknown";
}

const char* RunnerHelp() {
    return "Usage: pellwick-run [--ignore] [SCRIPT]\n"
           "\n"
           "Runs an upload script against the device on the serial port, without windows, in\n"
           "the current directory: the same loader.ini keys (Upload Settings, RS232Settings,\n"
           "Trigger, [Ports]), the same port set-up and the same loader.log as the program's\n"
           "\"Start File Upload\" in automatic mode. SCRIPT defaults to \"Default Script\" of\n"
           "loader.ini (loader.sld).\n"
           "\n"
           "Message boxes are printed to standard error with their kind and text and answered\n"
           "without asking: OK; Abort where Abort and Ignore are offered; script messages\n"
           "(_DM) are printed and the run goes on. Progress goes to standard error (one\n"
           "updating line on a terminal, plain lines otherwise). Ctrl-C cancels like a\n"
           "confirmed \"Cancel Upload\"; a second Ctrl-C ends the program at once.\n"
           "\n"
           "Options:\n"
           "  --ignore   answer Abort/Ignore boxes with Ignore (go on after script errors)\n"
           "  --help     show this text\n"
           "\n"
           "Exit status:\n"
           "  0    the script ran to its end without an error report (start-up warnings,\n"
           "       such as a \"Default Path\" that could not be entered, do not count)\n"
           "  1    bad command line\n"
           "  2    script error (a command answered ERROR, a bad number, a missing upload file)\n"
           "  3    upload error or cancel (the device's error string, a failed verification,\n"
           "       a link failure, Ctrl-C)\n"
           "  4    the serial port could not be opened\n"
           "  5    the script could not be read (missing, not a regular file, or larger\n"
           "       than 16 MiB)\n"
           "  6    the script ran to its end, but --ignore went past at least one error\n"
           "  7    an unexpected failure ended the program (the message is printed)\n"
           "  130  interrupted a second time while cancelling\n";
}

bool ParseRunnerOptions(int argc, char** argv, RunnerOptions& options, bool& help, std::FILE* err) {
    help = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            help = true;
        } else if (a == "--ignore") {
            options.answerIgnore = true;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(err, "pellwick-run: unknown option %s (see --help)\n", a.c_str());
            return false;
        } else if (options.script.empty()) {
            options.script = a;
        } else {
            std::fprintf(err, "pellwick-run: more than one script given (see --help)\n");
            return false;
        }
    }
    return true;
}

int RunHeadless(const RunnerOptions& options, std::FILE* out) {
    RunnerMessageBoxes boxes(out, options.answerIgnore);
    HeadlessUploadWindow window(out);
    boxes.SetBeforeShow([&] { window.BreakLine(); });

    // Start-up, as the main window does it.
    const std::string startDir = std::filesystem::current_path().string();
    const std::string iniPath = startDir + "/loader.ini";
    PrivateProfile ini(iniPath);
    ProfileSettingsSource source(ini);
    GeneralSettings general = GeneralSettings::Read(source, startDir);
    general.EnterDefaultPath(boxes);
    try {
        ini.WriteString("Global", "Driver Version", "2.00");
    } catch (const EIniWriteError& e) {
        // Reported as the window reports it; start-up goes on there too, and a port set-up
        // that cannot write its settings leaves the port closed below.
        boxes.Show(MsgKind::Error, e.what(), MbOk);
    }
    PortMap::SetGlobal(std::make_shared<PortMap>(PortMap::Build(iniPath)));

    // The port set-up of the program's start, on the same owner: a settings file that cannot
    // be written leaves the port closed there too.
    TVaxoCustomComPort::SetExceptionDisplay(
        [&](const std::exception& e) { boxes.Show(MsgKind::Error, e.what(), MbOk); });
    PortOwner owner(boxes);
    if (!owner.StartUp(iniPath)) {
        return ExitPortError;
    }

    ScriptEngine engine(owner.Operations(), window, boxes);
    RunnerLinkHost host(engine, window);
    owner.SetHost(&host);
    engine.ApplySettings(general);
    if (!options.script.empty()) {
        engine.Run().ScriptFileName = options.script;
    }
    window.SetTickHandler([&] { Guarded(out, [&] { engine.ScriptTimerTimer(); }); });
    window.SetRunEndedHandler([] { QCoreApplication::exit(0); });

    // Ctrl-C and SIGTERM: cancel like a confirmed "Cancel Upload"; a second one ends at once.
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        std::fprintf(out, "pellwick-run: cannot set up Ctrl-C handling: %s\n",
                     std::strerror(errno));
        return ExitFailure;
    }
    gSignalFd = fds[1];
    gInterrupts = 0;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    QSocketNotifier notifier(fds[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char c;
        [[maybe_unused]] auto n = read(fds[0], &c, 1);
        window.BreakLine();
        std::fprintf(out, "pellwick-run: cancelling (Ctrl-C again ends at once)\n");
        Guarded(out, [&] {
            boxes.SetConfirmCancel(true);
            engine.BtnULCancelClick();
        });
        boxes.SetConfirmCancel(false);
    });

    boxes.StartCounting();
    int loopStatus = 0;
    engine.StartRun(false);
    if (engine.Running()) {
        loopStatus = QCoreApplication::exec();
    }

    // Closing, as the main window does it. A set-up that failed half way (a trigger string
    // the port refused) may fail again here; the run's verdict stands, the failure is shown.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    owner.Shutdown();
    owner.SetHost(nullptr);
    engine.CloseLog();
    close(fds[0]);
    close(fds[1]);
    gSignalFd = -1;
    RunVerdict verdict;
    verdict.outcome = boxes.Outcome();
    verdict.ignoredAnError = boxes.IgnoredAnError();
    verdict.interrupted = gInterrupts > 0;
    verdict.failed = loopStatus == ExitFailure;
    return ExitStatusFor(verdict);
}

} // namespace pellwick
