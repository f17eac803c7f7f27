// The terminal's own settings in loader.ini, section [Terminal]: the font, local echo, the
// line-end mappings, how pastes and sent files are paced, and what a capture keeps. A section of
// its own, so that nothing the settings window reads or writes changes. Needs no window: the font
// is kept as the toolkit's text form of it.
#pragma once

#include "ini/PrivateProfile.h"
#include "terminal/LineEnds.h"
#include "terminal/PastePacer.h"

#include <string>

namespace pellwick {

struct TerminalSettings {
    static constexpr const char* Section = "Terminal";

    std::string Font; // empty: the terminal's default font
    bool LocalEcho = false;
    LineEndMapping LineEnds;
    PastePacing Pacing;
    bool CaptureSent = false;
    bool CaptureAppend = false;

    // Bounds of the pacing values; values read outside them are brought inside.
    static constexpr int MaxDelayMs = 10000;
    static constexpr int MinPromptTimeoutMs = 100;
    static constexpr int MaxPromptTimeoutMs = 600000;

    bool operator==(const TerminalSettings&) const = default;

    // Every key with its default when missing; a line end that is not CR, LF or CRLF reads
    // as CR.
    static TerminalSettings Load(const PrivateProfile& ini);
    // Writes every key; throws EIniWriteError when the file cannot be written.
    void Save(PrivateProfile& ini) const;
};

} // namespace pellwick
