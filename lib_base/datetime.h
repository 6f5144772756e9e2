// Dates and times: day numbers (days from 1899-12-30 as f64, 0 meaning no date), calendar
// dates, times of day, file times and their texts. The current time and its local breakdown
// come from CurrentTime and LocalTimeOf (misc.h), so tests fix the clock and TZ.
#pragma once
#include <ctime>

#include "lib_base/stringz.h"
#include "lib_base/types.h"

// A file time: 100-nanosecond intervals since 1601-01-01, as file-system times are kept.
using tFileTime = u64;

bool IsLeapYear(i32 year);
// The day number of a date: 1900-01-01 is 2, 2000-01-01 is 36526. A year below 100 is placed in
// the hundred years from the base year (below 1900 counts as 1900): with base 1940, 40 is 1940
// and 39 is 2039. The all-zero date gives 0 and true. Any other month or day below 1 gives 0 and
// false; a negative year, a year above 9999, a month above 12 or a day beyond the month's length
// gives false and leaves result alone.
bool TryEncodeDate(i32 year, i32 month, i32 day, f64& result, i32 baseYear);
f64 EncodeDate(i32 year, i32 month, i32 day, i32 baseYear = 0);  // base 0 means 1940; 0 invalid
// The calendar date of a day number (its whole part rounded down). 0 gives 0, 0, 0, and so does
// a number outside 0001-01-01 .. 9999-12-31 or a NaN.
void DecodeDate(f64 dayNumber, i32& year, i32& month, i32& day);
// The date plus (hour, minute, second, millisecond) as a fraction of a day; for an invalid date
// the fraction alone.
f64 EncodeDateTime(i32 year, i32 month, i32 day, i32 hour, i32 minute, i32 second, i32 millisecond,
                   i32 baseYear);
// DecodeDate plus the time of the fraction rounded to the millisecond; a fraction that rounds to
// a whole day gives hour 24.
void DecodeDateTime(f64 dayNumber, i32& year, i32& month, i32& day, i32& hour, i32& minute,
                    i32& second, i32& millisecond);
// The time of the fraction cut to the millisecond; 0 (or a NaN) gives all zeros.
void DecodeTime(f64 dayNumber, i32& hour, i32& minute, i32& second, i32& millisecond);

// Today's local date as a day number, moved by the hour offset: a local hour plus offset of 25
// or more gives tomorrow, below 0 yesterday (exactly 24 keeps today).
f64 TodayNumber(i32 hourOffset);
// The local time of day as "%02d:%02d:%02d" into text (at most size bytes, terminated), the hour
// moved by the offset: 25 or more loses 24, below 0 gains 24, exactly 24 is written as 24.
void FormatTimeOfDay(char* text, i32 size, i32 hourOffset);

// The local time of a calendar time as "dd/mm/yyyy hh:mm:ss" into text (at most size bytes,
// terminated; 20 hold it all).
void FormatDateTimeStamp(i64 time, char* text, i32 size);

// The calendar time of a file time (UTC) read through its local calendar fields, daylight
// saving decided for that date. False, result untouched, for a time before 1970.
bool FileTimeToTimeT(tFileTime fileTime, i64& result);
// The local calendar fields of the time stored as a file time without conversion to UTC. False
// when the time has no local breakdown (before 1970) or lies beyond 9999.
bool TimeTToFileTime(i64 time, tFileTime& fileTime);
// The UTC breakdown in a record of the calling thread, valid until its next call; null for a
// negative time or one that cannot be broken down.
const std::tm* UtcTimeOf(i64 time);

// "Mar 05 13:45" of the local time; returns true.
bool FormatMonthDayTime(i64 time, tString& out);
// "Tue, 05 Mar 2024 13:45:07 GMT"; false with out empty when the time has no UTC breakdown.
bool FormatHttpDate(i64 time, tString& out);
// Reads "Mar 05 2024 13:45" (month name at 0 with its case, day at 4, year at 7, hour at 12,
// minute at 15) as local time. False, time untouched, for a null text or an unknown month.
bool ParseMonthDayYearTime(const char* text, i64& time);
// Reads the layout FormatHttpDate writes, or the same with a two-digit year (placed as
// EncodeDate places it), as UTC. False, time untouched, for a null text or an unknown month.
bool ParseHttpDate(const char* text, i64& time);
// Reads "yyyy?mm?dd" (10 characters, blanks read as zeros), "yyyymmdd" (8, blanks as zeros),
// "yyyy/m/d" (fields between '/'), or a shorter digit text padded with zeros to 8 ("202405"
// gives 2024, 5, 0). Fields are LeadingInt values.
void ParseDateText(tString text, i32& year, i32& month, i32& day);
