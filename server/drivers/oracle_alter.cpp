// Oracle table alteration: in place (columns moved aside as TMPC<i> and filled again, dropped
// and added, or modified), or by rebuilding the changed columns through a copy in
// <table>_BKP.
#include <memory>
#include <vector>

#include "lib_common/configcache.h"
#include "server/drivers/oracle.h"
#include "server/drivers/oracle_ddl.h"
#include "server/isam/dbprocess.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kStructureRoutine = "tOracleConnection::AlterStructure";

// The plan AlterTable gives each entry in place of its request flags.
constexpr u16 kConvert = 0x200;   // renamed to TMPC<i>, added anew and filled from TMPC<i>
constexpr u16 kRecreate = 0x400;  // dropped and added anew; contents lost
constexpr u16 kModify = 0x800;    // modified in place
constexpr u16 kShorten = 0x1000;  // cut to the new length, then modified in place

bool IsCharResize(const tActionField& a) {
    return a.newType == 'C' &&
           (a.Has(tActionField::kLengthChange) || a.Has(tActionField::kDecimalsChange));
}

// Whether ForceAlterTable off sends the request to the rebuild.
bool NeedsRebuild(const tActionField& a) {
    return a.Has(tActionField::kTypeChange) ||
           (a.newType == 'C' && a.Has(tActionField::kLengthChange));
}

// Whether the request touches existing columns, so that their indexes must go first.
bool TouchesColumns(const tActionField& a) {
    return a.Has(tActionField::kTypeChange) || a.Has(tActionField::kDrop) || IsCharResize(a);
}

// A table without rows is never copied: its columns are dropped and added instead.
u16 PlanOf(const tActionField& a, bool emptyTable) {
    u16 plan = a.actions;
    if (a.Has(tActionField::kTypeChange)) {
        plan = a.newType == 'C' && a.oldType != 'M' ? kConvert : kRecreate;
    } else if (IsCharResize(a)) {
        plan = a.newLength < a.oldLength ? kConvert : kModify;
    } else if (a.newType == 'N' && (a.Has(tActionField::kLengthChange) ||
                                    a.Has(tActionField::kDecimalsChange))) {
        plan = 0;  // NUMBER whatever the length and decimals
    }
    if (emptyTable && (plan & (kConvert | kShorten))) plan = kRecreate;
    return plan;
}

bool IsPlanned(const tActionField& a) {
    return a.actions & (tActionField::kDrop | kConvert | kRecreate | kModify | kShorten);
}

tString TempName(i32 i) {
    tString name("TMPC");
    name += IntToString(i);
    return name;
}

void Join(tString& list, const char* item, i32& count) {
    if (count++ > 0) list += ",";
    list += item;
}

// "ALTER TABLE <table>" with the owner's prefix.
tString AlterHead(tOracleConnection& conn, const char* table) {
    tString sql("ALTER TABLE ");
    sql += conn.GetOwner();
    sql += table;
    return sql;
}

// Drops the listed columns: DROP COLUMN for one, DROP ( ... ) for more. Nothing to drop: true.
bool DropColumns(tOracleConnection& conn, const char* table, const tString& list, i32 count,
                 const char* routine) {
    if (count == 0) return true;
    tString sql = AlterHead(conn, table);
    sql += count == 1 ? " DROP COLUMN " : " DROP ( ";
    sql += list;
    if (count > 1) sql += " )";
    return conn.MakeStatement()->ExecDirect(sql, routine, 1);
}

// Queues the drops of every index whose key holds a planned field.
bool QueueIndexDrops(tOracleConnection& conn, const char* table, tArray<tActionField>& actions,
                     std::vector<tString>& queue) {
    tTableDefinitionExclusive def(table, conn.GetAlias());
    if (!conn.DescribeTable(def) || !conn.DescribeIndexes(def)) return false;
    for (i32 x = 0; x < def.GetIndexCount(); ++x) {
        const tIndexDefinition& index = *def.GetIndex(x);
        bool touched = false;
        for (i32 i = 0; i < actions.Count() && !touched; ++i) {
            const tActionField& a = *actions.Get(i);
            const i16 field = IsPlanned(a) ? FindFieldNo(def, a.name) : -1;
            for (i32 k = 0; field >= 0 && k < index.GetFieldCount(); ++k) {
                touched = touched || index.GetField(k) == field;
            }
        }
        if (!touched) continue;
        tString sql;
        conn.DropIndex(sql, table, index.GetName());
        queue.push_back(sql);
    }
    return true;
}

// The values of the converted and shortened columns, in blocks of record numbers.
bool FillColumns(tOracleConnection& conn, const char* table, tArray<tActionField>& actions,
                 f64 recCount) {
    tString assignments;
    i32 count = 0;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        tString one(a.name);
        if (a.actions & kConvert) {
            one += " = substr(to_char(";
            one += TempName(i);
            one += "),1,";
        } else if (a.actions & kShorten) {
            one += " =  substr(";
            one += a.name;
            one += ",1,";
        } else {
            continue;
        }
        one += IntToString(a.newLength);
        one += ")";
        Join(assignments, one, count);
    }
    if (count == 0) return true;
    tString sql("UPDATE ");
    sql += conn.GetOwner();
    sql += table;
    sql += " SET ";
    sql += assignments;
    return conn.ExecInBlocks(sql, "tOracleConnection::AlterTable(4)", recCount, 0);
}

// The widened and shortened columns at their new type, length and default.
bool ModifyColumns(tOracleConnection& conn, const char* table, tArray<tActionField>& actions) {
    tString list;
    i32 count = 0;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (!(a.actions & (kModify | kShorten))) continue;
        tString item(a.name);
        item += " ";
        AppendOracleType(item, a.newType, a.newLength, conn.GetMemoType());
        AppendOracleDefault(item, a.newType, a.newLength);
        Join(list, item, count);
    }
    if (count == 0) return true;
    tString sql = AlterHead(conn, table);
    sql += " MODIFY ";
    if (count > 1) sql += " ( ";
    sql += list;
    if (count > 1) sql += " )";
    return conn.MakeStatement()->ExecDirect(sql, "tOracleConnection::AlterTable(4)", 1);
}

// " = ( select <value> FROM <table>_BKP where <table>_BKP.R_E_C_N_O_ = <table>.R_E_C_N_O_)".
void AppendBackupValue(tString& sql, const char* table, const tString& value) {
    sql += " = ( select ";
    sql += value;
    sql += " FROM ";
    sql += table;
    sql += "_BKP where ";
    sql += table;
    sql += "_BKP.R_E_C_N_O_ = ";
    sql += table;
    sql += ".R_E_C_N_O_)";
}

// The parts of AlterTable's statements, gathered from the planned entries.
struct tAlterPlan {
    std::vector<tString> queue;  // the index drops, then the renames
    tString drops;               // columns to drop
    tString adds;                // column definitions to add
    tString temps;               // the TMPC<i> columns to drop at the end
    i32 dropCount = 0;
    i32 addCount = 0;
    i32 tempCount = 0;
};

void GatherPlan(tOracleConnection& conn, const char* table, tArray<tActionField>& actions,
                tAlterPlan& plan) {
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (a.actions & kConvert) {
            tString rename = AlterHead(conn, table);
            rename += " RENAME COLUMN ";
            rename += a.name;
            rename += " TO ";
            rename += TempName(i);
            plan.queue.push_back(rename);
            tString temp(" ");
            temp += TempName(i);
            Join(plan.temps, temp, plan.tempCount);
        }
        if (a.actions & (tActionField::kDrop | kRecreate)) {
            Join(plan.drops, a.name, plan.dropCount);
        }
        if (a.actions & (tActionField::kAdd | kConvert | kRecreate)) {
            tString column;
            AppendOracleColumn(column, a.name, a.newType, a.newLength, conn.GetMemoType());
            Join(plan.adds, column, plan.addCount);
        }
    }
}

// The queue, the drops and the adds of the plan, stopping at the first failure.
bool RunPlan(tOracleConnection& conn, const char* table, const tAlterPlan& plan) {
    std::unique_ptr<tOracleStmt> stmt = conn.MakeStatement();
    for (const tString& sql : plan.queue) {
        if (!stmt->ExecDirect(sql, "tOracleConnection::AlterTable(0)", 1)) return false;
    }
    if (!DropColumns(conn, table, plan.drops, plan.dropCount, "tOracleConnection::AlterTable(1)")) {
        return false;
    }
    if (plan.addCount == 0) return true;
    tString sql = AlterHead(conn, table);
    sql += " ADD ( ";
    sql += plan.adds;
    sql += " )";
    return stmt->ExecDirect(sql, "tOracleConnection::AlterTable(2a)", 1);
}

// The type and default of a column that the rebuild adds: numbers and record numbers 0, memos
// none, everything else blanks of its length.
void AppendRebuiltColumn(tOracleConnection& conn, tString& sql, const tActionField& a) {
    sql += a.name;
    sql += " ";
    AppendOracleType(sql, a.newType, a.newLength, conn.GetMemoType());
    if (a.newType == 'M') return;
    if (a.newType == 'N' || a.newType == 'R') {
        sql += " DEFAULT 0";
    } else {
        sql += " DEFAULT '";
        sql += OracleBlanks(a.newLength);
        sql += "'";
    }
    sql += " NOT NULL ";
}

bool IsRebuilt(const tActionField& a) {
    return a.Has(tActionField::kTypeChange) || a.Has(tActionField::kLengthChange);
}

// The changed columns and the record numbers into <table>_BKP, indexed by record number.
bool BackUpColumns(tOracleConnection& conn, const char* table, tArray<tActionField>& actions) {
    tString sql("create table ");
    sql += table;
    sql += "_BKP as ( select ";
    bool any = false;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (!IsRebuilt(a)) continue;
        sql += a.name;
        sql += ",";
        any = true;
    }
    if (!any) return true;
    sql += "R_E_C_N_O_ from ";
    sql += table;
    sql += ")";
    std::unique_ptr<tOracleStmt> stmt = conn.MakeStatement();
    if (!stmt->ExecDirect(sql, kStructureRoutine, 1)) return false;
    sql = "CREATE INDEX ";
    sql += table;
    sql += "_BKPIDX ON ";
    sql += table;
    sql += "_BKP (R_E_C_N_O_)";
    conn.IndexSpaceClause(sql, 0);
    return stmt->ExecDirect(sql, kStructureRoutine, 1);
}

bool DropChangedColumns(tOracleConnection& conn, const char* table, tArray<tActionField>& actions) {
    std::unique_ptr<tOracleStmt> stmt = conn.MakeStatement();
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (!IsRebuilt(a) && !a.Has(tActionField::kDrop)) continue;
        tString sql = AlterHead(conn, table);
        sql += " DROP COLUMN ";
        sql += a.name;
        if (!stmt->ExecDirect(sql, kStructureRoutine, 1)) return false;
    }
    return true;
}

// The added and changed columns at their new types, in one ALTER TABLE.
bool AddChangedColumns(tOracleConnection& conn, const char* table, tArray<tActionField>& actions) {
    tString sql = AlterHead(conn, table);
    sql += " ";
    bool any = false;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (!IsRebuilt(a) && !a.Has(tActionField::kAdd)) continue;
        sql += any ? ", " : "ADD (";
        any = true;
        AppendRebuiltColumn(conn, sql, a);
    }
    if (!any) return true;
    sql += ")";
    return conn.MakeStatement()->ExecDirect(sql, kStructureRoutine, 1);
}

// The value that a rebuilt column takes back from the backup: a number turned text, a text cut
// to its new length, or the kept value of a length change. Empty when the column keeps its
// default (any other type change).
tString BackupValue(const tActionField& a) {
    tString value;
    if (a.Has(tActionField::kTypeChange)) {
        if (a.newType != 'C' || a.oldType != 'N') return value;
        value = "substr(to_char(";
        value += a.name;
        value += "),1,";
    } else if (!a.Has(tActionField::kLengthChange)) {
        return value;
    } else if (a.newType == 'C' && a.newLength < a.oldLength) {
        value = "substr(";
        value += a.name;
        value += ",1,";
    } else {
        return a.name;
    }
    value += IntToString(a.newLength);
    value += ")";
    return value;
}

// The kept values from the backup into the rebuilt columns, in blocks of record numbers.
bool CopyBack(tOracleConnection& conn, const char* table, tArray<tActionField>& actions) {
    tString sql("UPDATE ");
    sql += table;
    sql += " SET ";
    bool any = false;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        const tString value = BackupValue(a);
        if (value.GetLength() == 0) continue;
        if (any) sql += ", ";
        any = true;
        sql += a.name;
        AppendBackupValue(sql, table, value);
    }
    if (!any) return true;
    tString highest("select max(R_E_C_N_O_) from ");
    highest += table;
    highest += "_BKP";
    std::unique_ptr<tOracleStmt> stmt = conn.MakeStatement();
    if (!stmt->ExecDirect(highest, kStructureRoutine, 1) || !stmt->Fetch()) return false;
    return conn.ExecInBlocks(sql, kStructureRoutine, stmt->FieldAsDouble(0), 0);
}

}  // namespace

bool tOracleConnection::AlterTable(const char* table, tArray<tActionField>& actions, u8 hasRecDel) {
    const bool force = DBProcess().GetConfig().GetBoolEx(GetDBType(), alias, "ForceAlterTable", 1);
    const f64 recCount = GetRecCount(table);
    if (recCount < 0.0) return false;  // an unread count is no empty table
    bool describe = false;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (!force && NeedsRebuild(a)) return AlterStructure(table, actions, hasRecDel);
        describe = describe || TouchesColumns(a);
    }
    for (i32 i = 0; i < actions.Count(); ++i) {
        tActionField& a = *actions.Get(i);
        a.actions = PlanOf(a, recCount == 0.0);
    }
    tAlterPlan plan;
    if (describe && !QueueIndexDrops(*this, table, actions, plan.queue)) return false;
    GatherPlan(*this, table, actions, plan);
    return RunPlan(*this, table, plan) && FillColumns(*this, table, actions, recCount) &&
           DropColumns(*this, table, plan.temps, plan.tempCount,
                       "tOracleConnection::AlterTable(3)") &&
           ModifyColumns(*this, table, actions);
}

// An existing backup is dropped first, unless it may be the only full copy of a failed
// rebuild (the shared guard). The backup then stays until the next rebuild of the table.
bool tOracleConnection::AlterStructure(const char* table, tArray<tActionField>& actions, u8) {
    tString backup(table);
    backup += "_BKP";
    if (CanOpen(backup, nullptr)) {
        if (KeepsBackup(table, backup, kStructureRoutine)) return false;
        tString sql("DROP TABLE ");
        sql += backup;
        if (!MakeStatement()->ExecDirect(sql, kStructureRoutine, 1)) return false;
    }
    return BackUpColumns(*this, table, actions) && DropChangedColumns(*this, table, actions) &&
           AddChangedColumns(*this, table, actions) && CopyBack(*this, table, actions);
}
