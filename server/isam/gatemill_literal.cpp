// Field values as SQL: the literal writer with the dialect's character functions, number
// rounding, and the base forms of the literal hooks.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "server/isam/gatemill.h"
#include "server/tables/dbtable.h"

namespace {

// The characters before the first NUL, at most max.
i32 BoundedLength(const char* text, i32 max) {
    i32 n = 0;
    while (n < max && text[n]) ++n;
    return n;
}

void AppendChar(tString& out, char c, bool quote) {
    out += c;
    if (quote && c == '\'') out += c;  // a quote inside a literal is doubled
}

}  // namespace

f64 PowInt(f64 base, i32 exponent) {
    if (exponent < 0) return 1.0 / PowInt(base, -exponent);
    f64 result = 1.0;
    for (i32 i = 0; i < exponent; ++i) result *= base;
    return result;
}

f64 RoundDouble(f64 value, i32 decimals) {
    static const f64 kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10,
                                  1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21,
                                  1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29, 1e30, 1e31, 1e32};
    const f64 scale = decimals >= 0 && decimals <= 32 ? kPowers[decimals] : PowInt(10.0, decimals);
    const f64 sign = value >= 0.0 ? 1.0 : -1.0;
    const f64 scaled = sign * value * scale;
    // A number too large to scale has no digits after the point to round (nor has infinity or
    // NaN, which the writers refuse).
    if (!std::isfinite(scaled)) return value;
    f64 whole = 0.0;
    const f64 fraction = std::modf(scaled, &whole);
    if (fraction >= 0.49999999999999) whole += 1.0;
    return sign * whole / scale;
}

bool tISAMFile::NeedsCharFunc(char c) { return c < 32 || c > 125 || c == '\''; }

bool tISAMFile::CharFunc(tString&, u8, bool, bool, bool) { return false; }

bool tISAMFile::AppendLiteral(tString&, const char*, i32, i32&) { return false; }

bool tISAMFile::ContainsExpr(tString&, tFilterElement&, tFilterElement&) { return false; }

bool tISAMFile::SubstrFunc(tString&, tFilterElement&, tFilterElement&, tFilterElement*) {
    return false;
}

bool tISAMFile::MapFunction(tString&, tFilterElement*, tString&, tString&) { return false; }

// A character that the dialect writes as a function closes the quoted run before it; the next
// plain character opens a new run. "last" tells the dialect that nothing of the literal follows
// the character (no further character and no padding), so that it leaves no operator dangling.
void tISAMFile::WriteLiteral(tString& out, const char* text, i32 length, i32 width, bool pad,
                             bool quote, bool charFunctions) {
    bool runOpen = false;
    bool afterFunction = false;
    i32 written = 0;
    if (quote && (length == 0 || !charFunctions || !NeedsCharFunc(text[0]))) {
        out += "'";
        runOpen = true;
    }
    if (charFunctions && AppendLiteral(out, text, length, written)) {
        if (quote && !runOpen) {
            out += "'";
            runOpen = true;
        }
    } else {
        for (; written < length; ++written) {
            const char c = text[written];
            const bool last = written + 1 == width || (written + 1 == length && !pad);
            if (charFunctions && NeedsCharFunc(c)) {
                tString call;
                if (CharFunc(call, static_cast<u8>(c), afterFunction, written == 0, last)) {
                    if (runOpen) out += "'";
                    runOpen = false;
                    out += call;
                    afterFunction = true;
                    continue;
                }
            }
            if (quote && !runOpen) {
                out += "'";
                runOpen = true;
            }
            AppendChar(out, c, quote);
            afterFunction = false;
        }
    }
    if (pad && written < width) {
        if (quote && !runOpen) {
            out += "'";
            runOpen = true;
        }
        out.PadRight(' ', width - written);
    }
    if (quote && runOpen) out += "'";
}

bool tISAMFile::ValueToSql(i16 fieldNo, tString& out, const char* record, bool pad, bool quote,
                           bool charFunctions) {
    const tField* field = mirror->GetField(fieldNo);
    if (!field->IsData()) return false;
    const char* value = record + field->GetOffset();
    const i32 width = field->GetLen();
    switch (field->GetType()) {
        case 'C':
            WriteLiteral(out, value, BoundedLength(value, width), width, pad, quote, charFunctions);
            return true;
        case 'D':
            WriteLiteral(out, value, BoundedLength(value, 8), width, true, quote, charFunctions);
            return true;
        case 'L': {
            const char logical = value[0] == ' ' ? 'F' : value[0];
            WriteLiteral(out, &logical, logical ? 1 : 0, 1, false, quote, charFunctions);
            return true;
        }
        case 'N': {
            f64 number;
            std::memcpy(&number, value, sizeof number);
            if (!std::isfinite(number)) return false;
            char text[400];
            std::snprintf(text, sizeof text, "%.10f", RoundDouble(number, field->GetDecimals()));
            out += text;
            return true;
        }
        case 'M':
            return true;
        default:
            out += " null ";
            return true;
    }
}
