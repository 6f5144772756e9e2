// A socket that counts the calls a connection makes on it, to show how many system calls a
// request costs: every receive, every wait for input and every send. A receive counts once it
// has returned (one still blocked is not counted), a send as soon as it starts (so the count
// is in before the peer can read what it sends).
#pragma once
#include <atomic>
#include <memory>

#include "lib_base/sockets.h"

namespace gmtest {

class CountingSocket : public tSocket {
public:
    // Takes over the accepted socket.
    explicit CountingSocket(std::unique_ptr<tSocket> accepted) {
        MoveSocket(*this, std::move(accepted));
    }

    // Every receive goes through RecvTimeout; with seconds above 0 it waits first.
    i32 RecvTimeout(void* buffer, i32 length, i32 flags, i32 seconds) override {
        if (seconds > 0) ++waits;
        const i32 got = tSocket::RecvTimeout(buffer, length, flags, seconds);
        ++receives;
        return got;
    }
    bool WaitRead(i32 seconds, i32 microseconds) override {
        ++waits;
        return tSocket::WaitRead(seconds, microseconds);
    }
    bool IsConnected() override {
        ++probes;
        return !lost && tSocket::IsConnected();
    }
    i32 Send(const void* buffer, i32 length, i32 flags) override {
        ++sends;
        if (shortSends && length > 0) --length;
        return tSocket::Send(buffer, length, flags);
    }

    std::atomic<int> receives{0};
    std::atomic<int> waits{0};
    std::atomic<int> probes{0};
    std::atomic<int> sends{0};
    std::atomic<bool> lost{false};        // set: the probe answers that the peer is gone
    std::atomic<bool> shortSends{false};  // set: each send leaves its last byte unsent
};

}  // namespace gmtest
