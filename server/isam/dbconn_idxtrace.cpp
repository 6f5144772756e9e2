// The index-use trace (one GML_IDXSTATS row per use of an index by a key cursor, and a row with
// a use count of 0 for every index of a loaded table) and the virtual indexes of GML_VIRTUALIDX,
// which a table's definition gains when it is loaded.
#include <strings.h>

#include <memory>

#include "lib_base/critsec.h"
#include "lib_base/printer.h"
#include "lib_base/toklist.h"
#include "lib_common/logwriter.h"
#include "server/isam/dbconn.h"
#include "server/isam/session.h"
#include "server/locks/lockengine.h"
#include "server/tables/dbtable.h"

namespace {

// The process's one definition of GML_IDXSTATS: its lock bucket and full name identify the
// table to the record-lock engine when a trace row draws its record number. Made at most once
// and then kept, under the lock.
tCriticalSection& IndexTraceLock() {
    static tCriticalSection lock;
    return lock;
}
std::shared_ptr<tTableDefinitionShared> indexTraceDef;

}  // namespace

void tDBConnection::ForgetIndexTraceDefinition() {
    tWaiting hold(&IndexTraceLock(), __FILE__, __LINE__);
    indexTraceDef.reset();
}

std::shared_ptr<tTableDefinitionShared> tDBConnection::IndexTraceDefinition() {
    tWaiting hold(&IndexTraceLock(), __FILE__, __LINE__);
    if (indexTraceDef) return indexTraceDef;
    std::shared_ptr<tTableDefinitionShared> def(new tTableDefinitionShared("GML_IDXSTATS", alias));
    def->SetFieldCapacity(10);
    DescribeTable(*def);
    const f64 count = GetRecCount("GML_IDXSTATS");
    if (count < 0.0) return nullptr;
    // New rows take the numbers after the highest one in the table.
    if (tRecordLockEngine* engine = LockEngine()) {
        engine->SetRecCount(static_cast<i32>(def->GetLockBucket()), def->GetFullName(), count);
    }
    indexTraceDef = def;
    return def;
}

tRecordLockEngine* tDBConnection::LockEngine() const {
    return dbServer ? dbServer->GetRecordLockEngine() : nullptr;
}

void tDBConnection::AppendEnvLiteral(tString& sql) {
    // Rows written without an environment hold a blank one.
    AppendLiteral(sql, alias.GetLength() > 0 ? alias.GetText() : " ");
}

tString tDBConnection::IndexKeyText(const tTableDefinition& def,
                                    const tIndexDefinition& index) const {
    tString key;
    for (i32 i = 0; i < index.GetFieldCount(); ++i) {
        if (i > 0) key += ",";
        key += def.GetField(index.GetField(i))->GetName();
    }
    return key;
}

void tDBConnection::TraceIndex(const tTableDefinition& def, const tIndexDefinition& index) {
    if (!indexTrace) return;
    InsertIndexUse(def, index, 1, "tDBConnection::TraceIndex");
}

bool tDBConnection::InsertIndexUse(const tTableDefinition& def, const tIndexDefinition& index,
                                   u8 uses, const char* routine) {
    tRecordLockEngine* engine = LockEngine();
    const std::shared_ptr<tTableDefinitionShared> stats = IndexTraceDefinition();
    if (!engine || !stats) return false;
    const f64 recno = engine->NextRecno(
        dbServer->GetThreadId(), static_cast<i32>(stats->GetLockBucket()), stats->GetFullName(), 0);
    if (recno <= 0.0) return false;  // another owner holds the table lock
    tString sql("INSERT INTO GML_IDXSTATS(");
    if (alias.GetLength() > 0) sql += "IDX_ENV,";
    sql += "IDX_TABLE,IDX_NAME,IDX_KEY,IDX_USE,R_E_C_N_O_) VALUES(";
    if (alias.GetLength() > 0) {
        AppendLiteral(sql, alias);
        sql += ",";
    }
    AppendLiteral(sql, def.GetName());
    sql += ",";
    AppendLiteral(sql, index.GetName());
    sql += ",";
    AppendLiteral(sql, IndexKeyText(def, index));
    sql += uses ? ",1," : ",0,";
    sql += RecnoToStr(recno, recnoText);
    sql += ")";
    sql.Upper();
    std::unique_ptr<tStatement> stmt(NewStatement());
    return stmt->ExecDirect(sql, routine, 1);
}

void tDBConnection::PrepareTraceIndex(const tTableDefinition& def) {
    if (!indexTrace) return;
    std::unique_ptr<tStatement> stmt(NewStatement());
    for (i32 i = 0; i < def.GetIndexCount(); ++i) {
        const tIndexDefinition& index = *def.GetIndex(i);
        tString sql("SELECT R_E_C_N_O_ FROM GML_IDXSTATS WHERE IDX_ENV = ");
        AppendEnvLiteral(sql);
        sql += " AND IDX_NAME = ";
        AppendLiteral(sql, index.GetName());
        sql += " AND IDX_KEY =";
        AppendLiteral(sql, IndexKeyText(def, index));
        sql.Upper();
        if (!stmt->ExecDirect(sql, "tDBConnection::TraceIndex", 1)) continue;
        const f64 recno = stmt->Fetch() ? stmt->FieldAsDouble(0) : 0.0;
        if (recno == 0.0) InsertIndexUse(def, index, 0, "tDBConnection::PrepareTraceIndex");
    }
}

void tDBConnection::LoadVirtualIndex(tTableDefinition& def) {
    std::unique_ptr<tStatement> stmt(NewStatement());
    tString sql("SELECT IDX_NAME,IDX_KEY FROM GML_VIRTUALIDX WHERE IDX_ENV = ");
    AppendEnvLiteral(sql);
    sql += " AND IDX_TABLE = ";
    AppendLiteral(sql, def.GetName());
    sql.Upper();
    if (!stmt->ExecDirect(sql, "tDBConnection::LoadVirtualIndex", 1)) return;
    tString name;
    tString key;
    while (stmt->Fetch()) {
        stmt->FieldAsString(name, 0);
        stmt->FieldAsString(key, 1);
        name.Trim();
        key.Trim();
        AddVirtualIndex(def, name, key);
    }
}

// Adds the index unless its key names a field the table lacks, or orders by the record number
// alone (the deletion mark is never part of a key).
bool tDBConnection::AddVirtualIndex(tTableDefinition& def, const char* name, const char* key) {
    std::unique_ptr<tIndexDefinition> index(new tIndexDefinition(name, false));
    tTokList parts(key, ",");
    tIterator<tString> it(&parts);
    while (tString* part = it.Next()) {
        part->Trim();
        if (strcasecmp(*part, kDeletedColumn) == 0) continue;
        const i16 fieldNo = FindFieldNo(def, *part);
        if (fieldNo < 0) {
            tString text;
            text.sprintf("[WARNING] Virtual index [%s] of table [%s] skipped: no field [%s].\n",
                         name, def.GetName(), part->GetText());
            WriteLog(text, 0);
            return false;
        }
        index->AddField(fieldNo);
    }
    const i32 count = index->GetFieldCount();
    if (count == 0 || (count == 1 && index->GetField(0) == def.GetRecnoField())) return false;
    def.AddIndex(std::move(index));
    return true;
}

bool tDBConnection::IsVirtualIndex(const char* name) {
    std::unique_ptr<tStatement> stmt(NewStatement());
    stmt->SetRetrieveData(0);  // only whether a row comes back
    tString sql("SELECT IDX_NAME FROM GML_VIRTUALIDX WHERE IDX_ENV=");
    AppendEnvLiteral(sql);
    sql += " AND IDX_NAME = ";
    AppendLiteral(sql, name);
    sql.Upper();
    return stmt->ExecDirect(sql, "tDBConnection::IsVirtualIndex", 0) && stmt->Fetch();
}
