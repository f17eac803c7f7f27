// The program body: locale, application, port map, main window, the windows it works with, and
// the message loop.
#include <QApplication>
#include <QIcon>
#include <clocale>
#include <filesystem>
#include <memory>

#include "app/LinkTerminalHost.h"
#include "app/QtMessageBoxes.h"
#include "app/TAboutBox.h"
#include "app/TFrmLoadr.h"
#include "app/TSplashScreen.h"
#include "link/TFrmS_comm.h"
#include "portselect/TComSelectForm.h"
#include "resources/Resources.h"
#include "serial/TVaxoCustomComPort.h"
#include "serial/portmap/PortMap.h"
#include "terminal/TFrmTerminal.h"
#include "terminal/TVaxoTerminal.h"

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

    // Declared before the main window so that they outlive it: it refers to the settings
    // window's port and link, and to the terminal window (made on first use).
    std::unique_ptr<TFrmS_comm> settingsWindow;
    std::unique_ptr<LinkTerminalHost> terminalHost;
    std::unique_ptr<TFrmTerminal> terminalWindow;
    TFrmLoadr mainWindow(boxes);
    boxes.SetParent(&mainWindow);

    // The settings window: loads the RS232 settings, lists the ports and opens the port, then
    // sets the main window's port-dependent controls.
    // No parent: the main window must not delete it, it is owned here.
    settingsWindow = std::make_unique<TFrmS_comm>(mainWindow.IniPath(), boxes);
    settingsWindow->SetLinkHost(&mainWindow);
    TAboutBox aboutBox(&mainWindow);
    TFrmLoadr::Peers peers;
    peers.Link = &settingsWindow->Operations();
    peers.Port = &settingsWindow->VaxoComPort1;
    peers.ShowSettings = [&settingsWindow] { settingsWindow->exec(); };
    peers.ShowAbout = [&aboutBox] { aboutBox.exec(); };
    terminalHost = std::make_unique<LinkTerminalHost>(settingsWindow->Link());
    peers.CreateTerminal = [&] {
        terminalWindow =
            std::make_unique<TFrmTerminal>(&settingsWindow->VaxoComPort1, terminalHost.get());
        return terminalWindow.get();
    };
    peers.SetTerminalActive = [&terminalWindow](bool on) {
        terminalWindow->Terminal().SetActive(on);
    };
    mainWindow.SetPeers(std::move(peers));
    try {
        settingsWindow->FormCreate();
    } catch (const std::exception& e) {
        // A failed write-back of a repaired setting; the program goes on.
        boxes.Show(MsgKind::Error, e.what(), MbOk);
    }

    // A further splash instance, created as the program always did but never shown.
    TSplashScreen splashScreen;

    mainWindow.show();
    return QApplication::exec();
}
