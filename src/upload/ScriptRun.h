// The state of an upload run: the loaded script, where the run stands, and the values the script
// has set. One instance lives as long as the main window; the values set by _LF, _LA, _LV and _LP
// carry over from one run to the next.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pellwick {

// The stored values matter: they are the states' documented numbers.
enum class ScriptState : std::uint8_t {
    ssNextLine = 0,    // take the next line on the next tick
    ssDelay = 1,       // count down DelayTicks
    ssStartUpload = 2, // start the upload on the next tick
    ssUploading = 3,   // upload handed to the link; verify it on the next tick
    ssUploadError = 4, // end the run with the upload-error report
    ssScriptError = 5, // show the script-error dialog
    ssCancelled = 6,   // the operator cancelled; ends the run like ssUploadError
    ssScriptDone = 7,  // the last line has been taken; end the run
};

struct ScriptRun {
    std::vector<std::string> Lines;
    std::string ScriptFileName;
    std::int32_t LineIndex = 0; // lines already taken = 0-based index of the next line
    std::int32_t LineCount = 0;
    ScriptState State = ScriptState::ssScriptDone;
    std::int32_t DelayTicks = 0;
    std::string UploadName;
    std::string LoadAddress;
    std::string LoadVersion;
    std::vector<std::uint8_t> UploadBuffer;
    std::int32_t PreUploadDelay = 1000; // ms between the upload header and the first data byte
    std::int32_t PostDelay = 0;         // ms before each verification
    bool LogOpen = false;
};

} // namespace pellwick
