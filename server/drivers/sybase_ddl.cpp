// Sybase DDL: CREATE TABLE with its table space, the session-parameter table GML_PARAM, TRUNCATE,
// and column changes, which rebuild the table through a copy named <table>_BKP and copy the
// rows back in blocks of record numbers.
#include <memory>

#include "lib_base/printer.h"
#include "lib_common/configcache.h"
#include "lib_common/sqltext.h"
#include "server/drivers/sybase.h"
#include "server/isam/dbprocess.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kStructureRoutine = "tSybaseConnection::AlterStructure";

// Whether the columns take the change as they are: a float keeps any length and decimals.
bool TakenInPlace(const tActionField& a) {
    if (a.actions == 0 || a.Has(tActionField::kDecimalsChange)) return true;
    return a.Has(tActionField::kLengthChange) && a.newType == 'N';
}

// Whether the rebuild copies the column's values: it stays, and keeps its type or becomes a
// character column from anything but a memo.
bool IsCopied(const tActionField& a) {
    if (a.Has(tActionField::kAdd) || a.Has(tActionField::kDrop)) return false;
    return !a.Has(tActionField::kTypeChange) || (a.newType == 'C' && a.oldType != 'M');
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
    tString tableSpace;
    DBProcess().GetConfig().GetStringEx(GetDBType(), alias, "TableSpace", "", tableSpace);
    if (tableSpace.GetLength() > 0) {
        sql += " ON ";
        sql += tableSpace;
    }
}

bool tSybaseConnection::CreateGMLParam() {
    const char* routine = "tSybaseConnection::CreateGMLParam";
    std::unique_ptr<tODBCStatement> stmt = Statement();
    return stmt->ExecDirect(
               "create table GML_PARAM(PARAM_NAME VarChar(50) not null,PARAM_SESSION Smallint not "
               "null, PARAM_VALUE VarChar(50) not null)",
               routine, 1) &&
           stmt->ExecDirect(
               "create unique index GML_PARAM1 on GML_PARAM( PARAM_SESSION, PARAM_NAME )", routine,
               1);
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

bool tSybaseConnection::AlterStructure(const char* table, tArray<tActionField>& actions,
                                       u8 hasRecDel) {
    if (!CheckAlterNames(table, actions, kStructureRoutine)) return false;
    tString backup(table);
    backup += "_BKP";
    std::unique_ptr<tODBCStatement> stmt = Statement();
    tString sql;
    if (CanOpen(backup, nullptr)) {
        if (KeepsBackup(table, backup, kStructureRoutine)) return false;
        sql = "drop table ";
        sql += backup;
        if (!stmt->ExecDirect(sql, kStructureRoutine, 1)) return false;
    }
    sql = "select * into ";
    sql += backup;
    sql += " from ";
    sql += table;
    if (!stmt->ExecDirect(sql, kStructureRoutine, 1)) return false;
    AddPrimaryKey(sql, backup);
    IndexSpaceClause(sql, 0);
    if (!stmt->ExecDirect(sql, kStructureRoutine, 1)) return false;
    sql = "drop table ";
    sql += table;
    if (!stmt->ExecDirect(sql, kStructureRoutine, 1)) return false;
    {
        tTableDefinitionExclusive def(table, alias);
        def.SetFieldCapacity(actions.Count() + 3);
        for (i32 i = 0; i < actions.Count(); ++i) {
            const tActionField& a = *actions.Get(i);
            if (a.Has(tActionField::kDrop)) continue;
            def.AddField(a.name, a.newType, static_cast<i16>(a.newLength), a.newDecimals, true,
                         true);
        }
        def.AddField(kDeletedColumn, 'C', 1, 0, true, true);
        def.AddField(kRecnoColumn, 'R', 4, 0, false, true);
        if (hasRecDel) def.AddField(kRecDelColumn, 'R', 4, 0, false, true);
        CreateTable(def, sql);
    }
    if (!stmt->ExecDirect(sql, kStructureRoutine, 1)) return false;
    return CopyBack(*stmt, table, actions, hasRecDel);
}

// The rows of <table>_BKP into the new table, in blocks of record numbers up to the backup's
// highest.
bool tSybaseConnection::CopyBack(tODBCStatement& stmt, const char* table,
                                 tArray<tActionField>& actions, u8 hasRecDel) {
    tString backup(table);
    backup += "_BKP";
    const tString insert = CopyBackText(table, backup, actions, hasRecDel);
    if (insert.GetLength() == 0) {
        BasePrintf(
            "[WARNING] (tSybaseConnection::AlterStructure) Structure too diferent. No data "
            "restored from [%s]\n",
            backup.GetText());
        return true;
    }
    tString sql("select max(R_E_C_N_O_) from ");
    sql += backup;
    if (!stmt.ExecDirect(sql, kStructureRoutine, 1) || !stmt.Fetch()) return false;
    const f64 highest = stmt.FieldAsDouble(0);
    stmt.Close();
    return ExecInBlocks(insert, kStructureRoutine, highest, 0);
}

tString tSybaseConnection::CopyBackText(const char* table, const char* backup,
                                        tArray<tActionField>& actions, u8 hasRecDel) {
    tString names;
    tString sources;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (!IsCopied(a)) continue;
        names += a.name;
        names += ",";
        if (a.Has(tActionField::kTypeChange)) {
            sources += "convert(varchar(255),";
            sources += a.name;
            sources += ")";
        } else if (a.newType == 'C' && a.Has(tActionField::kLengthChange) &&
                   a.oldLength > a.newLength) {
            sources += "substring(";
            sources += a.name;
            sources += ",1,";
            sources += IntToString(a.newLength);
            sources += ")";
        } else {
            sources += a.name;
        }
        sources += ",";
    }
    if (names.GetLength() == 0) return names;
    const char* reserved =
        hasRecDel ? "D_E_L_E_T_,R_E_C_N_O_,R_E_C_D_E_L_" : "D_E_L_E_T_,R_E_C_N_O_";
    tString sql("INSERT INTO ");
    sql += table;
    sql += "(";
    sql += names;
    sql += reserved;
    sql += ") select ";
    sql += sources;
    sql += reserved;
    sql += " from ";
    sql += backup;
    return sql;
}
