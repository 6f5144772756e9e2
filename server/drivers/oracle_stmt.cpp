// The Oracle statement's executions over its cursor: direct execution with the read-only refusal,
// prepared statements run with the record number, result columns bound into the row buffer,
// fetches, long values read and written, procedure calls and bound inserts and updates.
#include <cstring>
#include <string>
#include <vector>

#include "lib_base/gmlassert.h"
#include "lib_base/printer.h"
#include "lib_common/retcodes.h"
#include "server/drivers/oracle.h"
#include "server/isam/dbprocess.h"
#include "server/isam/session.h"
#include "server/tables/dbtable.h"

namespace {

constexpr const char* kPreparedText = "#EXEC_PREPARED_STMT#";
constexpr const char* kExecParamRoutine = "tOracleStmt::ExecParam";
constexpr const char* kSPRoutine = "tOracleStmt::SPExec";
constexpr i32 kLongValueLimit = 65535;  // longer values carry the long-value header

}  // namespace

tOracleStmt::tOracleStmt(tOracleConnection* connection)
    : tStatement(connection),
      oracle(*connection),
      oci(&connection->GetOCI()),
      cursor(oci->NewStmt()) {}

tOracleStmt::~tOracleStmt() { tOracleStmt::Close(); }

void* tOracleStmt::GetHandle() { return cursor->GetCursor(); }

void tOracleStmt::NoteStatement(const char* sql, const char* routine) {
    tDBSession* session = oracle.GetDBServer();
    if (session && DBProcess().GetThreadInfo()) session->SetLastStatement(routine, sql);
}

void tOracleStmt::OpLog(const char* routine, const char* sql) {
    if (oracle.IsOpLog()) oracle.OpLogStmt(routine, sql);
}

void tOracleStmt::Begin(const char* routine, const char* sql, bool noteStatement) {
    if (oracle.IsTraced()) oracle.TraceStart(routine);
    lastFailure = 0;
    lastOCICode = 0;
    if (noteStatement) NoteStatement(sql, routine);
}

bool tOracleStmt::Fail(const char* routine, const char* sql, u8 report) {
    lastOCICode = cursor->GetRC();
    lastFailure = oracle.HandleError(this, routine, sql, lastOCICode, report);
    return false;
}

void tOracleStmt::Open(u8) {
    if (cursor->Open()) return;
    lastOCICode = cursor->GetRC();
    lastFailure = oracle.HandleError(this, "tOracleStmt::Open", nullptr, lastOCICode, 1);
}

void tOracleStmt::Close() {
    cursor->Close();
    // Only now that no bind of the cursor points into them.
    boundValues.reset();
    scratch.clear();
    bindColumns = 1;
    opened = 0;
    tDBSession* session = oracle.GetDBServer();
    if (session && DBProcess().GetThreadInfo()) session->ClearLastStatement();
}

bool tOracleStmt::ExecDirect(const char* sql, const char* routine, u8 report) {
    if (!oracle.IsConnected()) {
        oracle.SetError(RC_FAILED, routine, "Invalid statement execute - NO DB CONNECTION.",
                        nullptr);
        return false;
    }
    const bool traced = oracle.IsTraced();
    const bool isQuery = IsSelect(sql);
    if (oracle.IsReadOnly() && !isQuery) {
        tString message("Invalid statement execute due READONLY connection. STMT (");
        message += sql;
        message += ")";
        oracle.SetError(RC_FAILED, routine, message, nullptr);
        return false;
    }
    Begin(routine, sql, true);
    bool result = false;
    if (cursor->ParseExec(sql)) {
        result = BindResult(isQuery);
        if (result && traced) oracle.TraceEnd(sql);
    } else {
        lastOCICode = cursor->GetRC();
        lastFailure = report ? oracle.HandleError(this, routine, sql, lastOCICode, report)
                             : oracle.GetErrorText(this);
        Close();
    }
    OpLog(routine, sql);
    return result;
}

bool tOracleStmt::ExecWithRecno(const char* sql, f64 recno, const char* routine) {
    RecnoToStr(recno, recnoText);
    if (!oracle.IsConnected()) return false;
    const bool traced = oracle.IsTraced();
    Begin(routine, sql, true);
    bool result = false;
    Open(0);
    if (!cursor->IsOpened()) {
        // Open reported it.
    } else if (!cursor->Parse(sql) || !cursor->BindStringParam(recnoText)) {
        Fail(routine, sql, 1);
    } else if (!cursor->Execute()) {
        Fail(routine, sql, 1);
        Close();
    } else {
        result = BindResult(1);
    }
    if (traced) oracle.TraceResult(sql, recnoText);
    OpLog(routine, sql);
    return result;
}

bool tOracleStmt::Prepare(const char* sql, const char* routine) {
    if (!oracle.IsConnected()) return false;
    Begin(routine, sql, false);
    NoteStatement(sql, "tOracleStmt::Prepare");
    bool result = false;
    Open(0);
    if (!cursor->IsOpened()) {
        // Open reported it.
    } else if (!cursor->Parse(sql)) {
        Fail("tOracleStmt::Prepare", sql, 1);
    } else {
        if (oracle.IsTraced()) oracle.TraceEnd(sql);
        opened = 1;
        result = true;
    }
    OpLog(routine, sql);
    return result;
}

bool tOracleStmt::StartPreparedRun(const char* routine) {
    if (!oracle.IsConnected()) return false;
    if (!opened) {
        BasePrintf("tOracleStmt ERROR : Cannot execute non-prepared Statement\n");
        return false;
    }
    Begin(routine, nullptr, false);
    return true;
}

bool tOracleStmt::ExecRecnoStmt(const char* sql, f64 recno, const char* routine) {
    if (!StartPreparedRun(routine)) return false;
    RecnoToStr(recno, recnoText);
    bool result = false;
    if (!cursor->BindStringParam(recnoText) || !cursor->Execute()) {
        Fail(routine, sql, 1);
    } else if (bindColumns) {
        // The first run binds the result columns; later runs fetch into the same ones.
        result = BindResult(1);
        if (result) bindColumns = 0;
    } else {
        result = true;
    }
    if (!result) Close();
    if (result && oracle.IsTraced()) oracle.TraceRecno(sql, recno);
    OpLog(routine, sql);
    return result;
}

bool tOracleStmt::ExecSqlStmt(const char* routine) {
    if (!StartPreparedRun(routine)) return false;
    bool result = true;
    if (!cursor->Execute()) {
        result = Fail(routine, kPreparedText, 1);
        Close();
    } else if (oracle.IsTraced()) {
        oracle.TraceEnd(kPreparedText);
    }
    OpLog(routine, kPreparedText);
    return result;
}

bool tOracleStmt::ReleasePreparedStmt() { return true; }

bool tOracleStmt::BindResult(u8 bind) {
    if (bind) {
        const i16 count = cursor->Describe();
        if (count > 0) return BindCols(count);
    }
    return lastOCICode == 0;
}

bool tOracleStmt::BindCols(i16 count) {
    if (count > allocatedColumns) {
        FreeColumns();
        AllocColumns(count);
    }
    columnCount = count;
    i32 total = 0;
    cursor->AssignFields(count, GetColumns(), total, indicators.get());
    rowSize = total;
    if (rowBuffer.GetSize() < static_cast<u32>(total) + 1) rowBuffer.SetSize(total + 1);
    return cursor->Define(count, GetColumns(), columnCount, rowBuffer.GetText(), indicators.get());
}

bool tOracleStmt::Fetch() {
    if (rowSize > 0) rowBuffer.Fill(0, rowSize);  // every text column ends at a zero byte
    const bool result = cursor->Fetch();
    if (oracle.IsOpLog()) {
        oracle.OpLogMsg("tOracleStmt::Fetch", result ? "Fetch OK" : "Fetch FALSE");
    }
    return result;
}

bool tOracleStmt::GetBlob(const char* sql, void* buffer, i32& length) {
    const char* routine = "tOracleStmt::GetBlob";
    const bool traced = oracle.IsTraced();
    if (traced) oracle.TraceStart(routine);
    NoteStatement(sql, routine);
    bool result = true;
    if (!cursor->GetBlob(sql, buffer, length)) {
        result = Fail(routine, sql, 1);
        Close();
    } else if (traced) {
        oracle.TraceEnd(sql);
    }
    OpLog(routine, sql);
    return result;
}

bool tOracleStmt::ExecParam(const char* sql, const void* data, i32 length, i16 kind) {
    GML_ASSERT(kind == 10 || kind == 11, "*** INVALID EXECPARAM TYPE ***");
    std::string text(sql);
    const size_t mark = text.find('?');
    if (mark == std::string::npos) {
        tString message("No parameter marker in the statement. STMT (");
        message += sql;
        message += ")";
        oracle.SetError(RC_FAILED, kExecParamRoutine, message, nullptr);
        lastFailure = RC_FAILED;
        return false;
    }
    // "= ?" becomes "=:1": the blank before the marker gives way.
    if (mark > 0 && text[mark - 1] == ' ') {
        text.replace(mark - 1, 2, ":1");
    } else {
        text.replace(mark, 1, ":1");
    }
    Begin(kExecParamRoutine, text.c_str(), true);
    bool result = false;
    Open(0);
    if (!cursor->IsOpened()) {
        // Open reported it.
    } else if (!cursor->Parse(text.c_str())) {
        Fail(kExecParamRoutine, text.c_str(), 1);
    } else {
        std::vector<char> marked;
        if (length > kLongValueLimit) {
            marked.resize(static_cast<size_t>(length) + kLongValueHeaderSize);
            const u16 markBytes = kLongValueMark;
            const u32 size = static_cast<u32>(length);
            std::memcpy(marked.data(), &markBytes, 2);
            std::memcpy(marked.data() + 2, &size, 4);
            std::memcpy(marked.data() + kLongValueHeaderSize, data, static_cast<size_t>(length));
            data = marked.data();
            length += kLongValueHeaderSize;
        }
        const bool bound = kind == 10 ? cursor->BindBlobParam(data, length)
                                      : cursor->BindClobParam(data, length);
        if (!bound) {
            Fail(kExecParamRoutine, text.c_str(), 1);
        } else if (!cursor->Execute()) {
            Fail(kExecParamRoutine, text.c_str(), 1);
            Close();
        } else {
            result = true;
            if (oracle.IsTraced()) oracle.TraceEnd(text.c_str());
        }
    }
    OpLog(kExecParamRoutine, text.c_str());
    return result;
}

i16 tOracleStmt::SPExec(const char* name, const char* second, tArray<tDATAField>& inputs,
                        tArray<tDATAField>& outputs) {
    const i16 result = cursor->SPExec(name, second, inputs, outputs);
    if (result == kSPExecBadArguments) {
        oracle.SetError(RC_FAILED, kSPRoutine, cursor->GetMessage(), nullptr);
    } else if (result == kSPExecCallFailed) {
        Fail(kSPRoutine, name, 1);
    }
    return result;
}

bool tOracleStmt::ExecSpecial(const char* sql, tArray<tBindParam>& params, const char* routine,
                              u8 report) {
    if (!oracle.IsConnected()) return false;
    Begin(routine, sql, true);
    bool result = false;
    Open(0);
    if (!cursor->IsOpened()) {
        // Open reported it.
    } else if (!cursor->Parse(sql)) {
        Fail(routine, sql, report);
    } else {
        bool bound = params.Count() == 0;
        for (i32 i = 0; i < params.Count(); ++i) {
            tBindParam& p = *params.Get(i);
            char* text = static_cast<char*>(p.value);
            switch (p.type) {
                case 'C':
                    bound = cursor->BindStringParamAt(text, p.length, i);
                    break;
                case 'D':
                    bound = cursor->BindStringParamAt(text, 8, i);
                    break;
                case 'L':
                    bound = cursor->BindStringParamAt(text, 1, i);
                    break;
                case 'N':
                    bound = cursor->BindDoubleParamAt(static_cast<f64*>(p.value), i);
                    break;
                default:
                    break;  // binds nothing; the previous outcome stands
            }
            if (!bound) break;
        }
        if (!bound) {
            Fail(routine, sql, report);
        } else if (!cursor->Execute()) {
            Fail(routine, sql, report);
            Close();
        } else {
            result = BindResult(1);
            if (result && oracle.IsTraced()) oracle.TraceEnd(sql);
        }
    }
    OpLog(routine, sql);
    return result;
}
