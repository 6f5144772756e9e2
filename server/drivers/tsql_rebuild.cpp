// The Transact-SQL rebuild of a table through a copy named <table>_BKP: the steps up to the new
// empty table, and the INSERT that copies the kept columns back.
#include <memory>

#include "server/drivers/tsql.h"
#include "server/tables/dbtable.h"

namespace {

// Whether the rebuild copies the column's values: it stays, and keeps its type or becomes a
// character column from anything but a memo.
bool IsCopied(const tActionField& a) {
    if (a.Has(tActionField::kAdd) || a.Has(tActionField::kDrop)) return false;
    return !a.Has(tActionField::kTypeChange) || (a.newType == 'C' && a.oldType != 'M');
}

}  // namespace

bool tTSQLConnection::RebuildEmpty(tODBCStatement& stmt, const char* table,
                                   tArray<tActionField>& actions, u8 hasRecDel,
                                   const char* routine) {
    tString backup(table);
    backup += "_BKP";
    tString sql;
    if (CanOpen(backup, nullptr)) {
        if (KeepsBackup(table, backup, routine)) return false;
        sql = "drop table ";
        sql += backup;
        if (!stmt.ExecDirect(sql, routine, 1)) return false;
    }
    sql = "select * into ";
    sql += backup;
    sql += " from ";
    sql += table;
    if (!stmt.ExecDirect(sql, routine, 1)) return false;
    BackupKey(sql, backup);
    IndexSpaceClause(sql, 0);
    if (!stmt.ExecDirect(sql, routine, 1)) return false;
    sql = "drop table ";
    sql += table;
    if (!stmt.ExecDirect(sql, routine, 1)) return false;
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
    return stmt.ExecDirect(sql, routine, 1);
}

tString tTSQLConnection::CopyBackInsert(const char* table, tArray<tActionField>& actions,
                                        u8 hasRecDel, tConvertWriter convert) {
    tString names;
    tString sources;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (!IsCopied(a)) continue;
        names += a.name;
        names += ",";
        if (a.Has(tActionField::kTypeChange)) {
            convert(sources, a);
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
    sql += table;
    sql += "_BKP";
    return sql;
}
