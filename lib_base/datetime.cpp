// Day numbers, calendar dates, times of day, file times and their texts.
#include "lib_base/datetime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lib_base/misc.h"

namespace {

const i32 kMonthDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                               {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

constexpr i32 kDefaultBaseYear = 1940;
constexpr i32 kDayNumberOffset = 693594;    // days from 0001-01-01 (day 1) to 1899-12-30
constexpr i32 kFirstDayNumber = -693593;    // 0001-01-01
constexpr i32 kLastDayNumber = 2958465;     // 9999-12-31
constexpr i32 kUnixEpochDay = 25569;        // 1970-01-01
constexpr i64 kFileTimeEpochDay = -109205;  // 1601-01-01
constexpr f64 kMsPerDay = 86400000.0;
constexpr i64 kFileTicksPerSecond = 10000000;

i32 MonthDays(i32 year, i32 month) { return kMonthDays[IsLeapYear(year) ? 1 : 0][month - 1]; }

// A year below 100 in the hundred years that start at the base year.
i32 PlaceYear(i32 year, i32 baseYear) {
    if (baseYear < 1900) baseYear = 1900;
    const i32 century = baseYear / 100 * 100;
    return baseYear <= century + year ? century + year : century + year + 100;
}

// The LeadingInt value of count characters from pos, never reading past the text's end.
i32 FieldAt(const char* text, size_t length, size_t pos, size_t count) {
    char field[16] = {};
    if (pos < length) std::memcpy(field, text + pos, std::min(count, length - pos));
    return LeadingInt(field);
}

// The index of the month name at pos (compared exactly), or -1.
i32 MonthAt(const char* text, size_t length, size_t pos) {
    if (pos + 3 > length) return -1;
    for (i32 i = 0; i < 12; ++i) {
        if (std::strncmp(text + pos, kMonthNames[i], 3) == 0) return i;
    }
    return -1;
}

}  // namespace

bool IsLeapYear(i32 year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

bool TryEncodeDate(i32 year, i32 month, i32 day, f64& result, i32 baseYear) {
    if (month < 1 || day < 1) {
        result = 0;
        return year == 0 && month == 0 && day == 0;
    }
    if (year < 0) return false;
    if (year < 100) year = PlaceYear(year, baseYear);
    if (year > 9999 || month > 12 || day > MonthDays(year, month)) return false;
    i32 dayOfYear = day;
    for (i32 m = 1; m < month; ++m) dayOfYear += MonthDays(year, m);
    const i32 y = year - 1;
    result = y * 365 + y / 4 - y / 100 + y / 400 + dayOfYear - kDayNumberOffset;
    return true;
}

f64 EncodeDate(i32 year, i32 month, i32 day, i32 baseYear) {
    f64 result = 0;
    if (!TryEncodeDate(year, month, day, result, baseYear ? baseYear : kDefaultBaseYear)) return 0;
    return result;
}

void DecodeDate(f64 dayNumber, i32& year, i32& month, i32& day) {
    year = month = day = 0;
    const f64 whole = std::floor(dayNumber);
    if (dayNumber == 0 || !(whole >= kFirstDayNumber && whole <= kLastDayNumber)) return;
    i32 days = static_cast<i32>(whole) + kDayNumberOffset - 1;
    year = 1;
    year += days / 146097 * 400;
    days %= 146097;
    i32 i = days / 36524;
    days %= 36524;
    if (i == 4) {
        i = 3;
        days += 36524;
    }
    year += i * 100;
    year += days / 1461 * 4;
    days %= 1461;
    i = days / 365;
    days %= 365;
    if (i == 4) {
        i = 3;
        days = 365;
    }
    year += i;
    month = 1;
    while (days >= MonthDays(year, month)) days -= MonthDays(year, month++);
    day = days + 1;
}

f64 EncodeDateTime(i32 year, i32 month, i32 day, i32 hour, i32 minute, i32 second, i32 millisecond,
                   i32 baseYear) {
    const f64 ms = hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond;
    return EncodeDate(year, month, day, baseYear) + ms / kMsPerDay;
}

void DecodeDateTime(f64 dayNumber, i32& year, i32& month, i32& day, i32& hour, i32& minute,
                    i32& second, i32& millisecond) {
    DecodeDate(dayNumber, year, month, day);
    hour = minute = second = millisecond = 0;
    if (!std::isfinite(dayNumber)) return;
    const f64 fraction = dayNumber - std::floor(dayNumber);
    i64 ms = static_cast<i64>(RoundScaled(fraction * kMsPerDay, 1));
    hour = static_cast<i32>(ms / 3600000);
    ms %= 3600000;
    minute = static_cast<i32>(ms / 60000);
    ms %= 60000;
    second = static_cast<i32>(ms / 1000);
    millisecond = static_cast<i32>(ms % 1000);
}

void DecodeTime(f64 dayNumber, i32& hour, i32& minute, i32& second, i32& millisecond) {
    hour = minute = second = millisecond = 0;
    if (dayNumber == 0 || !std::isfinite(dayNumber)) return;
    // A number just below a whole day gives a fraction that rounds to 1 as it is computed; the
    // time it stands for is still the day's last millisecond.
    const i64 ms = std::min(static_cast<i64>((dayNumber - std::floor(dayNumber)) * kMsPerDay),
                            static_cast<i64>(kMsPerDay) - 1);
    const i64 minutes = ms / 60000;
    const i64 rest = ms % 60000;
    hour = static_cast<i32>(minutes / 60);
    minute = static_cast<i32>(minutes % 60);
    second = static_cast<i32>(rest / 1000);
    millisecond = static_cast<i32>(rest % 1000);
}

f64 TodayNumber(i32 hourOffset) {
    std::tm now;
    LocalTimeOf(CurrentTime(), now);
    f64 today = EncodeDate(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, kDefaultBaseYear);
    const i64 hour = static_cast<i64>(now.tm_hour) + hourOffset;
    if (hour >= 25) today += 1;
    if (hour < 0) today -= 1;
    return today;
}

void FormatTimeOfDay(char* text, i32 size, i32 hourOffset) {
    if (!text || size < 1) return;
    std::tm now;
    LocalTimeOf(CurrentTime(), now);
    long long hour = static_cast<long long>(now.tm_hour) + hourOffset;
    if (hour >= 25) hour -= 24;
    if (hour < 0) hour += 24;
    std::snprintf(text, static_cast<size_t>(size), "%02lld:%02d:%02d", hour, now.tm_min,
                  now.tm_sec);
}

void FormatDateTimeStamp(i64 time, char* text, i32 size) {
    if (!text || size < 1) return;
    std::tm local;
    LocalTimeOf(time, local);
    std::snprintf(text, static_cast<size_t>(size), "%02d/%02d/%04d %02d:%02d:%02d", local.tm_mday,
                  local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min,
                  local.tm_sec);
}

bool FileTimeToTimeT(tFileTime fileTime, i64& result) {
    const i64 seconds = static_cast<i64>(fileTime / kFileTicksPerSecond) +
                        (kFileTimeEpochDay - kUnixEpochDay) * 86400;
    std::tm local;
    LocalTimeOf(seconds, local);
    if (local.tm_mday == 0) return false;  // no local breakdown
    local.tm_isdst = -1;
    result = static_cast<i64>(std::mktime(&local));
    return true;
}

bool TimeTToFileTime(i64 time, tFileTime& fileTime) {
    std::tm local;
    LocalTimeOf(time, local);
    f64 day = 0;
    if (!TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, day, 1900)) {
        return false;
    }
    const i64 seconds = (static_cast<i64>(day) - kFileTimeEpochDay) * 86400 + local.tm_hour * 3600 +
                        local.tm_min * 60 + local.tm_sec;
    fileTime = static_cast<tFileTime>(seconds) * kFileTicksPerSecond;
    return true;
}

const std::tm* UtcTimeOf(i64 time) {
    thread_local std::tm record;
    const time_t t = static_cast<time_t>(time);
    if (time < 0 || !gmtime_r(&t, &record)) return nullptr;
    return &record;
}

bool FormatMonthDayTime(i64 time, tString& out) {
    std::tm local;
    LocalTimeOf(time, local);
    out.sprintf("%3s %.2d %.2d:%.2d", kMonthNames[local.tm_mon], local.tm_mday, local.tm_hour,
                local.tm_min);
    return true;
}

bool FormatHttpDate(i64 time, tString& out) {
    const std::tm* utc = UtcTimeOf(time);
    if (!utc) {
        out.Clear();
        return false;
    }
    out.sprintf("%s, %2.2d %s %d %2.2d:%2.2d:%2.2d GMT", kDayNames[utc->tm_wday], utc->tm_mday,
                kMonthNames[utc->tm_mon], utc->tm_year + 1900, utc->tm_hour, utc->tm_min,
                utc->tm_sec);
    return true;
}

bool ParseMonthDayYearTime(const char* text, i64& time) {
    if (!text) return false;
    const size_t length = std::strlen(text);
    const i32 month = MonthAt(text, length, 0);
    if (month < 0) return false;
    std::tm fields{};
    fields.tm_mon = month;
    fields.tm_mday = FieldAt(text, length, 4, 2);
    fields.tm_year = FieldAt(text, length, 7, 4) - 1900;
    fields.tm_hour = FieldAt(text, length, 12, 2);
    fields.tm_min = FieldAt(text, length, 15, 2);
    // Daylight saving as the platform finds it for that date, so a summer time reads back as
    // it was written.
    fields.tm_isdst = -1;
    time = static_cast<i64>(std::mktime(&fields));
    return true;
}

bool ParseHttpDate(const char* text, i64& time) {
    if (!text) return false;
    const size_t length = std::strlen(text);
    const i32 month = MonthAt(text, length, 8);
    if (month < 0) return false;
    // "Tue, 05 Mar 2024 13:45:07 GMT", or "Tue, 05 Mar 24 13:45:07 GMT": the time starts two
    // characters earlier after a two-digit year.
    const bool fullYear = length > 14 && text[14] >= '0' && text[14] <= '9';
    const size_t timePos = fullYear ? 17 : 15;
    std::tm fields{};
    fields.tm_mon = month;
    fields.tm_mday = FieldAt(text, length, 5, 2);
    const i32 year = FieldAt(text, length, 12, fullYear ? 4 : 2);
    fields.tm_year = (fullYear ? year : PlaceYear(year, kDefaultBaseYear)) - 1900;
    fields.tm_hour = FieldAt(text, length, timePos, 2);
    fields.tm_min = FieldAt(text, length, timePos + 3, 2);
    fields.tm_sec = FieldAt(text, length, timePos + 6, 2);
    time = static_cast<i64>(timegm(&fields));
    return true;
}

void ParseDateText(tString text, i32& year, i32& month, i32& day) {
    const i32 length = text.GetLength();
    const bool hasSlash = text.FindChar('/') >= 0;
    if (length == 10 || (length == 8 && !hasSlash)) {
        text.ReplaceChar(' ', '0');
        const size_t gap = length == 10 ? 1 : 0;  // the separators of the 10-character form
        year = FieldAt(text, length, 0, 4);
        month = FieldAt(text, length, 4 + gap, 2);
        day = FieldAt(text, length, 6 + 2 * gap, 2);
        return;
    }
    year = month = day = 0;
    if (!hasSlash) {
        if (length < 8) text.PadRight('0', 8 - length);
        year = FieldAt(text, text.GetLength(), 0, 4);
        month = FieldAt(text, text.GetLength(), 4, 2);
        day = FieldAt(text, text.GetLength(), 6, 2);
        return;
    }
    i32* const fields[3] = {&year, &month, &day};
    i32 start = 0;
    for (i32* field : fields) {
        *field = LeadingInt(text.GetText() + start);
        start = text.FindChar('/', start);
        if (start < 0) break;
        ++start;
    }
}
