// A scripted gatemill server on 127.0.0.1 for the client library's tests. Each accepted
// connection plays one script: for every frame it receives (the connect packet first) it sends
// the script's next answer. Frames after the script get no answer and are recorded until the
// client closes. Every read waits at most a few seconds, so a test that goes wrong ends.
#pragma once
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lib_base/types.h"

class tSocket;

namespace gmtest {

// What the server does with one received frame.
struct tFakeAnswer {
    enum class Kind {
        Send,    // send bytes (already framed or raw), then go on
        Echo,    // send the received frame back unchanged
        Hangup,  // close the connection without answering
    };
    Kind kind = Kind::Send;
    std::string bytes;
    size_t piece = 0;         // sent in pieces of this many bytes; 0: in one send
    bool closeAfter = false;  // close the connection after sending
    u32 delayMs = 0;          // waited before answering
};

// A framed reply with this payload.
tFakeAnswer Reply(const std::string& payload, size_t piece = 0);
// A framed reply sent only after delayMs.
tFakeAnswer LateReply(const std::string& payload, u32 delayMs);
// Bytes sent as they are (a bad header, a short frame), then the connection closes.
tFakeAnswer RawThenClose(const std::string& bytes);
tFakeAnswer Echo();
tFakeAnswer Hangup();
// The connect reply of a server that accepts a table connection: 0 and "WinNT", then the
// answer to the build request.
std::vector<tFakeAnswer> AcceptTable(const char* build = "20110117");

class tFakeServer {
public:
    tFakeServer();   // listens on a port the system chose
    ~tFakeServer();  // stops listening and waits for the server's thread
    tFakeServer(const tFakeServer&) = delete;
    tFakeServer& operator=(const tFakeServer&) = delete;

    u16 Port() const { return port; }
    // Starts serving: one script per connection, in the order accepted.
    void Run(std::vector<std::vector<tFakeAnswer>> scripts);
    // Waits until every script has been played and its connection ended; gives the frames that
    // each connection received (with their length prefix), in order.
    std::vector<std::vector<std::string>> Join();
    // True when a connection waits to be accepted now (nothing is accepted).
    bool HasPendingConnection();

private:
    void Serve(std::vector<std::vector<tFakeAnswer>> scripts);
    void PlayScript(tSocket& connection, const std::vector<tFakeAnswer>& script,
                    std::vector<std::string>& frames);

    std::unique_ptr<tSocket> listener;
    u16 port = 0;
    std::thread thread;
    std::mutex lock;
    std::vector<std::vector<std::string>> received;  // guarded by lock
};

}  // namespace gmtest
