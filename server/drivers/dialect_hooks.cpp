// Filter-hook pieces that several dialects write alike.
#include "server/drivers/dialect_hooks.h"

#include <cstdio>

#include "server/tables/dbtable.h"

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
