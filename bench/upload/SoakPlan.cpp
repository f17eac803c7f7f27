#include "SoakPlan.h"

#include "link/LinkOperations.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace pellwick::soak {

namespace {

// The longest waits the link allows: one answer, and the quiet it waits for around it.
constexpr double AnswerSeconds = LinkOperations::AnswerTicks * 0.055;
constexpr double QuietSeconds = std::chrono::duration<double>(LinkOperations::QuietLimit).count();
// A verification: two tries of input taken, a CR, its answer, the input after it; 2 s between.
constexpr double VerifySeconds = 2 * (AnswerSeconds + 2 * QuietSeconds) + 2.0;

template <typename T, std::size_t N> T OneOf(Rng& rng, const T (&values)[N]) {
    return values[static_cast<std::size_t>(Pick(rng, 0, static_cast<int>(N) - 1))];
}

// Simulator options that send the device's error string at random moments.
void AddDeviceErrors(Rng& rng, std::vector<std::string>& args, int count) {
    std::vector<int> kinds = {0, 1, 2, 3};
    std::shuffle(kinds.begin(), kinds.end(), rng);
    for (int i = 0; i < count; ++i) {
        switch (kinds[static_cast<std::size_t>(i)]) {
        case 0: // during transfers, repeated
            args.insert(args.end(), {"--err-after", std::to_string(Pick(rng, 0, 4000)),
                                     "--err-repeat", std::to_string(Pick(rng, 1, 4)),
                                     "--err-repeat-ms", std::to_string(Pick(rng, 20, 150))});
            break;
        case 1:
            args.insert(args.end(), {"--unsolicited-error-ms", std::to_string(Pick(rng, 0, 1500))});
            break;
        case 2:
            args.insert(args.end(), {"--unsolicited-error-line", std::to_string(Pick(rng, 1, 10))});
            break;
        default:
            args.insert(args.end(), {"--refuse-command",
                                     Chance(rng, 0.5) ? std::string("UL:1")
                                                      : "VER:" + std::to_string(Pick(rng, 1, 3))});
            break;
        }
    }
    if (Chance(rng, 0.3)) {
        args.insert(args.end(), {"--split-error", std::to_string(Pick(rng, 20, 150))});
    }
}

// Simulator options that make the verification late, unanswered or wrong; true when they cost
// seconds a file.
bool AddVerificationFault(Rng& rng, std::vector<std::string>& args) {
    const int draw = Pick(rng, 0, 99);
    if (draw < 22) {
        args.insert(args.end(), {"--verify-delay", std::to_string(Pick(rng, 20, 2500))});
    } else if (draw < 26) {
        // Later than one wait: the retry's answer queues behind it and still comes in time.
        args.insert(args.end(), {"--verify-delay", std::to_string(Pick(rng, 5800, 9000))});
        return true;
    } else if (draw < 32) {
        args.insert(args.end(), {"--ignore-verify", Chance(rng, 0.8) ? "1" : "2"});
        return true;
    } else if (draw < 47) {
        args.push_back("--refuse-verify");
        if (Chance(rng, 0.5)) {
            args.push_back("--forget-refusal");
        }
    } else if (draw < 62) {
        args.insert(args.end(), {"--corrupt-at", std::to_string(Pick(rng, 0, 2000))});
        if (Chance(rng, 0.5)) {
            args.push_back("--forget-refusal");
        }
    } else if (draw < 66) {
        args.insert(args.end(), {"--drop-at", std::to_string(Pick(rng, 0, 2000))});
        return true;
    } else if (draw < 84) {
        args.insert(args.end(), {"--noise-after-data", std::to_string(Pick(rng, 8, 600))});
    } else {
        args.insert(args.end(), {"--garbage", std::to_string(Pick(rng, 1, 8))});
    }
    return false;
}

std::size_t FileSize(Rng& rng) {
    const int draw = Pick(rng, 0, 99);
    const int size = draw < 4    ? 0
                     : draw < 44 ? Pick(rng, 1, 256)
                     : draw < 84 ? Pick(rng, 257, 4096)
                                 : Pick(rng, 4097, 12000);
    return static_cast<std::size_t>(size);
}

} // namespace

int Pick(Rng& rng, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

bool Chance(Rng& rng, double p) {
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < p;
}

const char* NameOf(Kind kind) {
    constexpr const char* names[] = {
        "terminal shown/hidden", "device errors",       "cancels", "unplug/replug",
        "settings saved",        "verification faults", "mixed"};
    return names[static_cast<std::size_t>(kind)];
}

const char* NameOf(Action::Type type) {
    constexpr const char* names[] = {"cancel", "hide terminal", "unplug"};
    return names[type];
}

SequencePlan Planner::Sequence(int number) {
    std::seed_seq seeds{static_cast<std::uint32_t>(seed_), static_cast<std::uint32_t>(seed_ >> 32),
                        static_cast<std::uint32_t>(number)};
    rng_.seed(seeds);
    number_ = number;
    runs_ = 0;
    earlier_.clear();
    SequencePlan plan;
    plan.kind = AllKinds[static_cast<std::size_t>(number) % std::size(AllKinds)];
    plan.baud = Chance(rng_, 0.5) ? 115200 : 0;
    plan.blockSize = OneOf(rng_, {8, 16, 50, 50, 64, 128, 256, 512, 1024});
    plan.bufferSize = OneOf(rng_, {2078, 4096, 4096, 8192});
    plan.delayMs = Pick(rng_, 0, 40);
    plan.runs = Pick(rng_, 2, 5);
    switch (plan.kind) {
    case Kind::DeviceErrors:
        AddDeviceErrors(rng_, plan.faults, Pick(rng_, 1, 2));
        break;
    case Kind::Verification:
        plan.costly = AddVerificationFault(rng_, plan.faults);
        break;
    case Kind::Mixed:
        if (Chance(rng_, 0.5)) {
            AddDeviceErrors(rng_, plan.faults, 1);
        }
        if (Chance(rng_, 0.5)) {
            plan.costly = AddVerificationFault(rng_, plan.faults);
        }
        break;
    default:
        if (Chance(rng_, 0.25)) {
            constexpr const char* light[] = {"--delay", "--garbage", "--split-error"};
            const int which = Pick(rng_, 0, 2);
            plan.faults.insert(
                plan.faults.end(),
                {light[which], std::to_string(which == 1 ? Pick(rng_, 1, 6) : Pick(rng_, 5, 100))});
        }
        break;
    }
    if (plan.costly) {
        plan.runs = Pick(rng_, 1, 2);
    }
    sequence_ = plan;
    return plan;
}

RunPlan Planner::Run() {
    Rng& rng = rng_;
    const SequencePlan& sequence = sequence_;
    const int number = runs_++;
    RunPlan plan;
    plan.beforeSeed = rng();
    double bound = 0;
    int estimate = 0;
    auto line = [&](const std::string& text, double seconds, int ms) {
        plan.script += text + "\n";
        bound += seconds + 0.05; // each line costs a tick of the script timer
        estimate += ms + 10;
    };
    auto filler = [&] {
        const int draw = Pick(rng, 0, 11);
        if (draw < 2) {
            line("; a comment", 0, 0);
        } else if (draw < 5) {
            const int ticks = Pick(rng, 1, 15);
            line("_DY " + std::to_string(ticks), ticks * 0.03, ticks * 10);
        } else if (draw < 7) {
            line("_TC \"VER^M\"", AnswerSeconds, 5);
        } else if (draw == 7) {
            line("_DM \"next file\"", 0, 0);
        } else if (draw == 8) {
            line("_TC \"UL^M\"", AnswerSeconds, 5);
        } else if (draw == 9) {
            line("_SC \"NOP^M\"", 0, 5); // a command the device refuses
        } else {
            line("_LP 0", 0, 0);
        }
    };
    line(Chance(rng, 0.9) ? "_TC \"UL^M\"" : "_SC \"UL^M\"", AnswerSeconds, 5);
    const int files = sequence.costly ? 1 : Pick(rng, 1, 3);
    const double rate = sequence.baud != 0 ? sequence.baud / 10.0 : 0; // bytes a second
    for (int i = 0; i < files; ++i) {
        for (int n = Pick(rng, 0, 2); n > 0; --n) {
            filler();
        }
        PlannedFile file;
        file.name = "s" + std::to_string(number_) + "r" + std::to_string(number) + "f" +
                    std::to_string(i) + ".bin";
        file.data.resize(FileSize(rng));
        for (auto& b : file.data) {
            b = static_cast<std::uint8_t>(rng());
        }
        // Now and then the address of an earlier file of the sequence: the device may hold an
        // older copy there, which a failed upload must leave alone.
        const std::string reused =
            earlier_.empty() ? std::string()
                             : earlier_[static_cast<std::size_t>(
                                            Pick(rng, 0, static_cast<int>(earlier_.size()) - 1))]
                                   .address;
        const bool inThisRun =
            std::any_of(plan.files.begin(), plan.files.end(),
                        [&](const PlannedFile& other) { return other.address == reused; });
        if (file.data.size() >= 16 && !reused.empty() && !inThisRun && Chance(rng, 0.15)) {
            file.address = reused;
        } else {
            char address[16];
            std::snprintf(address, sizeof address, "%08X", 0x100000 + 0x100 * nextAddress_++);
            file.address = address;
        }
        line("_LA " + file.address, 0, 0);
        line(Chance(rng, 0.3) ? "_LV DATE" : "_LV " + std::to_string(Pick(rng, 1, 9)), 0, 0);
        line("_LF " + file.name, 0, 0);
        const double wire = rate > 0 ? static_cast<double>(file.data.size()) / rate : 0;
        line("_LD", sequence.delayMs / 1000.0 + wire + VerifySeconds,
             sequence.delayMs + static_cast<int>(wire * 1000) + 20);
        plan.files.push_back(std::move(file));
    }
    for (int n = Pick(rng, 0, 1); n > 0; --n) {
        filler();
    }
    if (Chance(rng, 0.08)) {
        line("_SC \"GO^M\"", 0, 5);
    }
    for (const PlannedFile& file : plan.files) {
        if (file.data.size() >= 16) {
            earlier_.push_back(file);
        }
    }
    plan.estimateMs = std::max(estimate, 100);
    // Room for a loaded machine: a quarter more and five seconds.
    plan.boundSeconds = bound * 1.25 + 5.0;

    auto add = [&](Action::Type type) {
        Action action;
        action.type = type;
        if (Chance(rng, 0.55)) {
            action.file = Pick(rng, 0, files - 1);
            action.fraction = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
        } else {
            action.atMs = Pick(rng, 0, plan.estimateMs * 6 / 5);
        }
        if (type == Action::Unplug) {
            action.replugAfterMs = Chance(rng, 0.9) ? Pick(rng, 10, 1500) : -1;
        }
        plan.actions.push_back(action);
    };
    const bool mixed = sequence.kind == Kind::Mixed;
    if ((sequence.kind == Kind::Terminal || (mixed && Chance(rng, 0.35))) && Chance(rng, 0.6)) {
        add(Action::HideTerminal);
    }
    if (sequence.kind == Kind::Cancel || (mixed && Chance(rng, 0.35))) {
        add(Action::Cancel);
        if (Chance(rng, 0.15)) {
            add(Action::Cancel);
        }
    }
    if (sequence.kind == Kind::Unplug || (mixed && Chance(rng, 0.35))) {
        add(Action::Unplug);
    }
    plan.boxSeed = rng();
    plan.reactionSeed = rng();
    return plan;
}

} // namespace pellwick::soak
