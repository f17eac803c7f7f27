#include "upload/headless/HeadlessRunner.h"

#include "link/PortOwner.h"
#include "outcome/RunReport.h"
#include "outcome/RunVerdict.h"
#include "serial/DevicePathWatch.h"
#include "serial/TVaxoCustomComPort.h"
#include "serial/portmap/AdapterInfo.h"
#include "serial/portmap/NetworkAddress.h"
#include "serial/portmap/PortMap.h"
#include "shell/Guard.h"
#include "shell/Interrupts.h"
#include "shell/LoaderStart.h"
#include "shell/ProcessWorld.h"
#include "upload/GeneralSettings.h"
#include "upload/ScriptText.h"
#include "upload/headless/RunProgressPrinter.h"
#include "upload/headless/RunnerMessageBoxes.h"
#include "upload/run/UploadRun.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace pellwick {

static_assert(ExitInterrupted == InterruptedExitStatus);

namespace {

// What an unexpected failure tells the operator to do.
const char* const FailureAdvice =
    "the run ended with status 7: check the device and the port, run it again, and if the "
    "failure comes back keep loader.log and this output for a fault report";

// Runs an event-loop callback; an exception must not unwind through Qt's event loop, so it is
// printed and the program ends with ExitFailure.
template <typename Callback> void Guarded(std::FILE* out, Callback&& callback) {
    if (!Guard("pellwick-run", FailureAdvice, out, callback)) {
        QCoreApplication::exit(ExitFailure);
    }
}

// A path given relative to where the runner started: "Default Path" changes the working
// folder before the reports are written and the port is opened. A network port is no path.
std::string FromStart(const std::string& path) {
    std::error_code ec;
    return path.empty() || LooksLikeNetworkAddress(path)
               ? path
               : std::filesystem::absolute(path, ec).string();
}

const char* ParityName(std::uint8_t code) {
    static const char* const names[] = {"none", "odd", "even", "mark", "space"};
    return code < 5 ? names[code] : "none";
}

// Waits for the device of COMn to appear. Empty when it is there (or there is nothing to wait
// for), otherwise the text of the box that told why not.
std::string WaitForPort(int portNumber, int seconds, int cancelFd, IMessageBoxes& boxes,
                        std::FILE* out) {
    const auto map = PortMap::Global();
    const auto path = map ? map->PathOf(portNumber) : std::optional<std::string>();
    if (!path) {
        // Nothing to wait for: the opening reports the unknown port.
        return {};
    }
    std::string error;
    if (!DevicePathWatch::WaitFor(*path, std::chrono::milliseconds(0), error) && error.empty()) {
        std::fprintf(out, "pellwick-run: waiting up to %d s for %s\n", seconds, path->c_str());
        std::fflush(out);
    }
    if (DevicePathWatch::WaitFor(*path, std::chrono::seconds(seconds), error, cancelFd)) {
        return {};
    }
    const bool network = LooksLikeNetworkAddress(*path);
    std::string text;
    if (InterruptChannel::Count() > 0) {
        text = "The wait for the port's " + std::string(network ? "server " : "device ") + *path +
               " was cancelled.\rStart the run again once the board is " +
               (network ? "served." : "plugged in.");
    } else {
        const std::string late =
            network ? "The port's server " + *path + " did not accept a connection within "
                    : "The port's device " + *path + " did not appear within ";
        text = (error.empty() ? late + std::to_string(seconds) + " s." : error) +
               (network ? "\rStart the server (ser2net) of the board"
                        : "\rPlug in the board or its adapter") +
               ", or check the port (COM" + std::to_string(portNumber) +
               " in [Ports] of loader.ini, or --port).";
    }
    boxes.Show(MsgKind::Error, text, MbOk);
    return text;
}

} // namespace

std::string RunnerFailureAdvice() {
    return FailureAdvice;
}

std::string RunnerHelp() {
    return std::string(
               "Usage: pellwick-run [OPTIONS] [SCRIPT]\n"
               "       pellwick-run --list-ports [--json]\n"
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
               "updating line on a terminal, plain lines otherwise), counting the bytes that can\n"
               "have reached the line; a failure is printed with its cause, and the run ends\n"
               "with one line per file and a total. Ctrl-C or SIGTERM cancels\n"
               "like a confirmed \"Cancel Upload\"; a second one ends the program at once\n"
               "(no report is written then, and one left by an earlier run is gone).\n"
               "\n"
               "Files: loader.ini is read from the folder the runner is started in. The run\n"
               "then works in \"Default Path\" of loader.ini (the start folder when that cannot\n"
               "be entered) and there creates loader.log anew, as the program's window does: a\n"
               "banner with the start time, then each file sent with its size, checksum,\n"
               "version and address. How the run ended is not in loader.log: the exit status\n"
               "tells it, and the report (--report, --junit) keeps it with each file's outcome.\n"
               "\n"
               "Options:\n"
               "  --ignore        answer Abort/Ignore boxes with Ignore (go on after script\n"
               "                  errors)\n"
               "  --baud RATE     open the port at RATE baud (50 to 4000000) for this run,\n"
               "                  in place of [Line] and [RS232Settings] \"Baud Rate\";\n"
               "                  loader.ini is not changed\n"
               "  --report FILE   write a JSON report of the run to FILE when it ends (also\n"
               "                  after an error, a cancel or Ctrl-C): port, line, times, exit\n"
               "                  status and one entry per _LD with its outcome (verified,\n"
               "                  refused, not verified, cancelled, hung up, failed, not\n"
               "                  sent), bytes sent, seconds, bytes per second and the cause\n"
               "                  of a failure. FILE counts from the start folder and\n"
               "                  must be a new name or a regular file: anything else (a\n"
               "                  device, a FIFO, a link) is left alone and ends the runner\n"
               "                  with status 8 before the port is opened\n"
               "  --junit FILE    the same outcomes as JUnit XML, one test case per _LD (FILE\n"
               "                  as for --report)\n"
               "  --port PATH     use the device PATH for the settings' COM number (a\n"
               "                  /dev/serial/by-id/... path, a pseudo-terminal, or a port on\n"
               "                  the network: rfc2217://HOST:PORT for a server with RFC 2217\n"
               "                  serial control such as ser2net, tcp://HOST:PORT for bytes\n"
               "                  only; an IPv6 HOST in brackets); loader.ini is not changed\n"
               "  --wait-port SECONDS\n"
               "                  wait up to SECONDS for the port's device to appear (for a\n"
               "                  network port: its server to accept a connection) before\n"
               "                  opening it (the operator plugs the board in after the start);\n"
               "                  exit status 9 when it does not, or on Ctrl-C meanwhile\n"
               "  --list-ports    print the port map: a header line naming the columns, then one\n"
               "                  port a line with tab-separated fields: COMn, device path (or\n"
               "                  network address), by-id name, USB vendor, product, serial\n"
               "  --json          with --list-ports: a JSON array instead, one object a port\n"
               "                  (port, number, device, by_id, vendor_id, manufacturer,\n"
               "                  product_id, product, serial)\n"
               "  --help          show this text\n"
               "  --version       print the program's name and version\n"
               "\n") +
           RunnerExitHelp();
}

void DeclareRunnerOptions(CommandLine& line, RunnerOptions& options) {
    line.Switch("ignore", options.answerIgnore);
    line.Switch("list-ports", options.listPorts);
    line.Switch("json", options.json);
    line.Value("report", options.reportPath);
    line.Value("junit", options.junitPath);
    line.Value("port", [&options](const std::string& value) -> std::string {
        options.portPath = value;
        if (value.empty()) {
            return "needs a value";
        }
        std::string why;
        if (LooksLikeNetworkAddress(value) && !ParseNetworkAddress(value, why)) {
            return value + ": " + why;
        }
        return {};
    });
    line.Value("wait-port", [&options](const std::string& value) -> std::string {
        if (value.empty()) {
            return "needs a value";
        }
        const bool digits =
            value.size() <= 6 && value.find_first_not_of("0123456789") == std::string::npos;
        if (!digits || std::stoi(value) > 86400) {
            return "expects whole seconds from 0 to 86400, not \"" + value + "\"";
        }
        options.waitPortSeconds = std::stoi(value);
        return {};
    });
    line.Value("baud", [&options](const std::string& value) -> std::string {
        if (value.empty()) {
            return "needs a value";
        }
        const auto rate = Rs232SettingsFile::ParseLineRate(value);
        if (!rate) {
            return "expects a rate from " + std::to_string(Rs232SettingsFile::MinLineRate) +
                   " to " + std::to_string(Rs232SettingsFile::MaxLineRate) + " baud, not \"" +
                   value + "\"";
        }
        options.lineRate = *rate;
        return {};
    });
    line.Operands([&options](const std::string& script) -> std::string {
        if (!options.script.empty()) {
            return "more than one script given";
        }
        options.script = script;
        return {};
    });
    line.Check([&options]() -> std::string {
        return options.json && !options.listPorts ? "--json goes with --list-ports" : "";
    });
}

int ListPorts(std::FILE* out, bool json) {
    const std::string iniPath = ProcessWorld::StartFolderIni();
    if (!json) {
        std::fputs("PORT\tDEVICE\tBY-ID\tVENDOR\tPRODUCT\tSERIAL\n", out);
    }
    std::string array = "[";
    for (const auto& [number, path] : PortMap::Build(iniPath).Entries()) {
        const AdapterInfo info =
            LooksLikeNetworkAddress(path) ? AdapterInfo() : ReadAdapterInfo(path);
        const std::string byId =
            info.byIdPath.empty() ? "" : std::filesystem::path(info.byIdPath).filename().string();
        const std::string name = "COM" + std::to_string(number);
        if (json) {
            array += array.size() == 1 ? "\n" : ",\n";
            array += "  {\"port\": " + JsonString(name) +
                     ", \"number\": " + std::to_string(number) +
                     ", \"device\": " + JsonString(path) + ", \"by_id\": " + JsonString(byId) +
                     ", \"vendor_id\": " + JsonString(info.vendorId) +
                     ", \"manufacturer\": " + JsonString(info.manufacturer) +
                     ", \"product_id\": " + JsonString(info.productId) +
                     ", \"product\": " + JsonString(info.product) +
                     ", \"serial\": " + JsonString(info.serial) + "}";
            continue;
        }
        auto joined = [](const std::string& id, const std::string& text) {
            return id.empty() ? text : text.empty() ? id : id + " " + text;
        };
        std::fprintf(out, "%s\t%s\t%s\t%s\t%s\t%s\n", name.c_str(), path.c_str(), byId.c_str(),
                     joined(info.vendorId, info.manufacturer).c_str(),
                     joined(info.productId, info.product).c_str(), info.serial.c_str());
    }
    if (json) {
        std::fputs((array + (array.size() == 1 ? "]\n" : "\n]\n")).c_str(), out);
    }
    return ExitClean;
}

int RunHeadless(const RunnerOptions& options, std::FILE* out) {
    RunnerMessageBoxes boxes(out, options.answerIgnore);
    const std::string reportPath = FromStart(options.reportPath);
    const std::string junitPath = FromStart(options.junitPath);
    const std::string portPath = FromStart(options.portPath);
    // A second Ctrl-C ends the program in its signal handler, where no report can be written:
    // a report left by an earlier run must not then pass for this one's. A name that holds
    // anything but a regular file ends the runner before the port is opened.
    if (const std::string refused = ClearReportPaths({reportPath, junitPath}); !refused.empty()) {
        std::istringstream lines(refused);
        for (std::string line; std::getline(lines, line);) {
            std::fprintf(out, "pellwick-run: %s\n", line.c_str());
        }
        std::fprintf(out, "pellwick-run: the run did not start; name a new or a regular file\n");
        return ExitReportUnwritable;
    }
    RunReport report;
    report.startTime = IsoTimeNow();

    // Start-up, as the main window does it. The window skips the rest of its creation after a
    // failed write; the runner goes on, and a port set-up that cannot write its settings
    // leaves the port closed below.
    const LoaderStart start = LoaderStart::Run(std::filesystem::current_path().string(), boxes);
    const std::string& iniPath = start.IniPath;
    const GeneralSettings& general = start.Settings;
    // The port map of this loader.ini. Failures the port reports on its own (in its event
    // handlers) are printed, and during a run they count against it; what a network port has
    // to say (a setting its server did not acknowledge) is printed too, from any thread.
    bool running = false;
    bool portFault = false;
    std::string portFaultText; // the last one during the run
    const ProcessWorld world(
        iniPath,
        [&](const std::exception& e) {
            if (running) {
                portFault = true;
                portFaultText = e.what();
            }
            boxes.Show(MsgKind::Error, e.what(), MbOk);
        },
        [out](const std::string& text) {
            std::fprintf(out, "pellwick-run: note: %s\n", text.c_str());
            std::fflush(out);
        });
    report.script = options.script.empty() ? general.DefaultScript : options.script;
    const DateFormats formats = DateFormats::FromLocale();

    // The port set-up of the program's start, on the same owner: a settings file that cannot
    // be written leaves the port closed there too.
    PortOwner owner(boxes);
    std::unique_ptr<UploadRun> run;
    // Writes the reports once the run is over; a report that cannot be written has the last
    // word on the exit status, since whoever asked for it will look there. The message is the
    // runner's own failure where it has one (the port, the start), otherwise the record's.
    auto finish = [&](int status, const std::vector<std::string>& lines, const RunRecord& record,
                      const std::string& failure) {
        const Rs232Settings& line = owner.Settings();
        report.comName = "COM" + std::to_string(line.PortNumber);
        const auto map = PortMap::Global();
        report.devicePath = map ? map->PathOf(line.PortNumber).value_or("") : "";
        report.baudRate = static_cast<std::uint32_t>(line.PortBaud());
        report.dataBits = line.DataBitCount;
        report.parity = ParityName(line.ParityCode);
        report.stopBits = line.StopBitCount == 2 ? "2" : "1";
        report.hardwareFlow = line.UseDtr || line.UseRts || line.RequireDsr || line.RequireCts;
        report.files.clear();
        for (const FileRecord& file : ListScriptFiles(lines, record, formats)) {
            report.files.push_back(ReportOf(file));
        }
        report.endTime = IsoTimeNow();
        SetExit(report, status, record.End, failure.empty() ? record.Message : failure);
        const std::string errors = WriteReports(report, reportPath, junitPath);
        if (errors.empty()) {
            return status;
        }
        std::fprintf(out, "pellwick-run: %s", errors.c_str());
        return static_cast<int>(ExitReportUnwritable);
    };
    // The script of a run that never started, listed in the reports.
    auto scriptLines = [&] {
        std::error_code ec;
        return std::filesystem::is_regular_file(report.script, ec)
                   ? ScriptText::SplitLines(ScriptText::ReadFile(report.script).value_or(""))
                   : std::vector<std::string>{};
    };
    // Ctrl-C and SIGTERM: cancel like a confirmed "Cancel Upload"; a second one ends at once.
    InterruptChannel interrupts("pellwick-run", 1);
    if (!interrupts.Open()) {
        const std::string failure =
            std::string("cannot set up Ctrl-C handling: ") + std::strerror(errno);
        std::fprintf(out, "pellwick-run: %s\n", failure.c_str());
        return finish(ExitFailure, scriptLines(), RunRecord{}, failure);
    }
    std::string deviceMissing;
    if (options.lineRate != 0) {
        owner.UseLineRate(options.lineRate);
    }
    const bool opened = owner.StartUp(iniPath, [&] {
        if (!portPath.empty()) {
            const auto map = PortMap::Global();
            PortMap::SetGlobal(std::make_shared<PortMap>(
                (map ? *map : PortMap()).WithEntry(owner.Settings().PortNumber, portPath)));
        }
        if (options.waitPortSeconds >= 0) {
            deviceMissing = WaitForPort(owner.Settings().PortNumber, options.waitPortSeconds,
                                        interrupts.Fd(), boxes, out);
        }
        return deviceMissing.empty();
    });
    if (!opened) {
        return deviceMissing.empty()
                   ? finish(ExitPortError, scriptLines(), RunRecord{}, owner.StartFailure())
                   : finish(ExitPortMissing, scriptLines(), RunRecord{}, deviceMissing);
    }

    if (const std::string note = owner.Link().LineNote(); !note.empty()) {
        std::fprintf(out, "pellwick-run: note: %s\n", note.c_str());
        std::fflush(out);
    }
    run = std::make_unique<UploadRun>(owner.Operations(), boxes);
    run->ApplySettings(general);
    if (!options.script.empty()) {
        run->Engine().Run().ScriptFileName = options.script;
    }
    RunProgressPrinter printer(*run, out, isatty(fileno(out)) != 0);
    boxes.SetBeforeShow([&] { printer.BreakLine(); });
    QObject::connect(run.get(), &UploadRun::RunEnded, [] { QCoreApplication::exit(0); });

    QSocketNotifier notifier(interrupts.Fd(), QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        interrupts.Take();
        printer.BreakLine();
        std::fprintf(out, "pellwick-run: cancelling (Ctrl-C again ends at once)\n");
        Guarded(out, [&] {
            boxes.SetConfirmCancel(true);
            run->Cancel();
        });
        boxes.SetConfirmCancel(false);
    });

    int loopStatus = 0;
    std::string notStarted;
    running = true;
    run->Start(false);
    if (run->Running()) {
        loopStatus = QCoreApplication::exec();
    } else if (run->Record().End == RunEnd::NotStarted) {
        // No start is offered on a port that went away since its opening (a server that took
        // the connection and dropped it): say so rather than end without a word.
        const bool hungUp = owner.Port().Lost() || owner.Port().LineHungUp();
        notStarted = hungUp ? "The port's device " + owner.Port().DevicePath() +
                                  " hung up before the run could start.\rCheck the device and "
                                  "its connection; for a port on the network, that its server "
                                  "gives this client the port (that no other client holds it)."
                            : std::string("The run could not start: the port is not open.\rCheck "
                                          "the port in the settings.");
        boxes.Show(MsgKind::Error, notStarted, MbOk);
    }
    running = false;

    // Closing, as the main window does it. A set-up that failed half way (a trigger string
    // the port refused) may fail again here; the run's verdict stands, the failure is shown.
    run->Close();
    owner.Shutdown();
    const RunRecord& record = run->Record();
    printer.PrintSummary(record.Files);
    RunVerdict verdict = VerdictOf(record);
    verdict.interrupted = InterruptChannel::Count() > 0;
    verdict.portFault = portFault;
    verdict.failed = loopStatus == ExitFailure;
    // Where the record alone does not explain the status, the reports say what does; an error
    // the run went past earlier must not stand in for it.
    std::string failure = notStarted;
    if (verdict.failed) {
        failure = std::string("Unexpected failure: ") + FailureAdvice + ".";
    } else if (record.End == RunEnd::Completed && portFault) {
        failure = portFaultText;
    } else if (record.End == RunEnd::Completed && verdict.interrupted) {
        failure = "Cancelled (Ctrl-C) after the script's last step.";
    }
    // Signals stay caught until the reports are written: a late Ctrl-C must not kill the
    // runner with the default action before they are.
    return finish(ExitStatusFor(verdict), run->Engine().Run().Lines, record, failure);
}

} // namespace pellwick
