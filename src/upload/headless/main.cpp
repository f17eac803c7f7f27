// pellwick-run: the headless upload runner.
#include "upload/headless/HeadlessRunner.h"

#include <QCoreApplication>
#include <clocale>
#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    pellwick::RunnerOptions options;
    bool help = false;
    if (!pellwick::ParseRunnerOptions(argc, argv, options, help, stderr)) {
        return pellwick::ExitUsage;
    }
    if (help) {
        std::fputs(pellwick::RunnerHelp().c_str(), stdout);
        return pellwick::ExitClean;
    }
    if (options.version) {
        std::printf("pellwick-run %s\n", PELLWICK_VERSION);
        return pellwick::ExitClean;
    }
    if (options.listPorts) {
        return pellwick::ListPorts(stdout, options.json);
    }
    std::setlocale(LC_ALL, "");
    // Standard error into a reader that has gone (`2>&1 | head`) must stop the printing, not
    // the upload and its reports: writes there fail instead of raising SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    // No failure may reach std::terminate: it is printed and ends with its own status.
    try {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName("pellwick-run");
        return pellwick::RunHeadless(options, stderr);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "\npellwick-run: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "\npellwick-run: unknown failure\n");
    }
    return pellwick::ExitFailure;
}
