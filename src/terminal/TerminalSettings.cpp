#include "terminal/TerminalSettings.h"

namespace pellwick {

namespace {

constexpr const char* KeyFont = "Font";
constexpr const char* KeyEcho = "Local Echo";
constexpr const char* KeySend = "Send Line End";
constexpr const char* KeyCr = "Receive CR As CRLF";
constexpr const char* KeyLf = "Receive LF As CRLF";

} // namespace

TerminalSettings TerminalSettings::Load(const PrivateProfile& ini) {
    TerminalSettings s;
    s.Font = ini.ReadString(Section, KeyFont, "");
    s.LocalEcho = ini.ReadBool(Section, KeyEcho, false);
    s.LineEnds.send =
        LineEndFromName(ini.ReadString(Section, KeySend, LineEndName(LineEnd::Cr)))
            .value_or(LineEnd::Cr);
    s.LineEnds.receiveCrAsCrLf = ini.ReadBool(Section, KeyCr, false);
    s.LineEnds.receiveLfAsCrLf = ini.ReadBool(Section, KeyLf, false);
    return s;
}

void TerminalSettings::Save(PrivateProfile& ini) const {
    ini.WriteString(Section, KeyFont, Font);
    ini.WriteBool(Section, KeyEcho, LocalEcho);
    ini.WriteString(Section, KeySend, LineEndName(LineEnds.send));
    ini.WriteBool(Section, KeyCr, LineEnds.receiveCrAsCrLf);
    ini.WriteBool(Section, KeyLf, LineEnds.receiveLfAsCrLf);
}

} // namespace pellwick
