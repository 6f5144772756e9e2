// Exports of filters: the plain filter, which reads the current record again under the new
// condition, and the further filter levels.
#include "client/exports.h"
#include "client/gatemillapi.h"
#include "lib_common/commbuffer.h"
#include "lib_common/opcodes.h"

using gmapi::WithWorkArea;

namespace {

constexpr uint16_t kWholeCondition = 0;
constexpr uint16_t kPartialCondition = 1;
constexpr uint16_t kNotTold = 2;

// The plain filter request. Its reply: the record after 0 (the buffer zeroed otherwise), then the
// status block and the translated byte, both only when the reply carries them (-10 comes alone).
int16_t ChangeQuery(GM_HANDLE handle, uint16_t wa, const char* condition, uint16_t* partial) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea& area) -> int16_t {
        if (partial) *partial = kNotTold;
        client.BeginRequest(OP_FILTER);
        tCommBuffer& buffer = client.GetBuffer();
        buffer.PutShort(static_cast<i16>(wa));
        buffer.PutString(condition);
        i16 status = 0;
        if (!client.Request(status, true)) return status;
        bool read = true;
        if (status == RC_OK) {
            read = area.ReadRecord() && area.ReadStatus();
        } else {
            area.ZeroRecord();
            read = area.ReadStatusIfAny();
        }
        u8 whole = 1;
        const bool told = read && buffer.GetBytesLeft() > 0;
        if (told) buffer.GetByte(whole);
        const i16 code = client.Finish(status, read);
        if (code == RC_COMM_FAILURE) return code;
        if (partial && told) *partial = whole == 0 ? kPartialCondition : kWholeCondition;
        return status == RC_FAILED ? RC_FAILED : RC_OK;
    });
}

}  // namespace

int16_t GM_ChgQuery(GM_HANDLE handle, uint16_t wa, const char* condition) {
    return ChangeQuery(handle, wa, condition, nullptr);
}

int16_t GM_ChgQueryEx(GM_HANDLE handle, uint16_t wa, const char* condition, uint16_t* partial) {
    return ChangeQuery(handle, wa, condition, partial);
}

int16_t GM_FilterEx(GM_HANDLE handle, uint16_t wa, uint16_t level, const char* condition) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea&) -> int16_t {
        client.BeginRequest(OP_FILTEREX);
        tCommBuffer& buffer = client.GetBuffer();
        buffer.PutShort(static_cast<i16>(wa));
        buffer.PutShort(static_cast<i16>(level));
        buffer.PutString(condition);
        i16 status = 0;
        client.Request(status);
        return status;
    });
}
