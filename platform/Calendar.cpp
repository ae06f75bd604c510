#include "platform/Calendar.h"

#include <sys/time.h>

#include <cstdio>
#include <ctime>

namespace tc::platform {

namespace {

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian calendar).
long long daysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * unsigned(m + (m > 2 ? -3 : 9)) + 2) / 5 + unsigned(d) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (long long)doe - 719468;
}

void civilFromDays(long long z, int& y, int& m, int& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(yoe + era * 400 + (m <= 2));
}

}  // namespace

std::string formatDate(const LocalDateTime& t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", t.year % 10000, t.month % 100, t.day % 100);
    return buf;
}

std::string formatTimeStamp(const LocalDateTime& t) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year % 10000,
                  t.month % 100, t.day % 100, t.hour % 100, t.minute % 100, t.second % 100,
                  t.millisecond % 1000);
    return buf;
}

LocalDateTime systemLocalTime() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    std::tm tm{};
    localtime_r(&tv.tv_sec, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1,         tm.tm_mday, tm.tm_hour, tm.tm_min,
            tm.tm_sec,         int(tv.tv_usec / 1000)};
}

LocalDateTime addMillis(const LocalDateTime& t, Millis d) {
    long long ms = (daysFromCivil(t.year, t.month, t.day) * 86400LL + t.hour * 3600LL +
                    t.minute * 60LL + t.second) *
                       1000LL +
                   t.millisecond + d.count();
    long long days = ms / 86400000LL;
    long long rest = ms % 86400000LL;
    if (rest < 0) {
        rest += 86400000LL;
        --days;
    }
    LocalDateTime r;
    civilFromDays(days, r.year, r.month, r.day);
    r.hour = int(rest / 3600000);
    r.minute = int(rest / 60000 % 60);
    r.second = int(rest / 1000 % 60);
    r.millisecond = int(rest % 1000);
    return r;
}

}  // namespace tc::platform
