// tSockConn: attaching the accepted socket, sending texts, refusing, and the peer queries.
#include "lib_base/sockconn.h"

#include <cstring>
#include <vector>

#include "platform/socket.h"

namespace {

const char kConnectOkText[] = "Connect Successful ... Now Disconnecting.";
const char kRefuseText[] = "Too Many Connections, Please Try Later.";

i32 TextLength(const char* text) { return text ? static_cast<i32>(std::strlen(text)) : 0; }

}  // namespace

u32 tSockConn::Attach(std::unique_ptr<tSocket> socket, tSockServer* acceptedBy) {
    HoldSocket(socket.release(), true);
    server = acceptedBy;
    SetSendTimeout(kAttachTimeoutMs);
    SetRecvTimeout(kAttachTimeoutMs);
    sendBufferSize = GetSendBufferSize();
    return sendBufferSize;
}

i32 tSockConn::SendText(const char* text, i32 length, i32 flags) {
    if (length < 0) length = TextLength(text);
    if (length == 0) return 0;
    return Send(text, length, flags);
}

i32 tSockConn::SendLines(const char* text, i32 length, i32 pieceSize) {
    if (length < 1) length = TextLength(text);
    if (pieceSize < 1) pieceSize = length;
    std::vector<char> line;
    i32 total = 0;
    for (i32 pos = 0; pos < length; pos += pieceSize) {
        i32 piece = length - pos < pieceSize ? length - pos : pieceSize;
        // The piece and its line end go out in one send.
        line.assign(text + pos, text + pos + piece);
        line.push_back('\r');
        line.push_back('\n');
        i32 sent = SendText(line.data(), static_cast<i32>(line.size()), 0);
        if (sent < 1) return sent;
        total += sent;
    }
    return total;
}

i32 tSockConn::SendConnectOk() { return SendText(kConnectOkText, -1, 0); }

i32 tSockConn::Execute() {
    SendConnectOk();
    return 0;
}

void tSockConn::Terminate(u8 force) {
    if (!IsTerminated()) tThreadBase::Terminate(force);
    // A forced stop also wakes the serving thread from its wait for the next request: the
    // receive ends as at the end of the stream and the thread leaves by its usual end, instead
    // of sleeping out the idle wait while the process shuts down.
    if (force) Shutdown(plat::kShutRead);
}

i32 tSockConn::RefuseConnection() {
    char first[kReadChunkBytes];
    i32 got = Recv(first, kReadChunkBytes);
    if (got < 1) return got;
    return SendText(kRefuseText, -1, 0);
}

i32 tSockConn::SetTimeout(i32 option, i32 ms, i32& field) {
    u32 value = static_cast<u32>(ms);
    if (!SetOption(plat::kSolSocket, option, &value, sizeof value)) return GetLastError();
    field = ms;
    return 0;
}

i32 tSockConn::SetRecvTimeout(i32 ms) { return SetTimeout(plat::kSoRcvTimeo, ms, recvTimeout); }

i32 tSockConn::SetSendTimeout(i32 ms) { return SetTimeout(plat::kSoSndTimeo, ms, sendTimeout); }

i32 tSockConn::SetNonBlocking(u32 on) {
    nonBlocking = on ? 1 : 0;
    return tSocketAPI::SetNonBlocking(on);
}

bool tSockConn::HasInput() {
    u32 waiting = 0;
    return IoCtl(plat::kIoBytesReadable, &waiting) && waiting > 0;
}

i32 tSockConn::DrainInput() {
    char sink[kReadChunkBytes];
    while (HasInput()) {
        if (Recv(sink, kReadChunkBytes) < 1) break;
    }
    return 0;
}

u32 tSockConn::GetBufferSize(i32 option) {
    i32 bytes = 0;
    i32 length = sizeof bytes;
    if (!GetOption(plat::kSolSocket, option, &bytes, &length) || bytes < 0) return 0;
    return static_cast<u32>(bytes);
}

u32 tSockConn::GetSendBufferSize() { return GetBufferSize(plat::kSoSndBuf); }

u32 tSockConn::GetRecvBufferSize() { return GetBufferSize(plat::kSoRcvBuf); }

i32 tSockConn::SetRecvBufferSize(u32 bytes) {
    i32 value = static_cast<i32>(bytes);
    return SetOption(plat::kSolSocket, plat::kSoRcvBuf, &value, sizeof value) ? 0 : GetLastError();
}

i32 tSockConn::SetSendBufferSizeField(u32 bytes) {
    sendBufferSize = bytes;
    return 0;
}

i32 tSockConn::CopyResult(const char* text, char* buffer, i32 size) {
    size_t length = std::strlen(text);
    if (!buffer || size < 1 || length > static_cast<size_t>(size) - 1) {
        return ResultCode(kSockConnTooLong);
    }
    std::memcpy(buffer, text, length + 1);
    return ResultCode(kSockConnOk);
}

i32 tSockConn::GetPeerHostName(char* buffer, i32 size) {
    tString name;
    if (!GetHostByAddr(plat::kAfInet, name)) return ResultCode(kSockConnNoEntry);
    return CopyResult(name, buffer, size);
}

i32 tSockConn::GetPeerAddress(char* buffer, i32 size) {
    tString address;
    GetAddressText(address);
    if (address.GetLength() == 0) return ResultCode(kSockConnNoEntry);
    return CopyResult(address, buffer, size);
}

i32 tSockConn::GetAddressName(const char* address, char* buffer, i32 size) {
    u32 addr = 0;
    char name[1025];
    if (!plat::ParseIPv4(address, &addr) || plat::NameOfIPv4(addr, name, sizeof name) != 0) {
        return ResultCode(kSockConnNameNotFound);
    }
    return CopyResult(name, buffer, size);
}

i32 tSockConn::ResolveUserHost(const char* text, char* buffer, i32 size) {
    const char* at = text ? std::strrchr(text, '@') : nullptr;
    const char* host = at ? at + 1 : text;
    u32 addr = 0;
    if (!host || !*host || plat::ResolveIPv4(host, &addr) != 0) {
        return ResultCode(kSockConnNoEntry);
    }
    char dotted[16];
    plat::FormatIPv4(addr, dotted, sizeof dotted);
    return CopyResult(dotted, buffer, size);
}
