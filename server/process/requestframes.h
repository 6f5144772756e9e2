// The request frames of a served connection (a monitor, another server's lock connection): each
// is received whole from the connection's socket, whose receive time-out is the connection's wait
// for its next request, and each reply is sent whole; and the request loop that such a
// connection runs over its own steps.
#pragma once
#include "lib_base/types.h"
#include "lib_common/commbuffer.h"

class tGMLSockConn;

// A served connection's own steps, which ServeRequests runs in turn on the connection's thread.
class tRequestSteps {
public:
    enum class tRequestResult {
        Reply,       // the reply is in the frame buffer, to be sent
        Disconnect,  // OP_DISCONNECT: end without a reply
        Unknown,     // an opcode this connection does not serve: end without a reply
        Malformed,   // a value cut short or out of bounds: end the connection
    };

    // Receives one whole request frame, waiting up to the connection's wait for it to begin: Idle
    // when none began; any status but Received and Idle ends the connection.
    virtual tReceiveStatus ReceiveRequest() = 0;
    // Runs the request in the frame buffer, leaving its reply there.
    virtual tRequestResult RunRequest() = 0;
    // Sends the reply in the frame buffer in one piece; false when it could not.
    virtual bool SendReply() = 0;

protected:
    ~tRequestSteps() = default;  // never deleted through this interface
};

// How a request loop ended.
enum class tServeEnd {
    Disconnected,  // OP_DISCONNECT
    Ended,         // asked to terminate, a failed receive, or a malformed request (logged)
    Lost,          // the peer gone while waiting (logged), an unserved opcode, or a short send
};

// Serves requests until one of the ends above, each wait for a request lasting requestWaitMs
// (at least 1 ms). A wait that finds the peer gone writes "Thread (%u) communication failure",
// lostMark and "." to the log file.
tServeEnd ServeRequests(tGMLSockConn& conn, tRequestSteps& steps, i32 requestWaitMs,
                        const char* lostMark);

// Receives one whole request frame into the connection's frame buffer: Idle when none began
// within the wait. The peer leaving inside a frame, or between requests when goneIsFailure, is
// logged as a premature disconnection; a length out of bounds as a wrong length.
tReceiveStatus ReceiveRequestFrame(tGMLSockConn& conn, u32 chunk, u32 minLength,
                                   bool goneIsFailure);
// Sends the frame buffer's frame (never empty) in one piece; a short send is logged and false.
bool SendReplyFrame(tGMLSockConn& conn, const char* who);
