// Small utilities of the base library: path separators, wildcard matching, line texts, tokens,
// numbers, picture formatting, the application type and name, and the local-time seam.
#pragma once
#include <ctime>

#include "lib_base/stringz.h"
#include "lib_base/types.h"

// Lower-cases the path first when lower is set, then turns every '/' into '\\'.
void ConvertPathSeparators(tString& path, bool lower);
void ConvertPathSeparators(char* path, bool lower);  // a null path is ignored

// Upper-cases the string when upper is set; otherwise leaves it alone.
void UpperIf(tString& text, bool upper);
void UpperIf(char* text, bool upper);  // a null text is ignored

// Matches the text from textPos against the pattern from patternPos, letters in either case.
// '*' stands for any run of characters, '?' for exactly one. An empty pattern matches any text.
// endPos (may be null) receives the text position where the match ended: the end of the text, or
// where a final '*' or an empty pattern began. A null text or pattern counts as empty; a
// position outside its text gives false. Runs in time proportional to text times pattern.
bool WildcardMatchFrom(const char* text, i32 textPos, const char* pattern, i32 patternPos,
                       i32* endPos);
bool WildcardMatch(const char* text, const char* pattern);

// The text as a decimal number: blanks, an optional sign, then the leading digits; 0 when there
// are none. Values beyond the i32 range are clamped to it. A null text gives 0.
i32 LeadingInt(const char* text);

// Ends the text at each of its last two characters that is a carriage return or a line feed,
// each looked at by itself ("ab\r\n" gives "ab", "a\nb" gives "a"). A null text is ignored.
void StripLineEnd(char* text);
bool EndsWithLineEnd(const char* text);  // false for a null or an empty text
// Removes the spaces (not tabs) at the end and at the start. A null text is ignored.
void TrimBlanks(char* text);

// Tokens are the longest runs of characters outside the delimiter set, counted from 0.
// GetToken copies token number index into out, terminated, and answers 0. It answers 1 with out
// empty (when outSize is above 0) for a null text or set, a missing token, or a token that does
// not fit into outSize bytes with its terminator.
i32 GetToken(const char* text, const char* delimiters, i32 index, char* out, i32 outSize);
// GetToken, then value = LeadingInt of the token (of at most 59 characters); 1 leaves value.
i32 GetTokenInt(const char* text, const char* delimiters, i32 index, i32& value);
i32 CountTokens(const char* text, const char* delimiters);  // 0 for a null text or set
// Joins the tokens from index first on into out, one blank before each token whose index is
// above 1, and answers true when the first index without a token is below 2 (from index 1: true
// when the text has no second word). Stops at the first token that would not fit into outSize
// bytes with the terminator, so out is never overrun.
bool JoinTokensFrom(const char* text, const char* delimiters, i32 first, char* out, i32 outSize);

// The dotted text of an IPv4 address held in network byte order, the byte that travels first
// written first ("127.0.0.1"). text has room for 16 bytes; returns text.
char* IpToText(u32 address, char* text);

// low + rand() mod (high - low), under one process-wide lock; a seed other than 0 first seeds
// the generator. A low that is not below high raises "invalid random range".
i32 RandomInRange(i32 low, i32 high, u32 seed);
// Rounds half away from zero to a multiple of 1 / scale: 2.5 and scale 1 give 3, -2.5 gives -3.
f64 RoundScaled(f64 value, f64 scale);
// The remainder of a / b in decimal terms (10.5 and 3 give 1.5, -7 and 2 give -1): a and b at
// 6 decimals, the quotient at 4 decimals cut toward zero. A b of 0 gives a NaN.
f64 DecimalMod(f64 a, f64 b);
// The digits of |value| rounded to decimals (0 to 40) places, without leading zeros, as the
// fixed-point conversion gives them: decimalPoint receives the number of digits before the
// point (below 0 when zeros follow the point), sign non-zero for a negative value. A value that
// rounds to zero, negative zero included, gives decimals zeros, point 0 and sign 0; a NaN or an
// infinity gives no digits. Clears size bytes of buffer and copies at most size - 1 characters.
void FixedDigits(f64 value, i32 decimals, i32& decimalPoint, i32& sign, char* buffer, i32 size);

// Picture formatting. A picture of at most 39 characters shows digits at its '9' and 'Z'
// positions ('9' keeps leading zeros, 'Z' shows blanks) and copies every other character; the
// first decimal separator after position 0 starts the decimal positions. The result has the
// picture's length; a number that does not fit, or a picture over 39 characters, gives '*' in
// every position. FormatPictureEx's separator is ',' or '.'; a negative value puts '-' into the
// blank nearest its digits and needs one, else it does not fit. With wholeOnly set the value
// is rounded to a whole number and the decimal positions show zeros. A NaN or an infinity does
// not fit.
void FormatPictureEx(const char* picture, f64 value, char separator, tString& result,
                     bool wholeOnly);
void FormatPicture(const char* picture, f64 value, tString& result);  // ',' separates decimals
// The "%d" text of value placed as it is ('-' included), decimal positions showing zeros.
void FormatPictureInt(const char* picture, i32 value, tString& result);
// The given digit text placed as it is, decimal positions showing zeros.
void FormatPictureDigits(const char* picture, const char* digits, tString& result);

// The application type and configuration name, one set for the process, chosen at start
// before other threads run. The first non-zero type is kept for the life of the process; a
// type below '8' selects "hvn7srv.ini", '8' and above "hvn8srv.ini", with the type in place of
// the digit (0 while no type is held: the name ends before the digit). The prefix is the name's
// part before "srv", upper-cased. Returns the prefix.
const char* SelectAppType(char type);
char GetAppType();
const char* GetAppIniName();
void SetAppIniName(const char* name);  // keeps the first 15 characters; null empties the name
const char* GetAppPrefix();

// The current calendar time (seconds since 1970-01-01 UTC) comes from the installed clock.
// Tests install a fixed one; null restores the system clock. Installed before threads run.
using tClockSource = i64 (*)();
void SetClockSource(tClockSource source);
i64 CurrentTime();
// The local broken-down time of a calendar time (the TZ rules of the process). A negative time,
// or one that cannot be converted, gives a record of zeros. Returns the record.
std::tm& LocalTimeOf(i64 time, std::tm& record);

// Joins first, "\\" second, "\\" third and fourth (null parts are left out), reduces runs of
// backslashes to one, then lower-cases and turns '/' into '\\'. out holds at least 261 bytes and
// receives at most 260 characters. Returns out.
char* JoinPath(char* out, const char* first, const char* second, const char* third,
               const char* fourth);
