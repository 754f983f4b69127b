#include "core/dates.h"

namespace kordb {

namespace {

using namespace std::chrono;

// 1899-12-30, day 0 of the workbooks' calendars, as days since 1970-01-01.
constexpr int64_t kDay0 = sys_days(year(1899) / December / 30).time_since_epoch().count();
// The Gregorian calendar repeats every 400 years, which are this many days.
constexpr int64_t kEraDays = 146097;

bool digits(std::string_view s, size_t& at, size_t n, unsigned& out) {
    if (s.size() - at < n) return false;
    out = 0;
    for (size_t end = at + n; at < end; ++at) {
        if (s[at] < '0' || s[at] > '9') return false;
        out = out * 10 + unsigned(s[at] - '0');
    }
    return true;
}

bool at(std::string_view s, size_t i, char c) {
    return i < s.size() && s[i] == c;
}

// hh:mm[:ss[(.|,)f...]] from i on.
bool parseClock(std::string_view s, size_t& i, IsoStamp& t) {
    if (!digits(s, i, 2, t.hour) || !at(s, i++, ':') || !digits(s, i, 2, t.minute)) return false;
    if (at(s, i, ':')) {
        ++i;
        if (!digits(s, i, 2, t.second)) return false;
        if (at(s, i, '.') || at(s, i, ',')) {
            size_t start = ++i;
            uint32_t nanos = 0;
            for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
                if (i - start < 9) nanos = nanos * 10 + uint32_t(s[i] - '0');
            if (i == start) return false;
            for (size_t n = i - start; n < 9; ++n) nanos *= 10;
            t.nanos = nanos;
            t.fractionDigits = int(i - start);
        }
    }
    t.hasTime = true;
    return t.hour <= 23 && t.minute <= 59 && t.second <= 59;
}

}  // namespace

int64_t calendarDay(int64_t y, unsigned m, unsigned d) {
    // Shifted by whole 400-year eras into the years std::chrono holds, then back.
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    auto shifted = sys_days(year(int(y - era * 400)) / month(m) / day(1)) + days(d - 1);
    return shifted.time_since_epoch().count() + era * kEraDays - kDay0;
}

year_month_day dateOfCalendarDay(int64_t day) {
    return year_month_day(sys_days(days(day + kDay0)));
}

int64_t calendarDayOfSerial(int64_t serial, bool date1904) {
    if (date1904) return serial + calendarDay(1904, 1, 1);
    return serial < 60 ? serial + 1 : serial;
}

double IsoStamp::dayFraction() const {
    return (hour * 3600.0 + minute * 60.0 + second + nanos / 1e9) / 86400.0;
}

bool parseIsoStamp(std::string_view s, IsoStamp& t) {
    t = IsoStamp();
    size_t i = 0;
    if (at(s, 2, ':')) return parseClock(s, i, t) && i == s.size();
    bool negative = at(s, 0, '-');
    if (negative || at(s, 0, '+')) ++i, t.extendedYear = true;
    size_t y0 = i;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9' && i - y0 < 6; ++i)
        t.year = t.year * 10 + (s[i] - '0');
    if (i - y0 < 4) return false;
    t.extendedYear = t.extendedYear || i - y0 > 4;
    if (negative) t.year = -t.year;
    if (!at(s, i++, '-') || !digits(s, i, 2, t.month) || !at(s, i++, '-') ||
        !digits(s, i, 2, t.day))
        return false;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31) return false;
    t.hasDate = true;
    if (at(s, i, 'T') || at(s, i, ' ')) {
        ++i;
        if (!parseClock(s, i, t)) return false;
    }
    if (at(s, i, 'Z')) {
        ++i;
        t.zoned = true;
    } else if (at(s, i, '+') || at(s, i, '-')) {
        unsigned zh, zm;
        if (!digits(s, ++i, 2, zh)) return false;
        if (at(s, i, ':') ? !digits(s, ++i, 2, zm) : i < s.size() && !digits(s, i, 2, zm))
            return false;
        t.zoned = true;
    }
    return i == s.size();
}

}  // namespace kordb
