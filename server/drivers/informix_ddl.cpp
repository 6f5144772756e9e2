// Informix DDL: the CREATE TABLE text with its storage clauses, the index space, the
// record-number key, column changes in place in four steps under the process's alteration lock,
// and the rebuild through <table>_BKP.
#include <cstdlib>
#include <memory>

#include "lib_base/toklist.h"
#include "lib_common/configcache.h"
#include "lib_common/sqltext.h"
#include "server/drivers/cloudscape.h"
#include "server/drivers/informix.h"
#include "server/isam/dbprocess.h"
#include "server/runtime/globals.h"
#include "server/runtime/namedlock.h"
#include "server/tables/dbtable.h"

namespace {

// Dates are character columns, memos TEXT without a default, record numbers INTEGER.
constexpr tColumnTexts kColumnTexts = {" VARCHAR(",
                                       ") DEFAULT '",
                                       32767,
                                       " FLOAT DEFAULT 0.0 NOT NULL",
                                       " VARCHAR(1) DEFAULT 'F' NOT NULL",
                                       " TEXT",
                                       " INTEGER DEFAULT 0 NOT NULL",
                                       "' NOT NULL"};

constexpr const char* kRebuildRoutine = "tInformixConnection::AlterStructure";

// The working codes that AlterTable writes over an entry's flags.
constexpr u16 kConvert = 0x0200;   // N to C, kept through the column TMPC<position>
constexpr u16 kRecreate = 0x0400;  // dropped and added again; values lost
constexpr u16 kModify = 0x0800;    // C widened in place
constexpr u16 kShrink = 0x1000;    // C narrowed: values cut, then the column modified

void Join(tString& list, const char* item) {
    if (list.GetLength() > 0) list += ",";
    list += item;
}

tString TempName(i32 position) {
    tString name;
    name.sprintf("TMPC%u", static_cast<u32>(position));
    return name;
}

// The leading integer of a storage item, as a positive clause value; 0 when there is none.
i32 ExtentOf(const tString& item) { return item.GetLength() > 0 ? std::atoi(item.GetText()) : 0; }

void AppendExtent(tString& sql, const char* clause, const tString& item) {
    const i32 n = ExtentOf(item);
    if (n <= 0) return;
    tString text;
    text.sprintf("%s%i", clause, n);
    sql += text;
}

u16 PlanOf(const tActionField& a, f64 highest) {
    if (a.Has(tActionField::kTypeChange)) {
        return a.newType == 'C' && a.oldType == 'N' && highest > 0.0 ? kConvert : kRecreate;
    }
    if (a.Has(tActionField::kLengthChange) || a.Has(tActionField::kDecimalsChange)) {
        if (a.newType == 'C') return a.oldLength <= a.newLength ? kModify : kShrink;
        if (a.newType == 'N') return 0;  // FLOAT has no length
    }
    return a.actions;
}

bool NeedsRebuild(const tActionField& a) {
    return a.Has(tActionField::kAdd) || a.Has(tActionField::kTypeChange) ||
           (a.newType == 'C' && a.Has(tActionField::kLengthChange));
}

// The columns of a rebuild's definition after its data fields.
void AddRecordColumns(tTableDefinition& def, u8 hasRecDel) {
    def.AddField(kDeletedColumn, 'C', 1, 0, true, true);
    def.AddField(kRecnoColumn, 'R', 4, 0, false, true);
    if (hasRecDel) def.AddField(kRecDelColumn, 'R', 4, 0, false, true);
}

const char* RecordColumnList(u8 hasRecDel) {
    return hasRecDel ? "D_E_L_E_T_,R_E_C_N_O_,R_E_C_D_E_L_" : "D_E_L_E_T_,R_E_C_N_O_";
}

}  // namespace

tCriticalSection& InformixAlterLock() {
    static tCriticalSection own;
    tGMLGlobals* globals = Globals();
    if (globals && globals->GetNamedLocks()) {
        return *globals->GetNamedLocks()->GetNode("INFORMIX", "#GMALTER#");
    }
    return own;
}

void tInformixConnection::ColumnType(tString& out, u8 letter, i32 length) {
    AppendColumnType(out, letter, length, kColumnTexts);
}

void tInformixConnection::ReadStorageList(const char* table, tString (&items)[4], i32& count) {
    tString key;
    key.sprintf("%s_def", table);
    tString list;
    DBProcess().GetConfig().GetStringEx(GetDBType(), alias, key, "", list);
    tTokList tokens(list, ",");
    count = 0;
    tIterator<tString> next(&tokens);
    for (tString* item = next.Next(); item && count < 4; item = next.Next()) items[count++] = *item;
}

void tInformixConnection::CreateTable(const tTableDefinition& def, tString& sql) {
    sql = "CREATE TABLE ";
    sql += ownerPrefix;
    sql += def.GetName();
    sql += "(";
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField& field = *def.GetField(i);
        if (i > 0) sql += ",";
        sql += field.GetName();
        ColumnType(sql, field.GetType(), field.GetLen());
    }
    sql += ")";
    tString items[4];
    i32 count = 0;
    ReadStorageList(def.GetName(), items, count);
    if (count == 0) {
        tConfigCache& config = DBProcess().GetConfig();
        config.GetStringEx(GetDBType(), alias, "ExtentSize", "", items[0]);
        config.GetStringEx(GetDBType(), alias, "NextExtent", "", items[1]);
        config.GetStringEx(GetDBType(), alias, "TableSpace", "", items[2]);
    }
    if (items[2].GetLength() > 0) {
        sql += " IN ";
        sql += items[2];
    }
    AppendExtent(sql, " EXTENT SIZE ", items[0]);
    AppendExtent(sql, " NEXT SIZE ", items[1]);
    sql += " LOCK MODE ROW";
}

void tInformixConnection::IndexSpaceClause(tString& sql, u8) { IndexSpaceClause(sql, nullptr); }

void tInformixConnection::IndexSpaceClause(tString& sql, const char* table) {
    tString items[4];
    i32 count = 0;
    if (table) ReadStorageList(table, items, count);
    if (count == 0) {
        DBProcess().GetConfig().GetStringEx(GetDBType(), alias, "IndexSpace", "", items[3]);
    }
    if (items[3].GetLength() > 0) {
        sql += " IN ";
        sql += items[3];
    }
}

bool tInformixConnection::AddPrimaryKey(tString& sql, const char* table) {
    sql = "ALTER TABLE ";
    sql += ownerPrefix;
    sql += table;
    sql += " ADD CONSTRAINT PRIMARY KEY (R_E_C_N_O_) CONSTRAINT ";
    sql += table;
    sql += "_PK";
    return true;
}

void tInformixConnection::GetRecnoIndex(const char* table, tString& sql) {
    AddPrimaryKey(sql, table);
}

bool tInformixConnection::RunLocked(const char* sql, const char* routine) {
    tWaiting hold(&InformixAlterLock(), __FILE__, __LINE__);
    return Run(sql, routine);
}

bool tInformixConnection::AlterTable(const char* table, tArray<tActionField>& actions,
                                     u8 hasRecDel) {
    if (!AreAlterNames(table, actions)) return false;
    const f64 highest = GetRecCount(table);
    if (highest < 0.0) return false;  // an unread count is no empty table
    if (!ReadBool("ForceAlterTable")) {
        for (i32 i = 0; i < actions.Count(); ++i) {
            if (NeedsRebuild(*actions.Get(i))) return AlterStructure(table, actions, hasRecDel);
        }
    }
    for (i32 i = 0; i < actions.Count(); ++i) {
        tActionField& a = *actions.Get(i);
        a.actions = PlanOf(a, highest);
    }
    return AlterInPlace(table, actions, highest);
}

bool tInformixConnection::AlterInPlace(const char* table, tArray<tActionField>& actions,
                                       f64 highest) {
    tString head("ALTER TABLE ");
    head += ownerPrefix;
    head += table;
    // (1) the converted columns renamed; the drop and add lists.
    tString drops;
    tString adds;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (a.actions == kConvert) {
            tString rename("RENAME COLUMN ");
            rename += ownerPrefix;
            rename += table;
            rename += ".";
            rename += a.name;
            rename += " TO ";
            rename += TempName(i);
            if (!RunLocked(rename, "tInformixConnection::AlterTable(1)")) return false;
        }
        if (a.actions == tActionField::kDrop || a.actions == kRecreate) Join(drops, a.name);
        if (a.actions == tActionField::kAdd || a.actions == kConvert || a.actions == kRecreate) {
            tString column(a.name);
            ColumnType(column, a.newType, a.newLength);
            Join(adds, column);
        }
    }
    // (2) drops and adds in one statement.
    if (drops.GetLength() > 0 || adds.GetLength() > 0) {
        tString sql(head);
        if (drops.GetLength() > 0) {
            sql += " DROP ( ";
            sql += drops;
            sql += ")";
        }
        if (drops.GetLength() > 0 && adds.GetLength() > 0) sql += " , ";
        if (adds.GetLength() > 0) {
            sql += " ADD ( ";
            sql += adds;
            sql += ")";
        }
        if (!RunLocked(sql, "tInformixConnection::AlterTable(2)")) return false;
    }
    // (3) the values: converted numbers, cut texts and, when asked, blanked new columns.
    const bool clean = ReadBool("CleanAddFields");
    tString assignments;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        tString value;
        if (a.actions == kConvert) {
            value.sprintf("%s = cast(round( %s,%u) as varchar(%u))", a.name.GetText(),
                          TempName(i).GetText(), static_cast<u32>(a.newDecimals),
                          static_cast<u32>(a.newLength));
        } else if (a.actions == kShrink) {
            value.sprintf("%s = nvl(substr(%s,1,%u), '%s')", a.name.GetText(), a.name.GetText(),
                          static_cast<u32>(a.newLength), DefaultBlanks(a.newLength).GetText());
        } else if (clean && (a.actions == tActionField::kAdd || a.actions == kRecreate) &&
                   (a.newType == 'C' || a.newType == 'D')) {
            value.sprintf("%s = '%s'", a.name.GetText(), DefaultBlanks(a.newLength).GetText());
        } else {
            continue;
        }
        Join(assignments, value);
    }
    if (assignments.GetLength() > 0) {
        tString sql("UPDATE ");
        sql += ownerPrefix;
        sql += table;
        sql += " SET ";
        sql += assignments;
        if (!ExecInBlocks(sql, "tInformixConnection::AlterTable(3)", highest, 0)) return false;
    }
    // (4) the temporary columns dropped, the changed texts modified.
    tString temps;
    tString modified;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (a.actions == kConvert) {
            tString temp(" ");
            temp += TempName(i);
            Join(temps, temp);
        }
        if (a.actions == kShrink || a.actions == kModify) {
            tString column(a.name);
            ColumnType(column, a.newType, a.newLength);
            Join(modified, column);
        }
    }
    if (temps.GetLength() == 0 && modified.GetLength() == 0) return true;
    tString sql(head);
    if (temps.GetLength() > 0) {
        sql += " DROP (";
        sql += temps;
        sql += ")";
    }
    if (temps.GetLength() > 0 && modified.GetLength() > 0) sql += " , ";
    if (modified.GetLength() > 0) {
        sql += " MODIFY (";
        sql += modified;
        sql += ")";
    }
    return RunLocked(sql, "tInformixConnection::AlterTable(4)");
}

bool tInformixConnection::AlterStructure(const char* table, tArray<tActionField>& actions,
                                         u8 hasRecDel) {
    if (!AreAlterNames(table, actions)) return false;
    // Counted first: a count that failed must not pass for an empty table, which would drop
    // the table without copying a row.
    const f64 highest = GetRecCount(table);
    if (highest < 0.0) return false;
    tString backup(table);
    backup += "_BKP";
    if (CanOpen(backup, nullptr)) {
        if (KeepsBackup(table, backup, kRebuildRoutine)) return false;
        tString drop("DROP TABLE ");
        drop += ownerPrefix;
        drop += backup;
        if (!Run(drop, kRebuildRoutine)) return false;
    }
    tString sql;
    {
        tTableDefinitionExclusive def(backup, alias);
        for (i32 i = 0; i < actions.Count(); ++i) {
            const tActionField& a = *actions.Get(i);
            if (a.Has(tActionField::kAdd)) continue;
            def.AddField(a.name, a.oldType, static_cast<i16>(a.oldLength), a.oldDecimals, true,
                         true);
        }
        AddRecordColumns(def, hasRecDel);
        CreateTable(def, sql);
    }
    if (!Run(sql, kRebuildRoutine)) return false;
    sql = "CREATE INDEX ";
    sql += backup;
    sql += "IDX ON ";
    sql += backup;
    sql += "(R_E_C_N_O_)";
    IndexSpaceClause(sql, nullptr);
    if (!Run(sql, kRebuildRoutine)) return false;
    tString copied;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (a.Has(tActionField::kAdd)) continue;
        copied += a.name;
        copied += ",";
    }
    copied += RecordColumnList(hasRecDel);
    sql = "INSERT INTO ";
    sql += backup;
    sql += "(";
    sql += copied;
    sql += ") SELECT ";
    sql += copied;
    sql += " FROM ";
    sql += table;
    if (!ExecInBlocks(sql, kRebuildRoutine, highest, 0)) return false;
    sql = "DROP TABLE ";
    sql += ownerPrefix;
    sql += table;
    if (!Run(sql, kRebuildRoutine)) return false;
    return RebuildFromBackup(table, actions, hasRecDel, highest);
}

// The table created anew from the change list and the kept columns copied back from the backup.
bool tInformixConnection::RebuildFromBackup(const char* table, tArray<tActionField>& actions,
                                            u8 hasRecDel, f64 highest) {
    tString sql;
    {
        tTableDefinitionExclusive def(table, alias);
        for (i32 i = 0; i < actions.Count(); ++i) {
            const tActionField& a = *actions.Get(i);
            if (a.Has(tActionField::kDrop)) continue;
            def.AddField(a.name, a.newType, static_cast<i16>(a.newLength), a.newDecimals, true,
                         true);
        }
        AddRecordColumns(def, hasRecDel);
        CreateTable(def, sql);
    }
    if (!Run(sql, kRebuildRoutine)) return false;
    tString columns;
    tString values;
    for (i32 i = 0; i < actions.Count(); ++i) {
        const tActionField& a = *actions.Get(i);
        if (a.Has(tActionField::kAdd) || a.Has(tActionField::kDrop)) continue;
        if (a.Has(tActionField::kTypeChange) && !(a.oldType == 'N' && a.newType == 'C')) continue;
        columns += a.name;
        columns += ",";
        if (a.Has(tActionField::kLengthChange) && a.newType == 'C' && a.oldLength > a.newLength) {
            tString cut;
            cut.sprintf("substr(%s,1,%u)", a.name.GetText(), static_cast<u32>(a.newLength));
            values += cut;
        } else {
            values += a.name;
        }
        values += ",";
    }
    sql = "INSERT INTO ";
    sql += table;
    sql += "(";
    sql += columns;
    sql += RecordColumnList(hasRecDel);
    sql += ") SELECT ";
    sql += values;
    sql += RecordColumnList(hasRecDel);
    sql += " FROM ";
    sql += table;
    sql += "_BKP ";
    return ExecInBlocks(sql, kRebuildRoutine, highest, 0);
}
