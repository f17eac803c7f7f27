// The program body: locale, application, port map, main window, the windows it works with, and
// the message loop.
#include <QApplication>
#include <QIcon>
#include <clocale>
#include <filesystem>
#include <memory>

#include "app/QtMessageBoxes.h"
#include "app/TAboutBox.h"
#include "app/TFrmLoadr.h"
#include "app/TSplashScreen.h"
#include "portselect/TComSelectForm.h"
#include "resources/Resources.h"
#include "serial/TVaxoCustomComPort.h"
#include "serial/portmap/PortMap.h"

using namespace pellwick;

int main(int argc, char** argv) {
    // Dates in the upload header and the log follow the user's locale.
    std::setlocale(LC_ALL, "");
    QApplication app(argc, argv);
    // QApplication sets the numeric locale again; the engine's texts need the C rules there.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("pellwick"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quarrow, Inc. RS232 Pellwick"));
    InitResources();
    QApplication::setWindowIcon(QIcon(QString::fromLatin1(kIconPath)));

    // COMn names resolve through this map from now on; it is made before any port opens, from
    // the loader.ini of the folder the program starts in.
    std::error_code error;
    const std::string startFolder = std::filesystem::current_path(error).string();
    PortMap::SetGlobal(
        std::make_shared<const PortMap>(PortMap::Build(startFolder + "/loader.ini")));

    QtMessageBoxes boxes;
    // Exceptions raised in the port's event handlers, and the port number asked for when none
    // is set.
    TVaxoCustomComPort::SetExceptionDisplay(
        [&boxes](const std::exception& e) { boxes.Show(MsgKind::Error, e.what(), MbOk); });
    TVaxoCustomComPort::SetPortSelector(SelectPortWithDialog);

    TFrmLoadr mainWindow(boxes);
    boxes.SetParent(&mainWindow);

    // Integration point: the settings window (its port and link operations) and the terminal
    // window are created here and handed to the main window with SetPeers.
    TAboutBox aboutBox(&mainWindow);
    TFrmLoadr::Peers peers;
    peers.ShowAbout = [&aboutBox] { aboutBox.exec(); };
    mainWindow.SetPeers(std::move(peers));
    // Without the settings window no port is open.
    mainWindow.SetComBtnState(false);

    // A further splash instance, created as the program always did but never shown.
    TSplashScreen splashScreen;

    mainWindow.show();
    return QApplication::exec();
}
