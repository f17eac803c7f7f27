// pellwick-run: the headless upload runner.
#include "shell/CommandLine.h"
#include "shell/Guard.h"
#include "upload/headless/HeadlessRunner.h"

#include <QCoreApplication>
#include <clocale>
#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    pellwick::RunnerOptions options;
    pellwick::CommandLine line("pellwick-run", PELLWICK_VERSION, pellwick::RunnerHelp);
    pellwick::DeclareRunnerOptions(line, options);
    if (const auto status = line.Answer(std::vector<std::string>(argv + 1, argv + argc))) {
        return *status;
    }
    if (options.listPorts) {
        return pellwick::ListPorts(stdout, options.json);
    }
    std::setlocale(LC_ALL, "");
    // Standard error into a reader that has gone (`2>&1 | head`) must stop the printing, not
    // the upload and its reports: writes there fail instead of raising SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    int status = pellwick::ExitFailure;
    pellwick::Guard("pellwick-run", pellwick::RunnerFailureAdvice(), stderr, [&] {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName("pellwick-run");
        status = pellwick::RunHeadless(options, stderr);
    });
    return status;
}
