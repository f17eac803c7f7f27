// The date text of an upload: a file's modification time written with the user's short date and
// long time formats and squeezed into one blank-free word, so it fits the header's
// blank-separated fields.
#pragma once

#include <ctime>
#include <string>

namespace pellwick {

// strftime formats. The program takes them from the C library's locale (after
// setlocale(LC_ALL, "")); tests set their own.
struct DateFormats {
    std::string Date = "%m/%d/%y";
    std::string Time = "%H:%M:%S";

    // nl_langinfo(D_FMT) and nl_langinfo(T_FMT) of the current locale.
    static DateFormats FromLocale();
};

class DateText {
public:
    // Date, blank, time (the time left out at exactly 00:00:00); then the first blank becomes
    // "_" and the next blank is removed; a text without any blank gets "_" in front. Blanks and
    // control codes left after that are removed, so the text is always one word.
    static std::string Format(const std::tm& local, const DateFormats& formats);

    // Format of the file's modification time in local time; `fallback` when the time cannot
    // be read.
    static std::string ForFile(const std::string& path, const DateFormats& formats,
                               const std::string& fallback);

    // Date, blank and time as the formats write them, for the log's date line.
    static std::string Stamp(const std::tm& local, const DateFormats& formats);

    // strftime into a string of any length.
    static std::string FormatTime(const std::string& format, const std::tm& local);
};

} // namespace pellwick
