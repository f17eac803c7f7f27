// Choosing the terminal's cell font. Qt calls a font fixed-pitch only when the font file says
// so, and common monospace fonts (Noto Sans Mono among them) do not, although every glyph has
// the same advance. The terminal needs one advance for all cells, not the flag.
#pragma once

#include <QFont>

namespace pellwick {

// True when every printable ASCII character has the same, non-zero advance in font.
bool HasUniformAdvance(const QFont& font);

// preferred when it has uniform advances; else, at its size, the first of the system's fixed
// font, a chain of common monospace families and the installed fixed-pitch families that has;
// the system's fixed font when none has.
QFont UsableTerminalFont(const QFont& preferred);

} // namespace pellwick
