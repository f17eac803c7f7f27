// A slot that starts by probe, on a fixed adapter: the test plays the board on the master side
// of a pseudo-terminal, answering the probes while it is "plugged in" and staying silent
// otherwise.
#include "link/PortOwner.h"
#include "station/Station.h"
#include "support/LoopbackListener.h"
#include "support/PumpUntil.h"
#include "support/TempFolder.h"

#include <QCoreApplication>
#include <QTest>
#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pellwick {
namespace {

// Runs the event loop for the time (or until cond holds), playing the board's side in between.
bool ServeFor(int ms, const std::function<bool()>& cond, const std::function<void()>& play) {
    return test::WaitUntil(cond, ms, [&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        play();
        QTest::qWait(2);
    });
}

// A station in a folder of its own with one probe slot on `port`; passed_ counts its boards
// that passed.
class ProbeStationTest : public ::testing::Test {
protected:
    void WriteStation(const std::string& port, const std::string& slotKeys = "") {
        start_ = std::filesystem::current_path();
        std::filesystem::current_path(folder_.Path());
        std::ofstream("flash.sld") << "_DY 1\n";
        std::ofstream("station.ini")
            << "[Station]\nScript=flash.sld\nStart=probe\nAnswer=#\n[Slots]\nSlot1=" << port << "\n"
            << slotKeys << "[Ports]\nScan=0\n[RS232Settings]\nUse RTS=0\nRequire CTS=0\n";
    }
    void StartStation() {
        std::vector<std::string> errors;
        StationConfig config = ReadStationConfig(errors);
        ASSERT_TRUE(errors.empty()) << errors.front();
        station_ = std::make_unique<Station>(std::move(config));
        QObject::connect(station_.get(), &Station::BoardDone,
                         [this](int, const BoardResult& b) { passed_ += b.Passed ? 1 : 0; });
        ASSERT_EQ(station_->Start(), "");
    }
    void TearDown() override {
        station_.reset();
        if (!start_.empty()) {
            std::filesystem::current_path(start_);
        }
    }

    std::filesystem::path start_;
    TempFolder folder_;
    std::unique_ptr<Station> station_;
    int passed_ = 0;
};

class StationProbeTest : public ProbeStationTest {
protected:
    void SetUp() override { OpenBoard(""); }
    // The board's pseudo-terminal and a station with one probe slot on it.
    void OpenBoard(const std::string& slotKeys) {
        char name[256] = {};
        ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        pts_ = name;
        WriteStation(name, slotKeys);
        StartStation();
    }
    void TearDown() override {
        ProbeStationTest::TearDown();
        close(master_);
        close(slave_);
    }

    // Runs the event loop for the time (or until cond holds) while the board answers every
    // probe with the prompt when plugged_ is set.
    bool Serve(
        int ms, const std::function<bool()>& cond = [] { return false; }) {
        return ServeFor(ms, cond, [this] {
            char buffer[64];
            for (ssize_t n; (n = read(master_, buffer, sizeof buffer)) > 0;) {
                const int probes = static_cast<int>(std::count(buffer, buffer + n, '\r'));
                probes_ += probes;
                for (int i = 0; plugged_ && i < probes; ++i) {
                    ASSERT_EQ(write(master_, "#", 1), 1);
                }
            }
        });
    }

    int master_ = -1, slave_ = -1;
    std::string pts_;
    bool plugged_ = false;
    int probes_ = 0;
};

TEST_F(StationProbeTest, ABoardStartsOncePerPlugAndItsRemovalIsSeen) {
    const StationSlot& slot = station_->Slot(0);
    ASSERT_TRUE(Serve(test::kWaitMs, [&] { return probes_ > 0; }));
    // No answer, no board; and one probe every 500 ms at most.
    probes_ = 0;
    Serve(1200);
    EXPECT_EQ(passed_, 0);
    EXPECT_GE(probes_, 1);
    EXPECT_LE(probes_, 2);

    plugged_ = true;
    ASSERT_TRUE(Serve(test::kWaitMs, [&] { return passed_ == 1; }));
    // Still answering: the same board, not loaded again, its verdict kept; nor by the
    // station started again while it stays in its fixture.
    Serve(1500);
    EXPECT_EQ(passed_, 1);
    EXPECT_EQ(slot.View().State, SlotState::Passed);
    station_.reset();
    StartStation();
    const StationSlot& again = station_->Slot(0);
    Serve(1500);
    EXPECT_EQ(passed_, 1);
    EXPECT_EQ(again.View().State, SlotState::Passed);

    plugged_ = false;
    ASSERT_TRUE(Serve(test::kWaitMs, [&] { return again.View().State == SlotState::Waiting; }));
    plugged_ = true;
    ASSERT_TRUE(Serve(test::kWaitMs, [&] { return passed_ == 2; }));
}

// A slot bound to a place loads only a board whose adapter is there: one elsewhere is shown as
// not this station's and left alone until it goes; a by-path link to the adapter is its place.
class StationPlaceTest : public StationProbeTest {
protected:
    void SetUp() override {}
};

TEST_F(StationPlaceTest, ABoardElsewhereIsNotLoaded) {
    const struct {
        bool linkToDevice; // the place is a link to the slot's device, else a USB place
        SlotState state;
    } cases[] = {{false, SlotState::NotThisSlot}, {true, SlotState::Passed}};
    for (const auto& c : cases) {
        TearDown();
        passed_ = 0;
        const std::string link = folder_.File("by-path-port0");
        std::filesystem::remove(link);
        // The pseudo-terminal is opened first, so its name is known: the link is made after.
        OpenBoard("Place1=" + (c.linkToDevice ? link : std::string("1-1.4")) + "\n");
        if (c.linkToDevice) {
            std::filesystem::create_symlink(pts_, link);
        }
        plugged_ = true;
        const StationSlot& slot = station_->Slot(0);
        ASSERT_TRUE(Serve(test::kWaitMs, [&] { return slot.View().State == c.state; }))
            << SlotStateName(slot.View().State);
        Serve(700);
        EXPECT_EQ(slot.View().State, c.state);
        EXPECT_EQ(passed_, c.state == SlotState::Passed ? 1 : 0);
    }
}

// A probe slot on a port on the network (tcp://). The test is the server: it counts the
// connections the station makes, and either plays a board that answers the probe or takes each
// connection only to drop it.
class NetworkProbeTest : public ProbeStationTest {
protected:
    void SetUp() override {
        int port = 0;
        listener_ = test::ListenOnLoopback(8, port, SOCK_NONBLOCK);
        ASSERT_GE(listener_, 0);
        WriteStation("tcp://127.0.0.1:" + std::to_string(port));
    }
    void TearDown() override {
        ProbeStationTest::TearDown();
        for (int fd : clients_) {
            close(fd);
        }
        close(listener_);
    }

    // Runs the event loop for the time (or until cond holds), taking connections: kept and
    // answering every probe with the prompt, or closed at once when drop_ is set.
    bool Serve(
        int ms, const std::function<bool()>& cond = [] { return false; }) {
        return ServeFor(ms, cond, [this] {
            for (int fd; (fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
                ++connections_;
                drop_ ? (void)close(fd) : clients_.push_back(fd);
            }
            char buffer[64];
            for (int fd : clients_) {
                for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
                    for (auto i = std::count(buffer, buffer + n, '\r'); i > 0; --i) {
                        ASSERT_EQ(write(fd, "#", 1), 1);
                    }
                }
            }
        });
    }

    int listener_ = -1;
    std::vector<int> clients_;
    bool drop_ = false;
    int connections_ = 0;
};

TEST_F(NetworkProbeTest, ABoardBehindAServerStartsOnOneConnection) {
    StartStation();
    ASSERT_TRUE(Serve(test::kWaitMs, [&] { return passed_ == 1; }));
    Serve(1500);
    EXPECT_EQ(connections_, 1);
    EXPECT_EQ(passed_, 1);
}

// A server that takes each connection only to drop it is asked again about once a second.
TEST_F(NetworkProbeTest, AServerThatDropsTheConnectionIsAskedAgainAfterAPause) {
    drop_ = true;
    StartStation();
    Serve(3000);
    EXPECT_GE(connections_, 1);
    EXPECT_LE(connections_, 4);
    EXPECT_EQ(passed_, 0);
}

// The inotify instances this process holds now.
int InotifyInstances() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        count += std::filesystem::read_symlink(entry.path(), ec).string() == "anon_inode:inotify";
    }
    return count;
}

// Many slots that wait for their devices to appear share one inotify instance (a user has 128
// for all of its programs), and a device that appears still reaches its own slot.
TEST(StationWatchTest, ManyAppearSlotsShareOneInotifyInstance) {
    constexpr int Slots = 150;
    TempFolder folder;
    const auto start = std::filesystem::current_path();
    std::filesystem::current_path(folder.Path());
    std::ofstream("flash.sld") << "_DY 1\n";
    std::ofstream ini("station.ini");
    ini << "[Station]\nScript=flash.sld\nStart=appear\n[Slots]\n";
    for (int i = 1; i <= Slots; ++i) {
        ini << "Slot" << i << "=" << folder.File("tty" + std::to_string(i)) << "\n";
    }
    ini << "[Ports]\nScan=0\n[RS232Settings]\nUse RTS=0\nRequire CTS=0\n";
    ini.close();
    std::vector<std::string> errors;
    StationConfig config = ReadStationConfig(errors);
    ASSERT_TRUE(errors.empty()) << errors.front();
    const int before = InotifyInstances();
    {
        Station station(std::move(config));
        ASSERT_EQ(station.Start(), "");
        int master = -1, slave = -1;
        char name[256] = {};
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        QTest::qWait(100);
        EXPECT_EQ(InotifyInstances(), before + 1);
        std::filesystem::create_symlink(name, folder.File("tty" + std::to_string(Slots - 3)));
        EXPECT_TRUE(test::PumpUntil([&] { return station.Slot(Slots - 4).Owner().IsOpen(); }));
        EXPECT_FALSE(station.Slot(0).Owner().IsOpen());
        station.Shutdown();
        close(master);
        close(slave);
    }
    std::filesystem::current_path(start);
}

} // namespace
} // namespace pellwick
