// loader.ini: any bytes read without harm, and writing one key changes that key only: every
// other key of every section keeps its value, no key appears or disappears, and the written key
// reads back as written. A write that is refused leaves the file byte for byte as it was.
#include "Oracle.h"

#include "ini/PrivateProfile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using pellwick::PrivateProfile;
using pellwick::fuzz::Expect;
using pellwick::fuzz::Readable;

namespace {

// One file, rewritten for every input.
const std::string& FilePath() {
    static const pellwick::fuzz::ScratchFolder folder("ini");
    static const std::string path = (folder.Path() / "loader.ini").string();
    return path;
}

void WriteFile(const std::string& content) {
    std::ofstream out(FilePath(), std::ios::binary | std::ios::trunc);
    out << content;
    Expect(static_cast<bool>(out.flush()), "cannot write the INI file");
}

std::string ReadFile() {
    std::ifstream in(FilePath(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Folded(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// Every text that could be a section name: what follows each '[' up to ']' or a line end.
std::vector<std::string> SectionCandidates(const std::string& content) {
    std::vector<std::string> names;
    for (auto open = content.find('['); open != std::string::npos && names.size() < 24;
         open = content.find('[', open + 1)) {
        const auto close = content.find_first_of("]\r\n", open + 1);
        names.push_back(Trim(content.substr(
            open + 1, close == std::string::npos ? std::string::npos : close - open - 1)));
    }
    return names;
}

// Section (folded) -> key (folded) -> value, as ReadSection gives them.
using Snapshot = std::map<std::string, std::map<std::string, std::string>>;

Snapshot Read(const PrivateProfile& ini, const std::vector<std::string>& sections) {
    Snapshot snapshot;
    for (const auto& section : sections) {
        auto& keys = snapshot[Folded(section)];
        for (const auto& [key, value] : ini.ReadSection(section)) {
            Expect(value.size() <= PrivateProfile::MaxValueLength, "value longer than the limit");
            Expect(ini.ReadString(section, key, "\x01") == value,
                   "ReadString and ReadSection disagree on " + Readable(section + "/" + key));
            keys.emplace(Folded(key), value);
        }
        ini.ReadInteger(section, "x", 0);
    }
    return snapshot;
}

std::string Value(FuzzedDataProvider& input) {
    static const std::vector<std::string> values = {
        "1", "", "a b", "x=y;z", "'", "\"q", "[s]", "v\\", std::string(2042, 'w'),
    };
    std::string value = values[input.ConsumeIntegralInRange<std::size_t>(0, values.size() - 1)];
    return value +
           (input.ConsumeBool() ? "" : std::to_string(input.ConsumeIntegral<std::uint16_t>()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    // The choices come from the end of the input, the file is everything before them.
    const auto sectionPick = input.ConsumeIntegral<std::uint8_t>();
    const auto keyPick = input.ConsumeIntegral<std::uint8_t>();
    const std::string value = Value(input);
    const std::string content = input.ConsumeRemainingBytesAsString();
    WriteFile(content);

    PrivateProfile ini(FilePath());
    std::vector<std::string> sections = SectionCandidates(content);
    std::string section = sectionPick < sections.size() ? sections[sectionPick] : "Fuzz";
    sections.push_back(section);
    const Snapshot before = Read(ini, sections);
    const auto existing = ini.ReadSection(section);
    const std::string key = keyPick < existing.size() ? existing[keyPick].first : "NewKey";

    try {
        ini.WriteString(section, key, value);
    } catch (const std::invalid_argument&) {
        Expect(ReadFile() == content, "a refused write changed the file");
        return 0;
    }
    Expect(ini.ReadString(section, key, "\x01") == value,
           "written key " + Readable(section + "/" + key) + " reads " +
               Readable(ini.ReadString(section, key, "\x01")));
    const Snapshot after = Read(ini, sections);
    for (const auto& [name, keys] : after) {
        const auto old = before.find(name);
        for (const auto& [k, v] : keys) {
            if (name == Folded(section) && k == Folded(key)) {
                continue;
            }
            const bool existed = old != before.end() && old->second.count(k) != 0;
            Expect(existed, "writing " + Readable(section + "/" + key) + " added key " +
                                Readable(name + "/" + k));
            Expect(old->second.at(k) == v, "writing " + Readable(section + "/" + key) +
                                               " changed " + Readable(name + "/" + k) + " from " +
                                               Readable(old->second.at(k)) + " to " + Readable(v));
        }
    }
    for (const auto& [name, keys] : before) {
        for (const auto& [k, v] : keys) {
            Expect(after.at(name).count(k) != 0, "writing " + Readable(section + "/" + key) +
                                                     " lost key " + Readable(name + "/" + k));
        }
    }
    return 0;
}
