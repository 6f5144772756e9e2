// ODBC parameters: a client's typed values bound to a prepared statement by their type letters,
// one long value run with a text (memo writes), and stored-procedure calls whose parameters come
// from the ODBC procedure-column catalogue.
//
// Bound values:
//  (1) Every pointer handed to SQLBindParameter points into boundValues, boundIndicators or
//      procParams, which live until Close has freed the handle (or the parameters were reset).
//  (2) A value is bound only when it reads as what its letter says; anything else is refused
//      before the statement runs, so no marker is ever left unbound.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "lib_base/datetime.h"
#include "lib_base/gmlassert.h"
#include "lib_base/misc.h"
#include "lib_common/retcodes.h"
#include "server/drivers/datetext.h"
#include "server/drivers/odbc.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kBindRoutine = "ODBCStatement::BindParam";
constexpr const char* kRunRoutine = "tODBCStatement::SqlBind";
constexpr const char* kExecParamRoutine = "tODBCStatement::ExecParam";
constexpr const char* kSPRoutine = "tODBCStatement::SPExec";
// Stands for the statement text of a prepared statement run without one.
constexpr const char* kPreparedText = "#EXEC_PREPARED_STMT#";
constexpr i32 kMaxParamSize = 32766;  // an output text of size + 1 bytes fits 16 bits

SQLCHAR* Text(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

i32 HeldSize(f64 n) {
    if (!(n > 0.0)) return 0;  // NaN too
    return n >= kMaxParamSize ? kMaxParamSize : static_cast<i32>(n);
}

i16 CatalogueNumber(f64 n) {
    if (!(n >= -32768.0 && n <= 32767.0)) return 0;
    return static_cast<i16>(n);
}

// One SQLBindParameter call's arguments.
struct tBinding {
    SQLSMALLINT cType;
    SQLSMALLINT sqlType;
    SQLULEN columnSize;
    SQLSMALLINT decimals;
    SQLPOINTER value;
    SQLLEN bufferLength;
    SQLLEN indicator;
};

// A date text dd/mm/yyyy (any one non-digit between the parts) into the date area. A declared
// length of 3 or less holds only the day, of 6 or less no year, and such a date is no date.
bool ReadDate(tDATAField& value) {
    tDateArea& date = value.GetDateArea();
    date = tDateArea{};
    tDateParts parts;
    if (!ReadDateText(value, parts) || !IsValidDateParts(parts)) return false;
    date.year = static_cast<i16>(parts.year);
    date.month = static_cast<i16>(parts.month);
    date.day = static_cast<i16>(parts.day);
    return true;
}

tToday LocalToday() {
    std::tm now{};
    LocalTimeOf(CurrentTime(), now);
    return {now.tm_year + 1900, now.tm_mon + 1, now.tm_mday};
}

// A date-time text of the units from the first to the last qualifier ("yyyy-mm-dd hh:mm:ss.fff",
// one separator after each part) into the timestamp area. The date units the text does not give
// come from today; the time units it does not give are 0.
bool ReadTimestamp(tDATAField& value, const tToday& today) {
    tDateParts parts;
    parts.year = today.year;
    parts.month = today.month;
    parts.day = today.day;
    const i32 last = value.GetLastUnit();
    if (last == 1) parts.month = parts.day = 1;
    if (last == 2) parts.day = 1;
    if (!ReadDateTimeText(value, 7, parts) || !IsValidDateParts(parts)) return false;
    tTimestampArea& ts = value.GetTimestampArea();
    ts.year = static_cast<i16>(parts.year);
    ts.month = static_cast<i16>(parts.month);
    ts.day = static_cast<i16>(parts.day);
    ts.hour = static_cast<i16>(parts.hour);
    ts.minute = static_cast<i16>(parts.minute);
    ts.second = static_cast<i16>(parts.second);
    ts.fraction = static_cast<u32>(parts.fraction) * 1000000u;  // milliseconds in nanoseconds
    return true;
}

tBinding NullBinding(SQLSMALLINT cType, SQLSMALLINT sqlType) {
    return {cType, sqlType, 0, 0, nullptr, 0, SQL_NULL_DATA};
}

}  // namespace

// ---- tODBCParam

tODBCParam::tODBCParam(const char* name, f64 columnType, f64 dataType, f64 bufferLength)
    : name(name && *name ? name : "Result"),
      direction(CatalogueNumber(columnType)),
      sqlType(CatalogueNumber(dataType)),
      size(HeldSize(bufferLength)) {
    if (direction == SQL_RESULT_COL) {
        direction = SQL_PARAM_OUTPUT;
    } else if (direction == SQL_RETURN_VALUE) {
        direction = SQL_PARAM_OUTPUT;
        returnValue = true;
    } else if (direction == SQL_PARAM_TYPE_UNKNOWN) {
        const char* bare = this->name.GetText();
        if (*bare == '@') ++bare;
        direction = std::strncmp(bare, "IN_", 3) == 0 ? SQL_PARAM_INPUT : SQL_PARAM_OUTPUT;
    }
    switch (sqlType) {
        case SQL_CHAR:
        case SQL_VARCHAR:
        case SQL_LONGVARCHAR:
        case SQL_WVARCHAR:
        case SQL_BIT:
            letter = 'C';
            break;
        case SQL_TINYINT:
        case SQL_BIGINT:
        case SQL_INTEGER:
        case SQL_SMALLINT:
            letter = IsOutput() ? 'I' : 'N';
            size = IsOutput() ? 4 : 8;
            break;
        case SQL_NUMERIC:
        case SQL_DECIMAL:
        case SQL_FLOAT:
        case SQL_REAL:
        case SQL_DOUBLE:
            letter = 'N';
            size = 8;
            break;
        default:
            break;
    }
    cType = letter == 'C'   ? SQL_C_CHAR
            : letter == 'I' ? SQL_C_LONG
            : letter == 'N' ? SQL_C_DOUBLE
                            : 0;
    indicator = size;
    if (IsOutput() || returnValue) {
        outLength = size + (letter == 'C' ? 1 : 0);
        if (returnValue) size = 0;
    }
}

void tODBCParam::SetSize(i32 n) {
    size = HeldSize(n);
    indicator = size;
}

// ---- Bound values

bool tODBCStatement::RefuseValue(SQLUSMALLINT number, const char* reason, const char* text) {
    tString message;
    message.sprintf("%s in parameter %u [%s].", reason, static_cast<u32>(number), text);
    odbc.SetError(RC_FAILED, kBindRoutine, message, nullptr);
    lastFailure = RC_FAILED;
    return false;
}

// Informix takes the date part of a date-time from the database's clock (CURRENT), read as
// text whatever type the driver gives the column; every other type, and Informix when the
// query gives no date, from the local clock.
tToday tODBCStatement::DatabaseToday() {
    const tToday local = LocalToday();
    if (std::strcmp(odbc.GetDBType(), "INFORMIX") != 0) return local;
    std::unique_ptr<tStatement> made(odbc.NewStatement());
    auto* stmt = dynamic_cast<tODBCStatement*>(made.get());
    if (!stmt) return local;
    stmt->bindColumns = 0;
    char text[64] = {};
    i32 length = sizeof text;
    const char* routine = "tODBCConnection::BindData";
    if (!stmt->ExecDirect("SELECT CURRENT FROM SYSTABLES WHERE TABID = 1", routine, 1) ||
        !stmt->Fetch() || !stmt->ReadBytes(1, text, length, routine, SQL_C_CHAR)) {
        return local;
    }
    tDateParts read;
    if (ReadIsoDate(tValueText{text, static_cast<size_t>(length)}, read)) {
        return {read.year, read.month, read.day};
    }
    return local;
}

bool tODBCStatement::BindValue(tDATAField& value, SQLUSMALLINT number, SQLLEN& indicator) {
    const i16 declared = value.GetLen();
    const SQLULEN columnSize = declared > 0 ? static_cast<SQLULEN>(declared) : 0;
    tBinding b{};
    char letter[2] = {static_cast<char>(value.GetType()), '\0'};
    switch (value.GetType()) {
        case 'A':
        case 'C':
            // A column size of 0 is an invalid precision to some drivers, even for "".
            b = {SQL_C_CHAR, SQL_CHAR, columnSize > 0 ? columnSize : 1, 0, value.GetData(),
                 0,          SQL_NTS};
            break;
        case 'B':
            b = {SQL_C_CHAR, SQL_DECIMAL, columnSize, 0, value.GetData(), 0, SQL_NTS};
            break;
        case 'E':
            b = {SQL_C_LONG, SQL_INTEGER, columnSize, 0, value.GetData(), 0, SQL_NTS};
            break;
        case 'N':
            b = {SQL_C_DOUBLE, SQL_DOUBLE, columnSize, 0, value.GetData(), 0, SQL_NTS};
            break;
        case 'D':
            if (!ReadDate(value)) return RefuseValue(number, "Invalid date", ValueText(value).text);
            b = {SQL_C_TYPE_DATE, SQL_TYPE_DATE, 6, 6, &value.GetDateArea(), 6, SQL_NTS};
            break;
        case 'T':
            if (!ReadTimestamp(value, DatabaseToday())) {
                return RefuseValue(number, "Invalid date-time", ValueText(value).text);
            }
            b = {SQL_C_TYPE_TIMESTAMP,
                 SQL_TYPE_TIMESTAMP,
                 16,
                 16,
                 &value.GetTimestampArea(),
                 16,
                 SQL_NTS};
            break;
        case 'I': {
            // The bytes are bound with their length, so the driver never asks for them.
            const SQLLEN n = static_cast<SQLLEN>(value.GetValueSize());
            b = n > 0 ? tBinding{SQL_C_BINARY,
                                 SQL_LONGVARBINARY,
                                 static_cast<SQLULEN>(n),
                                 0,
                                 value.GetData(),
                                 n,
                                 n}
                      : NullBinding(SQL_C_BINARY, SQL_LONGVARBINARY);
            break;
        }
        case 'X': {
            const char kind = *static_cast<const char*>(value.GetData());
            if (kind == '1') {
                b = NullBinding(SQL_C_CHAR, SQL_CHAR);
            } else if (kind == '2') {
                b = NullBinding(SQL_C_FLOAT, SQL_DOUBLE);
            } else {
                const char text[2] = {kind, '\0'};
                return RefuseValue(number, "Invalid NULL parameter type", text);
            }
            break;
        }
        default:
            return RefuseValue(number, "Unsupported parameter type", letter);
    }
    indicator = b.indicator;
    lastRc = GM_ODBC(odbc, SQLBindParameter, handle, number, SQL_PARAM_INPUT, b.cType, b.sqlType,
                     b.columnSize, b.decimals, b.value, b.bufferLength, &indicator);
    if (lastRc == SQL_SUCCESS) return true;
    if (lastRc == SQL_SUCCESS_WITH_INFO) return AcceptWriteInfo(lastRc, kBindRoutine, nullptr);
    lastFailure = odbc.HandleError(this, kBindRoutine, nullptr, 0, 1);
    Close();
    return false;
}

bool tODBCStatement::BindValues(tAutoArray<tDATAField>& values) {
    boundIndicators.assign(static_cast<size_t>(values.Count()), 0);
    for (i32 i = 0; i < values.Count(); ++i) {
        if (!BindValue(*values.Get(i), static_cast<SQLUSMALLINT>(i + 1), boundIndicators[i])) {
            return false;
        }
    }
    return true;
}

bool tODBCStatement::BindParam(std::unique_ptr<tAutoArray<tDATAField>> values) {
    const bool traced = odbc.IsTraced();
    if (!StartPreparedRun("SqlBind", kRunRoutine, traced)) return false;
    if (values && values != boundValues) {
        // Bindings of the values given before must not outlive them.
        if (!Check(GM_ODBC(odbc, SQLFreeStmt, handle, SQL_RESET_PARAMS), kBindRoutine, nullptr)) {
            Close();
            return false;
        }
        recnoBound = false;
        boundValues = std::move(values);
    }
    if (!boundValues) {
        odbc.SetError(RC_FAILED, kBindRoutine, "No parameter values to bind.", nullptr);
        lastFailure = RC_FAILED;
        return false;
    }
    NoteStatement(kPreparedText, kRunRoutine);
    if (!BindValues(*boundValues)) return false;
    const SQLRETURN rc = GM_ODBC(odbc, SQLExecute, handle);
    if (IsODBCFailure(rc)) return FailExecution(rc, kRunRoutine, nullptr);
    lastRc = rc;
    if (!AcceptWriteInfo(rc, kRunRoutine, kPreparedText)) return false;
    if (traced) odbc.TraceEnd(kPreparedText);
    OpLog(kRunRoutine, kPreparedText);
    if (!bindColumns) return true;
    const bool result = BindResult(retrieveData != 0);
    if (result) bindColumns = 0;
    return result;
}

// ---- One long value

bool tODBCStatement::ExecParam(const char* sql, const void* data, i32 length, i16 kind) {
    GML_ASSERT(kind == 10 || kind == 11, "*** INVALID EXECPARAM TYPE ***");
    lastFailure = 0;
    const bool traced = odbc.IsTraced();
    if (traced) odbc.TraceStart(kExecParamRoutine);
    Open(0);
    if (handle == SQL_NULL_HSTMT) return false;
    NoteStatement(sql, kExecParamRoutine);
    SQLRETURN rc = GM_ODBC(odbc, SQLPrepare, handle, Text(sql), SQL_NTS);
    if (IsODBCFailure(rc)) return FailExecution(rc, kExecParamRoutine, sql);
    const SQLLEN n = length > 0 ? length : 0;
    execParamLength = n;
    rc = GM_ODBC(odbc, SQLBindParameter, handle, 1, SQL_PARAM_INPUT, SQL_C_BINARY,
                 kind == 10 ? SQL_LONGVARBINARY : SQL_LONGVARCHAR, static_cast<SQLULEN>(n), 0,
                 const_cast<void*>(data), n, &execParamLength);
    if (IsODBCFailure(rc)) return FailExecution(rc, kExecParamRoutine, sql);
    if (!AcceptWriteInfo(rc, kExecParamRoutine, sql)) return false;
    rc = GM_ODBC(odbc, SQLExecute, handle);
    lastRc = rc;
    if (traced) odbc.TraceEnd(sql);
    OpLog(kExecParamRoutine, sql);
    if (IsODBCFailure(rc)) return FailExecution(rc, kExecParamRoutine, sql);
    if (!AcceptWriteInfo(rc, kExecParamRoutine, sql)) return false;
    return rc != SQL_NO_DATA || FailNoRow(kExecParamRoutine, sql);
}

// ---- Stored procedures

bool tODBCStatement::ReadProcedureColumns(const char* name, const char* owner,
                                          tAutoArray<tODBCParam>& params, bool& listed,
                                          bool& returnSeen, const char* listRoutine) {
    listed = false;
    returnSeen = false;
    Open(0);
    if (handle == SQL_NULL_HSTMT) return false;
    // The owner prefix ends with its separator ("dbo."); no prefix means no schema.
    const i32 ownerLength = owner ? static_cast<i32>(std::strlen(owner)) : 0;
    const tString schema(owner, ownerLength);
    lastRc = GM_ODBC(odbc, SQLProcedureColumns, handle, nullptr, 0,
                     ownerLength > 0 ? Text(schema) : nullptr,
                     static_cast<SQLSMALLINT>(schema.GetLength()), Text(name),
                     static_cast<SQLSMALLINT>(std::strlen(name)), nullptr, 0);
    if (IsODBCFailure(lastRc)) return FailExecution(lastRc, listRoutine, name);
    SQLSMALLINT count = 0;
    if (!Check(GM_ODBC(odbc, SQLNumResultCols, handle, &count), kSPRoutine, name)) return false;
    if (count <= 0) return true;
    listed = true;
    if (!BindCols(count)) return false;
    // COLUMN_NAME, COLUMN_TYPE, DATA_TYPE and BUFFER_LENGTH by their catalogue positions, as
    // descriptors: a column left out of the binding shifts those after it.
    i16 at[9] = {};
    i16 bound = 0;
    for (i16 c = 0; c < count && c < 9; ++c) at[c] = indicators[c] ? bound++ : -1;
    if (count < 9 || at[3] < 0 || at[4] < 0 || at[5] < 0 || at[8] < 0) {
        odbc.SetError(RC_FAILED, kSPRoutine, "Invalid procedure catalogue result.", nullptr);
        return false;
    }
    // The catalogue's own rows, whatever a derived statement does to the rows it fetches.
    while (tODBCStatement::Fetch()) {
        auto param = std::make_unique<tODBCParam>(FieldAsPChar(at[3]), FieldAsDouble(at[4]),
                                                  FieldAsDouble(at[5]), FieldAsDouble(at[8]));
        if (param->IsReturnValue()) {
            returnSeen = true;
        } else {
            params.Add(param.release());
        }
    }
    return !IsODBCFailure(lastRc);  // a failed fetch has been reported
}

// Binds the parameters in order and writes the call's markers; 0 or -21 with the reason set.
i16 tODBCStatement::BindProcedureParams(tAutoArray<tODBCParam>& params, tArray<tDATAField>& inputs,
                                        tArray<tDATAField>& outputs, tString& callText) {
    i32 nextInput = 0;
    for (i32 i = 0; i < params.Count(); ++i) {
        tODBCParam& p = *params.Get(i);
        callText += i == 0 ? "(?" : ",?";
        tDATAField* field;
        if (p.IsOutput()) {
            std::unique_ptr<tDATAField> made;
            const i16 length = static_cast<i16>(p.GetOutLength());
            switch (p.GetTypeLetter()) {
                case 'C':
                    made = std::make_unique<tCharField>(p.GetName(), 'C', length, 0);
                    break;
                case 'I':
                    made = std::make_unique<tIntegerField>(p.GetName(), 'I', length, 0);
                    break;
                case 'N':
                    made = std::make_unique<tNumericField>(p.GetName(), 'N', length, 0);
                    break;
                default:
                    odbc.SetError(RC_FAILED, kSPRoutine, "Unsupported output parameter type.",
                                  nullptr);
                    return RC_SP_REFUSED;
            }
            field = made.get();
            outputs.Add(made.release());
        } else {
            if (nextInput >= inputs.Count()) {
                odbc.SetError(RC_FAILED, kSPRoutine, "Insufficient number of parameters.", nullptr);
                return RC_SP_REFUSED;
            }
            field = inputs.Get(nextInput++);
            if (field->GetType() != p.GetTypeLetter()) {
                odbc.SetError(RC_FAILED, kSPRoutine, "Invalid parameter type.", nullptr);
                return RC_SP_REFUSED;
            }
            if (p.GetTypeLetter() == 'C') {
                const char* text = static_cast<const char*>(field->GetData());
                p.SetSize(static_cast<i32>(strnlen(text, field->GetValueSize())));
            }
        }
        lastRc =
            GM_ODBC(odbc, SQLBindParameter, handle, static_cast<SQLUSMALLINT>(i + 1), p.GetIOType(),
                    p.GetCType(), p.GetSQLType(), static_cast<SQLULEN>(p.GetSize()), 0,
                    field->GetData(), static_cast<SQLLEN>(p.GetOutLength()), p.GetIndicator());
        if (lastRc != SQL_SUCCESS && lastRc != SQL_SUCCESS_WITH_INFO) {
            lastFailure = odbc.HandleError(this, "tODBCStatement::SPExec (SQLBindParameter)",
                                           nullptr, lastRc, 1);
            return RC_SP_REFUSED;
        }
    }
    if (params.Count() > 0) callText += ")";
    callText += " }";
    return RC_OK;
}

i16 tODBCStatement::SPExec(const char* name, const char* owner, tArray<tDATAField>& inputs,
                           tArray<tDATAField>& outputs) {
    auto params = std::make_unique<tAutoArray<tODBCParam>>();
    bool listed = false;
    bool returnSeen = false;
    if (!ReadProcedureColumns(name, owner, *params, listed, returnSeen,
                              "tODBCStatement::SPExec (_SQLProcedureColumns)"))
        return RC_SP_REFUSED;
    if (!listed) return RC_OK;  // nothing to call
    tString callText("{ call ");
    if (owner) callText += owner;
    callText += name;
    Open(1);
    if (handle == SQL_NULL_HSTMT) return RC_SP_REFUSED;
    procParams = std::move(params);  // bound values point into it until Close
    const i16 code = BindProcedureParams(*procParams, inputs, outputs, callText);
    if (code != RC_OK) return code;
    NoteStatement(callText, kSPRoutine);
    SQLRETURN rc = GM_ODBC(odbc, SQLPrepare, handle, Text(callText), SQL_NTS);
    if (IsODBCFailure(rc)) {
        FailExecution(rc, "tODBCStatement::SPExec (Prepare)", callText);
        return RC_SP_REFUSED;
    }
    rc = GM_ODBC(odbc, SQLExecute, handle);
    if (IsODBCFailure(rc)) {
        FailExecution(rc, "tODBCStatement::SPExec (Execute)", callText);
        return RC_SP_REFUSED;
    }
    lastRc = rc;
    ReportInfo(rc, "tODBCStatement::SPExec (Execute)", callText);
    OpLog(kSPRoutine, callText);
    return RC_OK;
}

bool tODBCStatement::ExecCharParam(const char* sql, const void* data, i32 length,
                                   const char* routine) {
    lastFailure = 0;
    const bool traced = odbc.IsTraced();
    if (traced) odbc.TraceStart(routine);
    Open(0);
    if (handle == SQL_NULL_HSTMT) return false;
    NoteStatement(sql, routine);
    if (!Check(GM_ODBC(odbc, SQLPrepare, handle, Text(sql), SQL_NTS), routine, sql)) {
        Close();
        return false;
    }
    const size_t n = data && length > 0 ? static_cast<size_t>(length) : 0;
    const char* bytes = static_cast<const char*>(data);
    std::vector<char> value(n + 1, '\0');
    if (n > 0) std::copy(bytes, bytes + n, value.begin());
    SQLLEN indicator = static_cast<SQLLEN>(n);
    if (!Check(
            GM_ODBC(odbc, SQLBindParameter, handle, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_CHAR,
                    static_cast<SQLULEN>(n), 0, value.data(), static_cast<SQLLEN>(n), &indicator),
            routine, sql)) {
        Close();
        return false;
    }
    const SQLRETURN rc = GM_ODBC(odbc, SQLExecute, handle);
    lastRc = rc;
    // A warning means the value was not stored as given (cut or converted): a failure too. The
    // diagnostics are read before the next call on the handle clears them.
    bool ok = rc == SQL_SUCCESS || rc == SQL_NO_DATA;
    if (!ok) lastFailure = odbc.HandleError(this, routine, sql, rc, 1);
    // The bound value goes with this call: no later execution may read it.
    ok = Check(GM_ODBC(odbc, SQLFreeStmt, handle, SQL_RESET_PARAMS), routine, sql) && ok;
    if (!ok) {
        Close();
        return false;
    }
    if (traced) odbc.TraceEnd(sql);
    OpLog(routine, sql);
    return rc == SQL_SUCCESS;  // no data: no row took the value
}
