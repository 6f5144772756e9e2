#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "lib_base/sockconn.h"
#include "lib_base/sockets.h"
#include "tests/lib_base/support/loopback.h"

namespace {

using gmtest::kLoopback;

std::unique_ptr<tSocket> NewListener() {
    auto listener = std::make_unique<tSocket>(plat::kAfInet, kLoopback, 0, plat::kSockStream);
    EXPECT_TRUE(listener->Bind());
    EXPECT_TRUE(listener->Listen(64));
    return listener;
}

// A listening socket that tells how many accepts are inside it.
class tProbeSocket : public tSocket {
public:
    tProbeSocket() : tSocket(plat::kAfInet, kLoopback, 0, plat::kSockStream) {}
    i32 AcceptsInside() {
        tWaiting hold(&lock, __FILE__, __LINE__);
        return inUse;
    }
    // Whether count threads are inside AcceptCounted (they never leave on their own) within ten
    // seconds; the socket has no event for it, so the count is polled.
    bool AwaitAcceptsInside(i32 count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (AcceptsInside() < count) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::yield();
        }
        return true;
    }
};

// Threads blocked in accept, waiting with a time-out or not, all return with nothing once the
// listener is closed: the close wakes them.
TEST(SocketAccept, ClosingTheListenerWakesEveryAcceptInside) {
    tProbeSocket listener;
    ASSERT_TRUE(listener.Bind());
    ASSERT_TRUE(listener.Listen(5));
    constexpr int kThreads = 6;
    std::atomic<int> accepted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            if (listener.AcceptCounted(t % 2 == 0 ? 0 : 600)) ++accepted;
        });
    }
    EXPECT_TRUE(listener.AwaitAcceptsInside(kThreads));  // the close below ends them either way
    listener.SetRefuse();
    EXPECT_EQ(listener.CloseSocket(), 0);
    for (auto& th : threads) th.join();
    EXPECT_EQ(accepted.load(), 0);
    EXPECT_EQ(listener.AcceptsInside(), 0);
}

// Deleting a listening socket while accepts are inside it wakes them and waits until they have
// left, so the object is never freed under them.
TEST(SocketAccept, DeletingTheListenerWaitsForTheAcceptsInside) {
    auto listener = std::make_unique<tProbeSocket>();
    ASSERT_TRUE(listener->Bind());
    ASSERT_TRUE(listener->Listen(5));
    constexpr int kThreads = 6;
    std::vector<std::thread> threads;
    std::atomic<int> accepted{0};
    for (int t = 0; t < kThreads; ++t) {
        tSocket* shared = listener.get();
        threads.emplace_back([&accepted, shared, t] {
            if (shared->AcceptCounted(t % 2 == 0 ? 0 : 600)) ++accepted;
        });
    }
    EXPECT_TRUE(listener->AwaitAcceptsInside(kThreads));  // the reset below ends them either way
    listener.reset();
    for (auto& th : threads) th.join();
    EXPECT_EQ(accepted.load(), 0);
}

// Many threads accept on one listening socket at once, switching it between blocking and
// non-blocking as they go: every connection is served by exactly one of them.
TEST(SocketAccept, EachConnectionIsAcceptedByExactlyOneThread) {
    std::unique_ptr<tSocket> listener = NewListener();
    constexpr int kAcceptors = 6;
    constexpr int kClients = 60;
    std::mutex seenLock;
    std::multiset<int> seen;
    std::atomic<int> served{0};
    std::vector<std::thread> acceptors;
    for (int t = 0; t < kAcceptors; ++t) {
        acceptors.emplace_back([&, t] {
            bool first = true;
            while (served.load() < kClients) {
                std::unique_ptr<tSocket> conn = listener->AcceptCounted(first || t == 0 ? 0 : 1);
                first = false;
                if (!conn) continue;
                unsigned char id = 0;
                if (conn->RecvTimeout(&id, 1, 0, 10) == 1) {
                    std::lock_guard<std::mutex> hold(seenLock);
                    seen.insert(id);
                }
                conn->Send("k", 1, 0);
                ++served;
            }
        });
    }
    std::vector<std::unique_ptr<tSocket>> clients;
    for (int i = 0; i < kClients; ++i) {
        auto client = std::make_unique<tSocket>(plat::kAfInet, kLoopback, listener->GetPort(),
                                                plat::kSockStream);
        ASSERT_TRUE(client->Connect());
        unsigned char id = static_cast<unsigned char>(i);
        ASSERT_EQ(client->Send(&id, 1, 0), 1);
        clients.push_back(std::move(client));
    }
    for (auto& client : clients) {
        char k = 0;
        EXPECT_EQ(client->RecvTimeout(&k, 1, 0, 30), 1);
    }
    // Acceptors still blocked in accept are woken by the close.
    listener->SetRefuse();
    listener->CloseSocket();
    for (auto& th : acceptors) th.join();
    ASSERT_EQ(seen.size(), static_cast<size_t>(kClients));
    for (int i = 0; i < kClients; ++i) EXPECT_EQ(seen.count(i), 1u) << i;
}

}  // namespace

// A forced stop of a connection wakes the thread that waits in its receive (whose time-out is
// 30 seconds): the receive ends as at the end of the stream, and replies still go out.
TEST(SockConnStop, AForcedTerminateEndsAWaitingReceive) {
    std::unique_ptr<tSocket> listener = gmtest::ListenOnLoopback();
    ASSERT_NE(listener, nullptr);
    std::unique_ptr<tSocket> client = gmtest::ConnectLoopback(listener->GetPort());
    ASSERT_NE(client, nullptr);
    tSockConn conn;
    conn.Attach(listener->AcceptCounted(5), nullptr);
    ASSERT_EQ(conn.GetRecvTimeout(), 30000);
    i32 got = -2;
    std::thread reader([&] {
        char c = 0;
        got = conn.Recv(&c, 1);
    });
    conn.Terminate(1);
    reader.join();
    EXPECT_EQ(got, 0);
    EXPECT_NE(conn.GetLastError(), plat::kSockTimedOut);
    EXPECT_EQ(conn.SendText("bye", -1, 0), 3);
    EXPECT_EQ(gmtest::ReadBytes(*client, 3), "bye");
}
