// A calendar time of the local zone for tests that stamp or compare file times.
#pragma once

#include <ctime>

namespace pellwick::test {

// The given local date and time as mktime takes it; whether daylight saving time is in force is
// left to the zone's rules for that date.
inline std::tm LocalCalendarTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return t;
}

} // namespace pellwick::test
