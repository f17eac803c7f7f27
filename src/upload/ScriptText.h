// The text rules of upload scripts, free of any window or device: splitting a script into lines,
// picking a command line apart, decoding command strings, reading the integer arguments and
// computing the script gauge.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pellwick {

class ScriptText {
public:
    // Splits text at CR LF, LF or CR. A final line break does not start another line; an empty
    // text has no lines. Lines are kept exactly as stored.
    static std::vector<std::string> SplitLines(const std::string& text);

    // Reads a whole script file as bytes, without a leading UTF-8 byte order mark; nullopt when
    // it is not a regular file, cannot be opened or read, or holds more than MaxScriptBytes
    // (then *tooLarge is set).
    static std::optional<std::string> ReadFile(const std::string& path, bool* tooLarge = nullptr);
    // Far above any real script, low enough that a wrong file cannot exhaust memory.
    static constexpr std::size_t MaxScriptBytes = 16u << 20;

    // A command line starts with "_"; every other line is a comment.
    static bool IsCommandLine(const std::string& line);

    // The command word: the 2nd and 3rd characters in upper case ("DY" for "_dyx 5"); empty when
    // the line is shorter than three characters.
    static std::string CommandOf(const std::string& line);

    // Everything after the first blank, unchanged; the whole line when it has no blank.
    static std::string ArgumentOf(const std::string& line);

    // Decodes a command-string argument: trims codes 0..32, takes the L-2 characters after the
    // first double quote (from the start when there is none), then resolves caret escapes
    // ("^M" -> CR, "^@" -> NUL, "^^" -> 30; a caret at the end is dropped). May contain NUL.
    static std::string ProcessCmdString(const std::string& text);

    // The integer syntax of _DY and _LP: optional blanks or tabs, an optional sign, one or more
    // decimal digits, optional blanks or tabs, and a value that fits in 32 bits signed.
    static std::optional<std::int32_t> ParseInteger(const std::string& text);

    // Rounds to the nearest integer, halves to the even neighbour.
    static std::int64_t RoundHalfEven(double value);

    // The script gauge after lineIndex of lineCount lines: round(index / count * 100) + 2,
    // at most 100. lineCount must be positive.
    static int GaugePercent(std::int32_t lineIndex, std::int32_t lineCount);

    // ASCII upper case: only a..z change, as the scripts' and settings' comparisons expect.
    static std::string UpperCase(std::string text);
};

} // namespace pellwick
