// The PostgreSQL statement's long values: text parameters and character reads with the octet
// escapes that memo texts carry.
#include "server/drivers/postgres_stmt.h"

#include <cstring>
#include <vector>

#include "lib_common/retcodes.h"

namespace {

constexpr const char* kExecRoutine = "tPostgresStmt::ExecParam";

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

bool EndsWith(const char* bytes, size_t n, const char* tail) {
    const size_t t = std::strlen(tail);
    return n >= t && std::memcmp(bytes + n - t, tail, t) == 0;
}

}  // namespace

size_t DecodePostgresOctets(char* bytes, size_t n) {
    if (!EndsWith(bytes, n, "\\000") && !EndsWith(bytes, n, "\\376")) return n;
    size_t out = 0;
    for (size_t i = 0; i < n; ++i) {
        char c = bytes[i];
        if (c == '\\' && i + 3 < n && IsOctal(bytes[i + 1]) && IsOctal(bytes[i + 2]) &&
            IsOctal(bytes[i + 3])) {
            const int value =
                (bytes[i + 1] - '0') * 64 + (bytes[i + 2] - '0') * 8 + (bytes[i + 3] - '0');
            i += 3;
            if (value == 0) break;
            c = value == 255 ? '\\' : value == 254 ? '\'' : static_cast<char>(value);
        }
        bytes[out++] = c;
    }
    return out;
}

tPostgresStmt::tPostgresStmt(tODBCConnection* connection) : tODBCStatement(connection) {}

bool tPostgresStmt::ExecParam(const char* sql, const void* data, i32 length, i16) {
    lastRc = 0;
    const char* bytes = static_cast<const char*>(data);
    size_t n = length > 0 && bytes ? static_cast<size_t>(length) : 0;
    // A text holds no NUL byte. Trailing ones (a read's terminator written back) are dropped; one
    // inside the value is refused, for the value would be stored cut short.
    while (n > 0 && bytes[n - 1] == '\0') --n;
    if (n > 0 && std::memchr(bytes, '\0', n)) {
        odbc.SetError(RC_FAILED, kExecRoutine, "Invalid text value: a NUL byte inside it.",
                      nullptr);
        lastFailure = RC_FAILED;
        return false;
    }
    const bool traced = odbc.IsTraced();
    if (traced) odbc.TraceStart(kExecRoutine);
    Open(0);
    if (handle == SQL_NULL_HSTMT) return false;
    NoteStatement(sql, kExecRoutine);
    if (!Check(GM_ODBC(odbc, SQLPrepare, handle, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)),
                       SQL_NTS),
               kExecRoutine, sql)) {
        Close();
        return false;
    }
    std::vector<char> text(bytes, bytes + n);
    text.push_back('\0');
    SQLLEN indicator = static_cast<SQLLEN>(n);
    const SQLRETURN bound = GM_ODBC(odbc, SQLBindParameter, handle, 1, SQL_PARAM_INPUT, SQL_C_CHAR,
                                    SQL_VARCHAR, static_cast<SQLULEN>(n > 0 ? n : 1), 0,
                                    text.data(), static_cast<SQLLEN>(n), &indicator);
    if (!Check(bound, kExecRoutine, sql) || !AcceptWriteInfo(bound, kExecRoutine, sql)) {
        Close();
        return false;
    }
    const SQLRETURN rc = GM_ODBC(odbc, SQLExecute, handle);
    // The failure's diagnostic first: the next call on the handle clears it. Then the bound text
    // goes with this call: no later execution may read it.
    if (!Check(rc, kExecRoutine, sql) || !AcceptWriteInfo(rc, kExecRoutine, sql) ||
        !Check(GM_ODBC(odbc, SQLFreeStmt, handle, SQL_RESET_PARAMS), kExecRoutine, sql)) {
        Close();
        return false;
    }
    lastRc = rc;
    if (traced) odbc.TraceEnd(sql);
    OpLog(kExecRoutine, sql);
    return rc != SQL_NO_DATA || FailNoRow(kExecRoutine, sql);
}

bool tPostgresStmt::GetData(u16 column, void* buffer, i32& length) {
    dataTruncated = false;
    if (handle == SQL_NULL_HSTMT) return false;
    const i32 capacity = length;
    length = 0;
    lastRc = 0;
    lastFailure = 0;
    if (capacity < 1) return false;
    char* bytes = static_cast<char*>(buffer);
    bytes[0] = '\0';
    SQLLEN got = 0;
    const SQLRETURN rc =
        GM_ODBC(odbc, SQLGetData, handle, column, SQL_C_CHAR, buffer, capacity, &got);
    if (!Check(rc, "tPostgresStmt::GetData", nullptr)) return false;
    if (rc == SQL_NO_DATA || (got < 1 && got != SQL_NO_TOTAL)) return true;  // NULL or empty
    // The driver puts the terminator inside the buffer and cuts the text before it.
    size_t n = static_cast<size_t>(got);
    if (got == SQL_NO_TOTAL || got > capacity - 1) {
        n = static_cast<size_t>(capacity - 1);
        dataTruncated = true;
    }
    n = DecodePostgresOctets(bytes, n);
    bytes[n] = '\0';
    length = static_cast<i32>(n + 1);
    return true;
}
