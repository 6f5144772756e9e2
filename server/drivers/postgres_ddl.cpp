// PostgreSQL DDL: the CREATE TABLE text of a definition, GML_PARAM, the primary key on
// R_E_C_N_O_, and the rebuild of a table whose columns change.
//
// Rebuild invariants:
//  (1) Everything the new table needs (names, types, the CREATE and copy texts) is checked and
//      built before the first statement runs: no request that cannot complete drops a table.
//  (2) The table is dropped only after <table>_BKP holds a committed copy of it.
//  (3) An existing <table>_BKP is dropped only when the table holds at least as many rows.
//  (4) Every exit after commit control began rolls back what is open and ends commit control.
#include <strings.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "lib_common/retcodes.h"
#include "lib_common/sqltext.h"
#include "server/drivers/postgres.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kAlterRoutine = "tPostgresConnection::AlterStructure";
constexpr f64 kBlockRecnos = 4096.0;
constexpr i32 kMaxDefaultBlanks = 252;

tString Repeat(char c, i32 count) { return tString(count + 1, c); }

// Whether the rebuild makes and copies the column itself, whatever the request says of it.
bool IsRebuildColumn(const char* name, u8 hasRecDel) {
    return strcasecmp(name, kRecnoColumn) == 0 || strcasecmp(name, kDeletedColumn) == 0 ||
           (hasRecDel && strcasecmp(name, kRecDelColumn) == 0);
}

// The column text after the name, by type letter; null for a letter CreateTable cannot write.
const char* ColumnKind(u8 type) {
    switch (type) {
        case 'A':
        case 'C':
        case 'D':
            return "char";
        case 'B':
        case 'F':
        case 'N':
        case 'P':
        case 'Z':
            return " float8 not null default 0.0";
        case 'L':
            return " char(1) not null default 'F'";
        case 'M':
            return " text ";
        case 'R':
            return " int4 not null default 0.0";
        default:
            return nullptr;
    }
}

void AppendColumn(tString& sql, const char* name, u8 type, i32 length) {
    sql += name;
    const char* kind = ColumnKind(type);
    if (!kind) return;  // the name stands alone
    if (std::string(kind) != "char") {
        sql += kind;
        return;
    }
    sql += " char(";
    sql += IntToString(length);
    sql += ") not null default '";
    sql += Repeat(' ', std::clamp(length, 0, kMaxDefaultBlanks));
    sql += "'";
}

bool IsCopied(const tActionField& a) {
    if (a.Has(tActionField::kAdd) || a.Has(tActionField::kDrop)) return false;
    return !a.Has(tActionField::kTypeChange) || (a.newType == 'C' && a.oldType != 'M');
}

// What the copy selects for the column: a number written as text without the sign's blank, a
// shortened text cut to its new length, or the column itself.
tString CopyExpression(const tActionField& a) {
    tString text;
    if (a.Has(tActionField::kTypeChange) && a.oldType == 'N') {
        text = "substr(ltrim(to_char(";
        text += a.name;
        text += ",'";
        text += Repeat('9', a.oldLength);
        text += ".";
        text += Repeat('9', a.oldDecimals);
        text += "')),1,";
        text += IntToString(a.newLength);
        text += ")";
    } else if (a.Has(tActionField::kLengthChange) && a.newType == 'C' &&
               a.newLength < a.oldLength) {
        text = "substr(";
        text += a.name;
        text += ",1,";
        text += IntToString(a.newLength);
        text += ")";
    } else {
        text = a.name;
    }
    return text;
}

void AppendList(tString& sql, const std::vector<tString>& items) {
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) sql += ",";
        sql += items[i];
    }
}

}  // namespace

void tPostgresConnection::CreateTable(const tTableDefinition& def, tString& sql) {
    sql = "CREATE TABLE ";
    sql += OrEmpty(GetOwner());
    sql += def.GetName();
    sql += "(";
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField& field = *def.GetField(i);
        if (i > 0) sql += ",";
        AppendColumn(sql, field.GetName(), field.GetType(), field.GetLen());
    }
    sql += ")";
}

bool tPostgresConnection::CreateGMLParam() {
    const char* kRoutine = "tPostgresConnection::CreateGMLParam";
    std::unique_ptr<tODBCStatement> stmt = Statement();
    return stmt->ExecDirect(
               "create table GML_PARAM(PARAM_NAME char(50) not null,PARAM_SESSION int2 "
               "not null, PARAM_VALUE char(50) not null)",
               kRoutine, 1) &&
           stmt->ExecDirect("create index GML_PARAM1 on GML_PARAM( PARAM_SESSION, PARAM_NAME )",
                            kRoutine, 1);
}

bool tPostgresConnection::AddPrimaryKey(tString& sql, const char* table) {
    sql = "ALTER TABLE ";
    sql += table;
    sql += " ADD PRIMARY KEY (R_E_C_N_O_)";
    return true;
}

void tPostgresConnection::GetRecnoIndex(const char* table, tString& sql) {
    AddPrimaryKey(sql, table);
}

bool tPostgresConnection::AlterTable(const char* table, tArray<tActionField>& actions,
                                     u8 hasRecDel) {
    return AlterStructure(table, actions, hasRecDel);
}

// Checks the request (1) and builds the new table's CREATE text and the copy text. False, with
// the error set, for a name that is no identifier, a column named twice or a type that cannot
// be created. D_E_L_E_T_, R_E_C_N_O_ and (with hasRecDel) R_E_C_D_E_L_ are made and copied by
// the rebuild itself; what the request says of them is passed over.
bool tPostgresConnection::CheckRebuild(const char* table, tArray<tActionField>& actions,
                                       u8 hasRecDel, tString& createSql, tString& copySql) {
    tString problem;
    if (!IsSqlIdentifier(table)) {
        problem.sprintf("Table [%s] Error - Invalid Table Name.\n", OrEmpty(table));
        SetError(RC_FAILED, kAlterRoutine, problem, nullptr);
        return false;
    }
    tTableDefinitionExclusive def(table, alias);
    def.SetFieldCapacity(actions.Count() + 3);
    std::vector<tString> names;
    std::vector<tString> values;
    for (i32 i = 0; i < actions.Count() && problem.GetLength() == 0; ++i) {
        const tActionField& a = *actions.Get(i);
        const char* kind = ColumnKind(a.newType);
        if (!IsSqlIdentifier(a.name)) {
            problem.sprintf("Table [%s] Error - Invalid Field Name [%s].\n", table,
                            a.name.GetText());
        } else if (a.Has(tActionField::kDrop) || IsRebuildColumn(a.name, hasRecDel)) {
            continue;
        } else if (FindFieldNo(def, a.name) >= 0) {
            problem.sprintf("Table [%s] Error - Field [%s] given twice.\n", table,
                            a.name.GetText());
        } else if (!kind || (std::string(kind) == "char" && a.newLength == 0)) {
            problem.sprintf(
                "Table [%s] Error - Field [%s] type [%c] length %u cannot be created.\n", table,
                a.name.GetText(), a.newType, a.newLength);
        } else {
            def.AddField(a.name, a.newType, static_cast<i16>(a.newLength), a.newDecimals, true,
                         true);
            if (!IsCopied(a)) continue;
            names.push_back(a.name);
            values.push_back(CopyExpression(a));
        }
    }
    if (problem.GetLength() > 0) {
        SetError(RC_FAILED, kAlterRoutine, problem, nullptr);
        return false;
    }
    def.AddField(kDeletedColumn, 'C', 1, 0, true, true);
    def.AddField(kRecnoColumn, 'R', 4, 0, false, true);
    if (hasRecDel) def.AddField(kRecDelColumn, 'R', 4, 0, false, true);
    CreateTable(def, createSql);
    // The reserved columns are copied as they are, after the others.
    for (const char* name : {kDeletedColumn, kRecnoColumn, kRecDelColumn}) {
        if (name == kRecDelColumn && !hasRecDel) break;
        names.push_back(name);
        values.push_back(name);
    }
    copySql = "INSERT INTO ";
    copySql += table;
    copySql += "(";
    AppendList(copySql, names);
    copySql += ") select ";
    AppendList(copySql, values);
    copySql += " from ";
    copySql += table;
    copySql += "_BKP ";
    return true;
}

bool tPostgresConnection::AlterStructure(const char* table, tArray<tActionField>& actions,
                                         u8 hasRecDel) {
    tString createSql;
    tString copySql;
    if (!CheckRebuild(table, actions, hasRecDel, createSql, copySql)) return false;
    std::unique_ptr<tODBCStatement> stmt = Statement();
    f64 highest = 0.0;
    if (StrCmtCtl() != 0 || !ReadHighestRecno(*stmt, table, highest) ||
        !MoveToBackup(*stmt, table) || !stmt->ExecDirect(createSql, kAlterRoutine, 1) ||
        !CopyBack(*stmt, copySql, highest)) {
        return FailRebuild(stmt);
    }
    const bool ended = Commit() == 0;
    EndCmtCtl();
    return ended;
}

bool tPostgresConnection::ReadHighestRecno(tODBCStatement& stmt, const char* table, f64& highest) {
    tString sql("select R_E_C_N_O_ from ");
    sql += table;
    sql += " order by R_E_C_N_O_ DESC LIMIT 1";
    if (!stmt.ExecDirect(sql, kAlterRoutine, 1)) return false;
    highest = 0.0;
    if (stmt.Fetch()) {
        highest = stmt.FieldAsDouble(0);
        return true;
    }
    return stmt.GetLastReturnCode() == SQL_NO_DATA;  // an unread table is no empty one
}

// Replaces <table>_BKP by a committed copy of the table (2, 3), then drops the table.
bool tPostgresConnection::MoveToBackup(tODBCStatement& stmt, const char* table) {
    tString backup(table);
    backup += "_BKP";
    tString sql;
    if (CanOpen(backup, nullptr)) {
        if (KeepsBackup(table, backup, kAlterRoutine)) return false;
        sql = "drop table ";
        sql += backup;
        if (!stmt.ExecDirect(sql, kAlterRoutine, 1)) return false;
    }
    if (Commit() != 0) return false;
    sql = "create table ";
    sql += backup;
    sql += " as select * from ";
    sql += table;
    if (!stmt.ExecDirect(sql, kAlterRoutine, 1) || Commit() != 0) return false;
    sql = "CREATE INDEX ";
    sql += backup;
    sql += "IDX ON ";
    sql += backup;
    sql += "(R_E_C_N_O_)";
    if (!stmt.ExecDirect(sql, kAlterRoutine, 1)) return false;
    sql = "drop table ";
    sql += table;
    return stmt.ExecDirect(sql, kAlterRoutine, 1) && Commit() == 0;
}

// Copies the rows back in blocks of record numbers, each block committed.
bool tPostgresConnection::CopyBack(tODBCStatement& stmt, const tString& copySql, f64 highest) {
    char from[kRecnoTextSize];
    char to[kRecnoTextSize];
    for (f64 lower = 0.0; lower < highest; lower += kBlockRecnos) {
        tString sql(copySql);
        sql += "where R_E_C_N_O_ > ";
        sql += RecnoToStr(lower, from);
        sql += " and R_E_C_N_O_ <= ";
        sql += RecnoToStr(lower + kBlockRecnos, to);
        if (!stmt.ExecDirect(sql, kAlterRoutine, 1) || Commit() != 0) return false;
    }
    return true;
}

// Leaves the session as it was before the rebuild (4): no transaction open, autocommit on.
bool tPostgresConnection::FailRebuild(std::unique_ptr<tODBCStatement>& stmt) {
    Rollback();
    EndCmtCtl();
    stmt.reset();
    return false;
}
