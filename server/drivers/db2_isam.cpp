// The DB2 table file: key cursors with FETCH FIRST and FOR READ ONLY, the sentinel range of a
// key cursor without key conditions, the prepared record fetch, character codes as CHR() calls,
// the index clause, and the filter hooks in DB2 SQL (LOCATE, SUBSTR and the function names).
#include <utility>

#include "lib_common/sqltext.h"
#include "server/drivers/db2.h"
#include "server/drivers/dialect_hooks.h"
#include "server/filter/filterelement.h"
#include "server/tables/dbtable.h"

namespace {

constexpr i16 kDB2RowCount = 40;

bool IsTextType(u8 type) { return type == 'C' || type == 'D' || type == 'L'; }

}  // namespace

tGenericFile* tDB2Connection::NewISAMFile(tCommBuffer& reply,
                                          const std::shared_ptr<tTableDefinitionShared>& def,
                                          u32 lockOwner) {
    return new tDB2ISAMFile(this, def, reply, lockOwner);
}

tDB2ISAMFile::tDB2ISAMFile(tDBConnection* connection, std::shared_ptr<tTableDefinitionShared> def,
                           tCommBuffer& reply, u32 lockOwner)
    : tISAMFile(connection, std::move(def), reply, lockOwner) {
    PrepareRecordFetch();
    connection->SetRowCount(kDB2RowCount);
}

bool tDB2ISAMFile::CharFunc(tString& out, u8 c, bool afterFunction, bool first, bool last) {
    if (!first && !afterFunction) out += " ||";
    out += " CHR(";
    out += UIntToStr(c);
    out += ")";
    if (!last) out += " || ";
    return true;
}

void tDB2ISAMFile::AddAfterOrder() {
    const i16 rows = connection->GetRowCount();
    if (rows != 0) {
        const tString count = IntToString(rows);
        sql += " FETCH FIRST ";
        sql += count;
        sql += " ROWS ONLY OPTIMIZE FOR ";
        sql += count;
        sql += " ROWS";
    }
    sql += " FOR READ ONLY";
}

void tDB2ISAMFile::RecnoParamMarker() { sql += " = ?"; }

// The bounds hold every value of the first key field, so that DB2 reads the index from its end.
bool tDB2ISAMFile::AddKeyBounds(i32 keyFields, const tIndexDefinition* index, i32, bool backward,
                                bool whereOpen) {
    if (keyFields > 0 || !index || index->GetFieldCount() == 0) return whereOpen;
    const tField* field = GetTableDef()->GetField(index->GetField(0));
    // A condition written before stays joined to the bound.
    sql += whereOpen ? " AND " : " WHERE ";
    sql += " ";
    sql += field->GetName();
    const bool text = IsTextType(field->GetType());
    if (backward) {
        sql += text ? " <= chr(255)" : " <= 999999999999999";
    } else {
        sql += text ? " >= chr(0)" : " >= -999999999999999";
    }
    return true;
}

void tDB2ISAMFile::AddIndexSpace() { connection->IndexSpaceClause(sql, 0); }

bool tDB2ISAMFile::ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) {
    tString rightSql;
    tString leftSql;
    if (!right.AppendSQL(rightSql) || !left.AppendSQL(leftSql)) return false;
    out += "LOCATE(";
    out += rightSql;
    out += ",";
    out += leftSql;
    out += ")>0";
    // The result of a function may be empty, which LOCATE finds everywhere.
    for (const auto* operand : {&right, &left}) {
        if (!operand->IsFunction()) continue;
        out += " AND LENGTH(";
        out += operand == &right ? rightSql : leftSql;
        out += ")>0";
    }
    return true;
}

bool tDB2ISAMFile::SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                              tFilterElement* length) {
    return AppendSubstring(out, " SUBSTR(", text, start, length);
}

bool tDB2ISAMFile::MapFunction(tString& name, tFilterElement* argument, tString& replacement,
                               tString& suffix) {
    if (MapFunctionName(name, {"SPACE", "LEFT", "RIGHT"},
                        {{"LOWER", "LCASE"},
                         {"UPPER", "UCASE"},
                         {"ASC", "ASCII"},
                         {"STRTRAN", "REPLACE"},
                         {"LEN", "LENGTH"}})) {
        return true;
    }
    if (IsNamed(name, "TRIM")) {
        name = "RTRIM(LTRIM";
        suffix = ")";
        return true;
    }
    if (IsNamed(name, "EMPTY")) return AppendEmptyArgument(argument, replacement);
    return false;  // ROUND, CHR, VAL and the rest fall back
}
