// Plans of the composition soak, drawn from its seed alone, so that a sequence can be run again:
// a sequence is one simulator (its faults and line rate), loader.ini's sizes and a few runs; a
// run is a script with its files, the operator's actions at moments of it and the longest it may
// take.
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

enum class Kind { Terminal, DeviceErrors, Cancel, Unplug, Settings, Verification, Mixed };
inline constexpr Kind AllKinds[] = {Kind::Terminal, Kind::DeviceErrors, Kind::Cancel, Kind::Unplug,
                                    Kind::Settings, Kind::Verification, Kind::Mixed};
const char* NameOf(Kind kind);

struct PlannedFile {
    std::string name;
    std::string address;
    e2e::Bytes data;
};

struct Action {
    enum Type { Cancel, HideTerminal, Unplug } type = Cancel;
    int atMs = -1; // this long after the start, or
    int file = -1; // once this file's transfer has handed over `fraction` of its bytes
    double fraction = 0;
    int replugAfterMs = -1; // Unplug: plugged in again this long after; -1: stays out
    double doneAt = -1;     // seconds after the start
};
const char* NameOf(Action::Type type);

struct SequencePlan {
    Kind kind = Kind::Mixed;
    std::vector<std::string> faults; // simulator options
    unsigned baud = 0;               // emulated line rate; 0 unpaced
    int blockSize = 50;
    int bufferSize = 4096;
    int delayMs = 20; // loader.ini "Delay"
    int runs = 3;
    bool costly = false; // verification faults that cost seconds: one file a run
};

struct RunPlan {
    std::string script;
    std::vector<PlannedFile> files;
    std::vector<Action> actions;
    int estimateMs = 0;             // a guess of the run's length, for the moments of actions
    double boundSeconds = 0;        // the longest the run may take
    std::uint64_t beforeSeed = 0;   // what the operator does before the run (not the first)
    std::uint64_t boxSeed = 0;      // how the boxes are answered
    std::uint64_t reactionSeed = 0; // what the operator does after the run
};

class Planner {
public:
    explicit Planner(std::uint64_t seed) : seed_(seed) {}
    // The sequence of this number; the kinds take turns, so that a short soak sees each.
    SequencePlan Sequence(int number);
    // The next run of the last sequence.
    RunPlan Run();

private:
    std::uint64_t seed_;
    Rng rng_;
    SequencePlan sequence_;
    int number_ = 0;
    int runs_ = 0; // runs planned in the sequence
    int nextAddress_ = 0;
    std::vector<PlannedFile> earlier_; // files of the sequence whose address may come again
};

} // namespace pellwick::soak
