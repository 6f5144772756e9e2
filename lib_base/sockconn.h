// The base of every object that serves one accepted TCP connection: it is both the socket and
// the body run for it. It holds and owns the accepted socket, sets its time-outs, sends texts,
// refuses connections and names its peer.
#pragma once
#include <memory>

#include "lib_base/sockets.h"
#include "lib_base/threads.h"
#include "lib_base/types.h"

class tSockServer;

// Result codes of the text queries.
constexpr i32 kSockConnOk = 0;
constexpr i32 kSockConnNameNotFound = 1;  // GetAddressName found no name for the address
constexpr i32 kSockConnNoEntry = 7;       // no host entry, or no address
constexpr i32 kSockConnTooLong = 35;      // the text does not fit the buffer with its NUL

// One accepted connection, used by the thread that serves it; only Terminate and the thread
// queries come from other threads (through the worker that serves it). Every socket operation
// goes to the held socket (see tSocketAPI).
class tSockConn : public tSocketAPI, public tThreadBase {
public:
    static constexpr i32 kAttachTimeoutMs = 30000;
    static constexpr i32 kReadChunkBytes = 10240;

    tSockConn() = default;
    ~tSockConn() override = default;  // closes and deletes the held socket when it owns it

    // Holds and owns the accepted socket and keeps the listening server that accepted it (not
    // owned; it outlives its workers' connections); sets the send, then the receive time-out to
    // 30000 ms. Gives the socket's send-buffer size (0 when it cannot be read).
    virtual u32 Attach(std::unique_ptr<tSocket> socket, tSockServer* server);
    // Sends length bytes of text; a negative length sends the whole text, 0 sends nothing.
    // The count sent, or the failed send's result.
    virtual i32 SendText(const char* text, i32 length, i32 flags);
    // Sends the text (all of it when length is below 1) in pieces of pieceSize bytes, each
    // followed by CR LF (one piece when pieceSize is below 1). The sum of the counts sent, or
    // the first result below 1.
    virtual i32 SendLines(const char* text, i32 length, i32 pieceSize);
    virtual i32 SendConnectOk();
    // Reads the peer's first bytes, then sends the refusal text. A read result below 1 is
    // returned and nothing is sent; otherwise the send result.
    virtual i32 RefuseConnection();
    // Every text query passes its result code through here; a subclass may translate it.
    virtual i32 ResultCode(i32 code) { return code; }

    tSockServer* GetServer() const { return server; }

    i32 GetThreadType() override { return kThreadTypeThread; }
    i32 Execute() override;  // the default body: SendConnectOk
    const char* GetClassName() override { return "sockConn"; }
    // Once: a later call changes nothing, but a forced one also ends the wait of a receive.
    void Terminate(u8 force) override;
    bool Done() override { return true; }

    // 0 or the socket error; the value is kept only on success.
    i32 SetRecvTimeout(i32 ms);
    i32 SetSendTimeout(i32 ms);
    i32 GetRecvTimeout() const { return recvTimeout; }
    i32 GetSendTimeout() const { return sendTimeout; }
    i32 SetNonBlocking(u32 on) override;  // keeps the flag, then forwards
    bool IsNonBlocking() const { return nonBlocking != 0; }

    bool HasInput();   // input is waiting to be read
    i32 DrainInput();  // reads and drops all waiting input; 0
    u32 GetSendBufferSize();
    u32 GetRecvBufferSize();
    i32 SetRecvBufferSize(u32 bytes);       // 0 or the socket error
    i32 SetSendBufferSizeField(u32 bytes);  // only the field: 0
    u32 GetSendBufferSizeField() const { return sendBufferSize; }

    // Text queries: each copies a NUL-terminated text into buffer (size bytes, NUL included)
    // and gives kSockConnOk, kSockConnTooLong, or the not-found code each names; nothing is
    // copied on failure.
    i32 GetPeerHostName(char* buffer, i32 size);  // not found: kSockConnNoEntry
    i32 GetPeerAddress(char* buffer, i32 size);   // dotted; none: kSockConnNoEntry
    // The host name of a dotted address; not found: kSockConnNameNotFound.
    i32 GetAddressName(const char* address, char* buffer, i32 size);
    // The first address, dotted, of the host named after the text's last '@' (the whole text
    // without one); not found or empty: kSockConnNoEntry.
    i32 ResolveUserHost(const char* text, char* buffer, i32 size);

private:
    i32 SetTimeout(i32 option, i32 ms, i32& field);
    u32 GetBufferSize(i32 option);
    i32 CopyResult(const char* text, char* buffer, i32 size);

    // The serving thread's.
    tSockServer* server = nullptr;
    u8 nonBlocking = 0;
    i32 recvTimeout = 0;
    i32 sendTimeout = 0;
    u32 sendBufferSize = 0;
};
