// Exports that work on a work area's local image without any request, the table-creation
// descriptor, and the service channel GM_InternalF.
#include <algorithm>
#include <cstring>

#include "client/createdesc.h"
#include "client/exports.h"
#include "client/gatemillapi.h"
#include "lib_base/toklist.h"
#include "lib_common/commbuffer.h"
#include "lib_common/opcodes.h"

using gmapi::Guarded;
using gmapi::tLocalRefusals;
using gmapi::WithLocalArea;

namespace {

constexpr size_t kFieldNameSize = 30;  // the name out-parameter of the field descriptions

// Statuses and counts: -2 for an unknown or unconnected handle, -24 for an unknown work area.
template <class R>
constexpr tLocalRefusals<R> kStatusRefusals{RC_NOT_CONNECTED, RC_NOT_CONNECTED, RC_NOT_OPEN};
// The same, but 0 for an unknown handle.
constexpr tLocalRefusals<int16_t> kQuietRefusals{0, RC_NOT_CONNECTED, RC_NOT_OPEN};
// Addresses and byte counts: 0 for all three.
template <class R>
constexpr tLocalRefusals<R> kNullRefusals{R{}, R{}, R{}};

char* AsText(u8* bytes) { return reinterpret_cast<char*>(bytes); }

// Field index from 0 into the descriptions shared by the two field-description exports.
template <class Length>
int16_t DescribeField(u32 handle, u16 wa, int16_t index, char* name, uint8_t* type, Length* length,
                      uint16_t* declared, uint16_t* decimals) {
    return WithLocalArea<int16_t>(handle, wa, kQuietRefusals, [&](tClientWorkArea& area) {
        const tClientField* field = area.GetField(index);
        if (!field) return RC_NO_SUCH_FIELD;
        const bool numeric = field->type == 'N';
        if (name) {
            const size_t n =
                std::min<size_t>(static_cast<size_t>(field->name.GetLength()), kFieldNameSize - 1);
            std::memcpy(name, field->name.GetText(), n);
            name[n] = '\0';
        }
        if (type) *type = numeric ? 'F' : field->type;
        if (length) *length = static_cast<Length>(numeric ? 8 : field->length);
        if (declared) *declared = static_cast<uint16_t>(field->length);
        if (decimals) *decimals = field->decimals;
        return RC_OK;
    });
}

}  // namespace

int32_t GM_GetTotalRecs(GM_HANDLE handle, uint16_t wa) {
    return WithLocalArea<int32_t>(handle, wa, kStatusRefusals<int32_t>,
                                  [](tClientWorkArea& area) { return area.status.recCount; });
}

int32_t GM_RecNo(GM_HANDLE handle, uint16_t wa) {
    return WithLocalArea<int32_t>(handle, wa, kStatusRefusals<int32_t>, [](tClientWorkArea& area) {
        if (area.status.eof) {
            return area.status.recCount == INT32_MAX ? INT32_MAX : area.status.recCount + 1;
        }
        return gmapi::RecnoToWire(area.recno);
    });
}

int16_t GM_Bof(GM_HANDLE handle, uint16_t wa) {
    return WithLocalArea<int16_t>(handle, wa, kStatusRefusals<int16_t>,
                                  [](tClientWorkArea& area) -> int16_t { return area.status.bof; });
}

int16_t GM_Eof(GM_HANDLE handle, uint16_t wa) {
    return WithLocalArea<int16_t>(handle, wa, kStatusRefusals<int16_t>,
                                  [](tClientWorkArea& area) -> int16_t { return area.status.eof; });
}

char* GM_GetInternalRec(GM_HANDLE handle, uint16_t wa) {
    return WithLocalArea<char*>(handle, wa, kNullRefusals<char*>,
                                [](tClientWorkArea& area) { return AsText(area.GetRecord()); });
}

char* GM_GetInternalFld(GM_HANDLE handle, uint16_t wa, const char* name) {
    return WithLocalArea<char*>(handle, wa, kNullRefusals<char*>,
                                [&](tClientWorkArea& area) -> char* {
                                    const tClientField* field = area.FindField(name);
                                    return field ? AsText(area.GetFieldAddress(*field)) : nullptr;
                                });
}

char* GM_GetInternalFldN(GM_HANDLE handle, uint16_t wa, int16_t n) {
    return WithLocalArea<char*>(handle, wa, kNullRefusals<char*>,
                                [&](tClientWorkArea& area) -> char* {
                                    const tClientField* field = area.GetField(n - 1);
                                    return field ? AsText(area.GetFieldAddress(*field)) : nullptr;
                                });
}

char* GM_GetIsNull(GM_HANDLE handle, uint16_t wa, int16_t n) {
    return WithLocalArea<char*>(handle, wa, kNullRefusals<char*>, [&](tClientWorkArea& area) {
        return AsText(area.GetNullFlag(n - 1));
    });
}

int32_t GM_SetInternalFld(GM_HANDLE handle, uint16_t wa, const char* name, const void* value) {
    return WithLocalArea<int32_t>(handle, wa, kNullRefusals<int32_t>,
                                  [&](tClientWorkArea& area) -> int32_t {
                                      const tClientField* field = area.FindField(name);
                                      return field ? area.WriteField(*field, value) : 0;
                                  });
}

int32_t GM_SetInternalFldN(GM_HANDLE handle, uint16_t wa, int16_t n, const void* value) {
    return WithLocalArea<int32_t>(handle, wa, kNullRefusals<int32_t>,
                                  [&](tClientWorkArea& area) -> int32_t {
                                      const tClientField* field = area.GetField(n - 1);
                                      return field ? area.WriteField(*field, value) : 0;
                                  });
}

int16_t GM_InitRecord(GM_HANDLE handle, uint16_t wa, int32_t) {
    return WithLocalArea<int16_t>(handle, wa, kQuietRefusals, [](tClientWorkArea& area) {
        area.ZeroRecord();
        return RC_OK;
    });
}

int16_t GM_GetColCount(GM_HANDLE handle, uint16_t wa) {
    return WithLocalArea<int16_t>(handle, wa, kQuietRefusals, [](tClientWorkArea& area) {
        return static_cast<int16_t>(area.GetFieldCount());
    });
}

int16_t GM_GetFieldDesc(GM_HANDLE handle, uint16_t wa, int16_t index, char* name, uint8_t* type,
                        uint32_t* length, uint16_t* declared, uint16_t* decimals) {
    return DescribeField(handle, wa, index, name, type, length, declared, decimals);
}

int16_t GM_GetGeneralFldDesc(GM_HANDLE handle, uint16_t wa, int16_t index, char* name,
                             uint8_t* type, uint16_t* length, uint16_t* declared,
                             uint16_t* decimals) {
    return DescribeField(handle, wa, index, name, type, length, declared, decimals);
}

int16_t GM_GetKeyNames(GM_HANDLE handle, uint16_t wa, char* out) {
    return WithLocalArea<int16_t>(handle, wa, kStatusRefusals<int16_t>, [&](tClientWorkArea& area) {
        const tString& names = area.GetIndexNames();
        if (out) std::memcpy(out, names.GetText(), static_cast<size_t>(names.GetLength()) + 1);
        return static_cast<int16_t>(tTokList(names.GetText(), ",").Count());
    });
}

int16_t GM_GetKeys(GM_HANDLE handle, uint16_t wa, char* out, int16_t n) {
    return WithLocalArea<int16_t>(
        handle, wa, kStatusRefusals<int16_t>, [&](tClientWorkArea& area) -> int16_t {
            tTokList keys(area.GetIndexKeys().GetText(), ";");
            tIterator<tString> it(&keys);
            for (i32 i = 0; i < n - 2 && it.Current(); ++i) it.Next();
            const tString* key = n >= 2 ? it.Current() : nullptr;
            if (!key) {
                if (out) out[0] = '\0';
                return RC_BAD_INDEX;
            }
            if (out) {
                std::memcpy(out, key->GetText(), static_cast<size_t>(key->GetLength()) + 1);
            }
            return RC_OK;
        });
}

GM_HANDLE GM_GetCreateStruct(int16_t count, uint8_t flag1, uint8_t flag2) {
    return Guarded<GM_HANDLE>(nullptr, 0, [&]() -> GM_HANDLE {
        if (count < 0) return 0;
        return AddHandle(std::make_shared<tCreateDescriptor>(count, flag1, flag2));
    });
}

void* GM_SetCreateField(GM_HANDLE descriptor, int16_t n, const char* name, uint8_t type,
                        uint16_t size, uint16_t width, uint16_t decimals) {
    return Guarded<void*>(nullptr, nullptr, [&]() -> void* {
        auto target = FindHandleOf<tCreateDescriptor>(descriptor);
        if (!target) return nullptr;
        return target->SetField(n, name, type, size, width, decimals);
    });
}

int32_t GM_InternalF(GM_HANDLE handle, uint8_t subcode, char* buffer, int16_t length, int16_t max) {
    return gmapi::WithTable<int32_t>(handle, [&](tGMLClient& client) -> int32_t {
        const i16 sent = buffer && length > 0 ? length : 0;
        client.BeginRequest(OP_INTERNALF);
        tCommBuffer& io = client.GetBuffer();
        if (client.IsISeries()) {
            io.PutShort(subcode);
        } else {
            io.PutByte(subcode);
        }
        io.PutShort(sent);
        if (sent > 0) io.PutBytes(buffer, static_cast<size_t>(sent));
        // The answer has no status word: it is one text.
        tString answer;
        if (!gmapi::ReadTextReply(client, answer)) return RC_COMM_FAILURE;
        gmapi::CopyText(buffer, answer, max);
        return answer.GetLength() + 1;
    });
}
