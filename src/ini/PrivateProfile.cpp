#include "ini/PrivateProfile.h"

#include "ini/EIniWriteError.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace pellwick {

namespace {

// One line of the file: its text without the line end, and the line end as found ("\r\n",
// "\n", or empty for a last line without one).
struct Line {
    std::string text;
    std::string eol;
};

enum class LineKind { Other, Comment, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string name;     // section name or key name, trimmed
    std::string rawValue; // key lines: everything after the first '='
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& s) {
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end && IsBlank(s[begin]))
        ++begin;
    while (end > begin && IsBlank(s[end - 1]))
        --end;
    return s.substr(begin, end - begin);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        // ASCII folding only: names are single-byte text whose case rules are those of ASCII.
        const auto fa = (ca >= 'A' && ca <= 'Z') ? ca + 32 : ca;
        const auto fb = (cb >= 'A' && cb <= 'Z') ? cb + 32 : cb;
        if (fa != fb)
            return false;
    }
    return true;
}

// CR LF, LF and a lone CR all end a line: files written on other systems (or by editors that
// keep CR only) must still show their sections and keys, and a CR never becomes part of a value.
std::vector<Line> SplitLines(const std::string& content) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < content.size()) {
        const std::size_t end = content.find_first_of("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back({content.substr(pos), ""});
            break;
        }
        const bool crlf =
            content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n';
        const std::size_t eolLength = crlf ? 2 : 1;
        lines.push_back({content.substr(pos, end - pos), content.substr(end, eolLength)});
        pos = end + eolLength;
    }
    return lines;
}

ParsedLine Classify(const Line& line, bool first) {
    std::string text = line.text;
    // A UTF-8 byte order mark written by some editors would otherwise hide the first section.
    if (first && text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    const std::string trimmed = Trim(text);
    ParsedLine parsed;
    if (trimmed.empty())
        return parsed;
    if (trimmed[0] == ';') {
        parsed.kind = LineKind::Comment;
        return parsed;
    }
    if (trimmed[0] == '[') {
        parsed.kind = LineKind::Section;
        const std::size_t close = trimmed.find(']');
        parsed.name =
            Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
        return parsed;
    }
    const std::size_t eq = trimmed.find('=');
    if (eq == std::string::npos)
        return parsed;
    parsed.name = Trim(trimmed.substr(0, eq));
    if (parsed.name.empty())
        return parsed;
    parsed.kind = LineKind::Key;
    parsed.rawValue = trimmed.substr(eq + 1);
    return parsed;
}

std::string CleanValue(const std::string& raw) {
    std::string value = Trim(raw);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    if (value.size() > PrivateProfile::MaxValueLength)
        value.resize(PrivateProfile::MaxValueLength);
    return value;
}

// Where a section and a key sit in the parsed file; npos when absent.
struct Location {
    std::size_t sectionLine = std::string::npos;
    std::size_t keyLine = std::string::npos;
    std::size_t lastKeyLine = std::string::npos; // last key line of the section
    std::size_t sectionEnd = 0;                  // first line after the section
};

Location Locate(const std::vector<Line>& lines, const std::string& section,
                const std::string* key) {
    Location loc;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ParsedLine parsed = Classify(lines[i], i == 0);
        if (loc.sectionLine == std::string::npos) {
            if (parsed.kind == LineKind::Section && SameName(parsed.name, section))
                loc.sectionLine = i;
            continue;
        }
        if (parsed.kind == LineKind::Section) {
            loc.sectionEnd = i;
            return loc;
        }
        if (parsed.kind == LineKind::Key) {
            loc.lastKeyLine = i;
            if (key != nullptr && loc.keyLine == std::string::npos && SameName(parsed.name, *key))
                loc.keyLine = i;
        }
    }
    loc.sectionEnd = lines.size();
    return loc;
}

// Appends everything the descriptor holds to content, through interrupted reads; false on a
// read error.
bool ReadAll(int fd, std::string& content) {
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            content.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n == 0;
    }
}

// The file's content; empty when it is missing or cannot be read whole.
std::string ReadWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string content;
    if (!ReadAll(fd, content))
        content.clear();
    ::close(fd);
    return content;
}

// Reads the file for a rewrite. A missing file is empty; a file that exists but cannot be read
// must not be replaced by one that holds only the new key.
bool ReadForUpdate(const std::string& path, std::string& content) {
    content.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    const bool ok = ReadAll(fd, content);
    ::close(fd);
    return ok;
}

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Overwrites the file itself, for a file the user may write in a folder where no temporary file
// can be made. Not atomic, but the only way to save there at all.
bool RewriteInPlace(const std::string& target, const std::string& content) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = WriteAll(fd, content) &&
                         ::ftruncate(fd, static_cast<off_t>(content.size())) == 0 &&
                         ::fsync(fd) == 0;
    return ::close(fd) == 0 && written;
}

// Replaces the file at path with content through a temporary file in the same folder, or in
// place when the folder does not let us make one.
bool ReplaceFile(const std::string& path, const std::string& content) {
    std::string target = path;
    struct stat linkInfo {};
    if (::lstat(path.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
        // Keep the link and rewrite the file it points to.
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved != nullptr) {
            target = resolved;
            std::free(resolved);
        }
    }
    const std::size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;

    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = folder + (slash == std::string::npos ? "/" : "") + "." + base + ".tmp." +
               std::to_string(::getpid()) + "." + std::to_string(counter++);
        // 0666 so that a new file gets the permissions the umask allows, as any created file.
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno == EACCES || errno == EPERM) && exists)
            return RewriteInPlace(target, content);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    if (exists) {
        // The owner change succeeds only for root; then a file edited by root keeps its owner.
        const bool kept = ::fchmod(fd, existing.st_mode & 07777) == 0 &&
                          ::fchown(fd, existing.st_uid, existing.st_gid) == 0;
        (void)kept;
    }
    const bool written = WriteAll(fd, content) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

std::string EncodeValue(const std::string& value) {
    if (value.empty())
        return value;
    const bool blankEdge = IsBlank(value.front()) || IsBlank(value.back());
    const bool quotedLook = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                            value.back() == value.front();
    // Quote only where the reader would otherwise change the value.
    if (blankEdge || quotedLook)
        return '"' + value + '"';
    return value;
}

void CheckStorable(const std::string& section, const std::string& key, const std::string& value) {
    const auto hasBreak = [](const std::string& s) {
        return s.find_first_of("\r\n") != std::string::npos;
    };
    if (hasBreak(section) || hasBreak(key) || hasBreak(value))
        throw std::invalid_argument("INI names and values must not contain line breaks");
    if (Trim(key).empty() || key.find('=') != std::string::npos)
        throw std::invalid_argument("INI key must be non-empty and must not contain '='");
    if (section.find(']') != std::string::npos)
        throw std::invalid_argument("INI section name must not contain ']'");
}

std::mutex& WriteMutex() {
    static std::mutex m;
    return m;
}

} // namespace

PrivateProfile::PrivateProfile(std::string path) : path_(std::move(path)) {}

std::string PrivateProfile::ReadString(const std::string& section, const std::string& key,
                                       const std::string& defaultValue) const {
    const std::vector<Line> lines = SplitLines(ReadWholeFile(path_));
    const Location loc = Locate(lines, section, &key);
    if (loc.keyLine == std::string::npos)
        return defaultValue;
    return CleanValue(Classify(lines[loc.keyLine], loc.keyLine == 0).rawValue);
}

std::int32_t PrivateProfile::ReadInteger(const std::string& section, const std::string& key,
                                         std::int32_t defaultValue) const {
    const std::vector<Line> lines = SplitLines(ReadWholeFile(path_));
    const Location loc = Locate(lines, section, &key);
    if (loc.keyLine == std::string::npos)
        return defaultValue;
    return ParseInteger(CleanValue(Classify(lines[loc.keyLine], loc.keyLine == 0).rawValue))
        .value_or(defaultValue);
}

bool PrivateProfile::ReadBool(const std::string& section, const std::string& key,
                              bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

std::vector<std::pair<std::string, std::string>>
PrivateProfile::ReadSection(const std::string& section) const {
    std::vector<std::pair<std::string, std::string>> result;
    for (auto& entry : ReadSectionLines(section)) {
        bool seen = false;
        for (const auto& kept : result)
            seen = seen || SameName(kept.first, entry.first);
        if (!seen)
            result.push_back(std::move(entry));
    }
    return result;
}

std::vector<std::pair<std::string, std::string>>
PrivateProfile::ReadSectionLines(const std::string& section) const {
    const std::vector<Line> lines = SplitLines(ReadWholeFile(path_));
    const Location loc = Locate(lines, section, nullptr);
    std::vector<std::pair<std::string, std::string>> result;
    if (loc.sectionLine == std::string::npos)
        return result;
    for (std::size_t i = loc.sectionLine + 1; i < loc.sectionEnd; ++i) {
        const ParsedLine parsed = Classify(lines[i], false);
        if (parsed.kind == LineKind::Key)
            result.emplace_back(parsed.name, CleanValue(parsed.rawValue));
    }
    return result;
}

std::vector<std::string> PrivateProfile::SectionNames() const {
    const std::vector<Line> lines = SplitLines(ReadWholeFile(path_));
    std::vector<std::string> names;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ParsedLine parsed = Classify(lines[i], i == 0);
        if (parsed.kind == LineKind::Section)
            names.push_back(std::move(parsed.name));
    }
    return names;
}

void PrivateProfile::WriteString(const std::string& section, const std::string& key,
                                 const std::string& value) {
    CheckStorable(section, key, value);
    std::lock_guard<std::mutex> lock(WriteMutex());

    std::string content;
    if (!ReadForUpdate(path_, content))
        throw EIniWriteError(path_);
    std::vector<Line> lines = SplitLines(content);

    std::string eol = "\n";
    for (const Line& line : lines) {
        if (!line.eol.empty()) {
            eol = line.eol;
            break;
        }
    }
    const auto insertAfter = [&](std::size_t index, std::string text) {
        if (lines[index].eol.empty())
            lines[index].eol = eol;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(index) + 1,
                     Line{std::move(text), eol});
    };

    const Location loc = Locate(lines, section, &key);
    const std::string encoded = EncodeValue(value);
    if (loc.keyLine != std::string::npos) {
        const std::string fileKey = Classify(lines[loc.keyLine], false).name;
        lines[loc.keyLine].text = fileKey + "=" + encoded;
    } else if (loc.sectionLine != std::string::npos) {
        const std::size_t after =
            loc.lastKeyLine != std::string::npos ? loc.lastKeyLine : loc.sectionLine;
        insertAfter(after, key + "=" + encoded);
    } else {
        if (!lines.empty()) {
            if (lines.back().eol.empty())
                lines.back().eol = eol;
            // A blank line keeps the new section apart from the last one.
            if (!Trim(lines.back().text).empty())
                lines.push_back(Line{"", eol});
        }
        lines.push_back(Line{"[" + section + "]", eol});
        lines.push_back(Line{key + "=" + encoded, eol});
    }

    std::string out;
    out.reserve(content.size() + key.size() + value.size() + section.size() + 8);
    for (const Line& line : lines) {
        out += line.text;
        out += line.eol;
    }
    if (!ReplaceFile(path_, out))
        throw EIniWriteError(path_);
}

void PrivateProfile::DeleteKey(const std::string& section, const std::string& key) {
    CheckStorable(section, key, "");
    std::lock_guard<std::mutex> lock(WriteMutex());

    std::string content;
    if (!ReadForUpdate(path_, content))
        throw EIniWriteError(path_);
    std::vector<Line> lines = SplitLines(content);
    const Location loc = Locate(lines, section, nullptr);
    if (loc.sectionLine == std::string::npos)
        return;
    // Every line of the key goes: a second one would otherwise become the one read.
    bool removed = false;
    for (std::size_t i = loc.sectionEnd; i-- > loc.sectionLine + 1;) {
        const ParsedLine parsed = Classify(lines[i], false);
        if (parsed.kind == LineKind::Key && SameName(parsed.name, key)) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            removed = true;
        }
    }
    if (!removed)
        return;
    std::string out;
    out.reserve(content.size());
    for (const Line& line : lines) {
        out += line.text;
        out += line.eol;
    }
    if (!ReplaceFile(path_, out))
        throw EIniWriteError(path_);
}

void PrivateProfile::WriteInteger(const std::string& section, const std::string& key,
                                  std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void PrivateProfile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

std::optional<std::int32_t> PrivateProfile::ParseInteger(const std::string& text) {
    const std::string s = Trim(text);
    std::size_t pos = 0;
    bool hex = false;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        hex = true;
        pos = 2;
    } else if (s.size() > 1 && s[0] == '$') {
        hex = true;
        pos = 1;
    }
    if (hex) {
        std::uint64_t value = 0;
        for (; pos < s.size(); ++pos) {
            const char c = s[pos];
            int digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                return std::nullopt;
            value = value * 16 + static_cast<std::uint64_t>(digit);
            if (value > 0xFFFFFFFFull)
                return std::nullopt;
        }
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    }
    bool negative = false;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
        negative = s[pos] == '-';
        ++pos;
    }
    if (pos >= s.size())
        return std::nullopt;
    std::int64_t value = 0;
    for (; pos < s.size(); ++pos) {
        const char c = s[pos];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 2147483648LL)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > 2147483647LL)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

} // namespace pellwick
