// Helpers of the client library's tests: a machine seam that records sleeps and fixes the names
// sent at connect, the internals behind a handle, and the bytes of common replies.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "client/clientconn.h"
#include "client/gatemillapi.h"
#include "client/handles.h"
#include "lib_common/retcodes.h"
#include "tests/client/support/fakeserver.h"
#include "tests/client/support/wirebytes.h"

namespace gmtest {

// Sleeps are recorded instead of slept; the names are fixed.
class tTestEnvironment : public tClientEnvironment {
public:
    void Sleep(u32 ms) override { sleeps.push_back(ms); }
    tString UserName() override { return user; }
    tString ComputerName() override { return computer; }
    u32 HandshakeReplyLimitMs() override { return replyLimitMs; }

    std::vector<u32> sleeps;
    u32 replyLimitMs = kHandshakeReplyLimitMs;
    tString user = "tester";
    tString computer = "box";
};

// The connection behind a handle; fails the test when there is none.
inline tBasicClient& ClientOf(GM_HANDLE handle) {
    auto client = FindHandleOf<tBasicClient>(handle);
    EXPECT_TRUE(client != nullptr);
    return *client;
}

inline tGMLClient& TableOf(GM_HANDLE handle) {
    auto client = FindHandleOf<tGMLClient>(handle);
    EXPECT_TRUE(client != nullptr);
    return *client;
}

// The request frame of a payload, as the server receives it.
inline std::string Frame(const tWire& payload) { return payload.Frame(); }

// A reply payload that is the status alone.
inline std::string Status(i16 status) { return tWire().Short(status).Payload(); }

// The disconnect request.
inline std::string DisconnectFrame() { return tWire().Short(254).Frame(); }

// A table connection with the test environment, connected to a fake server that runs
// AcceptTable and then answers each request with the given replies.
class tTableSession {
public:
    explicit tTableSession(std::vector<tFakeAnswer> answers, bool m4gl = false) {
        std::vector<tFakeAnswer> script = AcceptTable();
        script.insert(script.end(), answers.begin(), answers.end());
        server.Run({script});
        handle = GM_GetGmlConn(0, server.Port());
        TableOf(handle).SetEnvironment(&environment);
        connectStatus = m4gl ? GM_m4GLConnect(handle, "127.0.0.1", "POSTGRES/TEST", "tests")
                             : GM_Connect(handle, "127.0.0.1", "POSTGRES/TEST", "tests");
    }
    ~tTableSession() { GM_Release(handle); }

    // Disconnects and gives the frames the server received after the connect packet and the
    // build request, the disconnect frame left out.
    std::vector<std::string> Requests() {
        GM_DisConnect(handle);
        auto connections = server.Join();
        std::vector<std::string> requests;
        if (connections.empty()) return requests;
        for (size_t i = 2; i < connections[0].size(); ++i) {
            if (connections[0][i] != DisconnectFrame()) requests.push_back(connections[0][i]);
        }
        return requests;
    }

    tFakeServer server;
    tTestEnvironment environment;
    GM_HANDLE handle = 0;
    int16_t connectStatus = 0;
};

// The connection kinds besides the table connection, each with its handshake.
enum class tKind { Manager, LockClient, Audit, AuditMonitor };

// A connection of kind, with the test environment, connected to a fake server that accepts its
// handshake and then answers each request with the given replies.
class tKindSession {
public:
    tKindSession(tKind kind, std::vector<tFakeAnswer> answers) {
        std::vector<tFakeAnswer> script = Accept(kind);
        handshakeFrames = script.size();
        script.insert(script.end(), answers.begin(), answers.end());
        server.Run({script});
        handle = Make(kind, server.Port());
        ClientOf(handle).SetEnvironment(&environment);
        connectStatus = Connect(kind, handle);
    }
    ~tKindSession() { GM_ReleaseManager(handle); }

    // Disconnects and gives the payloads that the server received after the handshake, the
    // disconnect left out; keeps the connect packet in connectFrame.
    std::vector<std::string> Requests() {
        GM_DisconnectManager(handle);
        auto connections = server.Join();
        std::vector<std::string> requests;
        if (connections.empty() || connections[0].empty()) return requests;
        connectFrame = connections[0][0];
        for (size_t i = handshakeFrames; i < connections[0].size(); ++i) {
            if (connections[0][i] != DisconnectFrame()) {
                requests.push_back(connections[0][i].substr(4));
            }
        }
        return requests;
    }

    static std::vector<tFakeAnswer> Accept(tKind kind) {
        if (kind != tKind::Manager) return {Reply(tWire().Short(0).Payload())};
        return {Reply(tWire().Short(0).Text("WinNT").Text("report").Payload()),
                Reply(tWire().Text("20110117").Payload())};
    }
    static GM_HANDLE Make(tKind kind, u16 port) {
        switch (kind) {
            case tKind::Manager:
                return GM_GetManager(port);
            case tKind::LockClient:
                return GM_GetLockClient(port);
            case tKind::Audit:
                return GM_GetAudit(port);
            case tKind::AuditMonitor:
                return GM_GetAuditMonitor(port);
        }
        return 0;
    }
    static int16_t Connect(tKind kind, GM_HANDLE handle) {
        switch (kind) {
            case tKind::Manager:
                return GM_ConnectManager(handle, "127.0.0.1");
            case tKind::LockClient:
                return GM_ConnectLockClient(handle, "127.0.0.1");
            case tKind::Audit:
                return GM_ConnectAudit(handle, "127.0.0.1", "ERP\\PC01");
            case tKind::AuditMonitor:
                return GM_ConnectAuditMonitor(handle, "127.0.0.1", "mon");
        }
        return 0;
    }

    tFakeServer server;
    tTestEnvironment environment;
    size_t handshakeFrames = 0;
    std::string connectFrame;
    GM_HANDLE handle = 0;
    int16_t connectStatus = 0;
};

}  // namespace gmtest
