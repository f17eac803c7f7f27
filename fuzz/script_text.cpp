// Script text: line splitting, command-line parts, command-string decoding and the integer
// syntax of _DY and _LP, each checked against what it must give for any bytes.
#include "Oracle.h"

#include "upload/ScriptText.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

using pellwick::ScriptText;
using pellwick::fuzz::Expect;
using pellwick::fuzz::Readable;

namespace {

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n';
}

// Lines carry no line end, lose no byte, and joining them with LF splits into the same lines.
void CheckSplit(const std::string& text) {
    const auto lines = ScriptText::SplitLines(text);
    std::string content;
    for (const auto& line : lines) {
        Expect(line.find_first_of("\r\n") == std::string::npos,
               "line holds a line end: " + Readable(line));
        content += line;
    }
    std::string expectedContent;
    std::size_t breaks = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!IsLineEnd(text[i])) {
            expectedContent.push_back(text[i]);
        } else {
            ++breaks;
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        }
    }
    Expect(content == expectedContent, "bytes lost or added by splitting " + Readable(text));
    const bool open = !text.empty() && !IsLineEnd(text.back());
    Expect(lines.size() == breaks + (open ? 1 : 0),
           "wrong line count " + std::to_string(lines.size()) + " for " + Readable(text));
    std::string joined;
    for (const auto& line : lines) {
        joined += line + "\n";
    }
    Expect(ScriptText::SplitLines(joined) == lines, "split does not round-trip " + Readable(text));
}

// The integer syntax spelled out independently: blanks or tabs, a sign, digits, blanks or tabs.
std::optional<std::int32_t> ReferenceInteger(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return std::nullopt;
    }
    const auto last = text.find_last_not_of(" \t");
    std::string core = text.substr(first, last - first + 1);
    bool negative = false;
    if (core[0] == '+' || core[0] == '-') {
        negative = core[0] == '-';
        core.erase(0, 1);
    }
    if (core.empty() || core.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const auto digits = core.find_first_not_of('0');
    if (digits == std::string::npos) {
        return 0;
    }
    std::int64_t value = 0;
    const char* begin = core.data() + digits;
    const char* end = core.data() + core.size();
    if (end - begin > 12 || std::from_chars(begin, end, value).ec != std::errc{}) {
        return std::nullopt;
    }
    value = negative ? -value : value;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

void CheckLine(const std::string& line) {
    const std::string argument = ScriptText::ArgumentOf(line);
    Expect(line.size() >= argument.size() &&
               line.compare(line.size() - argument.size(), argument.size(), argument) == 0,
           "argument is not the end of its line: " + Readable(line));
    const std::string decoded = ScriptText::ProcessCmdString(argument);
    // Decoding only removes: the quotes (or two characters) and one caret per escape.
    Expect(decoded.empty() || decoded.size() + 2 <= argument.size(),
           "decoded command string longer than its bounds: " + Readable(argument));
    const auto parsed = ScriptText::ParseInteger(argument);
    Expect(parsed == ReferenceInteger(argument),
           "integer syntax disagrees on " + Readable(argument));
}

// A command string printed the way a script author writes it (in quotes, caret escapes for
// control codes, some other bytes escaped too, blanks around) decodes
// to the bytes it was printed from. A literal caret has no escape that survives decoding (the
// caret it yields is read as an escape again), so the bytes printed hold none.
void CheckCommandStringRoundTrip(FuzzedDataProvider& input) {
    std::string wanted = input.ConsumeRandomLengthString(64);
    for (char& c : wanted) {
        if (c == '^') {
            c = '~';
        }
    }
    std::string printed = input.ConsumeBool() ? "  \t\"" : "\"";
    for (const char c : wanted) {
        const auto b = static_cast<unsigned char>(c);
        const auto escaped = static_cast<unsigned char>(b + 64);
        const bool mustEscape = b < 32;
        // Escapes whose second character is a lower-case letter mean the upper-case one.
        const bool mayEscape = !(escaped >= 'a' && escaped <= 'z');
        if (mustEscape || (mayEscape && input.ConsumeBool())) {
            printed += '^';
            printed.push_back(static_cast<char>(escaped));
        } else {
            printed.push_back(c);
        }
    }
    printed += '"';
    printed += std::string(input.ConsumeIntegralInRange<std::size_t>(0, 3), ' ');
    const std::string decoded = ScriptText::ProcessCmdString(printed);
    Expect(decoded == wanted, "command string " + Readable(printed) + " decodes to " +
                                  Readable(decoded) + ", not " + Readable(wanted));
}

void CheckIntegerRoundTrip(FuzzedDataProvider& input) {
    const auto value = input.ConsumeIntegral<std::int32_t>();
    std::string text = std::string(input.ConsumeIntegralInRange<std::size_t>(0, 2), '\t');
    if (value >= 0 && input.ConsumeBool()) {
        text += '+';
    }
    text +=
        std::to_string(value) + std::string(input.ConsumeIntegralInRange<std::size_t>(0, 2), ' ');
    Expect(ScriptText::ParseInteger(text) == value, "integer does not round-trip: " + text);
}

void CheckGauge(FuzzedDataProvider& input) {
    const auto count =
        input.ConsumeIntegralInRange<std::int32_t>(1, std::numeric_limits<std::int32_t>::max());
    const auto index = input.ConsumeIntegralInRange<std::int32_t>(0, count);
    const int percent = ScriptText::GaugePercent(index, count);
    Expect(percent >= 2 && percent <= 100, "gauge out of range: " + std::to_string(percent));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckSplit(text);
    for (const auto& line : ScriptText::SplitLines(text)) {
        CheckLine(line);
    }
    FuzzedDataProvider input(data, size);
    CheckCommandStringRoundTrip(input);
    CheckIntegerRoundTrip(input);
    CheckGauge(input);
    return 0;
}
