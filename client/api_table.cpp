// Exports of transactions, server-wide requests, errors, and tables and indexes: each builds
// its request, runs one exchange and reads its reply into the work area.
#include "client/createdesc.h"
#include "client/exports.h"
#include "client/gatemillapi.h"
#include "lib_base/toklist.h"
#include "lib_common/commbuffer.h"
#include "lib_common/opcodes.h"

using gmapi::WithTable;
using gmapi::WithWorkArea;

namespace {

// A request of the opcode and texts; the reply is the status alone.
template <class... Texts>
int16_t TextRequest(GM_HANDLE handle, i16 opcode, Texts... texts) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        client.BeginRequest(opcode);
        (client.GetBuffer().PutString(texts), ...);
        i16 status = 0;
        client.Request(status);
        return status;
    });
}

// A request of the opcode and the work area's number; the reply is the status alone.
int16_t AreaRequest(GM_HANDLE handle, uint16_t wa, i16 opcode) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea&) -> int16_t {
        client.BeginRequest(opcode);
        client.GetBuffer().PutShort(static_cast<i16>(wa));
        i16 status = 0;
        client.Request(status);
        return status;
    });
}

// Status, then the error text when the status is not 0 and the reply holds one.
int16_t ErrorRequest(GM_HANDLE handle, i16 opcode, char* out, uint16_t max) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        client.BeginRequest(opcode);
        i16 status = 0;
        if (!client.Request(status)) return status;
        tString text;
        if (status != 0 && client.GetBuffer().GetBytesLeft() > 0) {
            client.GetBuffer().GetString(text);
        }
        if (status != 0 && out && max > 0) out[0] = '\0';
        gmapi::CopyText(out, text, max);
        return client.Finish(status);
    });
}

// Sets a work-area setting that the server keeps: nothing is sent when the server already has
// value; the setting is remembered once the server has accepted it.
template <class Setting, class Put>
int16_t SettingRequest(GM_HANDLE handle, uint16_t wa, i16 opcode, Setting tClientWorkArea::*kept,
                       Setting value, Put put) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea& area) -> int16_t {
        if (area.*kept == value) return RC_OK;
        client.BeginRequest(opcode);
        client.GetBuffer().PutShort(static_cast<i16>(wa));
        put(client.GetBuffer());
        i16 status = 0;
        if (client.Request(status) && status == RC_OK) area.*kept = value;
        return status;
    });
}

int16_t SetOrder(GM_HANDLE handle, uint16_t wa, i32 order) {
    return SettingRequest(handle, wa, OP_SETKEY, &tClientWorkArea::keySetting, order,
                          [&](tCommBuffer& out) { out.PutShort(static_cast<i16>(order)); });
}

// The position from 1 of name among the comma-separated index names; 0 when absent.
i32 IndexPosition(const tString& names, const char* name) {
    if (!name) return 0;
    tTokList list(names.GetText(), ",");
    tIterator<tString> it(&list);
    i32 position = 1;
    for (const tString* item = it.Next(); item; item = it.Next(), ++position) {
        if (SameText(item->GetText(), name)) return position;
    }
    return 0;
}

}  // namespace

// ---- transactions and server-wide requests -----------------------------------------------------

int16_t GM_StrCmtCtl(GM_HANDLE handle) { return TextRequest(handle, OP_STRCMTCTL); }
int16_t GM_EndCmtCtl(GM_HANDLE handle) { return TextRequest(handle, OP_ENDCMTCTL); }
int16_t GM_Commit(GM_HANDLE handle, uint32_t) { return TextRequest(handle, OP_COMMIT); }
int16_t GM_Rollbk(GM_HANDLE handle) { return TextRequest(handle, OP_ROLLBACK); }

int16_t GM_CreateFile(GM_HANDLE handle, const char* table, GM_HANDLE descriptor) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        auto fields = FindHandleOf<tCreateDescriptor>(descriptor);
        if (!fields) return RC_NOT_CONNECTED;
        client.BeginRequest(OP_CREATEFILE);
        client.GetBuffer().PutString(table);
        fields->PutFields(client.GetBuffer());
        i16 status = 0;
        // Freed once answered; after a failed exchange the caller still holds it.
        if (client.Request(status)) RemoveHandle(descriptor);
        return status;
    });
}

int16_t GM_DeleteFile(GM_HANDLE handle, const char* table) {
    return TextRequest(handle, OP_DELETEFILE, table);
}

int16_t GM_CanOpen(GM_HANDLE handle, const char* table, const char* second) {
    return TextRequest(handle, OP_CANOPEN, table, second);
}

int16_t GM_Refresh(GM_HANDLE handle, const char* table) {
    return TextRequest(handle, OP_REFRESHFILE, table);
}

int16_t GM_SPExist(GM_HANDLE handle, const char* procedure) {
    return TextRequest(handle, OP_SPEXIST, procedure);
}

int16_t GM_DummyMode(GM_HANDLE handle, uint8_t on) {
    return TextRequest(handle, OP_SETDUMMY, on ? "*ON" : "*OFF");
}

int16_t GM_AlterFile(GM_HANDLE handle, const char* first, const char* second, const char* third) {
    return TextRequest(handle, OP_ALTERFILE, first, second, third);
}

int16_t GM_SetParam(GM_HANDLE handle, const char* name, const char* value) {
    return TextRequest(handle, OP_SETPARAM, name, value);
}

int16_t GM_Unique(GM_HANDLE handle, const char* first, const char* second) {
    return TextRequest(handle, OP_UNIQUE, first, second);
}

// ---- errors and session ------------------------------------------------------------------------

int16_t GM_GetError(GM_HANDLE handle, char* out, uint16_t max) {
    return ErrorRequest(handle, OP_GETERROR, out, max);
}

int16_t GM_GetNativeError(GM_HANDLE handle, char* out, uint16_t max) {
    return ErrorRequest(handle, OP_GETNATIVEERROR, out, max);
}

int32_t GM_GetSID(GM_HANDLE handle) {
    return WithTable<int32_t>(handle, [&](tGMLClient& client) -> int32_t {
        client.BeginRequest(OP_GETSID);
        if (!client.Transact()) return client.CommFail(RC_COMM_FAILURE);
        i32 sid = 0;  // no status word: the id alone
        client.GetBuffer().GetLong(sid);
        return client.Finish(RC_OK) == RC_OK ? sid : RC_COMM_FAILURE;
    });
}

int32_t GM_GetDBSID(GM_HANDLE handle, char* out, uint16_t max) {
    return WithTable<int32_t>(handle, [&](tGMLClient& client) -> int32_t {
        client.BeginRequest(OP_GETDBSID);
        tString sid;
        if (!gmapi::ReadTextReply(client, sid)) return RC_COMM_FAILURE;
        gmapi::CopyText(out, sid, max);
        return sid.GetLength() + 1;
    });
}

// ---- tables and indexes ------------------------------------------------------------------------

int16_t GM_Open(GM_HANDLE handle, const char* table, uint8_t readOnly, uint8_t exclusive) {
    return WithTable<int16_t>(handle, [&](tGMLClient& client) -> int16_t {
        client.BeginRequest(OP_OPEN);
        client.GetBuffer().PutString(table);
        client.GetBuffer().PutByte(readOnly);
        client.GetBuffer().PutByte(exclusive);
        i16 status = 0;
        if (!client.Request(status, true) || status < 0) return status;
        return gmapi::ReadNewWorkArea(client, true);
    });
}

int16_t GM_JustClose(GM_HANDLE handle, uint16_t wa) {
    return AreaRequest(handle, wa, OP_JUSTCLOSE);
}

int16_t GM_Close(GM_HANDLE handle, uint16_t wa) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea& area) -> int16_t {
        // A prepared statement of a GM_Connect connection closes only its cursor: it is bound
        // and run again later.
        const bool keep = area.prepared && client.HasShortRecords();
        if (!keep) client.RemoveWorkArea(wa);  // gone even when the reply is lost
        client.BeginRequest(keep ? OP_JUSTCLOSE : OP_CLOSE);
        client.GetBuffer().PutShort(static_cast<i16>(wa));
        i16 status = 0;
        client.Request(status);
        return status;
    });
}

int16_t GM_Clear(GM_HANDLE handle, uint16_t wa) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea& area) -> int16_t {
        client.BeginRequest(OP_CLEAR);
        client.GetBuffer().PutShort(static_cast<i16>(wa));
        i16 status = 0;
        if (!client.Request(status, true)) return status;
        area.ZeroRecord();
        const bool read = status >= 0 ? area.ReadStatus() : area.ReadStatusIfAny();
        return client.Finish(status, read);
    });
}

int16_t GM_Pack(GM_HANDLE handle, uint16_t wa) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea& area) -> int16_t {
        client.BeginRequest(OP_PACK);
        client.GetBuffer().PutShort(static_cast<i16>(wa));
        i16 packed = 0;
        if (!client.Request(packed)) return packed;
        // The current record may be gone: read it again. Only a lost connection counts here.
        const i16 reread = gmapi::GoToRecord(client, area, gmapi::RecnoToWire(area.recno));
        if (reread == RC_COMM_FAILURE) return reread;
        return packed < 0 ? packed : RC_OK;
    });
}

int16_t GM_CreateIndex(GM_HANDLE handle, uint16_t wa, const char* name, const char* key) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea& area) -> int16_t {
        client.BeginRequest(OP_CREATEINDEX);
        client.GetBuffer().PutShort(static_cast<i16>(wa));
        client.GetBuffer().PutString(name);
        client.GetBuffer().PutString(key);
        i16 status = 0;
        if (!client.Request(status, true)) return status;
        return client.Finish(status, status != RC_OK || area.ReadIndexes());
    });
}

int16_t GM_SetKey(GM_HANDLE handle, uint16_t wa, int16_t index) {
    return SetOrder(handle, wa, index - 1);
}

int16_t GM_SetKeyC(GM_HANDLE handle, uint16_t wa, const char* name) {
    i32 position = 0;
    const int16_t found =
        gmapi::WithLocalArea<int16_t>(handle, wa, {RC_NOT_CONNECTED, RC_NOT_CONNECTED, RC_NOT_OPEN},
                                      [&](tClientWorkArea& area) -> int16_t {
                                          position = IndexPosition(area.GetIndexNames(), name);
                                          return position > 0 ? RC_OK : RC_BAD_INDEX;
                                      });
    if (found != RC_OK) return found;
    return SetOrder(handle, wa, position);
}

int16_t GM_SrvMap(GM_HANDLE handle, uint16_t wa, const char* map) {
    return WithWorkArea(handle, wa, [&](tGMLClient& client, tClientWorkArea&) -> int16_t {
        client.BeginRequest(OP_SETFIELDMAP);
        client.GetBuffer().PutShort(static_cast<i16>(wa));
        client.GetBuffer().PutString(map);
        i16 status = 0;
        client.Request(status);
        return status;
    });
}

int16_t GM_SetDeleted(GM_HANDLE handle, uint16_t wa, int16_t setting) {
    const u8 hide = setting != 0 ? 1 : 0;
    return SettingRequest(handle, wa, OP_SETDELEON, &tClientWorkArea::deletedSetting, hide,
                          [&](tCommBuffer& out) { out.PutByte(hide); });
}
