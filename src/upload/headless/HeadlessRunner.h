// pellwick-run: what the main window does at start-up and on "Start File Upload" in automatic
// mode, without windows, in the current directory: the same loader.ini keys, the same port
// set-up, the same script engine and the same "loader.log".
#pragma once

#include "outcome/RunnerExit.h"
#include "shell/CommandLine.h"
#include "upload/RunRecord.h"
#include "upload/headless/RunnerMessageBoxes.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace pellwick {

struct RunnerOptions {
    std::string script;        // empty: "Default Script" of loader.ini
    bool answerIgnore = false; // answer Abort/Ignore boxes with Ignore
    std::string reportPath;    // --report: the JSON run report, empty for none
    std::string junitPath;     // --junit: the same as JUnit XML
    std::string portPath;      // --port: the device for the settings' COM number
    bool listPorts = false;    // --list-ports: print the port map instead of running
    bool json = false;         // --json: the port map as a JSON array
    // --wait-port: seconds to wait for the port's device to appear before opening it; -1 not
    // at all.
    int waitPortSeconds = -1;
    // --baud: the rate of this run, 0 for the one of loader.ini.
    std::uint32_t lineRate = 0;
};

// Puts the runner's options on its command line, each filling options.
void DeclareRunnerOptions(CommandLine& line, RunnerOptions& options);
std::string RunnerHelp();
// What the runner's message of an unexpected failure tells the operator to do.
std::string RunnerFailureAdvice();

// Prints the port map of ./loader.ini and the devices present: a header line naming the columns,
// then one port a line: COMn, device path, by-id name, USB vendor, product and serial number,
// separated by tabs (empty when not known). With json a JSON array of one object a port
// instead. Returns the exit status.
int ListPorts(std::FILE* out, bool json = false);

// Runs one upload run; needs a QCoreApplication. Returns the exit status.
int RunHeadless(const RunnerOptions& options, std::FILE* out);

} // namespace pellwick
