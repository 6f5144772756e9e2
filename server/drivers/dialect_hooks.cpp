// Filter-hook pieces that several dialects write alike.
#include "server/drivers/dialect_hooks.h"

#include <strings.h>

#include <cstdio>

#include "server/filter/filterelement.h"
#include "server/tables/dbtable.h"

namespace {

bool AppendContainsOperand(tString& out, tFilterElement& operand, i32 shortest) {
    const tField* field = operand.FindField();
    if (field && field->GetType() == 'C' && field->GetLen() >= shortest) {
        out += "CONVERT(CHAR(";
        out += IntToString(field->GetLen());
        out += "),";
        out += field->GetName();
        out += ")";
        return true;
    }
    return operand.AppendSQL(out);
}

}  // namespace

bool IsNamed(const tString& name, const char* function) {
    return strcasecmp(name.GetText(), function) == 0;
}

bool MapFunctionName(tString& name, std::initializer_list<const char*> kept,
                     std::initializer_list<tRenamedFunction> renamed) {
    for (const char* same : kept) {
        if (IsNamed(name, same)) return true;
    }
    for (const tRenamedFunction& r : renamed) {
        if (IsNamed(name, r.client)) {
            name = r.server;
            return true;
        }
    }
    return false;
}

bool AppendEmptyCondition(const tField& field, tString& out) {
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

bool AppendEmptyArgument(tFilterElement* argument, tString& out) {
    const tField* field = argument ? argument->FindField() : nullptr;
    return field && AppendEmptyCondition(*field, out);
}

void AppendCharCall(tString& out, u8 c, bool afterFunction, bool first, bool last) {
    if (!afterFunction && !first) out += " +";
    out += "CHAR(";
    out += IntToString(c);
    out += ")";
    if (!last) out += " + ";
}

void AppendChrCall(tString& out, u8 c, bool afterFunction, bool first, bool last) {
    if (!afterFunction && !first) out += " ||";
    char text[24];
    std::snprintf(text, sizeof text, " CHR(%u%s", static_cast<u32>(c), last ? ")" : ") || ");
    out += text;
}

bool AppendCharIndex(tString& out, tFilterElement& left, tFilterElement& right, i32 shortest) {
    tString text("CHARINDEX(");
    if (!AppendContainsOperand(text, right, shortest)) return false;
    text += ",";
    if (!AppendContainsOperand(text, left, shortest)) return false;
    text += ")>0 ";
    out += text;
    return true;
}
