// The filter conditions of a table file as data: the conditions that every key cursor ANDs in,
// the condition that hides deleted records, and the extended filter levels.
#include <cctype>
#include <cstring>
#include <memory>
#include <vector>

#include "lib_common/retcodes.h"
#include "server/filter/filterelement.h"
#include "server/filter/filterengine.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kFilterExRoutine = "tISAMFile::SetFilterEx";

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

// An extended level holds only a condition that translates whole; an empty expression removes
// the level's condition.
i16 tISAMFile::SetFilterEx(i16 level, const char* expression, tString& translated) {
    const char* refusal = nullptr;
    if (std::strstr(expression, "KEYFLD(")) {
        refusal = "Unsupported Key field in FilterEX.";
    } else if (expression[0] == '@') {
        refusal = "Invalid use of SQL expression in FilterEX.";
    } else if (level == 0) {
        refusal = "Invalid level in FilterEX.";
    }
    if (refusal) {
        connection->SetError(RC_FAILED, kFilterExRoutine, refusal, this);
        return RC_FAILED;
    }
    tString condition;
    if (expression[0] != '\0') {
        // The engine cuts the text it is given at its last quote: it gets a copy of its own.
        std::vector<char> text(expression, expression + std::strlen(expression) + 1);
        tFilterEngine engine(*this, text.data());
        engine.Translate(condition);
        if (!engine.IsTranslated()) {
            tString message("[ERROR] Filter Extended Error.\nExpression [");
            message += expression;
            message += "]";
            connection->SetError(RC_FAILED, kFilterExRoutine, message, this);
            return RC_FAILED;
        }
        translated += condition;
    }
    ReplaceFilter(level, condition);
    return RC_OK;
}

// The level's condition becomes condition; an empty one removes the level's node.
void tISAMFile::ReplaceFilter(i16 level, const tString& condition) {
    const i32 at = FindFilter(level);
    const bool empty = condition.GetLength() == 0;
    if (at < 0) {
        if (empty) return;
        filterChanged = true;
        filterList.Add(new tFilterNode(level, condition));
        return;
    }
    tFilterNode* node = filterList.Get(at);
    if (std::strcmp(node->text, condition) == 0) return;
    filterChanged = true;
    if (!empty) {
        node->text = condition;
        return;
    }
    std::unique_ptr<tFilterNode> removed(node);
    filterList.Delete(at);
}
