// The main window driven as the operator and the other windows drive it: start-up from
// loader.ini, the control states of each phase, runs, cancelling, the terminal and exit.
#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>

#include "AppTestSupport.h"
#include "SerialTestSupport.h"
#include "app/TFrmLoadr.h"
#include "app/TSplashScreen.h"
#include "lights/TVaxoSLController.h"
#include "lights/TVaxoStatusLight.h"
#include "serial/TVaxoCustomComPort.h"
#include "serial/TVaxoWin32Dispatcher.h"
#include "serial/portmap/PortMap.h"
#include "support/PtyPair.h"
#include "upload/run/UploadRun.h"

namespace pellwick::test {
namespace {

using pellwick::test::FakeSerialDevice;

using namespace std::chrono_literals;

class MainWindowTest : public ::testing::Test {
protected:
    std::unique_ptr<TFrmLoadr> MakeWindow(std::chrono::milliseconds splash = 0ms) {
        TFrmLoadr::Options options;
        options.SplashWait = splash;
        if (!run) {
            run = std::make_unique<UploadRun>(link, boxes);
        }
        return std::make_unique<TFrmLoadr>(*run, boxes, options);
    }

    void TearDown() override { port.reset(); }

    // A window with the recording link as its settings window's link, and an open port whose
    // device is a double with modem lines and error counts the test sets.
    std::unique_ptr<TFrmLoadr> MakeLinkedWindow() {
        device = std::make_shared<FakeSerialDevice::State>();
        auto state = device;
        TVaxoWin32Dispatcher::DeviceFactoryHook().Set(
            [state] { return std::make_unique<FakeSerialDevice>(state); });
        PortMap::SetGlobal(
            std::make_shared<PortMap>(std::map<int, std::string>{{1, "/dev/fake-com1"}}));
        return MakePortWindow();
    }

    // A shown window with the recording link and `port`, opened on COM1 of the global port map.
    std::unique_ptr<TFrmLoadr> MakePortWindow() {
        port = std::make_unique<TVaxoComPort>();
        port->SetComNumber(1);
        port->SetAutoOpen(false);
        port->SetPromptForPort(false);
        port->SetOpen(true);
        link.Port = port.get();
        auto window = MakeWindow();
        TFrmLoadr::Peers peers;
        peers.Port = port.get();
        peers.ClosePort = [this] {
            link.SetUploadMode(false);
            port->SetOpen(false);
        };
        window->SetPeers(std::move(peers));
        window->show();
        return window;
    }

    template <typename T> static T* Find(TFrmLoadr& window, const char* name) {
        T* found = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    static QColor LampOf(TFrmLoadr& window) {
        return Find<QFrame>(window, "PnlComLamp")->palette().color(QPalette::Window);
    }

    // Enabled states of the run-dependent controls, in the order of the arguments' names.
    struct Controls {
        bool Upload, Term, TermItem, ComSet, RS232Item, Cancel;
        friend bool operator==(const Controls&, const Controls&) = default;
    };
    static Controls ControlsOf(TFrmLoadr& window) {
        return {Find<QPushButton>(window, "BtnUpload")->isEnabled(),
                Find<QToolButton>(window, "SpdBtnTerm")->isEnabled(),
                Find<QAction>(window, "MnuItmTerminal")->isEnabled(),
                Find<QToolButton>(window, "SpdBtnComSet")->isEnabled(),
                Find<QAction>(window, "MnuItmRS232")->isEnabled(),
                Find<QPushButton>(window, "BtnULCancel")->isEnabled()};
    }

    WorkFolder folder;
    ScriptedBoxes boxes{Unscripted::PressFirstButton};
    RecordingLink link;
    std::shared_ptr<FakeSerialDevice::State> device;
    ScopedHook<TVaxoWin32Dispatcher::DeviceFactory> deviceFactory_{
        TVaxoWin32Dispatcher::DeviceFactoryHook(), nullptr};
    ScopedHook<std::shared_ptr<const PortMap>> portMap_{PortMap::GlobalHook(), nullptr};
    std::unique_ptr<TVaxoComPort> port;
    std::unique_ptr<UploadRun> run; // made with the first window, on `link`
};

TEST_F(MainWindowTest, StartsWithTheDocumentedControlsAndCreatesLoaderIniWithOnlyTheVersion) {
    auto window = MakeWindow();
    EXPECT_EQ(window->windowTitle(), "Quarrow, RS232 Pellwick");
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_EQ(folder.Read("loader.ini"), "[Global]\nDriver Version=2.00\n");
    EXPECT_EQ(window->IniPath(), folder.File("loader.ini"));

    EXPECT_EQ(Find<QPushButton>(*window, "BtnUpload")->text(), "Start File Upload");
    EXPECT_FALSE(window->ManualMode());
    EXPECT_TRUE(Find<QAction>(*window, "MnuItmAutomatic")->isChecked());
    EXPECT_EQ(Find<QToolButton>(*window, "SpdBtnTerm")->toolTip(), "Terminal Window");
    EXPECT_EQ(Find<QToolButton>(*window, "SpdBtnComSet")->toolTip(), "Communications Setup");
    EXPECT_EQ(Find<QFrame>(*window, "PnlComLamp")->toolTip(), "Communication / Upload Status");
    EXPECT_EQ(LampOf(*window), QColor(255, 0, 0));
    auto* cancel = Find<QPushButton>(*window, "BtnULCancel");
    EXPECT_EQ(cancel->text(), "Cancel Upload");
    EXPECT_FALSE(cancel->isEnabled());
    auto* progress = Find<QGroupBox>(*window, "GrpBxProgress");
    EXPECT_EQ(progress->title(), "Progress");
    EXPECT_TRUE(progress->isHidden());
    EXPECT_EQ(Find<QLabel>(*window, "LblUpload")->text(), "Upload Progress");
    EXPECT_EQ(Find<QProgressBar>(*window, "GgeScript")->value(), 0);
    EXPECT_EQ(Find<QProgressBar>(*window, "GgeUpload")->value(), 0);
    EXPECT_EQ(Find<QFrame>(*window, "PnlLights")->toolTip(), "RS232 Status Lights");
    EXPECT_FALSE(Find<QFrame>(*window, "PnlLights")->isHidden());
    for (const char* name : {"LightCTS", "LightDSR", "LightDCD", "LightERR"}) {
        EXPECT_EQ(Find<QWidget>(*window, name)->size(), QSize(10, 8)) << name;
    }
    EXPECT_TRUE(Find<QAction>(*window, "MnuItmStatusLights")->isChecked());
    EXPECT_FALSE(Find<QAction>(*window, "MnuItmSupport")->isVisible());
    EXPECT_EQ(ScriptEngine::ScriptTick, std::chrono::milliseconds(10));
    EXPECT_FALSE(run->TimerActive());
    EXPECT_EQ(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 1000);

    auto* dialog = Find<QFileDialog>(*window, "OpnDlgULFile");
    EXPECT_EQ(dialog->nameFilters(),
              QStringList({"Upload Script File (*.sld)", "All Files (*.*)"}));
    EXPECT_EQ(dialog->defaultSuffix(), "sld");
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
}

TEST_F(MainWindowTest, ScreenReadersHearEveryControlByNameAndTheLampsByState) {
    auto window = MakeWindow();
    const auto spoken = [](QWidget* w, QAccessible::Text what) {
        QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(w);
        return reader != nullptr ? reader->text(what) : QString();
    };
    QSet<QString> gauges;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QProgressBar*>(w) ||
                             qobject_cast<QLineEdit*>(w) || qobject_cast<TVaxoStatusLight*>(w) ||
                             w->objectName() == "PnlComLamp";
        // Qt's own helpers (the overflow buttons of menu and tool bar) are not ours to name.
        if (!control || w->window() != window.get() || w->objectName().startsWith("qt_"))
            continue;
        EXPECT_FALSE(spoken(w, QAccessible::Name).isEmpty()) << w->objectName().toStdString();
        if (qobject_cast<QProgressBar*>(w))
            gauges.insert(spoken(w, QAccessible::Name));
    }
    EXPECT_EQ(gauges, QSet<QString>({"Script Progress", "Upload Progress"}));
    EXPECT_EQ(spoken(Find<QWidget>(*window, "LightCTS"), QAccessible::Description), "CTS off");
    QWidget* lamp = Find<QFrame>(*window, "PnlComLamp");
    window->SetComLamp(LampGreen);
    const QString green = spoken(lamp, QAccessible::Description);
    window->SetComLamp(LampRed);
    EXPECT_FALSE(green.isEmpty());
    EXPECT_NE(green, spoken(lamp, QAccessible::Description));
}

TEST_F(MainWindowTest, ReadsUploadSettingsAndAddsOnlyTheVersionToAnExistingFile) {
    const std::string before = "[Upload Settings]\r\nDefault Script=first.sld\r\nDelay=$20\r\n"
                               "Upload Method=manual\r\n";
    folder.Write("loader.ini", before);
    auto window = MakeWindow();
    EXPECT_EQ(folder.Read("loader.ini"), before + "\r\n[Global]\r\nDriver Version=2.00\r\n");
    EXPECT_EQ(window->Run().Engine().Run().ScriptFileName, "first.sld");
    EXPECT_EQ(window->Run().Engine().Run().PreUploadDelay, 32);
    EXPECT_TRUE(window->ManualMode());
    EXPECT_TRUE(Find<QAction>(*window, "MnuItmManual")->isChecked());
    EXPECT_EQ(Find<QPushButton>(*window, "BtnUpload")->text(), "Select Upload Script");
}

TEST_F(MainWindowTest, OnlyTheWordManualInAnyCaseSelectsManualMode) {
    const std::pair<const char*, bool> cases[] = {{"manual", true},
                                                  {"MaNuAl", true},
                                                  {"Manual mode", false},
                                                  {"AUTOMATIC", false},
                                                  {"", false}};
    for (const auto& [method, manual] : cases) {
        folder.Write("loader.ini",
                     std::string("[Upload Settings]\nUpload Method=") + method + "\n");
        auto window = MakeWindow();
        EXPECT_EQ(window->ManualMode(), manual) << method;
    }
}

TEST_F(MainWindowTest, EveryActionHasAKeyOfItsOwnShownBesideIt) {
    auto window = MakeWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QList<QKeySequence> taken{QKeySequence::HelpContents}; // F1: the window's topic
    for (QAction* menu : window->menuBar()->actions()) {
        for (QAction* item : menu->menu()->actions()) {
            if (item->isSeparator() || !item->isVisible()) {
                continue;
            }
            ASSERT_FALSE(item->shortcut().isEmpty()) << item->text().toStdString();
            EXPECT_FALSE(taken.contains(item->shortcut())) << item->text().toStdString();
            taken << item->shortcut();
        }
    }
    for (const char* button : {"BtnUpload", "BtnULCancel"}) {
        const QKeySequence key = Find<QPushButton>(*window, button)->shortcut();
        EXPECT_FALSE(key.isEmpty() || taken.contains(key)) << button;
        taken << key;
    }
    QTest::keyClick(window.get(), Qt::Key_M, Qt::ControlModifier);
    EXPECT_TRUE(window->ManualMode());
    EXPECT_EQ(Find<QPushButton>(*window, "BtnUpload")->text(), "Select Upload Script");
}

TEST_F(MainWindowTest, DefaultPathIsEnteredOrReportedAndStartUpGoesOn) {
    const std::string sub = folder.File("scripts");
    std::filesystem::create_directory(sub);
    folder.Write("loader.ini", "[Upload Settings]\nDefault Path=" + sub + "\n");
    {
        auto window = MakeWindow();
        EXPECT_TRUE(boxes.Shown.empty());
        EXPECT_EQ(std::filesystem::current_path().string(), sub);
        // The file stays the one of the start folder.
        EXPECT_EQ(window->IniPath(), folder.File("loader.ini"));
    }
    std::filesystem::current_path(folder.Path());
    folder.Write("loader.ini", "[Upload Settings]\nDefault Path=" + folder.File("missing") + "\n");
    auto window = MakeWindow();
    EXPECT_EQ(boxes.Shown, (Boxes{{MsgKind::Error,
                                   "Could not set directory specified in the loader.ini file!\r"
                                   "Edit the \"Default Path\" parameter to correct.\r"
                                   "The current program directory will be used.",
                                   MbOk}}));
    EXPECT_EQ(std::filesystem::current_path().string(), folder.Path());
    EXPECT_NE(folder.Read("loader.ini").find("Driver Version=2.00"), std::string::npos);
}

TEST_F(MainWindowTest, UnwritableIniIsReportedAndTheRestOfCreationIsSkipped) {
    // A folder in the file's place cannot be written even by root.
    std::filesystem::create_directory(folder.File("loader.ini"));
    auto window = MakeWindow(5000ms);
    EXPECT_EQ(boxes.Shown,
              (Boxes{{MsgKind::Error, "Unable to write to " + folder.File("loader.ini"), MbOk}}));
    // No splash: it would have been shown for five seconds.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        EXPECT_EQ(qobject_cast<TSplashScreen*>(w), nullptr);
    }
    window->show();
    EXPECT_TRUE(Find<QPushButton>(*window, "BtnUpload")->isEnabled());
}

TEST_F(MainWindowTest, CreationShowsTheSplashForItsWait) {
    QElapsedTimer clock;
    clock.start();
    auto window = MakeWindow(300ms);
    EXPECT_GE(clock.elapsed(), 300);
    bool splashSeen = false;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        splashSeen = splashSeen || qobject_cast<TSplashScreen*>(w) != nullptr;
    }
    EXPECT_TRUE(splashSeen);
}

// Mended: the port's recovery re-enabled Start and the terminal in the middle of a run, and a
// second Start restarted the script, emptied loader.log and sent the file again.
TEST_F(MainWindowTest, ControlsFollowTheRunAndItsPortAloneWhateverReportsArrive) {
    folder.Write("loader.sld", "_DY 100000\n");
    auto window = MakeWindow();
    bool terminalMade = false;
    TFrmLoadr::Peers peers;
    peers.CreateTerminal = [&terminalMade] {
        terminalMade = true;
        return new QWidget;
    };
    window->SetPeers(std::move(peers));
    const Controls idle{true, true, true, true, true, false};
    const Controls closed{false, false, false, true, true, false};
    const Controls running{false, false, false, false, false, true};

    link.Open = false;
    run->PortChanged();
    EXPECT_EQ(ControlsOf(*window), closed);
    link.Open = true;
    link.Host->SetComBtnState(true);
    EXPECT_EQ(ControlsOf(*window), idle);
    // Open, but without a trigger a run needs (a string the port refused): no start, no
    // terminal, as when it is closed.
    link.TriggersMade = false;
    link.Host->SetComBtnState(false);
    EXPECT_EQ(ControlsOf(*window), closed);
    link.TriggersMade = true;
    link.Host->SetComBtnState(true);
    EXPECT_EQ(ControlsOf(*window), idle);

    window->BtnUploadClick();
    EXPECT_EQ(ControlsOf(*window), running);
    // The port closes and comes back (the device reset) while the run pauses.
    link.Open = false;
    link.Host->SetComBtnState(false);
    EXPECT_EQ(ControlsOf(*window), running);
    link.Open = true;
    link.Host->SetComBtnState(true);
    EXPECT_EQ(ControlsOf(*window), running);
    window->BtnUploadClick(); // not offered: nothing happens
    EXPECT_EQ(link.UploadModes, std::vector<bool>{true});

    boxes.Answers = {MbYes, MbOk};
    window->BtnULCancelClick();
    ASSERT_TRUE(PumpUntil([&] { return !run->Running(); }));
    EXPECT_EQ(ControlsOf(*window), idle);
    EXPECT_FALSE(terminalMade);
}

TEST_F(MainWindowTest, TerminalActionsStayOffWithoutATerminalWindow) {
    auto window = MakeLinkedWindow();
    run->PortChanged();
    EXPECT_EQ(ControlsOf(*window), (Controls{true, false, false, true, true, false}));
}

TEST_F(MainWindowTest, TerminalIsRefusedWhileThePortIsClosedAndMadeOnlyOnceOtherwise) {
    auto window = MakeWindow();
    int made = 0;
    std::vector<bool> activity;
    auto terminal = std::make_unique<QWidget>();
    TFrmLoadr::Peers peers;
    peers.CreateTerminal = [&] {
        ++made;
        return terminal.get();
    };
    peers.SetTerminalActive = [&activity](bool on) { activity.push_back(on); };
    window->SetPeers(std::move(peers));

    link.Open = false;
    window->SpdBtnTermClick();
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text, "Com port not available, can not open terminal.");
    EXPECT_EQ(made, 0);
    EXPECT_FALSE(window->TerminalExists());

    link.Open = true;
    Find<QAction>(*window, "MnuItmTerminal")->trigger();
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(window->TerminalExists());
    EXPECT_EQ(Find<QToolButton>(*window, "SpdBtnTerm")->property("Tag").toInt(), 1);
    EXPECT_TRUE(terminal->isVisible());

    terminal->hide();
    link.Open = false; // once made, the window is shown again without asking the port
    window->SpdBtnTermClick();
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(terminal->isVisible());
    EXPECT_EQ(boxes.Shown.size(), 1u);

    window->SetTerminalActive(false);
    EXPECT_EQ(activity, std::vector<bool>{false});
}

TEST_F(MainWindowTest, ExitAsksAndClosesTheLinkOnlyOnOk) {
    auto window = MakeLinkedWindow();
    boxes.Answers = {MbCancel};
    Find<QAction>(*window, "MnuItmExit")->trigger();
    EXPECT_EQ(boxes.Shown, (Boxes{{MsgKind::Confirm, "Exit now ?", MbOk | MbCancel}}));
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(link.UploadModes.empty());
    EXPECT_TRUE(port->Open());

    Find<QAction>(*window, "MnuItmStatusLights")->trigger(); // off
    Find<QAction>(*window, "MnuItmStatusLights")->trigger(); // on again: watching
    EXPECT_TRUE(window->VaxoSLController2().Watching());
    boxes.Answers = {MbOk};
    Find<QAction>(*window, "MnuItmExit")->trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(link.UploadModes, std::vector<bool>{false});
    EXPECT_FALSE(port->Open());
    EXPECT_FALSE(window->VaxoSLController2().Watching());
    EXPECT_FALSE(window->VaxoSLController2().ResumeOnOpen());
    // Only the two questions: closing raised nothing.
    EXPECT_EQ(boxes.Shown.size(), 2u);
}

TEST_F(MainWindowTest, StatusLightsFollowModemLinesAndLineErrorsWhileMarked) {
    auto window = MakeLinkedWindow();
    TVaxoSLController& controller = window->VaxoSLController2();
    EXPECT_EQ(controller.RXDOffTimeout(), 5);
    EXPECT_EQ(controller.TXDOffTimeout(), 5);
    // Marked at start, but watching waits for the menu.
    EXPECT_FALSE(controller.Watching());
    auto* cts = Find<TVaxoStatusLight>(*window, "LightCTS");
    auto* dsr = Find<TVaxoStatusLight>(*window, "LightDSR");
    auto* dcd = Find<TVaxoStatusLight>(*window, "LightDCD");
    auto* err = Find<TVaxoStatusLight>(*window, "LightERR");

    auto* item = Find<QAction>(*window, "MnuItmStatusLights");
    item->trigger();
    EXPECT_FALSE(item->isChecked());
    EXPECT_TRUE(Find<QFrame>(*window, "PnlLights")->isHidden());
    EXPECT_FALSE(controller.Watching());
    item->trigger();
    EXPECT_TRUE(item->isChecked());
    EXPECT_FALSE(Find<QFrame>(*window, "PnlLights")->isHidden());
    ASSERT_TRUE(controller.Watching());

    {
        std::lock_guard lock(device->lock);
        device->modem = msCtsOn | msDcdOn;
    }
    ASSERT_TRUE(PumpUntil([&] { return cts->Lit() && dcd->Lit() && !dsr->Lit(); }));
    {
        std::lock_guard lock(device->lock);
        ++device->counts.parity;
    }
    ASSERT_TRUE(PumpUntil([&] { return err->Lit(); }));

    // A lit lamp paints red, an unlit one dark green.
    const QImage lit = cts->grab().toImage();
    const QImage unlit = dsr->grab().toImage();
    EXPECT_EQ(lit.pixelColor(lit.width() / 2, lit.height() / 2), QColor(255, 0, 0));
    EXPECT_EQ(unlit.pixelColor(unlit.width() / 2, unlit.height() / 2), QColor(0, 128, 0));

    item->trigger();
    EXPECT_FALSE(controller.Watching());
    EXPECT_FALSE(cts->Lit());
}

TEST_F(MainWindowTest, ALostPortIsShownInTheLampHintAndTheLightsPanelUntilItOpensAgain) {
    PtyPair gone, back;
    PortMap::SetGlobal(std::make_shared<PortMap>(
        std::map<int, std::string>{{1, gone.SlavePath()}, {2, back.SlavePath()}}));
    auto window = MakePortWindow();
    auto* lamp = Find<QFrame>(*window, "PnlComLamp");
    auto* lights = Find<QFrame>(*window, "PnlLights");
    auto* state = Find<QLabel>(*window, "LblPortState");
    EXPECT_FALSE(state->isVisibleTo(window.get()));

    gone.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return port->Lost(); }));
    const QString text = "disconnected: " + QString::fromStdString(gone.SlavePath());
    EXPECT_EQ(lamp->toolTip(), text);
    EXPECT_EQ(lights->toolTip(), text);
    EXPECT_EQ(state->toolTip(), text);
    EXPECT_TRUE(state->isVisibleTo(window.get()));
    EXPECT_TRUE(state->text().startsWith("disconnected") || state->text().contains(QChar(0x2026)))
        << state->text().toStdString();
    EXPECT_FALSE(Find<QPushButton>(*window, "BtnUpload")->isEnabled());

    port->SetComNumber(2);
    port->SetOpen(true);
    EXPECT_EQ(lamp->toolTip(), "Communication / Upload Status");
    EXPECT_EQ(lights->toolTip(), "RS232 Status Lights");
    EXPECT_FALSE(state->isVisibleTo(window.get()));
}

TEST_F(MainWindowTest, CloseBoxClosesWithoutAskingAndLeavesWatchingAloneWhenLightsAreOff) {
    auto window = MakeLinkedWindow();
    Find<QAction>(*window, "MnuItmStatusLights")->trigger();
    window->close();
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_EQ(link.UploadModes, std::vector<bool>{false});
    EXPECT_FALSE(port->Open());
    EXPECT_FALSE(window->VaxoSLController2().Watching());
}

TEST_F(MainWindowTest, CancelledScriptDialogStartsNoRun) {
    folder.Write("loader.ini", "[Upload Settings]\nUpload Method=MANUAL\n");
    auto window = MakeLinkedWindow();
    WhenModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    QTest::mouseClick(Find<QPushButton>(*window, "BtnUpload"), Qt::LeftButton);
    EXPECT_FALSE(window->Run().Running());
    EXPECT_TRUE(std::filesystem::exists(folder.File("loader.log")));
    EXPECT_EQ(link.UploadModes, std::vector<bool>{true});
    EXPECT_TRUE(Find<QGroupBox>(*window, "GrpBxProgress")->isHidden());
    EXPECT_FALSE(Find<QPushButton>(*window, "BtnULCancel")->isEnabled());
    EXPECT_TRUE(link.Sent.empty());
}

TEST_F(MainWindowTest, ScriptChosenByHandRunsFromItsFolderAndStaysTheDefault) {
    const std::string sub = folder.File("job");
    std::filesystem::create_directory(sub);
    folder.Write("job/job.sld", "_SC \"A^M\"\n");
    auto window = MakeLinkedWindow();
    Find<QAction>(*window, "MnuItmManual")->trigger();
    EXPECT_EQ(Find<QPushButton>(*window, "BtnUpload")->text(), "Select Upload Script");
    const QString chosen = QString::fromStdString(sub + "/job.sld");
    WhenModalWidget([chosen](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr) {
            return false;
        }
        // As the operator types it: selectFile leaves a focused name field alone.
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        if (name == nullptr) {
            return false;
        }
        name->setText(chosen);
        static_cast<QDialog*>(dialog)->accept();
        // The dialog's file list fills in the background; it may refuse the name until then.
        return !dialog->isVisible();
    });
    window->BtnUploadClick();
    ASSERT_TRUE(PumpUntil([&] { return !window->Run().Running(); }));
    EXPECT_EQ(link.Sent, std::vector<std::string>{"A\r"});
    EXPECT_EQ(std::filesystem::current_path().string(), sub);
    EXPECT_EQ(window->Run().Engine().Run().ScriptFileName, sub + "/job.sld");

    Find<QAction>(*window, "MnuItmAutomatic")->trigger();
    EXPECT_EQ(Find<QPushButton>(*window, "BtnUpload")->text(), "Start File Upload");
    window->BtnUploadClick();
    ASSERT_TRUE(PumpUntil([&] { return !window->Run().Running(); }));
    EXPECT_EQ(link.Sent.size(), 2u);
}

TEST_F(MainWindowTest, RunShowsEachPhaseFromStartToIdle) {
    folder.Write("loader.ini", "[Upload Settings]\nDelay=1\n");
    folder.Write("one.bin", std::string(300, 'x'));
    folder.Write("two.bin", "tail");
    folder.Write("loader.sld", "_TC \"VER^M\"\n_DY 3\n_LA 0002\n_LV 1.0\n_LF one.bin\n_LD\n"
                               "_LF two.bin\n_LD\n");
    auto window = MakeLinkedWindow();
    link.AutoDrain = false;
    auto* lblUpload = Find<QLabel>(*window, "LblUpload");
    auto* ggeUpload = Find<QProgressBar>(*window, "GgeUpload");
    auto* ggeScript = Find<QProgressBar>(*window, "GgeScript");
    auto* progress = Find<QGroupBox>(*window, "GrpBxProgress");

    QTest::mouseClick(Find<QPushButton>(*window, "BtnUpload"), Qt::LeftButton);
    EXPECT_TRUE(window->Run().Running());
    EXPECT_EQ(ControlsOf(*window), (Controls{false, false, false, false, false, true}));
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(LampOf(*window), QColor(0, 128, 0));

    // First file handed to the link: label shows its name while the transfer runs.
    ASSERT_TRUE(PumpUntil([&] { return link.Transferring; }));
    EXPECT_EQ(link.Blocks.back(), std::string(300, 'x'));
    EXPECT_EQ(lblUpload->text(), "one.bin");
    EXPECT_GT(ggeScript->value(), 0);
    EXPECT_LT(ggeScript->value(), 100);
    link.Host->SetUploadGauge(40);
    EXPECT_EQ(ggeUpload->value(), 40);
    EXPECT_EQ(ControlsOf(*window), (Controls{false, false, false, false, false, true}));
    link.Drain();

    ASSERT_TRUE(PumpUntil([&] { return link.Transferring; }));
    EXPECT_EQ(link.Blocks.back(), "tail");
    EXPECT_EQ(lblUpload->text(), "two.bin");
    link.Drain();

    ASSERT_TRUE(PumpUntil([&] { return !window->Run().Running(); }));
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_EQ(ControlsOf(*window), (Controls{true, false, false, true, true, false}));
    EXPECT_TRUE(progress->isHidden());
    EXPECT_EQ(ggeScript->value(), 100);
    EXPECT_EQ(LampOf(*window), QColor(0, 128, 0));
    EXPECT_FALSE(run->TimerActive());
    // VER, two headers, two verifications.
    EXPECT_EQ(link.Sent.size(), 5u);
}

TEST_F(MainWindowTest, CancelNoKeepsTheRunAndCancelYesEndsItRed) {
    folder.Write("loader.ini", "[Upload Settings]\nDelay=1\n");
    folder.Write("a.bin", std::string(100, 'a'));
    folder.Write("loader.sld", "_LA 1\n_LV 1\n_LF a.bin\n_LD\n_SC \"NEVER^M\"\n");
    auto window = MakeLinkedWindow();
    link.AutoDrain = false;
    window->BtnUploadClick();
    ASSERT_TRUE(PumpUntil([&] { return link.Transferring; }));

    boxes.Answers = {MbNo};
    QTest::mouseClick(Find<QPushButton>(*window, "BtnULCancel"), Qt::LeftButton);
    EXPECT_EQ(boxes.Shown, (Boxes{{MsgKind::Warning, "Cancel current upload?", MbYes | MbNo}}));
    EXPECT_TRUE(link.StopRequests.empty());
    EXPECT_TRUE(window->Run().Running());

    boxes.Answers = {MbYes};
    QTest::mouseClick(Find<QPushButton>(*window, "BtnULCancel"), Qt::LeftButton);
    EXPECT_EQ(link.StopRequests.front(), true);
    link.Drain();
    ASSERT_TRUE(PumpUntil([&] { return !window->Run().Running(); }));
    EXPECT_EQ(LampOf(*window), QColor(255, 0, 0));
    EXPECT_TRUE(Find<QGroupBox>(*window, "GrpBxProgress")->isHidden());
    EXPECT_EQ(ControlsOf(*window), (Controls{true, false, false, true, true, false}));
    for (const std::string& sent : link.Sent) {
        EXPECT_EQ(sent.find("NEVER"), std::string::npos);
    }
}

TEST_F(MainWindowTest, NoRunStartsWhileThePortIsClosed) {
    folder.Write("loader.sld", "_SC \"A\"\n");
    auto window = MakeWindow();
    link.Open = false;
    window->BtnUploadClick();
    EXPECT_FALSE(window->Run().Running());
    EXPECT_TRUE(link.UploadModes.empty());
    EXPECT_FALSE(std::filesystem::exists(folder.File("loader.log")));
}

} // namespace
} // namespace pellwick::test
