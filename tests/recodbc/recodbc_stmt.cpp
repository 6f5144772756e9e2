// Entry points of the recording driver for statements: prepare and execute with recorded
// parameters, data at execution, catalogue calls, and the play-back of scripted results through
// bound columns and SQLGetData.
#include <cstring>

#include "tests/recodbc/recodbc_internal.h"

using namespace recodbc;

namespace {

void CloseCursor(tStmt* s) {
    s->hasResult = false;
    s->result = tResult();
    s->fetched = 0;
    s->dataColumn = 0;
    s->needData = false;
    s->sentData.clear();
}

// Takes the first scripted result that matches the statement, or an empty one.
tResult TakeResult(const std::string& sql) {
    tState& st = State();
    for (auto it = st.results.begin(); it != st.results.end(); ++it) {
        if (!Matches(it->pattern, sql)) continue;
        tResult r = std::move(*it);
        if (st.building == &*it) st.building = nullptr;
        st.results.erase(it);
        return r;
    }
    return tResult();
}

// Writes the scripted output values into the bound output parameters.
SQLRETURN WriteOutputs(tCall& c, tStmt* s, const tResult& r) {
    SQLRETURN rc = SQL_SUCCESS;
    for (const auto& [number, value] : r.outputs) {
        const auto it = s->params.find(number);
        if (it == s->params.end() || it->second.ioType == SQL_PARAM_INPUT) continue;
        const tParamBinding& b = it->second;
        size_t consumed = 0;
        tDiag diag;
        const SQLRETURN one =
            PutValue(value, 0, b.cType, b.value, b.bufferLength, b.indicator, &consumed, &diag);
        if (one != SQL_SUCCESS) s->diags.push_back(diag);
        if (one == SQL_ERROR) return SQL_ERROR;
        if (one == SQL_SUCCESS_WITH_INFO) rc = one;
    }
    return rc;
}

void RecordParams(const tStmt* s, tEntry* e) {
    for (const auto& [number, binding] : s->params) {
        const auto sent = s->sentData.find(number);
        e->paramRecords.push_back(
            CaptureParam(number, binding, sent == s->sentData.end() ? nullptr : &sent->second));
        e->params += (e->params.empty() ? "" : ", ") + std::to_string(number) + "=" +
                     e->paramRecords.back().text;
    }
}

// Runs the statement: records its parameters, then plays a scripted failure or result.
SQLRETURN RunExecution(tCall& c, tStmt* s, const std::string& sql, bool withParams) {
    tEntry& e = c.Entry();
    e.sql = sql;
    e.executed = true;
    if (withParams) RecordParams(s, &e);
    CloseCursor(s);
    const SQLRETURN scripted = ScriptedSqlFailure(s, sql);
    if (scripted == SQL_ERROR) return SQL_ERROR;
    tResult r = TakeResult(sql);
    const SQLRETURN rc = WriteOutputs(c, s, r);
    if (rc == SQL_ERROR) return rc;
    s->rowCount = r.rowCountSet ? r.rowCount : r.columns.empty() ? 0 : -1;
    s->hasResult = !r.columns.empty();
    s->result = std::move(r);
    return scripted == SQL_SUCCESS_WITH_INFO || scripted == SQL_NO_DATA ? scripted : rc;
}

// Starts an execution; with data-at-execution parameters it first asks for their data.
SQLRETURN StartExecution(tCall& c, tStmt* s, const std::string& sql) {
    CloseCursor(s);
    c.Entry().sql = sql;
    s->dataParams.clear();
    for (const auto& [number, binding] : s->params) {
        if (IsDataAtExec(binding)) s->dataParams.push_back(number);
    }
    if (s->dataParams.empty()) return RunExecution(c, s, sql, true);
    s->needData = true;
    s->pendingSql = sql;
    s->dataIndex = 0;
    return SQL_NEED_DATA;
}

SQLRETURN ParamData(tCall& c, SQLPOINTER* token) {
    tStmt* s = c.Stmt();
    if (!s->needData) return c.Error("HY010", "Function sequence error");
    if (s->dataIndex < s->dataParams.size()) {
        const SQLUSMALLINT number = s->dataParams[s->dataIndex++];
        c.AddArg(std::to_string(number));
        if (token) *token = s->params[number].value;
        return SQL_NEED_DATA;
    }
    return RunExecution(c, s, s->pendingSql, true);
}

SQLRETURN PutData(tCall& c, SQLPOINTER data, SQLLEN length) {
    tStmt* s = c.Stmt();
    if (!s->needData || s->dataIndex == 0) return c.Error("HY010", "Function sequence error");
    tValue& v = s->sentData[s->dataParams[s->dataIndex - 1]];
    if (length == SQL_NULL_DATA) {
        v = tValue();
        return SQL_SUCCESS;
    }
    if (length < 0 && length != SQL_NTS) return c.Error("HY090", "Invalid string or buffer length");
    const char* p = static_cast<const char*>(data);
    if (!p && length != 0) return c.Error("HY009", "Invalid use of null pointer");
    v.isNull = false;
    if (p) v.bytes.append(p, length == SQL_NTS ? std::strlen(p) : size_t(length));
    return SQL_SUCCESS;
}

SQLRETURN DescribeCol(tCall& c, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT capacity,
                      SQLSMALLINT* nameLength, SQLSMALLINT* type, SQLULEN* size,
                      SQLSMALLINT* decimals, SQLSMALLINT* nullable) {
    const tStmt* s = c.Stmt();
    if (!s->hasResult) return c.Error("07005", "Prepared statement not a cursor-specification");
    if (column < 1 || column > s->result.columns.size()) {
        return c.Error("07009", "Invalid descriptor index");
    }
    const tColumn& col = s->result.columns[column - 1];
    SQLLEN full = 0;
    const SQLRETURN rc = PutText(col.name, name, capacity, &full);
    if (nameLength) *nameLength = SQLSMALLINT(full);
    if (type) *type = col.sqlType;
    if (size) *size = col.size;
    if (decimals) *decimals = col.decimals;
    if (nullable) *nullable = col.nullable;
    return rc == SQL_SUCCESS ? rc : c.Warn("01004", "String data, right truncated");
}

// Moves to the next row and fills the bound columns.
SQLRETURN Fetch(tCall& c) {
    tStmt* s = c.Stmt();
    if (s->needData) return c.Error("HY010", "Function sequence error");
    if (!s->hasResult) return c.Error("24000", "Invalid cursor state");
    if (s->fetched >= s->result.rows.size()) {
        s->fetched = s->result.rows.size() + 1;  // after the end: SQLGetData has no row
        return SQL_NO_DATA;
    }
    const std::vector<tValue>& row = s->result.rows[s->fetched++];
    s->dataColumn = 0;
    SQLRETURN rc = SQL_SUCCESS;
    for (const auto& [column, b] : s->cols) {
        if (column > row.size()) return c.Error("07009", "Invalid descriptor index");
        size_t consumed = 0;
        tDiag diag;
        const SQLRETURN one = PutValue(row[column - 1], 0, b.cType, b.target, b.bufferLength,
                                       b.indicator, &consumed, &diag);
        if (one != SQL_SUCCESS) s->diags.push_back(diag);
        if (one == SQL_ERROR) return SQL_ERROR;
        if (one == SQL_SUCCESS_WITH_INFO) rc = one;
    }
    return rc;
}

// One piece of a column of the current row; later calls continue where the last one stopped.
SQLRETURN GetData(tCall& c, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target,
                  SQLLEN capacity, SQLLEN* indicator) {
    tStmt* s = c.Stmt();
    if (!s->hasResult || s->fetched == 0 || s->fetched > s->result.rows.size()) {
        return c.Error("24000", "Invalid cursor state");
    }
    if (column < 1 || column > s->result.columns.size()) {
        return c.Error("07009", "Invalid descriptor index");
    }
    if (capacity < 0) return c.Error("HY090", "Invalid string or buffer length");
    if (column != s->dataColumn) {
        s->dataColumn = column;
        s->dataOffset = 0;
        s->dataDone = false;
    }
    if (s->dataDone) return SQL_NO_DATA;
    size_t consumed = 0;
    tDiag diag;
    const SQLRETURN rc = PutValue(s->result.rows[s->fetched - 1][column - 1], s->dataOffset, cType,
                                  target, capacity, indicator, &consumed, &diag);
    if (rc != SQL_SUCCESS) s->diags.push_back(diag);
    s->dataOffset += consumed;
    s->dataDone = rc == SQL_SUCCESS || (rc == SQL_SUCCESS_WITH_INFO && diag.state != "01004");
    return rc;
}

SQLRETURN SetStmtAttr(tCall& c, SQLINTEGER attr, SQLULEN value) {
    if (!c.IsValid()) return SQL_INVALID_HANDLE;
    if (c.IsScriptedFailure()) return SQL_ERROR;
    c.Stmt()->attrs[attr] = value;
    return SQL_SUCCESS;
}

SQLRETURN FreeStmt(tCall& c, SQLUSMALLINT option) {
    tStmt* s = c.Stmt();
    switch (option) {
        case SQL_CLOSE:
            CloseCursor(s);
            return SQL_SUCCESS;
        case SQL_DROP:
            FreeHandleTree(s);
            c.Forget();
            return SQL_SUCCESS;
        case SQL_UNBIND:
            s->cols.clear();
            return SQL_SUCCESS;
        case SQL_RESET_PARAMS:
            s->params.clear();
            return SQL_SUCCESS;
        default:
            return c.Error("HY092", "Invalid attribute/option identifier");
    }
}

// A catalogue call runs like a statement whose text names the call and its arguments.
SQLRETURN Catalog(tCall& c, const char* call, const std::string (&args)[4]) {
    if (!c.IsValid()) return SQL_INVALID_HANDLE;
    if (c.IsScriptedFailure()) return SQL_ERROR;
    if (c.Stmt()->needData) return c.Error("HY010", "Function sequence error");
    return RunExecution(
        c, c.Stmt(),
        std::string(call) + "(" + args[0] + "," + args[1] + "," + args[2] + "," + args[3] + ")",
        false);
}

// The frame shared by statement calls without special checks: a live statement, then any
// scripted failure, then the work.
template <typename Work>
SQLRETURN Run(tCall& c, Work work) {
    if (!c.IsValid()) return SQL_INVALID_HANDLE;
    if (c.IsScriptedFailure()) return SQL_ERROR;
    return work();
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT stmt, SQLINTEGER attr, SQLPOINTER value,
                                 SQLINTEGER length) {
    tCall c("SQLSetStmtAttr", tKind::stmt, stmt);
    c.Args({attr, reinterpret_cast<SQLLEN>(value), length});
    return c.Return(SetStmtAttr(c, attr, reinterpret_cast<SQLULEN>(value)));
}

SQLRETURN SQL_API SQLSetStmtOption(SQLHSTMT stmt, SQLUSMALLINT option, SQLULEN value) {
    tCall c("SQLSetStmtOption", tKind::stmt, stmt);
    c.Args({option, SQLLEN(value)});
    return c.Return(SetStmtAttr(c, option, value));
}

SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT stmt, SQLINTEGER attr, SQLPOINTER value,
                                 SQLINTEGER capacity, SQLINTEGER* length) {
    tCall c("SQLGetStmtAttr", tKind::stmt, stmt);
    c.Args({attr, capacity});
    return c.Return(Run(c, [&] {
        const auto it = c.Stmt()->attrs.find(attr);
        const SQLULEN v = it == c.Stmt()->attrs.end() ? 0 : it->second;
        const bool narrow = capacity == SQL_IS_INTEGER || capacity == SQL_IS_UINTEGER;
        const auto v32 = SQLUINTEGER(v);
        if (value)
            std::memcpy(value, narrow ? static_cast<const void*>(&v32) : &v,
                        narrow ? sizeof v32 : sizeof v);
        if (length) *length = narrow ? sizeof v32 : sizeof v;
        return SQLRETURN(SQL_SUCCESS);
    }));
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT stmt, SQLUSMALLINT option) {
    tCall c("SQLFreeStmt", tKind::stmt, stmt);
    c.Args({option});
    return c.Return(Run(c, [&] { return FreeStmt(c, option); }));
}

SQLRETURN SQL_API SQLPrepare(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length) {
    tCall c("SQLPrepare", tKind::stmt, stmt);
    c.Args({length});
    c.Entry().sql = Text(text, length);
    return c.Return(Run(c, [&] {
        tStmt* s = c.Stmt();
        if (s->needData) return c.Error("HY010", "Function sequence error");
        CloseCursor(s);
        s->prepared = c.Entry().sql;
        s->isPrepared = true;
        return SQLRETURN(SQL_SUCCESS);
    }));
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT stmt) {
    tCall c("SQLExecute", tKind::stmt, stmt);
    return c.Return(Run(c, [&] {
        tStmt* s = c.Stmt();
        if (!s->isPrepared || s->needData) return c.Error("HY010", "Function sequence error");
        return StartExecution(c, s, s->prepared);
    }));
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length) {
    tCall c("SQLExecDirect", tKind::stmt, stmt);
    c.Args({length});
    const std::string sql = Text(text, length);
    c.Entry().sql = sql;
    return c.Return(Run(c, [&] {
        tStmt* s = c.Stmt();
        if (s->needData) return c.Error("HY010", "Function sequence error");
        s->isPrepared = false;
        return StartExecution(c, s, sql);
    }));
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT ioType,
                                   SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN columnSize,
                                   SQLSMALLINT decimals, SQLPOINTER value, SQLLEN bufferLength,
                                   SQLLEN* indicator) {
    tCall c("SQLBindParameter", tKind::stmt, stmt);
    c.Args({number, ioType, cType, sqlType, SQLLEN(columnSize), decimals, bufferLength});
    return c.Return(Run(c, [&] {
        if (number < 1) return c.Error("07009", "Invalid descriptor index");
        c.Stmt()->params[number] = {ioType,   cType, sqlType,      columnSize,
                                    decimals, value, bufferLength, indicator};
        return SQLRETURN(SQL_SUCCESS);
    }));
}

SQLRETURN SQL_API SQLParamData(SQLHSTMT stmt, SQLPOINTER* token) {
    tCall c("SQLParamData", tKind::stmt, stmt);
    return c.Return(Run(c, [&] { return ParamData(c, token); }));
}

SQLRETURN SQL_API SQLPutData(SQLHSTMT stmt, SQLPOINTER data, SQLLEN length) {
    tCall c("SQLPutData", tKind::stmt, stmt);
    c.Args({length});
    return c.Return(Run(c, [&] { return PutData(c, data, length); }));
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT stmt, SQLSMALLINT* count) {
    tCall c("SQLNumResultCols", tKind::stmt, stmt);
    return c.Return(Run(c, [&] {
        if (!count) return c.Error("HY009", "Invalid use of null pointer");
        const tStmt* s = c.Stmt();
        *count = SQLSMALLINT(s->hasResult ? s->result.columns.size() : 0);
        return SQLRETURN(SQL_SUCCESS);
    }));
}

SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLCHAR* name,
                                 SQLSMALLINT capacity, SQLSMALLINT* nameLength, SQLSMALLINT* type,
                                 SQLULEN* size, SQLSMALLINT* decimals, SQLSMALLINT* nullable) {
    tCall c("SQLDescribeCol", tKind::stmt, stmt);
    c.Args({column, capacity});
    return c.Return(Run(c, [&] {
        return DescribeCol(c, column, name, capacity, nameLength, type, size, decimals, nullable);
    }));
}

SQLRETURN SQL_API SQLBindCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType,
                             SQLPOINTER target, SQLLEN capacity, SQLLEN* indicator) {
    tCall c("SQLBindCol", tKind::stmt, stmt);
    c.Args({column, cType, capacity});
    return c.Return(Run(c, [&] {
        if (column < 1) return c.Error("07009", "Invalid descriptor index");
        if (capacity < 0) return c.Error("HY090", "Invalid string or buffer length");
        if (!target) {
            c.Stmt()->cols.erase(column);
        } else {
            c.Stmt()->cols[column] = {cType, target, capacity, indicator};
        }
        return SQLRETURN(SQL_SUCCESS);
    }));
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT stmt) {
    tCall c("SQLFetch", tKind::stmt, stmt);
    return c.Return(Run(c, [&] { return Fetch(c); }));
}

SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT stmt, SQLSMALLINT orientation, SQLLEN offset) {
    tCall c("SQLFetchScroll", tKind::stmt, stmt);
    c.Args({orientation, offset});
    return c.Return(Run(c, [&] {
        if (orientation != SQL_FETCH_NEXT) {
            return c.Error("HYC00", "Optional feature not implemented");
        }
        return Fetch(c);
    }));
}

SQLRETURN SQL_API SQLExtendedFetch(SQLHSTMT stmt, SQLUSMALLINT orientation, SQLLEN offset,
                                   SQLULEN* rowCount, SQLUSMALLINT* rowStatus) {
    tCall c("SQLExtendedFetch", tKind::stmt, stmt);
    c.Args({orientation, offset});
    return c.Return(Run(c, [&] {
        if (orientation != SQL_FETCH_NEXT) {
            return c.Error("HYC00", "Optional feature not implemented");
        }
        const SQLRETURN rc = Fetch(c);
        if (rowCount) *rowCount = SQL_SUCCEEDED(rc) ? 1 : 0;
        if (rowStatus && SQL_SUCCEEDED(rc)) {
            rowStatus[0] = rc == SQL_SUCCESS ? SQL_ROW_SUCCESS : SQL_ROW_SUCCESS_WITH_INFO;
        }
        return rc;
    }));
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType,
                             SQLPOINTER target, SQLLEN capacity, SQLLEN* indicator) {
    tCall c("SQLGetData", tKind::stmt, stmt);
    c.Args({column, cType, capacity});
    return c.Return(Run(c, [&] { return GetData(c, column, cType, target, capacity, indicator); }));
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT stmt, SQLLEN* count) {
    tCall c("SQLRowCount", tKind::stmt, stmt);
    return c.Return(Run(c, [&] {
        if (!count) return c.Error("HY009", "Invalid use of null pointer");
        *count = c.Stmt()->rowCount;
        return SQLRETURN(SQL_SUCCESS);
    }));
}

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT stmt) {
    tCall c("SQLMoreResults", tKind::stmt, stmt);
    return c.Return(Run(c, [&] {
        CloseCursor(c.Stmt());  // scripts hold one result set per execution
        return SQLRETURN(SQL_NO_DATA);
    }));
}

SQLRETURN SQL_API SQLSetCursorName(SQLHSTMT stmt, SQLCHAR* name, SQLSMALLINT length) {
    tCall c("SQLSetCursorName", tKind::stmt, stmt);
    c.Args({length});
    c.Entry().sql = Text(name, length);
    return c.Return(Run(c, [] { return SQLRETURN(SQL_SUCCESS); }));
}

SQLRETURN SQL_API SQLTables(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalogLength,
                            SQLCHAR* schema, SQLSMALLINT schemaLength, SQLCHAR* table,
                            SQLSMALLINT tableLength, SQLCHAR* type, SQLSMALLINT typeLength) {
    tCall c("SQLTables", tKind::stmt, stmt);
    c.Args({catalogLength, schemaLength, tableLength, typeLength});
    const std::string args[4] = {Text(catalog, catalogLength), Text(schema, schemaLength),
                                 Text(table, tableLength), Text(type, typeLength)};
    return c.Return(Catalog(c, "SQLTables", args));
}

SQLRETURN SQL_API SQLProcedureColumns(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalogLength,
                                      SQLCHAR* schema, SQLSMALLINT schemaLength, SQLCHAR* proc,
                                      SQLSMALLINT procLength, SQLCHAR* column,
                                      SQLSMALLINT columnLength) {
    tCall c("SQLProcedureColumns", tKind::stmt, stmt);
    c.Args({catalogLength, schemaLength, procLength, columnLength});
    const std::string args[4] = {Text(catalog, catalogLength), Text(schema, schemaLength),
                                 Text(proc, procLength), Text(column, columnLength)};
    return c.Return(Catalog(c, "SQLProcedureColumns", args));
}

}  // extern "C"
