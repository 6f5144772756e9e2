// Connection objects of the client library: the five kinds of connection, their connect
// handshakes with the retry and build checks, the one request/reply exchange (Transact) that
// every export uses, and disconnection.
#pragma once
#include <memory>
#include <vector>

#include "client/handles.h"
#include "client/workarea.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"

class tCommBuffer;
class tSocket;

constexpr u16 kDefaultPort = 7890;
constexpr const char* kApiBuild = "20090120";
constexpr i32 kMinServerBuild = 20050901;
// Texts kept from a handshake (server type, server info, build) hold at most this many bytes
// with their NUL; the exports that copy them out need that much room.
constexpr size_t kServerTextSize = 256;
// How long a connect handshake waits for each reply from a server that accepted the socket.
constexpr u32 kHandshakeReplyLimitMs = 30000;

// What a connection takes from the machine: sleeping between connect attempts and the names sent
// in the connect packets. Tests replace it to count the sleeps and fix the names.
class tClientEnvironment {
public:
    virtual ~tClientEnvironment() = default;
    virtual void Sleep(u32 ms);
    virtual tString UserName();      // at most 99 characters are sent
    virtual tString ComputerName();  // at most 99 characters are sent
    // The longest wait for one reply of a connect handshake; requests after it wait unbounded.
    virtual u32 HandshakeReplyLimitMs() { return kHandshakeReplyLimitMs; }
};

// Base of every connection. One caller thread at a time per connection; the buffer serves the
// request and its reply. The socket exists from a connect attempt until a communication
// failure, a disconnect, the next connect or destruction.
class tBasicClient : public tHandleObject {
public:
    explicit tBasicClient(u16 port);  // 0 means kDefaultPort
    ~tBasicClient() override;

    // The handshake of the connection's kind: 0 when connected, -2 when the server could not be
    // reached or answered nothing usable, -99 for a server build that is too old, else the
    // server's refusal code. string1 and string2 are the kind's connect texts (unused ones are
    // ignored).
    virtual i16 Connect(const char* host, const char* string1, const char* string2) = 0;

    bool IsConnected() const { return connected; }
    bool IsISeries() const { return iSeries; }
    const tString& GetServerType() const { return serverType; }
    const tString& GetServerInfo() const { return serverInfo; }
    tCommBuffer& GetBuffer() { return *buffer; }
    // Not owned; must outlive the connection. Null restores the default.
    void SetEnvironment(tClientEnvironment* environment);

    // An export's call begins: nothing has gone out yet (see InExchange).
    void BeginCall() { exchanging = false; }
    // Starts a request in the buffer with its opcode.
    void BeginRequest(i16 opcode);
    // Sends the request whole and receives the whole reply (the read position then stands on
    // its first payload byte). False when the send was short, the peer went away, or the
    // reply's length was below 6 or above the largest frame.
    bool Transact();
    // Transact and the status word at the head of the reply. False after a failed exchange or a
    // reply without a valid status: the connection is then dropped and status holds -88.
    // withBody: the reply goes on after a status of 0, and the server never sends one above 0
    // there, so such a status (an echoed request reads so) is not a valid one.
    bool Request(i16& status, bool withBody = false);
    // The status word at the read position, as Request reads it.
    bool ReadReplyStatus(i16& status, bool withBody = false);
    // The end of an export's reply reading: -88 (the connection dropped) when the reply was
    // inconsistent or too short, else status.
    i16 Finish(i16 status, bool consistent = true);
    // Drops the socket and the connected state; gives code.
    i16 CommFail(i16 code);
    // True once a request or connect packet of the current call has gone out: an exception from
    // there on leaves the connection in an unknown state, so the export's boundary drops it.
    bool InExchange() const { return exchanging; }
    // Asks the server for its build date text: 0, -2 when not connected, -88 when the exchange
    // failed.
    i16 GetServerBuild(tString& build);
    // Tells the server that the connection ends (no reply is awaited), then drops the socket.
    // Nothing happens when not connected.
    void Disconnect();

protected:
    // What a connect reply holds after a status of 0.
    struct tHandshakeReply {
        bool serverTexts;  // the server type (and the iSeries test)
        bool serverInfo;   // then the server info, when bytes remain
        bool buildCheck;   // then OP_BUILD, refusing old servers with -99
    };

    // A new socket to host on the connection's port, not yet connected.
    void NewSocket(const char* host);
    // Connects the socket and bounds its receives by the handshake's reply limit.
    bool ConnectSocket();
    // NewSocket and one connect attempt; false (the socket dropped) when it failed.
    bool OpenSocket(const char* host);
    // Starts the connect packet: the magic, the byte-order byte and the kind byte.
    void BeginConnectPacket(const char* magic, char kind);
    void PutUserAndComputer();
    bool SendConnectPacket();  // false when the send was short
    enum class tReplyResult { Received, Nothing, Bad };
    tReplyResult ReceiveConnectReply();
    // Sends the connect packet, receives the reply once and reads it: the result of Connect.
    i16 ExchangeConnectPacket(const tHandshakeReply& layout);
    // Reads a received connect reply: the status, then what layout says.
    i16 ReadConnectReply(const tHandshakeReply& layout);
    // The build check after a successful handshake: 0, -99 (disconnected) or -2.
    i16 CheckServerBuild();

    tClientEnvironment& Environment() { return *environment; }

private:
    bool ReceiveReply(u32 chunk, u32 minLength, u64& bytesReceived);
    // Sets the socket's receive time-out; 0 waits without limit.
    bool SetReplyLimit(u32 ms);

    // Constant after construction.
    const u16 port;
    std::unique_ptr<tCommBuffer> buffer;
    // The caller thread's.
    tClientEnvironment* environment;
    std::unique_ptr<tSocket> socket;
    bool connected = false;
    bool iSeries = false;
    bool exchanging = false;
    tString serverType;
    tString serverInfo;
};

// A table connection (connect kind '0'): tables, queries and statements, with their work areas.
class tGMLClient : public tBasicClient {
public:
    explicit tGMLClient(u16 port) : tBasicClient(port) {}
    ~tGMLClient() override;

    // The table handshake in the GM_Connect mode.
    i16 Connect(const char* host, const char* string1, const char* string2) override;
    // mode 1: GM_Connect (short record replies); mode 0: GM_m4GLConnect. Up to 10 socket
    // connect attempts 1000 ms apart, shared with the reconnects that follow an empty reply
    // (500 ms apart).
    i16 ConnectMode(const char* host, const char* string1, const char* string2, u8 mode);

    bool HasShortRecords() const { return connectMode == 1; }

    // Work areas, found by the server's handle; null when none has it.
    tClientWorkArea* FindWorkArea(u16 handle);
    // Keeps a new work area; one with the same handle is replaced.
    tClientWorkArea* AddWorkArea(std::unique_ptr<tClientWorkArea> area);
    void RemoveWorkArea(u16 handle);

    // The three statement status words: read ahead of the status of statement replies in
    // connect mode 0 (they keep their last values in mode 1) and copied to the caller's block.
    bool ReadStatementWords();
    void CopyStatementWords(void* block) const;

private:
    u8 connectMode = 1;
    i32 statementWords[3] = {0, 0, 0};
    std::vector<std::unique_ptr<tClientWorkArea>> workAreas;
};

// A monitor connection (kind '1').
class tManagerClient : public tBasicClient {
public:
    explicit tManagerClient(u16 port) : tBasicClient(port) {}
    i16 Connect(const char* host, const char* string1, const char* string2) override;
};

// A lock-server connection (kind '2'), as a slave server opens to its master.
class tLockClient : public tBasicClient {
public:
    explicit tLockClient(u16 port) : tBasicClient(port) {}
    i16 Connect(const char* host, const char* string1, const char* string2) override;
};

// A connection to the audit server: kind '0' audit, '1' audit monitor. string1 is the caller.
class tAuditClient : public tBasicClient {
public:
    tAuditClient(u16 port, char kind) : tBasicClient(port), kind(kind) {}
    i16 Connect(const char* host, const char* string1, const char* string2) override;
    bool IsMonitor() const { return kind == '1'; }

private:
    const char kind;
};
