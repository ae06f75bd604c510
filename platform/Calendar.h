// Local calendar time as the program shows and stores it, and the small helpers over it.
#pragma once

#include <chrono>
#include <string>

namespace tc::platform {

using Millis = std::chrono::milliseconds;

struct LocalDateTime {
    int year = 2000;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

std::string formatDate(const LocalDateTime& t);       // yyyymmdd
std::string formatTimeStamp(const LocalDateTime& t);  // yyyy-mm-dd hh:mm:ss.mmm

// The local date and time from the system clock.
LocalDateTime systemLocalTime();

// `t` moved by `d` on the proleptic Gregorian calendar (no time zones: local time as is).
LocalDateTime addMillis(const LocalDateTime& t, Millis d);

}  // namespace tc::platform
