// How an open table presents its rows: the index order, the rows marked deleted hidden or shown,
// the filters and the server-side field map. The open file does the work and answers the code.
#include <cstdio>

#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/gatemill.h"

void tDBServer::SetKey() {
    i16 fileId = 0;
    i16 order = 0;
    tGenericFile* file = ReadFileRequest(fileId, order);  // not owned: the open-file table keeps it
    if (!file) return;
    tCommBuffer& io = *GetCommBuffer();
    const i16 code = file->SetOrder(order);
    if (IsHandlerTraced()) {
        char number[16];
        std::snprintf(number, sizeof number, "%u", static_cast<u32>(static_cast<i32>(order)));
        tString text("Set Order to ");
        text += number;
        text += " on Table ";
        text += file->GetTableName();
        TraceHandler("SetKey", text);
    }
    io.PutReturnCode(code);
}

void tDBServer::SetDeleOn() {
    i16 fileId = 0;
    u8 hide = 0;
    tGenericFile* file = ReadFileRequest(fileId, hide);  // not owned: the open-file table keeps it
    if (!file) return;
    tCommBuffer& io = *GetCommBuffer();
    if (IsHandlerTraced()) {
        tString text("Set Deleted Filter ");
        text += hide ? "ON" : "OFF";
        text += " on Table ";
        text += file->GetTableName();
        TraceHandler("SetDeleOn", text);
    }
    io.PutReturnCode(file->SetDeletedFilter(hide));
}

void tDBServer::SrvMap() {
    i16 fileId = 0;
    tString fields;
    tGenericFile* file =
        ReadFileRequest(fileId, fields);  // not owned: the open-file table keeps it
    if (!file) return;
    tCommBuffer& io = *GetCommBuffer();
    if (IsHandlerTraced()) {
        tString text("Set Mapper ");
        if (fields.GetLength() > 0) {
            text += "Fields ";
            text += fields;
        } else {
            text += "[OFF]";
        }
        text += " on Table ";
        text += file->GetTableName();
        TraceHandler("SrvMap", text);
    }
    io.PutReturnCode(file->SrvMap(fields));
}

void tDBServer::SetFilter() {
    i16 fileId = 0;
    tString expression;
    tGenericFile* file =
        ReadFileRequest(fileId, expression);  // not owned: the open-file table keeps it
    if (!file) return;
    tCommBuffer& io = *GetCommBuffer();
    if (IsHandlerTraced()) {
        tString text;
        if (expression.GetLength() > 0) {
            text = "Set Filter to [";
            text += expression;
            text += "]";
        } else {
            text = "Clear Filter";
        }
        text += " on Table ";
        text += file->GetTableName();
        TraceHandler("SetFilter", text);
    }
    bool whole = true;
    const bool onRecord = file->SetFilter(expression, whole);
    io.PutReturnCode(onRecord ? RC_OK : RC_NO_RECORD);
    if (onRecord) file->SendRecord();
    file->SendStatus();
    io.PutByte(whole ? 1 : 0);
}

void tDBServer::SetFilterEx() {
    i16 fileId = 0;
    i16 level = 0;
    tString expression;
    tGenericFile* file =
        ReadFileRequest(fileId, level, expression);  // not owned: the open-file table keeps it
    if (!file) return;
    tCommBuffer& io = *GetCommBuffer();
    if (IsHandlerTraced()) {
        char number[16];
        std::snprintf(number, sizeof number, "%u", static_cast<u32>(static_cast<i32>(level)));
        tString text("Set Filter Extended to ");
        text += file->GetTableName();
        text += " Expression [";
        text += expression;
        text += "] Level ";
        text += number;
        TraceHandler("SetFilterEx", text);
    }
    filterMessage = "";
    io.PutReturnCode(file->SetFilterEx(level, expression, filterMessage));
}
