// Connections: the handshakes of the five kinds, Transact over the frame buffer's checked
// receipt, communication failures and disconnection.
#include "client/clientconn.h"

#include <cstring>

#include "lib_base/gmlassert.h"
#include "lib_base/misc.h"
#include "lib_base/sockets.h"
#include "lib_common/commbuffer.h"
#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "platform/procinfo.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace {

// The connect magics, NUL-terminated on the wire.
const char kGmlMagic[] =
    "\xAE"
    "GML"
    "\xAE";
const char kAuditMagic[] =
    "\xAE"
    "ADT"
    "\xAE";

constexpr i32 kConnectAttempts = 10;
constexpr u32 kConnectRetryMs = 1000;
constexpr u32 kEmptyReplyRetryMs = 500;
constexpr u32 kConnectReplyChunk = 65536;
constexpr u32 kReplyChunk = 8192;
// Every reply holds at least one payload byte; a connect reply at least its status word.
constexpr u32 kMinReplyLength = tCommBuffer::kHeaderSize + 1;
constexpr u32 kMinConnectReplyLength = tCommBuffer::kHeaderSize + 2;
// The user and computer names of a connect packet come from 100-byte buffers.
constexpr i32 kNameSize = 100;

tClientEnvironment defaultEnvironment;

// Hands the frame buffer what the socket receives, counting it.
class tSocketSource : public tByteSource {
public:
    explicit tSocketSource(tSocket& socket) : socket(socket) {}
    i64 Receive(void* dst, u32 maxBytes, bool) override {
        const i32 n = socket.Recv(dst, static_cast<i32>(maxBytes));
        if (n > 0) received += static_cast<u64>(n);
        return n;
    }
    u64 received = 0;

private:
    tSocket& socket;
};

}  // namespace

void tClientEnvironment::Sleep(u32 ms) { plat::Sleep(ms); }

tString tClientEnvironment::UserName() { return tString(plat::UserName().c_str()); }

tString tClientEnvironment::ComputerName() { return tString(plat::ComputerName().c_str()); }

// ---- base connection ---------------------------------------------------------------------------

tBasicClient::tBasicClient(u16 port)
    : port(port == 0 ? kDefaultPort : port),
      buffer(std::make_unique<tCommBuffer>()),
      environment(&defaultEnvironment) {}

tBasicClient::~tBasicClient() = default;

void tBasicClient::SetEnvironment(tClientEnvironment* replacement) {
    environment = replacement ? replacement : &defaultEnvironment;
}

void tBasicClient::BeginRequest(i16 opcode) {
    buffer->Reset();
    buffer->PutShort(opcode);
}

bool tBasicClient::Transact() {
    GML_ASSERT(buffer->GetFrameLength() > tCommBuffer::kHeaderSize, "request without opcode");
    exchanging = true;
    if (!socket) return false;
    const i32 length = static_cast<i32>(buffer->GetFrameLength());
    if (socket->Send(buffer->GetFrame(), length, 0) != length) return false;
    u64 received = 0;
    return ReceiveReply(kReplyChunk, kMinReplyLength, received);
}

bool tBasicClient::ReceiveReply(u32 chunk, u32 minLength, u64& bytesReceived) {
    tSocketSource source(*socket);
    const tReceiveStatus status = buffer->ReceiveFrame(source, chunk, minLength);
    bytesReceived = source.received;
    return status == tReceiveStatus::Received;
}

bool tBasicClient::Request(i16& status, bool withBody) {
    status = RC_COMM_FAILURE;
    if (!Transact()) {
        CommFail(RC_COMM_FAILURE);
        return false;
    }
    return ReadReplyStatus(status, withBody);
}

bool tBasicClient::ReadReplyStatus(i16& status, bool withBody) {
    i16 code = 0;
    buffer->GetShort(code);
    // The server never sends the library's own codes, so a reply holding one is not a reply.
    if (buffer->IsMalformed() || code == RC_NOT_CONNECTED || code == RC_COMM_FAILURE ||
        (withBody && code > 0)) {
        status = CommFail(RC_COMM_FAILURE);
        return false;
    }
    status = code;
    return true;
}

i16 tBasicClient::Finish(i16 status, bool consistent) {
    if (!consistent || buffer->IsMalformed()) return CommFail(RC_COMM_FAILURE);
    return status;
}

i16 tBasicClient::CommFail(i16 code) {
    socket.reset();
    connected = false;
    return code;
}

i16 tBasicClient::GetServerBuild(tString& build) {
    if (!connected) return RC_NOT_CONNECTED;
    BeginRequest(OP_BUILD);
    if (!Transact()) return CommFail(RC_COMM_FAILURE);
    char text[kServerTextSize];
    buffer->GetText(text, sizeof text);
    if (buffer->IsMalformed()) return CommFail(RC_COMM_FAILURE);
    build = text;
    return RC_OK;
}

void tBasicClient::Disconnect() {
    if (!connected) return;
    BeginRequest(OP_DISCONNECT);
    const i32 length = static_cast<i32>(buffer->GetFrameLength());
    socket->Send(buffer->GetFrame(), length, 0);  // the server ends without a reply
    CommFail(RC_OK);
}

// ---- handshake pieces --------------------------------------------------------------------------

void tBasicClient::NewSocket(const char* host) {
    socket.reset();
    socket = std::make_unique<tSocket>(plat::kAfInet, host, port, plat::kSockStream);
}

bool tBasicClient::ConnectSocket() {
    return socket->Connect() && SetReplyLimit(environment->HandshakeReplyLimitMs());
}

bool tBasicClient::SetReplyLimit(u32 ms) {
    return socket->SetOption(plat::kSolSocket, plat::kSoRcvTimeo, &ms, sizeof ms);
}

bool tBasicClient::OpenSocket(const char* host) {
    NewSocket(host);
    if (ConnectSocket()) return true;
    CommFail(RC_NOT_CONNECTED);
    return false;
}

void tBasicClient::BeginConnectPacket(const char* magic, char kind) {
    exchanging = true;
    buffer->Reset();
    buffer->PutString(magic);
    buffer->PutByte(IsLittleEndian() ? '1' : '0');
    buffer->PutByte(static_cast<u8>(kind));
}

void tBasicClient::PutUserAndComputer() {
    buffer->PutTString(tString(environment->UserName().GetText(), kNameSize));
    buffer->PutTString(tString(environment->ComputerName().GetText(), kNameSize));
}

bool tBasicClient::SendConnectPacket() {
    const i32 length = static_cast<i32>(buffer->GetFrameLength());
    return socket->Send(buffer->GetFrame(), length, 0) == length;
}

tBasicClient::tReplyResult tBasicClient::ReceiveConnectReply() {
    u64 received = 0;
    if (ReceiveReply(kConnectReplyChunk, kMinConnectReplyLength, received)) {
        return tReplyResult::Received;
    }
    // A server that stays silent past the limit is not asked again: each new cycle would wait
    // as long once more.
    if (received == 0 && socket->GetLastError() != plat::kSockTimedOut) {
        return tReplyResult::Nothing;
    }
    return tReplyResult::Bad;
}

i16 tBasicClient::ExchangeConnectPacket(const tHandshakeReply& layout) {
    if (!SendConnectPacket() || ReceiveConnectReply() != tReplyResult::Received) {
        return CommFail(RC_NOT_CONNECTED);
    }
    return ReadConnectReply(layout);
}

i16 tBasicClient::ReadConnectReply(const tHandshakeReply& layout) {
    i16 status = 0;
    buffer->GetShort(status);
    if (buffer->IsMalformed()) return CommFail(RC_NOT_CONNECTED);
    connected = status == RC_OK;
    if (!connected) return status;
    if (layout.serverTexts) {
        char text[kServerTextSize];
        buffer->GetText(text, sizeof text);
        serverType = text;
        iSeries = serverType == "iSeries";
        // The manager's reply may add the server info.
        if (layout.serverInfo && buffer->GetBytesLeft() > 0) {
            buffer->GetText(text, sizeof text);
            serverInfo = text;
        }
        if (buffer->IsMalformed()) return CommFail(RC_NOT_CONNECTED);
    }
    const i16 result = layout.buildCheck ? CheckServerBuild() : RC_OK;
    if (result != RC_OK) return result;
    // Only the handshake is bounded: a later request may run as long as the server needs.
    if (!SetReplyLimit(0)) return CommFail(RC_NOT_CONNECTED);
    return RC_OK;
}

i16 tBasicClient::CheckServerBuild() {
    tString build;
    if (GetServerBuild(build) != RC_OK) return CommFail(RC_NOT_CONNECTED);
    if (LeadingInt(build.GetText()) < kMinServerBuild) {
        Disconnect();
        return RC_OLD_SERVER;
    }
    return RC_OK;
}

// ---- the five kinds ----------------------------------------------------------------------------

tGMLClient::~tGMLClient() = default;

i16 tGMLClient::Connect(const char* host, const char* string1, const char* string2) {
    return ConnectMode(host, string1, string2, 1);
}

i16 tGMLClient::ConnectMode(const char* host, const char* string1, const char* string2, u8 mode) {
    connectMode = mode;
    // One count of socket connect attempts serves every cycle, so a server that accepts and
    // then answers nothing is tried as often as one that refuses.
    i32 attempts = 0;
    for (;;) {
        NewSocket(host);
        bool up = false;
        while (attempts++ < kConnectAttempts) {
            if (ConnectSocket()) {
                up = true;
                break;
            }
            Environment().Sleep(kConnectRetryMs);
        }
        if (!up) return CommFail(RC_NOT_CONNECTED);
        BeginConnectPacket(kGmlMagic, '0');
        GetBuffer().PutString(string1);
        GetBuffer().PutString(string2);
        PutUserAndComputer();
        GetBuffer().PutByte(mode == 1 ? '0' : '1');
        if (!SendConnectPacket()) return CommFail(RC_NOT_CONNECTED);
        const tReplyResult reply = ReceiveConnectReply();
        if (reply == tReplyResult::Received) break;
        if (reply == tReplyResult::Bad) return CommFail(RC_NOT_CONNECTED);
        Environment().Sleep(kEmptyReplyRetryMs);
    }
    return ReadConnectReply({true, false, true});
}

i16 tManagerClient::Connect(const char* host, const char*, const char*) {
    if (!OpenSocket(host)) return RC_NOT_CONNECTED;
    BeginConnectPacket(kGmlMagic, '1');
    return ExchangeConnectPacket({true, true, true});
}

i16 tLockClient::Connect(const char* host, const char*, const char*) {
    if (!OpenSocket(host)) return RC_NOT_CONNECTED;
    BeginConnectPacket(kGmlMagic, '2');
    return ExchangeConnectPacket({false, false, false});
}

i16 tAuditClient::Connect(const char* host, const char* caller, const char*) {
    if (!OpenSocket(host)) return RC_NOT_CONNECTED;
    BeginConnectPacket(kAuditMagic, kind);
    PutUserAndComputer();
    GetBuffer().PutString(caller);
    return ExchangeConnectPacket({false, false, false});
}

// ---- work areas and statement words ------------------------------------------------------------

tClientWorkArea* tGMLClient::FindWorkArea(u16 handle) {
    for (const auto& area : workAreas) {
        if (area->GetHandle() == handle) return area.get();
    }
    return nullptr;
}

tClientWorkArea* tGMLClient::AddWorkArea(std::unique_ptr<tClientWorkArea> area) {
    RemoveWorkArea(area->GetHandle());
    workAreas.push_back(std::move(area));
    return workAreas.back().get();
}

void tGMLClient::RemoveWorkArea(u16 handle) {
    for (auto it = workAreas.begin(); it != workAreas.end(); ++it) {
        if ((*it)->GetHandle() == handle) {
            workAreas.erase(it);
            return;
        }
    }
}

bool tGMLClient::ReadStatementWords() {
    if (connectMode != 0) return true;
    i32 words[3] = {0, 0, 0};
    for (i32& word : words) GetBuffer().GetLong(word);
    if (GetBuffer().IsMalformed()) return false;
    std::memcpy(statementWords, words, sizeof words);
    return true;
}

void tGMLClient::CopyStatementWords(void* block) const {
    if (!block) return;
    u8* bytes = static_cast<u8*>(block);
    std::memcpy(bytes, &statementWords[0], 4);
    std::memcpy(bytes + 88, &statementWords[1], 4);
    std::memcpy(bytes + 92, &statementWords[2], 4);
}
