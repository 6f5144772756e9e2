// Reading and checking the date and date-time texts of bound parameters.
#include "server/drivers/datetext.h"

#include <cstring>

#include "lib_base/datetime.h"
#include "server/tables/dbtable.h"

namespace {

// count decimal digits at pos, all within the text; false when any is missing or no digit.
bool ReadNumber(const tValueText& v, size_t pos, size_t count, i32& out) {
    if (pos > v.length || count > v.length - pos) return false;
    i32 n = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        const char c = v.text[i];
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    out = n;
    return true;
}

bool IsSeparator(const tValueText& v, size_t pos) {
    return pos < v.length && (v.text[pos] < '0' || v.text[pos] > '9');
}

i32 DaysInMonth(i32 year, i32 month) {
    static const i32 days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

}  // namespace

tValueText ValueText(tDATAField& value) {
    const char* text = static_cast<const char*>(value.GetData());
    size_t limit = value.GetLen() > 0 ? static_cast<size_t>(value.GetLen()) : 0;
    if (limit > value.GetValueSize()) limit = value.GetValueSize();
    return {text, text ? strnlen(text, limit) : 0};
}

bool ReadDateText(tDATAField& value, tDateParts& parts) {
    const tValueText v = ValueText(value);
    if (!ReadNumber(v, 0, 2, parts.day)) return false;
    if (value.GetLen() > 3 && !(IsSeparator(v, 2) && ReadNumber(v, 3, 2, parts.month))) {
        return false;
    }
    return value.GetLen() <= 6 || (IsSeparator(v, 5) && ReadNumber(v, 6, 4, parts.year));
}

bool ReadDateTimeText(tDATAField& value, i32 lastRead, tDateParts& parts) {
    const i32 first = value.GetFirstUnit();
    const i32 last = value.GetLastUnit();
    if (first < 1 || last > 7 || first > last) return false;
    i32* const units[8] = {nullptr,     &parts.year,   &parts.month,  &parts.day,
                           &parts.hour, &parts.minute, &parts.second, &parts.fraction};
    const tValueText v = ValueText(value);
    size_t pos = 0;
    // The year is read whenever it is a unit, so a text without one is no date-time.
    for (i32 unit = first; unit <= last && unit <= lastRead && (unit == 1 || pos < v.length);
         ++unit) {
        const size_t width = unit == 1 ? 4 : unit == 7 ? 3 : 2;
        if (!ReadNumber(v, pos, width, *units[unit])) return false;
        pos += width + 1;
    }
    return true;
}

bool IsValidDateParts(const tDateParts& p) {
    return p.year >= 1 && p.year <= 9999 && p.month >= 1 && p.month <= 12 && p.day >= 1 &&
           p.day <= DaysInMonth(p.year, p.month) && p.hour >= 0 && p.hour <= 23 && p.minute >= 0 &&
           p.minute <= 59 && p.second >= 0 && p.second <= 59;
}

bool ReadIsoDate(const tValueText& text, tDateParts& parts) {
    tDateParts read;
    if (!(ReadNumber(text, 0, 4, read.year) && IsSeparator(text, 4) &&
          ReadNumber(text, 5, 2, read.month) && IsSeparator(text, 7) &&
          ReadNumber(text, 8, 2, read.day) && IsValidDateParts(read))) {
        return false;
    }
    parts.year = read.year;
    parts.month = read.month;
    parts.day = read.day;
    return true;
}
