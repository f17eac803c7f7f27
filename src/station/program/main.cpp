// pellwick-station: the station's window, or with --headless its table on a terminal.
#include "shell/CommandLine.h"
#include "shell/Guard.h"
#include "station/program/StationProgram.h"
#include "station/window/StationWindow.h"

#include <QApplication>
#include <QMessageBox>
#include <clocale>

using namespace pellwick;

namespace {

// A failure in one event handler does not stop the boards of the other slots.
const char* const GoesOn =
    "the station goes on; check the board of that moment in station.log, and if the failure "
    "comes back keep station.log and this output for a fault report";
// One outside the event loop ends the program.
const char* const Ends = "the station ended with status 7; if the failure comes back keep "
                         "station.log and this output for a fault report";

int RunStation(int& argc, char** argv, StationOptions& options);

} // namespace

int main(int argc, char** argv) {
    // Dates in the upload header follow the user's locale.
    std::setlocale(LC_ALL, "");
    StationOptions options;
    CommandLine line("pellwick-station", PELLWICK_VERSION, StationHelp);
    DeclareStationOptions(line, options);
    if (const auto status = line.Answer(std::vector<std::string>(argv + 1, argv + argc))) {
        return *status;
    }
    int status = StationFailure;
    Guard("pellwick-station", Ends, stderr, [&] { status = RunStation(argc, argv, options); });
    return status;
}

namespace {

int RunStation(int& argc, char** argv, StationOptions& options) {
    if (!EnterStationFolder(options, stderr)) {
        return StationBadInput;
    }
    if (options.query != StationOptions::Query::None) {
        // The database driver is a plugin, and Qt loads plugins through the application.
        GuardedApplication<QCoreApplication> app(argc, argv, "pellwick-station", GoesOn);
        std::setlocale(LC_NUMERIC, "C");
        return RunRecordQuery(options, stdout, stderr);
    }
    if (options.headless) {
        GuardedApplication<QCoreApplication> app(argc, argv, "pellwick-station", GoesOn);
        // The record names the version that loaded each board.
        QCoreApplication::setApplicationVersion(QStringLiteral(PELLWICK_VERSION));
        std::setlocale(LC_NUMERIC, "C");
        return RunHeadlessStation(options, stdout);
    }
    GuardedApplication<QApplication> app(argc, argv, "pellwick-station", GoesOn);
    // QApplication sets the numeric locale again; the engine's texts need the C rules there.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("pellwick-station"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELLWICK_VERSION));
    std::vector<std::string> errors;
    StationConfig config = ReadStationConfig(errors);
    if (!errors.empty()) {
        QString text;
        for (const std::string& error : errors) {
            std::fprintf(stderr, "pellwick-station: %s\n", error.c_str());
            text += QString::fromLocal8Bit(error.c_str()) + "\n";
        }
        QMessageBox::critical(
            nullptr, QStringLiteral("Pellwick Station"),
            QStringLiteral("Nothing was started: correct %1/%2.\n\n%3")
                .arg(QString::fromLocal8Bit(config.Folder.c_str()), StationConfig::FileName, text));
        return StationBadInput;
    }
    Station station(std::move(config));
    // The window first, so that what the start says (a record that was repaired) reaches it.
    StationWindow window(station);
    if (const std::string error = station.Start(options.junitFolder); !error.empty()) {
        std::fprintf(stderr, "pellwick-station: %s\n", error.c_str());
        QMessageBox::critical(nullptr, QStringLiteral("Pellwick Station"),
                              QString::fromLocal8Bit(error.c_str()));
        return StationRecordFailed;
    }
    window.show();
    const int status = QApplication::exec();
    station.Shutdown();
    return status;
}

} // namespace
