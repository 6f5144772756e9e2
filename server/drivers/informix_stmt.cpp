// The Informix statement: character values padded with blanks to their column size, and stored
// procedures called through the ODBC call escape, their result row read as the outputs.
#include <algorithm>
#include <cstring>
#include <memory>

#include "lib_common/retcodes.h"
#include "server/drivers/informix.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kSPRoutine = "tInformixStmt::SPExec";

SQLCHAR* Text(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

}  // namespace

tInformixStmt::tInformixStmt(tODBCConnection* connection) : tODBCStatement(connection) {}

bool tInformixStmt::Fetch() {
    if (!tODBCStatement::Fetch()) return false;
    tColumnDesc* columns = GetColumns();
    for (i16 c = 0; c < GetColumnCount(); ++c) {
        tColumnDesc& column = columns[c];
        if (column.type != 'C' || column.bufferLength < 1 || !column.value.text) continue;
        const i64 capacity = column.bufferLength - 1;
        i64 n = column.returnedLength > 0 ? std::min(column.returnedLength, capacity) : 0;
        if (column.returnedLength == SQL_NO_TOTAL) n = strnlen(column.value.text, capacity);
        std::memset(column.value.text + n, ' ', static_cast<size_t>(column.bufferLength - n));
        column.value.text[capacity] = '\0';
    }
    return true;
}

i16 tInformixStmt::SPExec(const char* name, const char*, tArray<tDATAField>& inputs,
                          tArray<tDATAField>& outputs) {
    auto params = std::make_unique<tAutoArray<tODBCParam>>();
    bool listed = false;
    bool returnSeen = false;
    if (!ReadProcedureColumns(name, nullptr, *params, listed, returnSeen,
                              "tInformixStmt::SPExec (_SQLProcedureColumns)")) {
        Close();
        return RC_SP_REFUSED;
    }
    tString callText("{ ");
    if (returnSeen) callText += " ?= ";
    callText += "call ";
    callText += name;
    Open(1);
    if (handle == SQL_NULL_HSTMT) return RC_SP_REFUSED;
    const i16 code = BindCallParams(*params, inputs, returnSeen ? 1 : 0, callText);
    KeepProcedureParams(std::move(params));  // the bindings point into them until Close
    if (code != RC_OK) return code;
    callText += "}";
    NoteStatement(callText, kSPRoutine);
    lastRc = GM_ODBC(odbc, SQLExecDirect, handle, Text(callText), SQL_NTS);
    OpLog(kSPRoutine, callText);
    if (IsODBCFailure(lastRc)) {
        lastFailure = odbc.HandleError(this, kSPRoutine, callText, 0, 1);
        Close();
        return RC_SP_REFUSED;
    }
    SQLSMALLINT count = 0;
    const SQLRETURN rc = GM_ODBC(odbc, SQLNumResultCols, handle, &count);
    if (IsODBCFailure(rc) || count <= 0) {
        odbc.SetError(RC_SP_REFUSED, kSPRoutine, "Failed to retrieve _SQLNumResultCols", nullptr);
        Close();
        return RC_SP_REFUSED;
    }
    if (!BindCols(count)) {
        Close();
        return RC_SP_REFUSED;
    }
    if (Fetch()) ReadResultRow(outputs);
    return RC_OK;
}

// A "?" and a bind for every input and input/output parameter, numbered after the return
// value's marker, so that markers and bindings always agree; outputs get neither.
i16 tInformixStmt::BindCallParams(tAutoArray<tODBCParam>& params, tArray<tDATAField>& inputs,
                                  i32 firstNumber, tString& callText) {
    if (params.Count() == 0) return RC_OK;
    callText += "(";
    i32 nextInput = 0;
    i32 number = firstNumber;
    bool marked = false;
    for (i32 i = 0; i < params.Count(); ++i) {
        tODBCParam& p = *params.Get(i);
        if (p.GetIOType() != SQL_PARAM_INPUT && p.GetIOType() != SQL_PARAM_INPUT_OUTPUT) continue;
        callText += "?,";
        marked = true;
        if (nextInput >= inputs.Count()) {
            odbc.SetError(RC_FAILED, kSPRoutine, "Insufficient number of parameters.", nullptr);
            return RC_SP_REFUSED;
        }
        tDATAField& field = *inputs.Get(nextInput++);
        if (field.GetType() != p.GetTypeLetter()) {
            odbc.SetError(RC_FAILED, kSPRoutine, "Invalid parameter type.", nullptr);
            return RC_SP_REFUSED;
        }
        if (p.GetTypeLetter() == 'V' || p.GetTypeLetter() == 'C') {
            const char* text = static_cast<const char*>(field.GetData());
            p.SetSize(static_cast<i32>(strnlen(text, field.GetValueSize())));
        }
        // An output's value never runs past the field that receives it.
        const SQLLEN room =
            std::min<SQLLEN>(p.GetOutLength(), static_cast<SQLLEN>(field.GetValueSize()));
        lastRc =
            GM_ODBC(odbc, SQLBindParameter, handle, static_cast<SQLUSMALLINT>(++number),
                    p.GetIOType(), p.GetCType(), p.GetSQLType(), static_cast<SQLULEN>(p.GetSize()),
                    0, field.GetData(), room, p.GetIndicator());
        if (lastRc != SQL_SUCCESS) {
            lastFailure = odbc.HandleError(this, kSPRoutine, nullptr, lastRc, 1);
            return RC_SP_REFUSED;
        }
    }
    if (marked) callText.Delete(callText.GetLength() - 1);  // the last ","
    callText += ")";
    return RC_OK;
}

// The fetched row's C and N columns as new fields appended to outputs.
void tInformixStmt::ReadResultRow(tArray<tDATAField>& outputs) {
    const tColumnDesc* columns = GetColumns();
    for (i16 c = 0; c < GetColumnCount(); ++c) {
        const tColumnDesc& column = columns[c];
        if (column.type == 'C') {
            const i16 length = static_cast<i16>(column.bufferLength - 1);
            auto field = std::make_unique<tCharField>(column.name, 'C', length, 0);
            field->SetData(column.value.text, static_cast<size_t>(length > 0 ? length : 0));
            outputs.Add(field.release());
        } else if (column.type == 'N') {
            auto field = std::make_unique<tNumericField>(column.name, 'N', 15, 8);
            field->SetData(&column.value.number, sizeof column.value.number);
            outputs.Add(field.release());
        }
    }
}
