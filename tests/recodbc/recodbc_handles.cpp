// Entry points of the recording driver for environments and connections: allocation, connect,
// attributes and options, transactions, information, diagnostics and the function list.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "tests/recodbc/recodbc_internal.h"

using namespace recodbc;

namespace {

tKind ParentKind(SQLSMALLINT type) { return type == SQL_HANDLE_STMT ? tKind::dbc : tKind::env; }

tKind KindOf(SQLSMALLINT type) {
    switch (type) {
        case SQL_HANDLE_DBC:
            return tKind::dbc;
        case SQL_HANDLE_STMT:
            return tKind::stmt;
        default:
            return tKind::env;
    }
}

SQLRETURN AllocHandle(tCall& c, SQLSMALLINT type, SQLHANDLE* out) {
    if (type != SQL_HANDLE_ENV && !c.IsValid()) return SQL_INVALID_HANDLE;
    if (!out) return c.Error("HY009", "Invalid use of null pointer");
    *out = SQL_NULL_HANDLE;
    if (c.IsScriptedFailure()) return SQL_ERROR;
    std::unique_ptr<tHandle> h;
    if (type == SQL_HANDLE_ENV) {
        h = std::make_unique<tEnv>();
    } else if (type == SQL_HANDLE_DBC) {
        auto dbc = std::make_unique<tDbc>();
        dbc->env = c.Env();
        dbc->attrs[SQL_ATTR_AUTOCOMMIT] = SQL_AUTOCOMMIT_ON;
        c.Env()->dbcs.push_back(dbc.get());
        h = std::move(dbc);
    } else if (type == SQL_HANDLE_STMT) {
        if (!c.Dbc()->connected) return c.Error("08003", "Connection not open");
        auto stmt = std::make_unique<tStmt>();
        stmt->dbc = c.Dbc();
        c.Dbc()->stmts.push_back(stmt.get());
        h = std::move(stmt);
    } else {
        return c.Error("HYC00", "Optional feature not implemented");
    }
    c.AddArg(std::to_string(h->serial));
    *out = h.get();
    State().live[h.get()] = std::move(h);
    return SQL_SUCCESS;
}

SQLRETURN FreeHandle(tCall& c) {
    if (!c.IsValid()) return SQL_INVALID_HANDLE;
    if (c.IsScriptedFailure()) return SQL_ERROR;
    const tKind kind = c.Handle()->kind;
    if ((kind == tKind::env && !c.Env()->dbcs.empty()) ||
        (kind == tKind::dbc && c.Dbc()->connected)) {
        return c.Error("HY010", "Function sequence error");
    }
    FreeHandleTree(c.Handle());
    c.Forget();
    return SQL_SUCCESS;
}

// The DSN named in a connection string ("DSN=name;..."), compared without regard to case.
std::string DsnOf(const std::string& connection) {
    size_t pos = 0;
    while (pos < connection.size()) {
        size_t end = connection.find(';', pos);
        if (end == std::string::npos) end = connection.size();
        const std::string part = connection.substr(pos, end - pos);
        if (part.size() > 4 && std::toupper(part[0]) == 'D' && std::toupper(part[1]) == 'S' &&
            std::toupper(part[2]) == 'N' && part[3] == '=') {
            return part.substr(4);
        }
        pos = end + 1;
    }
    return "";
}

SQLRETURN Connect(tCall& c, const std::string& dsn) {
    if (!c.IsValid()) return SQL_INVALID_HANDLE;
    if (c.Dbc()->connected) return c.Error("08002", "Connection name in use");
    if (c.IsScriptedFailure()) return SQL_ERROR;
    c.Dbc()->connected = true;
    c.Dbc()->dsn = dsn;
    return SQL_SUCCESS;
}

// A connection attribute or option: string attributes are logged as text, others as numbers.
SQLRETURN SetConnectAttr(tCall& c, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER length) {
    const bool isText = attr == SQL_ATTR_CURRENT_CATALOG || attr == SQL_ATTR_TRACEFILE ||
                        attr == SQL_ATTR_TRANSLATE_LIB;
    c.Args({attr});
    c.AddArg(isText ? "'" + Text(static_cast<SQLCHAR*>(value), length) + "'"
                    : std::to_string(reinterpret_cast<SQLLEN>(value)));
    c.AddArg(std::to_string(length));
    if (!c.IsValid()) return SQL_INVALID_HANDLE;
    if (c.IsScriptedFailure()) return SQL_ERROR;
    c.Dbc()->attrs[attr] = reinterpret_cast<SQLULEN>(value);
    return SQL_SUCCESS;
}

SQLRETURN EndTran(tCall& c) {
    if (!c.IsValid()) return SQL_INVALID_HANDLE;
    if (c.IsScriptedFailure()) return SQL_ERROR;
    if (c.Handle()->kind == tKind::dbc && !c.Dbc()->connected) {
        return c.Error("08003", "Connection not open");
    }
    return SQL_SUCCESS;
}

SQLRETURN GetInfo(tCall& c, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT capacity,
                  SQLSMALLINT* length) {
    if (!c.IsValid()) return SQL_INVALID_HANDLE;
    if (c.IsScriptedFailure()) return SQL_ERROR;
    if (!c.Dbc()->connected) return c.Error("08003", "Connection not open");
    const tState& st = State();
    tInfo info;
    const auto it = st.info.find(type);
    if (it != st.info.end()) {
        info = it->second;
    } else if (type == SQL_DATA_SOURCE_NAME) {
        info.text = c.Dbc()->dsn;
    } else {
        return c.Error("HY096", "Information type out of range");
    }
    if (!info.isText) {
        if (info.bytes == 2) {
            const auto v = SQLUSMALLINT(info.number);
            if (value) std::memcpy(value, &v, sizeof v);
        } else if (value) {
            std::memcpy(value, &info.number, sizeof info.number);
        }
        if (length) *length = SQLSMALLINT(info.bytes);
        return SQL_SUCCESS;
    }
    SQLLEN full = 0;
    const SQLRETURN rc = PutText(info.text, static_cast<SQLCHAR*>(value), capacity, &full);
    if (length) *length = SQLSMALLINT(full);
    return rc == SQL_SUCCESS ? rc : c.Warn("01004", "String data, right truncated");
}

// Fills one diagnostic record into the caller's buffers.
SQLRETURN PutDiag(const tDiag& d, SQLCHAR* state, SQLINTEGER* native, SQLCHAR* message,
                  SQLSMALLINT capacity, SQLSMALLINT* length) {
    if (state) std::memcpy(state, d.state.c_str(), 6);
    if (native) *native = d.native;
    SQLLEN full = 0;
    const SQLRETURN rc = PutText(d.text, message, capacity, &full);
    if (length) *length = SQLSMALLINT(full);
    return rc;
}

SQLRETURN GetDiagField(tCall& c, SQLSMALLINT record, SQLSMALLINT id, SQLPOINTER info,
                       SQLSMALLINT capacity, SQLSMALLINT* length) {
    if (!c.IsValid()) return SQL_INVALID_HANDLE;
    if (c.IsScriptedFailure(false)) return SQL_ERROR;
    const std::vector<tDiag>& diags = c.Handle()->diags;
    if (id == SQL_DIAG_NUMBER) {
        const auto n = SQLINTEGER(diags.size());
        if (info) std::memcpy(info, &n, sizeof n);
        return SQL_SUCCESS;
    }
    if (record < 1) return SQL_ERROR;
    if (size_t(record) > diags.size()) return SQL_NO_DATA;
    const tDiag& d = diags[size_t(record - 1)];
    SQLLEN full = 0;
    SQLRETURN rc = SQL_SUCCESS;
    if (id == SQL_DIAG_NATIVE) {
        if (info) std::memcpy(info, &d.native, sizeof d.native);
    } else if (id == SQL_DIAG_SQLSTATE || id == SQL_DIAG_MESSAGE_TEXT) {
        rc = PutText(id == SQL_DIAG_SQLSTATE ? d.state : d.text, static_cast<SQLCHAR*>(info),
                     capacity, &full);
    } else {
        return SQL_ERROR;
    }
    if (length) *length = SQLSMALLINT(full);
    return rc;
}

SQLRETURN GetFunctions(tCall& c, SQLUSMALLINT id, SQLUSMALLINT* supported) {
    if (!c.IsValid()) return SQL_INVALID_HANDLE;
    if (c.IsScriptedFailure()) return SQL_ERROR;
    if (!supported) return c.Error("HY009", "Invalid use of null pointer");
    if (id == SQL_API_ODBC3_ALL_FUNCTIONS) {
        std::fill(supported, supported + SQL_API_ODBC3_ALL_FUNCTIONS_SIZE, 0);
        for (unsigned f = 0; f < SQL_API_ODBC3_ALL_FUNCTIONS_SIZE * 16; ++f) {
            if (IsExportedFunction(SQLUSMALLINT(f)))
                supported[f >> 4] |= SQLUSMALLINT(1 << (f & 15));
        }
    } else if (id == SQL_API_ALL_FUNCTIONS) {
        for (unsigned f = 0; f < 100; ++f) supported[f] = IsExportedFunction(SQLUSMALLINT(f));
    } else {
        *supported = IsExportedFunction(id) ? SQL_TRUE : SQL_FALSE;
    }
    return SQL_SUCCESS;
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
    tCall c("SQLAllocHandle", ParentKind(type), input);
    c.Args({type});
    return c.Return(AllocHandle(c, type, output));
}

SQLRETURN SQL_API SQLAllocEnv(SQLHENV* env) {
    tCall c("SQLAllocEnv", tKind::env, SQL_NULL_HANDLE);
    return c.Return(AllocHandle(c, SQL_HANDLE_ENV, env));
}

SQLRETURN SQL_API SQLAllocConnect(SQLHENV env, SQLHDBC* dbc) {
    tCall c("SQLAllocConnect", tKind::env, env);
    return c.Return(AllocHandle(c, SQL_HANDLE_DBC, dbc));
}

SQLRETURN SQL_API SQLAllocStmt(SQLHDBC dbc, SQLHSTMT* stmt) {
    tCall c("SQLAllocStmt", tKind::dbc, dbc);
    return c.Return(AllocHandle(c, SQL_HANDLE_STMT, stmt));
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
    tCall c("SQLFreeHandle", KindOf(type), handle);
    c.Args({type});
    if (type != SQL_HANDLE_ENV && type != SQL_HANDLE_DBC && type != SQL_HANDLE_STMT) {
        return c.Return(SQL_INVALID_HANDLE);
    }
    return c.Return(FreeHandle(c));
}

SQLRETURN SQL_API SQLFreeEnv(SQLHENV env) {
    tCall c("SQLFreeEnv", tKind::env, env);
    return c.Return(FreeHandle(c));
}

SQLRETURN SQL_API SQLFreeConnect(SQLHDBC dbc) {
    tCall c("SQLFreeConnect", tKind::dbc, dbc);
    return c.Return(FreeHandle(c));
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV env, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER length) {
    tCall c("SQLSetEnvAttr", tKind::env, env);
    c.Args({attr, reinterpret_cast<SQLLEN>(value), length});
    if (!c.IsValid()) return c.Return(SQL_INVALID_HANDLE);
    if (c.IsScriptedFailure()) return c.Return(SQL_ERROR);
    c.Env()->attrs[attr] = reinterpret_cast<SQLULEN>(value);
    return c.Return(SQL_SUCCESS);
}

#ifndef GM_RECODBC_NO_CONNECT
SQLRETURN SQL_API SQLConnect(SQLHDBC dbc, SQLCHAR* dsn, SQLSMALLINT dsnLength, SQLCHAR* user,
                             SQLSMALLINT userLength, SQLCHAR* password,
                             SQLSMALLINT passwordLength) {
    tCall c("SQLConnect", tKind::dbc, dbc);
    c.Args({dsnLength, userLength, passwordLength});
    const std::string name = Text(dsn, dsnLength);
    c.Entry().sql =
        "DSN=" + name + ";UID=" + Text(user, userLength) + ";PWD=" + Text(password, passwordLength);
    return c.Return(Connect(c, name));
}
#endif

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC dbc, SQLHWND window, SQLCHAR* in, SQLSMALLINT inLength,
                                   SQLCHAR* out, SQLSMALLINT outCapacity, SQLSMALLINT* outLength,
                                   SQLUSMALLINT completion) {
    tCall c("SQLDriverConnect", tKind::dbc, dbc);
    c.Args({inLength, outCapacity, completion});
    const std::string connection = Text(in, inLength);
    c.Entry().sql = connection;
    SQLRETURN rc = Connect(c, DsnOf(connection));
    if (SQL_SUCCEEDED(rc)) {
        SQLLEN full = 0;
        if (PutText(connection, out, outCapacity, &full) != SQL_SUCCESS) {
            rc = c.Warn("01004", "String data, right truncated");
        }
        if (outLength) *outLength = SQLSMALLINT(full);
    }
    return c.Return(rc);
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC dbc) {
    tCall c("SQLDisconnect", tKind::dbc, dbc);
    if (!c.IsValid()) return c.Return(SQL_INVALID_HANDLE);
    if (!c.Dbc()->connected) return c.Return(c.Error("08003", "Connection not open"));
    if (c.IsScriptedFailure()) return c.Return(SQL_ERROR);
    const std::vector<tStmt*> stmts = c.Dbc()->stmts;  // a disconnect frees them (rule 3)
    for (tStmt* s : stmts) FreeHandleTree(s);
    c.Dbc()->connected = false;
    return c.Return(SQL_SUCCESS);
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC dbc, SQLINTEGER attr, SQLPOINTER value,
                                    SQLINTEGER length) {
    tCall c("SQLSetConnectAttr", tKind::dbc, dbc);
    return c.Return(SetConnectAttr(c, attr, value, length));
}

SQLRETURN SQL_API SQLSetConnectOption(SQLHDBC dbc, SQLUSMALLINT option, SQLULEN value) {
    tCall c("SQLSetConnectOption", tKind::dbc, dbc);
    c.Args({option, SQLLEN(value)});
    if (!c.IsValid()) return c.Return(SQL_INVALID_HANDLE);
    if (c.IsScriptedFailure()) return c.Return(SQL_ERROR);
    c.Dbc()->attrs[option] = value;
    return c.Return(SQL_SUCCESS);
}

SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC dbc, SQLINTEGER attr, SQLPOINTER value,
                                    SQLINTEGER capacity, SQLINTEGER* length) {
    tCall c("SQLGetConnectAttr", tKind::dbc, dbc);
    c.Args({attr, capacity});
    if (!c.IsValid()) return c.Return(SQL_INVALID_HANDLE);
    if (c.IsScriptedFailure()) return c.Return(SQL_ERROR);
    const auto it = c.Dbc()->attrs.find(attr);
    const auto v = SQLUINTEGER(it == c.Dbc()->attrs.end() ? 0 : it->second);
    if (value) std::memcpy(value, &v, sizeof v);
    if (length) *length = sizeof v;
    return c.Return(SQL_SUCCESS);
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
    tCall c("SQLEndTran", type == SQL_HANDLE_DBC ? tKind::dbc : tKind::env, handle);
    c.Args({type, completion});
    return c.Return(EndTran(c));
}

SQLRETURN SQL_API SQLTransact(SQLHENV env, SQLHDBC dbc, SQLUSMALLINT completion) {
    tCall c("SQLTransact", dbc ? tKind::dbc : tKind::env, dbc ? dbc : env);
    c.Args({completion});
    return c.Return(EndTran(c));
}

SQLRETURN SQL_API SQLGetInfo(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT capacity,
                             SQLSMALLINT* length) {
    tCall c("SQLGetInfo", tKind::dbc, dbc);
    c.Args({type, capacity});
    return c.Return(GetInfo(c, type, value, capacity, length));
}

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                SQLCHAR* state, SQLINTEGER* native, SQLCHAR* message,
                                SQLSMALLINT capacity, SQLSMALLINT* length) {
    tCall c("SQLGetDiagRec", KindOf(type), handle, false);
    c.Args({type, record, capacity});
    if (!c.IsValid()) return c.Return(SQL_INVALID_HANDLE);
    if (c.IsScriptedFailure(false) || record < 1 || capacity < 0) return c.Return(SQL_ERROR);
    const std::vector<tDiag>& diags = c.Handle()->diags;
    if (size_t(record) > diags.size()) return c.Return(SQL_NO_DATA);
    return c.Return(PutDiag(diags[size_t(record - 1)], state, native, message, capacity, length));
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                  SQLSMALLINT id, SQLPOINTER info, SQLSMALLINT capacity,
                                  SQLSMALLINT* length) {
    tCall c("SQLGetDiagField", KindOf(type), handle, false);
    c.Args({type, record, id, capacity});
    return c.Return(GetDiagField(c, record, id, info, capacity, length));
}

// ODBC 1 diagnostics: the most specific handle given; each call takes its record away.
SQLRETURN SQL_API SQLError(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, SQLCHAR* state,
                           SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT capacity,
                           SQLSMALLINT* length) {
    const tKind kind = stmt ? tKind::stmt : dbc ? tKind::dbc : tKind::env;
    tCall c("SQLError", kind, stmt ? stmt : dbc ? dbc : env, false);
    c.Args({capacity});
    if (!c.IsValid()) return c.Return(SQL_INVALID_HANDLE);
    if (c.IsScriptedFailure(false)) return c.Return(SQL_ERROR);
    std::vector<tDiag>& diags = c.Handle()->diags;
    if (diags.empty()) return c.Return(SQL_NO_DATA);
    const tDiag first = diags.front();
    diags.erase(diags.begin());
    return c.Return(PutDiag(first, state, native, message, capacity, length));
}

SQLRETURN SQL_API SQLGetFunctions(SQLHDBC dbc, SQLUSMALLINT id, SQLUSMALLINT* supported) {
    tCall c("SQLGetFunctions", tKind::dbc, dbc);
    c.Args({id});
    return c.Return(GetFunctions(c, id, supported));
}

SQLRETURN SQL_API SQLDrivers(SQLHENV env, SQLUSMALLINT direction, SQLCHAR* description,
                             SQLSMALLINT descriptionCapacity, SQLSMALLINT* descriptionLength,
                             SQLCHAR* attributes, SQLSMALLINT attributesCapacity,
                             SQLSMALLINT* attributesLength) {
    tCall c("SQLDrivers", tKind::env, env);
    c.Args({direction});
    if (!c.IsValid()) return c.Return(SQL_INVALID_HANDLE);
    if (c.IsScriptedFailure()) return c.Return(SQL_ERROR);
    return c.Return(SQL_NO_DATA);  // the library is its own driver: no others are listed
}

}  // extern "C"
