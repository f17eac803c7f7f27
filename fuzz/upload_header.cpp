// The upload header and the date text in it: whatever short-date and long-time formats the
// locale has, the date text is one word, and the header splits at its blanks into exactly the
// line feed marker, address, size, checksum and version, ended by its only CR.
#include "Oracle.h"

#include "upload/DateText.h"
#include "upload/UploadHeader.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

using pellwick::DateFormats;
using pellwick::DateText;
using pellwick::UploadHeader;
using pellwick::fuzz::Expect;
using pellwick::fuzz::Readable;

namespace {

// A format as a locale could have it: conversions, literal text, blanks, in any order.
std::string Format(FuzzedDataProvider& input) {
    static const std::vector<std::string> pieces = {
        "%m", "%d", "%y", "%Y", "%e",           "%b",           "%B",  "%a", "%A", "%H",
        "%I", "%M", "%S", "%p", "%r",           "%T",           "%D",  "%x", "%X", "%c",
        "%Z", "%z", "%n", "%t", "%Ey",          "%EC",          "%Od", "%%", "/",  ".",
        "-",  ":",  " ",  " ",  "\xEB\x85\x84", "\xE5\xB9\xB4", "h",   "%P", "%k", "%l",
    };
    std::string format;
    const auto count = input.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < count; ++i) {
        format += pieces[input.ConsumeIntegralInRange<std::size_t>(0, pieces.size() - 1)];
    }
    return format;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields(1);
    for (const char c : line) {
        if (c == ' ') {
            fields.emplace_back();
        } else {
            fields.back().push_back(c);
        }
    }
    return fields;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    DateFormats formats;
    formats.Date = Format(input);
    formats.Time = Format(input);
    std::tm local{};
    local.tm_year = input.ConsumeIntegralInRange(0, 200);
    local.tm_mon = input.ConsumeIntegralInRange(0, 11);
    local.tm_mday = input.ConsumeIntegralInRange(1, 31);
    local.tm_hour = input.ConsumeBool() ? 0 : input.ConsumeIntegralInRange(0, 23);
    local.tm_min = input.ConsumeBool() ? 0 : input.ConsumeIntegralInRange(0, 59);
    local.tm_sec = input.ConsumeBool() ? 0 : input.ConsumeIntegralInRange(0, 60);
    local.tm_wday = input.ConsumeIntegralInRange(0, 6);
    local.tm_yday = input.ConsumeIntegralInRange(0, 365);

    const std::string date = DateText::Format(local, formats);
    const std::string where =
        " (date format " + Readable(formats.Date) + ", time format " + Readable(formats.Time) + ")";
    Expect(!date.empty(), "empty date text" + where);
    for (const char c : date) {
        Expect(static_cast<unsigned char>(c) > 32,
               "date text " + Readable(date) + " holds a blank or control code" + where);
    }

    std::string address = input.ConsumeRandomLengthString(16);
    std::erase_if(address, [](char c) { return static_cast<unsigned char>(c) <= 32; });
    if (address.empty()) {
        address = "0";
    }
    const auto fileSize = input.ConsumeIntegral<std::uint64_t>();
    const auto checksum = input.ConsumeIntegral<std::uint16_t>();
    const std::string header = UploadHeader::Build(address, fileSize, checksum, date);
    Expect(header.back() == '\r' && header.find_first_of("\r\n") == header.size() - 1,
           "header line ends wrongly: " + Readable(header));
    const auto fields = Fields(header.substr(0, header.size() - 1));
    Expect(fields.size() == 5 && fields[0] == "LF" && fields[1] == address &&
               fields[2] == std::to_string(fileSize) &&
               fields[3] == UploadHeader::ChecksumHex(checksum) && fields[4] == date,
           "header fields wrong: " + Readable(header));
    const auto& hex = fields[3];
    Expect(hex.size() == 4 && hex.find_first_not_of("0123456789ABCDEF") == std::string::npos &&
               std::stoul(hex, nullptr, 16) == checksum,
           "checksum field wrong: " + Readable(hex));
    return 0;
}
