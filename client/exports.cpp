// Reply helpers shared by the export families.
#include "client/exports.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "lib_common/commbuffer.h"
#include "lib_common/opcodes.h"

namespace gmapi {

bool ReadTextReply(tBasicClient& client, tString& text) {
    if (!client.Transact()) {
        client.CommFail(RC_COMM_FAILURE);
        return false;
    }
    client.GetBuffer().GetString(text);
    return client.Finish(RC_OK) == RC_OK;
}

void CopyText(char* out, const tString& text, i32 max) {
    if (!out || text.GetLength() == 0 || max <= 0) return;
    std::memcpy(out, text.GetText(), static_cast<size_t>(std::min(text.GetLength() + 1, max)));
}

bool StatementRequest(tGMLClient& client, i16& status, bool withBody) {
    status = RC_COMM_FAILURE;
    if (!client.Transact() || !client.ReadStatementWords()) {
        client.CommFail(RC_COMM_FAILURE);
        return false;
    }
    return client.ReadReplyStatus(status, withBody);
}

bool ReadTextInto(tCommBuffer& in, char* out, size_t size) {
    char none[1];
    if (out && size > 0) {
        in.GetText(out, size);
    } else {
        in.GetText(none, sizeof none);  // consumes the text, copies nothing
    }
    return !in.IsMalformed();
}

void PutArg(tCommBuffer& out, u32 value) { out.PutLong(static_cast<i32>(value)); }
void PutArg(tCommBuffer& out, f64 value) { out.PutDouble(value); }
void PutArg(tCommBuffer& out, const char* text) { out.PutString(text); }
void PutArg(tCommBuffer& out, u8 flag) { out.PutByte(flag); }

i16 StatusRequest(tBasicClient& client) {
    i16 status = 0;
    client.Request(status);
    return status;
}

i16 StatusAndText(tBasicClient& client, char* out, size_t size) {
    i16 status = 0;
    if (!client.Request(status, true)) return status;
    if (status != RC_OK) return status;
    return client.Finish(status, ReadTextInto(client.GetBuffer(), out, size));
}

i16 ReadNewWorkArea(tGMLClient& client, bool withIndexes) {
    auto area = std::make_unique<tClientWorkArea>(client.GetBuffer(), client.HasShortRecords());
    const bool read = area->ReadHandle() && area->ReadStructure() && area->ReadStatus() &&
                      (!withIndexes || area->ReadIndexesIfAny());
    if (client.Finish(RC_OK, read) != RC_OK) return RC_COMM_FAILURE;
    return static_cast<i16>(client.AddWorkArea(std::move(area))->GetHandle());
}

i16 ReadMove(tGMLClient& client, tClientWorkArea& area, i16 status) {
    bool read = true;
    if (status >= 0) {
        read = area.ReadRecord() && area.ReadStatus();
    } else {
        area.ZeroRecord();
        if (status == RC_NO_RECORD) read = area.ReadStatusIfAny();
    }
    return client.Finish(status, read);
}

i32 RecnoToWire(f64 recno) {
    if (!(recno > INT32_MIN)) return recno > 0 ? INT32_MAX : INT32_MIN;  // NaN too
    if (recno >= INT32_MAX) return INT32_MAX;
    return static_cast<i32>(recno);
}

i16 GoToRecord(tGMLClient& client, tClientWorkArea& area, i32 recno) {
    client.BeginRequest(OP_GO);
    client.GetBuffer().PutShort(static_cast<i16>(area.GetHandle()));
    client.GetBuffer().PutLong(recno);
    i16 status = 0;
    if (!client.Request(status, true)) return status;
    return ReadMove(client, area, status);
}

}  // namespace gmapi
