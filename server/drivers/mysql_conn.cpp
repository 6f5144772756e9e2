// MySQL connection and catalogue: the session start, the check-up block, table and index
// existence, columns described from an empty select and indexes from "show index", the highest
// record number, and the literal and duplicate-key rules of this database.
#include <strings.h>

#include <cstring>
#include <functional>
#include <memory>

#include "lib_base/printer.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "lib_common/sqltext.h"
#include "server/drivers/mysql.h"
#include "server/isam/dbprocess.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kDescribeRoutine = "tMySQLConnection::DescribeTable";
constexpr const char* kIndexesRoutine = "tMySQLConnection::Indexes";

// Sizes up to which the driver's long and bit columns are read as characters.
constexpr SQLULEN kLongCharLimit = 2048;
constexpr SQLULEN kVarcharLimit = 8200;
constexpr SQLULEN kMaxFieldLength = 32766;  // a field's length is 16 bits

// The driver's column types as the catalogue maps them.
enum class tColumnKind { Char, Text, Number, Unsupported };

tColumnKind KindOf(SQLSMALLINT sqlType, SQLULEN size) {
    switch (sqlType) {
        case SQL_WLONGVARCHAR:
        case SQL_WCHAR:
        case SQL_LONGVARBINARY:
            return size <= kLongCharLimit ? tColumnKind::Char : tColumnKind::Text;
        case SQL_WVARCHAR:
        case SQL_CHAR:
            return tColumnKind::Char;
        case SQL_BIT:
        case SQL_VARCHAR:
            return size <= kVarcharLimit ? tColumnKind::Char : tColumnKind::Unsupported;
        case SQL_LONGVARCHAR:
            // A TEXT memo that CreateTable made describes as a long character column of 65535.
            return size <= kVarcharLimit ? tColumnKind::Char : tColumnKind::Text;
        default:
            return IsNumberSqlType(sqlType) ? tColumnKind::Number : tColumnKind::Unsupported;
    }
}

// The descriptor of the bound result column of that name, or null.
const tColumnDesc* FindColumn(const tStatement& stmt, const char* name) {
    for (i16 i = 0; i < stmt.GetColumnCount(); ++i) {
        if (strcasecmp(stmt.GetColumns()[i].name, name) == 0) return &stmt.GetColumns()[i];
    }
    return nullptr;
}

// The text of a bound character column in the current row, upper-cased.
tString UpperText(const tColumnDesc* column) {
    tString text(column && column->type == 'C' && column->returnedLength > 0 ? column->value.text
                                                                             : "");
    text.Upper();
    return text;
}

bool ContainsUpper(const tString& haystack, const char* needle) {
    tString upper(needle);
    upper.Upper();
    return haystack.Find(upper) >= 0;
}

}  // namespace

tMySQLConnection::tMySQLConnection(const char* dbType, const tString& alias, const tString& user,
                                   const tString& password)
    : tODBCConnection(dbType, alias, user, password) {}

tMySQLConnection::tMySQLConnection(const char* dbType, const tString& alias, const tString& user,
                                   const tString& password, tODBCLibrary& library)
    : tODBCConnection(dbType, alias, user, password, library) {}

std::unique_ptr<tMySQLStmt> tMySQLConnection::Statement() {
    return std::unique_ptr<tMySQLStmt>(new tMySQLStmt(this));
}

tStatement* tMySQLConnection::NewStatement() { return Statement().release(); }

bool tMySQLConnection::Run(tODBCStatement& stmt, const char* sql, const char* routine) {
    return stmt.ExecDirect(sql, routine, 1);
}

bool tMySQLConnection::SPExist(const char*) { return false; }
bool tMySQLConnection::IsMemoAsBlob() { return false; }

bool tMySQLConnection::Connect() {
    if (!tODBCConnection::Connect()) return false;
    std::unique_ptr<tMySQLStmt> stmt = Statement();
    if (stmt->ExecDirect(
            "select name from mysql.func where name ='mscharindex' and type = 'function'",
            "tMySQLConnection::Connect", 0) &&
        stmt->Fetch()) {
        charIndex = true;
    }
    const bool blob = DBProcess().GetConfig().GetBoolEx(GetDBType(), alias, "MemoAsBlob", 0);
    memoType = blob ? "longblob" : "text";
    return true;
}

bool tMySQLConnection::InitialCheckUp(tString& report) {
    report += "--------------- Initial Connection Check-Up ---------------";
    report += "\nDatabase......: MYSQL";
    report += "\nEnvironment...: ";
    report += alias;
    report += "\nMemo Type.....: ";
    report += memoType;
    report += "\n";
    report += "-----------------------------------------------------------\n\n";
    return tODBCConnection::InitialCheckUp(report);
}

void tMySQLConnection::AppendLiteral(tString& sql, const char* value) {
    if (!value || !std::strchr(value, '\\')) {
        AppendQuoted(sql, value);
        return;
    }
    sql += "CONCAT(";
    bool runOpen = false;
    for (const char* p = value; *p; ++p) {
        if (*p == '\\') {
            sql += runOpen ? "'," : "";
            sql += "CHAR(92)";
            if (p[1]) sql += ",";
            runOpen = false;
            continue;
        }
        if (!runOpen) sql += '\'';
        runOpen = true;
        if (*p == '\'') sql += '\'';
        sql += *p;
    }
    if (runOpen) sql += '\'';
    sql += ")";
}

bool tMySQLConnection::CanOpen(const char* table, const char* index) {
    if (index && *index) return HasIndex(table, index);
    if (!IsSqlIdentifier(table)) return false;
    std::unique_ptr<tMySQLStmt> stmt = Statement();
    stmt->SetRetrieveData(0);  // only whether the table answers
    tString sql("select * from ");
    sql += table;
    sql += " where 1 = 2";
    return Run(*stmt, sql, "tMySQLConnection::CanOpen");
}

// Rows of "show index" until one has the index's key name; a table that is missing or not
// readable is not reported.
bool tMySQLConnection::HasIndex(const char* table, const char* index) {
    if (!IsSqlIdentifier(table) || !IsSqlIdentifier(index)) return false;
    std::unique_ptr<tMySQLStmt> stmt = Statement();
    tString sql("show index from ");
    sql += table;
    if (!stmt->ExecDirect(sql, "tMySQLConnection::CanOpen", 0)) return false;
    const tColumnDesc* keyName = FindColumn(*stmt, "Key_name");
    tString wanted(index);
    wanted.Upper();
    while (keyName && stmt->Fetch()) {
        if (UpperText(keyName) == wanted) return true;
    }
    return false;
}

f64 tMySQLConnection::GetRecCount(const char* table) {
    if (!IsSqlIdentifier(table)) return -1.0;
    tString sql("SELECT MAX(R_E_C_N_O_) MAX FROM ");
    sql += OrEmpty(GetOwner());
    sql += table;
    std::unique_ptr<tMySQLStmt> stmt = Statement();
    // MAX of no rows is NULL, read as 0.0.
    if (Run(*stmt, sql, "tMySQLConnection::GetRecCount") && stmt->Fetch()) {
        return stmt->FieldAsDouble(0);
    }
    return -1.0;
}

bool tMySQLConnection::ClearTable(const char* table) {
    if (!IsSqlIdentifier(table)) return false;
    tString sql("TRUNCATE TABLE ");
    sql += table;
    std::unique_ptr<tMySQLStmt> stmt = Statement();
    return Run(*stmt, sql, "tMySQLConnection::ClearTable");
}

void tMySQLConnection::ListTables(tString& sql) { sql = "show tables"; }

bool tMySQLConnection::IsDuplicateKey(i32 native) { return native == 1062; }

bool tMySQLConnection::IsRecnoKeyError(const tTableDefinition& def) {
    tString error(lastError);
    error.Upper();
    if (ContainsUpper(error, "for key 'PRIMARY'")) return true;
    tString named("for key '");  // MySQL 8 names the key with its table
    named += def.GetName();
    named += ".PRIMARY'";
    if (ContainsUpper(error, named)) return true;
    // Old servers number the key; key 12 is another key than key 1.
    const char* kNumbered = "FOR KEY 1";
    for (i32 at = error.Find(kNumbered); at >= 0; at = error.Find(kNumbered, at + 1)) {
        const char next = error.At(at + static_cast<i32>(std::strlen(kNumbered)));
        if (next < '0' || next > '9') return true;
    }
    return false;
}

bool tMySQLConnection::DescribeTable(tTableDefinition& def) {
    return VisitColumns(def.GetName(), kDescribeRoutine,
                        [&](const char* name, SQLSMALLINT sqlType, SQLULEN size) {
                            AddDescribedColumn(def, name, sqlType, size);
                        });
}

bool tMySQLConnection::VisitColumns(const char* table, const char* routine,
                                    const std::function<tColumnVisit>& visit) {
    if (!IsSqlIdentifier(table)) return false;
    std::unique_ptr<tMySQLStmt> stmt = Statement();
    stmt->SetRetrieveData(0);  // the columns are described, not bound
    tString sql("select * from ");
    sql += table;
    sql += " where 1 = 2";
    if (!Run(*stmt, sql, routine)) return false;
    const SQLHSTMT handle = stmt->GetHandle();
    SQLSMALLINT count = 0;
    SQLRETURN rc = GM_ODBC(*this, SQLNumResultCols, handle, &count);
    for (SQLUSMALLINT c = 1; !IsODBCFailure(rc) && c <= count; ++c) {
        SQLCHAR name[129] = {};
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT sqlType = 0;
        SQLULEN size = 0;
        SQLSMALLINT decimals = 0;
        SQLSMALLINT nullable = 0;
        rc = GM_ODBC(*this, SQLDescribeCol, handle, c, name, sizeof name, &nameLength, &sqlType,
                     &size, &decimals, &nullable);
        if (!IsODBCFailure(rc)) visit(reinterpret_cast<const char*>(name), sqlType, size);
    }
    if (!IsODBCFailure(rc)) return true;
    HandleError(stmt.get(), routine, sql, rc, 1);
    return false;
}

void tMySQLConnection::AddDescribedColumn(tTableDefinition& def, const char* columnName,
                                          SQLSMALLINT sqlType, SQLULEN size) {
    tString name(columnName);
    name.Upper();
    const bool isData = name != kRecnoColumn && name != kRecDelColumn;
    tColumnKind kind = KindOf(sqlType, size);
    if (kind == tColumnKind::Char && size > kMaxFieldLength) kind = tColumnKind::Unsupported;
    switch (kind) {
        case tColumnKind::Text:
            def.AddField(name, 'M', 10, 0, isData, true);
            break;
        case tColumnKind::Char:
            def.AddField(name, 'C', static_cast<i16>(size), 0, isData, true);
            break;
        case tColumnKind::Number:
            def.AddField(name, 'N', 15, 6, isData, true);
            break;
        case tColumnKind::Unsupported:
            BasePrintf(
                "[WARNING] (tMySQLConnection::DescribeTable) Table [%s] unsupported field [%s] "
                "type [%s].\n",
                def.GetName(), name.GetText(), "x");
            def.AddField(name, 'X', 0, 0, false, true);
            break;
    }
}

bool tMySQLConnection::DescribeIndexes(tTableDefinition& def) {
    if (!IsSqlIdentifier(def.GetName())) return false;
    std::unique_ptr<tMySQLStmt> stmt = Statement();
    tString sql("show index from ");
    sql += def.GetName();
    const bool described = Run(*stmt, sql, kIndexesRoutine);
    const tColumnDesc* keyColumn = described ? FindColumn(*stmt, "Key_name") : nullptr;
    const tColumnDesc* fieldColumn = described ? FindColumn(*stmt, "Column_name") : nullptr;
    bool recnoIndexFound = false;
    bool anyRow = false;
    std::unique_ptr<tIndexDefinition> index;
    bool usable = true;  // every key column of the index is a field of the definition
    // Closes the index being built: the record-number index is only noted, others are added.
    const auto close = [&] {
        if (!index) return;
        if (index->GetFieldCount() == 1 && index->GetField(0) == def.GetRecnoField()) {
            recnoIndexFound = true;
        } else if (usable && index->GetFieldCount() > 0) {
            def.AddIndex(std::move(index));
        }
        index.reset();
        usable = true;
    };
    while (keyColumn && fieldColumn && stmt->Fetch()) {
        anyRow = true;
        const tString key = UpperText(keyColumn);
        const tString column = UpperText(fieldColumn);
        if (!index || key != tString(index->GetName())) {
            close();
            index.reset(new tIndexDefinition(key, false));
        }
        if (column == kDeletedColumn) continue;
        const i16 fieldNo = FindFieldNo(def, column);
        if (fieldNo < 0) {
            // An expression or a column the definition lacks: no ISAM order.
            if (usable) {
                tString text;
                text.sprintf("[WARNING] Index [%s] of table [%s] skipped: no field [%s].\n",
                             key.GetText(), def.GetName(), column.GetText());
                WriteLog(text, 0);
            }
            usable = false;
        } else {
            index->AddField(fieldNo);
        }
    }
    close();
    if (described && !anyRow) {
        BasePrintf("[WARNING] (tMySQLConnection::DescribeIndexes) NO INDEXES FOUND for table %s\n",
                   def.GetName());
    }
    if (!recnoIndexFound) {
        GetRecnoIndex(def.GetName(), sql);
        Run(*stmt, sql, "tMySQLConnection::DescribeIndexes");
    }
    return described;
}
