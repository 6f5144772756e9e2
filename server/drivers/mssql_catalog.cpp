// SQL Server catalogue: table, index and procedure existence, the table list, columns described
// from syscolumns and systypes, indexes from sysindexes and sysindexkeys with the record-number
// primary key added where it is missing, and the questions about R_E_C_N_O_.
#include <strings.h>

#include <cstring>
#include <memory>

#include "lib_base/printer.h"
#include "lib_common/sqltext.h"
#include "server/drivers/mssql.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kCanOpenRoutine = "tMSSQLConnection::CanOpen";
constexpr const char* kDescribeRoutine = "tMSSQLConnection::DescribeTable";
constexpr const char* kIndexesRoutine = "tMSSQLConnection::DescribeIndexes";

constexpr int kTypeInt = 56;
constexpr int kIdentityStatus = 0x80;

// Whether the statement runs and gives a row; what the probes ask. Nothing is logged.
bool ProbeFindsRow(tODBCStatement& stmt, const char* sql, const char* routine) {
    return stmt.ExecDirect(sql, routine, 0) && stmt.Fetch();
}

}  // namespace

bool tMSSQLConnection::CanOpen(const char* table, const char* index) {
    const bool withIndex = index && *index;
    if (!IsSqlIdentifier(table) || (withIndex && !IsSqlIdentifier(index))) return false;
    std::unique_ptr<tODBCStatement> stmt = Statement();
    stmt->SetRetrieveData(0);  // only whether a row comes back
    tString sql("SELECT name FROM sysobjects ");
    if (!withIndex) {
        sql += viewEnabled ? "WHERE sysstat & 0xf IN (2,3) AND id = object_id('"
                           : "WHERE sysstat & 0xf IN (3) AND id = object_id('";
        sql += table;
        sql += "')";
        return ProbeFindsRow(*stmt, sql, kCanOpenRoutine);
    }
    if (viewEnabled) {
        sql += "WHERE sysstat & 0xf IN (2) AND id = object_id('";
        sql += table;
        sql += "')";
        if (ProbeFindsRow(*stmt, sql, kCanOpenRoutine)) return true;  // a view has no indexes
    }
    sql = "SELECT name FROM sysindexes WHERE name = '";
    sql += index;
    sql += "' AND indid > 0 AND indid < 255";
    return ProbeFindsRow(*stmt, sql, kCanOpenRoutine);
}

bool tMSSQLConnection::SPExist(const char* name) {
    if (!IsSqlIdentifier(name)) return false;
    tString upper(name);
    upper.Upper();
    std::unique_ptr<tODBCStatement> stmt = Statement();
    stmt->SetRetrieveData(0);
    tString sql("SELECT name FROM sysobjects WHERE type = 'P' and name = '");
    sql += upper;
    sql += "'";
    return ProbeFindsRow(*stmt, sql, "tMSSQLConnection::SPExist");
}

void tMSSQLConnection::ListTables(tString& sql) {
    sql = "SELECT name FNAMF1 FROM sysobjects ";
    sql += viewEnabled ? "WHERE sysstat & 0xf in (2,3) " : "WHERE sysstat & 0xf in (3) ";
    sql += "and name not like '#%' and name not like '%FK' ORDER BY name";
}

bool tMSSQLConnection::DescribeTable(tTableDefinition& def) {
    if (!IsSqlIdentifier(def.GetName())) return false;
    if (IsAutoRecno(def.GetName())) def.SetAutoRecno(true);
    tString sql(
        "SELECT c.name, t.type, c.length , c.isnullable , c.cdefault , c.status from syscolumns "
        "c , systypes t WHERE c.id = object_id('dbo.");
    sql += def.GetName();
    sql += "') AND c.xusertype = t.xusertype ORDER BY colid ASC";
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->ExecDirect(sql, kDescribeRoutine, 1)) return false;
    i32 rows = 0;
    i32 unsupported = 0;
    while (stmt->Fetch()) {
        ++rows;
        if (!AddDescribedColumn(def, *stmt)) ++unsupported;
    }
    if (rows == 0) {
        BasePrintf(
            "[WARNING] (tMSSQLConnection::DescribeTable) Table [%s] NOT FOUND IN DATABASE.\n",
            def.GetName());
        return false;
    }
    if (unsupported == rows) {
        BasePrintf(
            "[WARNING] (tMSSQLConnection::DescribeTable) Table [%s] DOES NOT HAVE ANY SUPPORTED "
            "COLUMN.\n",
            def.GetName());
        return false;
    }
    return true;
}

// Adds the current row's column to def with its warnings; false when its type is unsupported.
bool tMSSQLConnection::AddDescribedColumn(tTableDefinition& def, tODBCStatement& stmt) {
    tString name;
    stmt.FieldAsString(name, 0);
    const f64 type = stmt.FieldAsDouble(1);
    const bool nullable = stmt.FieldAsDouble(3) > 0.0;
    const bool hasDefault = stmt.FieldAsDouble(4) > 0.0;
    const bool identity = (static_cast<i64>(stmt.FieldAsDouble(5)) & kIdentityStatus) != 0;
    const tColumnMap map = MapColumnType(static_cast<int>(type), stmt.FieldAsDouble(2), true);
    const char* table = def.GetName();
    const bool reserved =
        strcasecmp(name, kRecnoColumn) == 0 || strcasecmp(name, kRecDelColumn) == 0;
    def.AddField(name, map.letter, map.length, map.decimals, !reserved && map.letter != 'X', true);
    if (map.letter == 'X') {
        BasePrintf(
            "[WARNING] (tMSSQLConnection::DescribeTable) Table [%s] UNSUPPORTED FIELD [%s] type "
            "[%4.0f] - IGNORED.\n",
            table, name.GetText(), type);
    }
    if (identity) {
        def.SetAutoRecno(true);
        BasePrintf("[INFO] Table [%s] using IDENTITY field [%s].\n", table, name.GetText());
    }
    if (map.letter != 'M') {
        if (nullable) {
            BasePrintf(
                "[WARNING] (tMSSQLConnection::DescribeTable) ACCEPT NULL in table [%s] field [%s] "
                "type [%4.0f].\n",
                table, name.GetText(), type);
        }
        if (!hasDefault && !identity) {
            BasePrintf(
                "[WARNING] (tMSSQLConnection::DescribeTable) DEFAULT CONSTRAINT UNDEFINED in "
                "table [%s] field [%s] type [%4.0f].\n",
                table, name.GetText(), type);
        }
    }
    if (strcasecmp(name, kRecnoColumn) == 0 && static_cast<int>(type) != kTypeInt) {
        BasePrintf(
            "[WARNING] (tMSSQLConnection::DescribeTable) EXPECTED INTEGER field on table [%s] "
            "field [%s] type [%4.0f].\n",
            table, name.GetText(), type);
    }
    return map.letter != 'X';
}

bool tMSSQLConnection::DescribeIndexes(tTableDefinition& def) {
    if (!IsSqlIdentifier(def.GetName())) return false;
    tString sql(
        "SELECT x.name as indexname, c.name as fieldname from sysindexes x, syscolumns c , "
        "sysindexkeys k where x.id = object_id('dbo.");
    sql += def.GetName();
    sql +=
        "') AND c.id = x.id AND k.id = x.id AND c.colid = k.colid AND k.indid = x.indid  AND "
        "x.indid BETWEEN 1 AND 254 AND SUBSTRING(x.name,1,1) != '_' AND INDEXPROPERTY(x.id, "
        "x.name, 'IsStatistics') = 0 AND INDEXPROPERTY(x.id, x.name, 'IsAutoStatistics') = 0 "
        "ORDER BY x.indid, k.keyno";
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->ExecDirect(sql, kIndexesRoutine, 1)) return false;
    bool recnoIndexFound = false;
    bool anyRow = false;
    std::unique_ptr<tIndexDefinition> index;
    bool indexUsable = true;  // every key column of the current index is a field of def
    tString indexName;
    tString fieldName;
    while (stmt->Fetch()) {
        stmt->FieldAsString(indexName, 0);
        stmt->FieldAsString(fieldName, 1);
        anyRow = true;
        if (!index || std::strcmp(index->GetName(), indexName) != 0) {
            if (index && indexUsable && !CloseIndex(def, std::move(index))) recnoIndexFound = true;
            index.reset(new tIndexDefinition(indexName, false));
            indexUsable = true;
        }
        if (!indexUsable || std::strcmp(fieldName, kDeletedColumn) == 0) continue;
        const i16 fieldNo = FindFieldNo(def, fieldName);
        if (fieldNo < 0) {
            BasePrintf(
                "[WARNING] (tMSSQLConnection::DescribeIndexes) Table [%s] index [%s] field [%s] "
                "NOT FOUND - INDEX IGNORED.\n",
                def.GetName(), indexName.GetText(), fieldName.GetText());
            indexUsable = false;
            continue;
        }
        index->AddField(fieldNo);
    }
    if (index && indexUsable && !CloseIndex(def, std::move(index))) recnoIndexFound = true;
    if (!anyRow) {
        BasePrintf("[WARNING] (tMSSQLConnection::DescribeIndexes) NO INDEXES FOUND for table %s\n",
                   def.GetName());
    }
    if (recnoIndexFound || def.GetRecnoField() < 0) return true;
    GetRecnoIndex(def.GetName(), sql);
    const bool added = stmt->ExecDirect(sql, kIndexesRoutine, 1);
    return viewEnabled || added;  // a view takes no constraint
}

f64 tMSSQLConnection::GetRecCount(const char* table) {
    if (!IsSqlIdentifier(table)) return -1.0;
    tString sql("SELECT MAX(R_E_C_N_O_) FROM dbo.");
    sql += table;
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->ExecDirect(sql, "tMSSQLConnection::GetRecCount", 1) || !stmt->Fetch()) return -1.0;
    return stmt->FieldAsDouble(0);
}

bool tMSSQLConnection::RecnoAcceptNull(const char* table) {
    return CountRecnoColumns(table, "isnullable = 1", "tMSSQLConnection::RecnoAcceptNull");
}

bool tMSSQLConnection::IsAutoRecno(const char* table) {
    return CountRecnoColumns(table, "status & 128 in (128)", "tMSSQLConnection::IsAutoRecno");
}

// Whether the table's R_E_C_N_O_ column meets the condition; false when the query fails.
bool tMSSQLConnection::CountRecnoColumns(const char* table, const char* condition,
                                         const char* routine) {
    if (!IsSqlIdentifier(table)) return false;
    tString sql("select count(*) from syscolumns where name = 'R_E_C_N_O_' and id = object_id( '");
    sql += table;
    sql += "' ) and ";
    sql += condition;
    std::unique_ptr<tODBCStatement> stmt = Statement();
    return stmt->ExecDirect(sql, routine, 1) && stmt->Fetch() && stmt->FieldAsDouble(0) > 0.0;
}
