// DB2 table DDL: column types and defaults, CREATE TABLE with the storage clauses of the
// configuration, the record-number index and primary key, the clause of every index and the
// creation of GML_PARAM.
#include <memory>

#include "lib_base/printer.h"
#include "lib_common/configcache.h"
#include "lib_common/sqltext.h"
#include "server/drivers/cloudscape.h"
#include "server/drivers/db2.h"
#include "server/isam/dbprocess.h"
#include "server/tables/dbtable.h"

namespace {

// The longest text default DB2 takes.
constexpr u16 kMaxDefaultBlanks = 252;

}  // namespace

void tDB2Connection::ColumnType(tString& sql, u8 type, u16 length) {
    AppendTypeName(sql, type, length,
                   {"VARCHAR", "DOUBLE", "INTEGER", length == 11 ? "CLOB" : "BLOB"});
}

void tDB2Connection::ColumnDefault(tString& sql, u8 type, u16 length) {
    switch (ColumnClassOf(type)) {
        case tColumnClass::Text:
            sql += " DEFAULT '";
            sql += DefaultBlanks(length < kMaxDefaultBlanks ? length : kMaxDefaultBlanks);
            sql += "'";
            break;
        case tColumnClass::Logical:
            sql += " DEFAULT 'F'";
            break;
        case tColumnClass::Float:
            sql += " DEFAULT 0.0";
            break;
        case tColumnClass::Integer:
            sql += " DEFAULT 0";
            break;
        case tColumnClass::Memo:
        case tColumnClass::None:
            break;
    }
}

void tDB2Connection::ColumnDefinition(tString& sql, const char* name, u8 type, u16 length) {
    sql += name;
    sql += " ";
    ColumnType(sql, type, length);
    if (type == 'M') return;  // memos are nullable, without a default
    sql += " NOT NULL ";
    ColumnDefault(sql, type, length);
}

void tDB2Connection::CreateTable(const tTableDefinition& def, tString& sql) {
    sql = "CREATE TABLE ";
    sql += owner;
    sql += def.GetName();
    sql += "(";
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        if (i > 0) sql += ",";
        const tField& field = *def.GetField(i);
        const u16 length = field.GetLen() > 0 ? static_cast<u16>(field.GetLen()) : 0;
        ColumnDefinition(sql, field.GetName(), field.GetType(), length);
    }
    sql += ")";
    GetPartKey(sql);
    GetTableSpace(sql);
    GetIndexSpace(sql);
}

void tDB2Connection::ReadConfig(const char* key, tString& value) {
    DBProcess().GetConfig().GetStringEx(GetDBType(), alias, key, "", value);
}

void tDB2Connection::GetPartKey(tString& sql) {
    tString value;
    ReadConfig("PartKey", value);
    if (value.GetLength() == 0) return;
    sql += " ";
    sql += value;
    sql += " ";
}

void tDB2Connection::GetTableSpace(tString& sql) {
    tString value;
    ReadConfig("TableSpace", value);
    if (value.GetLength() == 0) return;
    sql += " IN ";
    sql += value;
}

void tDB2Connection::GetIndexSpace(tString& sql) {
    tString indexSpace;
    ReadConfig("IndexSpace", indexSpace);
    if (indexSpace.GetLength() == 0) return;
    tString tableSpace;
    ReadConfig("TableSpace", tableSpace);
    if (tableSpace.GetLength() == 0) {
        BasePrintf(
            "[WARNING] (tDB2Connection::GetIndexSpace) Tablespace key is not defined in %s\n",
            "gatemill.ini");
        return;
    }
    sql += " INDEX IN ";
    sql += indexSpace;
}

bool tDB2Connection::AddPrimaryKey(tString& sql, const char* table) {
    sql = "ALTER TABLE ";
    sql += owner;
    sql += table;
    sql += " ADD PRIMARY KEY (R_E_C_N_O_)";
    return true;
}

void tDB2Connection::GetRecnoIndex(const char* table, tString& sql) {
    if (IsSqlIdentifier(table)) {
        tString create("CREATE UNIQUE INDEX ");
        create += table;
        create += "_PK ON ";
        create += table;
        create += "(R_E_C_N_O_ ASC)  PCTFREE 10 MINPCTUSED 10";
        IndexSpaceClause(create, 0);
        Run(create, "tDB2Connection::GetRecnoIndex");  // the primary key reports a failure
    }
    AddPrimaryKey(sql, table);
}

void tDB2Connection::IndexSpaceClause(tString& sql, u8) { sql += " ALLOW REVERSE SCANS"; }

bool tDB2Connection::CreateGMLParam() {
    const char* routine = "tDB2Connection::CreateGMLParam";
    tString sql(
        "create table GML_PARAM(PARAM_NAME VarChar(50) not null,PARAM_SESSION VarChar(50) not "
        "null, PARAM_VALUE VarChar(50) not null)");
    GetTableSpace(sql);
    GetIndexSpace(sql);
    return Run(sql, routine) &&
           Run("create index GML_PARAM1 on GML_PARAM( PARAM_SESSION, PARAM_NAME )", routine);
}
