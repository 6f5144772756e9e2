// The lock connection: how a slave server keeps its record locks, table locks, table openings,
// record-number counters and named locks at this server, its master. tLockConn answers the
// connect, then serves one lock operation per request frame against this process's own lock
// servers, every lock held at the connection's location (its thread id).
#pragma once
#include "lib_base/types.h"
#include "lib_common/commbuffer.h"
#include "server/process/requestframes.h"
#include "server/runtime/gmlsockconn.h"

// One lock connection, served on the worker that accepted it. A slave's request may be anything:
// every frame is received under the frame bounds and every value is checked before use; a
// malformed request ends the connection, and Done then releases what it held.
class tLockConn : public tGMLSockConn, public tRequestSteps {
public:
    static constexpr i32 kRequestWaitMs = 30000;  // a wait that finds no request loops again
    static constexpr u32 kReceiveChunk = 8192;
    static constexpr u32 kMinRequestLength = 6;  // the length prefix and the opcode

    // requestWaitMs: how long one wait for the next request lasts (tests shorten it).
    explicit tLockConn(i32 requestWaitMs = kRequestWaitMs);

    i32 GetThreadType() override { return kThreadTypeGenServer; }
    const char* GetClassName() override { return "tLockConn"; }
    // The connect reply (0 at a master, -33 elsewhere, which ends the connection), then requests
    // until OP_DISCONNECT or the connection's end.
    i32 Execute() override;
    // Runs the request in the frame buffer against the process's lock servers, leaving its reply
    // there; an opcode outside the table is Unknown. Public so that tests and the fuzz target can
    // run requests without a socket.
    tRequestResult RunRequest() override;
    static bool Serves(i16 opcode);  // the opcode has an operation
    // Releases everything held at this connection's location.
    bool Done() override;

    // The location of this connection's locks: its thread id once the body started.
    u32 GetLocation() const { return location; }
    // Takes the location as the body does: releases what an earlier holder of it left.
    void TakeLocation(u32 value);
    u64 GetRequestCount() const { return requests; }

private:
    u32 ServerMode();
    bool SendConnectReply(i16 code);
    bool SendReply() override;
    tReceiveStatus ReceiveRequest() override;
    void PrintEnd(bool terminated);
    void ReleaseLocation();

    const i32 requestWaitMs;
    u32 location = 0;
    bool holding = false;  // the location is set: Done has something to release
    u64 requests = 0;
};

// Makes kind '2' connections tLockConn objects from now on; requestWaitMs as tLockConn's. Called
// at server start, before workers run.
void RegisterLockConnections(i32 requestWaitMs = tLockConn::kRequestWaitMs);
