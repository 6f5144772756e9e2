// Sybase DDL: CREATE TABLE with its table space, the session-parameter table GML_PARAM, TRUNCATE,
// and column changes, which rebuild the table through a copy named <table>_BKP and copy the
// rows back in blocks of record numbers.
#include <memory>

#include "lib_base/printer.h"
#include "lib_common/sqltext.h"
#include "server/drivers/sybase.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kStructureRoutine = "tSybaseConnection::AlterStructure";

// Whether the columns take the change as they are: a float keeps any length and decimals.
bool TakenInPlace(const tActionField& a) {
    if (a.actions == 0 || a.Has(tActionField::kDecimalsChange)) return true;
    return a.Has(tActionField::kLengthChange) && a.newType == 'N';
}

// A column that becomes characters.
void WriteConverted(tString& out, const tActionField& a) {
    out += "convert(varchar(255),";
    out += a.name;
    out += ")";
}

}  // namespace

void tSybaseConnection::CreateTable(const tTableDefinition& def, tString& sql) {
    sql = "CREATE TABLE dbo.";
    sql += def.GetName();
    sql += "(";
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField& field = *def.GetField(i);
        if (i > 0) sql += ",";
        sql += field.GetName();
        if (field.GetType() == 'M') {
            sql += " IMAGE NULL";
            continue;
        }
        tString type;
        ColumnType(type, field.GetType(), field.GetLen(), "");
        if (type.GetLength() == 0) continue;  // a letter without a column type
        sql += " ";
        sql += type;
        DefaultClause(sql, field.GetType(), field.GetLen());
    }
    sql += ")";
    AppendTableSpace(sql);
}

bool tSybaseConnection::CreateGMLParam() {
    return CreateParamTable(
        "create unique index GML_PARAM1 on GML_PARAM( PARAM_SESSION, PARAM_NAME )",
        "tSybaseConnection::CreateGMLParam");
}

bool tSybaseConnection::ClearTable(const char* table) {
    if (!IsSqlIdentifier(table)) return false;
    tString sql("TRUNCATE TABLE ");
    sql += table;
    return Statement()->ExecDirect(sql, "tSybaseConnection::ClearTable", 1);
}

bool tSybaseConnection::AlterTable(const char* table, tArray<tActionField>& actions, u8 hasRecDel) {
    for (i32 i = 0; i < actions.Count(); ++i) {
        if (!TakenInPlace(*actions.Get(i))) return AlterStructure(table, actions, hasRecDel);
    }
    return true;
}

void tSybaseConnection::BackupKey(tString& sql, const char* backup) { AddPrimaryKey(sql, backup); }

bool tSybaseConnection::AlterStructure(const char* table, tArray<tActionField>& actions,
                                       u8 hasRecDel) {
    if (!CheckAlterNames(table, actions, kStructureRoutine)) return false;
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!RebuildEmpty(*stmt, table, actions, hasRecDel, kStructureRoutine)) return false;
    return CopyBack(*stmt, table, actions, hasRecDel);
}

// The rows of <table>_BKP into the new table, in blocks of record numbers up to the backup's
// highest.
bool tSybaseConnection::CopyBack(tODBCStatement& stmt, const char* table,
                                 tArray<tActionField>& actions, u8 hasRecDel) {
    const tString insert = CopyBackInsert(table, actions, hasRecDel, WriteConverted);
    if (insert.GetLength() == 0) {
        BasePrintf(
            "[WARNING] (tSybaseConnection::AlterStructure) Structure too diferent. No data "
            "restored from [%s_BKP]\n",
            table);
        return true;
    }
    tString sql("select max(R_E_C_N_O_) from ");
    sql += table;
    sql += "_BKP";
    if (!stmt.ExecDirect(sql, kStructureRoutine, 1) || !stmt.Fetch()) return false;
    const f64 highest = stmt.FieldAsDouble(0);
    stmt.Close();
    return ExecInBlocks(insert, kStructureRoutine, highest, 0);
}
