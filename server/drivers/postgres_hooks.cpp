// The PostgreSQL table file's filter hooks: containment by position(), substring() and the
// functions of client filters that PostgreSQL can say.
#include <strings.h>

#include <cctype>
#include <cstdio>

#include "server/dispatch/dbtable.h"
#include "server/drivers/postgres.h"
#include "server/filter/filterelement.h"

namespace {

// The SQL of an operand, or false when it has none.
bool Emit(tFilterElement& element, tString& sql) {
    element.EmitSQL(sql);
    return element.IsTranslated();
}

// Whether text is a plain decimal integer (blanks around it allowed) that fits value.
bool ParsePlainInteger(const char* text, i32& value) {
    while (*text == ' ') ++text;
    const char* digits = text;
    i64 n = 0;
    while (std::isdigit(static_cast<unsigned char>(*text))) {
        n = n * 10 + (*text++ - '0');
        if (n > 0x7FFFFFFF) return false;
    }
    if (text == digits) return false;
    while (*text == ' ') ++text;
    if (*text) return false;
    value = static_cast<i32>(n);
    return true;
}

bool IsNamed(const tString& name, const char* function) {
    return strcasecmp(name.GetText(), function) == 0;
}

// The condition that a field holds its empty value; false for a type without one.
bool EmptyCondition(const tField& field, tString& out) {
    char text[48];
    switch (field.GetType()) {
        case 'A':
        case 'C':
        case 'D':
            out += field.GetName();
            out += " = '";
            out += tString(field.GetLen() + 1, ' ');
            out += "'";
            return true;
        case 'B':
        case 'F':
        case 'N':
        case 'P':
        case 'R':
        case 'Z':
            std::snprintf(text, sizeof text, ",%u) = 0.0 ", static_cast<u32>(field.GetDecimals()));
            out += "ROUND(";
            out += field.GetName();
            out += text;
            return true;
        case 'L':
            out += field.GetName();
            out += " = 'F'";
            return true;
        default:
            return false;
    }
}

}  // namespace

bool tPostgresISAMFile::ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) {
    tString rightSql;
    const tField* field = right.FindField();
    if (field && field->GetType() == 'C') {
        char length[16];
        std::snprintf(length, sizeof length, "%u", static_cast<u32>(field->GetLen()));
        rightSql += " rpad ( ";
        rightSql += field->GetName();
        rightSql += ",";
        rightSql += length;
        rightSql += ") ";
    } else if (!Emit(right, rightSql)) {
        return false;
    }
    tString leftSql;
    if (!Emit(left, leftSql)) return false;
    out += "position(";
    out += rightSql;
    out += " in ";
    out += leftSql;
    out += ")>0";
    return true;
}

bool tPostgresISAMFile::SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                                   tFilterElement* length) {
    tString call(" substring(");
    if (!Emit(text, call)) return false;
    call += ",";
    tString startSql;
    if (!Emit(start, startSql)) return false;
    call += startSql;
    call += ",";
    if (length) {
        if (!Emit(*length, call)) return false;
    } else {
        // The rest of the field from the start, as the client's SUBSTR without a length reads.
        const tField* field = text.FindField();
        i32 from = 0;
        if (!field || !ParsePlainInteger(startSql, from) || from < 1 || from > field->GetLen()) {
            return false;
        }
        call += IntToString(field->GetLen() - from + 1);
    }
    call += ")";
    out += call;
    return true;
}

bool tPostgresISAMFile::MapFunction(tString& name, tFilterElement* argument, tString& replacement,
                                    tString&) {
    if (IsNamed(name, "LOWER") || IsNamed(name, "UPPER")) return true;
    if (IsNamed(name, "STRTRAN")) {
        name = "REPLACE";
        return true;
    }
    if (IsNamed(name, "EMPTY")) {
        const tField* field = argument ? argument->FindField() : nullptr;
        return field && EmptyCondition(*field, replacement);
    }
    return false;
}
