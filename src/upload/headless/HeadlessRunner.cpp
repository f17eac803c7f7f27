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
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <unistd.h>

namespace pellwick {

namespace {

int gSignalFd = -1;

void OnSignal(int) {
    char c = 1;
    [[maybe_unused]] auto n = write(gSignalFd, &c, 1);
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

int ExitFor(RunOutcome outcome) {
    switch (outcome) {
    case RunOutcome::Clean:
        return ExitClean;
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

} // namespace

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
           "  0    the script ran to its end without an error report\n"
           "  1    bad command line\n"
           "  2    script error (a command answered ERROR, a bad number, a missing upload file)\n"
           "  3    upload error or cancel (the device's error string, a failed verification,\n"
           "       a link failure, Ctrl-C)\n"
           "  4    the serial port could not be opened\n"
           "  5    the script could not be read\n"
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
    window.SetTickHandler([&] { engine.ScriptTimerTimer(); });
    window.SetRunEndedHandler([] { QCoreApplication::exit(0); });

    // Ctrl-C and SIGTERM: cancel like a confirmed "Cancel Upload"; a second one ends at once.
    int fds[2];
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
    gSignalFd = fds[1];
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    int interrupts = 0;
    QSocketNotifier notifier(fds[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char c;
        [[maybe_unused]] auto n = read(fds[0], &c, 1);
        if (++interrupts > 1) {
            std::fprintf(out, "\npellwick-run: interrupted\n");
            std::_Exit(ExitInterrupted);
        }
        window.BreakLine();
        std::fprintf(out, "pellwick-run: cancelling (Ctrl-C again ends at once)\n");
        boxes.SetConfirmCancel(true);
        engine.BtnULCancelClick();
        boxes.SetConfirmCancel(false);
    });

    engine.StartRun(false);
    if (engine.Running()) {
        QCoreApplication::exec();
    }

    // Closing, as the main window does it.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    owner.Shutdown();
    owner.SetHost(nullptr);
    engine.CloseLog();
    close(fds[0]);
    close(fds[1]);
    gSignalFd = -1;
    RunOutcome outcome = boxes.Outcome();
    if (outcome == RunOutcome::Clean && interrupts > 0) {
        outcome = RunOutcome::UploadError;
    }
    return ExitFor(outcome);
}

} // namespace pellwick
