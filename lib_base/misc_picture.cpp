// Picture formatting: numbers laid out in a picture of digit positions ('9' and 'Z') and the
// characters that stand for themselves.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lib_base/misc.h"

namespace {

constexpr size_t kMaxPicture = 39;

bool IsDigitPosition(char c) { return c == '9' || c == 'Z'; }

struct tPictureScan {
    i32 length = 0;
    i32 digitPositions = 0;
    i32 decimalPositions = 0;
    i32 firstNine = 0;  // the picture's length when it has no '9'
};

tPictureScan ScanPicture(const char* picture, char separator) {
    tPictureScan scan;
    scan.length = static_cast<i32>(std::strlen(picture));
    scan.firstNine = scan.length;
    bool inDecimals = false;
    for (i32 i = 0; i < scan.length; ++i) {
        const char c = picture[i];
        if (c == separator && i > 0) inDecimals = true;
        if (!IsDigitPosition(c)) continue;
        ++scan.digitPositions;
        if (inDecimals) ++scan.decimalPositions;
        if (c == '9' && scan.firstNine == scan.length) scan.firstNine = i;
    }
    return scan;
}

void FillStars(const char* picture, tString& result) {
    result = tString(static_cast<i32>(std::strlen(picture)) + 1, '*');
}

// Places the whole digit text from the right end of the picture; the positions left of it
// become blanks left of the first '9' and zeros (for '9') or picture characters from it on. A
// negative value needs a blank for its '-'; without one, or without room, the result is stars.
void PlaceDigits(const char* picture, const tPictureScan& scan, const char* digits, bool negative,
                 tString& result) {
    const i32 n = static_cast<i32>(std::strlen(digits));
    if (n > scan.digitPositions || (negative && n == scan.digitPositions)) {
        FillStars(picture, result);
        return;
    }
    result = picture;
    i32 pos = scan.length - 1;
    for (i32 placed = 0; placed < n; --pos) {
        if (IsDigitPosition(picture[pos])) result.At(pos) = digits[n - 1 - placed++];
    }
    bool minusWritten = !negative;
    for (; pos >= 0; --pos) {
        if (pos < scan.firstNine) {
            result.At(pos) = minusWritten ? ' ' : '-';
            minusWritten = true;
        } else if (picture[pos] == '9') {
            result.At(pos) = '0';
        }
    }
    if (!minusWritten) FillStars(picture, result);
}

// A digit text without decimals, given zeros for the picture's decimal positions.
void PlaceWhole(const char* picture, const char* text, tString& result) {
    if (!picture) picture = "";
    if (std::strlen(picture) > kMaxPicture) {
        FillStars(picture, result);
        return;
    }
    const tPictureScan scan = ScanPicture(picture, ',');
    tString digits(text ? text : "");
    digits.PadRight('0', scan.decimalPositions);
    PlaceDigits(picture, scan, digits, false, result);
}

}  // namespace

void FormatPictureEx(const char* picture, f64 value, char separator, tString& result,
                     bool wholeOnly) {
    if (!picture) picture = "";
    if (std::strlen(picture) > kMaxPicture || !std::isfinite(value)) {
        FillStars(picture, result);
        return;
    }
    const tPictureScan scan = ScanPicture(picture, separator);
    i32 point = 0;
    i32 sign = 0;
    // Room for every digit that a picture can show, so no digit that counts is cut.
    char text[kMaxPicture + 16];
    FixedDigits(value, wholeOnly ? 0 : scan.decimalPositions, point, sign, text, sizeof text);
    const i32 n = point + scan.decimalPositions;
    if (n > scan.digitPositions) {
        FillStars(picture, result);
        return;
    }
    tString digits(text);
    if (wholeOnly) digits.PadRight('0', scan.decimalPositions);
    PlaceDigits(picture, scan, digits, sign != 0, result);
}

void FormatPicture(const char* picture, f64 value, tString& result) {
    FormatPictureEx(picture, value, ',', result, false);
}

void FormatPictureInt(const char* picture, i32 value, tString& result) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    PlaceWhole(picture, text, result);
}

void FormatPictureDigits(const char* picture, const char* digits, tString& result) {
    PlaceWhole(picture, digits, result);
}
