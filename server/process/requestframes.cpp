// Receiving and sending the request and reply frames of a served connection.
#include "server/process/requestframes.h"

#include "lib_base/gmlassert.h"
#include "lib_base/stringz.h"
#include "lib_common/logwriter.h"
#include "server/runtime/gmlsockconn.h"

namespace {

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

}  // namespace

tReceiveStatus ReceiveRequestFrame(tGMLSockConn& conn, u32 chunk, u32 minLength,
                                   bool goneIsFailure) {
    tRequestSource source(conn);
    const tReceiveStatus status = conn.GetCommBuffer()->ReceiveFrame(source, chunk, minLength);
    if (status == tReceiveStatus::Received || status == tReceiveStatus::Idle) return status;
    if (source.goneBetweenRequests && !goneIsFailure) return status;
    tString line;
    if (status == tReceiveStatus::SourceEnded) {
        line.sprintf("Manager Thread (%u) disconnected prematurely.", conn.GetThreadId());
    } else {
        line.sprintf("Manager Thread (%u) sent a frame of a wrong length.", conn.GetThreadId());
    }
    WriteLog(line, 0);
    return status;
}

tServeEnd ServeRequests(tGMLSockConn& conn, tRequestSteps& steps, i32 requestWaitMs,
                        const char* lostMark) {
    using tRequestResult = tRequestSteps::tRequestResult;
    conn.SetRecvTimeout(requestWaitMs > 0 ? requestWaitMs : 1);
    while (!conn.IsTerminated()) {
        const tReceiveStatus received = steps.ReceiveRequest();
        if (received == tReceiveStatus::Idle) {
            if (conn.IsConnected()) continue;
            tString line;
            line.sprintf("Thread (%u) communication failure%s.", conn.GetThreadId(), lostMark);
            WriteLog(line, 0);
            return tServeEnd::Lost;
        }
        if (received != tReceiveStatus::Received) return tServeEnd::Ended;
        switch (steps.RunRequest()) {
            case tRequestResult::Reply:
                if (!steps.SendReply()) return tServeEnd::Lost;
                continue;
            case tRequestResult::Disconnect:
                return tServeEnd::Disconnected;
            case tRequestResult::Unknown:
                return tServeEnd::Lost;
            case tRequestResult::Malformed: {
                tString line;
                line.sprintf("Manager Thread (%u) sent a malformed request.", conn.GetThreadId());
                WriteLog(line, 0);
                return tServeEnd::Ended;
            }
        }
    }
    return tServeEnd::Ended;
}

bool SendReplyFrame(tGMLSockConn& conn, const char* who) {
    tCommBuffer& out = *conn.GetCommBuffer();
    GML_ASSERT(out.GetFrameLength() > tCommBuffer::kHeaderSize, who);
    const i32 length = static_cast<i32>(out.GetFrameLength());
    const i32 sent = conn.Send(out.GetFrame(), length, 0);
    if (sent == length) return true;
    tString line;
    line.sprintf("Thread (%u) communication failure. ( snd : %i, buffer size : %i )",
                 conn.GetThreadId(), sent, length);
    WriteLog(line, 0);
    return false;
}
