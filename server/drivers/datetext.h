// The date and date-time texts of bound parameters ('D' dd/mm/yyyy, 'T' by its units), read
// into calendar parts and checked before anything is bound. Shared by the ODBC and Oracle binds.
#pragma once
#include <cstddef>

#include "lib_base/types.h"

class tDATAField;

// The characters of a value: at most the declared length, and never past its terminator.
struct tValueText {
    const char* text;
    size_t length;
};
tValueText ValueText(tDATAField& value);

// The parts of a date or date-time; fraction in milliseconds.
struct tDateParts {
    i32 year = 0;
    i32 month = 0;
    i32 day = 0;
    i32 hour = 0;
    i32 minute = 0;
    i32 second = 0;
    i32 fraction = 0;
};

// dd/mm/yyyy, any one non-digit between the parts: the day always, the month when the declared
// length is above 3, the year when it is above 6. Parts not read keep their values. False when a
// part that is read is not all digits.
bool ReadDateText(tDATAField& value, tDateParts& parts);
// The units of a date-time text from its first to its last unit (1 year .. 7 fraction), but none
// past lastRead: the year in 4 digits, the fraction in 3, the others in 2, each followed by one
// separator, read while the text lasts. Units not read keep their values. False for units out of
// 1..7 or in the wrong order, or a part that is not all digits.
bool ReadDateTimeText(tDATAField& value, i32 lastRead, tDateParts& parts);
// yyyy-mm-dd at the start of text (any one non-digit between the parts) into the date parts;
// false when it is not there or is no date of the calendar.
bool ReadIsoDate(const tValueText& text, tDateParts& parts);
// A date of years 1 to 9999 that the calendar has, and a time of day.
bool IsValidDateParts(const tDateParts& parts);
