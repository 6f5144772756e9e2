// A lock master running in this process: a listener with its workers on loopback whose kind '2'
// connections are tLockConn objects over the published globals' lock servers, answering in the
// listener's own mode; and lock clients of the client library connected to it.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "client/gatemillapi.h"
#include "server/process/acceptance.h"
#include "server/process/gmlserver.h"
#include "server/process/lockconn.h"
#include "tests/server/process/support/monitortest.h"
#include "tests/server/process/support/threadlists.h"

namespace gmtest {

// Polls until done() holds, for at most 10 seconds.
inline bool Eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

// The listener of lock connections; needs published globals with lock servers. Counts the lock
// connections it made.
class LockListener {
public:
    static constexpr i32 kWaitMs = 50;  // the lock connections' wait for a request, shortened

    ~LockListener() { Stop(); }

    // Listens on the port (0: any free one) in the mode; false when that failed.
    bool Start(u32 mode, u16 port = 0) {
        std::atomic<int>* counter = &made;
        SetConnectionMaker(kKindLockClient, [counter]() -> std::unique_ptr<tGMLSockConn> {
            ++*counter;
            return std::make_unique<tLockConn>(kWaitMs);
        });
        threads = &NewThreadList();
        server = std::make_unique<tGMLServer>(threads, mode, false);
        tListenerPacing pacing;
        pacing.roundMs = 20;
        server->SetPacing(pacing);
        if (!server->ListenAddr(port, "127.0.0.1")) return false;
        server->LoadThreadLimits();
        return server->Start(1);
    }
    void Stop() {
        if (!server) return;
        server->Terminate(0);
        server->WaitEnd();
        threads->Shutdown();  // stops the workers still serving lock connections
        server.reset();       // waits for every worker
        SetConnectionMaker(kKindLockClient, nullptr);
    }
    u16 Port() const { return static_cast<u16>(server->GetPort()); }

    std::atomic<int> made{0};

private:
    tThreadList* threads = nullptr;
    std::unique_ptr<tGMLServer> server;
};

class LockMaster : public MonitorGlobals {
protected:
    void TearDown() override {
        for (GM_HANDLE handle : handles) GM_ReleaseLockClient(handle);
        handles.clear();
        StopServer();
        MonitorGlobals::TearDown();
    }

    void StartServer(u32 mode) {
        StartGlobals("[General]\nThreadMin=4\nThreadInc=4\n");
        globals->CreateLockServers();
        listener = std::make_unique<LockListener>();
        ASSERT_TRUE(listener->Start(mode));
    }
    void StopServer() { listener.reset(); }

    u16 Port() { return listener->Port(); }

    // A lock client of the library; connectCode gets GM_ConnectLockClient's answer.
    GM_HANDLE Client(i16* connectCode = nullptr) {
        const GM_HANDLE handle = GM_GetLockClient(Port());
        handles.push_back(handle);
        const i16 code = GM_ConnectLockClient(handle, "127.0.0.1");
        if (connectCode) {
            *connectCode = code;
        } else {
            EXPECT_EQ(code, 0);
        }
        return handle;
    }
    // A lock connection over a bare socket, its connect reply read into code.
    std::unique_ptr<MonitorClient> RawClient(i16& code) {
        auto client = std::make_unique<MonitorClient>(Port(), '2');
        code = 1;
        if (client->Connected() && client->Receive()) client->in.GetShort(code);
        return client;
    }

    std::unique_ptr<LockListener> listener;
    std::vector<GM_HANDLE> handles;
};

}  // namespace gmtest
