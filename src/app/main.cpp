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

int main(int argc, char** argv) {
    // --help and --version need no display: they are answered before Qt looks for one.
    if (pellwick::AsksForHelpOrVersion(std::vector<std::string>(argv + 1, argv + argc))) {
        pellwick::StartOptions asked;
        pellwick::ParseStartOptions(std::vector<std::string>(argv + 1, argv + argc), asked);
        if (asked.Help) {
            std::fputs(pellwick::StartHelp().c_str(), stdout);
        } else {
            std::printf("pellwick %s\n", PELLWICK_VERSION);
        }
        return 0;
    }
    if (const std::vector<std::string> args(argv + 1, argv + argc); !pellwick::DisplayNamed(args)) {
        // Qt would abort before the command line is read: its faults are told first.
        pellwick::StartOptions start;
        std::string error = pellwick::ParseStartOptions(args, start);
        int status = 1;
        if (!error.empty()) {
            error += " (see --help)";
        } else if (error = pellwick::EnterStartFolder(start); !error.empty()) {
            status = 2;
        } else {
            error = pellwick::NoDisplayMessage();
        }
        std::fprintf(stderr, "pellwick: %s\n", error.c_str());
        return status;
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
    if (const std::string error =
            pellwick::ParseStartOptions(std::vector<std::string>(argv + 1, argv + argc), start);
        !error.empty()) {
        std::fprintf(stderr, "pellwick: %s (see --help)\n", error.c_str());
        return 1;
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
