// Everything that shapes the simulated device: its strings and commands, the emulated line, the
// files it keeps and the faults it injects. The defaults are those of a freshly set-up device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pellwick {

// A command the device knows in both modes. With a value it answers
// NAME + result marker + value, CR LF, prompt; without one it answers the prompt alone.
struct DeviceCommand {
    std::string name;
    std::string value;
    bool hasValue = false;
};

// A command the device refuses `count` times (answering as to an unknown command) before it
// treats it normally again.
struct RefusedCommand {
    std::string name;
    std::int64_t count = 1;
};

struct DeviceConfig {
    // Strings the device speaks.
    std::string prompt = "#";
    std::string error = "?";
    std::string uploadPrompt = ">";
    std::string uploadError = "ERR";
    std::string resultMarker = "=";
    std::vector<DeviceCommand> commands = {{"VER", "2.10", true}};
    std::string uploadCommand = "UL"; // enters upload mode
    std::string normalCommand = "GO"; // leaves upload mode
    bool echo = false;                // echo the characters of command lines
    bool promptAfterError = true;     // an error answer ends with CR LF and the prompt
    std::size_t maxLine = 256;        // longer command lines are refused

    // Uploads.
    std::string storeDir;                         // empty: files are checked, not kept
    std::uint64_t maxFileSize = 64ull << 20;      // larger announced sizes are refused
    std::int64_t dataTimeoutMs = 0;               // idle time that abandons a file; 0: never
    std::int64_t resyncMs = 200;                  // quiet time ending the discard after an error
    static constexpr std::size_t maxAddress = 64; // longest accepted address field

    // Emulated line: bytes per second derive from the baud rate at 10 bits per byte (8N1).
    std::uint32_t baud = 0; // 0: no pacing
    std::size_t burst = 64; // most bytes moved at once; idle time earns no more credit

    // Faults. A negative count switches a fault off.
    bool silent = false;            // answer nothing at all
    std::int64_t errAfter = -1;     // send the upload error after N bytes of each file
    std::int64_t errRepeat = 1;     // that error answer this many times in all,
    std::int64_t errRepeatMs = 100; // this many ms apart
    std::int64_t corruptAt = -1;    // invert the byte at this offset of each file
    std::int64_t dropAt = -1;       // lose the byte at this offset of each file
    std::int64_t garbage = 0;       // junk bytes put in front of every answer
    std::int64_t flood = 0;         // junk bytes sent once, before the first answer
    std::int64_t hangupAfter = -1;  // close the line after this many received bytes
    std::int64_t stallAfter = -1;   // read nothing more after this many received bytes
    // Unplug (the line's link goes, then the line closes) this long after the plug-in, or after
    // this many bytes received since it; the program decides what follows (DevsimOptions).
    std::int64_t unplugAfterMs = -1;
    std::int64_t unplugAfterBytes = -1;
    std::int64_t answerDelayMs = 0;  // every answer leaves this much later
    bool refuseVerify = false;       // refuse every file at its verifying CR, intact or not
    bool forgetRefusal = false;      // after a refused file the next lone CR gets the prompt again
    std::int64_t verifyDelayMs = 0;  // the answer to a file's verifying CR leaves this much later
    std::int64_t ignoreVerify = 0;   // the first N verifying CRs of each file get no answer
    std::int64_t noiseAfterData = 0; // junk bytes, prompt characters among them, after each file
    std::int64_t splitErrorMs = 0;   // send error answers in two pieces this many ms apart
    // An error answer of the current mode that no input asked for, once per plug-in: this many
    // ms after the first byte received, or right after the answer to the N-th line read.
    std::int64_t unsolicitedErrorMs = -1;
    std::int64_t unsolicitedErrorLine = -1;
    std::vector<RefusedCommand> refusedCommands; // refused before they are accepted
    std::uint32_t junkSeed = 12345; // seed of the junk generator (deterministic output)

    std::string transcriptPath; // empty: no transcript
};

} // namespace pellwick
