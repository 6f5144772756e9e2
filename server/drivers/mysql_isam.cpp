// The MySQL table file: the dialect's hooks for key cursors, the prepared record fetch, literals
// written with CONCAT and CHAR(), and the containment and substring forms of filters; and the
// connection's operation that makes it.
#include <utility>

#include "server/drivers/mysql.h"
#include "server/filter/filterelement.h"
#include "server/tables/dbtable.h"

namespace {

// The characters before the first NUL, at most max.
i32 BoundedLength(const char* text, i32 max) {
    i32 n = 0;
    while (n < max && text[n]) ++n;
    return n;
}

}  // namespace

tGenericFile* tMySQLConnection::NewISAMFile(tCommBuffer& reply,
                                            const std::shared_ptr<tTableDefinitionShared>& def,
                                            u32 lockOwner) {
    return new tMySQLISAMFile(this, def, reply, lockOwner);
}

tMySQLISAMFile::tMySQLISAMFile(tMySQLConnection* connection,
                               std::shared_ptr<tTableDefinitionShared> def, tCommBuffer& reply,
                               u32 lockOwner)
    : tISAMFile(connection, std::move(def), reply, lockOwner), mysql(*connection) {
    PrepareRecordFetch();
    connection->SetRowCount(kKeyCursorRows);
}

bool tMySQLISAMFile::NeedsCharFunc(char c) { return c < 32 || c > 125 || c == '\'' || c == '\\'; }

void tMySQLISAMFile::AddRowLimit() {
    sql += " LIMIT ";
    sql += IntToString(connection->GetRowCount());
}

void tMySQLISAMFile::RecnoParamMarker() { sql += " = ?"; }

bool tMySQLISAMFile::ValueToSql(i16 fieldNo, tString& out, const char* record, bool pad, bool quote,
                                bool charFunctions) {
    const tField& field = *GetMirror().GetField(fieldNo);
    const char* value = record + field.GetOffset();
    char logical = 0;
    i32 length = 0;
    switch (field.GetType()) {
        case 'C':
            length = BoundedLength(value, field.GetLen());
            break;
        case 'D':
            length = BoundedLength(value, 8);
            break;
        case 'L':
            logical = value[0] == ' ' ? 'F' : value[0];
            value = &logical;
            length = logical ? 1 : 0;
            break;
        default:
            return tISAMFile::ValueToSql(fieldNo, out, record, pad, quote, charFunctions);
    }
    if (!field.IsData() || !NeedsConcat(value, length, quote, charFunctions)) {
        return tISAMFile::ValueToSql(fieldNo, out, record, pad, quote, charFunctions);
    }
    WriteConcat(out, value, length, field.GetType() == 'L' ? 1 : field.GetLen());
    return true;
}

// A backslash would escape what follows it in a quoted literal, so there it always asks for
// CHAR(); unquoted text (an audit's values) keeps it as it stands.
bool tMySQLISAMFile::NeedsConcat(const char* text, i32 length, bool quote, bool charFunctions) {
    for (i32 i = 0; i < length; ++i) {
        if (NeedsCharFunc(text[i]) && (charFunctions || (quote && text[i] == '\\'))) return true;
    }
    return false;
}

void tMySQLISAMFile::WriteLiteral(tString& out, const char* text, i32 length, i32 width, bool pad,
                                  bool quote, bool charFunctions) {
    if (quote && NeedsConcat(text, length, quote, charFunctions)) {
        WriteConcat(out, text, length, pad ? width : length);
    } else {
        tISAMFile::WriteLiteral(out, text, length, width, pad, quote, charFunctions);
    }
}

// CONCAT('ab',CHAR(10),'c','  '): quoted runs of plain characters, CHAR() codes between them,
// and the blanks up to the field's width as the last run.
void tMySQLISAMFile::WriteConcat(tString& out, const char* text, i32 length, i32 width) {
    out += "CONCAT(";
    for (i32 i = 0; i < length; ++i) {
        const char c = text[i];
        if (NeedsCharFunc(c)) {
            if (i > 0) out += "',";
            out += "CHAR(";
            out += IntToString(static_cast<u8>(c));
            out += "),'";
        } else {
            if (i == 0) out += "'";
            out += c;
        }
    }
    if (length < width) {
        out += "','";
        out.PadRight(' ', width - length);
    }
    out += "')";
}

bool tMySQLISAMFile::ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) {
    tString rightSql;
    tString leftSql;
    if (!right.AppendSQL(rightSql) || !left.AppendSQL(leftSql)) return false;
    out += mysql.HasCharIndex() ? " mscharindex(" : " LOCATE(";
    out += rightSql;
    out += ",";
    out += leftSql;
    out += ")>0";
    for (tFilterElement* operand : {&right, &left}) {
        if (!operand->IsFunction()) continue;
        out += " AND LENGTH(";
        out += operand == &right ? rightSql : leftSql;
        out += ")>0";
    }
    return true;
}

bool tMySQLISAMFile::SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                                tFilterElement* length) {
    return AppendSubstring(out, " SUBSTRING(", text, start, length);
}
