#include "upload/ScriptText.h"

#include <cmath>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

namespace pellwick {

std::vector<std::string> ScriptText::SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    bool pending = false; // current holds a started line that has not been ended yet
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(current);
            current.clear();
            pending = false;
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            current.push_back(c);
            pending = true;
        }
    }
    if (pending) {
        lines.push_back(current);
    }
    return lines;
}

std::optional<std::string> ScriptText::ReadFile(const std::string& path, bool* tooLarge) {
    if (tooLarge != nullptr) {
        *tooLarge = false;
    }
    // A FIFO would block the open for ever, a device (/dev/zero) never ends: only regular
    // files are scripts.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string content;
    try {
        // Read in pieces up to one byte past the limit, which tells a file that is too large
        // from one that just fits.
        char piece[65536];
        while (content.size() <= MaxScriptBytes && in) {
            in.read(piece, sizeof piece);
            content.append(piece, static_cast<std::size_t>(in.gcount()));
        }
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (in.bad()) {
        return std::nullopt;
    }
    if (content.size() > MaxScriptBytes) {
        if (tooLarge != nullptr) {
            *tooLarge = true;
        }
        return std::nullopt;
    }
    // Editors that save UTF-8 may start with a byte order mark; left in, it would hide the
    // first line's command.
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        content.erase(0, 3);
    }
    return content;
}

bool ScriptText::IsCommandLine(const std::string& line) {
    return !line.empty() && line[0] == '_';
}

std::string ScriptText::CommandOf(const std::string& line) {
    if (line.size() < 3) {
        return {};
    }
    return UpperCase(line.substr(1, 2));
}

std::string ScriptText::ArgumentOf(const std::string& line) {
    const auto blank = line.find(' ');
    if (blank == std::string::npos) {
        return line;
    }
    return line.substr(blank + 1);
}

std::string ScriptText::ProcessCmdString(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= 32) {
        ++first;
    }
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32) {
        --last;
    }
    const std::string trimmed = text.substr(first, last - first);

    // The L-2 characters after the first quote: for «"AT^M"» the text between the quotes.
    const auto quote = trimmed.find('"');
    const std::size_t start = quote == std::string::npos ? 0 : quote + 1;
    std::string result;
    if (trimmed.size() > 2 && start < trimmed.size()) {
        result = trimmed.substr(start, trimmed.size() - 2);
    }

    for (auto caret = result.find('^'); caret != std::string::npos; caret = result.find('^')) {
        if (caret + 1 < result.size()) {
            unsigned char c = static_cast<unsigned char>(result[caret + 1]);
            if (c >= 'a' && c <= 'z') {
                c = static_cast<unsigned char>(c - 'a' + 'A');
            }
            result[caret + 1] = static_cast<char>(static_cast<unsigned char>(c - 64));
        }
        result.erase(caret, 1);
    }
    return result;
}

std::optional<std::int32_t> ScriptText::ParseInteger(const std::string& text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (i < n && isBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t digitsStart = i;
    std::int64_t value = 0;
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i] - '0');
        if (value > limit) {
            return std::nullopt;
        }
        ++i;
    }
    if (i == digitsStart) {
        return std::nullopt;
    }
    while (i < n && isBlank(text[i])) {
        ++i;
    }
    if (i != n) {
        return std::nullopt;
    }
    if (negative) {
        value = -value;
    }
    if (value > std::numeric_limits<std::int32_t>::max() ||
        value < std::numeric_limits<std::int32_t>::min()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

std::int64_t ScriptText::RoundHalfEven(double value) {
    const double floor = std::floor(value);
    const double fraction = value - floor;
    auto result = static_cast<std::int64_t>(floor);
    if (fraction > 0.5 || (fraction == 0.5 && result % 2 != 0)) {
        ++result;
    }
    return result;
}

int ScriptText::GaugePercent(std::int32_t lineIndex, std::int32_t lineCount) {
    const double share = static_cast<double>(lineIndex) / static_cast<double>(lineCount) * 100.0;
    const std::int64_t percent = RoundHalfEven(share) + 2;
    return static_cast<int>(percent > 100 ? 100 : percent);
}

std::string ScriptText::UpperCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

} // namespace pellwick
