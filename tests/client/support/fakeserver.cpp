// The scripted fake server: accepts, reads whole frames, answers by script, records what came.
#include "tests/client/support/fakeserver.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "lib_base/sockets.h"
#include "platform/socket.h"
#include "tests/client/support/wirebytes.h"
#include "tests/lib_base/support/loopback.h"

namespace gmtest {

namespace {

constexpr i32 kAcceptWaitSeconds = 10;

// One frame as the client sent it; empty when the client closed first.
std::string ReadFrame(tSocket& connection) {
    std::string header = ReadBytes(connection, 4);
    if (header.size() < 4) return {};
    u32 length = 0;
    std::memcpy(&length, header.data(), 4);
    if (length < 4) return header;
    return header + ReadBytes(connection, length - 4);
}

void SendInPieces(tSocket& connection, const std::string& bytes, size_t piece) {
    if (piece == 0) piece = bytes.size();
    for (size_t at = 0; at < bytes.size(); at += piece) {
        const size_t n = std::min(piece, bytes.size() - at);
        connection.Send(bytes.data() + at, static_cast<i32>(n), 0);
        // A pause between pieces lets each arrive by itself, so the client reassembles them.
        if (at + n < bytes.size()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

tFakeAnswer Reply(const std::string& payload, size_t piece) {
    tFakeAnswer answer;
    answer.bytes = tWire().Raw(payload).Frame();
    answer.piece = piece;
    return answer;
}

tFakeAnswer LateReply(const std::string& payload, u32 delayMs) {
    tFakeAnswer answer = Reply(payload);
    answer.delayMs = delayMs;
    return answer;
}

tFakeAnswer RawThenClose(const std::string& bytes) {
    tFakeAnswer answer;
    answer.bytes = bytes;
    answer.closeAfter = true;
    return answer;
}

tFakeAnswer Echo() {
    tFakeAnswer answer;
    answer.kind = tFakeAnswer::Kind::Echo;
    return answer;
}

tFakeAnswer Hangup() {
    tFakeAnswer answer;
    answer.kind = tFakeAnswer::Kind::Hangup;
    return answer;
}

std::vector<tFakeAnswer> AcceptTable(const char* build) {
    return {Reply(tWire().Short(0).Text("WinNT").Payload()), Reply(tWire().Text(build).Payload())};
}

tFakeServer::tFakeServer() {
    listener = ListenOnLoopback();
    if (listener) port = listener->GetPort();
}

tFakeServer::~tFakeServer() {
    if (listener) listener->Close();  // wakes an accept that still waits
    if (thread.joinable()) thread.join();
}

void tFakeServer::Run(std::vector<std::vector<tFakeAnswer>> scripts) {
    thread =
        std::thread([this, scripts = std::move(scripts)]() mutable { Serve(std::move(scripts)); });
}

std::vector<std::vector<std::string>> tFakeServer::Join() {
    if (thread.joinable()) thread.join();
    std::lock_guard<std::mutex> hold(lock);
    return received;
}

bool tFakeServer::HasPendingConnection() { return listener && listener->WaitRead(0, 0); }

void tFakeServer::Serve(std::vector<std::vector<tFakeAnswer>> scripts) {
    for (const auto& script : scripts) {
        std::unique_ptr<tSocket> connection = listener->AcceptCounted(kAcceptWaitSeconds);
        if (!connection) return;
        const int on = 1;
        connection->SetOption(plat::kIpProtoTcp, plat::kTcpNoDelay, &on, sizeof on);
        std::vector<std::string> frames;
        PlayScript(*connection, script, frames);
        // An orderly close: bytes already sent still reach the client before its end of file.
        connection->CloseSocket();
        std::lock_guard<std::mutex> hold(lock);
        received.push_back(std::move(frames));
    }
}

void tFakeServer::PlayScript(tSocket& connection, const std::vector<tFakeAnswer>& script,
                             std::vector<std::string>& frames) {
    for (const tFakeAnswer& answer : script) {
        std::string frame = ReadFrame(connection);
        if (frame.empty()) return;
        frames.push_back(frame);
        if (answer.kind == tFakeAnswer::Kind::Hangup) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
        SendInPieces(connection, answer.kind == tFakeAnswer::Kind::Echo ? frame : answer.bytes,
                     answer.piece);
        if (answer.closeAfter) return;
    }
    // Past the script: record until the client closes (a disconnect frame gets no answer).
    for (std::string frame = ReadFrame(connection); !frame.empty(); frame = ReadFrame(connection)) {
        frames.push_back(frame);
    }
}

}  // namespace gmtest
