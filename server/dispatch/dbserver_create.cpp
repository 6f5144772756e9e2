// Table structure requests of a client connection: creating a table from the client's field
// list with its GML_FIELD rows, dropping a table with its bookkeeping, and creating an index on
// an open table. Each runs under the table's named node.
//
// Structure changes:
//  (1) Names from the wire are identifiers (IsSqlIdentifier) before they reach SQL, the cache or
//      an error text; a field list is read only when the frame can hold it.
//  (2) The unit of work is ended before the DDL and begun again after it, on every path.
//  (3) A cached definition is dropped only while this connection holds the table's only
//      opening, so no other connection has the table open while its structure changes.
#include <memory>
#include <vector>

#include "lib_base/critsec.h"
#include "lib_common/commbuffer.h"
#include "lib_common/configcache.h"
#include "lib_common/retcodes.h"
#include "lib_common/sqltext.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/locks/lockengine.h"
#include "server/runtime/globals.h"
#include "server/runtime/namedlock.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kCreateRoutine = "tDBServer::CreateFile";
constexpr const char* kDropRoutine = "tDBServer::DeleteFile";
constexpr const char* kDropCheckRoutine = "tDBServer::DeleteFile()";
// A field on the wire: its name's NUL, the type letter and three i16.
constexpr u32 kMinFieldBytes = 1 + 1 + 3 * 2;
constexpr i16 kClobLength = 11;
constexpr i16 kMemoLength = 10;

// One field of a create request, its letter and length already mapped.
struct tNewField {
    tString name;
    u8 type = 0;
    i16 length = 0;
    i16 decimals = 0;
    bool clob = false;
};

// Ends the connection's unit of work now and begins it again when the scope ends (2).
class tUnitOfWorkPause {
public:
    explicit tUnitOfWorkPause(tDBConnection& conn) : conn(conn) { conn.AbortTran(); }
    ~tUnitOfWorkPause() { conn.BeginTran(); }
    tUnitOfWorkPause(const tUnitOfWorkPause&) = delete;
    tUnitOfWorkPause& operator=(const tUnitOfWorkPause&) = delete;

private:
    tDBConnection& conn;
};

// Maps the letter and length as received to those of the table's field.
tNewField MapField(tString name, u8 type, i16 size, i16 width, i16 decimals, bool clobSwitch) {
    tNewField field;
    field.decimals = decimals;
    if (type == 'B' || type == 'F' || type == 'P') type = 'N';
    if (type == 'A') type = 'C';
    if (type == 'M') {
        const i32 last = name.GetLength() - 1;
        const bool marked = last >= 0 && name.At(last) == '#';
        if (marked) name.Delete(last, 1);
        field.clob = marked || clobSwitch;
    }
    field.type = type;
    if (type == 'N') {
        field.length = width;
    } else if (type == 'M') {
        field.length = field.clob ? kClobLength : kMemoLength;
    } else {
        field.length = size;
    }
    field.name = name;
    return field;
}

bool IsUsableField(const tNewField& field) {
    return IsSqlIdentifier(field.name) && field.length >= 0 && field.decimals >= 0;
}

// The definition of the new table: the client's fields, D_E_L_E_T_ and R_E_C_N_O_ of the type
// given (R for the CREATE text, N for the cache).
std::unique_ptr<tTableDefinitionShared> BuildDefinition(const char* table, const char* alias,
                                                        const std::vector<tNewField>& fields,
                                                        u8 recnoType) {
    auto def = std::make_unique<tTableDefinitionShared>(table, alias);
    def->SetFieldCapacity(static_cast<i32>(fields.size()) + 3);
    for (const tNewField& f : fields) {
        def->AddField(f.name, f.type, f.length, static_cast<u16>(f.decimals), true, true);
    }
    def->AddField(kDeletedColumn, 'C', 1, 0, true, true);
    def->AddField(kRecnoColumn, recnoType, 4, 0, false, true);
    return def;
}

bool IsAuditedTable(const char* table, const tString& alias) {
    tConfigCache& config = *Globals()->GetConfig();
    if (config.GetBool("General", "AuditAll", 0)) return true;
    tString section("AUDIT/");
    section += alias;
    return config.GetBool(section, table, 0) != 0;
}

}  // namespace

// ---- the table's named node ---------------------------------------------------------------------

tNamedNode* tDBServer::GetTableNode(const char* table) {
    tString alias(environment);
    alias.Upper();
    tString name(table);
    name.Upper();
    return Globals()->GetNamedLocks()->GetNode(alias, name);
}

void tDBServer::AddDetails(const char* text) {
    if (IsOpLogOn()) operation.details += text;
}

// ---- OP_CREATEFILE -----------------------------------------------------------------------------

namespace {

// Sets the connection's error under the create routine; -19.
i16 CreateError(tDBConnection& conn, const tString& message) {
    conn.SetError(RC_FAILED, kCreateRoutine, message, nullptr);
    return RC_FAILED;
}

// "[ERROR] Table <table><tail>" as the connection's error; -19.
i16 TableError(tDBConnection& conn, const char* routine, const char* table, const char* tail) {
    tString message("[ERROR] Table ");
    message += table;
    message += tail;
    conn.SetError(RC_FAILED, routine, message, nullptr);
    return RC_FAILED;
}

// Takes the table from any connection that has it cached but not open (3): false, with the
// error set, while it is open somewhere.
bool ForgetCachedTable(tDBServer& server, const char* table) {
    tDBConnection& conn = *server.GetDBConnection();
    const char* alias = server.GetEnvironment();
    std::shared_ptr<tTableDefinitionShared> cached = conn.FindTableDef(table, alias);
    if (!cached) return true;
    if (!server.TakeSoleOpening(*cached)) {
        TableError(conn, kCreateRoutine, table, " STILL IN USE.\n");
        return false;
    }
    server.GetRecordLockEngine()->SetClose(
        server.GetThreadId(), static_cast<i32>(cached->GetLockBucket()), cached->GetFullName(), 0);
    conn.RemoveTableDef(table, alias);
    return true;
}

// The create under the table's named node, past every check of the request.
i16 CreateTableLocked(tDBServer& server, const char* table, const std::vector<tNewField>& fields) {
    tDBConnection& conn = *server.GetDBConnection();
    const char* alias = server.GetEnvironment();
    if (!ForgetCachedTable(server, table)) return RC_FAILED;
    tUnitOfWorkPause pause(conn);
    conn.ClearError();
    tString sql;
    conn.CreateTable(*BuildDefinition(table, alias, fields, 'R'), sql);
    std::unique_ptr<tStatement> stmt(conn.NewStatement());
    if (!stmt->ExecDirect(sql, kCreateRoutine, 1)) return RC_FAILED;
    std::unique_ptr<tTableDefinitionShared> def = BuildDefinition(table, alias, fields, 'N');
    // Only an identity column that the CREATE text really wrote gives automatic numbers.
    if (conn.UseAutoRecno(table) && conn.IsAutoRecno(def->GetName())) def->SetAutoRecno(true);
    conn.SetRowCount(0);
    if (!conn.UnregisterFields(table)) {
        return TableError(conn, kCreateRoutine, table, " : Unable to UNRegister Fields.\n");
    }
    if (!conn.RegisterFields(*def)) {
        return TableError(conn, kCreateRoutine, table, " : Unable to Register Fields.\n");
    }
    conn.GetRecnoIndex(def->GetName(), sql);
    if (sql.GetLength() > 0 && !stmt->ExecDirect(sql, kCreateRoutine, 1)) return RC_FAILED;
    conn.PrepareTraceIndex(*def);
    conn.LoadVirtualIndex(*def);
    def->SetAuditable(IsAuditedTable(table, server.GetEnvironment()));
    std::shared_ptr<tTableDefinitionShared> cached = conn.AddTableDef(std::move(def), alias);
    server.GetRecordLockEngine()->SetRecCount(static_cast<i32>(cached->GetLockBucket()),
                                              cached->GetFullName(), 0.0);
    return RC_OK;
}

// Reads the field list of count fields (1); false when the frame turned out malformed.
bool ReadFieldList(tCommBuffer& in, i16 count, bool clobSwitch, std::vector<tNewField>& fields) {
    fields.reserve(static_cast<size_t>(count));
    for (i16 i = 0; i < count; ++i) {
        tString name;
        u8 type = 0;
        i16 size = 0;
        i16 width = 0;
        i16 decimals = 0;
        in.GetString(name);
        in.GetByte(type);
        in.GetShort(size);
        in.GetShort(width);
        in.GetShort(decimals);
        if (in.IsMalformed()) return false;
        fields.push_back(MapField(name, type, size, width, decimals, clobSwitch));
    }
    return true;
}

}  // namespace

void tDBServer::CreateFile() {
    tCommBuffer& in = *GetCommBuffer();
    tString table;
    i16 count = 0;
    in.GetString(table);
    in.GetShort(count);
    if (in.IsMalformed()) return;
    if (IsOpLogOn()) {
        tString details("Table : ");
        details += table;
        details += " Fields : ";
        details += IntToString(count);
        AddDetails(details);
    }
    tDBConnection& conn = *connection;
    if (!IsSqlIdentifier(table)) {  // (1)
        in.Reset();
        in.PutReturnCode(CreateError(conn, "[ERROR] CreateFile - Invalid Table Name.\n"));
        return;
    }
    if (!CheckTransaction(kCreateRoutine, table)) {
        in.Reset();
        in.PutReturnCode(RC_FAILED);
        return;
    }
    if (count < 0 || static_cast<u32>(count) > in.GetBytesLeft() / kMinFieldBytes) {  // (1)
        in.Reset();
        in.PutReturnCode(TableError(conn, kCreateRoutine, table, " : Invalid Field Count.\n"));
        return;
    }
    std::vector<tNewField> fields;
    if (!ReadFieldList(in, count, conn.IsClobEnabled(), fields)) return;
    in.Reset();
    bool clob = false;
    bool usable = true;
    for (const tNewField& f : fields) {
        usable = usable && IsUsableField(f);
        clob = clob || f.clob;
    }
    i16 code = RC_FAILED;
    if (!usable) {
        TableError(conn, kCreateRoutine, table, " : Invalid Field Name or Size.\n");
    } else if (!conn.IsIsamAllowed()) {
        CreateError(conn, "[WARNING] CreateFile only supported when IsamConnection is ENABLED.\n");
    } else if (conn.IsReadOnly()) {
        CreateError(conn, "[WARNING] CreateFile not supported on READONLY Connection.\n");
    } else if (clob && !conn.IsMemoAsBlob()) {
        CreateError(conn, "[WARNING] Clob Fields not supported.\n");
    } else {
        tWaiting hold(GetTableNode(table), __FILE__, __LINE__);
        code = CreateTableLocked(*this, table, fields);
    }
    in.PutReturnCode(code);
}

// ---- OP_DELETEFILE -----------------------------------------------------------------------------

namespace {

// Drops the table, its GML_FIELD rows and, when it was cached, its opening, counter and cached
// definition; the code.
i16 DropTableLocked(tDBServer& server, const char* table,
                    const std::shared_ptr<tTableDefinitionShared>& cached) {
    tDBConnection& conn = *server.GetDBConnection();
    i16 code = RC_OK;
    {
        tUnitOfWorkPause pause(conn);
        conn.ClearError();
        conn.SetRowCount(0);
        if (!conn.DropTable(table, kDropRoutine)) code = RC_FAILED;
        if (code == RC_OK && !conn.UnregisterFields(table)) code = RC_FAILED;
        if (cached && !server.ForgetDroppedTable(table, *cached, code == RC_OK, kDropRoutine)) {
            code = RC_FAILED;
        }
    }
    return code;
}

}  // namespace

bool tDBServer::TakeSoleOpening(const tTableDefinition& cached) {
    return GetRecordLockEngine()->SetOpen(GetThreadId(), static_cast<i32>(cached.GetLockBucket()),
                                          cached.GetFullName(), 1, 0);
}

bool tDBServer::ForgetDroppedTable(const char* table, const tTableDefinition& cached, bool dropped,
                                   const char* routine) {
    tRecordLockEngine& engine = *GetRecordLockEngine();
    const i32 bucket = static_cast<i32>(cached.GetLockBucket());
    engine.SetClose(GetThreadId(), bucket, cached.GetFullName(), 0);
    if (dropped) engine.SetRecCount(bucket, cached.GetFullName(), 0.0);
    if (connection->RemoveTableDef(table, environment)) return true;
    TableError(*connection, routine, table, " : Unable to delete cached structure.\n");
    return false;
}

void tDBServer::DeleteFile() {
    tCommBuffer& in = *GetCommBuffer();
    tString table;
    in.GetString(table);
    if (in.IsMalformed()) return;
    in.Reset();
    tDBConnection& conn = *connection;
    if (!IsSqlIdentifier(table)) {  // (1)
        conn.SetError(RC_FAILED, kDropRoutine, "[ERROR] DeleteFile - Invalid Table Name.\n",
                      nullptr);
        in.PutReturnCode(RC_FAILED);
        return;
    }
    if (IsOpLogOn()) {
        tString details("Table : ");
        details += table;
        AddDetails(details);
    }
    tWaiting hold(GetTableNode(table), __FILE__, __LINE__);
    if (!CheckTransaction(kDropCheckRoutine, table)) {
        in.PutReturnCode(RC_FAILED);
        return;
    }
    std::shared_ptr<tTableDefinitionShared> cached = conn.FindTableDef(table, environment);
    if (cached && !TakeSoleOpening(*cached)) {  // (3)
        tString message("DROP ERROR : TABLE ");
        message += table;
        message += " STILL IN USE.";
        conn.SetError(RC_NO_DELETE, kDropCheckRoutine, message, nullptr);
        in.PutReturnCode(RC_NO_DELETE);
        return;
    }
    in.PutReturnCode(DropTableLocked(*this, table, cached));
}

// ---- OP_CREATEINDEX ----------------------------------------------------------------------------

void tDBServer::CreateIndex() {
    i16 fileId = 0;
    tString name;
    tString key;
    tGenericFile* file =
        ReadFileRequest(fileId, name, key);  // not owned: the open-file table keeps it
    if (!file) return;
    tCommBuffer& in = *GetCommBuffer();
    if (IsOpLogOn()) {
        tString details("Table : ");
        details += file->GetTableName();
        details += " Index : ";
        details += name;
        details += " Exp : ";
        details += key;
        AddDetails(details);
    }
    tDBConnection& conn = *connection;
    if (!IsSqlIdentifier(name)) {  // (1)
        conn.SetError(RC_FAILED, "tDBServer::CreateIndex",
                      "[ERROR] CreateIndex - Invalid Index Name.\n", nullptr);
        in.PutReturnCode(RC_FAILED);
        return;
    }
    tWaiting hold(GetTableNode(file->GetTableDef()->GetName()), __FILE__, __LINE__);
    tUnitOfWorkPause pause(conn);
    conn.ClearError();
    if (!file->CreateIndex(name, key)) {
        in.PutReturnCode(RC_FAILED);
        return;
    }
    in.PutReturnCode(RC_OK);
    file->SendIndexes();
}
