#include "upload/DateText.h"

#include <langinfo.h>
#include <sys/stat.h>

#include <vector>

namespace pellwick {

DateFormats DateFormats::FromLocale() {
    DateFormats formats;
    formats.Date = nl_langinfo(D_FMT);
    formats.Time = nl_langinfo(T_FMT);
    return formats;
}

std::string DateText::FormatTime(const std::string& format, const std::tm& local) {
    if (format.empty()) {
        return {};
    }
    // strftime answers 0 both for "too small" and for an empty result, so the buffer grows a
    // few times before an empty result is believed.
    for (std::size_t size = 64; size <= 4096; size *= 4) {
        std::vector<char> buffer(size);
        const std::size_t written =
            std::strftime(buffer.data(), buffer.size(), format.c_str(), &local);
        if (written > 0) {
            return std::string(buffer.data(), written);
        }
    }
    return {};
}

std::string DateText::Stamp(const std::tm& local, const DateFormats& formats) {
    return FormatTime(formats.Date, local) + " " + FormatTime(formats.Time, local);
}

std::string DateText::Format(const std::tm& local, const DateFormats& formats) {
    std::string text = FormatTime(formats.Date, local);
    if (local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0) {
        text += " " + FormatTime(formats.Time, local);
    }
    const auto blank = text.find(' ');
    if (blank == std::string::npos) {
        text.insert(0, "_");
    } else {
        text[blank] = '_';
        const auto next = text.find(' ', blank + 1);
        if (next != std::string::npos) {
            text.erase(next, 1);
        }
    }
    // The text is one field of the blank-separated upload header, which a CR ends: formats
    // with more blanks (some locales, "%e", "%c") or with "%n" and "%t" must not split it.
    std::erase_if(text, [](char c) { return static_cast<unsigned char>(c) <= 32; });
    return text;
}

std::string DateText::ForFile(const std::string& path, const DateFormats& formats,
                              const std::string& fallback) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return fallback;
    }
    std::tm local{};
    const std::time_t modified = info.st_mtime;
    if (::localtime_r(&modified, &local) == nullptr) {
        return fallback;
    }
    return Format(local, formats);
}

} // namespace pellwick
