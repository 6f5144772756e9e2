// Connections under test: connect packets as clients send them, connection objects of every
// kind that record what acceptance did with them, and a fixture with published globals and a
// listening server on loopback whose factory makes those objects.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "lib_base/gmlassert.h"
#include "lib_common/commbuffer.h"
#include "server/process/acceptance.h"
#include "server/process/gmlserver.h"
#include "server/runtime/consolelog.h"
#include "server/runtime/globals.h"
#include "server/runtime/gmlsockconn.h"
#include "tests/lib_base/support/loopback.h"
#include "tests/support/tempdir.h"

namespace gmtest {

const std::string kMagicText(
    "\xAE"
    "GML"
    "\xAE",
    5);

// The u32 n as a sender of that byte order writes it.
inline std::string WireLong(u32 n, bool bigEndian) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        const int shift = bigEndian ? 24 - 8 * i : 8 * i;
        bytes[static_cast<size_t>(i)] = static_cast<char>((n >> shift) & 0xFF);
    }
    return bytes;
}

// A whole connect packet: its length (in the sender's order), the magic with its NUL, the
// byte-order byte ('1' for little-endian), the kind and the rest.
inline std::string ConnectPacket(char kind, const std::string& rest = "", bool bigEndian = false) {
    const std::string body = kMagicText + '\0' + (bigEndian ? '0' : '1') + kind + rest;
    return WireLong(static_cast<u32>(body.size() + 4), bigEndian) + body;
}

// What a test connection's body does.
enum class Body {
    Reply,        // sends a frame holding its kind byte and the 16-bit value 7
    ReadNumbers,  // reads an i16, an i32 and an f64 from the packet's rest, then replies
    Assert,       // raises an assertion at kAssertLine
    Throw,        // throws a std::runtime_error
    FailInDone,   // replies; its Done raises an assertion
    Block,        // waits for the log's release event, then replies
};

constexpr u32 kAssertLine = 4242;

// What the test connections of one test did. Shared by the test and the workers.
struct ConnLog {
    static constexpr auto kBound = std::chrono::seconds(20);

    std::atomic<int> made{0};
    std::atomic<int> done{0};
    plat::ManualResetEvent release;  // lets Block bodies go on
    std::mutex lock;
    std::condition_variable changed;  // on every arrival and deletion
    // Guarded by lock.
    int arrivals = 0;  // bodies that have begun
    int deleted = 0;
    std::string kinds;  // the kind of each object whose body ran, in order
    bool swapped = false;
    i16 shortValue = 0;
    i32 longValue = 0;
    f64 doubleValue = 0;
    bool malformed = true;

    void Arrive(u8 kind) {
        std::lock_guard<std::mutex> hold(lock);
        ++arrivals;
        kinds += static_cast<char>(kind);
        changed.notify_all();
    }
    void Deleted() {
        std::lock_guard<std::mutex> hold(lock);
        ++deleted;
        changed.notify_all();
    }
    int Deletions() {
        std::lock_guard<std::mutex> hold(lock);
        return deleted;
    }
    std::string Kinds() {
        std::lock_guard<std::mutex> hold(lock);
        return kinds;
    }
    // False when fewer than n bodies have begun (or objects were deleted) within the bound.
    bool WaitArrivals(int n) {
        std::unique_lock<std::mutex> hold(lock);
        return changed.wait_for(hold, kBound, [&] { return arrivals >= n; });
    }
    bool WaitDeleted(int n) {
        std::unique_lock<std::mutex> hold(lock);
        return changed.wait_for(hold, kBound, [&] { return deleted >= n; });
    }
};

// A connection of one kind that answers as the real class of that kind does and records what
// acceptance did with it.
class TestConn : public tGMLSockConn {
public:
    TestConn(u8 kind, Body body, ConnLog& log) : kind(kind), body(body), log(log) { ++log.made; }
    ~TestConn() override { log.Deleted(); }

    i32 GetThreadType() override {
        return kind == kKindMonitor ? kThreadTypeMonitSockThread : kThreadTypeGenServer;
    }
    bool CanKill() override { return kind == kKindClient; }
    void DoShowException() override { ConsolePrintf("[client report]"); }
    bool Done() override {
        ++log.done;
        if (body == Body::FailInDone) DoAssert("done.cpp", 7, "done failed", 0);
        return true;
    }

    i32 Execute() override {
        log.Arrive(kind);
        if (body == Body::Assert) DoAssert("body.cpp", kAssertLine, "body failed", 0);
        if (body == Body::Throw) throw std::runtime_error("unexpected");
        if (body == Body::ReadNumbers) ReadNumbers();
        if (body == Body::Block) log.release.Wait(-1);
        Reply();
        return 0;
    }

private:
    void ReadNumbers() {
        tCommBuffer& in = *GetCommBuffer();
        std::lock_guard<std::mutex> hold(log.lock);
        log.swapped = in.IsSwapped();
        in.GetShort(log.shortValue);
        in.GetLong(log.longValue);
        in.GetDouble(log.doubleValue);
        log.malformed = in.IsMalformed();
    }
    void Reply() {
        tCommBuffer& out = *GetCommBuffer();
        out.Reset();
        out.PutByte(kind);
        out.PutShort(7);
        const u8* frame = out.GetFrame();
        Send(frame, static_cast<i32>(out.GetFrameLength()), 0);
    }

    const u8 kind;
    const Body body;
    ConnLog& log;
};

// The reply frame of a TestConn of that kind to a little-endian client.
inline std::string ReplyOf(char kind) {
    return WireLong(7, false) + kind + std::string("\x07\x00", 2);
}

// Published globals over a private ini, a server listening on 127.0.0.1 at a port the system
// chose, and a factory that makes TestConn objects of every kind with the body each kind is set
// to. The thread list, when a test needs one, lives to the end of the process: workers that
// delete themselves touch it last.
class AcceptTest : public ::testing::Test {
protected:
    void SetUp() override { StartGlobals("ThreadInfo=1\n"); }
    void TearDown() override {
        log.release.Set();
        for (u8 kind : {kKindClient, kKindMonitor, kKindLockClient})
            SetConnectionMaker(kind, nullptr);
        server.reset();
        PublishGlobals(nullptr);
        globals.reset();
    }

    // The [General] lines of the ini; makes and publishes the globals.
    void StartGlobals(const std::string& general) {
        PublishGlobals(nullptr);
        globals.reset();
        WriteFileText(dir.File("gatemill.ini"), "[General]\n" + general);
        globals = std::make_unique<tGMLGlobals>(dir.File("gatemill.ini").c_str());
        PublishGlobals(globals.get());
    }
    // A listening server that is not started; threads may be null.
    void MakeServer(tThreadList* threads) {
        server = std::make_unique<tGMLServer>(threads, kModeStandalone, false);
        ASSERT_TRUE(server->ListenAddr(0, "127.0.0.1"));
    }
    // Objects of that kind are made with that body from now on.
    void MakeKind(char kind, Body body) {
        ConnLog* target = &log;
        SetConnectionMaker(static_cast<u8>(kind), [target, kind, body] {
            return std::make_unique<TestConn>(static_cast<u8>(kind), body, *target);
        });
    }
    void MakeEveryKind(Body body) {
        for (char kind : {'0', '1', '2'}) MakeKind(kind, body);
    }
    u16 Port() { return static_cast<u16>(server->GetPort()); }
    // A client connected to the server that has sent bytes.
    std::unique_ptr<tSocket> Send(const std::string& bytes) {
        std::unique_ptr<tSocket> client = ConnectLoopback(Port());
        EXPECT_NE(client, nullptr);
        if (client && !bytes.empty()) {
            EXPECT_EQ(client->Send(bytes.data(), static_cast<i32>(bytes.size()), 0),
                      static_cast<i32>(bytes.size()));
        }
        return client;
    }

    TempDir dir;
    std::unique_ptr<tGMLGlobals> globals;
    std::unique_ptr<tGMLServer> server;
    ConnLog log;
};

}  // namespace gmtest
