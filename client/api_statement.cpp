// Exports of prepared statements and stored procedures: typed parameters written by the
// descriptor rules, the prepared work area with its flags, and procedure results written back
// into the caller's descriptors and data, never more of them than the caller described.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "client/exports.h"
#include "client/gatemillapi.h"
#include "lib_common/commbuffer.h"
#include "lib_common/opcodes.h"

using gmapi::WithTable;
using gmapi::WithWorkArea;

namespace {

constexpr size_t kDescriptorSize = 8;
constexpr u32 kMaxProcText = 999;  // a result's length fits the descriptor's three digits

// The length digits of the descriptor at d ("L/nnn/d/"): its value and how many digits it has.
u32 DescriptorLength(const char* d, size_t& digits) {
    u32 n = 0;
    digits = 0;
    for (const char* p = d + 2; *p >= '0' && *p <= '9'; ++p, ++digits) n = n * 10 + (*p - '0');
    return n;
}

// One parameter of the statement encoding from the descriptor at d and the data at *data; the
// descriptor's size in the list.
size_t PutParam(tCommBuffer& out, const char* d, const u8*& data) {
    size_t digits = 0;
    const u32 n = DescriptorLength(d, digits);
    const u8 type = static_cast<u8>(d[0]);
    out.PutByte(type);
    size_t size = kDescriptorSize;
    switch (type) {
        case 'A':
        case 'B':
        case 'D':
        case 'I':
            if (digits > 3) size += digits - 3;
            if (type == 'I') out.PutLong(static_cast<i32>(n));
            if (n > 0) out.PutBytes(data, n);
            if (type != 'I') out.PutByte(0);
            data += n;
            break;
        case 'E':
        case 'R':
            out.PutBytes(data, 4);
            data += 4;
            break;
        case 'F':
        case 'G':
            out.PutBytes(data, 8);
            data += 8;
            break;
        case 'L':
            out.PutBytes(data, 1);
            data += 1;
            break;
        case 'T':
            if (n > 0) out.PutBytes(data, n);
            out.PutByte(0);
            out.PutBytes(data + n, 8);
            data += n + 8;
            break;
        case 'X':
            out.PutByte(static_cast<u8>(d[6]));
            data += 2;
            break;
        default:
            break;
    }
    return size;
}

// One procedure result into the descriptor and the data at pos; false when the reply ends.
bool ReadProcResult(tCommBuffer& in, char* descriptor, u8* data, size_t& pos) {
    u8 type = 0;
    in.GetByte(type);
    if (in.IsMalformed()) return false;
    char text[kDescriptorSize + 1];
    if (type == 'C') {
        tString value;
        in.GetString(value);
        if (in.IsMalformed()) return false;
        const u32 n = std::min(static_cast<u32>(value.GetLength()), kMaxProcText);
        std::memcpy(data + pos, value.GetText(), n);
        std::snprintf(text, sizeof text, "C/%03u/0/", static_cast<unsigned>(n));
        pos += n;
    } else {
        f64 value = 0.0;
        in.GetDouble(value);
        if (in.IsMalformed()) return false;
        std::memcpy(data + pos, &value, sizeof value);
        std::snprintf(text, sizeof text, "F/008/0/");
        pos += sizeof value;
    }
    std::memcpy(descriptor, text, kDescriptorSize);
    return true;
}

}  // namespace

void gmapi::PutParams(tCommBuffer& out, const char* descriptors, const void* data) {
    const size_t length = descriptors ? std::strlen(descriptors) : 0;
    const i16 count = length == 0 ? 0 : static_cast<i16>((length - 1) / kDescriptorSize);
    out.PutShort(count);
    const u8* at = static_cast<const u8*>(data);
    size_t pos = 0;
    for (i16 i = 0; i < count && pos + kDescriptorSize <= length; ++i) {
        pos += PutParam(out, descriptors + pos, at);
    }
}

int16_t GM_SqlPrepare(GM_HANDLE handle, const char* sql) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        client.BeginRequest(OP_SQLPREPARE);
        client.GetBuffer().PutString(sql);
        i16 status = 0;
        if (!client.Request(status, true) || status < 0) return status;
        const i16 wa = gmapi::ReadNewWorkArea(client, false);
        if (wa >= 0) client.FindWorkArea(static_cast<u16>(wa))->prepared = true;
        return wa;
    });
}

int16_t GM_SqlBind(GM_HANDLE handle, uint16_t wa, const char* descriptors, const void* data) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea& area) -> int16_t {
        tCommBuffer& buffer = client.GetBuffer();
        client.BeginRequest(OP_SQLBIND);
        buffer.PutShort(static_cast<i16>(wa));
        gmapi::PutParams(buffer, descriptors, data);
        i16 status = 0;
        if (!client.Request(status) || status != 0 || area.bound) return status;
        // The structure comes with the first bind whose statement has a result.
        if (buffer.GetBytesLeft() == 0) return status;
        const bool read = area.ReadStructure() && area.ReadStatus();
        area.bound = read;
        return client.Finish(status, read);
    });
}

int16_t GM_SqlFree(GM_HANDLE handle, uint16_t wa) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea&) -> int16_t {
        client.BeginRequest(OP_SQLFREE);
        client.GetBuffer().PutShort(static_cast<i16>(wa));
        i16 status = 0;
        client.Request(status);
        if (status != RC_IN_USE) client.RemoveWorkArea(wa);
        return status;
    });
}

int16_t GM_ProcExec(GM_HANDLE handle, char* descriptors, void* data, int16_t count) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        if (!descriptors || !data || count < 1) return RC_FAILED;  // no procedure named
        tCommBuffer& buffer = client.GetBuffer();
        u8* bytes = static_cast<u8*>(data);
        client.BeginRequest(OP_SPEXEC);
        size_t digits = 0;
        const u32 nameLength = DescriptorLength(descriptors, digits);
        if (nameLength > 0) buffer.PutBytes(bytes, nameLength);
        buffer.PutByte(0);
        buffer.PutShort(static_cast<i16>(count - 1));
        const u8* at = bytes + nameLength;
        for (i16 i = 1; i < count; ++i) {
            const char* d = descriptors + i * kDescriptorSize;
            buffer.PutByte(static_cast<u8>(d[0]));
            const u32 n = DescriptorLength(d, digits);
            if (d[0] == 'A' || d[0] == 'D') {
                if (n > 0) buffer.PutBytes(at, n);
                buffer.PutByte(0);
                at += n;
            } else if (d[0] == 'F') {
                buffer.PutBytes(at, 8);
                at += 8;
            } else if (d[0] == 'L') {
                buffer.PutBytes(at, 1);
                at += 1;
            }
        }
        i16 results = 0;
        if (!client.Request(results) || results <= 0) return results;
        // Never more results than the caller gave descriptors for.
        const i16 kept = std::min(results, count);
        size_t pos = 0;
        for (i16 i = 0; i < kept; ++i) {
            if (!ReadProcResult(buffer, descriptors + i * kDescriptorSize, bytes, pos)) {
                return client.Finish(results, false);
            }
        }
        if (kept < count) std::memcpy(descriptors + kept * kDescriptorSize, "*", 2);
        return kept;
    });
}
