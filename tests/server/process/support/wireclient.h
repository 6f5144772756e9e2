// A plain loopback client of the real pellmar for tests that send bytes no client library would:
// frames cut short, lengths out of bounds, bytes past a frame. Every wait for the server is
// bounded, so a server that hangs fails the test instead of stopping it.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "lib_base/types.h"
#include "tests/server/process/support/acceptfixture.h"

namespace gmtest {

// A request frame as a little-endian client sends it: the length, the opcode, the payload.
inline std::string RequestFrame(i16 opcode, const std::string& payload = "") {
    const u16 code = static_cast<u16>(opcode);
    return WireLong(static_cast<u32>(6 + payload.size()), false) + static_cast<char>(code & 0xFF) +
           static_cast<char>(code >> 8) + payload;
}

class WireClient {
public:
    // Connected to 127.0.0.1:port; every receive waits at most waitSeconds.
    WireClient(u16 port, int waitSeconds) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return;
        timeval wait{waitSeconds, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            fd = -1;
        }
    }
    ~WireClient() {
        if (fd >= 0) close(fd);
    }
    WireClient(const WireClient&) = delete;
    WireClient& operator=(const WireClient&) = delete;

    bool Connected() const { return fd >= 0; }
    bool Send(const std::string& bytes) {
        return fd >= 0 && send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                              static_cast<ssize_t>(bytes.size());
    }
    // One whole frame, length prefix included; empty when the server closed or the wait ran out
    // first (then also Ended or TimedOut).
    std::string ReadFrame() {
        std::string frame = Read(4);
        if (frame.size() < 4) return "";
        u32 length = 0;
        std::memcpy(&length, frame.data(), 4);
        if (length < 4 || length > 1u << 20) return "";
        frame += Read(length - 4);
        return frame.size() == length ? frame : "";
    }
    // Everything that comes until the server closes the connection.
    std::string ReadToEnd() {
        std::string bytes;
        while (!ended && !timedOut) bytes += Read(4096, true);
        return bytes;
    }
    bool Ended() const { return ended; }
    bool TimedOut() const { return timedOut; }

private:
    // Up to count bytes (exactly count unless any is set and some came).
    std::string Read(size_t count, bool any = false) {
        std::string bytes;
        char buffer[4096];
        while (bytes.size() < count && !(any && !bytes.empty())) {
            const size_t want = std::min(count - bytes.size(), sizeof buffer);
            const ssize_t n = recv(fd, buffer, want, 0);
            if (n == 0) ended = true;
            if (n < 0) timedOut = errno == EAGAIN || errno == EWOULDBLOCK;
            if (n < 0 && !timedOut) ended = true;  // reset by the server
            if (n <= 0) break;
            bytes.append(buffer, static_cast<size_t>(n));
        }
        return bytes;
    }

    int fd = -1;
    bool ended = false;
    bool timedOut = false;
};

}  // namespace gmtest
