#include "terminal/TerminalSettings.h"

#include <algorithm>

namespace pellwick {

namespace {

constexpr const char* KeyFont = "Font";
constexpr const char* KeyEcho = "Local Echo";
constexpr const char* KeySend = "Send Line End";
constexpr const char* KeyCr = "Receive CR As CRLF";
constexpr const char* KeyLf = "Receive LF As CRLF";
constexpr const char* KeyCharDelay = "Paste Char Delay";
constexpr const char* KeyLineDelay = "Paste Line Delay";
constexpr const char* KeyPrompt = "Paste Prompt";
constexpr const char* KeyPromptTimeout = "Paste Prompt Timeout";
constexpr const char* KeyCaptureSent = "Capture Sent";
constexpr const char* KeyCaptureAppend = "Capture Append";

} // namespace

TerminalSettings TerminalSettings::Load(const PrivateProfile& ini) {
    TerminalSettings s;
    s.Font = ini.ReadString(Section, KeyFont, "");
    s.LocalEcho = ini.ReadBool(Section, KeyEcho, false);
    s.LineEnds.send = LineEndFromName(ini.ReadString(Section, KeySend, LineEndName(LineEnd::Cr)))
                          .value_or(LineEnd::Cr);
    s.LineEnds.receiveCrAsCrLf = ini.ReadBool(Section, KeyCr, false);
    s.LineEnds.receiveLfAsCrLf = ini.ReadBool(Section, KeyLf, false);
    s.Pacing.charDelayMs = std::clamp(ini.ReadInteger(Section, KeyCharDelay, 0), 0, MaxDelayMs);
    s.Pacing.lineDelayMs = std::clamp(ini.ReadInteger(Section, KeyLineDelay, 0), 0, MaxDelayMs);
    s.Pacing.prompt = ini.ReadString(Section, KeyPrompt, "");
    s.Pacing.promptTimeoutMs = std::clamp(ini.ReadInteger(Section, KeyPromptTimeout, 5000),
                                          MinPromptTimeoutMs, MaxPromptTimeoutMs);
    s.CaptureSent = ini.ReadBool(Section, KeyCaptureSent, false);
    s.CaptureAppend = ini.ReadBool(Section, KeyCaptureAppend, false);
    return s;
}

void TerminalSettings::Save(PrivateProfile& ini) const {
    ini.WriteString(Section, KeyFont, Font);
    ini.WriteBool(Section, KeyEcho, LocalEcho);
    ini.WriteString(Section, KeySend, LineEndName(LineEnds.send));
    ini.WriteBool(Section, KeyCr, LineEnds.receiveCrAsCrLf);
    ini.WriteBool(Section, KeyLf, LineEnds.receiveLfAsCrLf);
    ini.WriteInteger(Section, KeyCharDelay, Pacing.charDelayMs);
    ini.WriteInteger(Section, KeyLineDelay, Pacing.lineDelayMs);
    ini.WriteString(Section, KeyPrompt, Pacing.prompt);
    ini.WriteInteger(Section, KeyPromptTimeout, Pacing.promptTimeoutMs);
    ini.WriteBool(Section, KeyCaptureSent, CaptureSent);
    ini.WriteBool(Section, KeyCaptureAppend, CaptureAppend);
}

} // namespace pellwick
