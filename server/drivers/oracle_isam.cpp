// The Oracle table file: its hint settings, the key cursors' hints and row limits, the first and
// last block loads through row_number(), key bounds, the bound record number, and the filter
// hooks in Oracle's SQL (INSTR, SUBSTR, CHR and the function names).
#include "server/drivers/oracle_isam.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "lib_base/printer.h"
#include "lib_common/configcache.h"
#include "server/drivers/dialect_hooks.h"
#include "server/filter/filterelement.h"
#include "server/isam/dbprocess.h"
#include "server/tables/dbtable.h"

namespace {

// The rows a block load asks for beyond the row count, so that the database stops just past what
// the window takes.
constexpr i32 kBlockRowsExtra = 10;

// Types whose key bounds are characters: chr(0) and chr(255) lie below and above every value.
bool IsCharacterKey(u8 type) { return type == 'C' || type == 'D' || type == 'L'; }

// The deepest key position at which another index of the table departs from this one, within
// this one's key: bounding the fields up to there steers the database to this index.
i32 LastBoundedPosition(const tTableDefinition& def, const tIndexDefinition& index) {
    const i32 count = index.GetFieldCount();
    i32 deepest = 0;
    for (i32 j = 0; j < def.GetIndexCount(); ++j) {
        const tIndexDefinition* other = def.GetIndex(j);
        if (other == &index) continue;
        i32 position = 0;
        while (position < count && position < other->GetFieldCount() &&
               other->GetField(position) == index.GetField(position)) {
            ++position;
        }
        deepest = std::max(deepest, position);
    }
    return std::min(deepest, count - 1);
}

}  // namespace

tGenericFile* tOracleConnection::NewISAMFile(tCommBuffer& reply,
                                             const std::shared_ptr<tTableDefinitionShared>& def,
                                             u32 lockOwner) {
    return new tOracleISAMFile(this, def, reply, lockOwner);
}

tOracleISAMFile::tOracleISAMFile(tOracleConnection* connection,
                                 std::shared_ptr<tTableDefinitionShared> def, tCommBuffer& reply,
                                 u32 lockOwner)
    : tISAMFile(connection, std::move(def), reply, lockOwner), oracle(*connection) {
    connection->SetRowCount(kKeyCursorRows);
    // The most specific setting present wins: the connection's, the alias's, the table's.
    tConfigCache& config = DBProcess().GetConfig();
    tString aliasSection("ORACLE/");
    aliasSection += connection->GetAlias();
    tString modeSection(aliasSection);
    modeSection += "_USEHINT";
    tString indexSection(aliasSection);
    indexSection += "_INDEXHINT";
    hintMode = connection->UseHintFirst();
    hintMode = config.GetInt(aliasSection, "usehint", hintMode);
    hintMode = config.GetInt(modeSection, GetTableName(), hintMode);
    indexHint = connection->UseHintIndex() != 0;
    indexHint = config.GetBool(aliasSection, "indexhint", indexHint) != 0;
    indexHint = config.GetBool(indexSection, GetTableName(), indexHint) != 0;
    if (connection->GetOCI().GetVersion() < 8) {
        BasePrintf(
            "[WARNING] Oracle Prepared Stmt cache DISABLED. Unsupported when using "
            "OCIVersion=7\n");
        connection->DisablePreparedStmt();
    }
    PrepareRecordFetch();
}

tOracleISAMFile::~tOracleISAMFile() = default;

bool tOracleISAMFile::GoTop() {
    return LoadTopBlock(
        [this] {
            SetKeyCursorRows();
            BuildBlockSelect(false);
        },
        "tOracleISAMFile::GoTop", "GoTop");
}

bool tOracleISAMFile::GoBottom() {
    return LoadBottomBlock(
        [this] {
            SetKeyCursorRows();
            BuildBlockSelect(true);
        },
        "tOracleISAMFile::GoBottom", nullptr);
}

// The block loads carry the first-rows hint and, without a filter or an order of the filter's
// own, the index hint, whatever the hint settings say: the window is cut by row_number(), and
// only the index of the order lets the database stop there.
void tOracleISAMFile::BuildBlockSelect(bool descending) {
    const tString rows = IntToString(connection->GetRowCount() + kBlockRowsExtra);
    sql = "SELECT R_E_C_N_O_ FROM ( select  /*+ FIRST_ROWS(";
    sql += rows;
    sql += ") ";
    if (!filterIndex && !HasFilter()) {
        sql += descending ? "INDEX_DESC(" : "INDEX_ASC(";
        sql += GetTableName();
        sql += " ";
        if (IsIndexOrder()) {
            sql += GetCurrentIndex()->GetName();
            sql += ")";
        } else {
            sql += GetTableName();
            sql += "_PK )";
        }
    }
    sql += " */ R_E_C_N_O_, row_number() over ( ";
    AddOrderBy(descending);
    sql += " ) rn from ";
    AppendOwnerTable();
    AddDeletedWhere(AddFilterWhere(false));
    sql += " ) where rn between 1 and ";
    sql += rows;
}

void tOracleISAMFile::AddRowLimit() {
    if (hintMode != kRownumLimit) return;
    tString limited("SELECT * FROM ( ");
    limited += sql;
    limited += " ) WHERE rownum < ";
    limited += IntToString(connection->GetRowCount());
    sql = limited;
}

void tOracleISAMFile::AddHint(bool, bool forward) {
    if (hintMode != kFirstRowsHint && !indexHint) return;
    if (std::strcmp(GetTableName(), "AUDIT_TRAIL") == 0) return;
    sql += " /*+ ";
    if (!filterIndex) {
        if (hintMode == kFirstRowsHint) {
            sql += "FIRST_ROWS(";
            sql += IntToString(connection->GetRowCount() + kBlockRowsExtra);
            sql += ") ";
        }
        if (indexHint && !HasFilter() && IsIndexOrder() && GetCurrentIndex()) {
            sql += forward ? "INDEX_ASC(" : "INDEX_DESC(";
            sql += GetTableName();
            sql += " ";
            sql += GetCurrentIndex()->GetName();
            sql += ") ";
        }
    }
    sql += "*/ ";
}

bool tOracleISAMFile::AddRecnoEquals(f64) {
    sql += " = :1";
    return true;
}

void tOracleISAMFile::RecnoParamMarker() { sql += " = :1"; }

// " WHERE " is written only with a condition after it, so that a cursor whose conditions all
// lie outside the bounded positions stays valid SQL.
bool tOracleISAMFile::AddKeyBounds(i32 first, const tIndexDefinition* index, i32 conditions,
                                   bool upper, bool whereOpen) {
    if (!index) return whereOpen;
    const i32 last = LastBoundedPosition(*mirror, *index);
    for (i32 position = std::max(first, 0); position <= last; ++position) {
        if (!whereOpen) sql += " WHERE ";
        whereOpen = true;
        sql += conditions++ == 0 ? " " : " AND ";
        const tField& field = *mirror->GetField(index->GetField(position));
        sql += field.GetName();
        if (IsCharacterKey(field.GetType())) {
            sql += upper ? " < chr(255)" : " > chr(0)";
        } else {
            sql += upper ? " < 999999999999999" : " > -999999999999999";
        }
    }
    return whereOpen;
}

void tOracleISAMFile::AddIndexSpace() { connection->IndexSpaceClause(sql, 0); }

bool tOracleISAMFile::CharFunc(tString& out, u8 c, bool afterFunction, bool first, bool last) {
    AppendChrCall(out, c, afterFunction, first, last);
    return true;
}

// INSTR finds nothing in a NULL, and a function of a NULL column is NULL: the extra condition
// keeps such rows out as the client's containment does.
bool tOracleISAMFile::ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) {
    tString rightSql;
    tString leftSql;
    if (!right.AppendSQL(rightSql) || !left.AppendSQL(leftSql)) return false;
    out += "INSTR(";
    out += leftSql;
    out += ",";
    out += rightSql;
    out += ")>0";
    if (left.IsFunction()) {
        out += " AND ";
        out += leftSql;
        out += " IS NOT NULL";
    }
    if (right.IsFunction()) {
        out += " AND ";
        out += rightSql;
        out += " IS NOT NULL";
    }
    return true;
}

bool tOracleISAMFile::SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                                 tFilterElement* length) {
    return AppendSubstring(out, " SUBSTR(", text, start, length);
}

bool tOracleISAMFile::MapFunction(tString& name, tFilterElement* argument, tString& replacement,
                                  tString&) {
    if (MapFunctionName(
            name, {"LOWER", "UPPER", "CHR"},
            {{"LEFT", "RPAD"}, {"ASC", "ASCII"}, {"LEN", "LENGTH"}, {"STRTRAN", "REPLACE"}})) {
        return true;
    }
    const bool space = IsNamed(name, "SPACE");
    if (space || IsNamed(name, "TRIM")) {
        tString operand;
        if (!argument || !argument->AppendSQL(operand)) return false;
        replacement = space ? "RPAD(' '," : "TRIM(BOTH ' ' FROM ";
        replacement += operand;
        replacement += ")";
        return true;
    }
    if (IsNamed(name, "EMPTY")) {
        return AppendEmptyArgument(argument, replacement);
    }
    return false;  // ROUND and the rest fall back
}
