// The PostgreSQL table file's filter hooks: containment by position(), substring() and the
// functions of client filters that PostgreSQL can say.
#include <cstdio>

#include "server/drivers/dialect_hooks.h"
#include "server/drivers/postgres.h"
#include "server/filter/filterelement.h"
#include "server/tables/dbtable.h"

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
    } else if (!right.AppendSQL(rightSql)) {
        return false;
    }
    tString leftSql;
    if (!left.AppendSQL(leftSql)) return false;
    out += "position(";
    out += rightSql;
    out += " in ";
    out += leftSql;
    out += ")>0";
    return true;
}

bool tPostgresISAMFile::SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                                   tFilterElement* length) {
    return AppendSubstring(out, " substring(", text, start, length);
}

bool tPostgresISAMFile::MapFunction(tString& name, tFilterElement* argument, tString& replacement,
                                    tString&) {
    if (MapFunctionName(name, {"LOWER", "UPPER"}, {{"STRTRAN", "REPLACE"}})) return true;
    if (IsNamed(name, "EMPTY")) {
        return AppendEmptyArgument(argument, replacement);
    }
    return false;
}
