// MySQL DDL: the CREATE TABLE text of a definition, GML_PARAM, the primary key on R_E_C_N_O_,
// index removal, and the column changes of a table, in place or by rebuilding the changed
// columns.
//
// Rebuild invariants:
//  (1) Every name is checked before the first statement runs: a request that names something
//      that is no identifier changes nothing.
//  (2) The changed columns are dropped only after <table>_BKP holds them with R_E_C_N_O_.
//  (3) An existing <table>_BKP is dropped only when the table holds at least as many rows.
#include <algorithm>
#include <memory>
#include <vector>

#include "lib_common/retcodes.h"
#include "lib_common/sqltext.h"
#include "server/drivers/ddl_shared.h"
#include "server/drivers/mysql.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kAlterTableRoutine = "tMySQLConnection::AlterTable";
constexpr const char* kRebuildRoutine = "tMySQLConnection::AlterStructure";
constexpr i32 kMaxDefaultBlanks = 252;
constexpr i32 kMaxCharLength = 255;

tString Blanks(i32 count) { return tString(count + 1, ' '); }

bool IsNumberType(u8 type) {
    return type == 'B' || type == 'F' || type == 'N' || type == 'P' || type == 'Z' || type == 'R';
}

bool IsChanged(const tActionField& a) {
    return a.Has(tActionField::kTypeChange) || a.Has(tActionField::kLengthChange);
}

// The column text after the name in CREATE TABLE, by type letter; memoType for M.
void AppendCreateColumn(tString& sql, const tField& field, const tString& memoType) {
    const i32 length = field.GetLen();
    switch (field.GetType()) {
        case 'A':
        case 'C':
        case 'D':
            sql += " varchar(";
            sql += IntToString(length);
            sql += ") not null default '";
            sql += Blanks(std::clamp(length, 0, kMaxDefaultBlanks));
            sql += "'";
            break;
        case 'B':
        case 'F':
        case 'N':
        case 'P':
        case 'Z':
            sql += " double not null default 0.0";
            break;
        case 'L':
            sql += " char(1) not null default 'F'";
            break;
        case 'M':
            sql += " ";
            sql += memoType;
            break;
        case 'R':
            sql += " int not null default 0.0";
            break;
        default:
            break;  // the name stands alone
    }
}

// One assignment of the UPDATE that copies a changed column back from the backup; false when
// the column keeps its new default.
bool AppendCopyBack(tString& sql, const tActionField& a, const char* table) {
    const bool typeChanged = a.Has(tActionField::kTypeChange);
    if (typeChanged && !(a.oldType == 'N' && a.newType == 'C')) return false;
    tString value;
    if (typeChanged) {
        value = "substring(cast(";
        value += a.name;
        value += " as char),1,";
        value += IntToString(a.newLength);
        value += ")";
    } else if (a.newType == 'C' && a.newLength < a.oldLength) {
        value = "substring(";
        value += a.name;
        value += ",1,";
        value += IntToString(a.newLength);
        value += ")";
    } else {
        value = a.name;
    }
    sql += a.name;
    AppendBackupValue(sql, table, value);
    return true;
}

}  // namespace

void tMySQLConnection::CreateTable(const tTableDefinition& def, tString& sql) {
    sql = "CREATE TABLE ";
    sql += OrEmpty(GetOwner());
    sql += def.GetName();
    sql += "(";
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField& field = *def.GetField(i);
        if (i > 0) sql += ",";
        sql += field.GetName();
        AppendCreateColumn(sql, field, memoType);
    }
    sql += ") ENGINE=InnoDB";
}

bool tMySQLConnection::CreateGMLParam() {
    const char* kRoutine = "tMySQLConnection::CreateGMLParam";
    std::unique_ptr<tMySQLStmt> stmt = Statement();
    return Run(*stmt,
               "create table GML_PARAM(PARAM_NAME char(50) not null,PARAM_SESSION int not null, "
               "PARAM_VALUE char(50) not null) ENGINE=InnoDB",
               kRoutine) &&
           Run(*stmt, "create index GML_PARAM1 on GML_PARAM( PARAM_SESSION, PARAM_NAME )",
               kRoutine);
}

bool tMySQLConnection::AddPrimaryKey(tString& sql, const char* table) {
    sql = "ALTER TABLE ";
    sql += table;
    sql += " ADD PRIMARY KEY (R_E_C_N_O_)";
    return true;
}

void tMySQLConnection::GetRecnoIndex(const char* table, tString& sql) { AddPrimaryKey(sql, table); }

void tMySQLConnection::DropIndex(tString& sql, const char* table, const char* index) {
    sql = "DROP INDEX ";
    sql += index;
    sql += " ON ";
    sql += table;
}

void tMySQLConnection::AddColumnType(tString& sql, u8 type, i32 length) {
    // CHAR holds at most 255 characters; a longer text column can only be a VARCHAR.
    AppendTypeName(
        sql, type, length,
        {length > kMaxCharLength ? "varchar" : "char", "double", "int", memoType.GetText()});
}

// The name, the new type and a default: 0 for numbers, blanks of the new length for
// characters, none for a memo.
void tMySQLConnection::AddColumnDefinition(tString& sql, const tActionField& action) {
    sql += action.name;
    sql += " ";
    AddColumnType(sql, action.newType, action.newLength);
    if (action.newType == 'M') return;
    if (IsNumberType(action.newType)) {
        sql += " DEFAULT 0";
        return;
    }
    sql += " DEFAULT '";
    sql += Blanks(action.newLength);
    sql += "'";
}

// False, with the reason as the last error, when the table or a column is no identifier.
bool tMySQLConnection::CheckNames(const char* table, tArray<tActionField>& actions,
                                  const char* routine) {
    tString problem;
    if (!IsSqlIdentifier(table)) {
        problem.sprintf("Table [%s] Error - Invalid Table Name.\n", OrEmpty(table));
    }
    for (i32 i = 0; i < actions.Count() && problem.GetLength() == 0; ++i) {
        const tActionField& a = *actions.Get(i);
        if (!IsSqlIdentifier(a.name)) {
            problem.sprintf("Table [%s] Error - Invalid Field Name [%s].\n", table,
                            a.name.GetText());
        }
    }
    if (problem.GetLength() == 0) return true;
    SetError(RC_FAILED, routine, problem, nullptr);
    return false;
}

// One ALTER TABLE ... ADD (...) for the actions with any of the flags; ran tells whether there
// was anything to add. A memo added in place stays nullable when memoNullable is set.
bool tMySQLConnection::AddColumns(const char* table, tArray<tActionField>& actions, u16 flags,
                                  bool memoNullable, const char* routine, bool& ran) {
    tString sql("ALTER TABLE ");
    sql += table;
    sql += " ";
    ran = false;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if ((a.actions & flags) == 0) continue;
        sql += ran ? ", " : "ADD (";
        ran = true;
        AddColumnDefinition(sql, a);
        sql += memoNullable && a.newType == 'M' ? " " : " NOT NULL ";
    }
    if (!ran) return true;
    sql += ")";
    std::unique_ptr<tMySQLStmt> stmt = Statement();
    return Run(*stmt, sql, routine);
}

bool tMySQLConnection::AlterTable(const char* table, tArray<tActionField>& actions, u8 hasRecDel) {
    if (actions.Count() == 0) return true;
    if (!CheckNames(table, actions, kAlterTableRoutine)) return false;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (a.Has(tActionField::kTypeChange) ||
            (a.newType == 'C' && a.Has(tActionField::kLengthChange))) {
            return AlterStructure(table, actions, hasRecDel);
        }
    }
    bool added = false;
    bool ok = AddColumns(table, actions, tActionField::kAdd, true, kAlterTableRoutine, added);
    std::unique_ptr<tMySQLStmt> stmt = Statement();
    for (i32 i = 0; ok && i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (!a.Has(tActionField::kDrop)) continue;
        tString sql("ALTER TABLE ");
        sql += table;
        sql += " DROP COLUMN ";
        sql += a.name;
        ok = Run(*stmt, sql, kAlterTableRoutine);
    }
    return ok || AlterStructure(table, actions, hasRecDel);
}

bool tMySQLConnection::AlterStructure(const char* table, tArray<tActionField>& actions, u8) {
    if (!CheckNames(table, actions, kRebuildRoutine)) return false;
    tString backup(table);
    backup += "_BKP";
    std::unique_ptr<tMySQLStmt> stmt = Statement();
    if (CanOpen(backup, nullptr)) {
        if (KeepsBackup(table, backup)) return false;
        tString sql("drop table ");
        sql += backup;
        if (!Run(*stmt, sql, kRebuildRoutine)) return false;
    }
    if (std::any_of(actions.GetData(), actions.GetData() + actions.Count(),
                    [](const tActionField* a) { return IsChanged(*a); }) &&
        !CopyChangedColumns(table, actions)) {
        return false;
    }
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (!IsChanged(a) && !a.Has(tActionField::kDrop)) continue;
        tString sql("ALTER TABLE ");
        sql += table;
        sql += " DROP COLUMN ";
        sql += a.name;
        if (!Run(*stmt, sql, kRebuildRoutine)) return false;
    }
    bool added = false;
    const u16 readded =
        tActionField::kAdd | tActionField::kTypeChange | tActionField::kLengthChange;
    if (!AddColumns(table, actions, readded, false, kRebuildRoutine, added)) return false;

    tString update("UPDATE ");
    update += table;
    update += " SET ";
    bool assigned = false;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (!IsChanged(a)) continue;
        tString assignment;
        if (!AppendCopyBack(assignment, a, table)) continue;
        if (assigned) update += ", ";
        update += assignment;
        assigned = true;
    }
    if (!assigned) return true;
    tString sql("select max(R_E_C_N_O_) MAX from ");
    sql += backup;
    // An unread maximum is no empty backup: nothing would be copied back.
    if (!Run(*stmt, sql, kRebuildRoutine) || !stmt->Fetch()) return false;
    return ExecInBlocks(update, kRebuildRoutine, stmt->FieldAsDouble(0), 0);
}

// <table>_BKP with the old form of every changed column and R_E_C_N_O_, indexed on R_E_C_N_O_.
bool tMySQLConnection::CopyChangedColumns(const char* table, tArray<tActionField>& actions) {
    tString create("create table ");
    create += table;
    create += "_BKP (";
    tString select;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (!IsChanged(a)) continue;
        create += a.name;
        create += " ";
        AddColumnType(create, a.oldType, a.oldLength);
        create += ",";
        select += a.name;
        select += ",";
    }
    create += "R_E_C_N_O_ int ) select ";
    create += select;
    create += "R_E_C_N_O_ from ";
    create += table;
    std::unique_ptr<tMySQLStmt> stmt = Statement();
    if (!Run(*stmt, create, kRebuildRoutine)) return false;
    tString index("CREATE INDEX ");
    index += table;
    index += "_BKPIDX ON ";
    index += table;
    index += "_BKP(R_E_C_N_O_)";
    return Run(*stmt, index, "tMYSQLConnection::AlterStructure");
}

// A backup may be the only copy of what a failed rebuild took from the table (3): rows the
// table lacks, or a column that was dropped and not yet added again.
bool tMySQLConnection::KeepsBackup(const char* table, const char* backup) {
    if (tDBConnection::KeepsBackup(table, backup, kRebuildRoutine)) return true;
    const tString missing = MissingBackupColumn(table, backup);
    if (missing.GetLength() == 0) return false;
    tString message;
    message.sprintf(
        "Table [%s] Error - Backup table [%s] kept: the table lacks its column [%s]. Restore "
        "or drop it before altering the table.\n",
        table, backup, missing.GetText());
    SetError(RC_FAILED, kRebuildRoutine, message, nullptr);
    return true;
}

tString tMySQLConnection::MissingBackupColumn(const char* table, const char* backup) {
    std::vector<tString> live;
    std::vector<tString> kept;
    const auto into = [](std::vector<tString>& names) {
        return [&names](const char* name, SQLSMALLINT, SQLULEN) {
            names.emplace_back(name);
            names.back().Upper();
        };
    };
    if (!VisitColumns(table, kRebuildRoutine, into(live)) ||
        !VisitColumns(backup, kRebuildRoutine, into(kept))) {
        return "?";
    }
    for (const tString& name : kept) {
        if (name == kRecnoColumn) continue;
        if (std::find(live.begin(), live.end(), name) == live.end()) return name;
    }
    return tString();
}
