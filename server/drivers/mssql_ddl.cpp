// SQL Server DDL: column definitions, default constraints and identity record numbers of CREATE
// TABLE, and the session-parameter table GML_PARAM.
#include <strings.h>

#include "lib_base/printer.h"
#include "server/drivers/mssql.h"
#include "server/tables/dbtable.h"

void tMSSQLConnection::SqlType(tString& out, u8 letter, i32 length) const {
    ColumnType(out, letter, length, length == 11 ? textType.GetText() : "IMAGE");
}

void tMSSQLConnection::DefaultName(tString& out, const char* table, const char* field) {
    out += table;
    out += "_";
    out += field;
    out += "_DF";
}

void tMSSQLConnection::FieldDefinition(tString& out, const char* table, const char* field,
                                       u8 letter, i32 length) {
    out += field;
    out += " ";
    SqlType(out, letter, length);
    if (letter == 'M') return;  // memo columns take NULL and have no default
    out += " NOT NULL";
    if (strcasecmp(field, kRecnoColumn) == 0 && UseAutoRecno(table)) {
        out += " IDENTITY (1,1)";
        BasePrintf("[INFO] Table %s using R_E_C_N_O_ as Identity Field.\n", table);
        return;
    }
    out += " CONSTRAINT ";
    DefaultName(out, table, field);
    DefaultClause(out, letter, length);
}

void tMSSQLConnection::CreateTable(const tTableDefinition& def, tString& sql) {
    sql = "CREATE TABLE dbo.";
    sql += def.GetName();
    sql += "(";
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField& field = *def.GetField(i);
        if (i > 0) sql += ",";
        FieldDefinition(sql, def.GetName(), field.GetName(), field.GetType(), field.GetLen());
    }
    sql += ")";
    AppendTableSpace(sql);
}

bool tMSSQLConnection::CreateGMLParam() {
    return CreateParamTable("create index GML_PARAM1 on GML_PARAM( PARAM_SESSION, PARAM_NAME )",
                            "tMSSQLConnection::CreateGMLParam");
}
