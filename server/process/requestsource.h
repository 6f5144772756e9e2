// The byte source of a served connection's request frames: the socket's receive, whose time-out
// is the connection's wait for its next request.
#pragma once
#include "lib_base/sockets.h"
#include "lib_common/commbuffer.h"

// A first piece whose wait ran out is kIdle; one that finds the peer gone notes it, so that a
// peer leaving between requests can be told from one that left inside a frame.
class tRequestSource : public tByteSource {
public:
    explicit tRequestSource(tSocketBase& socket) : socket(socket) {}
    i64 Receive(void* dst, u32 maxBytes, bool firstPiece) override {
        const i32 got = socket.Recv(dst, static_cast<i32>(maxBytes));
        if (!firstPiece || got > 0) return got;
        if (got < 0 && socket.RecvTimedOut()) return kIdle;
        goneBetweenRequests = true;
        return got;
    }

    bool goneBetweenRequests = false;

private:
    tSocketBase& socket;
};
