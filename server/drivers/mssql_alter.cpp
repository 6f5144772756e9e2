// SQL Server table alteration: in place with ALTER TABLE (columns moved aside as TMPC<i> and
// copied when they turn into character columns), or by rebuilding the table through a copy
// named <table>_BKP. Also TRUNCATE and this session's GML_PARAM row.
#include <strings.h>

#include <memory>
#include <vector>

#include "lib_base/printer.h"
#include "lib_common/configcache.h"
#include "lib_common/logwriter.h"
#include "lib_common/sqltext.h"
#include "server/drivers/mssql.h"
#include "server/isam/dbprocess.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kStructureRoutine = "tMSSQLConnection::AlterStructure";
constexpr const char* kAlterRoutine = "tMSSQLConnection::AlterTable";

// The plan AlterTable gives each entry in place of its request flags.
constexpr u16 kConvert = 0x200;   // moved aside, added anew and filled from the moved column
constexpr u16 kRecreate = 0x400;  // dropped and added anew; contents lost
constexpr u16 kWiden = 0x800;
constexpr u16 kShorten = 0x1000;

bool IsPlanned(const tActionField& a) {
    return a.actions & (tActionField::kDrop | kConvert | kRecreate | kWiden | kShorten);
}

// Whether the entry keeps its values through a type change: it becomes a character column.
bool KeepsConvertedValues(const tActionField& a) { return a.newType == 'C' && a.oldType != 'M'; }

// Whether ForceAlterTable off sends the request to the rebuild.
bool NeedsRebuild(const tActionField& a) {
    return a.Has(tActionField::kTypeChange) ||
           (a.newType == 'C' && a.Has(tActionField::kLengthChange) && a.oldLength > a.newLength);
}

u16 PlanOf(const tActionField& a) {
    if (a.Has(tActionField::kTypeChange)) return KeepsConvertedValues(a) ? kConvert : kRecreate;
    if (a.Has(tActionField::kLengthChange) || a.Has(tActionField::kDecimalsChange)) {
        if (a.newType == 'C') return a.newLength < a.oldLength ? kShorten : kWiden;
        if (a.newType == 'N') return 0;  // FLOAT whatever the length and decimals
    }
    return a.actions;
}

// A column that becomes characters, cut to its new length.
void WriteConverted(tString& out, const tActionField& a) {
    out += "left(convert(varchar(2000),";
    out += a.name;
    out += "),";
    out += IntToString(a.newLength);
    out += ")";
}

void Join(tString& list, const char* item) {
    if (list.GetLength() > 0) list += ",";
    list += item;
}

bool RunQueue(tODBCStatement& stmt, std::vector<tString>& queue, const char* routine) {
    bool ok = true;
    for (size_t i = 0; ok && i < queue.size(); ++i) ok = stmt.ExecDirect(queue[i], routine, 1);
    queue.clear();
    return ok;
}

tString TempName(i32 i) {
    tString name("TMPC");
    name += IntToString(i);
    return name;
}

}  // namespace

bool tMSSQLConnection::ClearTable(const char* table) {
    if (!IsSqlIdentifier(table)) return false;
    tString sql("TRUNCATE TABLE ");
    sql += table;
    return Statement()->ExecDirect(sql, "tMSSQLConnection::ClearTable", 1);
}

bool tMSSQLConnection::SetParam(const char* name, const char* value) {
    std::unique_ptr<tODBCStatement> stmt = Statement();
    stmt->SetRetrieveData(0);
    return WriteParamRow(*stmt, "*", name, value, "@@SPID", "tMSSQLConnection::SetParam", 1);
}

bool tMSSQLConnection::DropColumnConstraints(const char* table, const char* field,
                                             std::vector<tString>& queue) {
    tString sql(
        "select oo.name from sysobjects o, syscolumns c, sysobjects oo where o.id = "
        "object_id('dbo.");
    sql += table;
    sql += "') and o.id = c.id and c.name = '";
    sql += field;
    sql += "' and c.cdefault = oo.id and oo.parent_obj = o.id";
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!stmt->ExecDirect(sql, "tMSSQLConnection::DropColumnConstraints", 1)) return false;
    tString name;
    while (stmt->Fetch()) {
        stmt->FieldAsString(name, 0);
        name.Trim();
        tString drop("ALTER TABLE dbo.");
        drop += table;
        drop += " DROP CONSTRAINT ";
        drop += name;
        queue.push_back(drop);
    }
    return true;
}

// Queues the drops of every index whose key holds a planned field.
bool tMSSQLConnection::DropTouchedIndexes(const char* table, tArray<tActionField>& actions,
                                          std::vector<tString>& queue) {
    tTableDefinitionExclusive def(table, alias);
    if (!DescribeTable(def) || !DescribeIndexes(def)) return false;
    std::vector<bool> touched(def.GetIndexCount(), false);
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        const i16 field = IsPlanned(a) ? FindFieldNo(def, a.name) : -1;
        if (field < 0) continue;
        for (i32 x = 0; x < def.GetIndexCount(); ++x) {
            const tIndexDefinition& index = *def.GetIndex(x);
            for (i32 k = 0; k < index.GetFieldCount(); ++k) {
                if (index.GetField(k) == field) touched[x] = true;
            }
        }
    }
    for (i32 x = 0; x < def.GetIndexCount(); ++x) {
        if (!touched[x]) continue;
        tString sql;
        DropIndex(sql, table, def.GetIndex(x)->GetName());
        queue.push_back(sql);
    }
    return true;
}

// The ADD of the new columns; a row grown past the server's limit (native error 511) gets the
// table's indexes rebuilt and the ADD once more.
bool tMSSQLConnection::AddColumns(tODBCStatement& stmt, const char* table, const tString& columns) {
    tString sql("ALTER TABLE dbo.");
    sql += table;
    sql += " ADD ";
    sql += columns;
    if (stmt.ExecDirect(sql, "tMSSQLConnectionAlterTable_2a", 1)) return true;
    if (stmt.GetRetCode() != 511) return false;
    WriteLog(
        "[RECOVER] Last ADD Column(s) operation FAILED. Automatic recover using Rebuild Indexes "
        "feature.\n",
        0);
    tString rebuild("DBCC DBREINDEX('dbo.");
    rebuild += table;
    rebuild += "')";
    if (!stmt.ExecDirect(rebuild, "tMSSQLConnectionAlterTable_2b", 1)) return false;
    WriteLog("[RECOVER] Rebuild Indexes SQL feature completed Ok.\n", 0);
    return stmt.ExecDirect(sql, "tMSSQLConnectionAlterTable_2c", 1);
}

bool tMSSQLConnection::AlterTable(const char* table, tArray<tActionField>& actions, u8 hasRecDel) {
    if (!CheckAlterNames(table, actions, kAlterRoutine)) return false;
    const f64 recCount = GetRecCount(table);
    if (recCount < 0.0) return false;  // an unread count is no empty table
    if (!DBProcess().GetConfig().GetBoolEx(GetDBType(), alias, "ForceAlterTable", 1)) {
        for (i32 i = 0; i < actions.Count(); ++i) {
            if (NeedsRebuild(*actions.Get(i))) return AlterStructure(table, actions, hasRecDel);
        }
    }
    bool describe = false;
    for (i32 i = 0; i < actions.Count(); ++i) {
        tActionField& a = *actions.Get(i);
        describe = describe || a.Has(tActionField::kTypeChange) || a.Has(tActionField::kDrop) ||
                   (a.newType == 'C' &&
                    (a.Has(tActionField::kLengthChange) || a.Has(tActionField::kDecimalsChange)));
        a.actions = PlanOf(a);
        if (recCount == 0.0 && (a.actions == kConvert || a.actions == kShorten)) {
            a.actions = kRecreate;
        }
    }
    std::vector<tString> queue;
    if (describe && !DropTouchedIndexes(table, actions, queue)) return false;

    tString dropList;
    tString addList;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (a.actions == kConvert) {
            if (!DropColumnConstraints(table, a.name, queue)) return false;
            tString rename("sp_rename '");
            rename += table;
            rename += ".";
            rename += a.name;
            rename += "', '";
            rename += TempName(i);
            rename += "'";
            queue.push_back(rename);
        } else if (a.actions == tActionField::kDrop || a.actions == kRecreate) {
            if (!DropColumnConstraints(table, a.name, queue)) return false;
            Join(dropList, a.name);
        }
        if (a.actions == tActionField::kAdd || a.actions == kConvert || a.actions == kRecreate) {
            tString column;
            FieldDefinition(column, table, a.name, a.newType, a.newLength);
            Join(addList, column);
        }
    }
    std::unique_ptr<tODBCStatement> stmt = Statement();
    if (!RunQueue(*stmt, queue, "tMSSQLConnectionAlterTable_0")) return false;
    if (dropList.GetLength() > 0) {
        tString sql("ALTER TABLE dbo.");
        sql += table;
        sql += " DROP COLUMN ";
        sql += dropList;
        if (!stmt->ExecDirect(sql, "tMSSQLConnectionAlterTable_1", 1)) return false;
    }
    if (addList.GetLength() > 0 && !AddColumns(*stmt, table, addList)) return false;

    tString assignments;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        tString one(a.name);
        if (a.actions == kConvert) {
            one += " = left(convert(varchar(2000),";
            one += TempName(i);
            one += "),";
        } else if (a.actions == kShorten) {
            one += " =  substring(";
            one += a.name;
            one += ",1,";
        } else {
            continue;
        }
        one += IntToString(a.newLength);
        one += ")";
        Join(assignments, one);
    }
    if (assignments.GetLength() > 0) {
        tString sql("UPDATE dbo.");
        sql += table;
        sql += " SET ";
        sql += assignments;
        if (!ExecInBlocks(sql, "tMSSQLConnectionAlterTable(4)", recCount, 0)) return false;
    }

    tString tempList;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (a.actions == kConvert) {
            tString temp(" ");
            temp += TempName(i);
            Join(tempList, temp);
        } else if (a.actions == kWiden || a.actions == kShorten) {
            if (!DropColumnConstraints(table, a.name, queue)) return false;
            tString alter("ALTER TABLE dbo.");
            alter += table;
            alter += " ALTER COLUMN ";
            alter += a.name;
            alter += " ";
            SqlType(alter, a.newType, a.newLength);
            alter += " NOT NULL";
            queue.push_back(alter);
            tString constraint("ALTER TABLE dbo.");
            constraint += table;
            constraint += " ADD CONSTRAINT ";
            DefaultName(constraint, table, a.name);
            DefaultClause(constraint, a.newType, a.newLength);
            constraint += " FOR ";
            constraint += a.name;
            queue.push_back(constraint);
        }
    }
    if (tempList.GetLength() > 0) {
        tString sql("ALTER TABLE dbo.");
        sql += table;
        sql += " DROP COLUMN ";
        sql += tempList;
        if (!stmt->ExecDirect(sql, "tMSSQLConnectionAlterTable_3", 1)) {
            queue.clear();
            return false;
        }
    }
    return RunQueue(*stmt, queue, "tMSSQLConnectionAlterTable_4");
}

void tMSSQLConnection::BackupKey(tString& sql, const char* backup) {
    sql = "CREATE INDEX ";
    sql += backup;
    sql += "IDX ON ";
    sql += backup;
    sql += "(R_E_C_N_O_)";
}

bool tMSSQLConnection::AlterStructure(const char* table, tArray<tActionField>& actions,
                                      u8 hasRecDel) {
    if (!CheckAlterNames(table, actions, kStructureRoutine)) return false;
    if (GetRecCount(table) < 0.0) return false;  // an unread count is no empty table
    if (!RebuildEmpty(*Statement(), table, actions, hasRecDel, kStructureRoutine)) return false;
    return CopyBack(table, actions, hasRecDel);
}

// The rows of <table>_BKP into the new table, in blocks of record numbers. An identity
// R_E_C_N_O_ takes the copied numbers only between the IDENTITY_INSERT pair.
bool tMSSQLConnection::CopyBack(const char* table, tArray<tActionField>& actions, u8 hasRecDel) {
    tString sql = CopyBackInsert(table, actions, hasRecDel, WriteConverted);
    if (sql.GetLength() == 0) {
        BasePrintf(
            "[WARNING] (tMSSQLConnection::AlterStructure) Structure too diferent. No data "
            "restored from [%s_BKP]\n",
            table);
        return true;
    }
    sql += " ";
    tString backup(table);
    backup += "_BKP";
    const f64 highest = GetRecCount(backup);
    if (highest < 0.0) return false;  // the copy would run no block and lose every row
    const bool identity = UseAutoRecno(table);
    std::unique_ptr<tODBCStatement> stmt = Statement();
    tString on("SET IDENTITY_INSERT ");
    on += table;
    tString off(on);
    on += " ON";
    off += " OFF";
    if (identity && !stmt->ExecDirect(on, kStructureRoutine, 1)) return false;
    const bool copied = ExecInBlocks(sql, kStructureRoutine, highest, 0);
    if (identity && !stmt->ExecDirect(off, kStructureRoutine, 1)) return false;
    return copied;
}
