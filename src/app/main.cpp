// pellwick: the command line, locale and application, then the program body.
#include <QApplication>
#include <QMessageBox>
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "app/Program.h"
#include "app/StartOptions.h"
#include "app/TFrmLoadr.h"
#include "app/TPellwickApplication.h"
#include "shell/CommandLine.h"

int main(int argc, char** argv) {
    const std::vector<std::string> given(argv + 1, argv + argc);
    // --help and --version need no display: they are answered before Qt looks for one, and
    // without a display Qt would abort before the command line is read, so its faults are told
    // first. With a display Qt takes its own options out before the command line is read.
    {
        pellwick::StartOptions start;
        pellwick::CommandLine line("pellwick", PELLWICK_VERSION, pellwick::StartHelp);
        pellwick::DeclareStartOptions(line, start);
        const pellwick::CommandLine::Result result = line.Parse(given);
        const bool asked = result.outcome == pellwick::CommandLine::Outcome::Help ||
                           result.outcome == pellwick::CommandLine::Outcome::Version;
        if (asked || (!pellwick::DisplayNamed(given) &&
                      result.outcome == pellwick::CommandLine::Outcome::Usage)) {
            return *line.Answer(result);
        }
        if (!pellwick::DisplayNamed(given)) {
            std::string error = pellwick::EnterStartFolder(start);
            const int status = error.empty() ? pellwick::UsageExitStatus : 2;
            if (error.empty()) {
                error = pellwick::NoDisplayMessage();
            }
            std::fprintf(stderr, "pellwick: %s\n", error.c_str());
            return status;
        }
    }
    // Dates in the upload header and the log follow the user's locale.
    std::setlocale(LC_ALL, "");
    pellwick::TPellwickApplication app(argc, argv);
    // QApplication sets the numeric locale again; the engine's texts need the C rules there.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("pellwick"));
    // The application title belongs to the desktop entry (task bars and launchers show it):
    // Qt would otherwise append a display name to every window's caption.
    QGuiApplication::setDesktopFileName(QStringLiteral("pellwick"));

    // What is left once Qt has taken its own options out.
    pellwick::StartOptions start;
    pellwick::CommandLine line("pellwick", PELLWICK_VERSION, pellwick::StartHelp);
    pellwick::DeclareStartOptions(line, start);
    if (const auto status = line.Answer(std::vector<std::string>(argv + 1, argv + argc))) {
        return *status;
    }
    if (const std::string error = pellwick::EnterStartFolder(start); !error.empty()) {
        std::fprintf(stderr, "pellwick: %s\n", error.c_str());
        // A start from the desktop has no terminal to read that on.
        if (QGuiApplication::platformName() != QStringLiteral("offscreen") &&
            QGuiApplication::platformName() != QStringLiteral("minimal")) {
            QMessageBox::critical(nullptr, QString::fromLatin1(pellwick::TFrmLoadr::kCaption),
                                  QString::fromLocal8Bit(error.c_str()));
        }
        return 2;
    }
    pellwick::ProgramOptions options;
    options.Script = start.Script;
    return pellwick::RunProgram(options);
}
