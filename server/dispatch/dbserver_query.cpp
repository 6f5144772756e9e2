// A client connection's own SQL beside the ISAM emulation: SELECTs opened as read-only query
// files (the table list of GML_FILES among them), prepared query files freed, statements run
// directly with the gateway's view of "DELETE FROM", "COMMIT" and "DROP TABLE ", and the
// connection's last error read back.
#include <strings.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "lib_base/critsec.h"
#include "lib_common/commbuffer.h"
#include "lib_common/logwriter.h"
#include "lib_common/retcodes.h"
#include "lib_common/sqltext.h"
#include "server/dispatch/dbserver.h"
#include "server/dispatch/paramdecode.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill_query.h"
#include "server/runtime/gmlthreads.h"
#include "server/runtime/namedlock.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kExecRoutine = "tDBServer::SQLExec";
constexpr const char* kDeletePrefix = "DELETE FROM";
constexpr const char* kDropPrefix = "DROP TABLE ";
constexpr i32 kPrefixLength = 11;  // of both prefixes
constexpr i32 kDeleteTableStart = 12;

bool HasPrefix(const char* text, const char* prefix) {
    return strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

// "UPDATE <table> SET D_E_L_E_T_ = '*'<rest>" for "DELETE FROM <table><rest>"; empty when the
// statement names no table.
tString DeletionMarkText(const tString& statement) {
    tString marking;
    if (statement.GetLength() <= kDeleteTableStart) return marking;
    const i32 blank = statement.FindChar(' ', kDeleteTableStart);
    const i32 end = blank < 0 ? statement.GetLength() : blank;
    marking = "UPDATE ";
    marking += statement.Copy(kDeleteTableStart, end - kDeleteTableStart);
    marking += " SET D_E_L_E_T_ = '*'";
    if (blank >= 0) marking += statement.Copy(blank);
    return marking;
}

// Restores the connection's row limit when the scope ends, on every path.
class tRowLimitKeeper {
public:
    explicit tRowLimitKeeper(tDBConnection& conn) : conn(conn), kept(conn.GetRowCount()) {
        conn.SetRowCount(0);
    }
    ~tRowLimitKeeper() { conn.SetRowCount(kept); }
    tRowLimitKeeper(const tRowLimitKeeper&) = delete;
    tRowLimitKeeper& operator=(const tRowLimitKeeper&) = delete;

private:
    tDBConnection& conn;
    const i16 kept;
};

}  // namespace

// ---- query files -------------------------------------------------------------------------------

void tDBServer::OpenQuery() {
    tCommBuffer& in = *GetCommBuffer();
    tString statement;
    in.GetString(statement);
    if (in.IsMalformed()) return;
    in.Reset();
    tDBConnection& conn = *connection;
    if (!conn.IsQueryStmt(statement)) {
        tString message("Invalid Select / Query Statement : ");
        message += statement;
        conn.SetError(RC_FAILED, "tDBServer::OpenQuery", message, nullptr);
        in.PutReturnCode(RC_FAILED);
        return;
    }
    const i16 id = GetFreeFileId();
    std::unique_ptr<tGenericFile> file(conn.GetQueryFile(in, GetThreadId(), statement));
    if (!file) {
        in.PutReturnCode(RC_FAILED);
        return;
    }
    StoreQueryFile(id, std::move(file));
    if (IsHandlerTraced()) {
        tString text("Opened Query ID ");
        text += IntToString(id);
        TraceHandler("OpenQuery", text);
        if (IsOpLogOn()) {
            tString details(" STMT ");
            details += statement;
            AddDetails(details);
        }
    }
}

void tDBServer::Catalog() {
    tCommBuffer& out = *GetCommBuffer();
    tDBConnection& conn = *connection;
    tString sql;
    conn.ListTables(sql);
    if (sql.GetLength() == 0) {
        conn.SetError(RC_FAILED, "tDBServer::Catalog()", "Catalog not supported", nullptr);
        out.PutReturnCode(RC_FAILED);
        return;
    }
    std::unique_ptr<tQueryFile> file(conn.GetQueryFile(out, GetThreadId(), sql));
    if (!file) {
        out.PutReturnCode(RC_FAILED);
        return;
    }
    const i16 id = GetFreeFileId();
    file->PrepareCatalogQuery();
    StoreQueryFile(id, std::move(file));
}

// Replies 0 and the id, then the file's open reply; the file takes the id and counts as an
// open table of the connection.
void tDBServer::StoreQueryFile(i16 id, std::unique_ptr<tGenericFile> file) {
    tCommBuffer& out = *GetCommBuffer();
    file->SetDBServer(this);
    out.PutReturnCode(RC_OK);
    out.PutShort(id);
    file->Open(static_cast<u16>(id));
    SetFile(id, std::move(file));
    properties->AddTable();
}

void tDBServer::SqlFree() {
    tCommBuffer& out = *GetCommBuffer();
    i16 id = 0;
    tGenericFile* file = ReadFileRequest(id);
    if (!file) return;
    tString text("Free Prepared Query ID ");
    text += IntToString(id);
    TraceHandler("SqlFree", text);
    auto* query = dynamic_cast<tQueryFile*>(file);
    if (!file->IsQueryFile() || !query) {
        connection->SetError(RC_FAILED, "tDBServer::SqlFree",
                             "Invalid SqlFree on non-prepared statement table", file);
        out.PutReturnCode(RC_FAILED);
        return;
    }
    if (query->HasOpenStatement()) {
        out.PutReturnCode(RC_IN_USE);
        return;
    }
    if (file->GetConnection() != connection.get()) {
        connection->ReleaseChild(file->GetConnection());
    }
    TakeFile(id);
    properties->RemoveTable();
    out.PutReturnCode(RC_OK);
}

// ---- direct statements -------------------------------------------------------------------------

// The bookkeeping of a direct "DROP TABLE ": the statement runs only while no connection has
// the table open and no transaction is active; after it the GML_FIELD rows (on a connection
// with table use), the counter and the cached definition go. The table's named node is held
// throughout.
i16 tDBServer::DirectDrop(tStatement& stmt, const tString& statement) {
    tDBConnection& conn = *connection;
    tString table = statement.Copy(kPrefixLength);
    table.Trim();
    tString warning(
        "[WARNING] Direct Table Drop is not recommended. Use GM_DelFile() instead - Table ");
    warning += table;
    conn.LogError(warning, kExecRoutine, nullptr);
    // A text that is no plain name (several tables, IF EXISTS) has no bookkeeping to find.
    const bool named = IsSqlIdentifier(table);
    std::optional<tWaiting> hold;
    if (named) hold.emplace(GetTableNode(table), __FILE__, __LINE__);
    i16 code = RC_OK;
    std::shared_ptr<tTableDefinitionShared> def;
    if (named) def = conn.GetTableDef(table, environment, true);
    if (def && !TakeSoleOpening(*def)) {
        def.reset();
        code = RC_IN_USE;
        tString message("TABLE STILL IN USE : Direct DROP ERROR on Table ");
        message += table;
        conn.SetError(RC_IN_USE, kExecRoutine, message, nullptr);
    }
    if (!CheckTransaction(kExecRoutine, named ? table.GetText() : "")) code = RC_FAILED;
    if (code == RC_OK && !stmt.ExecDirect(statement, kExecRoutine, 1)) code = RC_FAILED;
    // A connection without table use registers no fields and may have no GML_FIELD at all.
    if (code == RC_OK && conn.IsIsamAllowed() && !conn.UnregisterFields(table)) code = RC_FAILED;
    if (def && !ForgetDroppedTable(table, *def, code == RC_OK, kExecRoutine)) code = RC_FAILED;
    return code;
}

void tDBServer::SQLExec() {
    tCommBuffer& in = *GetCommBuffer();
    tString statement;
    in.GetString(statement);
    if (in.IsMalformed()) return;
    in.Reset();
    tDBConnection& conn = *connection;
    std::unique_ptr<tStatement> stmt(conn.NewStatement());
    i16 code = RC_OK;
    {
        tRowLimitKeeper limit(conn);
        conn.AbortTran();
        conn.ClearError();
        if (deleteMarking && HasPrefix(statement, kDeletePrefix)) {
            const tString marking = DeletionMarkText(statement);
            // The marking's own outcome does not matter: the DELETE below decides.
            if (marking.GetLength() > 0) stmt->ExecDirect(marking, kExecRoutine, 0);
        }
        AddDetails(statement);
        if (strcasecmp(statement, "COMMIT") == 0) {
            tString warning("[WARNING] Direct COMMIT statement not recommended.");
            conn.LogError(warning, kExecRoutine, nullptr);
        }
        if (HasPrefix(statement, kDropPrefix)) {
            code = DirectDrop(*stmt, statement);
        } else if (!stmt->ExecDirect(statement, kExecRoutine, 1)) {
            code = RC_FAILED;
        }
        if (code == RC_OK && audit.log && audit.level > 1 && audit.sqlExec) {
            code = WriteAudit("X", "", 0.0, "", statement, nullptr);
        }
        in.PutReturnCode(code);
        stmt->Close();
    }
    conn.BeginTran();
}

// ---- the last error ----------------------------------------------------------------------------

void tDBServer::GetError() {
    tCommBuffer& out = *GetCommBuffer();
    out.Reset();
    tString text;
    const i32 code = connection->GetLastErrorInfo(text);
    if (IsHandlerTraced()) {
        tString line("Last Error Code ");
        line += IntToString(code);
        line += " Message [";
        line += text;
        line += "]";
        TraceHandler("GetError", line);
    }
    if (text.GetLength() == 0) {
        out.PutReturnCode(RC_FAILED);
        return;
    }
    // A native code beyond the reply's 16 bits must not come out negative.
    const i64 positive = code < 0 ? -static_cast<i64>(code) : code;
    out.PutReturnCode(static_cast<i16>(positive > SHRT_MAX ? SHRT_MAX : positive));
    out.PutTString(text);
}

// ---- stored procedures -------------------------------------------------------------------------

namespace {

constexpr const char* kSPRoutine = "tDBServer::SPExec";

// One result as the reply carries it, appended to the call text too: a trimmed text, an integer
// widened to a double, any other number as its double.
void PutProcResult(tCommBuffer& out, tDATAField& result, tString& callText) {
    const u8 type = result.GetType();
    out.PutByte(type);
    if (type == 'C') {
        tString text(static_cast<const char*>(result.GetData()));
        text.Trim();
        out.PutTString(text);
        callText += "'";
        callText += text;
        callText += "'";
        return;
    }
    char number[32];
    if (type == 'I') {
        i32 value = 0;
        std::memcpy(&value, result.GetData(), sizeof value);
        out.PutDouble(static_cast<f64>(value));
        std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(value));
    } else {
        f64 value = 0.0;
        if (result.GetValueSize() >= sizeof value)
            std::memcpy(&value, result.GetData(), sizeof value);
        out.PutDouble(value);
        std::snprintf(number, sizeof number, "%.0f", value);
    }
    callText += number;
}

}  // namespace

void tDBServer::SPExec() {
    tCommBuffer& in = *GetCommBuffer();
    tString name;
    i16 count = 0;
    in.GetString(name);
    in.GetShort(count);
    tString callText("-- CALL ");
    callText += name;
    callText += " (";
    tAutoArray<tDATAField> params;
    const i16 decoded =
        in.IsMalformed() ? RC_FAILED : DecodeProcParams(in, count, params, callText);
    if (in.IsMalformed()) return;
    callText += ")";
    in.Reset();
    tDBConnection& conn = *connection;
    if (decoded != RC_OK || !IsSqlIdentifier(name)) {
        tString message("Invalid stored procedure call : ");
        message += callText;
        conn.SetError(RC_FAILED, kSPRoutine, message, nullptr);
        in.PutReturnCode(RC_FAILED);
        return;
    }
    tAutoArray<tDATAField> results;
    i16 code = RC_OK;
    {
        tRowLimitKeeper limit(conn);
        properties->SetSP(name);
        conn.AbortTran();
        conn.ClearError();
        if (conn.IsTraced()) conn.TraceStart(kSPRoutine);
        if (threadInfo) SetLastStatement("tDBServer::SPExec()", callText);
        code = conn.ExecSP(name, params, results);
        conn.BeginTran();
        properties->SetSP("");
    }
    ReplyProcResults(code, results, callText);
    AddDetails(callText);
    if (conn.IsTraced()) conn.TraceEnd(callText);
    if (audit.log && audit.level > 1 && audit.procExec) {
        WriteAudit("X", "", 0.0, "", callText, nullptr);  // the reply stands whatever it answers
    }
}

void tDBServer::ReplyProcResults(i16 code, tAutoArray<tDATAField>& results, tString& callText) {
    tCommBuffer& out = *GetCommBuffer();
    if (code < 0) {
        out.PutReturnCode(code);
        callText += " FAILED.";
        WriteLog(callText, 0);
        return;
    }
    callText += " RETURN (";
    out.PutReturnCode(static_cast<i16>(results.Count()));
    for (i32 i = 0; i < results.Count(); ++i) {
        if (i > 0) callText += ",";
        PutProcResult(out, *results.Get(i), callText);
    }
    callText += ")";
}
