// The Oracle catalogue: whether a table, index or procedure exists, the table list, columns and
// indexes described into a definition (the record-number primary key added where it is
// missing), the highest record number and whether R_E_C_N_O_ accepts NULL. Each read has two
// forms: the SYS tables of the connected schema, or the DBA views filtered by the table owner.
#include <cstring>
#include <memory>

#include "lib_base/printer.h"
#include "server/drivers/oracle.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kDescribeRoutine = "tOracleConnection::DescribeTable";
constexpr const char* kIndexesRoutine = "tOracleConnection::DescribeIndexes";

// How a column that the catalogue names is described: the field it becomes, and the warning
// that an unsupported type gets.
struct tColumnMap {
    u8 letter;
    i16 length;
    u16 decimals;
    const char* unsupported;  // null, "BLOB", "CLOB", or "" for any other type
};

bool StartsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

tColumnMap MapColumn(const char* dataType, f64 dataLength, bool oci8) {
    if (StartsWith(dataType, "CHAR") || std::strcmp(dataType, "VARCHAR2") == 0) {
        return {'C', static_cast<i16>(dataLength), 0, nullptr};
    }
    if (StartsWith(dataType, "NUMBER")) return {'N', 15, 6, nullptr};
    if (StartsWith(dataType, "LONG RAW")) return {'M', 10, 0, nullptr};
    // Large objects need the OCI 8 calls.
    if (StartsWith(dataType, "BLOB")) {
        return oci8 ? tColumnMap{'M', 10, 0, nullptr} : tColumnMap{'X', 0, 0, "BLOB"};
    }
    if (StartsWith(dataType, "CLOB")) {
        return oci8 ? tColumnMap{'M', 11, 0, nullptr} : tColumnMap{'X', 0, 0, "CLOB"};
    }
    return {'X', 0, 0, ""};
}

void WarnUnsupported(const char* kind, const char* table, const char* column,
                     const char* dataType) {
    if (*kind) {
        BasePrintf(
            "[WARNING] (tOracleConnection::DescribeTable) Table [%s] unsupported %s field [%s] "
            "type [%s] using OCIVersion=7.\n",
            table, kind, column, dataType);
        return;
    }
    BasePrintf(
        "[WARNING] (tOracleConnection::DescribeTable) Table [%s] unsupported field [%s] type "
        "[%s].\n",
        table, column, dataType);
}

// Runs the catalogue text upper-cased whole (names and literals alike); true when a row came.
bool RunUpper(tStatement& stmt, tString& sql, const char* routine, u8 report) {
    sql.Upper();
    return stmt.ExecDirect(sql, routine, report) && stmt.Fetch();
}

// A catalogue probe: no log line when it fails, so a missing object is a plain false.
bool Probe(tOracleConnection& conn, tString& sql, const char* routine) {
    return RunUpper(*conn.MakeStatement(), sql, routine, 0);
}

// "#" after the SYS.OBJ$ type and the precision columns of servers above version 7.
const char* ColumnMark(tOracleConnection& conn) { return conn.GetVersion() > 7 ? "#" : ""; }

// "<p>NAME = '<name>' AND <p>OWNER# = userenv('SCHEMAID') AND <p>TYPE#": the schema's object
// of that name in SYS.OBJ$ (p is the table's alias with its dot, or empty).
void AppendObjectFilter(tOracleConnection& conn, tString& sql, const char* p, const char* name) {
    sql += p;
    sql += "NAME = ";
    conn.AppendLiteral(sql, name);
    sql += " AND ";
    sql += p;
    sql += "OWNER# = userenv('SCHEMAID') AND ";
    sql += p;
    sql += "TYPE";
    sql += ColumnMark(conn);
}

// The table's column count; 0 when the table has none or the query failed.
f64 CountColumns(tOracleConnection& conn, const char* table) {
    tString sql;
    if (conn.GetUseSysTables()) {
        sql = "SELECT MAX(COL#) FROM SYS.COL$ C, SYS.OBJ$ O WHERE O.OBJ# = C.OBJ# AND ";
        AppendObjectFilter(conn, sql, "O.", table);
        sql += " IN (2, 3, 4)";
    } else {
        sql = "select count(*) from dba_tab_columns where owner = ";
        conn.AppendLiteral(sql, conn.GetTableOwner());
        sql += " and table_name = ";
        conn.AppendLiteral(sql, table);
    }
    std::unique_ptr<tOracleStmt> stmt = conn.MakeStatement();
    return RunUpper(*stmt, sql, kDescribeRoutine, 1) ? stmt->FieldAsDouble(0) : 0.0;
}

// The columns with their catalogue type names and lengths, in order.
void ColumnsQuery(tOracleConnection& conn, tString& sql, const char* table) {
    if (!conn.GetUseSysTables()) {
        sql =
            "select column_name, data_type, data_length from DBA_TAB_COLUMNS where TABLE_NAME = ";
        conn.AppendLiteral(sql, table);
        sql += " and OWNER = ";
        conn.AppendLiteral(sql, conn.GetTableOwner());
        sql += " ORDER BY column_id";
        return;
    }
    sql =
        "SELECT C.NAME, DECODE( C.TYPE#, 1, 'VARCHAR2', 2, decode(c.scale, null, "
        "decode(c.precision";
    sql += ColumnMark(conn);
    sql +=
        ", null, 'NUMBER', 'FLOAT'),'NUMBER'), 8, 'LONG', 9, 'VARCHAR', 12, 'DATE', 23, 'RAW', "
        "24, 'LONG RAW', 69, 'ROWID', 96,'CHAR', 105, 'MLSLABEL', 106, 'MLSLABEL', 112, 'CLOB', "
        "113 , 'BLOB' , 'UNDEFINED' ) DATA_TYPE, C.LENGTH FROM SYS.COL$ C, SYS.OBJ$ O WHERE "
        "O.OBJ# = C.OBJ# AND ";
    AppendObjectFilter(conn, sql, "O.", table);
    sql += " IN (2, 3, 4) ORDER BY C.OBJ#, C.COL#";
}

// The number of the table's indexes; false when the count query gave no row.
bool CountIndexes(tOracleConnection& conn, const char* table, f64& count) {
    tString sql;
    if (conn.GetUseSysTables()) {
        sql =
            "select count(obj.name) from sys.obj$ obj, sys.ind$ ind, sys.obj$ obji where obj.name "
            "= ";
        conn.AppendLiteral(sql, table);
        sql +=
            " and obj.owner# = userenv('SCHEMAID') and obj.obj# = ind.bo# and ind.obj# = "
            "obji.obj#";
    } else {
        sql = "select count(*) from dba_indexes where owner = ";
        conn.AppendLiteral(sql, conn.GetTableOwner());
        sql += " and table_name = ";
        conn.AppendLiteral(sql, table);
    }
    std::unique_ptr<tOracleStmt> stmt = conn.MakeStatement();
    if (!RunUpper(*stmt, sql, "tOracleConnection::Indexes", 1)) return false;
    count = stmt->FieldAsDouble(0);
    return true;
}

// The indexes' columns, grouped by index name in key order.
void IndexColumnsQuery(tOracleConnection& conn, tString& sql, const char* table) {
    if (conn.GetUseSysTables()) {
        sql =
            "select obji.name INDEX_NAME, col.name COLUMN_NAME from sys.obj$ obj, sys.ind$ ind, "
            "sys.obj$ obji, sys.icol$ icol, sys.col$ col where obj.name = ";
        conn.AppendLiteral(sql, table);
        sql +=
            " and obj.owner# = userenv('SCHEMAID') and obj.obj# = ind.bo# and ind.obj# = "
            "obji.obj# and ind.obj# = icol.obj# and obj.obj# = col.obj# and icol.col# = "
            "col.col# order by obji.name, icol.pos#";
    } else {
        sql = "select index_name, column_name from dba_ind_columns where table_name = ";
        conn.AppendLiteral(sql, table);
        sql += " and table_owner = ";
        conn.AppendLiteral(sql, conn.GetTableOwner());
        sql += " order by index_name, column_position";
    }
    sql.Upper();
}

// Builds the indexes of def from the catalogue's rows, one index per run of equal names.
// D_E_L_E_T_ is never put into a key. The record-number index (R_E_C_N_O_ alone, or after
// D_E_L_E_T_) is noted and not added. An index over a column that names no field (an
// expression of a function-based index) is left out with a warning.
class tIndexCollector {
public:
    explicit tIndexCollector(tTableDefinition& def) : def(def) {}

    void Add(const tString& indexName, const tString& column) {
        if (!index || std::strcmp(index->GetName(), indexName) != 0) {
            Finish();
            index.reset(new tIndexDefinition(indexName, false));
            usable = true;
        }
        if (!usable || std::strcmp(column, kDeletedColumn) == 0) return;
        const i16 fieldNo = FindFieldNo(def, column);
        if (fieldNo >= 0) {
            index->AddField(fieldNo);
            return;
        }
        BasePrintf(
            "[WARNING] (tOracleConnection::DescribeIndexes) Table [%s] index [%s] field [%s] NOT "
            "FOUND - INDEX IGNORED.\n",
            def.GetName(), indexName.GetText(), column.GetText());
        usable = false;
    }
    void Finish() {
        std::unique_ptr<tIndexDefinition> done = std::move(index);
        if (!done || !usable || done->GetFieldCount() == 0) return;
        if (done->GetFieldCount() == 1 && done->GetField(0) == def.GetRecnoField()) {
            recnoIndexFound = true;
        } else {
            def.AddIndex(std::move(done));
        }
    }
    bool HasRecnoIndex() const { return recnoIndexFound; }

private:
    tTableDefinition& def;
    std::unique_ptr<tIndexDefinition> index;  // the one being read
    bool usable = true;                       // every key column so far is a field of def
    bool recnoIndexFound = false;
};

// Adds the catalogue's indexes to def; true when the record-number index was among them.
// anyRow tells whether the catalogue listed any index column.
bool ReadIndexes(tOracleConnection& conn, tTableDefinition& def, bool& anyRow) {
    tString sql;
    IndexColumnsQuery(conn, sql, def.GetName());
    std::unique_ptr<tOracleStmt> stmt = conn.MakeStatement();
    if (!stmt->ExecDirect(sql, kIndexesRoutine, 1)) return false;
    tIndexCollector collector(def);
    tString indexName;
    tString column;
    while (stmt->Fetch()) {
        anyRow = true;
        stmt->FieldAsString(indexName, 0);
        stmt->FieldAsString(column, 1);
        collector.Add(indexName, column);
    }
    collector.Finish();
    return collector.HasRecnoIndex();
}

}  // namespace

bool tOracleConnection::CanOpen(const char* table, const char* index) {
    const bool withIndex = index && *index;
    tString sql;
    if (GetUseSysTables()) {
        sql = "SELECT NAME FROM SYS.OBJ$ WHERE ";
        AppendObjectFilter(*this, sql, "", withIndex ? index : table);
        sql += withIndex ? " = 1" : " IN (2,3,4)";
    } else if (withIndex) {
        sql = "SELECT INDEX_NAME FROM DBA_INDEXES WHERE INDEX_NAME = ";
        AppendLiteral(sql, index);
        sql += " and table_owner = ";
        AppendLiteral(sql, GetTableOwner());
    } else {
        sql = "select * from DBA_TABLES where TABLE_NAME = ";
        AppendLiteral(sql, table);
        sql += " and owner =";
        AppendLiteral(sql, GetTableOwner());
    }
    return Probe(*this, sql, "tOracleConnection::CanOpen");
}

bool tOracleConnection::SPExist(const char* name) {
    tString sql;
    if (GetUseSysTables()) {
        sql = "SELECT NAME FROM SYS.OBJ$ WHERE ";
        AppendObjectFilter(*this, sql, "", name);
        sql += " = 7";
    } else {
        sql = "select OBJECT_NAME from DBA_OBJECTS where OWNER = ";
        AppendLiteral(sql, GetTableOwner());
        sql += " and OBJECT_TYPE IN ('PROCEDURE', 'FUNCTION' ) and OBJECT_NAME = ";
        AppendLiteral(sql, name);
    }
    return Probe(*this, sql, "tOracleConnection::SPExist");
}

void tOracleConnection::ListTables(tString& sql) {
    if (GetUseSysTables()) {
        sql =
            "SELECT TABLE_NAME FNAMF1 FROM SYS.USER_TABLES WHERE TABLE_NAME NOT LIKE '%FK' ORDER "
            "BY TABLE_NAME";
    } else {
        sql = "select TABLE_NAME FNAMF1 from DBA_TABLES where owner =";
        AppendLiteral(sql, GetTableOwner());
        sql += " AND TABLE_NAME NOT LIKE '%FK'";
    }
    sql.Upper();
}

bool tOracleConnection::DescribeTable(tTableDefinition& def) {
    const char* table = def.GetName();
    if (IsAutoRecno(table)) def.SetAutoRecno(true);
    if (CountColumns(*this, table) <= 0.0) return false;
    tString sql;
    ColumnsQuery(*this, sql, table);
    sql.Upper();
    std::unique_ptr<tOracleStmt> stmt = MakeStatement();
    if (!stmt->ExecDirect(sql, kDescribeRoutine, 1)) return false;
    bool anyRow = false;
    tString name;
    tString dataType;
    while (stmt->Fetch()) {
        anyRow = true;
        stmt->FieldAsString(name, 0);
        stmt->FieldAsString(dataType, 1);
        const tColumnMap map = MapColumn(dataType, stmt->FieldAsDouble(2), UsesOCI8());
        if (map.unsupported) WarnUnsupported(map.unsupported, table, name, dataType);
        const bool visible = map.letter != 'X' && !StartsWith(name, "R_E_C_");
        def.AddField(name, map.letter, map.length, map.decimals, visible, true);
    }
    return anyRow;
}

// The answer is whether the indexes could be counted. A table without its record-number index
// gets the primary key; a failure of that is recorded and leaves the answer as it is.
bool tOracleConnection::DescribeIndexes(tTableDefinition& def) {
    f64 count = 0.0;
    const bool counted = CountIndexes(*this, def.GetName(), count);
    bool anyRow = false;
    const bool recnoIndexFound = counted && count > 0.0 && ReadIndexes(*this, def, anyRow);
    if (counted && !anyRow) {
        BasePrintf("[WARNING] (tOracleConnection::DescribeIndexes) NO INDEXES FOUND for table %s\n",
                   def.GetName());
    }
    if (recnoIndexFound) return counted;
    tString sql;
    GetRecnoIndex(def.GetName(), sql);
    MakeStatement()->ExecDirect(sql, kIndexesRoutine, 1);
    return counted;
}

f64 tOracleConnection::GetRecCount(const char* table) {
    tString sql("SELECT MAX(R_E_C_N_O_) FROM ");
    sql += GetOwner();
    sql += table;
    std::unique_ptr<tOracleStmt> stmt = MakeStatement();
    if (!stmt->ExecDirect(sql, "tOracleConnection::GetRecCount", 1) || !stmt->Fetch()) return -1.0;
    return stmt->FieldAsDouble(0);
}

bool tOracleConnection::RecnoAcceptNull(const char* table) {
    tString sql(
        "select count(*) from user_tab_columns where column_name = 'R_E_C_N_O_' and table_name "
        "= ");
    AppendLiteral(sql, table);
    sql += " and nullable = 'Y'";
    std::unique_ptr<tOracleStmt> stmt = MakeStatement();
    return stmt->ExecDirect(sql, "tOracleConnection::RecnoAcceptNull", 1) && stmt->Fetch() &&
           stmt->FieldAsDouble(0) > 0.0;
}
