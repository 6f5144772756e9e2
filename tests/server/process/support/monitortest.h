// Monitors under test: frames carried between frame buffers as the wire carries them, a monitor
// whose requests are run without a socket, and a monitor client made of a frame buffer and a
// loopback socket.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "lib_base/sockets.h"
#include "lib_common/commbuffer.h"
#include "lib_common/logwriter.h"
#include "server/process/acceptance.h"
#include "server/process/monitor.h"
#include "server/runtime/globals.h"
#include "tests/lib_base/support/loopback.h"
#include "tests/server/process/support/acceptfixture.h"
#include "tests/support/tempdir.h"

namespace gmtest {

// The frame built in from arrives in to, as a receiver gets it.
inline void Deliver(tCommBuffer& from, tCommBuffer& to) {
    const u32 length = from.GetFrameLength();
    const u8* frame = from.GetFrame();
    to.Reset();
    to.Prepare(length);
    std::memcpy(to.GetReceivePtr(0), frame, length);
    to.SetReceived(length);
}

// The rest of a reply's payload, as a string.
inline std::string TakeText(tCommBuffer& reply) {
    tString text;
    reply.GetString(text);
    return std::string(text.GetText(), static_cast<size_t>(text.GetLength()));
}

// Published globals over an ini file of the test's own, the log file beside it.
class MonitorGlobals : public ::testing::Test {
protected:
    void SetUp() override { StartGlobals("[General]\n"); }
    void TearDown() override {
        PublishGlobals(nullptr);
        globals.reset();
        SetLogPath("");
    }
    void StartGlobals(const std::string& ini) {
        PublishGlobals(nullptr);
        globals.reset();
        WriteFileText(IniPath(), ini);
        globals = std::make_unique<tGMLGlobals>(IniPath().c_str());
        PublishGlobals(globals.get());
        SetLogPath(LogPath().c_str());
    }
    std::string IniPath() const { return dir.File("gatemill.ini"); }
    std::string LogPath() const { return dir.File("gatemill.log"); }

    TempDir dir;
    std::unique_ptr<tGMLGlobals> globals;
};

// A monitor without a socket: each request is delivered into its frame buffer, run, and its reply
// delivered back to the test.
class MonitorOps : public MonitorGlobals {
protected:
    static constexpr u32 kMonitorId = 9001;

    void SetUp() override {
        MonitorGlobals::SetUp();
        monitor = std::make_unique<tMonitor>();
        monitor->SetCommBuffer(std::make_unique<tCommBuffer>());
        monitor->AdoptThread(kMonitorId);
    }
    void TearDown() override {
        monitor.reset();
        MonitorGlobals::TearDown();
    }

    // A new request of that opcode; the test puts its arguments.
    tCommBuffer& Request(i16 opcode) {
        request.Reset();
        request.PutShort(opcode);
        return request;
    }
    // Runs the request; the reply, ready to read (empty and malformed unless one was sent).
    tCommBuffer& Run() {
        Deliver(request, *monitor->GetCommBuffer());
        result = monitor->RunRequest();
        reply.Reset();
        if (result == tMonitor::tRequestResult::Reply) Deliver(*monitor->GetCommBuffer(), reply);
        return reply;
    }
    // The reply as bytes, length prefix included.
    std::string ReplyBytes() {
        return std::string(reinterpret_cast<const char*>(reply.GetFrame()), reply.GetFrameLength());
    }

    std::unique_ptr<tMonitor> monitor;
    tCommBuffer request;
    tCommBuffer reply;
    tMonitor::tRequestResult result = tMonitor::tRequestResult::Reply;
};

// Receives frames from a loopback socket, each frame's length prefix by itself so that frames
// sent together are taken one at a time; gives up after 10 seconds without a byte.
class MonitorFrameSource : public tByteSource {
public:
    explicit MonitorFrameSource(tSocket& socket) : socket(socket) {}
    i64 Receive(void* dst, u32 maxBytes, bool firstPiece) override {
        if (firstPiece) headerLeft = tCommBuffer::kHeaderSize;
        const u32 want = headerLeft > 0 && headerLeft < maxBytes ? headerLeft : maxBytes;
        const i32 got = socket.RecvTimeout(dst, static_cast<i32>(want), 0, 10);
        if (got > 0) headerLeft = static_cast<u32>(got) < headerLeft ? headerLeft - got : 0;
        return got;
    }

private:
    tSocket& socket;
    u32 headerLeft = 0;
};

// A monitor's side of the wire: connects, sends requests built in one frame buffer and reads
// the replies into another.
class MonitorClient {
public:
    // Connects and sends the connect packet of the kind (a monitor's unless told otherwise);
    // Connected tells whether that worked.
    explicit MonitorClient(u16 port, char kind = '1') : socket(ConnectLoopback(port)) {
        if (!socket) return;
        const std::string packet = ConnectPacket(kind);
        if (socket->Send(packet.data(), static_cast<i32>(packet.size()), 0) !=
            static_cast<i32>(packet.size())) {
            socket.reset();
        }
    }
    bool Connected() const { return socket != nullptr; }
    tSocket& Socket() { return *socket; }

    tCommBuffer& Request(i16 opcode) {
        out.Reset();
        out.PutShort(opcode);
        return out;
    }
    bool Send() {
        const i32 length = static_cast<i32>(out.GetFrameLength());
        return socket->Send(out.GetFrame(), length, 0) == length;
    }
    bool SendBytes(const std::string& bytes) {
        return socket->Send(bytes.data(), static_cast<i32>(bytes.size()), 0) ==
               static_cast<i32>(bytes.size());
    }
    // The next reply frame, ready to read; false when none came whole.
    bool Receive() {
        MonitorFrameSource source(*socket);
        return in.ReceiveFrame(source, 65536) == tReceiveStatus::Received;
    }
    // Sends the request built and receives its reply; null when either failed.
    tCommBuffer* Call() { return Send() && Receive() ? &in : nullptr; }
    // The connect reply: 0, the server type and the OS report.
    bool ReadConnectReply(std::string& type, std::string& report) {
        if (!Receive()) return false;
        i16 code = -1;
        in.GetShort(code);
        type = TakeText(in);
        report = TakeText(in);
        return code == 0 && !in.IsMalformed();
    }
    // True when the server closed the connection without sending anything more.
    bool IsClosedByServer() {
        char byte = 0;
        return socket->RecvTimeout(&byte, 1, 0, 10) == 0;
    }

    tCommBuffer in;
    tCommBuffer out;

private:
    std::unique_ptr<tSocket> socket;
};

}  // namespace gmtest
