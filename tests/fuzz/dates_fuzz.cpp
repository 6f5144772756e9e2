// Fuzz target of the date readers and the day-number arithmetic. Date texts (the eight-digit
// and separated forms of date fields and filters, the HTTP and month-name stamps) are read
// without crash; a date they give that is valid encodes to a day number that decodes back to
// it, a stamp written reads back as the same time, and any day number decodes to a calendar date
// and a time of day inside their ranges.
//
// Input: a base year byte (added to 1900), 8 bytes read as a day number, 8 bytes read as a
// calendar time, then a date text.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "lib_base/datetime.h"
#include "lib_base/stringz.h"
#include "tests/fuzz/fuzzcheck.h"

namespace {

// Fails the run: a date came back other than it went in.

constexpr i64 kLastStampTime = 253402300799;  // 9999-12-31 23:59:59 UTC

void CheckDayNumber(f64 number) {
    i32 year = -1, month = -1, day = -1, hour = -1, minute = -1, second = -1, ms = -1;
    DecodeDateTime(number, year, month, day, hour, minute, second, ms);
    FUZZ_CHECK(hour >= 0 && hour <= 24 && minute >= 0 && minute < 60);
    FUZZ_CHECK(second >= 0 && second < 60 && ms >= 0 && ms < 1000);
    FUZZ_CHECK(hour < 24 || minute + second + ms == 0);
    DecodeTime(number, hour, minute, second, ms);
    FUZZ_CHECK(hour >= 0 && hour < 24 && minute >= 0 && minute < 60);
    FUZZ_CHECK(second >= 0 && second < 60 && ms >= 0 && ms < 1000);
    if (year == 0) {
        FUZZ_CHECK(month == 0 && day == 0);
        return;
    }
    if (year < 100) return;  // such a year is read as a two-digit one: it cannot be encoded
    f64 back = 0;
    FUZZ_CHECK(TryEncodeDate(year, month, day, back, 1900));
    FUZZ_CHECK(back == std::floor(number));
}

// A date read from text: when valid, its day number decodes back to it (a year below 100 is
// placed by the base year first).
void CheckDate(i32 year, i32 month, i32 day, i32 baseYear) {
    f64 number = 7;
    if (!TryEncodeDate(year, month, day, number, baseYear)) return;
    i32 y = -1, m = -1, d = -1;
    DecodeDate(number, y, m, d);
    if (year == 0 && month == 0 && day == 0) {
        FUZZ_CHECK(number == 0);
        return;
    }
    if (number == 0) return;  // 1899-12-30 is day 0, which stands for no date
    FUZZ_CHECK(m == month && d == day);
    FUZZ_CHECK(year >= 100 ? y == year : y % 100 == year);
    const i32 hour = static_cast<i32>((static_cast<u32>(day) * 7u) % 24u);
    const i32 ms = static_cast<i32>((static_cast<u32>(year) * 13u) % 1000u);
    i32 y2, m2, d2, h2, mi2, s2, ms2;
    DecodeDateTime(EncodeDateTime(year, month, day, hour, 59, 58, ms, baseYear), y2, m2, d2, h2,
                   mi2, s2, ms2);
    FUZZ_CHECK(y2 == y && m2 == m && d2 == d && h2 == hour && mi2 == 59 && s2 == 58 && ms2 == ms);
}

void CheckStamps(const std::string& text, i64 time) {
    i64 read = -7;
    if (!ParseHttpDate(text.c_str(), read)) FUZZ_CHECK(read == -7);
    read = -7;
    if (!ParseMonthDayYearTime(text.c_str(), read)) FUZZ_CHECK(read == -7);
    if (time < 0 || time > kLastStampTime) return;
    tString stamp;
    FUZZ_CHECK(FormatHttpDate(time, stamp));
    read = -7;
    FUZZ_CHECK(ParseHttpDate(stamp.GetText(), read) && read == time);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 17 || size > 4096) return 0;
    const i32 baseYear = 1900 + data[0];
    f64 number = 0;
    std::memcpy(&number, data + 1, sizeof number);
    i64 time = 0;
    std::memcpy(&time, data + 9, sizeof time);
    const std::string text(reinterpret_cast<const char*>(data) + 17, size - 17);

    CheckDayNumber(number);
    i32 year = -1, month = -1, day = -1;
    ParseDateText(tString(text.c_str()), year, month, day);
    CheckDate(year, month, day, baseYear);
    if (text.size() == 8 && text.find_first_not_of("0123456789") == std::string::npos) {
        FUZZ_CHECK(year == std::stoi(text.substr(0, 4)) && month == std::stoi(text.substr(4, 2)) &&
                   day == std::stoi(text.substr(6, 2)));
    }
    CheckStamps(text, time);
    return 0;
}
