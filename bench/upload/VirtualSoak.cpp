// The soak on the virtual clock: each board's line is a virtual device port with the device
// simulator's protocol behind it; the port's owner is played as the programs' PortOwner plays
// it (the start-up, Save, the shutdown, and PortRecovery's reopening once the device is back).
#include "SoakWorlds.h"

#include "devsim/DevsimOptions.h"
#include "support/TempFolder.h"
#include "support/VirtualDevicePort.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

namespace pellwick::soak {

namespace {

using namespace std::chrono_literals;
using test::DriverKind;
using test::VirtualClock;
using test::VirtualDevicePort;

class VirtualWorld final : public World {
public:
    RunClock& Time() override { return clock; }
    bool Virtual() const override { return true; }
    VirtualClock clock;
};

class VirtualLine final : public Line {
public:
    explicit VirtualLine(VirtualClock& clock)
        : clock_(clock), port_(clock, DriverKind::PseudoTerminal),
          recover_(clock.MakeTimer([this] { Recover(); })) {
        port_.OnOpenClose = [this](bool opening) {
            if (Announced) {
                Announced(opening, !opening && port_.Lost());
            }
        };
        port_.OnLost = [this] {
            waiting_ = true;
            link_->LineLost();
            // A device back before the loss was told (a short glitch) is tried at once.
            if (port_.Plugged()) {
                recover_->Start(2ms);
            }
        };
        // The terminal's feed takes whatever arrives while it is active.
        port_.InputReader = [this] {
            char bytes[256];
            while (terminalActive_ && port_.InputCount() > 0) {
                const auto n = std::min<std::uint16_t>(port_.InputCount(), sizeof bytes);
                port_.ReadBlock(bytes, n);
            }
        };
    }

    bool NewBoard(const SequencePlan& sequence, int number) override {
        DevsimOptions options;
        if (const std::string error = options.Parse(sequence.faults); !error.empty()) {
            std::printf("the device's options are wrong: %s\n", error.c_str());
            return false;
        }
        config_ = options.device;
        config_.junkSeed = static_cast<std::uint32_t>(number + 1);
        for (const std::string& store : stores_) {
            std::filesystem::remove_all(store);
        }
        stores_.clear();
        NewStore();
        port_.SetOpen(false);
        port_.SetDriver(sequence.uart ? DriverKind::Uart : DriverKind::PseudoTerminal);
        port_.SetCts(true);
        settings_ = Rs232Settings{};
        settings_.UseRts = false;
        settings_.RequireCts = sequence.requireCts;
        SetRate(sequence.lineRate);
        strings_ = LinkSettings{};
        strings_.BufferSize = static_cast<std::uint16_t>(sequence.bufferSize);
        strings_.BlockSize = static_cast<std::uint16_t>(sequence.blockSize);
        describe_ = std::string(sequence.uart ? "a UART" : "a pseudo-terminal") +
                    (sequence.requireCts ? " with Require CTS" : "") + " at " +
                    std::to_string(sequence.lineRate) + " baud, device options:";
        for (const std::string& fault : sequence.faults) {
            describe_ += " " + fault;
        }
        port_.PlugIn(config_);
        return true;
    }
    LinkOperations& Attach(IMessageBoxes& boxes) override {
        link_.reset();
        link_ = std::make_unique<LinkOperations>(port_, boxes);
        link_->SetClockHook([this] { return clock_.Now(); });
        return *link_;
    }
    LinkOperations& Link() override { return *link_; }
    bool StartUp() override {
        Forget();
        link_->CloseAndDropTriggers();
        return link_->OpenWithSettings(settings_, strings_);
    }
    void Shutdown() override {
        Forget();
        LinkState& state = link_->State();
        state.UploadMode = false;
        state.ActivePrompt = state.PromptText;
        state.ActiveError = state.ErrorText;
        link_->CloseAndDropTriggers();
    }
    bool Save(std::int32_t rate, bool reopen) override {
        if (rate != 0) {
            SetRate(rate);
        }
        if (!reopen) {
            return true;
        }
        Forget();
        link_->CloseAndDropTriggers();
        link_->ApplyLineSettings(settings_);
        return link_->OpenPortWithTriggers();
    }
    bool Open() override { return port_.Open(); }
    bool HungUp() override { return port_.HungUp(); }
    bool WaitingForDevice() override { return waiting_; }
    void Unplug() override { port_.Unplug(); }
    void Replug(bool newBoard) override {
        if (port_.Plugged()) {
            return;
        }
        if (newBoard) {
            NewStore();
        }
        port_.PlugIn(config_);
        if (waiting_) {
            // The device's path is back: the recovery opens the port in a moment.
            recover_->Start(2ms);
        }
    }
    bool Plugged() override { return port_.Plugged(); }
    void SetCts(bool high) override { port_.SetCts(high); }
    void ShowTerminal(bool shown) override {
        terminalExists_ = terminalExists_ || shown;
        terminalActive_ = shown;
        link_->DataTriggerEnabled(!shown);
    }
    void SetTerminalActive(bool active) override { terminalActive_ = active; }
    bool TerminalExists() override { return terminalExists_; }
    std::optional<e2e::Bytes> Stored(const std::string& address) override {
        for (auto store = stores_.rbegin(); store != stores_.rend(); ++store) {
            const std::string path = *store + "/" + DeviceProtocol::FileNameForAddress(address);
            if (std::filesystem::exists(path)) {
                return e2e::ReadFile(path);
            }
        }
        return std::nullopt;
    }
    std::vector<JournalLine> Journal() override {
        std::vector<JournalLine> lines;
        for (const auto& line : port_.Journal()) {
            lines.push_back({line.t, line.direction, line.text});
        }
        return lines;
    }
    void ForgetJournal() override { port_.ClearJournal(); }
    std::int64_t DeviceReceived() override {
        return port_.Plugged() ? static_cast<std::int64_t>(port_.DeviceReceived()) : 0;
    }
    std::optional<TimePoint> LastOutputMove() override { return port_.LastOutputMove(); }
    double BytesPerSecond() override { return port_.BytesPerSecond(); }
    std::string Describe() override { return describe_; }

private:
    void SetRate(std::int32_t rate) {
        const auto& six = Rs232SettingsFile::BaudRates;
        const bool standard = std::find(six.begin(), six.end(), rate) != six.end();
        settings_.BaudRate = standard ? rate : settings_.BaudRate;
        settings_.LineRate = standard ? 0 : static_cast<std::uint32_t>(rate);
    }
    void NewStore() {
        stores_.push_back(folder_.File("store" + std::to_string(storeCount_++)));
        std::filesystem::create_directory(stores_.back());
        config_.storeDir = stores_.back();
    }
    // The owner opens or closes the port itself: the recovery's wait ends.
    void Forget() {
        waiting_ = false;
        recover_->Stop();
        port_.ClearLoss();
    }
    // What PortRecovery does once the path is back: open with the triggers, tell the host.
    void Recover() {
        if (!waiting_ || port_.Open()) {
            waiting_ = false;
            return;
        }
        try {
            link_->OpenWithTriggers();
        } catch (const std::exception&) {
            // Not open: the next plug-in tries again.
        }
        if (port_.Open()) {
            waiting_ = false;
            if (ILinkHost* host = link_->Host()) {
                host->SetComBtnState(true);
            }
        }
    }

    VirtualClock& clock_;
    VirtualDevicePort port_;
    std::unique_ptr<RunTimer> recover_;
    std::unique_ptr<LinkOperations> link_;
    TempFolder folder_;
    std::vector<std::string> stores_;
    int storeCount_ = 0;
    DeviceConfig config_;
    Rs232Settings settings_;
    LinkSettings strings_;
    std::string describe_;
    bool waiting_ = false;
    bool terminalExists_ = false, terminalActive_ = false;
};

} // namespace

bool SoakVirtual(const SoakOptions& options, SoakProgram program, Totals& totals) {
    VirtualWorld world;
    SoakLanes<VirtualLine> soak(options, program, world, totals, [&world](int, int) {
        return std::make_unique<VirtualLine>(world.clock);
    });
    auto& lanes = soak.lanes;
    for (auto& lane : lanes) {
        lane->Begin();
    }
    int fired = 0;
    for (;;) {
        const bool going = std::any_of(lanes.begin(), lanes.end(), [](const auto& lane) {
            return !lane->Done() && !lane->Fatal();
        });
        if (!going) {
            break;
        }
        try {
            if (!world.clock.FireNext()) {
                world.clock.Advance(1ms);
            }
            // A board's end is told through a queued connection.
            QCoreApplication::sendPostedEvents();
            for (auto& lane : lanes) {
                lane->Poll();
            }
        } catch (const std::exception& e) {
            lanes.front()->Violate(OtherCheck,
                                   std::string("an exception reached the event loop: ") + e.what());
        }
        if (++fired % 1000000 == 0 && options.progress) {
            std::printf("... %d million events\n", fired / 1000000);
            std::fflush(stdout);
        }
    }
    return std::none_of(lanes.begin(), lanes.end(), [](const auto& lane) { return lane->Fatal(); });
}

} // namespace pellwick::soak
