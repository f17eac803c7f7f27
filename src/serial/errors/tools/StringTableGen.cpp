// Build-time generator: turns readable string table sources (one "id<TAB>text" a line, UTF-8)
// into a C++ source that links the tables into the program in the STR0 layout:
//   "STR0", entry count, entries sorted by id (id, offset from table start, length in UTF-16
//   code units), then the texts as UTF-16LE without terminators; all integers u32 little-endian.
//
// Usage: pellwick_strtablegen <output.cpp> <RESOURCE_NAME>=<source.txt> ...
#include <cstdint>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::u16string Utf8ToUtf16(const std::string& text, const std::string& where) {
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        auto lead = static_cast<unsigned char>(text[i]);
        std::uint32_t cp = 0;
        int extra = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            cp = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            cp = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            cp = lead & 0x07;
            extra = 3;
        } else {
            throw std::runtime_error(where + ": invalid UTF-8");
        }
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= text.size()) {
                throw std::runtime_error(where + ": truncated UTF-8 sequence");
            }
            auto cont = static_cast<unsigned char>(text[i + k]);
            if ((cont & 0xC0) != 0x80) {
                throw std::runtime_error(where + ": invalid UTF-8");
            }
            cp = (cp << 6) | (cont & 0x3F);
        }
        i += 1 + extra;
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            throw std::runtime_error(where + ": invalid code point");
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::map<std::uint32_t, std::u16string> ReadSource(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::map<std::uint32_t, std::u16string> entries;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::string where = path + ":" + std::to_string(lineNo);
        const auto tab = line.find('\t');
        if (tab == std::string::npos || tab == 0) {
            throw std::runtime_error(where + ": expected <id><TAB><text>");
        }
        const std::string idText = line.substr(0, tab);
        if (idText.find_first_not_of("0123456789") != std::string::npos || idText.size() > 10) {
            throw std::runtime_error(where + ": bad id '" + idText + "'");
        }
        const unsigned long long id = std::stoull(idText);
        if (id > 0xFFFFFFFFull) {
            throw std::runtime_error(where + ": id out of range");
        }
        if (!entries
                 .emplace(static_cast<std::uint32_t>(id), Utf8ToUtf16(line.substr(tab + 1), where))
                 .second) {
            throw std::runtime_error(where + ": duplicate id " + idText);
        }
    }
    return entries;
}

void PutU32(std::vector<unsigned char>& out, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) {
        out.push_back(static_cast<unsigned char>(v >> (8 * k)));
    }
}

std::vector<unsigned char> BuildTable(const std::map<std::uint32_t, std::u16string>& entries) {
    std::vector<unsigned char> out{'S', 'T', 'R', '0'};
    PutU32(out, static_cast<std::uint32_t>(entries.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(8 + 12 * entries.size());
    for (const auto& [id, text] : entries) {
        PutU32(out, id);
        PutU32(out, offset);
        PutU32(out, static_cast<std::uint32_t>(text.size()));
        offset += static_cast<std::uint32_t>(2 * text.size());
    }
    for (const auto& entry : entries) {
        for (char16_t unit : entry.second) {
            out.push_back(static_cast<unsigned char>(unit & 0xFF));
            out.push_back(static_cast<unsigned char>(unit >> 8));
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: " << argv[0] << " <output.cpp> <NAME>=<source.txt> ...\n";
        return 2;
    }
    try {
        std::ostringstream code;
        code << "// Generated from the string table sources by StringTableGen; do not edit.\n"
                "#include \"serial/errors/TResourceRegistry.h\"\n\n"
                "namespace pellwick {\nnamespace {\n";
        std::vector<std::string> names;
        for (int a = 2; a < argc; ++a) {
            const std::string arg = argv[a];
            const auto eq = arg.find('=');
            if (eq == std::string::npos || eq == 0) {
                throw std::runtime_error("bad argument '" + arg + "'");
            }
            names.push_back(arg.substr(0, eq));
            const auto table = BuildTable(ReadSource(arg.substr(eq + 1)));
            code << "alignas(4) const unsigned char kTable" << (a - 2) << "[] = {";
            for (std::size_t i = 0; i < table.size(); ++i) {
                code << (i % 16 == 0 ? "\n    " : " ") << static_cast<unsigned>(table[i]) << ",";
            }
            code << "\n};\n";
        }
        code << "} // namespace\n\nconst TLinkedResource kLinkedStringTables[] = {\n";
        for (std::size_t i = 0; i < names.size(); ++i) {
            code << "    {\"" << names[i] << "\", kTable" << i << ", sizeof kTable" << i << "},\n";
        }
        code << "};\nconst std::size_t kLinkedStringTableCount = " << names.size()
             << ";\n\n} // namespace pellwick\n";

        std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
        out << code.str();
        if (!out) {
            throw std::runtime_error(std::string("cannot write ") + argv[1]);
        }
    } catch (const std::exception& e) {
        std::cerr << argv[0] << ": " << e.what() << "\n";
        return 1;
    }
    return 0;
}
