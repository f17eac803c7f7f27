// The main window: starts uploads and shows their progress, opens the terminal and settings
// windows, shows the status lights, reads the general settings of loader.ini at creation and
// shuts the link down when it closes. The run itself belongs to an UploadRun made outside the
// window: the window renders its view (gauges, label, lamp, which actions are open) and
// forwards the operator's actions to it.
//
// The port's owner and the windows created after this one (settings window, terminal window,
// about box) are handed in with SetPeers once they exist; until then the actions that need them
// are disabled or report that the port is not available. The status light controller
// VaxoSLController2 belongs to this window and watches the owner's port.
#pragma once

#include <QMainWindow>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/TSplashScreen.h"
#include "serial/MessageBoxes.h"
#include "upload/IUploadWindow.h"

class QAction;
class QActionGroup;
class QFileDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace pellwick {

class THelpWindow;
class UploadRun;
class TVaxoCustomComPort;
class TVaxoSLController;
class TVaxoStatusLight;

class TFrmLoadr : public QMainWindow {
    Q_OBJECT

public:
    static constexpr const char* kCaption = "Quarrow, RS232 Pellwick";
    static constexpr int kHintDelayMs = 1000;
    static constexpr int kHelpContext = 20;
    // The file dialog's filters as "name|pattern|name|pattern".
    static constexpr const char* kScriptFilter =
        "Upload Script File (*.sld)|*.sld|All Files (*.*)|*.*";

    struct Options {
        // How long creation shows the splash screen while handling events; zero skips it.
        std::chrono::milliseconds SplashWait = TSplashScreen::kStartupWait;
        // The script of automatic starts in place of loader.ini's "Default Script"; empty:
        // that one.
        std::string Script;
    };

    // What the main window uses of the windows made after it.
    struct Peers {
        // What the port's owner offers: the port the status lights watch, and the program's
        // end (upload mode off, port closed; reports its own failures).
        TVaxoCustomComPort* Port = nullptr;
        std::function<void()> ClosePort;
        // Shows the settings window modally.
        std::function<void()> ShowSettings;
        // Creates the terminal window (called once); without it the terminal actions stay
        // disabled.
        std::function<QWidget*()> CreateTerminal;
        // The terminal control's Active property.
        std::function<void(bool)> SetTerminalActive;
        // Shows the about box modally.
        std::function<void()> ShowAbout;
    };

    // Runs FormCreate: reads loader.ini of the current directory, enters "Default Path", writes
    // the driver version and shows the splash screen. The run outlives the window.
    TFrmLoadr(UploadRun& run, IMessageBoxes& boxes, QWidget* parent = nullptr);
    TFrmLoadr(UploadRun& run, IMessageBoxes& boxes, const Options& options,
              QWidget* parent = nullptr);
    ~TFrmLoadr() override;

    void SetPeers(Peers peers);

    // The terminal window has been made once (the Tag of SpdBtnTerm).
    bool TerminalExists() const;
    void SetTerminalActive(bool active);
    // The file dialog; a chosen script's folder becomes the current directory.
    bool ChooseScriptFile(std::string& path);
    // PnlComLamp's colour, with the state screen readers tell.
    void SetComLamp(LampColour colour);

    // --- Handlers ----------------------------------------------------------------------------
    void BtnUploadClick();
    void BtnULCancelClick();
    void SpdBtnTermClick();
    void SpdBtnComSetClick();
    void MnuItmExitClick();
    void MnuItmStatusLightsClick();
    void MnuItmManualClick();
    void MnuItmAutomaticClick();
    void MnuItmHelpTopicsClick();
    void MnuItmAboutClick();
    // Opens the help window at the page of a help context (10, 20, 110, 210).
    void ShowHelpContext(int context);

    // --- State -------------------------------------------------------------------------------
    bool ManualMode() const;
    // The loader.ini path computed at creation (before "Default Path" was entered).
    const std::string& IniPath() const { return iniPath_; }
    UploadRun& Run() { return run_; }
    // The help window once opened, else null.
    THelpWindow* HelpWindow() const { return help_.get(); }
    TVaxoSLController& VaxoSLController2() { return *vaxoSLController2_; }
    // The status lamps of PnlLights (CTS, DSR, DCD, ERR).
    TVaxoStatusLight* CTSLight() const { return lightCts_; }
    TVaxoStatusLight* DSRLight() const { return lightDsr_; }
    TVaxoStatusLight* DCDLight() const { return lightDcd_; }
    TVaxoStatusLight* ERRLight() const { return lightErr_; }

    // "name|pattern|..." as a Qt name filter list ("name;;name"); the patterns are taken from
    // the names' parentheses, as Qt does.
    static QString QtFilterOf(const std::string& filter);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    void BuildControls();
    void FormCreate(const Options& options);
    void FormClose();
    // The application's report of an exception that reached the window.
    void ReportException(const std::exception& e);
    bool TerminalAvailable() const;
    // Shows the run's view: gauges, label, lamp, progress group, and the actions it allows.
    void Render();
    // The lamp's hint and the lights panel say "disconnected" and which device while the
    // port's device is away.
    void ShowPortState(bool lost);
    // The state label's text, shortened to its width.
    void FitPortState();
    static void PortOpenedOrClosing(void* context, TVaxoCustomComPort* port, bool opening);

    UploadRun& run_;
    IMessageBoxes& boxes_;
    Peers peers_;
    std::string iniPath_;
    std::unique_ptr<TSplashScreen> splash_;
    std::unique_ptr<THelpWindow> help_;
    QWidget* terminal_ = nullptr;
    bool closed_ = false;

    QAction* mnuItmTerminal_;
    QAction* mnuItmExit_;
    QAction* mnuItmStatusLights_;
    QAction* mnuItmRS232_;
    QAction* mnuItmManual_;
    QAction* mnuItmAutomatic_;
    QAction* mnuItmHelpTopics_;
    QAction* mnuItmSupport_;
    QAction* mnuItmAbout_;
    QActionGroup* methodGroup_;

    QToolButton* spdBtnTerm_;
    QToolButton* spdBtnComSet_;
    QPushButton* btnUpload_;
    QFrame* pnlComLamp_;
    QPushButton* btnULCancel_;
    QGroupBox* grpBxProgress_;
    QProgressBar* ggeScript_;
    QProgressBar* ggeUpload_;
    QLabel* lblUpload_;
    QFrame* pnlLights_;
    QLabel* lblPortState_;
    TVaxoStatusLight* lightCts_;
    TVaxoStatusLight* lightDsr_;
    TVaxoStatusLight* lightDcd_;
    TVaxoStatusLight* lightErr_;
    QFileDialog* opnDlgULFile_;
    TVaxoSLController* vaxoSLController2_;
};

} // namespace pellwick
