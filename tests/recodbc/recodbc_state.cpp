// The recording driver's shared state, the call frame of every entry point, and the control
// interface that tests use to script results and read the call log.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/recodbc/recodbc_internal.h"

namespace recodbc {
namespace {

// Every entry point the library can export: the names that RecOdbcFailNext takes as calls, and
// the numbers that SQLGetFunctions answers for.
const struct {
    const char* name;
    SQLUSMALLINT id;
} kEntryPoints[] = {{"SQLError", SQL_API_SQLERROR},
                    {"SQLFreeConnect", SQL_API_SQLFREECONNECT},
                    {"SQLConnect", SQL_API_SQLCONNECT},
                    {"SQLDriverConnect", SQL_API_SQLDRIVERCONNECT},
                    {"SQLDisconnect", SQL_API_SQLDISCONNECT},
                    {"SQLSetConnectOption", SQL_API_SQLSETCONNECTOPTION},
                    {"SQLAllocEnv", SQL_API_SQLALLOCENV},
                    {"SQLAllocConnect", SQL_API_SQLALLOCCONNECT},
                    {"SQLTransact", SQL_API_SQLTRANSACT},
                    {"SQLFreeEnv", SQL_API_SQLFREEENV},
                    {"SQLGetFunctions", SQL_API_SQLGETFUNCTIONS},
                    {"SQLAllocStmt", SQL_API_SQLALLOCSTMT},
                    {"SQLSetStmtOption", SQL_API_SQLSETSTMTOPTION},
                    {"SQLFreeStmt", SQL_API_SQLFREESTMT},
                    {"SQLParamData", SQL_API_SQLPARAMDATA},
                    {"SQLPrepare", SQL_API_SQLPREPARE},
                    {"SQLExecute", SQL_API_SQLEXECUTE},
                    {"SQLExecDirect", SQL_API_SQLEXECDIRECT},
                    {"SQLNumResultCols", SQL_API_SQLNUMRESULTCOLS},
                    {"SQLMoreResults", SQL_API_SQLMORERESULTS},
                    {"SQLDescribeCol", SQL_API_SQLDESCRIBECOL},
                    {"SQLProcedureColumns", SQL_API_SQLPROCEDURECOLUMNS},
                    {"SQLFetch", SQL_API_SQLFETCH},
                    {"SQLExtendedFetch", SQL_API_SQLEXTENDEDFETCH},
                    {"SQLGetData", SQL_API_SQLGETDATA},
                    {"SQLPutData", SQL_API_SQLPUTDATA},
                    {"SQLBindCol", SQL_API_SQLBINDCOL},
                    {"SQLBindParameter", SQL_API_SQLBINDPARAMETER},
                    {"SQLTables", SQL_API_SQLTABLES},
                    {"SQLDrivers", SQL_API_SQLDRIVERS},
                    {"SQLGetInfo", SQL_API_SQLGETINFO},
                    {"SQLGetDiagRec", SQL_API_SQLGETDIAGREC},
                    {"SQLGetDiagField", SQL_API_SQLGETDIAGFIELD},
                    {"SQLAllocHandle", SQL_API_SQLALLOCHANDLE},
                    {"SQLSetConnectAttr", SQL_API_SQLSETCONNECTATTR},
                    {"SQLGetConnectAttr", SQL_API_SQLGETCONNECTATTR},
                    {"SQLEndTran", SQL_API_SQLENDTRAN},
                    {"SQLFreeHandle", SQL_API_SQLFREEHANDLE},
                    {"SQLSetEnvAttr", SQL_API_SQLSETENVATTR},
                    {"SQLSetStmtAttr", SQL_API_SQLSETSTMTATTR},
                    {"SQLGetStmtAttr", SQL_API_SQLGETSTMTATTR},
                    {"SQLFetchScroll", SQL_API_SQLFETCHSCROLL},
                    {"SQLRowCount", SQL_API_SQLROWCOUNT},
                    {"SQLSetCursorName", SQL_API_SQLSETCURSORNAME}};

[[noreturn]] void Misuse(const char* what) {
    std::fprintf(stderr, "recodbc: %s\n", what);
    std::abort();
}

tResult& Building(tState& st, const char* caller) {
    if (!st.building) Misuse((std::string(caller) + " before RecOdbcAddResult").c_str());
    return *st.building;
}

// Posts the first queued failure that fits; answers its return code or SQL_SUCCESS.
template <typename Fits>
SQLRETURN TakeFailure(tHandle* on, Fits fits) {
    tState& st = State();
    for (auto it = st.failures.begin(); it != st.failures.end(); ++it) {
        if (!fits(*it)) continue;
        const SQLRETURN rc = it->rc;
        if (on && rc != SQL_NO_DATA) on->diags.push_back(it->diag);
        st.failures.erase(it);
        return rc;
    }
    return SQL_SUCCESS;
}

void AddFailure(const char* target, SQLRETURN rc, const char* sqlstate, SQLINTEGER native,
                const char* text) {
    if (!target || !sqlstate || std::strlen(sqlstate) != 5) {
        Misuse("a failure needs a target and a 5-character SQLSTATE");
    }
    tFailure f;
    f.target = target;
    f.isCall = IsEntryPoint(f.target);
    f.rc = rc;
    f.diag = {sqlstate, native, text ? text : ""};
    std::lock_guard<std::mutex> hold(Lock());
    State().failures.push_back(f);
}

}  // namespace

std::mutex& Lock() {
    static std::mutex lock;
    return lock;
}

tState& State() {
    static tState* st = [] {
        auto* s = new tState;  // lives until exit: handles may be freed by static destructors
        SetDefaultInfo(*s);
        LoadScriptFile(*s);
        return s;
    }();
    return *st;
}

void SetDefaultInfo(tState& st) {
    st.info.clear();
    st.info[SQL_DRIVER_NAME] = {true, "libgmrecodbc.so", 0, 0};
    st.info[SQL_DRIVER_VER] = {true, "01.00.0000", 0, 0};
    st.info[SQL_DRIVER_ODBC_VER] = {true, "03.00", 0, 0};
    st.info[SQL_DBMS_NAME] = {true, "RECODBC", 0, 0};
    st.info[SQL_DBMS_VER] = {true, "01.00.0000", 0, 0};
}

bool IsEntryPoint(const std::string& name) {
    for (const auto& e : kEntryPoints) {
        if (name == e.name) return true;
    }
    return false;
}

bool IsExportedFunction(SQLUSMALLINT functionId) {
#ifdef GM_RECODBC_NO_CONNECT
    if (functionId == SQL_API_SQLCONNECT) return false;
#endif
    for (const auto& e : kEntryPoints) {
        if (functionId == e.id) return true;
    }
    return false;
}

bool Matches(const std::string& pattern, const std::string& sql) {
    if (pattern == "*") return true;
    if (!pattern.empty() && pattern.back() == '*') {
        return sql.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    }
    return pattern == sql;
}

std::string Text(const SQLCHAR* text, SQLINTEGER length) {
    if (!text) return "";
    const char* s = reinterpret_cast<const char*>(text);
    return length == SQL_NTS || length < 0 ? std::string(s) : std::string(s, size_t(length));
}

std::string Numbers(std::initializer_list<long long> values) {
    std::string out;
    for (long long v : values) {
        if (!out.empty()) out += ',';
        out += std::to_string(v);
    }
    return out;
}

tHandle::tHandle(tKind k) : kind(k), serial(State().nextSerial++) {}

void FreeHandleTree(tHandle* h) {
    tState& st = State();
    if (h->kind == tKind::stmt) {
        std::vector<tStmt*>& siblings = static_cast<tStmt*>(h)->dbc->stmts;
        siblings.erase(std::find(siblings.begin(), siblings.end(), h));
    } else if (h->kind == tKind::dbc) {
        auto* dbc = static_cast<tDbc*>(h);
        for (tStmt* s : dbc->stmts) st.live.erase(s);
        std::vector<tDbc*>& siblings = dbc->env->dbcs;
        siblings.erase(std::find(siblings.begin(), siblings.end(), dbc));
    }
    st.live.erase(h);  // destroys h
}

tCall::tCall(const char* name, tKind kind, SQLHANDLE handle, bool clearsDiags)
    : hold(Lock()), name(name) {
    entry.call = name;
    tState& st = State();
    const auto it = st.live.find(handle);
    if (it == st.live.end() || it->second->kind != kind) return;
    h = it->second.get();
    entry.handle = h->serial;
    if (clearsDiags) h->diags.clear();
}

bool tCall::IsScriptedFailure(bool postDiag) {
    const std::string callName = name;
    return TakeFailure(postDiag ? h : nullptr, [&](const tFailure& f) {
               return f.isCall && f.rc == SQL_ERROR && f.target == callName;
           }) == SQL_ERROR;
}

SQLRETURN tCall::Error(const char* state, const char* text, tHandle* on) {
    tHandle* target = on ? on : h;
    if (target) target->diags.push_back({state, 0, text});
    return SQL_ERROR;
}

SQLRETURN tCall::Warn(const char* state, const char* text) {
    if (h) h->diags.push_back({state, 0, text});
    return SQL_SUCCESS_WITH_INFO;
}

SQLRETURN tCall::Return(SQLRETURN rc) {
    tState& st = State();
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
        const std::string callName = name;
        if (TakeFailure(h, [&](const tFailure& f) {
                return f.isCall && f.rc == SQL_SUCCESS_WITH_INFO && f.target == callName;
            }) == SQL_SUCCESS_WITH_INFO) {
            rc = SQL_SUCCESS_WITH_INFO;
        }
    }
    entry.rc = rc;
    st.log.push_back(std::move(entry));
    tEntry& e = st.log.back();
    for (tParamRecord& p : e.paramRecords) {
        p.fixed.bytes = p.value.isNull ? nullptr : p.value.bytes.data();
        p.fixed.text = p.text.c_str();
        e.paramView.push_back(p.fixed);
    }
    AppendLogFile(e);
    return rc;
}

SQLRETURN ScriptedSqlFailure(tHandle* on, const std::string& sql) {
    return TakeFailure(on, [&](const tFailure& f) { return !f.isCall && Matches(f.target, sql); });
}

}  // namespace recodbc

using namespace recodbc;

extern "C" {

void RecOdbcReset(void) {
    std::lock_guard<std::mutex> hold(Lock());
    tState& st = State();
    st.results.clear();
    st.building = nullptr;
    st.failures.clear();
    st.log.clear();
    SetDefaultInfo(st);
}

void RecOdbcAddResult(const char* sqlPattern) {
    if (!sqlPattern) Misuse("RecOdbcAddResult needs a pattern");
    std::lock_guard<std::mutex> hold(Lock());
    tState& st = State();
    st.results.emplace_back();
    st.results.back().pattern = sqlPattern;
    st.building = &st.results.back();
}

void RecOdbcAddColumn(const char* name, SQLSMALLINT sqlType, SQLULEN columnSize,
                      SQLSMALLINT decimals, SQLSMALLINT nullable) {
    std::lock_guard<std::mutex> hold(Lock());
    tResult& r = Building(State(), "RecOdbcAddColumn");
    if (!r.rows.empty()) Misuse("RecOdbcAddColumn after RecOdbcAddRow");
    r.columns.push_back({name ? name : "", sqlType, columnSize, decimals, nullable});
}

void RecOdbcAddRow(void) {
    std::lock_guard<std::mutex> hold(Lock());
    tResult& r = Building(State(), "RecOdbcAddRow");
    if (r.columns.empty()) Misuse("RecOdbcAddRow before any RecOdbcAddColumn");
    if (!r.rows.empty() && r.rows.back().size() != r.columns.size()) {
        Misuse("the previous row has fewer values than columns");
    }
    r.rows.emplace_back();
}

void RecOdbcAddValueBytes(const void* bytes, SQLLEN length) {
    std::lock_guard<std::mutex> hold(Lock());
    tResult& r = Building(State(), "RecOdbcAddValue");
    if (r.rows.empty()) Misuse("RecOdbcAddValue before RecOdbcAddRow");
    if (r.rows.back().size() == r.columns.size()) Misuse("more values than columns");
    tValue v;
    v.isNull = bytes == nullptr;
    if (bytes && length > 0) v.bytes.assign(static_cast<const char*>(bytes), size_t(length));
    r.rows.back().push_back(v);
}

void RecOdbcAddValue(const char* text) {
    RecOdbcAddValueBytes(text, text ? SQLLEN(std::strlen(text)) : 0);
}

void RecOdbcSetRowCount(SQLLEN rowCount) {
    std::lock_guard<std::mutex> hold(Lock());
    tResult& r = Building(State(), "RecOdbcSetRowCount");
    r.rowCountSet = true;
    r.rowCount = rowCount;
}

void RecOdbcSetOutput(SQLUSMALLINT parameter, const char* text) {
    std::lock_guard<std::mutex> hold(Lock());
    tResult& r = Building(State(), "RecOdbcSetOutput");
    tValue v;
    v.isNull = text == nullptr;
    if (text) v.bytes = text;
    r.outputs[parameter] = v;
}

void RecOdbcFailNext(const char* target, const char* sqlstate, SQLINTEGER native,
                     const char* text) {
    AddFailure(target, SQL_ERROR, sqlstate, native, text);
}

void RecOdbcWarnNext(const char* target, const char* sqlstate, SQLINTEGER native,
                     const char* text) {
    AddFailure(target, SQL_SUCCESS_WITH_INFO, sqlstate, native, text);
}

void RecOdbcNoRowsNext(const char* sqlPattern) {
    if (sqlPattern && IsEntryPoint(sqlPattern)) Misuse("RecOdbcNoRowsNext takes a SQL pattern");
    AddFailure(sqlPattern, SQL_NO_DATA, "00000", 0, "");
}

void RecOdbcSetInfoText(SQLUSMALLINT infoType, const char* text) {
    std::lock_guard<std::mutex> hold(Lock());
    tState& st = State();
    if (!text) {
        st.info.erase(infoType);
        return;
    }
    st.info[infoType] = {true, text, 0, 0};
}

void RecOdbcSetInfoNumber(SQLUSMALLINT infoType, SQLUINTEGER value, int bytes) {
    if (bytes != 2 && bytes != 4) Misuse("RecOdbcSetInfoNumber takes 2 or 4 bytes");
    std::lock_guard<std::mutex> hold(Lock());
    State().info[infoType] = {false, "", value, bytes};
}

int RecOdbcPendingScripts(void) {
    std::lock_guard<std::mutex> hold(Lock());
    const tState& st = State();
    return int(st.results.size() + st.failures.size());
}

int RecOdbcLogCount(void) {
    std::lock_guard<std::mutex> hold(Lock());
    return int(State().log.size());
}

int RecOdbcLogEntry(int index, RecOdbcEntry* out) {
    std::lock_guard<std::mutex> hold(Lock());
    const tState& st = State();
    if (!out || index < 0 || size_t(index) >= st.log.size()) return -1;
    const tEntry& e = st.log[size_t(index)];
    *out = {e.call.c_str(),          e.handle,           e.args.c_str(),
            e.sql.c_str(),           int(e.executed),    e.params.c_str(),
            int(e.paramView.size()), e.paramView.data(), e.rc};
    return 0;
}

void RecOdbcClearLog(void) {
    std::lock_guard<std::mutex> hold(Lock());
    State().log.clear();
}

const char* RecOdbcCalls(void) {
    std::lock_guard<std::mutex> hold(Lock());
    tState& st = State();
    st.callsText.clear();
    for (const tEntry& e : st.log) {
        st.callsText += e.call + "(" + e.args + ")=" + std::to_string(e.rc) + "\n";
    }
    return st.callsText.c_str();
}

const char* RecOdbcStatements(void) {
    std::lock_guard<std::mutex> hold(Lock());
    tState& st = State();
    st.statementsText.clear();
    for (const tEntry& e : st.log) {
        if (!e.executed) continue;
        st.statementsText += e.sql;
        if (!e.params.empty()) st.statementsText += " [" + e.params + "]";
        st.statementsText += "\n";
    }
    return st.statementsText.c_str();
}

}  // extern "C"
