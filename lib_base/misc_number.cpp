// Number utilities: random ranges, decimal rounding and remainders, fixed-point digit texts.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib_base/critsec.h"
#include "lib_base/gmlassert.h"
#include "lib_base/misc.h"

namespace {

constexpr i32 kMaxDecimals = 40;

// The C run-time generator has one state for the process: seeding and drawing go under this.
tCriticalSection& RandomSection() {
    static tCriticalSection section;
    return section;
}

}  // namespace

i32 RandomInRange(i32 low, i32 high, u32 seed) {
    tWaiting hold(&RandomSection(), __FILE__, __LINE__);
    if (seed != 0) std::srand(seed);
    if (low >= high) DoAssert(__FILE__, __LINE__, "invalid random range", 0);
    const i64 span = static_cast<i64>(high) - low;  // up to 2^32 - 1: i32 would overflow
    return static_cast<i32>(low + std::rand() % span);
}

f64 RoundScaled(f64 value, f64 scale) {
    f64 whole = 0;
    const f64 fraction = std::modf(std::fabs(value) * scale, &whole);
    if (fraction >= 0.5) whole += 1;
    return std::copysign(whole / scale, value);
}

f64 DecimalMod(f64 a, f64 b) {
    a = RoundScaled(a, 1000000);
    b = RoundScaled(b, 1000000);
    const f64 quotient = std::trunc(RoundScaled(a / b, 10000));
    return RoundScaled(a - RoundScaled(quotient * b, 1000000), 1000000);
}

void FixedDigits(f64 value, i32 decimals, i32& decimalPoint, i32& sign, char* buffer, i32 size) {
    decimalPoint = 0;
    sign = 0;
    if (!buffer || size < 1) return;
    std::memset(buffer, 0, static_cast<size_t>(size));
    if (!std::isfinite(value)) return;
    if (decimals < 0) decimals = 0;
    if (decimals > kMaxDecimals) decimals = kMaxDecimals;
    // The largest double has 309 whole digits.
    char text[310 + 1 + kMaxDecimals + 1];
    std::snprintf(text, sizeof text, "%.*f", static_cast<int>(decimals), std::fabs(value));
    char* point = std::strchr(text, '.');
    i32 wholeDigits = static_cast<i32>(point ? point - text : std::strlen(text));
    if (point) std::memmove(point, point + 1, std::strlen(point + 1) + 1);
    const char* digits = text + std::strspn(text, "0");
    if (!*digits) {
        // Rounds to zero: decimals zeros with the point before them, whatever the sign.
        digits = text + std::strlen(text) - decimals;
        wholeDigits = 0;
    } else {
        wholeDigits -= static_cast<i32>(digits - text);
        sign = value < 0 ? 1 : 0;
    }
    decimalPoint = wholeDigits;
    std::strncpy(buffer, digits, static_cast<size_t>(size - 1));
}
