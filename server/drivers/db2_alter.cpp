// DB2 column changes: added, dropped and widened columns in one ALTER TABLE followed by a REORG,
// and every other change by moving the table to <table>_BKP, creating it anew and copying the
// kept columns back in record-number blocks.
#include <memory>

#include "lib_base/printer.h"
#include "lib_common/logwriter.h"
#include "lib_common/retcodes.h"
#include "lib_common/sqltext.h"
#include "server/drivers/cloudscape.h"
#include "server/drivers/db2.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kAlterRoutine = "tDB2Connection::AlterTable";
constexpr const char* kRebuildRoutine = "tDB2Connection::AlterStructure";

bool IsWidening(const tActionField& action) {
    return action.Has(tActionField::kLengthChange) && action.newType == 'C' &&
           action.oldLength < action.newLength;
}

// DB2 changes in place only added and dropped columns, any length of a number and a longer
// text.
bool NeedsRebuild(const tActionField& action) {
    if (action.Has(tActionField::kTypeChange)) return true;
    return action.Has(tActionField::kLengthChange) && action.newType != 'N' && !IsWidening(action);
}

// A column keeps its values when it was neither added nor dropped, unless its type changed to
// another than C, or from a memo.
bool IsCopied(const tActionField& action) {
    if (action.Has(tActionField::kAdd) || action.Has(tActionField::kDrop)) return false;
    return !action.Has(tActionField::kTypeChange) ||
           (action.newType == 'C' && action.oldType != 'M');
}

void AppendCopiedValue(tString& sql, const tActionField& action) {
    if (action.Has(tActionField::kTypeChange) && action.oldType == 'N') {
        sql += "cast(decimal(";
        sql += action.name;
        sql += ",";
        sql += UIntToStr(action.oldLength);
        sql += ",";
        sql += UIntToStr(action.oldDecimals);
        sql += ") as char(";
        sql += UIntToStr(action.newLength);
        sql += "))";
    } else if (action.Has(tActionField::kLengthChange) && action.newType == 'C' &&
               action.oldLength > action.newLength) {
        sql += "left(";
        sql += action.name;
        sql += ",";
        sql += UIntToStr(action.newLength);
        sql += ")";
    } else if (action.newType == 'M') {
        sql += "blob(";
        sql += action.name;
        sql += ")";
    } else {
        sql += action.name;
    }
}

}  // namespace

bool tDB2Connection::AlterTable(const char* table, tArray<tActionField>& actions, u8 hasRecDel) {
    if (!AreAlterNames(table, actions)) return false;
    for (i32 i = 0; i < actions.Count(); ++i) {
        if (NeedsRebuild(*actions.Get(i))) return AlterStructure(table, actions, hasRecDel);
    }
    bool ran = false;
    if (AlterInPlace(table, actions, ran)) return ran;
    WriteLog("[DB2] AlterTable FAILED !!! Automatic Recover Using AlterStructure.", 0);
    return AlterStructure(table, actions, hasRecDel);
}

// True, with ran set to the REORG's answer, when the ALTER ran or there was nothing to run
// (ran true); false when the ALTER failed.
bool tDB2Connection::AlterInPlace(const char* table, tArray<tActionField>& actions, bool& ran) {
    tString sql("ALTER TABLE ");
    sql += owner;
    sql += table;
    bool any = false;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& action = *actions.Get(i);
        if (action.Has(tActionField::kAdd)) {
            sql += " ADD ";
            ColumnDefinition(sql, action.name, action.newType, action.newLength);
            any = true;
        }
        if (action.Has(tActionField::kDrop)) {
            sql += " DROP COLUMN ";
            sql += action.name;
            any = true;
        }
        if (IsWidening(action)) {
            sql += " ALTER ";
            sql += action.name;
            sql += " SET DATA TYPE VARCHAR(";
            sql += UIntToStr(action.newLength);
            sql += ")";
            any = true;
        }
    }
    if (!any) {
        ran = true;
        return true;
    }
    if (!Run(sql, kAlterRoutine)) return false;
    // The table is left in reorg-pending state until it is reorganised.
    sql = "CALL SYSPROC.ADMIN_CMD ('REORG TABLE ";
    sql += owner;
    sql += table;
    sql += "')";
    ran = Run(sql, kAlterRoutine);
    return true;
}

bool tDB2Connection::AlterStructure(const char* table, tArray<tActionField>& actions,
                                    u8 hasRecDel) {
    if (!AreAlterNames(table, actions)) return false;
    tString backup(table);
    backup += "_BKP";
    if (CanOpen(backup, nullptr)) {
        if (KeepsBackup(table, backup, kRebuildRoutine)) return false;
        tString sql("drop table ");
        sql += owner;
        sql += backup;
        if (!Run(sql, kRebuildRoutine)) return false;
    }
    // Without the highest record number no row could be copied back: stop while the table is
    // still whole.
    const f64 highest = GetRecCount(table);
    if (highest < 0.0) {
        tString message;
        message.sprintf(
            "Table [%s] Error - its highest record number cannot be read; the table is left as it "
            "is.\n",
            table);
        SetError(RC_FAILED, kRebuildRoutine, message, nullptr);
        return false;
    }
    if (!SetAsideKeys(table)) return false;
    tString sql("RENAME TABLE ");
    sql += owner;
    sql += table;
    sql += " TO ";
    sql += backup;
    return Run(sql, kRebuildRoutine) && CreateFromActions(table, actions, hasRecDel) &&
           CopyFromBackup(table, actions, hasRecDel, highest);
}

// Drops the table's indexes and primary key and renames <table>_PK to <table>_PK_BKP, which
// leaves both names free for the new table.
bool tDB2Connection::SetAsideKeys(const char* table) {
    tTableDefinitionExclusive def(table, alias);
    bool ok = DescribeTable(def) && DescribeIndexes(def);
    tString sql;
    for (i32 i = 0; ok && i < def.GetIndexCount(); ++i) {
        DropIndex(sql, table, def.GetIndex(i)->GetName());
        ok = Run(sql, kRebuildRoutine);
    }
    if (!ok) return false;
    sql = "ALTER TABLE ";
    sql += owner;
    sql += table;
    sql += " DROP PRIMARY KEY";
    Run(sql, kRebuildRoutine);  // a table without one goes on
    tString index(table);
    index += "_PK";
    if (!CanOpen(table, index)) return true;
    sql = "RENAME INDEX ";
    sql += index;
    sql += " TO ";
    sql += index;
    sql += "_BKP";
    return Run(sql, kRebuildRoutine);
}

bool tDB2Connection::CreateFromActions(const char* table, tArray<tActionField>& actions,
                                       u8 hasRecDel) {
    tTableDefinitionExclusive def(table, alias);
    AddRebuiltFields(def, actions, hasRecDel);
    tString sql;
    CreateTable(def, sql);
    return Run(sql, kRebuildRoutine);
}

bool tDB2Connection::CopyFromBackup(const char* table, tArray<tActionField>& actions, u8 hasRecDel,
                                    f64 highest) {
    tString names;
    tString values;
    JoinCopiedColumns(actions, IsCopied, AppendCopiedValue, names, values);
    if (names.GetLength() == 0) {
        BasePrintf(
            "[WARNING] (tDB2Connection::AlterStructure) Structure too diferent. No data restored "
            "from [%s_BKP]\n",
            table);
        return true;
    }
    const char* reserved =
        hasRecDel ? ",D_E_L_E_T_,R_E_C_N_O_,R_E_C_D_E_L_" : ",D_E_L_E_T_,R_E_C_N_O_";
    tString sql("INSERT INTO ");
    sql += table;
    sql += "(";
    sql += names;
    sql += reserved;
    sql += ") SELECT ";
    sql += values;
    sql += reserved;
    sql += " FROM ";
    sql += table;
    sql += "_BKP";
    return ExecInBlocks(sql, kRebuildRoutine, highest, 0);
}
