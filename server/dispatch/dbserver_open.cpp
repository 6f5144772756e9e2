// Opening and closing tables: OP_OPEN makes a table file and gives it the lowest free id,
// OP_CLOSE deletes it and frees the id, OP_JUSTCLOSE closes a prepared query's cursor only.
//
// Open:
//  (1) An open either succeeds whole (registered with the record-lock engine, the file in the
//      open-file table, code 0, the id and the file's open reply) or leaves nothing behind: no
//      registration, no file, no id in use, and no join description waiting.
//  (2) Opens of one table under one alias run one at a time across connections, under the
//      table's named node, whatever the case of the name the client sends.
//  (3) The name reaches the database only after it passed the identifier check.
#include <memory>

#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "lib_common/sqltext.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/locks/lockengine.h"
#include "server/runtime/consolelog.h"
#include "server/runtime/globals.h"
#include "server/runtime/gmlthreads.h"
#include "server/runtime/namedlock.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kOpenRoutine = "tDBServer::OpenFile";
constexpr const char* kCatalogName = "GML_FILES";  // opens the database's table list instead

// The opening of a table registered with the record-lock engine, and the file made for it.
// Unless kept, both are undone when the guard goes, so that an assertion thrown while the file
// opens leaves no registration and no file behind (1).
class tOpening {
public:
    tOpening(tRecordLockEngine& engine, u32 owner, std::shared_ptr<tTableDefinitionShared> def)
        : engine(engine), owner(owner), def(std::move(def)) {}
    ~tOpening() {
        if (kept) return;
        file.reset();
        engine.SetClose(owner, static_cast<i32>(def->GetLockBucket()), def->GetFullName(), 0);
    }
    tOpening(const tOpening&) = delete;
    tOpening& operator=(const tOpening&) = delete;

    std::unique_ptr<tGenericFile> Keep() {
        kept = true;
        return std::move(file);
    }

    std::unique_ptr<tGenericFile> file;

private:
    tRecordLockEngine& engine;
    const u32 owner;
    const std::shared_ptr<tTableDefinitionShared> def;
    bool kept = false;
};

tString OpenText(const tString& alias, const tString& table, bool readOnly, bool exclusive) {
    tString text("Open File ");
    text += alias;
    text += "|";
    text += table;
    if (readOnly) text += " [READONLY]";
    text += exclusive ? " [EXCLUSIVE]" : " [SHARED]";
    return text;
}

tString CloseText(tGenericFile& file, i16 id) {
    tString text;
    if (file.IsQuery()) {
        text.sprintf(
            file.IsQueryFile() ? "Close Prepared Query File ID %u" : "Close Query File ID %u",
            static_cast<u32>(id));
    } else {
        text.sprintf("Close File %s ID  %u", file.GetTableDef()->GetFullName(),
                     static_cast<u32>(id));
    }
    return text;
}

// Registers the opening and makes the table file; code 0, the id and the file's open reply are
// then in the buffer, and the file in the table. Any other result has written nothing.
i16 OpenTable(tDBServer& server, tDBConnection& conn, const tString& table, bool readOnly,
              bool exclusive) {
    tWaiting hold(server.GetTableNode(table), __FILE__, __LINE__);  // (2)
    server.WarnReservedSuffix(table, kOpenRoutine);
    const std::shared_ptr<tTableDefinitionShared> def =
        conn.GetTableDef(table, server.GetEnvironment(), true);
    if (!def) return RC_FAILED;  // the load said why
    const u32 owner = server.GetThreadId();
    tRecordLockEngine& engine = *server.GetRecordLockEngine();
    if (!engine.SetOpen(owner, static_cast<i32>(def->GetLockBucket()), def->GetFullName(),
                        exclusive ? 1 : 0, 0)) {
        return RC_IN_USE;
    }
    tOpening opening(engine, owner, def);
    tCommBuffer& out = *server.GetCommBuffer();
    opening.file.reset(conn.NewISAMFile(out, def, owner));
    if (!opening.file) {
        tString message;
        message.sprintf("Table [%s] Error - No ISAM file for this connection.\n", table.GetText());
        conn.SetError(RC_FAILED, kOpenRoutine, message, nullptr);
        return RC_FAILED;
    }
    tGenericFile& file = *opening.file;
    file.SetDBServer(&server);
    file.SetJoinInfo(conn.TakeJoinInfo());
    const i16 id = server.GetFreeFileId();
    out.PutReturnCode(RC_OK);
    out.PutShort(id);
    file.Open(static_cast<u16>(id));
    file.SetReadOnly(readOnly);
    file.SetExclusive(exclusive);
    const tAuditSettings& audit = server.GetAuditSettings();
    if (audit.log && audit.level > 1 && file.IsAuditable()) {
        file.SetAuditHandle(server.GetAuditClient());
    }
    if (tDBProperties* properties = server.GetProperties()) properties->AddTable();
    server.SetFile(id, opening.Keep());
    return RC_OK;
}

}  // namespace

// A reserved suffix is only warned about: such tables are served as any other. The name is an
// identifier by now, so it fits the text.
void tDBServer::WarnReservedSuffix(const char* table, const char* routine) {
    if (tString(table).Find("_BKP") <= 0) return;
    tString text;
    text.sprintf(
        "[WARNING] Table [%s] has reserved file suffix. Avoid use _BKP table name suffix.\n",
        table);
    connection->LogError(text, routine, nullptr);
}

void tDBServer::OpenFile() {
    tCommBuffer& in = *GetCommBuffer();
    tString table;
    u8 readOnly = 0;
    u8 exclusive = 0;
    in.GetString(table);
    in.GetByte(readOnly);
    in.GetByte(exclusive);
    if (in.IsMalformed()) return;
    in.Reset();
    if (IsHandlerTraced()) {
        TraceHandler("OpenFile", OpenText(GetEnvironment(), table, readOnly, exclusive));
    }
    if (table == kCatalogName) {
        Catalog();
        connection->TakeJoinInfo();  // (1): the list is no table file
        return;
    }
    i16 code = RC_FAILED;
    if (!connection->IsIsamAllowed()) {
        connection->SetError(RC_FAILED, kOpenRoutine,
                             "[WARNING] OpenFile only supported when IsamConnection is ENABLED.\n",
                             nullptr);
    } else if (!IsSqlIdentifier(table)) {  // (3)
        tString message;
        message.sprintf("Table [%s] Error - Invalid Table Name.\n", table.GetText());
        connection->SetError(RC_FAILED, kOpenRoutine, message, nullptr);
    } else {
        code = OpenTable(*this, *connection, table, readOnly != 0, exclusive != 0);
    }
    if (code == RC_OK) return;
    connection->TakeJoinInfo();  // (1): a join description waits for a file that never came
    in.PutReturnCode(code);
}

void tDBServer::CloseFile() {
    i16 id = 0;
    tGenericFile* file = ReadFileRequest(id);  // not owned: the open-file table keeps it
    if (!file) return;
    tCommBuffer& in = *GetCommBuffer();
    if (IsHandlerTraced()) TraceHandler("CloseFile", CloseText(*file, id));
    // A prepared query closes its cursor and keeps its id: a later bind opens it again.
    if (file->IsQuery() && file->IsQueryFile()) {
        file->Close();
        in.PutReturnCode(RC_OK);
        return;
    }
    std::unique_ptr<tGenericFile> closed = TakeFile(id);
    ReleaseFile(*closed, true);
    closed.reset();
    if (properties) properties->RemoveTable();
    in.PutReturnCode(RC_OK);
}

void tDBServer::JustClose() {
    i16 id = 0;
    tGenericFile* file = ReadFileRequest(id);  // not owned: the open-file table keeps it
    if (!file) return;
    tCommBuffer& in = *GetCommBuffer();
    if (IsHandlerTraced()) {
        tString text;
        text.sprintf("Close Prepared Query File ID %u", static_cast<u32>(id));
        TraceHandler("JustClose", text);
    }
    if (file->IsQuery() && file->IsQueryFile()) {
        file->Close();
        if (properties) properties->RemoveTable();
    }
    in.PutReturnCode(RC_OK);
}

// A table's opening is unregistered (a refusal changes nothing, with a console warning when
// asked), and a child connection that the file ran on goes back to its parent.
void tDBServer::ReleaseFile(tGenericFile& file, bool warn) {
    const tTableDefinition* def = file.GetTableDef();
    tRecordLockEngine* engine = Globals() ? GetRecordLockEngine() : nullptr;
    if (def && !file.IsQuery() && engine &&
        !engine->SetClose(GetThreadId(), static_cast<i32>(def->GetLockBucket()), def->GetFullName(),
                          0) &&
        warn) {
        ConsolePrintf("[WARNING] Close Table [%s] Failed or Already Closed (CloseFile).\n",
                      def->GetFullName());
    }
    tDBConnection* fileConn = file.GetConnection();
    if (connection && fileConn && fileConn != connection.get()) connection->ReleaseChild(fileConn);
}
