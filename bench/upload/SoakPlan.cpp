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
// A string that never finds room waits this long before it goes out regardless.
constexpr double RoomSeconds = StringPacingRounds / 1000.0;
constexpr double HeldSeconds = std::chrono::duration<double>(TransferHeldLimit).count();

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

// A cancel in a wait kind, this many milliseconds after the wait began.
Action CancelInWait(CancelIn in, int afterMs) {
    Action action;
    action.in = in;
    action.atMs = std::max(afterMs, 0);
    return action;
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
        "terminal shown/hidden", "device errors",       "cancels",   "unplug/replug",
        "settings saved",        "verification faults", "held line", "mixed"};
    return names[static_cast<std::size_t>(kind)];
}

const char* NameOf(CancelIn where) {
    constexpr const char* names[] = {"room",    "header delay",   "post delay",       "retry pause",
                                     "quiet",   "command answer", "verifying answer", "transfer",
                                     "any time"};
    return names[static_cast<std::size_t>(where)];
}

const char* NameOf(Action::Type type) {
    constexpr const char* names[] = {"cancel", "hide terminal", "unplug", "swap board", "CTS low"};
    return names[type];
}

SequencePlan Planner::Sequence(int number) {
    std::seed_seq seeds{static_cast<std::uint32_t>(seed_), static_cast<std::uint32_t>(seed_ >> 32),
                        static_cast<std::uint32_t>(number)};
    rng_.seed(seeds);
    number_ = number;
    runs_ = 0;
    earlier_.clear();
    answerDelayMs_ = verifyDelayMs_ = 0;
    constexpr int kinds = static_cast<int>(std::size(AllKinds));
    SequencePlan plan;
    plan.kind = AllKinds[static_cast<std::size_t>(number % kinds)];
    plan.baud = Chance(rng_, 0.5) ? 115200 : 0;
    plan.lineRate = OneOf(rng_, {9600, 19200, 57600, 115200, 115200, 230400});
    plan.uart = Chance(rng_, 0.5);
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
    case Kind::Cancel:
        plan.cancelIn = static_cast<CancelIn>((number / kinds) % CancelInCount);
        switch (plan.cancelIn) {
        case CancelIn::HeaderDelay:
            plan.delayMs = virtual_ ? 60000 : 2500;
            break;
        case CancelIn::RetryPause:
            plan.faults.insert(plan.faults.end(), {"--ignore-verify", "1"});
            break;
        case CancelIn::Quiet:
            plan.faults.insert(plan.faults.end(),
                               {"--noise-after-data", std::to_string(Pick(rng_, 8, 600))});
            break;
        case CancelIn::CommandAnswer:
            answerDelayMs_ = Pick(rng_, 100, 1500);
            plan.faults.insert(plan.faults.end(), {"--delay", std::to_string(answerDelayMs_)});
            break;
        case CancelIn::VerifyAnswer:
            verifyDelayMs_ = Pick(rng_, 100, 2500);
            plan.faults.insert(plan.faults.end(),
                               {"--verify-delay", std::to_string(verifyDelayMs_)});
            break;
        default:
            break;
        }
        break;
    case Kind::HeldLine:
        // A virtual UART whose CTS goes low under Require CTS, or a device that stops reading
        // (a pseudo-terminal then fills up and holds the output).
        if (virtual_ && Chance(rng_, 0.5)) {
            plan.uart = plan.requireCts = true;
        } else {
            plan.uart = false;
            plan.faults.insert(plan.faults.end(),
                               {"--stall-after", std::to_string(Pick(rng_, 0, 8000))});
        }
        plan.runs = Pick(rng_, 1, 3);
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

RunPlan Planner::Run(const std::string& prefix) {
    Rng& rng = rng_;
    const SequencePlan& sequence = sequence_;
    const int number = runs_++;
    RunPlan plan;
    plan.beforeSeed = rng();
    plan.delayMs = sequence.delayMs;
    const CancelIn cancelIn = sequence.kind == Kind::Cancel ? sequence.cancelIn : CancelIn::AnyTime;
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
    line(Chance(rng, 0.9) || cancelIn == CancelIn::CommandAnswer ? "_TC \"UL^M\"" : "_SC \"UL^M\"",
         AnswerSeconds, 5);
    if (cancelIn == CancelIn::Room) {
        // Longer than the output buffer takes with its margin: it waits for room that never
        // comes, then goes out regardless (and the device refuses the line).
        line("_SC \"" + std::string(static_cast<std::size_t>(sequence.bufferSize - 5), 'Z') +
                 "^M\"",
             RoomSeconds, static_cast<int>(RoomSeconds * 1000));
    }
    const int postDelay = cancelIn == CancelIn::PostDelay ? (virtual_ ? Pick(rng, 2, 20) : 2) : 0;
    const bool held = sequence.kind == Kind::HeldLine;
    const int files = sequence.costly ? 1 : Pick(rng, 1, 3);
    // The line's bytes a second, as the run counts them.
    const double rate = virtual_ ? sequence.lineRate / 10.0 : sequence.baud / 10.0;
    for (int i = 0; i < files; ++i) {
        for (int n = Pick(rng, 0, 2); n > 0; --n) {
            filler();
        }
        PlannedFile file;
        file.name = prefix + "s" + std::to_string(number_) + "r" + std::to_string(number) + "f" +
                    std::to_string(i) + ".bin";
        // A device that stops reading holds up a pseudo-terminal only once it is full.
        file.data.resize(held && !sequence.uart && i == 0
                             ? static_cast<std::size_t>(Pick(rng, 30000, 60000))
                             : FileSize(rng));
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
        if (postDelay > 0) {
            line("_LP " + std::to_string(postDelay), 0, 0);
        }
        const double wire = rate > 0 ? static_cast<double>(file.data.size()) / rate : 0;
        line("_LD",
             plan.delayMs / 1000.0 + wire + postDelay + VerifySeconds + (held ? HeldSeconds : 0),
             plan.delayMs + static_cast<int>(wire * 1000) + postDelay * 1000 + 20);
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

    auto atMoment = [&](Action::Type type) {
        Action action;
        action.type = type;
        if (Chance(rng, 0.55)) {
            action.file = Pick(rng, 0, files - 1);
            action.fraction = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
        } else {
            action.atMs = Pick(rng, 0, plan.estimateMs * 6 / 5);
        }
        return action;
    };
    const bool mixed = sequence.kind == Kind::Mixed;
    if ((sequence.kind == Kind::Terminal || (mixed && Chance(rng, 0.35))) && Chance(rng, 0.6)) {
        plan.actions.push_back(atMoment(Action::HideTerminal));
    }
    if (sequence.kind == Kind::Cancel || (mixed && Chance(rng, 0.35))) {
        const int answerMs = std::max(answerDelayMs_ - 1, 0);
        const int verifyMs = std::max(verifyDelayMs_ - 1, 0);
        switch (cancelIn) {
        case CancelIn::Room:
            plan.actions.push_back(CancelInWait(cancelIn, Pick(rng, 0, virtual_ ? 14000 : 2000)));
            break;
        case CancelIn::HeaderDelay:
            plan.actions.push_back(CancelInWait(cancelIn, Pick(rng, 0, plan.delayMs - 1)));
            break;
        case CancelIn::PostDelay:
            plan.actions.push_back(CancelInWait(cancelIn, Pick(rng, 0, postDelay * 1000 - 1)));
            break;
        case CancelIn::RetryPause:
            plan.actions.push_back(CancelInWait(cancelIn, Pick(rng, 0, 1999)));
            break;
        case CancelIn::Quiet:
            plan.actions.push_back(CancelInWait(cancelIn, Pick(rng, 0, 8)));
            break;
        case CancelIn::CommandAnswer:
            plan.actions.push_back(CancelInWait(cancelIn, Pick(rng, 0, answerMs)));
            break;
        case CancelIn::VerifyAnswer:
            plan.actions.push_back(CancelInWait(cancelIn, Pick(rng, 0, verifyMs)));
            break;
        case CancelIn::Transfer: {
            Action action;
            action.in = cancelIn;
            action.file = Pick(rng, 0, files - 1);
            action.fraction = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
            plan.actions.push_back(action);
            break;
        }
        case CancelIn::AnyTime:
            plan.actions.push_back(atMoment(Action::Cancel));
            break;
        }
        if (Chance(rng, 0.15)) {
            plan.actions.push_back(atMoment(Action::Cancel));
        }
    }
    if (sequence.kind == Kind::Unplug || (mixed && Chance(rng, 0.35))) {
        Action action = atMoment(Action::Unplug);
        action.againAfterMs = Chance(rng, 0.9) ? Pick(rng, 10, 1500) : -1;
        plan.actions.push_back(action);
    }
    if (sequence.requireCts) {
        Action action = atMoment(Action::CtsLow);
        action.againAfterMs = Chance(rng, 0.6) ? Pick(rng, 10, 4000) : -1;
        bound += std::max(action.againAfterMs, 0) / 1000.0;
        plan.actions.push_back(action);
    }
    // What only a station does: a board started on a line that has just hung up, and a board
    // taken out during its run with another one plugged in behind the same port.
    plan.hungStart = Chance(rng, 0.06);
    if (Chance(rng, 0.08)) {
        Action action = atMoment(Action::Swap);
        action.againAfterMs = Pick(rng, 10, 1500);
        plan.actions.push_back(action);
    }
    // Room for a loaded machine: a quarter more and five seconds.
    plan.boundSeconds = bound * 1.25 + 5.0;
    plan.boxSeed = rng();
    plan.reactionSeed = rng();
    return plan;
}

} // namespace pellwick::soak
