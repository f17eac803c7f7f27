// Key-by-key access to one INI file with private-profile rules.
//
// Reading: section and key names compare without case; the first section of a name and the
// first key of a name in it count. A value is trimmed of blanks and tabs, loses one pair of
// matching surrounding double or single quotes and is cut to MaxValueLength characters. Lines
// whose first non-blank character is ';' are comments. A missing or unreadable file reads as
// empty, so every read gives its default.
//
// Lines end with CR LF, LF or a lone CR.
//
// Writing one key rewrites only that key's line (or inserts the key after the last key of its
// section, or appends the section at the end of the file); every other byte of the file stays
// as it was, line ends included. Inserted lines take the file's line end (CR LF if its first
// line ends so, CR if it ends so, else LF; a new file gets LF). The new content goes to a
// temporary file in the same folder, which then replaces the file, so a reader never sees half a
// file; where the folder may not be written but the file may, the file is rewritten in place.
// Any other failure throws EIniWriteError and leaves the file as it was.
//
// Every call reads the file anew, so changes made by others are seen at once. An object holds
// only its path; one object may be used from several threads, and writes within the process
// are serialised so that concurrent writes of different keys do not lose each other.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pellwick {

class PrivateProfile {
public:
    static constexpr std::size_t MaxValueLength = 2047;

    explicit PrivateProfile(std::string path);

    const std::string& Path() const noexcept { return path_; }

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    // Decimal with an optional sign, or hexadecimal with a "0x" or "$" prefix (up to 32 bits,
    // taken as a two's complement pattern). Anything else, and a missing key, give the default.
    std::int32_t ReadInteger(const std::string& section, const std::string& key,
                             std::int32_t defaultValue) const;
    // An integer, non-zero meaning true.
    bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;
    // All keys of the first section of that name, in file order, each with its value as
    // ReadString gives it; a key that occurs twice is listed once (its first occurrence).
    std::vector<std::pair<std::string, std::string>> ReadSection(const std::string& section) const;
    // The same with every key line, a key that occurs twice listed twice: for files in which a
    // repeated key is a mistake to be reported rather than passed over.
    std::vector<std::pair<std::string, std::string>>
    ReadSectionLines(const std::string& section) const;
    // The names of the file's sections in file order, each as often as it is there.
    std::vector<std::string> SectionNames() const;

    // Throws EIniWriteError when the file cannot be written, and std::invalid_argument for
    // names or values that cannot be stored on one line (line breaks, a key with '=' or an
    // empty key, a section name with ']').
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, std::int32_t value);
    void WriteBool(const std::string& section, const std::string& key, bool value);
    // Removes every line of the key from the first section of that name; the section itself
    // stays. Nothing is written when the key is not there. Throws as WriteString does.
    void DeleteKey(const std::string& section, const std::string& key);

    // The integer syntax of ReadInteger, for texts that do not come from a key.
    static std::optional<std::int32_t> ParseInteger(const std::string& text);

private:
    std::string path_;
};

} // namespace pellwick
