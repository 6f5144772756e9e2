// Memo fields of an open table read and written by the client: the byte count of a write is
// checked against the request before anything is copied, and the open file does the rest.
#include <cstdio>
#include <string>

#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/gatemill.h"

void tDBServer::BlobRead() {
    i16 id = 0;
    i16 field = 0;
    i32 recno = 0;
    i32 length = 0;
    tGenericFile* file = ReadFileRequest(id, field, recno, length);
    if (!file) return;  // a free id: the -10 is the whole reply
    if (IsHandlerTraced()) {
        char text[160];
        std::snprintf(text, sizeof text, " Id  %u Recno %.0f Length %u",
                      static_cast<u32>(static_cast<i32>(field)), static_cast<f64>(recno),
                      static_cast<unsigned>(length));
        tString line("BLOB Read on ");
        line += file->GetTableName();
        line += text;
        TraceHandler("BlobRead", line);
    }
    file->BlobRead(field, recno, length);
}

void tDBServer::BlobWrite() {
    tCommBuffer& in = *GetCommBuffer();
    i16 id = 0;
    i16 field = 0;
    i32 count = 0;
    in.GetShort(id);
    in.GetShort(field);
    in.GetLong(count);
    std::string bytes;
    if (!in.IsMalformed() && count > 0) {
        // Compared with what arrived before the buffer is made: the count is the client's.
        if (static_cast<u32>(count) <= in.GetBytesLeft()) bytes.resize(static_cast<size_t>(count));
        in.GetBytes(bytes.data(), count);
    }
    if (in.IsMalformed()) return;
    in.Reset();
    if (count < 0) {
        in.PutReturnCode(RC_FAILED);
        return;
    }
    tGenericFile* file = GetFileOrReply(id);
    if (!file) return;
    if (IsHandlerTraced()) {
        char text[96];
        std::snprintf(text, sizeof text, " Id  %u Length %u",
                      static_cast<u32>(static_cast<i32>(field)), static_cast<u32>(count));
        tString line("BLOB Write on ");
        line += file->GetTableName();
        line += text;
        TraceHandler("BlobWrite", line);
    }
    in.PutReturnCode(file->BlobWrite(field, bytes.data(), count));
}
