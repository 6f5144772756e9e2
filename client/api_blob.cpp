// Exports of memo fields: their length, their bytes read into the caller's buffer and written
// from it. A reply is read only within the bytes received.
#include <algorithm>
#include <cstring>

#include "client/exports.h"
#include "client/gatemillapi.h"
#include "lib_common/commbuffer.h"
#include "lib_common/opcodes.h"

using gmapi::WithWorkArea;

namespace {

// Sends OP_BLOBREAD and reads the i32 at the head of the reply. A reply of a lone 16-bit code (a
// refusal) gives that code. False after a failed exchange or a shorter reply (dropped, -88).
bool BlobReadRequest(tGMLClient& client, u16 wa, u16 field, u32 recno, u32 length, i32& result) {
    tCommBuffer& buffer = client.GetBuffer();
    client.BeginRequest(OP_BLOBREAD);
    buffer.PutShort(static_cast<i16>(wa));
    buffer.PutShort(static_cast<i16>(field));
    buffer.PutLong(static_cast<i32>(recno));
    buffer.PutLong(static_cast<i32>(length));
    result = RC_COMM_FAILURE;
    if (!client.Transact()) {
        client.CommFail(RC_COMM_FAILURE);
        return false;
    }
    if (buffer.GetBytesLeft() == sizeof(i16)) {
        i16 code = 0;
        buffer.GetShort(code);
        result = code;
        return true;
    }
    buffer.GetLong(result);
    if (buffer.IsMalformed()) {
        result = client.CommFail(RC_COMM_FAILURE);
        return false;
    }
    return true;
}

}  // namespace

int32_t GM_Blob_Length(GM_HANDLE handle, uint16_t wa, uint16_t field, uint32_t recno) {
    return WithWorkArea<i32>(handle, wa, [&](tGMLClient& client, tClientWorkArea&) -> i32 {
        i32 length = 0;
        BlobReadRequest(client, wa, field, recno, 0, length);
        return length;
    });
}

int32_t GM_Blob_Read(GM_HANDLE handle, uint16_t wa, uint16_t field, uint32_t recno, void* out,
                     uint32_t length) {
    return WithWorkArea<i32>(handle, wa, [&](tGMLClient& client, tClientWorkArea&) -> i32 {
        i32 result = 0;
        if (!BlobReadRequest(client, wa, field, recno, length, result)) return result;
        tCommBuffer& buffer = client.GetBuffer();
        const u32 n = std::min(length, buffer.GetBytesLeft());
        if (out && n > 0) buffer.GetBytes(out, n);
        return result;
    });
}

int16_t GM_Blob_Write(GM_HANDLE handle, uint16_t wa, uint16_t field, const void* data,
                      uint32_t length) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea&) -> i16 {
        tCommBuffer& buffer = client.GetBuffer();
        client.BeginRequest(OP_BLOBWRITE);
        buffer.PutShort(static_cast<i16>(wa));
        buffer.PutShort(static_cast<i16>(field));
        // Without data the memo is emptied: a count the bytes do not follow would be malformed.
        buffer.PutLong(data ? static_cast<i32>(length) : 0);
        if (data && length > 0) {
            buffer.PutBytes(data, length);
        } else if (!data) {
            buffer.PutByte(0);
        }
        i16 status = 0;
        client.Request(status);
        return status;
    });
}
