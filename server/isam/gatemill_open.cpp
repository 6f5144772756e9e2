// The table file's construction, open with its joined fields, close and destruction, its status
// block and the simple answers of the generic file's operations.
#include <algorithm>

#include "lib_base/printer.h"
#include "lib_common/commbuffer.h"
#include "server/isam/dbconn.h"
#include "server/isam/dbprocess.h"
#include "server/isam/gatemill.h"
#include "server/isam/session.h"
#include "server/locks/lockengine.h"
#include "server/tables/dbtable.h"

tISAMFile::tISAMFile(tDBConnection* connection, std::shared_ptr<tTableDefinitionShared> def,
                     tCommBuffer& reply, u32 lockOwner)
    : tGenericFile(connection, def, reply, lockOwner), sql(connection->GetSqlBuffer()) {
    cache = std::make_unique<tCache>(*this);
    fetchStmt.reset(connection->NewStatement());
    mirror = std::make_unique<tTableDefinitionExclusive>(*def);
    SizeFieldMap();
    SizeRecordBuffers();
    seekOptimizer = std::make_unique<tSeekOptimizer>();
}

tISAMFile::~tISAMFile() {
    if (dbServer) ReleaseListedLocks();
    if (fetchStmt) fetchStmt->Close();
    if (preparedStmt) preparedStmt->Close();
}

void tISAMFile::SizeFieldMap() { fieldMap.assign(static_cast<size_t>(mirror->GetFieldCount()), 1); }

void tISAMFile::SizeRecordBuffers() {
    // At least one byte, so that a buffer always has an address; only the record length is ever
    // read or sent.
    const size_t length = std::max<size_t>(mirror->GetRecLen(), 1);
    incomingRecord.assign(length, 0);
    currentRecord.assign(length, 0);
    bufferRecno = -1.0;
    if (reply.IsSwapped()) swapRecord.assign(length, 0);
}

bool tISAMFile::Open(u16 id) {
    if (DBProcess().GetLogFull()) {
        fetchStmt->SetOwnerFile(this);
        if (preparedStmt) preparedStmt->SetOwnerFile(this);
    }
    if (!joinList) {
        tGenericFile::Open(id);
        SendIndexes();
        return true;
    }
    for (i32 i = 0; i < joinList->Count(); ++i) AddJoin(i, *joinList->Get(i));
    SetInternalID(id);
    reply.PutLong(static_cast<i32>(mirror->GetRecLen()));
    SendStructure(mirror.get());
    SendStatus();
    SendIndexes();
    return true;
}

void tISAMFile::AddJoin(i32 joinNo, const tJoinInfo& join) {
    BasePrintf("[JOIN] Table [%s] Prefix [%s] Fields [%s] Join [%s]\n", join.table.GetText(),
               join.prefix.GetText(), join.fields.GetText(), join.condition.GetText());
    const std::shared_ptr<tTableDefinitionShared> shared =
        connection->GetTableDef(join.table, connection->GetAlias(), true);
    GML_ASSERT(shared != nullptr, "*** FAILED TO OBTAIN JOIN TABLE DEFINITION ***");
    const tTableDefinitionExclusive joined(*shared);  // the fields stay valid while we read them
    const char* entry = join.fields.GetText();
    while (*entry) {
        const char* end = entry;
        while (*end && *end != ',') ++end;
        tString item(entry, static_cast<i32>(end - entry) + 1);
        entry = *end ? end + 1 : end;
        if (item.GetLength() == 0) continue;
        tString name(item);
        tString alias(item);
        const i32 bar = item.FindChar('|');
        if (bar > 0) {
            name = item.Copy(0, bar);
            alias = item.Copy(bar + 1);
        }
        // Result columns come back named in capitals, and are matched to the fields by name.
        alias.Upper();
        const tField* field = joined.FindField(name);
        if (!field) {
            BasePrintf("** ERRO : Field %s fot found on Join Table %s\n", name.GetText(),
                       join.table.GetText());
            continue;
        }
        BasePrintf("ADD Field %s AS %s ...\n", name.GetText(), alias.GetText());
        joinFields.push_back(
            {joinNo, name, alias, field->GetType(), field->GetLen(), field->GetDecimals()});
        mirror->AddField(alias, field->GetType(), field->GetLen(), field->GetDecimals(), true,
                         false);
    }
    SizeFieldMap();
    SizeRecordBuffers();
}

bool tISAMFile::Close() { return true; }

void tISAMFile::SendStatus() { PutStatus(LockEngineRecCount(*mirror)); }

f64 tISAMFile::GetRecno() { return cache->GetCurrentRecno(); }
i32 tISAMFile::GetOrder() { return order; }
bool tISAMFile::IsAuditable() { return mirror->IsAuditable(); }
const char* tISAMFile::GetTableName() { return mirror->GetName(); }
bool tISAMFile::IsQuery() { return false; }
bool tISAMFile::IsExclusive() { return exclusive; }

tIndexDefinition* tISAMFile::GetCurrentIndex() const {
    if (filterIndex && order == 0) return filterIndex.get();
    if (order > 0) return mirror->GetIndex(order - 1);
    return nullptr;
}
