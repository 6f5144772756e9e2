// Sybase connection and catalogue: construction of main and child connections, the connect
// sequence, the probes of sysobjects and sysindexes, the table list, columns described from
// syscolumns, indexes from sysindexes through INDEX_COL with the record-number primary key added
// where it is missing, the highest record number and the row limit.
#include <cstring>
#include <memory>

#include "lib_base/printer.h"
#include "lib_common/configcache.h"
#include "lib_common/sqltext.h"
#include "server/drivers/sybase.h"
#include "server/isam/dbprocess.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kCanOpenRoutine = "tSybaseConnection::CanOpen";
constexpr const char* kDescribeRoutine = "tSybaseConnection::DescribeTable";
constexpr const char* kIndexesRoutine = "tSybaseConnection::DescribeIndexes";

bool FindsRow(tODBCStatement& stmt, const char* sql, const char* routine) {
    stmt.SetRetrieveData(0);  // only whether a row comes back
    return stmt.ExecDirect(sql, routine, 1) && stmt.Fetch();
}

}  // namespace

tSybaseConnection::tSybaseConnection(const char* dbType, const tString& alias, const tString& user,
                                     const tString& password)
    : tSybaseConnection(dbType, alias, user, password, ODBCLibrary()) {}

tSybaseConnection::tSybaseConnection(const char* dbType, const tString& alias, const tString& user,
                                     const tString& password, tODBCLibrary& library)
    : tTSQLConnection(dbType, alias, user, password, library) {}

tSybaseConnection::tSybaseConnection(const tSybaseConnection& parent)
    : tTSQLConnection("SYBASE", parent) {}

tTSQLConnection* tSybaseConnection::NewChild() { return new tSybaseConnection(*this); }

tStatement* tSybaseConnection::NewStatement() { return Statement().release(); }

bool tSybaseConnection::Connect() {
    if (!tODBCConnection::Connect()) return false;
    tString text;
    if (GetInfoString(SQL_DBMS_VER, text) != SQL_ERROR && text.GetLength() > 0) {
        ReadLeadingNumber(text, version);
    }
    if (DBProcess().GetConfig().GetBoolEx(GetDBType(), alias, "ForceIsolation", 1)) {
        Statement()->ExecDirect(IsOldServer() ? "SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED"
                                              : "SET TRANSACTION ISOLATION LEVEL 0",
                                "tSybaseConnection::Connect()", 1);
    }
    return true;
}

bool tSybaseConnection::CanOpen(const char* table, const char* index) {
    const bool withIndex = index && *index;
    if (!IsSqlIdentifier(table) || (withIndex && !IsSqlIdentifier(index))) return false;
    tString sql(withIndex ? "SELECT name FROM sysindexes " : "SELECT name FROM sysobjects ");
    sql += NoLock();
    sql += "WHERE name = '";
    sql += withIndex ? index : table;
    sql += withIndex ? "' AND indid > 0 AND indid < 255" : "'";
    return FindsRow(*Statement(), sql, kCanOpenRoutine);
}

bool tSybaseConnection::SPExist(const char* name) {
    if (!IsSqlIdentifier(name)) return false;
    tString upper(name);
    upper.Upper();
    tString sql("SELECT name FROM sysobjects ");
    sql += NoLock();
    sql += " WHERE type = 'P' and name = '";
    sql += upper;
    sql += "'";
    return FindsRow(*Statement(), sql, "tSybaseConnection::SPExist");
}

void tSybaseConnection::ListTables(tString& sql) {
    sql = "SELECT name FNAMF1 FROM sysobjects ";
    sql += NoLock();
    sql +=
        " WHERE sysstat & 0xf in (3) and name not like '#%' and name not like '%FK' ORDER BY "
        "name";
}

f64 tSybaseConnection::GetRecCount(const char* table) {
    if (!IsSqlIdentifier(table)) return -1.0;
    tString sql("SELECT MAX(R_E_C_N_O_) FROM dbo.");
    sql += table;
    if (IsOldServer()) sql += " NOLOCK ";
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->ExecDirect(sql, "tSybaseConnection::GetRecCount", 1) || !stmt->Fetch()) return -1.0;
    return stmt->FieldAsDouble(0);
}

bool tSybaseConnection::SetRowCount(i16 rows) {
    return SendRowCount(rows, "tSybaseConnection::SetRowCount");
}

bool tSybaseConnection::CountsAny(tODBCStatement& stmt, const char* sql, const char* routine) {
    return stmt.ExecDirect(sql, routine, 1) && stmt.Fetch() && stmt.FieldAsDouble(0) > 0.0;
}

bool tSybaseConnection::DescribeTable(tTableDefinition& def) {
    if (!IsSqlIdentifier(def.GetName())) return false;
    std::unique_ptr<tODBCStatement> stmt = Statement();
    tString sql("SELECT COUNT(*) from dbo.syscolumns ");
    sql += NoLock();
    sql += " where id = object_id ('dbo.";
    sql += def.GetName();
    sql += "')";
    if (!CountsAny(*stmt, sql, kDescribeRoutine)) return false;
    sql = "SELECT name, type, length from syscolumns ";
    sql += NoLock();
    sql += " where id = object_id('dbo.";
    sql += def.GetName();
    sql += "') order by colid ASC";
    if (!stmt->ExecDirect(sql, kDescribeRoutine, 1)) return false;
    while (stmt->Fetch()) AddDescribedColumn(def, *stmt);
    return true;
}

void tSybaseConnection::AddDescribedColumn(tTableDefinition& def, tODBCStatement& stmt) {
    tString name;
    stmt.FieldAsString(name, 0);
    const int type = static_cast<int>(stmt.FieldAsDouble(1));
    const tColumnMap map = MapColumnType(type, stmt.FieldAsDouble(2), false);
    const bool reserved =
        std::strcmp(name, kRecnoColumn) == 0 || std::strcmp(name, kRecDelColumn) == 0;
    if (map.letter == 'X') {
        BasePrintf(
            "[WARNING] (tSybaseConnection::DescribeTable) Table [%s] unsupported field [%s] type "
            "[%d].\n",
            def.GetName(), name.GetText(), type);
    }
    def.AddField(name, map.letter, map.length, map.decimals, !reserved && map.letter != 'X', true);
}

bool tSybaseConnection::DescribeIndexes(tTableDefinition& def) {
    if (!IsSqlIdentifier(def.GetName())) return false;
    std::unique_ptr<tODBCStatement> stmt = Statement();
    tString sql("SELECT count(*) from dbo.sysindexes ");
    sql += NoLock();
    sql += " where id = object_id ('dbo.";
    sql += def.GetName();
    sql += "') and indid <> 0 ";
    const bool counted = stmt->ExecDirect(sql, kIndexesRoutine, 1);
    bool recnoIndexFound = false;
    if (counted && stmt->Fetch() && stmt->FieldAsDouble(0) > 0.0) {
        stmt->Close();
        sql =
            "SELECT x.name, i.colid from sysindexes x, syscolumns c, syscolumns i where "
            "x.id=object_id ('dbo.";
        sql += def.GetName();
        sql +=
            "') and (x.id=c.id) and (x.id=i.id) and (c.colid<=keycnt) and "
            "(i.name=INDEX_COL('dbo.";
        sql += def.GetName();
        sql += "',x.indid,c.colid)) order by x.name, c.colid ASC";
        if (stmt->ExecDirect(sql, kIndexesRoutine, 1)) recnoIndexFound = ReadIndexes(def, *stmt);
    }
    if (!recnoIndexFound) {
        GetRecnoIndex(def.GetName(), sql);
        stmt->ExecDirect(sql, kIndexesRoutine, 1);  // a failure is logged; the table still opens
    }
    return counted;
}

bool tSybaseConnection::ReadIndexes(tTableDefinition& def, tODBCStatement& stmt) {
    const i16 deleted = FindFieldNo(def, kDeletedColumn);
    bool recnoIndexFound = false;
    bool anyRow = false;
    std::unique_ptr<tIndexDefinition> index;
    bool indexUsable = true;  // every key column of the current index is a field of def
    tString indexName;
    while (stmt.Fetch()) {
        anyRow = true;
        stmt.FieldAsString(indexName, 0);
        const f64 colid = stmt.FieldAsDouble(1);
        if (!index || std::strcmp(index->GetName(), indexName) != 0) {
            if (index && indexUsable && !CloseIndex(def, std::move(index))) recnoIndexFound = true;
            index.reset(new tIndexDefinition(indexName, false));
            indexUsable = true;
        }
        if (!indexUsable) continue;
        // The definition's fields are the table's columns in order: column id n is field n - 1.
        if (colid < 1.0 || colid > def.GetFieldCount()) {
            BasePrintf(
                "[WARNING] (tSybaseConnection::DescribeIndexes) Table [%s] index [%s] column "
                "[%.0f] NOT FOUND - INDEX IGNORED.\n",
                def.GetName(), indexName.GetText(), colid);
            indexUsable = false;
            continue;
        }
        const i16 fieldNo = static_cast<i16>(colid - 1.0);
        if (fieldNo != deleted) index->AddField(fieldNo);
    }
    if (index && indexUsable && !CloseIndex(def, std::move(index))) recnoIndexFound = true;
    if (!anyRow) {
        BasePrintf("[WARNING] (tSybaseConnection::DescribeIndexes) NO INDEXES FOUND for table %s\n",
                   def.GetName());
    }
    return recnoIndexFound;
}
