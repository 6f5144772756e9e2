#include "lib_base/datetime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "lib_base/misc.h"

namespace {

struct tDate {
    i32 year;
    i32 month;
    i32 day;
};

TEST(DayNumber, EncodesAndDecodesKnownDates) {
    const struct {
        tDate date;
        f64 number;
    } cases[] = {
        {{1899, 12, 31}, 1},       {{1900, 1, 1}, 2},         {{1900, 3, 1}, 61},
        {{2000, 1, 1}, 36526},     {{2000, 2, 29}, 36585},    {{2000, 3, 1}, 36586},
        {{2000, 12, 31}, 36891},   {{1600, 12, 31}, -109206}, {{2400, 2, 29}, 182682},
        {{1970, 1, 1}, 25569},     {{2024, 3, 5}, 45356},     {{100, 1, 1}, -657434},
        {{9999, 12, 31}, 2958465},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.date.year) + "-" + std::to_string(c.date.month) + "-" +
                     std::to_string(c.date.day));
        EXPECT_EQ(EncodeDate(c.date.year, c.date.month, c.date.day), c.number);
        tDate back{-1, -1, -1};
        DecodeDate(c.number, back.year, back.month, back.day);
        EXPECT_EQ(back.year, c.date.year);
        EXPECT_EQ(back.month, c.date.month);
        EXPECT_EQ(back.day, c.date.day);
    }
}

TEST(DayNumber, ValidityOfDates) {
    const struct {
        const char* what;
        tDate date;
        i32 baseYear;
        bool valid;
        f64 result;  // 7 where the result must stay as it was
    } cases[] = {
        {"no date", {0, 0, 0}, 1940, true, 0},
        {"1899-12-30 is day 0", {1899, 12, 30}, 1940, true, 0},
        {"month 0", {2001, 0, 5}, 1940, false, 0},
        {"day 0", {2001, 5, 0}, 1940, false, 0},
        {"negative month", {2001, -1, 5}, 1940, false, 0},
        {"negative day", {2001, 5, -3}, 1940, false, 0},
        {"month 13", {2000, 13, 1}, 1940, false, 7},
        {"1900-02-29", {1900, 2, 29}, 1940, false, 7},
        {"2001-02-29", {2001, 2, 29}, 1940, false, 7},
        {"2000-04-31", {2000, 4, 31}, 1940, false, 7},
        {"year 10000", {10000, 1, 1}, 1940, false, 7},
        {"negative year", {-5, 1, 1}, 1940, false, 7},
        {"39 with base 1940", {39, 1, 1}, 1940, true, 50771},    // 2039
        {"40 with base 1940", {40, 1, 1}, 1940, true, 14611},    // 1940
        {"99 with base 1940", {99, 12, 31}, 1940, true, 36525},  // 1999
        {"0 with base 1940", {0, 1, 1}, 1940, true, 36526},      // 2000
        {"base below 1900", {40, 1, 1}, 1800, true, 14611},      // counts as 1900: 1940
        {"5 with base 1800", {5, 1, 1}, 1800, true, 1828},       // 1905
        {"45 with base 1950", {45, 1, 1}, 1950, true, 52963},    // 2045
        {"full years stay", {1940, 1, 1}, 1990, true, 14611},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        f64 result = 7;
        EXPECT_EQ(TryEncodeDate(c.date.year, c.date.month, c.date.day, result, c.baseYear),
                  c.valid);
        EXPECT_EQ(result, c.result);
        if (!c.valid) {
            EXPECT_EQ(EncodeDate(c.date.year, c.date.month, c.date.day), 0);
        }
    }
    EXPECT_EQ(EncodeDate(39, 6, 1, 0), EncodeDate(2039, 6, 1));  // base 0 means 1940
}

TEST(DayNumber, NoDateAndNumbersOutsideTheCalendarDecodeAsZeros) {
    const f64 numbers[] = {0, -693594, 2958466, 1e300, -1e300, NAN, INFINITY};
    for (f64 n : numbers) {
        SCOPED_TRACE(n);
        tDate d{-1, -1, -1};
        DecodeDate(n, d.year, d.month, d.day);
        EXPECT_EQ(d.year, 0);
        EXPECT_EQ(d.month, 0);
        EXPECT_EQ(d.day, 0);
    }
    tDate d{};
    DecodeDate(-693593, d.year, d.month, d.day);  // the first day decodes, though years below
    EXPECT_EQ(d.year, 1);                         // 100 encode as two-digit years
    EXPECT_EQ(d.month, 1);
    EXPECT_EQ(d.day, 1);
    DecodeDate(0.5, d.year, d.month, d.day);  // only exactly 0 is no date
    EXPECT_EQ(d.year, 1899);
    EXPECT_EQ(d.day, 30);
    DecodeDate(-0.5, d.year, d.month, d.day);  // the whole part rounds down
    EXPECT_EQ(d.day, 29);
}

// The calendar's successor of a date, by the Gregorian rules written out here.
tDate NextDay(tDate d) {
    const bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
    const i32 lengths[12] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (++d.day > lengths[d.month - 1]) {
        d.day = 1;
        if (++d.month > 12) {
            d.month = 1;
            ++d.year;
        }
    }
    return d;
}

TEST(DayNumber, EveryDayOfTheCalendarFollowsTheDayBefore) {
    tDate want{100, 1, 1};  // years below 100 encode as two-digit years
    for (i32 n = -657434; n <= 2958465; ++n, want = NextDay(want)) {
        if (n == 0) continue;  // 1899-12-30 is also "no date"
        tDate d{};
        DecodeDate(n, d.year, d.month, d.day);
        if (d.year != want.year || d.month != want.month || d.day != want.day ||
            EncodeDate(want.year, want.month, want.day) != n) {
            FAIL() << n << " decodes to " << d.year << "-" << d.month << "-" << d.day
                   << ", expected " << want.year << "-" << want.month << "-" << want.day;
        }
    }
    EXPECT_EQ(want.year, 10000);
}

TEST(DayNumber, DateTimesRoundTrip) {
    EXPECT_EQ(EncodeDateTime(2000, 1, 1, 12, 0, 0, 0, 1940), 36526.5);
    EXPECT_EQ(EncodeDateTime(2000, 13, 1, 6, 0, 0, 0, 1940), 0.25);  // invalid date: time only
    const struct {
        tDate date;
        i32 hour, minute, second, ms;
    } cases[] = {
        {{2000, 1, 1}, 12, 0, 0, 0},    {{2024, 2, 29}, 23, 59, 59, 999},
        {{1950, 6, 15}, 0, 0, 0, 1},    {{1899, 12, 31}, 7, 8, 9, 10},
        {{1800, 3, 1}, 18, 30, 0, 500},  // before day 0: the fraction still counts forward
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.date.year) + " " + std::to_string(c.hour) + ":" +
                     std::to_string(c.minute) + ":" + std::to_string(c.second) + "." +
                     std::to_string(c.ms));
        const f64 n = EncodeDateTime(c.date.year, c.date.month, c.date.day, c.hour, c.minute,
                                     c.second, c.ms, 1940);
        i32 y, mo, d, h, mi, s, ms;
        DecodeDateTime(n, y, mo, d, h, mi, s, ms);
        EXPECT_EQ(y, c.date.year);
        EXPECT_EQ(mo, c.date.month);
        EXPECT_EQ(d, c.date.day);
        EXPECT_EQ(h, c.hour);
        EXPECT_EQ(mi, c.minute);
        EXPECT_EQ(s, c.second);
        EXPECT_EQ(ms, c.ms);
    }
    i32 y, mo, d, h, mi, s, ms;
    DecodeDateTime(36526.99999999999, y, mo, d, h, mi, s, ms);  // rounds to a whole day
    EXPECT_EQ(d, 1);
    EXPECT_EQ(h, 24);
    EXPECT_EQ(mi, 0);
}

TEST(DayNumber, DecodeTimeCutsToTheMillisecond) {
    const struct {
        f64 number;
        i32 hour, minute, second, ms;
    } cases[] = {
        {36526.75, 18, 0, 0, 0},
        {0, 0, 0, 0, 0},
        {0.5, 12, 0, 0, 0},
        {36526.0 + 1.0 / 1024, 0, 1, 24, 375},  // fractions exact in binary
        {36526.0 + 743.0 / 1024, 17, 24, 50, 625},
        {36526.99999999999, 23, 59, 59, 999},  // cut, not rounded up to 24
        // Just below a whole day: the fraction rounds to 1 when computed, yet is less.
        {-1e-17, 23, 59, 59, 999},
        {-1.329011507601504e-307, 23, 59, 59, 999},
        {NAN, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        i32 h = -1, mi = -1, s = -1, ms = -1;
        DecodeTime(c.number, h, mi, s, ms);
        EXPECT_EQ(h, c.hour);
        EXPECT_EQ(mi, c.minute);
        EXPECT_EQ(s, c.second);
        EXPECT_EQ(ms, c.ms);
    }
}

TEST(ParseDateText, ReadsTheKnownLayouts) {
    const struct {
        const char* text;
        tDate date;
    } cases[] = {
        {"2024- 5- 3", {2024, 5, 3}}, {"2024/05/03", {2024, 5, 3}}, {"20240503", {2024, 5, 3}},
        {"2024 5 3", {2024, 5, 3}},   {"202405", {2024, 5, 0}},     {"", {0, 0, 0}},
        {"2024053", {2024, 5, 30}},  // padded with zeros to eight
        {"2024/5/3", {2024, 5, 3}},   {"2024/5", {2024, 5, 0}},     {"24/12/31", {24, 12, 31}},
        {"/5/", {0, 5, 0}},           {"abc", {0, 0, 0}},           {"2024050399", {2024, 50, 99}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        tDate d{-1, -1, -1};
        ParseDateText(c.text, d.year, d.month, d.day);
        EXPECT_EQ(d.year, c.date.year);
        EXPECT_EQ(d.month, c.date.month);
        EXPECT_EQ(d.day, c.date.day);
    }
}

// Sets TZ for one test and fixes the clock; both are restored afterwards.
class LocalClock : public ::testing::Test {
protected:
    static constexpr i64 kFixedTime = 1709692215;  // 2024-03-06 02:30:15 UTC

    void SetUp() override {
        const char* tz = std::getenv("TZ");
        hadTz = tz != nullptr;
        if (tz) savedTz = tz;
        UseZone("<-03>3");  // 23:30:15 on 2024-03-05, no daylight saving
        fixedTime = kFixedTime;
        SetClockSource([] { return fixedTime; });
    }
    void TearDown() override {
        SetClockSource(nullptr);
        if (hadTz) {
            setenv("TZ", savedTz.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    static void UseZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }

    static i64 fixedTime;

private:
    bool hadTz = false;
    std::string savedTz;
};

i64 LocalClock::fixedTime = 0;

TEST_F(LocalClock, TimeOfDayAndTodayMoveByTheHourOffset) {
    const struct {
        i32 offset;
        const char* time;
        f64 today;
    } cases[] = {
        {0, "23:30:15", 45356}, {1, "24:30:15", 45356},  // 24 keeps today
        {2, "01:30:15", 45357}, {-23, "00:30:15", 45356}, {-24, "23:30:15", 45355},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offset);
        char text[9];
        std::memset(text, 'x', sizeof text);
        FormatTimeOfDay(text, sizeof text, c.offset);
        EXPECT_STREQ(text, c.time);
        EXPECT_EQ(TodayNumber(c.offset), c.today);
    }
    char shortText[6] = "xxxxx";
    FormatTimeOfDay(shortText, 5, 0);
    EXPECT_STREQ(shortText, "23:3");
}

TEST_F(LocalClock, LocalTimeOfBreaksDownInTheProcessZone) {
    std::tm t;
    std::memset(&t, 0x55, sizeof t);
    EXPECT_EQ(&LocalTimeOf(CurrentTime(), t), &t);
    EXPECT_EQ(t.tm_year, 124);
    EXPECT_EQ(t.tm_mon, 2);
    EXPECT_EQ(t.tm_mday, 5);
    EXPECT_EQ(t.tm_hour, 23);
    EXPECT_EQ(t.tm_min, 30);
    EXPECT_EQ(t.tm_sec, 15);
    EXPECT_EQ(t.tm_wday, 2);  // Tuesday
    EXPECT_EQ(t.tm_yday, 64);
    EXPECT_EQ(t.tm_isdst, 0);

    std::memset(&t, 0x55, sizeof t);
    LocalTimeOf(-1, t);
    const std::tm zero{};
    EXPECT_EQ(std::memcmp(&t, &zero, sizeof t), 0);
}

TEST_F(LocalClock, MonthDayTimeTextsReadBack) {
    tString text;
    EXPECT_TRUE(FormatMonthDayTime(kFixedTime, text));
    EXPECT_STREQ(text.GetText(), "Mar 05 23:30");

    i64 time = 0;
    EXPECT_TRUE(ParseMonthDayYearTime("Mar 05 2024 23:30", time));
    EXPECT_EQ(time, kFixedTime - 15);  // no seconds in the text

    // A summer time reads back as written, daylight saving included.
    UseZone("CET-1CEST,M3.5.0,M10.5.0/3");
    const i64 summer = 1721044800;  // 2024-07-15 12:00 UTC, 14:00 CEST
    EXPECT_TRUE(FormatMonthDayTime(summer, text));
    EXPECT_STREQ(text.GetText(), "Jul 15 14:00");
    EXPECT_TRUE(ParseMonthDayYearTime("Jul 15 2024 14:00", time));
    EXPECT_EQ(time, summer);

    time = 42;
    const char* refused[] = {"MAR 05 2024 23:30", "mar 05 2024 23:30", "Ma", "", nullptr};
    for (const char* t : refused) {
        SCOPED_TRACE(t ? t : "(null)");
        EXPECT_FALSE(ParseMonthDayYearTime(t, time));
        EXPECT_EQ(time, 42);
    }
    EXPECT_TRUE(ParseMonthDayYearTime("Mar 05", time));  // fields past the end read as 0
}

TEST_F(LocalClock, HttpDatesAreUtcAndReadBack) {
    const struct {
        i64 time;
        const char* text;
    } cases[] = {
        {kFixedTime, "Wed, 06 Mar 2024 02:30:15 GMT"},
        {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
        {951782400, "Tue, 29 Feb 2000 00:00:00 GMT"},
        {253402300799, "Fri, 31 Dec 9999 23:59:59 GMT"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        tString text;
        EXPECT_TRUE(FormatHttpDate(c.time, text));
        EXPECT_STREQ(text.GetText(), c.text);
        i64 back = -1;
        EXPECT_TRUE(ParseHttpDate(text, back));
        EXPECT_EQ(back, c.time);
    }
    i64 time = -1;
    EXPECT_TRUE(ParseHttpDate("Wed, 06 Mar 24 02:30:15 GMT", time));  // two-digit year
    EXPECT_EQ(time, kFixedTime);

    tString text("old");
    EXPECT_FALSE(FormatHttpDate(-1, text));
    EXPECT_STREQ(text.GetText(), "");
    EXPECT_EQ(UtcTimeOf(-1), nullptr);
    time = 42;
    EXPECT_FALSE(ParseHttpDate("Wed, 06 MAR 2024 02:30:15 GMT", time));
    EXPECT_FALSE(ParseHttpDate("Wed, 06", time));
    EXPECT_FALSE(ParseHttpDate(nullptr, time));
    EXPECT_EQ(time, 42);
}

TEST_F(LocalClock, FileTimes) {
    constexpr i64 kTicks = 10000000;
    constexpr i64 kEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01
    // Local calendar fields stored as they are: 23:30:15 local is kept as 23:30:15.
    tFileTime fileTime = 0;
    EXPECT_TRUE(TimeTToFileTime(kFixedTime, fileTime));
    EXPECT_EQ(fileTime, static_cast<tFileTime>((kFixedTime - 3 * 3600 + kEpochSeconds) * kTicks));

    // A file time is UTC: its calendar time is the same instant, in summer and in winter.
    UseZone("CET-1CEST,M3.5.0,M10.5.0/3");
    const i64 times[] = {kFixedTime, 1721044800, 86400};
    for (i64 t : times) {
        SCOPED_TRACE(t);
        i64 back = -1;
        EXPECT_TRUE(FileTimeToTimeT(static_cast<tFileTime>((t + kEpochSeconds) * kTicks), back));
        EXPECT_EQ(back, t);
    }
    i64 untouched = 42;
    EXPECT_FALSE(FileTimeToTimeT(static_cast<tFileTime>(kEpochSeconds - 86400) * kTicks,
                                 untouched));  // before 1970
    EXPECT_EQ(untouched, 42);
    fileTime = 7;
    EXPECT_FALSE(TimeTToFileTime(-1, fileTime));
    EXPECT_FALSE(TimeTToFileTime(253402300800 + 86400, fileTime));  // beyond 9999
    EXPECT_EQ(fileTime, 7u);
}

// Day first, then month and four-digit year; the local zone decides the date as well.
TEST_F(LocalClock, DateTimeStampIsLocalDayMonthYear) {
    char text[20];
    FormatDateTimeStamp(kFixedTime, text, sizeof text);
    EXPECT_STREQ(text, "05/03/2024 23:30:15");
    UseZone("UTC0");
    FormatDateTimeStamp(kFixedTime, text, sizeof text);
    EXPECT_STREQ(text, "06/03/2024 02:30:15");
    char small[6];
    FormatDateTimeStamp(kFixedTime, small, sizeof small);
    EXPECT_STREQ(small, "06/03");
}

}  // namespace
