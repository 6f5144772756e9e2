// OP_INTERNALF: the connection's service channel. One sub-code and an optional text in, one
// string out; failures show only in that string (or in the connection's last error).
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "lib_base/gmlalloc.h"
#include "lib_base/gmlassert.h"
#include "lib_common/build.h"
#include "lib_common/commbuffer.h"
#include "lib_common/configcache.h"
#include "lib_common/sqltext.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/locks/lockengine.h"
#include "server/runtime/consolelog.h"
#include "server/runtime/diagnostics.h"
#include "server/runtime/globals.h"
#include "server/runtime/gmlthreads.h"
#include "server/tables/dbtable.h"

namespace {

constexpr i32 kCommentLimit = 128;
constexpr size_t kTestBlockSize = 1048576;

// The blocks of the memory test: taken on purpose and never given back. They stay chained from
// here (the first bytes of each block point to the one before) so that leak checkers see them.
std::atomic<void*> testBlocks{nullptr};

// An unsigned base-10 number at the start of text (0 when there is none).
u32 UnsignedOf(const char* text) { return static_cast<u32>(std::strtoul(text, nullptr, 10)); }

void AppendSizeLine(tString& out, const char* label, u32 size) {
    tString line;
    line.sprintf("%-13s%u\n", label, size);
    out += line;
}

// The sizes of the wire's and the monitor's structures, as the clients count them.
void AppendStructureSizes(tString& out) {
    struct tRow {
        const char* label;
        u32 size;
    };
    static constexpr tRow kRows[] = {
        {"char", 1},      {"short", 2},     {"int", 4},           {"float", 4},
        {"double", 8},    {"long int", 4},  {"long double", 8},   {"mschar", 1},
        {"msint16", 2},   {"msint", 4},     {"msfloat", 4},       {"msdouble", 8},
        {"mshandleF", 4}, {"mshandleT", 4}, {"ClientHinfo", 192}, {"ServerHinfo", 539},
    };
    out += "--------- Structure Sizes ---------\n";
    for (const tRow& row : kRows) AppendSizeLine(out, row.label, row.size);
    out += "-----------------------------------\n";
}

const char* OneOrZero(bool ok) { return ok ? "1" : "0"; }

}  // namespace

void tDBServer::InternalCall() {
    tCommBuffer& io = *GetCommBuffer();
    u8 subcode = 0;
    i16 length = 0;
    io.GetByte(subcode);
    io.GetShort(length);
    tString parameter;
    const bool hasParameter = length != 0;
    if (hasParameter) {
        // A negative length, or one past the request's bytes, marks the frame malformed.
        std::unique_ptr<char[]> bytes(new char[length > 0 ? length + 1 : 1]());
        io.GetBytes(bytes.get(), length);
        if (!io.IsMalformed()) parameter = bytes.get();  // the text up to its first NUL
    }
    if (io.IsMalformed()) return;
    if (IsOpLogOn()) {
        tString details;
        details.sprintf("Operation : %u Parameter : %s", subcode,
                        hasParameter ? parameter.GetText() : "(NULL)");
        AddDetails(details);
    }
    tString reply;
    RunInternalCall(subcode, hasParameter, parameter, reply);
    if (IsOpLogOn()) {
        tString details(" Return : ");
        details += reply;
        AddDetails(details);
    }
    io.Reset();
    io.PutTString(reply);
}

void tDBServer::RunInternalCall(u8 subcode, bool hasParameter, const tString& parameter,
                                tString& reply) {
    tDBConnection& conn = *connection;
    const char* text = parameter.GetText();
    switch (subcode) {
        case 1:
            if (hasParameter) SetThreadComment(parameter);
            break;
        case 2:
            reply += user;
            reply += "/";
            reply += password;
            break;
        case 6:
            reply.sprintf("%u", GetThreadId());
            break;
        case 7:
            reply.sprintf("%i", static_cast<i32>(Globals()->GetUserConnections()));
            break;
        case 8:
            if (hasParameter && parameter.GetLength() > 0) {
                properties->SetUser(text);
                if (audit.log && audit.erpUserName && auditClient) auditClient->AuditUser(text);
            }
            break;
        case 10:
            conn.SetError(-19, "tDBServer::InternalCall", "[WARNING] OP_INTERNAL 10 UNAVAILABLE.\n",
                          nullptr);
            reply = "0";
            break;
        case 12:
            SetDeleteMarking(hasParameter && parameter == "ON");
            break;
        case 13:
            if (hasParameter) reply = GetUniqueKeyFields(text);
            break;
        case 14:
            reply.sprintf("%u", Globals()->GetActiveConnections());
            break;
        case 15:
            properties->GetDBSID(reply);
            break;
        case 16:
            reply.sprintf("%.0f", Globals()->GetProcessMemory());
            break;
        case 17:
            reply.sprintf("%.0f", Globals()->GetCpuUsage());
            break;
        case 18:
            MemoStorage(reply);
            break;
        case 19:
            if (hasParameter) conn.SetJoinInfo(text, reply);
            break;
        case 20:
            reply = filterMessage;
            break;
        case 21:
            if (hasParameter) {
                conn.GetInfoString(static_cast<u16>(std::atoi(text)), reply);
            }
            break;
        case 22:
            conn.GetServerName(reply);
            break;
        case 23:
            DescribeThread(reply, true);
            reply.ReplaceChar('\t', '\n');
            break;
        case 24:
            GMLCheckOS(reply);
            AppendStructureSizes(reply);
            break;
        case 25:
            if (conn.IsMemoAsBlob()) {
                const bool wanted = hasParameter && parameter == "CLOB";
                conn.SetClobEnabled(wanted);
                reply = wanted ? "CLOB ENABLED" : "CLOB DISABLED";
            } else {
                reply = "CLOB NOT SUPPORTED";
            }
            break;
        case 26:
            SetCustomAuditField(parameter, reply);
            break;
        case 50:
            reply = "Virtual Locks Ok";
            break;
        case 51:
            reply = OneOrZero(VirtualLock(hasParameter, parameter));
            break;
        case 52:
            reply = OneOrZero(hasParameter &&
                              GetVirtualLockEngine()->VUnLock(GetThreadId(), text, 0, environment));
            break;
        case 53:
            reply = lockText;
            break;
        case 54:
            reply = virtualLockText;
            break;
        case 60:
            reply = OneOrZero(hasParameter && DropIndex(text));
            break;
        case 61:
            reply = OneOrZero(hasParameter && IsSqlIdentifier(text) && conn.RecnoAcceptNull(text));
            break;
        case 62:
            reply = OneOrZero(hasParameter && IsSqlIdentifier(text) && conn.DropTrigger(text));
            break;
        case 63:
            Globals()->SetCleanCacheOnIdle();
            reply = "1";
            break;
        case 69:
            reply = OneOrZero(hasParameter && DropIndexes(text));
            break;
        case 70:
            reply = OneOrZero(hasParameter && IsIndexReverse(text));
            break;
        case 71:
            reply = OneOrZero(hasParameter && IsSqlIdentifier(text) && conn.IsAutoRecno(text));
            break;
        case 72:
            reply = OneOrZero(hasParameter && IsSqlIdentifier(text) && conn.UseAutoRecno(text));
            break;
        case 80:
            reply = kBuildNumber;
            break;
        case 81:
        case 82:
            GetThreadList(reply);
            if (reply.GetLength() > 0) reply.Delete(reply.GetLength() - 1);
            break;
        case 83:
            if (hasParameter) GetRecordLockEngine()->InspectLocks(reply, UnsignedOf(text));
            break;
        case 84:
            if (hasParameter) DirectRecordUnlock(parameter, reply);
            break;
        case 85:
            GetThreadObs(reply);
            break;
        case 86:
            if (hasParameter) RunTestHook(parameter);
            break;
        case 87:
            GetSystemReport(reply);
            break;
        case 88:
            GetSummary(reply);
            break;
        case 89:
            if (conn.IsMemoAsBlob()) reply = "CLOB_SUPPORTED";
            break;
        case 90:
        case 98:
            if (hasParameter) {
                const u32 owner = UnsignedOf(text);
                GetRecordLockEngine()->FUnLock(owner, 0, nullptr, 0);
                GetVirtualLockEngine()->VUnLock(owner, nullptr, 0, environment);
            }
            break;
        case 99:
            GetRecordLockEngine()->InspectLocks(reply, 0);
            break;
        default:
            break;
    }
}

// Sub-code 1: the comment is kept (cut at its limit) in the connection record, the lock engine
// learns it with the next lock, and it is logged, printed and audited as configured.
void tDBServer::SetThreadComment(const tString& parameter) {
    tString comment(parameter);
    if (comment.GetLength() > kCommentLimit) comment.Delete(kCommentLimit);
    properties->SetObs(comment);
    SetOwnerInfoPending();
    if (logAction) {
        tString name;
        properties->GetUser(name);
        name.Trim();
        connection->LogAction(name, comment);
    }
    tString described("[");
    described += dbType;
    described += "/";
    described += environment;
    described += "] ";
    described += comment;
    if (Globals()->GetThreadInfo()) {
        ConsolePrintf("[INFO] Thread (%u) Obs [%s]\n", GetThreadId(), described.GetText());
    }
    if (audit.log && audit.level > 1 && audit.threadComment) {
        WriteAudit("O", "", 0, "", described, nullptr);
    }
}

// Sub-code 18: how the database keeps memo fields, for the two types that can choose.
void tDBServer::MemoStorage(tString& reply) {
    const bool oracle = dbType == "ORACLE";
    if (!oracle && dbType != "MYSQL") return;
    const bool blob = Globals()->GetConfig()->GetBoolEx(dbType, environment, "MemoAsBlob", 0);
    if (oracle) {
        reply = blob ? "BLOB" : "LONG RAW";
    } else {
        reply = blob ? "BLOB" : "TEXT";
    }
}

// Sub-code 26: one custom audit column set, changed or removed, or all of them cleared.
void tDBServer::SetCustomAuditField(const tString& parameter, tString& reply) {
    if (!auditClient || !audit.log) {
        reply = "0001|Audit Trail not enabled.";
        return;
    }
    if (parameter.GetLength() == 0) {
        for (i32 i = 0; i < customFields.Count(); i++) {
            auditClient->WriteCustom(customFields.Get(i)->name, "");
        }
        customFields.Clear();
        reply = "0000|FieldList Cleared.";
        return;
    }
    const i32 equals = parameter.FindChar('=');
    if (equals < 0) {
        reply = "0002|Invalid custom field format.";
        return;
    }
    tString name = parameter.Copy(0, equals);
    name.Upper();
    const tString value = parameter.Copy(equals + 1);
    const i16 code = auditClient->WriteCustom(name, value);
    if (code != 0) {
        reply.sprintf("0003|Audit Custom Field Error %d", code);
        return;
    }
    // A listed name with an empty value leaves the list; a new name is listed even when empty.
    i32 pos = 0;
    if (value.GetLength() == 0 && customFields.Find(name, pos)) {
        customFields.RemoveField(name);
    } else {
        customFields.SetField(name, value);
    }
    reply = "0000|Ok.";
}

// Sub-code 51: a named lock of the connection's alias. The owner text keeps the holder's text
// after a refusal.
bool tDBServer::VirtualLock(bool hasParameter, const tString& key) {
    virtualLockText.Clear();
    properties->GetUser(virtualLockText);
    virtualLockText += "|";
    tString comment;
    properties->GetObs(comment);
    virtualLockText += comment;
    if (!hasParameter || key.GetLength() == 0) {
        virtualLockText = "Invalid Empty Virtual Lock";
        return false;
    }
    if (!GetVirtualLockEngine()->VLock(GetThreadId(), key, 0, environment, virtualLockText)) {
        return false;
    }
    virtualLockText.Clear();
    return true;
}

// Sub-code 84: "environment|table|recno|thread"; the record lock of that thread on a cached
// table is released. "" for a text without its four parts, "*" when the table is not cached.
void tDBServer::DirectRecordUnlock(const tString& parameter, tString& reply) {
    tString parts[3];
    i32 from = 0;
    for (tString& part : parts) {
        const i32 bar = parameter.FindChar('|', from);
        if (bar < 0) return;
        part = parameter.Copy(from, bar - from);
        from = bar + 1;
    }
    const tString ownerText = parameter.Copy(from);
    if (ownerText.GetLength() == 0) return;
    const tString& env = parts[0];
    const tString& table = parts[1];
    const f64 recno = static_cast<f64>(std::atoi(parts[2]));
    const u32 owner = UnsignedOf(ownerText);
    const std::shared_ptr<tTableDefinitionShared> def = connection->GetTableDef(table, env, false);
    if (!def) {
        reply = "*";
        return;
    }
    if (!GetRecordLockEngine()->RUnLock(owner, static_cast<i32>(def->GetLockBucket()),
                                        def->GetFullName(), recno, 0)) {
        reply = "0";
        return;
    }
    ConsolePrintf("Direct RUnlock on Table %s Env %s RECNO %.0f Thread (%u)\n", table.GetText(),
                  env.GetText(), recno, owner);
    reply = "1";
}

// Sub-code 86: the hooks that exercise the server's assertion, memory and shutdown handling.
// The access-violation hook only prints: a client must not be able to bring the server down.
void tDBServer::RunTestHook(const tString& keyword) {
    if (keyword == "GMLASSERT") {
        ConsolePrintf("[INTERNAL] Gml Error Test - DoAssert Call\n");
        DoAssert(__FILE__, __LINE__, "GML ASSERT TEST - Thread Finished", 0);
    } else if (keyword == "GMLGENGPF") {
        ConsolePrintf("[INTERNAL] Gml Error Test - Exception Access Violation\n");
    } else if (keyword == "GMLMALLOC") {
        ConsolePrintf("[INTERNAL] Gml Error Test - gmlmalloc + 1 MB\n");
        void* block = GML_ALLOC(kTestBlockSize, Mem_Buffer);
        void* previous = testBlocks.load();
        do {
            std::memcpy(block, &previous, sizeof previous);
        } while (!testBlocks.compare_exchange_weak(previous, block));
    } else if (keyword == "GMLSHUTDOWN") {
        ConsolePrintf("[INTERNAL] Gml ShutDown Test\n");
        if (tListeningServer* server = Globals()->GetServer()) server->RequestShutdown();
    }
}
