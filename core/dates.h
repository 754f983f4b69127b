#pragma once
// Dates as the workbooks count them and as ISO 8601 writes them: calendar arithmetic on
// std::chrono, and the one parser of ISO dates and times every layer uses.

#include <chrono>
#include <cstdint>
#include <string_view>

namespace kordb {

// Days since 1899-12-30 on the proleptic Gregorian calendar, any year: the day count of a
// date written as text. A day past its month's end counts on into the next month.
int64_t calendarDay(int64_t year, unsigned month, unsigned day);
// The date of a calendar day; within std::chrono's years (about ±32,767).
std::chrono::year_month_day dateOfCalendarDay(int64_t day);

// A workbook's serial day as a calendar day. The 1900 system counts a 29 February 1900 that
// never was, so its serials before 1 March are one day later than the count says; its serial
// 60, that day, is taken as 28 February. The 1904 system counts from 1904-01-01 as day 0.
int64_t calendarDayOfSerial(int64_t serial, bool date1904);

// A date, a date and time, or a time of day as ISO 8601 writes it.
struct IsoStamp {
    int64_t year = 0;
    unsigned month = 0, day = 0;  // 0 for a time alone
    unsigned hour = 0, minute = 0, second = 0;
    uint32_t nanos = 0;      // the fraction of a second, to the nanosecond
    int fractionDigits = 0;  // as many as written, more than 9 included
    bool hasDate = false, hasTime = false;
    bool extendedYear = false;  // a sign, or more than four digits
    bool zoned = false;         // a "Z" or an offset followed: dropped, not applied

    // What databases and this program write: four-digit years, no zone, nanoseconds at most.
    bool plain() const { return !extendedYear && !zoned && fractionDigits <= 9; }
    // The time of day as a fraction of a day.
    double dayFraction() const;
};

// Strict ISO 8601 in its extended form, nothing before or after:
//   [±]YYYY[YY]-MM-DD, optionally followed by "T" or a blank and a time;
//   hh:mm[:ss[(.|,)f...]] for a time, alone or after a date; after a date, "Z" or ±hh[[:]mm].
// Months 01-12, days 01-31, hours 00-23, minutes and seconds 00-59.
bool parseIsoStamp(std::string_view s, IsoStamp& out);

}  // namespace kordb
