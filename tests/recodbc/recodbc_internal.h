// Internal state of the recording ODBC driver: handles, scripts, the call log, and the call
// frame that every exported entry point goes through.
//
// State rules:
//  (1) Every exported function holds the one library lock (tCall) for its whole run; nothing
//      inside calls an exported function, so the lock is never taken twice.
//  (2) A handle is used only after tCall found it in the live set with the expected kind; freed
//      handles leave the set first, so a stale handle gives SQL_INVALID_HANDLE.
//  (3) A statement belongs to its connection and a connection to its environment; a
//      disconnect frees the connection's statements, as a driver manager does.
#pragma once

// The ODBC declarations give the exported functions their default visibility; everything else
// in the library is hidden.
#pragma GCC visibility push(default)
#include <sql.h>
#include <sqlext.h>

#include "tests/recodbc/recodbc.h"
#pragma GCC visibility pop

#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace recodbc {

struct tDiag {
    std::string state;
    SQLINTEGER native = 0;
    std::string text;
};

// A column or parameter value: its bytes as scripted or sent.
struct tValue {
    bool isNull = true;
    std::string bytes;
};

struct tColumn {
    std::string name;
    SQLSMALLINT sqlType = SQL_VARCHAR;
    SQLULEN size = 0;
    SQLSMALLINT decimals = 0;
    SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
};

struct tResult {
    std::string pattern;
    std::vector<tColumn> columns;
    std::vector<std::vector<tValue>> rows;
    bool rowCountSet = false;
    SQLLEN rowCount = 0;
    std::map<SQLUSMALLINT, tValue> outputs;
};

struct tFailure {
    std::string target;
    bool isCall = false;  // target names an entry point; else it is a SQL pattern
    SQLRETURN rc = SQL_ERROR;
    tDiag diag;
};

struct tInfo {
    bool isText = true;
    std::string text;
    SQLUINTEGER number = 0;
    int bytes = 4;
};

struct tParamRecord {
    RecOdbcParam fixed{};  // its pointers are set when the entry is logged
    tValue value;
    std::string text;
};

struct tEntry {
    std::string call;
    int handle = 0;
    std::string args;
    std::string sql;
    bool executed = false;
    std::string params;
    std::vector<tParamRecord> paramRecords;
    std::vector<RecOdbcParam> paramView;  // paramRecords with pointers into them
    SQLRETURN rc = SQL_SUCCESS;
};

enum class tKind { env = SQL_HANDLE_ENV, dbc = SQL_HANDLE_DBC, stmt = SQL_HANDLE_STMT };

struct tHandle {
    explicit tHandle(tKind k);
    virtual ~tHandle() = default;
    tKind kind;
    int serial;
    std::vector<tDiag> diags;
};

struct tStmt;

struct tDbc : tHandle {
    tDbc() : tHandle(tKind::dbc) {}
    struct tEnv* env = nullptr;  // owner
    bool connected = false;
    std::string dsn;
    std::map<SQLINTEGER, SQLULEN> attrs;
    std::vector<tStmt*> stmts;  // not owned: the live registry owns every handle
};

struct tEnv : tHandle {
    tEnv() : tHandle(tKind::env) {}
    std::map<SQLINTEGER, SQLULEN> attrs;
    std::vector<tDbc*> dbcs;
};

struct tParamBinding {
    SQLSMALLINT ioType = SQL_PARAM_INPUT, cType = SQL_C_CHAR, sqlType = SQL_VARCHAR;
    SQLULEN columnSize = 0;
    SQLSMALLINT decimals = 0;
    SQLPOINTER value = nullptr;
    SQLLEN bufferLength = 0;
    SQLLEN* indicator = nullptr;
};

struct tColBinding {
    SQLSMALLINT cType = SQL_C_CHAR;
    SQLPOINTER target = nullptr;
    SQLLEN bufferLength = 0;
    SQLLEN* indicator = nullptr;
};

struct tStmt : tHandle {
    tStmt() : tHandle(tKind::stmt) {}
    tDbc* dbc = nullptr;  // owner
    std::map<SQLINTEGER, SQLULEN> attrs;
    std::string prepared;
    bool isPrepared = false;
    std::map<SQLUSMALLINT, tParamBinding> params;
    std::map<SQLUSMALLINT, tColBinding> cols;
    // The open result: rows [0, fetched) were fetched; the current row is fetched - 1.
    bool hasResult = false;
    tResult result;
    size_t fetched = 0;
    SQLLEN rowCount = 0;
    // SQLGetData's progress on the current row.
    SQLUSMALLINT dataColumn = 0;
    size_t dataOffset = 0;
    bool dataDone = false;
    // A data-at-execution sequence: the parameters still to send, the one being sent.
    bool needData = false;
    std::string pendingSql;
    std::vector<SQLUSMALLINT> dataParams;
    size_t dataIndex = 0;  // 1-based position in dataParams of the parameter being sent
    std::map<SQLUSMALLINT, tValue> sentData;
};

struct tState {
    std::list<tResult> results;   // a list: taking one out keeps `building` valid
    tResult* building = nullptr;  // the result that RecOdbcAdd* extends; null once taken
    std::vector<tFailure> failures;
    std::map<SQLUSMALLINT, tInfo> info;
    std::deque<tEntry> log;  // a deque: entries never move, so their texts can be handed out
    std::map<const void*, std::unique_ptr<tHandle>> live;
    int nextSerial = 1;
    std::string callsText, statementsText;
};

std::mutex& Lock();
tState& State();  // callers hold Lock()
void SetDefaultInfo(tState& st);

bool IsEntryPoint(const std::string& name);
bool IsExportedFunction(SQLUSMALLINT functionId);  // by its SQL_API_ number
bool Matches(const std::string& pattern, const std::string& sql);
std::string Text(const SQLCHAR* text, SQLINTEGER length);  // SQL_NTS or a byte count
std::string Numbers(std::initializer_list<long long> values);

// Frees a handle and what it owns (a connection's statements) and unlinks it from its owner.
void FreeHandleTree(tHandle* h);

// One exported call: holds the library lock, checks the handle (rule 2), clears its
// diagnostics, and logs the call when Return is called.
class tCall {
public:
    // handle may be null for calls that take no handle of their own.
    tCall(const char* name, tKind kind, SQLHANDLE handle, bool clearsDiags = true);
    tCall(const tCall&) = delete;
    tCall& operator=(const tCall&) = delete;

    bool IsValid() const { return h != nullptr; }
    tHandle* Handle() const { return h; }
    // Typed views: only for the kind the call was constructed with.
    tEnv* Env() const { return static_cast<tEnv*>(h); }
    tDbc* Dbc() const { return static_cast<tDbc*>(h); }
    tStmt* Stmt() const { return static_cast<tStmt*>(h); }
    tEntry& Entry() { return entry; }
    void Args(std::initializer_list<long long> values) { entry.args = Numbers(values); }
    void AddArg(const std::string& arg) { entry.args += (entry.args.empty() ? "" : ",") + arg; }

    // True when a failure is scripted for this entry point: its diagnostic is posted unless the
    // call is a diagnostic call itself.
    bool IsScriptedFailure(bool postDiag = true);
    void Forget() { h = nullptr; }  // the call freed its handle
    // Posts a diagnostic on the call's handle (or on `on`) and answers SQL_ERROR.
    SQLRETURN Error(const char* state, const char* text, tHandle* on = nullptr);
    // Posts a diagnostic and answers SQL_SUCCESS_WITH_INFO.
    SQLRETURN Warn(const char* state, const char* text);
    // Applies a scripted warning, logs the call, and answers rc.
    SQLRETURN Return(SQLRETURN rc);

private:
    std::lock_guard<std::mutex> hold;
    const char* name;
    tHandle* h = nullptr;
    tEntry entry;
};

// Posts a scripted SQL-pattern failure for an execution of sql, when one is queued: answers
// SQL_ERROR or SQL_SUCCESS_WITH_INFO, or SQL_SUCCESS when none matched.
SQLRETURN ScriptedSqlFailure(tHandle* on, const std::string& sql);

// ---- files (recodbc_files.cpp)

// Adds the script of the file named by GM_RECODBC_SCRIPT, when set; a line it cannot read aborts.
void LoadScriptFile(tState& st);
// Appends the entry's line to the file named by GM_RECODBC_LOG, when set.
void AppendLogFile(const tEntry& e);

// ---- values (recodbc_values.cpp)

// Writes value (from byte `offset` on) into an application buffer as C type cType. consumed
// gets the bytes delivered; a cut gives SQL_SUCCESS_WITH_INFO and 01004 in *diag.
SQLRETURN PutValue(const tValue& value, size_t offset, SQLSMALLINT cType, SQLPOINTER target,
                   SQLLEN bufferLength, SQLLEN* indicator, size_t* consumed, tDiag* diag);
bool IsFixedSize(SQLSMALLINT cType);
// Reads a bound parameter's value at execution into a record with its text.
tParamRecord CaptureParam(SQLUSMALLINT number, const tParamBinding& b, const tValue* sent);
bool IsDataAtExec(const tParamBinding& b);
// Copies a text into an ODBC output buffer; answers SQL_SUCCESS_WITH_INFO when it was cut.
SQLRETURN PutText(const std::string& text, SQLCHAR* out, SQLLEN capacity, SQLLEN* length);

}  // namespace recodbc
