// CloudScape column changes: added columns in place, one ALTER TABLE each, and every other
// change by copying the changed columns into <table>_BKP, dropping and adding them again and
// copying their values back in record-number blocks.
#include <memory>

#include "lib_base/stringz.h"
#include "lib_common/sqltext.h"
#include "server/drivers/cloudscape.h"
#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kAlterRoutine = "tCloudScapeConnection::AlterTable";
constexpr const char* kRebuildRoutine = "tCloudScapeConnection::AlterStructure";

// The column type of a changed field.
constexpr tTypeNames kTypeNames{"char", "double", "int", "long varchar"};

bool NeedsRebuild(const tActionField& action) {
    return action.Has(tActionField::kDrop) || action.Has(tActionField::kTypeChange) ||
           (action.Has(tActionField::kLengthChange) && action.newType != 'N');
}

}  // namespace

bool AreAlterNames(const char* table, tArray<tActionField>& actions) {
    if (!IsSqlIdentifier(table)) return false;
    for (i32 i = 0; i < actions.Count(); ++i) {
        if (!IsSqlIdentifier(actions.Get(i)->name)) return false;
    }
    return true;
}

void AddRebuiltFields(tTableDefinition& def, tArray<tActionField>& actions, u8 hasRecDel) {
    def.SetFieldCapacity(actions.Count() + 3);
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& action = *actions.Get(i);
        if (action.Has(tActionField::kDrop)) continue;
        def.AddField(action.name, action.newType, static_cast<i16>(action.newLength),
                     action.newDecimals, true, true);
    }
    def.AddField(kDeletedColumn, 'C', 1, 0, true, true);
    def.AddField(kRecnoColumn, 'R', 4, 0, false, true);
    if (hasRecDel) def.AddField(kRecDelColumn, 'R', 4, 0, false, true);
}

void JoinCopiedColumns(tArray<tActionField>& actions, bool (*copied)(const tActionField&),
                       void (*value)(tString& sql, const tActionField&), tString& names,
                       tString& values) {
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& action = *actions.Get(i);
        if (!copied(action)) continue;
        if (names.GetLength() > 0) {
            names += ",";
            values += ",";
        }
        names += action.name;
        value(values, action);
    }
}

bool tCloudScapeConnection::AlterTable(const char* table, tArray<tActionField>& actions,
                                       u8 hasRecDel) {
    if (!AreAlterNames(table, actions)) return false;
    for (i32 i = 0; i < actions.Count(); ++i) {
        if (NeedsRebuild(*actions.Get(i))) return AlterStructure(table, actions, hasRecDel);
    }
    if (AddColumnsInPlace(table, actions)) return true;
    return AlterStructure(table, actions, hasRecDel);
}

bool tCloudScapeConnection::AddColumnsInPlace(const char* table, tArray<tActionField>& actions) {
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& action = *actions.Get(i);
        if (!action.Has(tActionField::kAdd)) continue;
        tString sql("ALTER TABLE ");
        sql += table;
        sql += " ADD COLUMN ";
        sql += action.name;
        sql += " ";
        AppendTypeName(sql, action.newType, action.newLength, kTypeNames);
        if (action.newType == 'N') {
            sql += " NOT NULL DEFAULT 0 ";
        } else if (action.newType != 'M') {
            sql += " NOT NULL DEFAULT '";
            sql += DefaultBlanks(action.newLength);
            sql += "' ";
        }
        if (!Run(sql, kAlterRoutine)) return false;
    }
    return true;
}

bool tCloudScapeConnection::AlterStructure(const char* table, tArray<tActionField>& actions, u8) {
    if (!AreAlterNames(table, actions)) return false;
    tString backup(table);
    backup += "_BKP";
    bool ran = false;  // a statement ran: the answer when nothing is copied back
    if (CanOpen(backup, nullptr)) {
        if (KeepsBackup(table, backup, kRebuildRoutine)) return false;
        tString sql("drop table ");
        sql += backup;
        if (!Run(sql, kRebuildRoutine)) return false;
        ran = true;
    }
    return CopyChangedColumns(table, actions, ran) && DropChangedColumns(table, actions, ran) &&
           AddChangedColumns(table, actions, ran) && CopyBack(table, actions, ran);
}

// The changed columns with their old types and the record numbers, into <table>_BKP, indexed
// by record number.
bool tCloudScapeConnection::CopyChangedColumns(const char* table, tArray<tActionField>& actions,
                                               bool& ran) {
    tString columns;
    tString values;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& action = *actions.Get(i);
        if (!action.Has(tActionField::kTypeChange) && !action.Has(tActionField::kLengthChange)) {
            continue;
        }
        columns += action.name;
        columns += " ";
        AppendTypeName(columns, action.oldType, action.oldLength, kTypeNames);
        columns += ",";
        values += action.name;
        values += ",";
    }
    if (columns.GetLength() == 0) return true;
    tString sql("create table ");
    sql += table;
    sql += "_BKP (";
    sql += columns;
    sql += "R_E_C_N_O_ int ) select ";
    sql += values;
    sql += "R_E_C_N_O_ from ";
    sql += table;
    if (!Run(sql, kRebuildRoutine)) return false;
    sql = "CREATE INDEX ";
    sql += table;
    sql += "_BKPIDX ON ";
    sql += table;
    sql += "_BKP(R_E_C_N_O_)";
    ran = Run(sql, kRebuildRoutine);
    return ran;
}

bool tCloudScapeConnection::DropChangedColumns(const char* table, tArray<tActionField>& actions,
                                               bool& ran) {
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& action = *actions.Get(i);
        if (!action.Has(tActionField::kTypeChange) && !action.Has(tActionField::kLengthChange) &&
            !action.Has(tActionField::kDrop)) {
            continue;
        }
        tString sql("ALTER TABLE ");
        sql += table;
        sql += " DROP COLUMN ";
        sql += action.name;
        if (!Run(sql, kRebuildRoutine)) return false;
        ran = true;
    }
    return true;
}

// The added and changed columns with their new types, in one ALTER TABLE.
bool tCloudScapeConnection::AddChangedColumns(const char* table, tArray<tActionField>& actions,
                                              bool& ran) {
    tString sql("ALTER TABLE ");
    sql += table;
    sql += " ";
    bool any = false;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& action = *actions.Get(i);
        if (!action.Has(tActionField::kAdd) && !action.Has(tActionField::kTypeChange) &&
            !action.Has(tActionField::kLengthChange)) {
            continue;
        }
        sql += any ? ", " : "ADD (";
        any = true;
        sql += action.name;
        sql += " ";
        AppendTypeName(sql, action.newType, action.newLength, kTypeNames);
        if (action.newType == 'N') {
            sql += " DEFAULT 0";
        } else if (action.newType != 'M') {
            sql += " DEFAULT '";
            sql += DefaultBlanks(action.newLength);
            sql += "'";
        }
        sql += " NOT NULL ";
    }
    if (!any) return true;
    sql += ")";
    if (!Run(sql, kRebuildRoutine)) return false;
    ran = true;
    return true;
}

// The kept values from the backup: a number turned text, a text cut or a length changed. A
// change to any other type leaves the column at its default.
bool tCloudScapeConnection::CopyBack(const char* table, tArray<tActionField>& actions, bool ran) {
    tString sql("UPDATE ");
    sql += table;
    sql += " SET ";
    bool any = false;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& action = *actions.Get(i);
        tString value;
        if (action.Has(tActionField::kTypeChange)) {
            if (action.newType != 'C' || action.oldType != 'N') continue;
            value = "substring(cast(";
            value += action.name;
            value += " as char),1,";
            value += UIntToStr(action.newLength);
            value += ")";
        } else if (!action.Has(tActionField::kLengthChange)) {
            continue;
        } else if (action.newType == 'C' && action.newLength < action.oldLength) {
            value = "substring(";
            value += action.name;
            value += ",1,";
            value += UIntToStr(action.newLength);
            value += ")";
        } else {
            value = action.name;
        }
        if (any) sql += ", ";
        any = true;
        sql += action.name;
        AppendBackupValue(sql, table, value);
    }
    if (!any) return ran;  // the last statement's answer
    tString count("select max(R_E_C_N_O_) from ");
    count += table;
    count += "_BKP";
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->ExecDirect(count, kRebuildRoutine, 1) || !stmt->Fetch()) return false;
    return ExecInBlocks(sql, kAlterRoutine, stmt->FieldAsDouble(0), 0);
}
