// ISO texts as the one parser takes or refuses them, and the day numbers they make.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "core/dates.h"

namespace kordb {
namespace {

using namespace std::chrono;

constexpr int64_t kNoDay = INT64_MIN;  // a time alone, or refused

TEST(Dates, IsoTextsTheirDaysAndSerials) {
    const struct {
        const char* text;
        bool ok;
        int64_t day = kNoDay;  // calendar day of the date
        unsigned h = 0, m = 0, s = 0;
        uint32_t nanos = 0;
        int digits = 0;
        bool plain = true;
    } cases[] = {
        {"2024-01-31", true, 45322},
        {"1899-12-30", true, 0},
        {"1900-03-01", true, 61},
        {"1904-01-01", true, 1462},
        {"0001-01-01", true, -693593},
        {"9999-12-31", true, 2958465},
        {"2024-02-31", true, 45353},  // on into March, as the readers always took it
        {"2024-01-31T13:45:00", true, 45322, 13, 45},
        {"2024-01-31 13:45:06.5", true, 45322, 13, 45, 6, 500000000, 1},
        {"2024-01-31T00:00:00.123456789", true, 45322, 0, 0, 0, 123456789, 9},
        {"2024-01-31T00:00:00,25", true, 45322, 0, 0, 0, 250000000, 2},
        {"2024-01-31T23:59:59.1234567891", true, 45322, 23, 59, 59, 123456789, 10, false},
        {"2024-01-31T13:45", true, 45322, 13, 45},
        {"2024-01-31T13:45:00Z", true, 45322, 13, 45, 0, 0, 0, false},
        {"2024-01-31T13:45:00+02:00", true, 45322, 13, 45, 0, 0, 0, false},
        {"2024-01-31-0530", true, 45322, 0, 0, 0, 0, 0, false},
        {"+100000-01-01", true, 35830291, 0, 0, 0, 0, 0, false},
        {"-0400-01-01", true, -840056, 0, 0, 0, 0, 0, false},
        {"13:45:06", true, kNoDay, 13, 45, 6},
        {"00:00:00.001", true, kNoDay, 0, 0, 0, 1000000, 3},
        {"23:59", true, kNoDay, 23, 59},
        {"", false},
        {"2024", false},
        {"2024-1-31", false},
        {"2024/01/31", false},
        {"24-01-31", false},
        {"2024-13-01", false},
        {"2024-00-10", false},
        {"2024-01-00", false},
        {"2024-01-32", false},
        {"2024-01-31T", false},
        {"2024-01-31T9:00:00", false},
        {"2024-01-31T24:00:00", false},
        {"2024-01-31T12:60:00", false},
        {"2024-01-31T12:00:60", false},
        {"2024-01-31T12:00:00.", false},
        {"2024-01-31T12:00:00+02:", false},
        {"2024-01-31 x", false},
        {" 2024-01-31", false},
        {"12:00:00Z", false},
        {"1234567-01-01", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("'") + c.text + "'");
        IsoStamp t;
        ASSERT_EQ(parseIsoStamp(c.text, t), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(t.hasDate, c.day != kNoDay);
        if (t.hasDate) {
            EXPECT_EQ(calendarDay(t.year, t.month, t.day), c.day);
        }
        std::string text = c.text;
        EXPECT_EQ(t.hasTime, !t.hasDate || text.find_first_of("T ") == 10);
        EXPECT_EQ(t.hour, c.h);
        EXPECT_EQ(t.minute, c.m);
        EXPECT_EQ(t.second, c.s);
        EXPECT_EQ(t.nanos, c.nanos);
        EXPECT_EQ(t.fractionDigits, c.digits);
        EXPECT_EQ(t.plain(), c.plain);
        EXPECT_EQ(t.dayFraction(), (c.h * 3600.0 + c.m * 60.0 + c.s + c.nanos / 1e9) / 86400.0);
    }

    const struct {
        int64_t serial;
        bool date1904;
        year_month_day date;
    } serials[] = {
        {0, false, 1899y / December / 31},       {1, false, 1900y / January / 1},
        {59, false, 1900y / February / 28},      {60, false, 1900y / February / 28},
        {61, false, 1900y / March / 1},          {45322, false, 2024y / January / 31},
        {2958465, false, 9999y / December / 31}, {0, true, 1904y / January / 1},
        {43860, true, 2024y / January / 31},     {-1, true, 1903y / December / 31},
    };
    for (const auto& s : serials)
        EXPECT_EQ(dateOfCalendarDay(calendarDayOfSerial(s.serial, s.date1904)), s.date)
            << "serial " << s.serial << (s.date1904 ? " (1904)" : " (1900)");
}

}  // namespace
}  // namespace kordb
