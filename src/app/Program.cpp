#include "app/Program.h"

#include <QIcon>
#include <memory>

#include "app/LinkTerminalHost.h"
#include "app/QtMessageBoxes.h"
#include "app/TAboutBox.h"
#include "app/TFrmLoadr.h"
#include "app/TPellwickApplication.h"
#include "link/PortOwner.h"
#include "link/TFrmS_comm.h"
#include "portselect/TComSelectForm.h"
#include "resources/Resources.h"
#include "serial/TVaxoCustomComPort.h"
#include "shell/ProcessWorld.h"
#include "terminal/TFrmTerminal.h"
#include "terminal/TVaxoTerminal.h"
#include "upload/run/UploadRun.h"

namespace pellwick {

int RunProgram(const ProgramOptions& options) {
    InitResources();
    QApplication::setWindowIcon(QIcon(QString::fromLatin1(kIconPath)));

    QtMessageBoxes qtBoxes;
    IMessageBoxes& boxes = options.Boxes != nullptr ? *options.Boxes : qtBoxes;
    const auto report = [&boxes](const std::exception& e) {
        boxes.Show(MsgKind::Error, e.what(), MbOk);
    };
    TPellwickApplication* app = TPellwickApplication::Instance();
    if (app != nullptr) {
        app->SetReport(report);
    }
    // COMn names resolve through the port map of the start folder's loader.ini from now on,
    // made before any port opens; exceptions raised in the port's event handlers are shown.
    const ProcessWorld world(ProcessWorld::StartFolderIni(), report);
    // The port number asked for when none is set.
    TVaxoCustomComPort::SetPortSelector(SelectPortWithDialog);

    // Declared before the windows, so that they outlive every one of them: the port's owner
    // and the owner of upload runs on its link, which the main window renders.
    PortOwner owner(boxes);
    UploadRun run(owner.Operations(), boxes);
    LinkTerminalHost terminalHost(owner);
    std::unique_ptr<TFrmTerminal> terminalWindow;

    TFrmLoadr::Options mainOptions;
    mainOptions.SplashWait = options.SplashWait;
    mainOptions.Script = options.Script;
    TFrmLoadr mainWindow(run, boxes, mainOptions);
    qtBoxes.SetParent(&mainWindow);

    // No parent: the main window must not delete it.
    TFrmS_comm settingsWindow(owner, mainWindow.IniPath(), boxes);
    TAboutBox aboutBox(&mainWindow);
    TFrmLoadr::Peers peers;
    peers.Port = &owner.Port();
    peers.ClosePort = [&owner] { owner.Shutdown(); };
    peers.ShowSettings = [&settingsWindow] { settingsWindow.exec(); };
    peers.ShowAbout = [&aboutBox] { aboutBox.exec(); };
    peers.CreateTerminal = [&] {
        terminalWindow = std::make_unique<TFrmTerminal>(&owner.Port(), &terminalHost);
        terminalWindow->SetMessageBoxes(&boxes);
        terminalWindow->SetSettingsFile(mainWindow.IniPath());
        // The terminal window does not keep the program going: closing the main window ends it.
        terminalWindow->setAttribute(Qt::WA_QuitOnClose, false);
        return terminalWindow.get();
    };
    peers.SetTerminalActive = [&terminalWindow](bool on) {
        terminalWindow->Terminal().SetActive(on);
    };
    mainWindow.SetPeers(std::move(peers));
    try {
        settingsWindow.FormCreate();
    } catch (const std::exception& e) {
        // A failed write-back of a repaired setting; the program goes on.
        report(e);
    }

    // A further splash instance, created as the program always did but never shown.
    TSplashScreen splashScreen;

    mainWindow.show();
    if (options.Started) {
        ProgramWindows windows;
        windows.Main = &mainWindow;
        windows.Settings = &settingsWindow;
        windows.About = &aboutBox;
        windows.Owner = &owner;
        windows.Terminal = [&terminalWindow] { return terminalWindow.get(); };
        options.Started(windows);
    }
    const int status = QApplication::exec();
    if (app != nullptr) {
        app->SetReport({});
    }
    return status;
}

} // namespace pellwick
