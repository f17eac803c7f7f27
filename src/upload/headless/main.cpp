// pellwick-run: the headless upload runner.
#include "upload/headless/HeadlessRunner.h"

#include <QCoreApplication>
#include <clocale>
#include <cstdio>

int main(int argc, char** argv) {
    pellwick::RunnerOptions options;
    bool help = false;
    if (!pellwick::ParseRunnerOptions(argc, argv, options, help, stderr)) {
        return pellwick::ExitUsage;
    }
    if (help) {
        std::fputs(pellwick::RunnerHelp(), stdout);
        return pellwick::ExitClean;
    }
    std::setlocale(LC_ALL, "");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("pellwick-run");
    return pellwick::RunHeadless(options, stderr);
}
