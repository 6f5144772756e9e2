// The filter conditions of a table file as data: the conditions that every key cursor ANDs in,
// the condition that hides deleted records, and the extended filter levels.
#include <cctype>
#include <cstring>
#include <memory>

#include "lib_common/retcodes.h"
#include "server/filter/filterelement.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/tables/dbtable.h"

namespace {

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

}  // namespace

bool tISAMFile::AppendSubstring(tString& out, const char* function, tFilterElement& text,
                                tFilterElement& start, tFilterElement* length) {
    tString call(function);
    tString startSql;
    if (!text.AppendSQL(call) || !start.AppendSQL(startSql)) return false;
    call += ",";
    call += startSql;
    call += ",";
    if (length) {
        if (!length->AppendSQL(call)) return false;
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

bool tISAMFile::AddFilterWhere(bool whereOpen) {
    if (!HasFilter()) return whereOpen;
    for (i32 i = 0; i < filterList.Count(); ++i) {
        sql += whereOpen ? " AND " : " WHERE ";
        whereOpen = true;
        sql += "(";
        sql += filterList.Get(i)->text;
        sql += ")";
    }
    return true;
}

bool tISAMFile::AddDeletedWhere(bool whereOpen) {
    if (!deletedFilter) return whereOpen;
    sql += whereOpen ? " AND " : " WHERE ";
    sql += "D_E_L_E_T_ = ' '";
    return true;
}

i32 tISAMFile::FindFilter(i16 level) const {
    for (i32 i = 0; i < filterList.Count(); ++i) {
        if (filterList.Get(i)->level == level) return i;
    }
    return -1;
}
