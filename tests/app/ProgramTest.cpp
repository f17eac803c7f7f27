// The whole program body against two simulated devices (COM1 and COM2): the terminal window in
// each of its states together with an upload, a saved change of the settings and Exit. Every
// scenario runs inside the program's own message loop and ends with Program > Exit.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/Program.h"
#include "app/StartOptions.h"
#include "app/TFrmLoadr.h"
#include "app/TPellwickApplication.h"
#include "link/PortOwner.h"
#include "link/TFrmS_comm.h"
#include "link/TRadioGroup.h"
#include "serial/portmap/PortMap.h"
#include "support/DevsimHarness.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"
#include "terminal/TFrmTerminal.h"
#include "upload/ScriptEngine.h"
#include "upload/run/UploadRun.h"

namespace pellwick::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::size_t FileSize = 12000; // about a second on the emulated 115200 baud line

enum class Term { Never, Shown, HiddenAgain, ClosedDuringRun };
enum class Act { Upload, Save, Exit };

struct Row {
    const char* Name;
    Term Terminal;
    Act Action;
};

class ProgramTest : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        DeviceConfig config;
        config.baud = 115200;
        ASSERT_TRUE(com1.StartInProcess(config)) << com1.Error();
        ASSERT_TRUE(com2.StartInProcess(config)) << com2.Error();
        com1.WriteLoaderIni(1, {{"Ports", "COM2", com2.SlavePath()},
                                {"Upload Settings", "Delay", "10"},
                                {"RS232Settings", "Baud Rate", "115200"}});
        std::string bytes(FileSize, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 7);
        std::ofstream(com1.File("a.bin"), std::ios::binary) << bytes;
        std::ofstream(com1.File("loader.sld"))
            << "_SC \"UL^M\"\n_DY 10\n_LA 00010000\n_LV 1\n_LF a.bin\n_LD\n_SC \"GO^M\"\n";
        std::filesystem::current_path(com1.Folder());
    }
    void TearDown() override {
        std::filesystem::current_path(previous);
        com1.Stop();
        com2.Stop();
    }

    // Runs the program; the scenario runs in its message loop, then Exit is chosen and
    // confirmed. Answers the program's exit status and sets exitTime to how long it took
    // from the confirmation to the end of the program.
    int Run(const std::function<void()>& scenario) {
        ProgramOptions options;
        options.SplashWait = 0ms;
        options.Boxes = &boxes;
        options.Script = script;
        options.Started = [&](const ProgramWindows& started) {
            w = started;
            QTimer::singleShot(0, [&] {
                scenario();
                // A scenario that failed half way still ends the program.
                exitChosen = Clock::now();
                Find<QAction>("MnuItmExit")->trigger();
            });
        };
        // A program that does not end would hang the suite: the loop is ended from outside.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QApplication::exit(99); });
        guard.start(120000);
        const int status = RunProgram(options);
        exitTime = Clock::now() - exitChosen;
        return status;
    }

    template <typename T> T* Find(const char* name) {
        T* found = w.Main->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    bool Enabled(const char* name) { return Find<QWidget>(name)->isEnabled(); }

    void OpenTerminal() {
        QTest::mouseClick(Find<QToolButton>("SpdBtnTerm"), Qt::LeftButton);
        ASSERT_NE(w.Terminal(), nullptr);
        ASSERT_TRUE(PumpUntil([&] { return w.Terminal()->isVisible(); }));
    }
    void CloseTerminal() {
        w.Terminal()->close();
        ASSERT_TRUE(PumpUntil([&] { return !w.Terminal()->isVisible(); }));
    }

    // One run of loader.sld; the device behind `sim` must store a.bin intact.
    void Upload(DevsimHarness& sim, bool closeTerminalMidway = false) {
        const std::size_t before = sim.Server()->Uploads().size();
        QTest::mouseClick(Find<QPushButton>("BtnUpload"), Qt::LeftButton);
        if (closeTerminalMidway) {
            ASSERT_TRUE(PumpUntil([&] {
                const int gauge = Find<QProgressBar>("GgeUpload")->value();
                return gauge > 0 && gauge < 100;
            }));
            CloseTerminal();
        }
        ASSERT_TRUE(PumpUntil([&] { return !w.Main->Run().Running(); }, 60000));
        const auto uploads = sim.Server()->Uploads();
        ASSERT_EQ(uploads.size(), before + 1);
        EXPECT_TRUE(uploads.back().accepted) << uploads.back().reason;
        EXPECT_EQ(uploads.back().size, FileSize);
    }

    // Opens the settings dialog, chooses the port entry and baud rate item, and saves.
    void Save(const char* entry, int baudIndex) {
        bool saved = false;
        WhenModal<TFrmS_comm>([&](TFrmS_comm* dialog) {
            auto* ports = dialog->findChild<QComboBox*>("CmbBxComPort");
            // Entries go on with the port's device after two blanks.
            ports->setCurrentIndex(ports->findText(QString(entry) + "  ", Qt::MatchStartsWith));
            dialog->findChild<TRadioGroup*>("RdGrpBaudRate")->SetItemIndex(baudIndex);
            QTest::mouseClick(dialog->findChild<QPushButton*>("BtnOK"), Qt::LeftButton);
            saved = true;
        });
        QTest::mouseClick(Find<QToolButton>("SpdBtnComSet"), Qt::LeftButton);
        ASSERT_TRUE(PumpUntil([&] { return saved && !w.Settings->isVisible(); }));
    }

    // The boxes shown besides the confirmation of Exit.
    std::vector<std::string> OtherBoxes() const {
        std::vector<std::string> texts;
        for (const auto& box : boxes.Shown)
            if (box.Text != "Exit now ?")
                texts.push_back(box.Text);
        return texts;
    }

    std::string previous = std::filesystem::current_path().string();
    ScopedHook<std::shared_ptr<const PortMap>> portMap_{PortMap::GlobalHook(), nullptr};
    DevsimHarness com1;
    DevsimHarness com2;
    ScriptedBoxes boxes{Unscripted::PressFirstButton};
    ProgramWindows w;
    std::string script; // the script given at start, if any
    Clock::time_point exitChosen = Clock::now();
    Clock::duration exitTime{};
};

TEST_P(ProgramTest, WindowsShareThePortWithoutErrorsAndExitEndsTheProgram) {
    const Row row = GetParam();
    const int status = Run([&] {
        ASSERT_TRUE(w.Owner->IsOpen());
        if (row.Terminal != Term::Never)
            OpenTerminal();
        if (row.Terminal == Term::HiddenAgain)
            CloseTerminal();
        switch (row.Action) {
        case Act::Upload:
            Upload(com1, row.Terminal == Term::ClosedDuringRun);
            break;
        case Act::Save:
            Save("Direct to COM2", 4);
            EXPECT_TRUE(w.Owner->IsOpen());
            EXPECT_EQ(w.Owner->Port().ComNumber(), 2);
            EXPECT_EQ(w.Owner->Port().Baud(), 57600);
            if (w.Terminal() != nullptr) {
                EXPECT_EQ(w.Terminal()->StatusText(0).toStdString(), " COM2 8N1 57600");
            }
            // The triggers came back with the port: an upload on the new device works.
            Upload(com2);
            break;
        case Act::Exit:
            break;
        }
    });
    EXPECT_EQ(OtherBoxes(), std::vector<std::string>{});
    EXPECT_EQ(status, 0);
    EXPECT_LT(exitTime, 2s);
}

INSTANTIATE_TEST_SUITE_P(
    TerminalAndAction, ProgramTest,
    ::testing::Values(
        Row{"NeverUpload", Term::Never, Act::Upload}, Row{"NeverSave", Term::Never, Act::Save},
        Row{"NeverExit", Term::Never, Act::Exit}, Row{"ShownUpload", Term::Shown, Act::Upload},
        Row{"ShownSave", Term::Shown, Act::Save}, Row{"ShownExit", Term::Shown, Act::Exit},
        Row{"HiddenAgainUpload", Term::HiddenAgain, Act::Upload},
        Row{"HiddenAgainSave", Term::HiddenAgain, Act::Save},
        Row{"HiddenAgainExit", Term::HiddenAgain, Act::Exit},
        Row{"ShownAndClosedDuringRun", Term::ClosedDuringRun, Act::Upload}),
    [](const ::testing::TestParamInfo<Row>& row) { return std::string(row.param.Name); });

TEST_F(ProgramTest, SaveOnAMissingDeviceDisablesThePortControlsAndTheNextGoodSaveRestoresThem) {
    // The box names the device that is gone on its second line.
    const std::string missing =
        "Error Opening Selected Comm Port !\r" + com2.SlavePath() + ": No such file or directory";
    const int status = Run([&] {
        OpenTerminal();
        com2.Stop(); // COM2 was listed at start-up, its device is gone now
        Save("Direct to COM2", 2);
        EXPECT_EQ(OtherBoxes(), std::vector<std::string>{missing});
        EXPECT_FALSE(w.Owner->IsOpen());
        EXPECT_FALSE(Enabled("BtnUpload"));
        EXPECT_FALSE(Enabled("SpdBtnTerm"));

        Save("Direct to COM1", 5);
        EXPECT_TRUE(w.Owner->IsOpen());
        EXPECT_EQ(w.Owner->Port().ComNumber(), 1);
        EXPECT_TRUE(Enabled("BtnUpload"));
        EXPECT_EQ(w.Terminal()->StatusText(0).toStdString(), " COM1 8N1 115200");
        Upload(com1);
    });
    EXPECT_EQ(OtherBoxes(), std::vector<std::string>{missing});
    EXPECT_EQ(status, 0);
}

TEST_F(ProgramTest, ExceptionsLeftUncaughtByTimersAndPostedEventsEndInTheErrorReport) {
    class Throwing : public QObject {
    public:
        bool event(QEvent*) override { throw std::runtime_error("from a posted event"); }
    } target;
    const int status = Run([&] {
        QTimer::singleShot(0, [] { throw std::runtime_error("from a timer"); });
        QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
        EXPECT_TRUE(PumpUntil([&] { return OtherBoxes().size() == 2; }));
    });
    EXPECT_EQ(OtherBoxes(), (std::vector<std::string>{"from a timer", "from a posted event"}));
    EXPECT_EQ(status, 0);
}

TEST_F(ProgramTest, AScriptGivenAtStartRunsInItsFolderInPlaceOfTheDefaultScript) {
    namespace fs = std::filesystem;
    fs::rename(com1.File("loader.sld"), com1.File("flash.sld"));
    TempFolder elsewhere;
    fs::current_path(elsewhere.Path());
    StartOptions start;
    ASSERT_EQ(ParseStartOptions({com1.File("flash.sld")}, start), "");
    ASSERT_EQ(EnterStartFolder(start), "");
    EXPECT_TRUE(fs::equivalent(fs::current_path(), com1.Folder()));
    script = start.Script;
    const int status = Run([&] { Upload(com1); });
    EXPECT_EQ(OtherBoxes(), std::vector<std::string>{});
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(fs::exists(com1.File("loader.log")));
    EXPECT_TRUE(fs::is_empty(elsewhere.Path()));
}

TEST(StartFolderTest, AFolderOrTheDataFolderBecomesCurrentAndNoArgumentsChangeNothing) {
    namespace fs = std::filesystem;
    const fs::path previous = fs::current_path();
    TempFolder base;
    const ScopedEnv dataHome("XDG_DATA_HOME", base.File("data").c_str());
    fs::create_directory(base.File("dir"));
    const struct {
        std::vector<std::string> args;
        fs::path folder;
    } rows[] = {
        {{}, previous},
        {{base.File("dir")}, base.File("dir")},
        {{"--data-folder"}, base.File("data/pellwick")}, // made, parents too
        {{"--data-folder", base.File("dir")}, base.File("dir")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.empty() ? "none" : row.args.front());
        fs::current_path(previous);
        StartOptions start;
        ASSERT_EQ(ParseStartOptions(row.args, start), "");
        EXPECT_EQ(EnterStartFolder(start), "");
        EXPECT_TRUE(fs::equivalent(fs::current_path(), row.folder)) << fs::current_path();
        EXPECT_EQ(start.Script, "");
    }
    fs::current_path(previous);
}

} // namespace
} // namespace pellwick::test

// The program's own application object, so that its error report is the one under test.
int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    pellwick::TPellwickApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
