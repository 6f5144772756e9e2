// Exports of queries and direct SQL: a SELECT opened as a work area, and statements run as they
// are, with the statement status words of m4GL connections.
#include <cstring>

#include "client/exports.h"
#include "client/gatemillapi.h"
#include "lib_common/commbuffer.h"
#include "lib_common/opcodes.h"

using gmapi::WithTable;

namespace {

// The first length bytes of text (0: all of it, and never past its NUL), then a NUL.
void PutStatement(tCommBuffer& out, const char* sql, uint32_t length) {
    const size_t n = !sql ? 0 : length == 0 ? std::strlen(sql) : strnlen(sql, length);
    if (n > 0) out.PutBytes(sql, n);
    out.PutByte(0);
}

}  // namespace

int16_t GM_Query(GM_HANDLE handle, const char* sql) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        client.BeginRequest(OP_QUERY);
        client.GetBuffer().PutString(sql);
        i16 status = 0;
        if (!client.Request(status, true) || status < 0) return status;
        return gmapi::ReadNewWorkArea(client, false);
    });
}

int16_t GM_QueryEx(GM_HANDLE handle, const char* sql, const char* second, uint8_t first,
                   uint8_t third, void* statusBlock) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        client.BeginRequest(OP_QUERYEX);
        client.GetBuffer().PutString(sql);
        client.GetBuffer().PutString(second);
        client.GetBuffer().PutByte(first);
        client.GetBuffer().PutByte(third);
        i16 status = 0;
        if (gmapi::StatementRequest(client, status, true) && status >= 0) {
            status = gmapi::ReadNewWorkArea(client, false);
        }
        client.CopyStatementWords(statusBlock);
        return status;
    });
}

int16_t GM_Execute(GM_HANDLE handle, const char* sql, uint32_t length) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        client.BeginRequest(OP_SQLEXEC);
        PutStatement(client.GetBuffer(), sql, length);
        i16 status = 0;
        client.Request(status);
        return status;
    });
}

int16_t GM_ExecuteEx(GM_HANDLE handle, const char* sql, uint32_t length, void* statusBlock) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        client.BeginRequest(OP_SQLEXEC);
        PutStatement(client.GetBuffer(), sql, length);
        i16 status = 0;
        gmapi::StatementRequest(client, status, false);
        client.CopyStatementWords(statusBlock);
        return status;
    });
}
