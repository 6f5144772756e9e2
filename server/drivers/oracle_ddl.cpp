// Oracle DDL texts and the session parameter table: CREATE TABLE with its column types and
// defaults, the record-number primary key, the index storage clause, TRUNCATE, GML_PARAM and
// this session's parameter rows.
#include "server/drivers/oracle_ddl.h"

#include <memory>

#include "lib_common/configcache.h"
#include "server/drivers/ddl_shared.h"
#include "server/drivers/oracle.h"
#include "server/isam/dbprocess.h"
#include "server/tables/dbtable.h"

namespace {

// The tablespace key (TableSpace or IndexSpace) by the chain of the alias; empty when unset.
tString SpaceSetting(tOracleConnection& conn, const char* key) {
    tString space;
    DBProcess().GetConfig().GetStringEx(conn.GetDBType(), conn.GetAlias(), key, "", space);
    return space;
}

}  // namespace

void AppendOracleType(tString& sql, u8 letter, i32 length, const tString& memoType) {
    AppendTypeName(sql, letter, length,
                   {"CHAR", "NUMBER", "NUMBER", length == 11 ? "CLOB" : memoType.GetText()});
}

void AppendOracleDefault(tString& sql, u8 letter, i32 length) {
    switch (ColumnClassOf(letter)) {
        case tColumnClass::Text:
            sql += " DEFAULT '";
            sql += DefaultBlanks(static_cast<u32>(length > 0 ? length : 0));
            sql += "'";
            break;
        case tColumnClass::Float:
        case tColumnClass::Integer:
            sql += " DEFAULT 0.0";
            break;
        case tColumnClass::Logical:
            sql += " DEFAULT 'F'";
            break;
        case tColumnClass::Memo:
        case tColumnClass::None:
            break;
    }
}

void AppendOracleColumn(tString& sql, const char* name, u8 letter, i32 length,
                        const tString& memoType) {
    sql += name;
    sql += " ";
    AppendOracleType(sql, letter, length, memoType);
    if (letter == 'M') return;
    AppendOracleDefault(sql, letter, length);
    sql += " NOT NULL ";
}

void tOracleConnection::CreateTable(const tTableDefinition& def, tString& sql) {
    sql = "CREATE TABLE ";
    sql += GetOwner();
    sql += def.GetName();
    sql += "(";
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField& field = *def.GetField(i);
        if (i > 0) sql += ",";
        AppendOracleColumn(sql, field.GetName(), field.GetType(), field.GetLen(), GetMemoType());
    }
    sql += ")";
    const tString space = SpaceSetting(*this, "TableSpace");
    if (space.GetLength() == 0) return;
    sql += " TABLESPACE ";
    sql += space;
}

bool tOracleConnection::AddPrimaryKey(tString& sql, const char* table) {
    sql = "ALTER TABLE ";
    sql += GetOwner();
    sql += table;
    sql += " ADD CONSTRAINT ";
    sql += table;
    sql += "_PK PRIMARY KEY (R_E_C_N_O_)";
    const tString space = SpaceSetting(*this, "IndexSpace");
    if (space.GetLength() > 0) {
        sql += " USING INDEX TABLESPACE ";
        sql += space;
    }
    return true;
}

void tOracleConnection::GetRecnoIndex(const char* table, tString& sql) {
    AddPrimaryKey(sql, table);
}

void tOracleConnection::IndexSpaceClause(tString& sql, u8) {
    const tString space = SpaceSetting(*this, "IndexSpace");
    if (space.GetLength() == 0) return;
    sql += " TABLESPACE ";
    sql += space;
}

bool tOracleConnection::ClearTable(const char* table) {
    tString sql("TRUNCATE TABLE ");
    sql += table;
    return MakeStatement()->ExecDirect(sql, "tOracleConnection::ClearTable", 1);
}

bool tOracleConnection::CreateGMLParam() {
    const char* routine = "tOracleConnection::CreateGMLParam";
    std::unique_ptr<tOracleStmt> stmt = MakeStatement();
    return stmt->ExecDirect(
               "create table GML_PARAM(PARAM_NAME VarChar2(50) not null,PARAM_SESSION Smallint "
               "not null, PARAM_VALUE VarChar2(50) not null)",
               routine, 1) &&
           stmt->ExecDirect("create index GML_PARAM1 on GML_PARAM( PARAM_SESSION, PARAM_NAME )",
                            routine, 1);
}

bool tOracleConnection::SetParam(const char* name, const char* value) {
    return WriteParamRow(*MakeStatement(), "*", name, value, "userenv('sessionid')",
                         "tOracleConnection::SetParam", 1);
}
