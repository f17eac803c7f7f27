// Plans of the composition soak, drawn from its seed alone, so that a sequence can be run again
// and every program gets the same ones: a sequence is one device (its faults and line), the
// sizes of the settings and a few runs; a run is a script with its files, the operator's actions
// at moments of it and the longest it may take. A plan for the virtual clock may hold waits of
// a minute; one for the real clock keeps them to seconds.
#pragma once

#include "e2e/UploadFiles.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace pellwick::soak {

using Rng = std::mt19937_64;

int Pick(Rng& rng, int lo, int hi);
bool Chance(Rng& rng, double p);

enum class Kind { Terminal, DeviceErrors, Cancel, Unplug, Settings, Verification, HeldLine, Mixed };
inline constexpr Kind AllKinds[] = {Kind::Terminal, Kind::DeviceErrors, Kind::Cancel,
                                    Kind::Unplug,   Kind::Settings,     Kind::Verification,
                                    Kind::HeldLine, Kind::Mixed};
const char* NameOf(Kind kind);

// Where a cancel lands: in one of the run's waits (Room, the three pauses, Quiet, the two
// answers), in a transfer, or at a moment of the run.
enum class CancelIn {
    Room,
    HeaderDelay,
    PostDelay,
    RetryPause,
    Quiet,
    CommandAnswer,
    VerifyAnswer,
    Transfer,
    AnyTime
};
inline constexpr int CancelInCount = 9;
const char* NameOf(CancelIn where);

struct PlannedFile {
    std::string name;
    std::string address;
    e2e::Bytes data;
};

struct Action {
    enum Type { Cancel, HideTerminal, Unplug, Swap, CtsLow } type = Cancel;
    int atMs = -1; // this long after the start (or after the wait `in` began), or
    int file = -1; // once this file's transfer has handed over `fraction` of its bytes
    double fraction = 0;
    CancelIn in = CancelIn::AnyTime;
    // Unplug: plugged in again this long after (Swap: another board); CtsLow: CTS high again
    // this long after. -1: not again during the run.
    int againAfterMs = -1;
    double doneAt = -1; // seconds after the start
};
const char* NameOf(Action::Type type);

struct SequencePlan {
    Kind kind = Kind::Mixed;
    std::vector<std::string> faults; // simulator options
    unsigned baud = 0;               // the simulator's emulated line rate (real clock); 0 unpaced
    std::int32_t lineRate = 19200;   // the port's rate (the virtual line follows it)
    bool uart = false;               // virtual: a UART that tells its queue, else a pty
    bool requireCts = false;         // Require CTS on (virtual UART)
    int blockSize = 50;
    int bufferSize = 4096;
    int delayMs = 20; // loader.ini "Delay"
    int runs = 3;
    bool costly = false; // verification faults that cost seconds: one file a run
    CancelIn cancelIn = CancelIn::AnyTime;
};

struct RunPlan {
    std::string script;
    std::vector<PlannedFile> files;
    std::vector<Action> actions;
    int delayMs = 20;               // the header's Delay of this run
    int estimateMs = 0;             // a guess of the run's length, for the moments of actions
    double boundSeconds = 0;        // the longest the run may take
    bool hungStart = false;         // a station's start on a line that has just hung up
    std::uint64_t beforeSeed = 0;   // what the operator does before the run (not the first)
    std::uint64_t boxSeed = 0;      // how the boxes are answered
    std::uint64_t reactionSeed = 0; // what the operator does after the run
};

class Planner {
public:
    Planner(std::uint64_t seed, bool virtualClock) : seed_(seed), virtual_(virtualClock) {}
    // The sequence of this number; the kinds take turns, so that a short soak sees each, and
    // the cancels of successive cancel sequences go to every kind of wait in turn.
    SequencePlan Sequence(int number);
    // The next run of the last sequence; `prefix` starts its file names.
    RunPlan Run(const std::string& prefix);

private:
    std::uint64_t seed_;
    bool virtual_;
    Rng rng_;
    SequencePlan sequence_;
    int number_ = 0;
    int runs_ = 0; // runs planned in the sequence
    int nextAddress_ = 0;
    int answerDelayMs_ = 0, verifyDelayMs_ = 0; // the device's, for cancels in those answers
    std::vector<PlannedFile> earlier_; // files of the sequence whose address may come again
};

} // namespace pellwick::soak
