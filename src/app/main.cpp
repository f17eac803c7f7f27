// pellwick: locale and application, then the program body.
#include <QApplication>
#include <clocale>

#include "app/Program.h"
#include "app/TPellwickApplication.h"

int main(int argc, char** argv) {
    // Dates in the upload header and the log follow the user's locale.
    std::setlocale(LC_ALL, "");
    pellwick::TPellwickApplication app(argc, argv);
    // QApplication sets the numeric locale again; the engine's texts need the C rules there.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("pellwick"));
    // The application title belongs to the desktop entry (task bars and launchers show it):
    // Qt would otherwise append a display name to every window's caption.
    QGuiApplication::setDesktopFileName(QStringLiteral("pellwick"));
    return pellwick::RunProgram({});
}
