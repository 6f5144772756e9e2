// Exports of navigation, record writes and locks: each sends the work area's number and its
// arguments, and reads the record, the record number or the status block back into the area.
#include "client/exports.h"
#include "client/gatemillapi.h"
#include "lib_common/commbuffer.h"
#include "lib_common/opcodes.h"

using gmapi::ReadMove;
using gmapi::WithWorkArea;

namespace {

// A move whose request is the opcode, the work area and what put adds.
template <class Put>
int16_t MoveRequest(GM_HANDLE handle, uint16_t wa, i16 opcode, Put put) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea& area) -> int16_t {
        client.BeginRequest(opcode);
        client.GetBuffer().PutShort(static_cast<i16>(wa));
        put(client.GetBuffer(), area);
        i16 status = 0;
        if (!client.Request(status, true)) return status;
        return ReadMove(client, area, status);
    });
}

// A request whose reply is the status alone; done runs after a status of 0.
template <class Put, class Done>
int16_t RecordRequest(GM_HANDLE handle, uint16_t wa, i16 opcode, Put put, Done done) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea& area) -> int16_t {
        client.BeginRequest(opcode);
        client.GetBuffer().PutShort(static_cast<i16>(wa));
        put(client.GetBuffer(), area);
        i16 status = 0;
        if (client.Request(status) && status == RC_OK) done(area);
        return status;
    });
}

void PutRecord(tCommBuffer& out, tClientWorkArea& area) {
    out.PutBytes(area.GetRecord(), static_cast<size_t>(area.GetRecordSize()));
}

// Mirrors a deletion mark into the record buffer's D_E_L_E_T_ field, when it has one.
void MirrorDeleted(tClientWorkArea& area, const char* mark) {
    const tClientField* field = area.FindField("D_E_L_E_T_");
    if (field) area.WriteField(*field, mark);
}

// A lock or unlock of a record (0: the current one for a lock) or of the table.
void PutLock(tCommBuffer& out, u8 table, i32 record) {
    out.PutByte(table);
    out.PutLong(record);
}

}  // namespace

int16_t GM_First(GM_HANDLE handle, uint16_t wa, int32_t, int32_t) {
    return MoveRequest(handle, wa, OP_FIRST, [](tCommBuffer&, tClientWorkArea&) {});
}

int16_t GM_Last(GM_HANDLE handle, uint16_t wa, int32_t, int32_t) {
    return MoveRequest(handle, wa, OP_LAST, [](tCommBuffer&, tClientWorkArea&) {});
}

int16_t GM_Skip(GM_HANDLE handle, uint16_t wa, int32_t, int32_t count, int32_t) {
    return MoveRequest(handle, wa, OP_SKIP,
                       [&](tCommBuffer& out, tClientWorkArea&) { out.PutLong(count); });
}

int16_t GM_ChainR(GM_HANDLE handle, uint16_t wa, int32_t, uint32_t record, int32_t) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea& area) -> int16_t {
        return gmapi::GoToRecord(client, area, static_cast<i32>(record));
    });
}

int16_t GM_Seek(GM_HANDLE handle, uint16_t wa, int32_t, uint16_t keyFields, uint8_t lock,
                uint8_t soft, uint16_t keyLength, int32_t) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea& area) -> int16_t {
        client.BeginRequest(OP_SEEK);
        tCommBuffer& out = client.GetBuffer();
        out.PutShort(static_cast<i16>(wa));
        out.PutShort(static_cast<i16>(keyFields));
        out.PutShort(static_cast<i16>(keyLength));
        out.PutByte(lock);
        out.PutByte(soft);
        PutRecord(out, area);  // the key values, laid out as a record
        i16 status = 0;
        if (!client.Request(status, true)) return status;
        bool read = true;
        if (status == RC_OK || status == RC_SOFT_SEEK_GREATER) {
            read = area.ReadRecord() && area.ReadStatus();
        } else {
            area.ZeroRecord();
            read = area.ReadStatusIfAny();  // -10 comes alone
        }
        return client.Finish(status, read);
    });
}

int16_t GM_Write(GM_HANDLE handle, uint16_t wa, int32_t) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea& area) -> int16_t {
        client.BeginRequest(OP_WRITE);
        client.GetBuffer().PutShort(static_cast<i16>(wa));
        PutRecord(client.GetBuffer(), area);
        i16 status = 0;
        if (!client.Request(status, true) || status < 0) return status;
        f64 recno = 0;
        client.GetBuffer().GetDouble(recno);
        const bool read = area.ReadStatus();
        if (read && !client.GetBuffer().IsMalformed()) area.recno = recno;
        return client.Finish(status, read);
    });
}

int16_t GM_UpdateR(GM_HANDLE handle, uint16_t wa, int32_t, uint32_t record) {
    return RecordRequest(
        handle, wa, OP_UPDATE,
        [&](tCommBuffer& out, tClientWorkArea& area) {
            out.PutLong(static_cast<i32>(record));
            PutRecord(out, area);
        },
        [](tClientWorkArea& area) {
            area.status.bof = 0;
            area.status.eof = 0;
        });
}

int16_t GM_DeleteR(GM_HANDLE handle, uint16_t wa, uint32_t record) {
    return RecordRequest(
        handle, wa, OP_DELETE,
        [&](tCommBuffer& out, tClientWorkArea&) { out.PutLong(static_cast<i32>(record)); },
        [](tClientWorkArea& area) { MirrorDeleted(area, "*"); });
}

int16_t GM_RecallR(GM_HANDLE handle, uint16_t wa, uint32_t record, int32_t) {
    return RecordRequest(
        handle, wa, OP_RECALL,
        [&](tCommBuffer& out, tClientWorkArea&) { out.PutLong(static_cast<i32>(record)); },
        [](tClientWorkArea& area) { MirrorDeleted(area, " "); });
}

int16_t GM_Lock(GM_HANDLE handle, uint16_t wa, uint32_t record) {
    return MoveRequest(handle, wa, OP_LOCK, [&](tCommBuffer& out, tClientWorkArea& area) {
        PutLock(out, 0, record != 0 ? static_cast<i32>(record) : gmapi::RecnoToWire(area.recno));
    });
}

int16_t GM_UnLock(GM_HANDLE handle, uint16_t wa, uint32_t record) {
    return RecordRequest(
        handle, wa, OP_UNLOCK,
        [&](tCommBuffer& out, tClientWorkArea&) { PutLock(out, 0, static_cast<i32>(record)); },
        [](tClientWorkArea&) {});
}

int16_t GM_FLock(GM_HANDLE handle, uint16_t wa, int32_t) {
    return MoveRequest(handle, wa, OP_LOCK,
                       [](tCommBuffer& out, tClientWorkArea&) { PutLock(out, 1, 0); });
}

int16_t GM_FUnLock(GM_HANDLE handle, uint16_t wa) {
    return RecordRequest(
        handle, wa, OP_UNLOCK, [](tCommBuffer& out, tClientWorkArea&) { PutLock(out, 1, 0); },
        [](tClientWorkArea&) {});
}
