// Exports of the monitor connection: the server's user list, traces, logs, ini values (password
// values enciphered on the wire and in the file), record locks, the connection switch and the
// diagnostic reports.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "client/exports.h"
#include "client/gatemillapi.h"
#include "lib_common/cipher.h"
#include "lib_common/commbuffer.h"
#include "lib_common/opcodes.h"

using gmapi::ReadTextInto;
using gmapi::StatusRequest;

namespace {

// The largest user list the library takes; a longer one is refused with -40.
constexpr u32 kInfoTextMax = GM_INFO_TEXT_SIZE - 1;

template <class Body>
int16_t WithManager(GM_HANDLE handle, Body&& body) {
    return gmapi::WithConnection<tManagerClient, int16_t>(handle, std::forward<Body>(body));
}

// A request of the opcode and texts whose reply is the status alone. A status above 0 is a
// count (the trace count), so it passes.
template <class... Texts>
int16_t TextRequest(GM_HANDLE handle, i16 opcode, Texts... texts) {
    return WithManager(handle, [&](tManagerClient& client) -> int16_t {
        client.BeginRequest(opcode);
        (client.GetBuffer().PutString(texts), ...);
        return StatusRequest(client);
    });
}

// A request of the opcode and texts whose reply, on 0, goes on with one text: copied into out,
// cut to size - 1 bytes and a NUL.
template <class... Texts>
int16_t TextReplyRequest(GM_HANDLE handle, char* out, size_t size, i16 opcode, Texts... texts) {
    return WithManager(handle, [&](tManagerClient& client) -> int16_t {
        client.BeginRequest(opcode);
        (client.GetBuffer().PutString(texts), ...);
        return gmapi::StatusAndText(client, out, size);
    });
}

bool IsPasswordKey(const char* key) {
    if (!key) return false;
    std::string lower(key);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "password" || lower == "guestpassword";
}

}  // namespace

int16_t GM_InfoManager(GM_HANDLE handle, char* out, int32_t* count) {
    return WithManager(handle, [&](tManagerClient& client) -> int16_t {
        client.BeginRequest(OP_INFO);
        if (!client.Transact()) return client.CommFail(RC_COMM_FAILURE);
        tCommBuffer& in = client.GetBuffer();
        i32 users = 0;
        in.GetLong(users);
        if (in.IsMalformed()) return client.CommFail(RC_COMM_FAILURE);
        if (count) *count = users;
        if (in.PeekStringLength() > kInfoTextMax) {
            // Too long for the caller's buffer: nothing is copied, and the reply is whole.
            return client.Finish(RC_INFO_TOO_LARGE, ReadTextInto(in, nullptr, 0));
        }
        return client.Finish(RC_OK, ReadTextInto(in, out, GM_INFO_TEXT_SIZE));
    });
}

int16_t GM_ErrorCountManager(GM_HANDLE) { return 0; }

int16_t GM_StartTraceManager(GM_HANDLE handle, const char* connection) {
    return TextRequest(handle, OP_STARTTRACE, connection);
}

int16_t GM_StopTraceManager(GM_HANDLE handle, const char* connection, char* out) {
    return WithManager(handle, [&](tManagerClient& client) -> int16_t {
        client.BeginRequest(OP_STOPTRACE);
        client.GetBuffer().PutString(connection);
        i16 status = 0;
        if (!client.Request(status)) return status;
        if (client.GetBuffer().GetBytesLeft() == 0 || !out) return status;
        return client.Finish(status, ReadTextInto(client.GetBuffer(), out, GM_INFO_TEXT_SIZE));
    });
}

int16_t GM_GetTraceCount(GM_HANDLE handle, const char* connection) {
    return TextRequest(handle, OP_TRACECOUNT, connection);
}

int16_t GM_GetTrace(GM_HANDLE handle, const char* connection, char* out, uint32_t number,
                    double* elapsed) {
    return WithManager(handle, [&](tManagerClient& client) -> int16_t {
        client.BeginRequest(OP_GETTRACE);
        client.GetBuffer().PutString(connection);
        client.GetBuffer().PutLong(static_cast<i32>(number));
        i16 status = 0;
        if (!client.Request(status, true)) return status;
        if (status != RC_OK) return status;
        f64 seconds = 0;
        client.GetBuffer().GetDouble(seconds);
        if (client.GetBuffer().IsMalformed()) return client.CommFail(RC_COMM_FAILURE);
        if (elapsed) *elapsed = seconds;
        const size_t size = static_cast<size_t>(std::min<u32>(number, kInfoTextMax)) + 1;
        return client.Finish(status, ReadTextInto(client.GetBuffer(), out, size));
    });
}

int16_t GM_KillUser(GM_HANDLE handle, const char* connection) {
    return TextRequest(handle, OP_KILLUSER, connection);
}

int16_t GM_ErrorLog(GM_HANDLE handle, char* out) {
    return TextReplyRequest(handle, out, GM_LOG_TEXT_SIZE, OP_READLOG);
}

int16_t GM_ClearLog(GM_HANDLE handle) { return TextRequest(handle, OP_CLEARLOG); }

int16_t GM_ReadIniString(GM_HANDLE handle, const char* section, const char* key,
                         const char* defaultValue, char* out, int32_t max) {
    return WithManager(handle, [&](tManagerClient& client) -> int16_t {
        client.BeginRequest(OP_READINISTR);
        client.GetBuffer().PutString(section);
        client.GetBuffer().PutString(key);
        i16 status = 0;
        if (!client.Request(status, true)) return status;
        if (out && max > 0) std::memset(out, 0, static_cast<size_t>(max));
        if (status != RC_OK) return status;
        tString value;
        client.GetBuffer().GetString(value);
        if (client.GetBuffer().IsMalformed()) return client.CommFail(RC_COMM_FAILURE);
        if (value.GetLength() == 0) {
            gmapi::CopyText(out, tString(defaultValue ? defaultValue : ""), max);
            return status;
        }
        gmapi::CopyText(out, value, max);
        if (out && max > 0 && IsPasswordKey(key)) {
            // Only the bytes copied, up to their NUL: nothing past the caller's buffer.
            const tCryptor cipher(kIniPasswordKeyLength, kIniPasswordKey);
            cipher.Decrypt(out, static_cast<u32>(strnlen(out, static_cast<size_t>(max))));
        }
        return status;
    });
}

int16_t GM_WriteIniString(GM_HANDLE handle, const char* section, const char* key,
                          const char* value) {
    return WithManager(handle, [&](tManagerClient& client) -> int16_t {
        std::string sent(value ? value : "");
        if (IsPasswordKey(key)) {
            const tCryptor cipher(kIniPasswordKeyLength, kIniPasswordKey);
            cipher.Encrypt(sent.data(), static_cast<u32>(sent.size()));
        }
        client.BeginRequest(OP_WRITEINISTR);
        client.GetBuffer().PutString(section);
        client.GetBuffer().PutString(key);
        client.GetBuffer().PutString(sent.c_str());
        return StatusRequest(client);
    });
}

int16_t GM_DelSection(GM_HANDLE handle, const char* section, const char* key) {
    return TextRequest(handle, OP_DELSECTION, section, key);
}

int16_t GM_ReadIniInteger(GM_HANDLE handle, const char* section, const char* key,
                          uint32_t defaultValue, uint32_t* out) {
    return WithManager(handle, [&](tManagerClient& client) -> int16_t {
        client.BeginRequest(OP_READINIINT);
        client.GetBuffer().PutString(section);
        client.GetBuffer().PutString(key);
        i16 status = 0;
        if (!client.Request(status, true)) return status;
        if (status != RC_OK) return status;
        i32 value = 0;
        client.GetBuffer().GetLong(value);
        if (client.GetBuffer().IsMalformed()) return client.CommFail(RC_COMM_FAILURE);
        if (out) *out = value == 0 ? defaultValue : static_cast<u32>(value);
        return status;
    });
}

int16_t GM_WriteIniInteger(GM_HANDLE handle, const char* section, const char* key, uint32_t value) {
    return WithManager(handle, [&](tManagerClient& client) -> int16_t {
        client.BeginRequest(OP_WRITEINIINT);
        client.GetBuffer().PutString(section);
        client.GetBuffer().PutString(key);
        client.GetBuffer().PutLong(static_cast<i32>(value));
        return StatusRequest(client);
    });
}

int16_t GM_GetLockInfo(GM_HANDLE handle, char* out, uint32_t max) {
    return WithManager(handle, [&](tManagerClient& client) -> int16_t {
        client.BeginRequest(OP_LOCKINFO);
        i16 status = 0;
        if (!client.Request(status, true)) return status;
        if (out && max > 0) std::memset(out, 0, max);
        if (status != RC_OK) return status;
        tString text;
        client.GetBuffer().GetString(text);
        if (client.GetBuffer().IsMalformed()) return client.CommFail(RC_COMM_FAILURE);
        gmapi::CopyText(out, text, static_cast<i32>(std::min<u32>(max, INT32_MAX)));
        return status;
    });
}

int16_t GM_SetConnectionEnable(GM_HANDLE handle, uint16_t enable) {
    return WithManager(handle, [&](tManagerClient& client) -> int16_t {
        client.BeginRequest(OP_SET_CONNECTION_ENABLE);
        client.GetBuffer().PutShort(static_cast<i16>(enable));
        return StatusRequest(client);
    });
}

int16_t GM_IsConnectionEnabled(GM_HANDLE handle, uint8_t* out) {
    return WithManager(handle, [&](tManagerClient& client) -> int16_t {
        client.BeginRequest(OP_IS_CONNECTION_ENABLED);
        i16 status = 0;
        if (!client.Request(status, true)) return status;
        if (status != RC_OK) return status;
        u8 enabled = 0;
        client.GetBuffer().GetByte(enabled);
        if (client.GetBuffer().IsMalformed()) return client.CommFail(RC_COMM_FAILURE);
        if (out) *out = enabled;
        return status;
    });
}

int16_t GM_DiagLog(GM_HANDLE handle, char* out) {
    return TextReplyRequest(handle, out, GM_INFO_TEXT_SIZE, OP_GETDIAGINFO);
}

int16_t GM_DiagFile(GM_HANDLE handle, const char* file, char* out) {
    return TextReplyRequest(handle, out, GM_LOG_TEXT_SIZE, OP_GETDIAGLOG, file);
}

int16_t GM_DiagMiscInfo(GM_HANDLE handle, double* memory, double* processor, int32_t* third) {
    return WithManager(handle, [&](tManagerClient& client) -> int16_t {
        client.BeginRequest(OP_DIAGMISCINFO);
        i16 status = 0;
        if (!client.Request(status, true)) return status;
        if (status != RC_OK) return status;
        tCommBuffer& in = client.GetBuffer();
        f64 first = 0, second = 0;
        i32 last = 1;  // an older server sends only the two numbers
        in.GetDouble(first);
        in.GetDouble(second);
        if (in.GetBytesLeft() > 0) in.GetLong(last);
        if (in.IsMalformed()) return client.CommFail(RC_COMM_FAILURE);
        if (memory) *memory = first;
        if (processor) *processor = second;
        if (third) *third = last;
        return status;
    });
}
