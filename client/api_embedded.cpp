// Exports of the embedded-statement requests (statements prepared, described, bound, run and
// fetched by scroll, and procedures opened as work areas). The server answers them with the
// request itself, so every reply is read only within its bytes and an echo never makes a work
// area: a status above 0 where a body follows, or bytes left over, is a failed exchange.
#include <cstring>

#include "client/exports.h"
#include "client/gatemillapi.h"
#include "lib_common/commbuffer.h"
#include "lib_common/opcodes.h"

using gmapi::WithTable;
using gmapi::WithWorkArea;

namespace {

constexpr i16 kOpFetch = 59;
constexpr i16 kOpPrepareStmt = 60;
constexpr i16 kOpBindParam = 61;
constexpr i16 kOpExecStmt = 62;
constexpr i16 kOpFieldCount = 84;
constexpr i16 kOpPrepareUnload = 85;
constexpr i16 kOpExecEmbedded = 88;
constexpr i16 kOpQryDescription = 90;
constexpr i16 kOpExecProcedure = 91;
constexpr i16 kMaxStatus = 99;

// A reply that must end where its reading ended: -88 (dropped) when bytes are left over.
i16 FinishWhole(tGMLClient& client, i16 status) {
    return client.Finish(status, client.GetBuffer().GetBytesLeft() == 0);
}

// A statement reply that may open a work area: [words], status; 0 or more, the new area.
i16 OpenStatement(tGMLClient& client, void* statusBlock) {
    i16 status = 0;
    if (gmapi::StatementRequest(client, status, true) && status >= 0) {
        status = gmapi::ReadNewWorkArea(client, false);
    }
    client.CopyStatementWords(statusBlock);
    return status;
}

// The rest of a bind or run reply for the work area (when the connection has it): 0 or more,
// its structure and status block; below 0, the status block for -25 and the record zeroed at
// end of file.
i16 ReadStatementResult(tGMLClient& client, u16 wa, i16 status) {
    tClientWorkArea* area = client.FindWorkArea(wa);
    if (!area) return FinishWhole(client, status);
    bool read = true;
    if (status >= 0) {
        read = area->ReadStructure() && area->ReadStatus();
    } else {
        if (status == RC_NO_RECORD) read = area->ReadStatusIfAny();
        if (area->status.eof) area->ZeroRecord();
    }
    return client.Finish(status, read && client.GetBuffer().GetBytesLeft() == 0);
}

// A bind or run of the work area: the request, then its reply.
i16 RunStatement(tGMLClient& client, u16 wa, void* statusBlock) {
    i16 status = 0;
    if (gmapi::StatementRequest(client, status, true)) {
        status = ReadStatementResult(client, wa, status);
    }
    client.CopyStatementWords(statusBlock);
    return status;
}

}  // namespace

int16_t GM_PrepareStmt(GM_HANDLE handle, const char* sql, void* statusBlock) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        client.BeginRequest(kOpPrepareStmt);
        client.GetBuffer().PutString(sql);
        return OpenStatement(client, statusBlock);
    });
}

int16_t GM_PrepareUnload(GM_HANDLE handle, const char* sql, void* statusBlock) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        client.BeginRequest(kOpPrepareUnload);
        client.GetBuffer().PutString(sql);
        return OpenStatement(client, statusBlock);
    });
}

int16_t GM_GetQryDescription(GM_HANDLE handle, const char* sql, char* types, void* statusBlock) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        tCommBuffer& buffer = client.GetBuffer();
        client.BeginRequest(kOpQryDescription);
        buffer.PutString(sql);
        i16 status = 0;
        const bool answered = gmapi::StatementRequest(client, status, false);
        client.CopyStatementWords(statusBlock);
        if (!answered) return status;
        if (status < 0 || status > kMaxStatus) return 0;
        i16 count = 0;
        buffer.GetShort(count);
        for (i16 i = 0; i < count && !buffer.IsMalformed(); ++i) {
            tString name;
            u8 type = 0;
            i16 length = 0;
            i16 decimals = 0;
            buffer.GetString(name);
            buffer.GetByte(type);
            buffer.GetShort(length);
            buffer.GetShort(decimals);
            if (!buffer.IsMalformed() && types) types[i] = static_cast<char>(type);
        }
        return client.Finish(0, count >= 0);
    });
}

int16_t GM_BindParam(GM_HANDLE handle, uint16_t wa, const char* descriptors, const void* data,
                     const char* text, uint8_t first, uint8_t second, void* statusBlock) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        tCommBuffer& buffer = client.GetBuffer();
        client.BeginRequest(kOpBindParam);
        buffer.PutShort(static_cast<i16>(wa));
        buffer.PutString(text);
        buffer.PutByte(first);
        buffer.PutByte(second);
        gmapi::PutParams(buffer, descriptors, data);
        return RunStatement(client, wa, statusBlock);
    });
}

int16_t GM_ExecStmt(GM_HANDLE handle, uint16_t wa, uint8_t first, const char* text, uint8_t second,
                    uint8_t third, void* statusBlock) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        tCommBuffer& buffer = client.GetBuffer();
        client.BeginRequest(kOpExecStmt);
        buffer.PutShort(static_cast<i16>(wa));
        buffer.PutShort(first);
        buffer.PutString(text);
        buffer.PutShort(second);
        buffer.PutShort(third);
        return RunStatement(client, wa, statusBlock);
    });
}

int16_t GM_ExecEmbeddedNoReturn(GM_HANDLE handle, const char* sql, const char* descriptors,
                                const void* data, void* statusBlock) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        client.BeginRequest(kOpExecEmbedded);
        client.GetBuffer().PutString(sql);
        gmapi::PutParams(client.GetBuffer(), descriptors, data);
        i16 status = 0;
        if (gmapi::StatementRequest(client, status, false)) status = FinishWhole(client, status);
        client.CopyStatementWords(statusBlock);
        return status;
    });
}

int16_t GM_ExecProcedure(GM_HANDLE handle, const char* name, const char* descriptors,
                         const void* data, const int32_t* values, void* statusBlock) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        tCommBuffer& buffer = client.GetBuffer();
        client.BeginRequest(kOpExecProcedure);
        buffer.PutString(name);
        gmapi::PutParams(buffer, descriptors, data);
        if (values) {
            buffer.PutLong(values[0]);
            for (i32 i = 1; i <= values[0]; ++i) buffer.PutLong(values[i]);
        } else {
            buffer.PutLong(0);
        }
        i16 status = 0;
        const bool answered = gmapi::StatementRequest(client, status, true);
        client.CopyStatementWords(statusBlock);
        if (!answered) return status;
        if (status < 0) return RC_NO_RECORD;
        const i16 wa = gmapi::ReadNewWorkArea(client, false);
        if (wa < 0) return wa;
        tClientWorkArea* area = client.FindWorkArea(static_cast<u16>(wa));
        if (client.Finish(RC_OK, area->ReadRecord()) != RC_OK) {
            client.RemoveWorkArea(static_cast<u16>(wa));
            return RC_COMM_FAILURE;
        }
        return wa;
    });
}

int16_t GM_FieldCount(GM_HANDLE handle, uint16_t wa) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        client.BeginRequest(kOpFieldCount);
        client.GetBuffer().PutShort(static_cast<i16>(wa));
        i16 status = 0;
        if (!client.Request(status)) return status;
        return FinishWhole(client, status);
    });
}

int16_t GM_IsEofEmbedded(GM_HANDLE handle, uint16_t wa) {
    const int16_t result = WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        tClientWorkArea* area = client.FindWorkArea(wa);
        if (!area) return 1;
        tCommBuffer& buffer = client.GetBuffer();
        client.BeginRequest(kOpFetch);
        buffer.PutShort(static_cast<i16>(wa));
        buffer.PutLong(1);
        buffer.PutShort(1);
        i16 status = 0;
        if (!client.Request(status, true)) return 1;
        if (status >= 0) {
            return client.Finish(RC_OK, area->ReadRecord() && area->ReadStatus()) == RC_OK ? 0 : 1;
        }
        bool read = client.ReadStatementWords();
        if (read && status == RC_NO_RECORD) read = area->ReadStatus();
        client.Finish(status, read);
        return 1;
    });
    return result == RC_NOT_CONNECTED ? 1 : result;
}

int16_t GM_FetchScroll(GM_HANDLE handle, uint16_t wa, uint32_t first, uint16_t second,
                       void* statusBlock) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea& area) -> int16_t {
        tCommBuffer& buffer = client.GetBuffer();
        client.BeginRequest(kOpFetch);
        buffer.PutShort(static_cast<i16>(wa));
        buffer.PutLong(static_cast<i32>(first));
        buffer.PutShort(static_cast<i16>(second));
        i16 status = 0;
        if (!client.Request(status, true)) return status;
        bool read = true;
        if (status >= 0) {
            read = area.ReadRecord() && area.ReadStatus();
        } else {
            if (status == RC_NO_RECORD) read = client.ReadStatementWords() && area.ReadStatus();
            if (area.status.eof) area.ZeroRecord();
        }
        client.CopyStatementWords(statusBlock);
        return client.Finish(status, read);
    });
}
