// Value conversions of the recording driver: scripted texts into the application's C types (for
// bound columns, SQLGetData and output parameters), and bound parameters into recorded bytes and
// texts.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

#include "tests/recodbc/recodbc_internal.h"

namespace recodbc {
namespace {

// Calls visit(T()) with the number type that a numeric C type stands for; false for others.
template <typename Visit>
bool VisitNumber(SQLSMALLINT cType, Visit visit) {
    switch (cType) {
        case SQL_C_DOUBLE:
            visit(SQLDOUBLE());
            return true;
        case SQL_C_FLOAT:
            visit(SQLREAL());
            return true;
        case SQL_C_LONG:
        case SQL_C_SLONG:
            visit(SQLINTEGER());
            return true;
        case SQL_C_ULONG:
            visit(SQLUINTEGER());
            return true;
        case SQL_C_SHORT:
        case SQL_C_SSHORT:
            visit(SQLSMALLINT());
            return true;
        case SQL_C_USHORT:
            visit(SQLUSMALLINT());
            return true;
        case SQL_C_TINYINT:
        case SQL_C_STINYINT:
            visit(SQLSCHAR());
            return true;
        case SQL_C_UTINYINT:
        case SQL_C_BIT:
            visit(SQLCHAR());
            return true;
        case SQL_C_SBIGINT:
            visit(SQLBIGINT());
            return true;
        case SQL_C_UBIGINT:
            visit(SQLUBIGINT());
            return true;
        default:
            return false;
    }
}

bool IsDate(SQLSMALLINT cType) { return cType == SQL_C_TYPE_DATE || cType == SQL_C_DATE; }
bool IsTime(SQLSMALLINT cType) { return cType == SQL_C_TYPE_TIME || cType == SQL_C_TIME; }
bool IsTimestamp(SQLSMALLINT cType) {
    return cType == SQL_C_TYPE_TIMESTAMP || cType == SQL_C_TIMESTAMP;
}

size_t FixedSize(SQLSMALLINT cType) {
    size_t size = 0;
    if (VisitNumber(cType, [&](auto zero) { size = sizeof zero; })) return size;
    if (IsDate(cType)) return sizeof(DATE_STRUCT);
    if (IsTime(cType)) return sizeof(TIME_STRUCT);
    return IsTimestamp(cType) ? sizeof(TIMESTAMP_STRUCT) : 0;
}

bool IsCharType(SQLSMALLINT cType) { return cType == SQL_C_CHAR || cType == SQL_C_DEFAULT; }

SQLRETURN Fail(tDiag* diag, const char* state, const char* text) {
    *diag = {state, 0, text};
    return SQL_ERROR;
}

// Character or binary data from `offset` on, cut to the buffer (chars keep a terminator).
SQLRETURN PutBytes(const std::string& bytes, size_t offset, bool terminate, SQLPOINTER target,
                   SQLLEN bufferLength, SQLLEN* indicator, size_t* consumed, tDiag* diag) {
    const size_t avail = bytes.size() - std::min(offset, bytes.size());
    if (indicator) *indicator = SQLLEN(avail);
    size_t room = bufferLength > 0 ? size_t(bufferLength) : 0;
    if (terminate && room > 0) --room;
    const size_t n = target ? std::min(avail, room) : 0;
    if (n > 0) std::memcpy(target, bytes.data() + bytes.size() - avail, n);
    if (target && terminate && bufferLength > 0) static_cast<char*>(target)[n] = '\0';
    *consumed = n;
    if (n < avail) {
        *diag = {"01004", 0, "String data, right truncated"};
        return SQL_SUCCESS_WITH_INFO;
    }
    return SQL_SUCCESS;
}

// The whole text as a number; false when it is not one.
bool ParseNumber(const std::string& text, double* number, long long* integer, bool* isInteger) {
    const char* s = text.c_str();
    char* end = nullptr;
    errno = 0;
    *integer = std::strtoll(s, &end, 10);
    *isInteger = end != s && errno == 0 && *end == '\0';
    errno = 0;
    *number = std::strtod(s, &end);
    return end != s && *end == '\0';
}

template <typename T>
SQLRETURN PutNumber(const std::string& text, SQLPOINTER target, tDiag* diag) {
    double d = 0;
    long long i = 0;
    bool isInteger = false;
    if (!ParseNumber(text, &d, &i, &isInteger)) {
        return Fail(diag, "22018", "Invalid character value for cast specification");
    }
    if constexpr (std::is_floating_point<T>::value) {
        const T v = T(d);
        std::memcpy(target, &v, sizeof v);
        return SQL_SUCCESS;
    } else {
        using tLimits = std::numeric_limits<T>;
        const bool fits = isInteger ? i >= (long long)tLimits::lowest() &&
                                          (i <= 0 || (unsigned long long)i <= tLimits::max())
                                    : d >= double(tLimits::lowest()) && d <= double(tLimits::max());
        if (!fits) return Fail(diag, "22003", "Numeric value out of range");
        const T v = isInteger ? T(i) : T(d);
        std::memcpy(target, &v, sizeof v);
        if (!isInteger && d != std::trunc(d)) {
            *diag = {"01S07", 0, "Fractional truncation"};
            return SQL_SUCCESS_WITH_INFO;
        }
        return SQL_SUCCESS;
    }
}

// "YYYY-MM-DD", "HH:MM:SS" or "YYYY-MM-DD HH:MM:SS[.fraction]" (a date alone has time 0).
bool ParseTimestamp(const std::string& text, bool wantsDate, TIMESTAMP_STRUCT* ts) {
    *ts = {};
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, used = 0;
    const char* p = text.c_str();
    if (wantsDate) {
        if (std::sscanf(p, "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3) return false;
        p += used;
        if (*p == ' ' || *p == 'T') ++p;
    }
    if (*p && std::sscanf(p, "%2d:%2d:%2d%n", &h, &mi, &s, &used) == 3) {
        p += used;
        if (*p == '.') {
            std::string digits;
            for (++p; *p >= '0' && *p <= '9'; ++p) digits += *p;
            if (digits.empty() || digits.size() > 9) return false;
            ts->fraction = SQLUINTEGER(std::stoul(digits + std::string(9 - digits.size(), '0')));
        }
    }
    if (*p) return false;
    *ts = {SQLSMALLINT(y),   SQLUSMALLINT(mo), SQLUSMALLINT(d), SQLUSMALLINT(h),
           SQLUSMALLINT(mi), SQLUSMALLINT(s),  ts->fraction};
    return true;
}

SQLRETURN PutDateTime(const std::string& text, SQLSMALLINT cType, SQLPOINTER target, tDiag* diag) {
    const bool isTime = IsTime(cType);
    TIMESTAMP_STRUCT ts;
    if (!ParseTimestamp(text, !isTime, &ts)) {
        return Fail(diag, "22018", "Invalid character value for cast specification");
    }
    if (isTime) {
        const TIME_STRUCT t = {ts.hour, ts.minute, ts.second};
        std::memcpy(target, &t, sizeof t);
    } else if (IsDate(cType)) {
        const DATE_STRUCT d = {ts.year, ts.month, ts.day};
        std::memcpy(target, &d, sizeof d);
    } else {
        std::memcpy(target, &ts, sizeof ts);
    }
    return SQL_SUCCESS;
}

SQLRETURN PutFixed(const std::string& text, SQLSMALLINT cType, SQLPOINTER target, tDiag* diag) {
    SQLRETURN rc = SQL_SUCCESS;
    if (VisitNumber(cType,
                    [&](auto zero) { rc = PutNumber<decltype(zero)>(text, target, diag); })) {
        return rc;
    }
    return PutDateTime(text, cType, target, diag);
}

template <typename T>
T Load(const std::string& bytes) {
    T v{};
    std::memcpy(&v, bytes.data(), sizeof v);
    return v;
}

// The shortest text that reads back as the same double.
std::string DoubleText(double d) {
    char text[40];
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(text, sizeof text, "%.*g", precision, d);
        if (std::strtod(text, nullptr) == d) break;
    }
    return text;
}

std::string DateTimeText(const std::string& bytes, SQLSMALLINT cType) {
    char text[64];
    if (IsDate(cType)) {
        const auto d = Load<DATE_STRUCT>(bytes);
        std::snprintf(text, sizeof text, "{d '%04d-%02u-%02u'}", d.year, d.month, d.day);
    } else if (IsTime(cType)) {
        const auto t = Load<TIME_STRUCT>(bytes);
        std::snprintf(text, sizeof text, "{t '%02u:%02u:%02u'}", t.hour, t.minute, t.second);
    } else {
        const auto ts = Load<TIMESTAMP_STRUCT>(bytes);
        std::snprintf(text, sizeof text, "{ts '%04d-%02u-%02u %02u:%02u:%02u.%09u'}", ts.year,
                      ts.month, ts.day, ts.hour, ts.minute, ts.second, ts.fraction);
    }
    return text;
}

std::string HexText(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text = "0x";
    for (unsigned char c : bytes) {
        text += kDigits[c >> 4];
        text += kDigits[c & 15];
    }
    return text;
}

std::string ValueText(const tValue& v, SQLSMALLINT cType) {
    if (v.isNull) return "NULL";
    if (IsCharType(cType)) {
        std::string text = "'";
        for (char c : v.bytes) text += c == '\'' ? std::string("''") : std::string(1, c);
        return text + "'";
    }
    if (FixedSize(cType) == 0 || v.bytes.size() < FixedSize(cType)) return HexText(v.bytes);
    std::string text;
    const bool isNumber = VisitNumber(cType, [&](auto zero) {
        using T = decltype(zero);
        if constexpr (std::is_floating_point<T>::value) {
            text = DoubleText(Load<T>(v.bytes));
        } else {
            text = std::to_string(Load<T>(v.bytes));
        }
    });
    return isNumber ? text : DateTimeText(v.bytes, cType);
}

// The bytes of an input value as the application bound them.
std::string BoundBytes(const tParamBinding& b, SQLLEN indicator) {
    const char* p = static_cast<const char*>(b.value);
    if (!p) return "";
    if (IsCharType(b.cType)) {
        return indicator >= 0 ? std::string(p, size_t(indicator)) : std::string(p);
    }
    if (FixedSize(b.cType) > 0) return std::string(p, FixedSize(b.cType));
    const SQLLEN n = indicator >= 0 ? indicator : b.bufferLength;
    return std::string(p, size_t(std::max<SQLLEN>(n, 0)));
}

}  // namespace

bool IsFixedSize(SQLSMALLINT cType) { return FixedSize(cType) > 0; }

SQLRETURN PutValue(const tValue& value, size_t offset, SQLSMALLINT cType, SQLPOINTER target,
                   SQLLEN bufferLength, SQLLEN* indicator, size_t* consumed, tDiag* diag) {
    *consumed = 0;
    if (value.isNull) {
        if (!indicator) return Fail(diag, "22002", "Indicator variable required but not supplied");
        *indicator = SQL_NULL_DATA;
        return SQL_SUCCESS;
    }
    if (IsCharType(cType) || cType == SQL_C_BINARY) {
        return PutBytes(value.bytes, offset, cType != SQL_C_BINARY, target, bufferLength, indicator,
                        consumed, diag);
    }
    if (!IsFixedSize(cType)) return Fail(diag, "HY003", "Program type out of range");
    if (!target) return Fail(diag, "HY009", "Invalid use of null pointer");
    const SQLRETURN rc = PutFixed(value.bytes, cType, target, diag);
    if (rc != SQL_ERROR) {
        if (indicator) *indicator = SQLLEN(FixedSize(cType));
        *consumed = FixedSize(cType);
    }
    return rc;
}

bool IsDataAtExec(const tParamBinding& b) {
    return b.ioType != SQL_PARAM_OUTPUT && b.indicator &&
           (*b.indicator == SQL_DATA_AT_EXEC || *b.indicator <= SQL_LEN_DATA_AT_EXEC_OFFSET);
}

tParamRecord CaptureParam(SQLUSMALLINT number, const tParamBinding& b, const tValue* sent) {
    tParamRecord r;
    const SQLLEN indicator = b.indicator ? *b.indicator : SQL_NTS;
    r.fixed = {number,         b.ioType,  b.cType, b.sqlType, b.columnSize, b.decimals,
               b.bufferLength, indicator, nullptr, -1,        nullptr};
    if (b.ioType == SQL_PARAM_OUTPUT) {
        r.text = "OUT";
        return r;
    }
    if (IsDataAtExec(b)) {
        if (sent) r.value = *sent;
    } else if (indicator != SQL_NULL_DATA) {
        r.value.isNull = false;
        r.value.bytes = BoundBytes(b, indicator);
    }
    r.fixed.byteCount = r.value.isNull ? -1 : SQLLEN(r.value.bytes.size());
    r.text = ValueText(r.value, b.cType);
    return r;
}

SQLRETURN PutText(const std::string& text, SQLCHAR* out, SQLLEN capacity, SQLLEN* length) {
    if (length) *length = SQLLEN(text.size());
    if (!out || capacity <= 0) return SQL_SUCCESS;
    const size_t n = std::min(text.size(), size_t(capacity - 1));
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return n < text.size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

}  // namespace recodbc
