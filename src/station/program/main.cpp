// pellwick-station: the station's window, or with --headless its table on a terminal.
#include "station/program/GuardedApplication.h"
#include "station/program/StationProgram.h"
#include "station/window/StationWindow.h"

#include <QApplication>
#include <QMessageBox>
#include <clocale>

using namespace pellwick;

int main(int argc, char** argv) {
    // Dates in the upload header follow the user's locale.
    std::setlocale(LC_ALL, "");
    StationOptions options;
    if (!ParseStationOptions(argc, argv, options, stderr)) {
        return StationBadCommandLine;
    }
    if (options.help) {
        std::fputs(StationHelp().c_str(), stdout);
        return StationClean;
    }
    if (options.version) {
        std::printf("pellwick-station %s\n", PELLWICK_VERSION);
        return StationClean;
    }
    if (!EnterStationFolder(options, stderr)) {
        return StationBadInput;
    }
    if (options.headless) {
        GuardedApplication<QCoreApplication> app(argc, argv);
        std::setlocale(LC_NUMERIC, "C");
        return RunHeadlessStation(options, stdout);
    }
    GuardedApplication<QApplication> app(argc, argv);
    // QApplication sets the numeric locale again; the engine's texts need the C rules there.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("pellwick-station"));
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
    if (const std::string error = station.Start(options.junitFolder); !error.empty()) {
        std::fprintf(stderr, "pellwick-station: %s\n", error.c_str());
        QMessageBox::critical(nullptr, QStringLiteral("Pellwick Station"),
                              QString::fromLocal8Bit(error.c_str()));
        return StationRecordFailed;
    }
    StationWindow window(station);
    window.show();
    const int status = QApplication::exec();
    station.Shutdown();
    return status;
}
