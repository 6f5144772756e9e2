// Loopback connections for socket tests: a listening socket on a port the system chose, and
// clients connected to it.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "lib_base/sockets.h"

namespace gmtest {

constexpr u32 kLoopback = 0x7F000001u;

// A stream socket listening on 127.0.0.1 at a port the system chose; null when that failed.
inline std::unique_ptr<tSocket> ListenOnLoopback() {
    auto listener = std::make_unique<tSocket>(plat::kAfInet, kLoopback, 0, plat::kSockStream);
    if (listener->GetLastError() != 0 || !listener->Bind() || !listener->Listen(5)) return nullptr;
    return listener;
}

// A client connected to port on 127.0.0.1; null when the connect failed.
inline std::unique_ptr<tSocket> ConnectLoopback(u16 port) {
    auto client = std::make_unique<tSocket>(plat::kAfInet, "127.0.0.1", port, plat::kSockStream);
    if (!client->Connect()) return nullptr;
    return client;
}

// Reads until count bytes are in, the peer closes, or nothing comes for 5 seconds.
inline std::string ReadBytes(tSocketBase& socket, size_t count) {
    std::string bytes;
    char buffer[4096];
    while (bytes.size() < count) {
        size_t want = count - bytes.size() < sizeof buffer ? count - bytes.size() : sizeof buffer;
        i32 n = socket.RecvTimeout(buffer, static_cast<i32>(want), 0, 5);
        if (n < 1) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

}  // namespace gmtest
