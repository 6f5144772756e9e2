// The ODBC statement's result: describing and binding the result columns (character data into
// one row buffer, every number as a double in its descriptor, other types left out), fetching
// rows, and reading long values as bytes.
//
// Bindings:
//  (1) Descriptor k is the k-th bound column; indicators[c - 1] is 1 when the driver's column c
//      is bound, 0 when it was left out.
//  (2) A character column's value points into rowBuffer at its row offset, and its buffer
//      length (size + 1, within 16 bits) lies inside the rowSize bytes of the buffer.
//  (3) Bindings live as long as the handle; a new binding on the same handle unbinds first, so
//      the driver never writes through a pointer into a buffer that has moved.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "lib_base/printer.h"
#include "server/drivers/odbc.h"

namespace {

constexpr SQLULEN kLongColumnLimit = 8200;    // long columns larger than this are left out
constexpr SQLULEN kLongColumnWarning = 2047;  // long columns larger than this are announced
constexpr SQLULEN kMaxColumnSize = 32766;     // size + 1 must fit the 16-bit buffer length
constexpr const char* kBindRoutine = "tODBCStatement::BindCols";

SQLCHAR* Text(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

// A column that the driver described or bound with information (a name cut to its buffer)
// fails like an error: the result would be read under a name it does not have.
bool IsColumnRefused(SQLRETURN rc) { return IsODBCFailure(rc) || rc == SQL_SUCCESS_WITH_INFO; }

enum class tColumnKind { Character, LongCharacter, Number, Unsupported };

tColumnKind KindOf(SQLSMALLINT sqlType) {
    switch (sqlType) {
        case SQL_CHAR:
        case SQL_WVARCHAR:
            return tColumnKind::Character;
        case SQL_VARCHAR:
        case SQL_LONGVARCHAR:
        case SQL_WCHAR:
        case SQL_WLONGVARCHAR:
        case SQL_LONGVARBINARY:
        case SQL_BIT:
            return tColumnKind::LongCharacter;
        default:
            return IsNumberSqlType(sqlType) ? tColumnKind::Number : tColumnKind::Unsupported;
    }
}

// The descriptor's type letter for the column ('X': left out), with the console warnings.
u8 BindType(SQLSMALLINT sqlType, SQLULEN size, const char* name) {
    const tColumnKind kind = KindOf(sqlType);
    const int shownSize = static_cast<int>(size);
    if (kind == tColumnKind::Unsupported) {
        BasePrintf(
            "[WARNING] Unsupported column type [%i] in field %s - Column removed from result set "
            "because binary (blob/image/memo) data types are not supported in query - "
            "(tODBCStatement::BindCols)\n",
            sqlType, name);
        return 'X';
    }
    if (size > kMaxColumnSize || (kind == tColumnKind::LongCharacter && size > kLongColumnLimit)) {
        BasePrintf(
            "[WARNING] Column [%s] type [%i] IGNORED : Precision (%i) TOO BIG (from "
            "tODBCStatement::BindCols)\n",
            name, sqlType, shownSize);
        return 'X';
    }
    if (kind == tColumnKind::LongCharacter && size > kLongColumnWarning) {
        BasePrintf(
            "[WARNING] Column [%s] type [%i] bind using (%i) bytes exceeded 2047 bytes. (from "
            "tODBCStatement::BindCols)\n",
            name, sqlType, shownSize);
    }
    return kind == tColumnKind::Number ? 'N' : 'C';
}

void NameColumn(char (&name)[129], i16 column) {
    if (name[0] == '\0') {
        std::snprintf(name, sizeof name, "CFIELD%i", column);
        return;
    }
    for (char* p = name; *p; ++p)
        *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
}

}  // namespace

bool tODBCStatement::BindResult(u8 isQuery) {
    if (retrieveData > 0 && isQuery) {
        SQLSMALLINT count = 0;
        if (!Check(GM_ODBC(odbc, SQLNumResultCols, handle, &count), "tODBCStatement::BindResult",
                   nullptr)) {
            return false;
        }
        if (count <= 0) return false;
        if (bindColumns) return BindCols(count);
    }
    return !IsODBCFailure(lastRc);
}

bool tODBCStatement::BindCols(i16 count) {
    if (count < 0) count = 0;
    if (count > allocatedColumns) AllocColumns(count);
    columnCount = count;
    i32 total = 0;
    if (!DescribeColumns(count, total)) return false;
    if (total > 0) {
        if (rowBuffer.GetSize() < static_cast<u32>(total)) rowBuffer.SetSize(total);
        rowBuffer.Fill(0, total);
    }
    rowSize = total;
    return BindDescribed(count);
}

// Fills the descriptors from the driver's description; total becomes the row size.
bool tODBCStatement::DescribeColumns(i16 count, i32& total) {
    tColumnDesc* d = GetColumns();
    for (i16 c = 1; c <= count; ++c) {
        *d = tColumnDesc{};
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT sqlType = 0;
        SQLSMALLINT decimals = 0;
        SQLSMALLINT nullable = 0;
        SQLULEN size = 0;
        const SQLRETURN rc = GM_ODBC(odbc, SQLDescribeCol, handle, c, Text(d->name), sizeof d->name,
                                     &nameLength, &sqlType, &size, &decimals, &nullable);
        if (IsColumnRefused(rc)) {
            tString text;
            text.sprintf("Query Column : %s", d->name);
            lastRc = rc;
            lastFailure = odbc.HandleError(this, kBindRoutine, text, rc, 1);
            return false;  // the handle stays open for its owner
        }
        lastRc = rc;
        NameColumn(d->name, c);
        d->rowOffset = total;
        const u8 type = BindType(sqlType, size, d->name);
        if (type == 'X') {
            --columnCount;
            *d = tColumnDesc{};
            indicators[c - 1] = 0;
            continue;
        }
        d->type = type;
        d->decimals = decimals;
        d->bufferLength = static_cast<i16>(type == 'C' ? size + 1 : size);
        total += d->bufferLength;
        if (size == 0) {
            BasePrintf(
                "[WARNING] (tODBCStatement::BindCols) Supported column type [%i] described in "
                "field [%s] with SIZE = 0.\n",
                sqlType, d->name);
        }
        indicators[c - 1] = 1;
        ++d;
    }
    return true;
}

bool tODBCStatement::BindDescribed(i16 count) {
    if (columnsBound &&
        !Check(GM_ODBC(odbc, SQLFreeStmt, handle, SQL_UNBIND), kBindRoutine, nullptr)) {
        return false;
    }
    tColumnDesc* d = GetColumns();
    for (i16 c = 1; c <= count; ++c) {
        if (!indicators[c - 1]) continue;
        SQLRETURN rc;
        if (d->type == 'C') {
            d->value.text = rowBuffer.GetText() + d->rowOffset;
            rc = GM_ODBC(odbc, SQLBindCol, handle, c, SQL_C_CHAR, d->value.text, d->bufferLength,
                         &d->returnedLength);
        } else {
            rc = GM_ODBC(odbc, SQLBindCol, handle, c, SQL_C_DOUBLE, &d->value.number,
                         sizeof d->value.number, &d->returnedLength);
        }
        if (IsColumnRefused(rc)) {
            tString text;
            text.sprintf("Bind Column : %s Type %c", d->name, d->type);
            lastRc = rc;
            lastFailure = odbc.HandleError(this, kBindRoutine, text, rc, 1);
            return false;  // the handle stays open for its owner
        }
        lastRc = rc;
        columnsBound = true;
        ++d;
    }
    return true;
}

bool tODBCStatement::Fetch() {
    if (handle == SQL_NULL_HSTMT) {
        BasePrintf("[WARNING] Statement NOT OPENED or ALREADY CLOSED for Fetch Operation.\n");
        return false;
    }
    const SQLRETURN rc = GM_ODBC(odbc, SQLFetch, handle);
    lastRc = rc;
    if (odbc.IsOpLog()) {
        char text[32];
        std::snprintf(text, sizeof text, "Ret [%i]", rc);
        odbc.OpLogMsg("tODBCStatement::Fetch", text);
    }
    if (!Check(rc, "tODBCStatement::Fetch", nullptr)) return false;
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

bool tODBCStatement::GetData(u16 column, void* buffer, i32& length) {
    if (!ReadBytes(column, buffer, length, "tODBCStatement::GetData")) return false;
    // The length counts the terminator written after a value that does not end in one.
    if (length > 0 && static_cast<char*>(buffer)[length - 1] != '\0') ++length;
    return true;
}

bool tODBCStatement::ReadBytes(u16 column, void* buffer, i32& length, const char* routine,
                               SQLSMALLINT cType) {
    dataTruncated = false;
    if (handle == SQL_NULL_HSTMT) return false;
    const i32 capacity = length;
    length = 0;
    lastFailure = 0;
    if (capacity < 1) return false;  // not even room for the terminator
    char* bytes = static_cast<char*>(buffer);
    bytes[0] = '\0';
    SQLLEN got = 0;
    // One byte is kept back for the terminator, which a character read writes itself.
    const SQLLEN room = cType == SQL_C_CHAR ? capacity : capacity - 1;
    const SQLRETURN rc = GM_ODBC(odbc, SQLGetData, handle, column, cType, buffer, room, &got);
    if (!Check(rc, routine, nullptr)) return false;
    if (rc == SQL_NO_DATA || (got <= 0 && got != SQL_NO_TOTAL)) return true;  // NULL or empty
    SQLLEN n = got;
    if (got == SQL_NO_TOTAL || got > capacity - 1) {
        n = capacity - 1;
        dataTruncated = true;
    }
    bytes[n] = '\0';
    length = static_cast<i32>(n);
    return true;
}

bool tODBCStatement::GetBlob(const char* sql, void* buffer, i32& length) {
    const char* routine = "tODBCStatement::GetBlob";
    const bool traced = odbc.IsTraced();
    if (traced) odbc.TraceStart(routine);
    lastFailure = 0;
    Open(0);
    if (handle == SQL_NULL_HSTMT) {  // Open has reported why
        length = 0;
        return false;
    }
    NoteStatement(sql, routine);
    // A missing row is not tested here: GetData then fails and says so.
    bool result = false;
    lastRc = GM_ODBC(odbc, SQLPrepare, handle, Text(sql), SQL_NTS);
    if (!IsODBCFailure(lastRc)) lastRc = GM_ODBC(odbc, SQLExecute, handle);
    if (!IsODBCFailure(lastRc)) lastRc = GM_ODBC(odbc, SQLFetch, handle);
    if (!IsODBCFailure(lastRc)) result = GetData(1, buffer, length);
    if (traced) odbc.TraceEnd(sql);
    OpLog(routine, sql);
    if (!result) {
        length = 0;
        const i32 native = odbc.HandleError(this, routine, sql, lastRc, 1);
        if (lastFailure == 0) lastFailure = native;
    }
    return result;
}
