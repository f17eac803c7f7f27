#include "e2e/UploadFiles.h"
#include "support/LocalTime.h"

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace pellwick::e2e {

bool WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool WriteText(const std::string& path, const std::string& text) {
    return WriteFile(path, Bytes(text.begin(), text.end()));
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
    const Bytes bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

Bytes AllByteValues(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        // 167 is odd, so each run of 256 bytes holds every value once; the high part shifts
        // the runs against each other.
        bytes[i] = static_cast<std::uint8_t>(i * 167 + (i >> 8));
    }
    return bytes;
}

bool SetLocalModificationTime(const std::string& path, int year, int month, int day, int hour,
                              int minute, int second) {
    std::tm local = test::LocalCalendarTime(year, month, day, hour, minute, second);
    const std::time_t when = std::mktime(&local);
    if (when == static_cast<std::time_t>(-1)) {
        return false;
    }
    const timespec times[2] = {{when, 0}, {when, 0}};
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

std::string Checksum16(const Bytes& bytes) {
    unsigned sum = 0;
    for (std::uint8_t b : bytes) {
        sum = (sum + b) & 0xFFFFu;
    }
    char text[8];
    std::snprintf(text, sizeof text, "%04X", sum);
    return text;
}

} // namespace pellwick::e2e
