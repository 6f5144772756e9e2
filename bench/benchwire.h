// What the benchmarks over loopback share: the ports of the servers that bench/benchpeer serves,
// whole frames sent and read, and the clients of the gateway, the echo and the floor, speaking
// the frames as a little-endian client library does.
//
// Frames are a 4-byte length (the whole frame's) and then the body. The echo answers a request
// "<length><u16 reply length><padding>" with a frame of the reply length; the floor answers
// "<length><i16 kind><argument>" with "<length><i16 code><row>", kind 1 taking a record number
// (i32) and kind 2 a key (the rest of the frame).
#pragma once
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "lib_base/sockets.h"
#include "lib_base/types.h"
#include "lib_common/opcodes.h"

namespace gmbench {

constexpr u32 kLargestFrame = 1u << 24;
constexpr i16 kFloorByRecno = 1;
constexpr i16 kFloorByKey = 2;
// The alias of the private PostgreSQL: the data source that scripts/privatedb.sh writes.
constexpr const char* kAlias = "gm_pg";
constexpr const char* kEnvironment = "POSTGRES/gm_pg";

// The port in the environment variable (bench/benchpeer prints them, bench/run.sh exports them);
// 0 after a message when it is missing.
inline u16 PeerPort(const char* name) {
    const char* text = std::getenv(name);
    const long port = text ? std::strtol(text, nullptr, 10) : 0;
    if (port > 0 && port < 65536) return static_cast<u16>(port);
    std::fprintf(stderr, "%s names no port: start bench/benchpeer (bench/run.sh does)\n", name);
    return 0;
}

inline std::string Short(i16 v) { return std::string(reinterpret_cast<const char*>(&v), 2); }
inline std::string Long(i32 v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

// A request frame: the length, the opcode, the arguments.
inline std::string Frame(i16 opcode, const std::string& payload) {
    return Long(static_cast<i32>(6 + payload.size())) + Short(opcode) + payload;
}

// The connect packet of a connection kind ('0' client, '1' monitor) and its texts.
inline std::string ConnectPacket(char kind, const std::string& texts) {
    const std::string body = std::string(
                                 "\xAE"
                                 "GML"
                                 "\xAE",
                                 5) +
                             '\0' + '1' + kind + texts;
    return Long(static_cast<i32>(body.size() + 4)) + body;
}

// An echo request of requestLength bytes (at least 6) asking for a reply of replyLength bytes.
inline std::string EchoRequest(size_t requestLength, size_t replyLength) {
    std::string frame = Long(static_cast<i32>(requestLength)) +
                        Short(static_cast<i16>(static_cast<u16>(replyLength)));
    frame.resize(requestLength, 'q');
    return frame;
}

// A connection that exchanges whole frames; the last reply's body is kept.
class tWire {
public:
    tWire() = default;
    explicit tWire(std::unique_ptr<tSocket> accepted) : socket(std::move(accepted)) {}
    // Connected to the loopback port; false when that failed. With a time-out, the connect, each
    // send and each receive give up after that many milliseconds of waiting.
    bool Connect(u16 port, u32 timeoutMs = 0) {
        socket = std::make_unique<tSocket>(plat::kAfInet, "127.0.0.1", port, plat::kSockStream);
        if (timeoutMs > 0) {
            socket->SetOption(plat::kSolSocket, plat::kSoSndTimeo, &timeoutMs, sizeof timeoutMs);
            socket->SetOption(plat::kSolSocket, plat::kSoRcvTimeo, &timeoutMs, sizeof timeoutMs);
        }
        return socket->Connect();
    }
    bool SendAll(const std::string& bytes) {
        return socket->Send(bytes.data(), static_cast<i32>(bytes.size()), 0) ==
               static_cast<i32>(bytes.size());
    }
    // The next frame's body (what follows its length) into the reply.
    bool Receive() {
        u32 length = 0;
        if (!RecvAll(reinterpret_cast<char*>(&length), 4) || length < 4 || length > kLargestFrame) {
            return false;
        }
        reply.resize(length - 4);
        return RecvAll(reply.data(), length - 4);
    }
    bool Exchange(const std::string& frame) { return SendAll(frame) && Receive(); }
    // The request and its reply; false when either failed or the reply's code is not 0.
    bool Call(i16 opcode, const std::string& payload) {
        return Exchange(Frame(opcode, payload)) && Code() == 0;
    }
    const std::string& Reply() const { return reply; }
    // The reply's first two bytes: the return code of a gateway's reply; -1 when it has none.
    i16 Code() const {
        i16 code = -1;
        if (reply.size() >= 2) std::memcpy(&code, reply.data(), 2);
        return code;
    }
    void End() {
        if (socket) SendAll(Frame(OP_DISCONNECT, ""));
        socket.reset();
    }

private:
    bool RecvAll(char* at, u32 length) {
        while (length > 0) {
            const i32 got = socket->Recv(at, static_cast<i32>(length));
            if (got <= 0) return false;
            at += got;
            length -= static_cast<u32>(got);
        }
        return true;
    }

    std::unique_ptr<tSocket> socket;
    std::string reply;
};

// A monitor connected and its connect reply read; false when that failed.
inline bool StartMonitor(tWire& wire, u16 port, u32 timeoutMs = 0) {
    return wire.Connect(port, timeoutMs) && wire.Exchange(ConnectPacket('1', ""));
}

// A client connection to the private PostgreSQL's alias; false when any step failed.
inline bool StartClient(tWire& wire, u16 port) {
    const std::string texts =
        std::string(kEnvironment) + '\0' + "BENCH" + '\0' + "bench" + '\0' + "localhost" + '\0';
    return wire.Connect(port) && wire.Exchange(ConnectPacket('0', texts)) && wire.Code() == 0;
}

// Opens the table; its file id and record length, or false when the open failed.
inline bool OpenTable(tWire& wire, const char* table, i16& fileId, u32& recordLength) {
    if (!wire.Call(OP_OPEN, std::string(table) + '\0' + '\0' + '\0') || wire.Reply().size() < 8) {
        return false;
    }
    i32 length = 0;
    std::memcpy(&fileId, wire.Reply().data() + 2, 2);
    std::memcpy(&length, wire.Reply().data() + 4, 4);
    recordLength = static_cast<u32>(length);
    return true;
}

}  // namespace gmbench
