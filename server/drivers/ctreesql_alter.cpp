// c-treeSQL column changes: every change rebuilds the table. The rows go into <table>_bkp, the
// table is dropped and created from the change list, and the kept columns are copied back in
// record-number blocks, a number turned text through decimal() and char().
#include <algorithm>
#include <memory>

#include "lib_base/stringz.h"
#include "server/drivers/ctreesql.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kRoutine = "tCTreeSQLConnection::AlterStructure";

bool IsCopied(const tActionField& action) {
    if (action.Has(tActionField::kAdd) || action.Has(tActionField::kDrop)) return false;
    return !action.Has(tActionField::kTypeChange) || action.newType == 'C';
}

// The value that the copy back writes into the field.
void AppendCopiedValue(tString& sql, const tActionField& action) {
    if (action.Has(tActionField::kTypeChange) && action.oldType == 'N') {
        sql += "substr(char(decimal(";
        sql += action.name;
        sql += ",";
        sql += UIntToStr(action.oldLength);
        sql += ",";
        sql += UIntToStr(action.oldDecimals);
        sql += ")),1,";
        sql += UIntToStr(std::min<u32>(action.newLength, action.oldLength + action.oldDecimals));
        sql += ")";
    } else if (action.Has(tActionField::kLengthChange) && action.newType == 'C' &&
               action.newLength < action.oldLength) {
        sql += "substr(";
        sql += action.name;
        sql += ",1,";
        sql += UIntToStr(action.newLength);
        sql += ")";
    } else {
        sql += action.name;
    }
}

}  // namespace

bool tCTreeSQLConnection::AlterTable(const char* table, tArray<tActionField>& actions,
                                     u8 hasRecDel) {
    return AlterStructure(table, actions, hasRecDel);
}

bool tCTreeSQLConnection::AlterStructure(const char* table, tArray<tActionField>& actions,
                                         u8 hasRecDel) {
    if (!AreAlterNames(table, actions)) return false;
    tString backup(table);
    backup += "_BKP";
    if (CanOpen(backup, nullptr)) {
        if (KeepsBackup(table, backup, kRoutine)) return false;
        tString sql("drop table ");
        sql += backup;
        if (!Run(sql, kRoutine)) return false;
    }
    f64 highest = 0.0;
    return CopyToBackup(table, highest) && CreateFromActions(table, actions, hasRecDel) &&
           CopyFromBackup(table, actions, hasRecDel, highest);
}

// The copy and its record-number index, the highest record number, and the table dropped.
bool tCTreeSQLConnection::CopyToBackup(const char* table, f64& highest) {
    tString sql("create table ");
    sql += table;
    sql += "_bkp as select * from ";
    sql += table;
    if (!Run(sql, kRoutine)) return false;
    sql = "create index ";
    sql += table;
    sql += "_BKPidx on ";
    sql += table;
    sql += "_BKP(r_e_c_n_o_)";
    if (!Run(sql, kRoutine)) return false;
    sql = "select max(r_e_c_n_o_) from ";
    sql += table;
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->ExecDirect(sql, kRoutine, 1) || !stmt->Fetch()) return false;
    highest = stmt->FieldAsDouble(0);
    sql = "drop table ";
    sql += table;
    return Run(sql, kRoutine);
}

bool tCTreeSQLConnection::CreateFromActions(const char* table, tArray<tActionField>& actions,
                                            u8 hasRecDel) {
    tTableDefinitionExclusive def(table, alias);
    AddRebuiltFields(def, actions, hasRecDel);
    tString sql;
    CreateTable(def, sql);
    return Run(sql, kRoutine);
}

bool tCTreeSQLConnection::CopyFromBackup(const char* table, tArray<tActionField>& actions,
                                         u8 hasRecDel, f64 highest) {
    tString names;
    tString values;
    JoinCopiedColumns(actions, IsCopied, AppendCopiedValue, names, values);
    // With no kept field the list starts with the reserved columns, not with a comma.
    const char* reserved =
        hasRecDel ? "D_E_L_E_T_,R_E_C_N_O_,R_E_C_D_E_L_" : "D_E_L_E_T_,R_E_C_N_O_";
    if (names.GetLength() > 0) {
        names += ",";
        values += ",";
    }
    tString sql("insert into ");
    sql += table;
    sql += "(";
    sql += names;
    sql += reserved;
    sql += ") select ";
    sql += values;
    sql += reserved;
    sql += " from ";
    sql += table;
    sql += "_bkp ";
    return ExecInBlocks(sql, kRoutine, highest, 0);
}
