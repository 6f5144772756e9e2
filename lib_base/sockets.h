// TCP/IPv4 sockets of both deliverables: tSocket owns one socket, tSocketAPI holds one and
// forwards to it (so that a connection object is itself a socket), and the error texts.
#pragma once
#include <atomic>
#include <memory>

#include "lib_base/critsec.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "platform/socket.h"
#include "platform/unique_fd.h"

class tSocket;

// The operations that every socket offers, and the accept state of a listening socket.
// Results: false, a count below 1 or null on failure, with the Windows Sockets code kept for
// GetLastError and GetErrorText.
class tSocketBase {
public:
    tSocketBase() = default;
    virtual ~tSocketBase() = default;
    tSocketBase(const tSocketBase&) = delete;
    tSocketBase& operator=(const tSocketBase&) = delete;

    virtual i32 GetHandle() = 0;             // -1 when there is none; 0 is a valid handle
    virtual void SetHandle(i32 handle) = 0;  // adopts it; an old handle is closed
    // Abortive close (linger on, 0 s): shutdown both ways, then close. 0, or -1 when close failed.
    virtual i32 Close() = 0;
    virtual void SetLastError(i32 code) = 0;
    virtual i32 GetLastError() = 0;
    virtual void GetErrorText(tString& text) = 0;
    virtual i32 SetBlocking(u8 on) = 0;  // 0, or -1 with the error kept
    virtual i32 Shutdown(i32 how) = 0;   // 0, or -1 with the error kept
    // Shutdown both ways, then close: 0, or -1 when close failed.
    virtual i32 CloseSocket() = 0;
    virtual bool Listen(i32 backlog) = 0;  // a socket that is not a stream succeeds as is
    virtual bool Bind() = 0;               // with port 0, reads the chosen port back
    virtual bool GetSockName() = 0;
    virtual bool Connect() = 0;  // and then blocking
    // Level and name as plat::kSolSocket and the rest; time-outs take u32 milliseconds.
    virtual bool SetOption(i32 level, i32 name, const void* value, i32 length) = 0;
    virtual bool GetOption(i32 level, i32 name, void* value, i32* length) = 0;
    virtual bool IoCtl(i32 command, u32* argument) = 0;  // plat::kIoNonBlocking, kIoBytesReadable
    // The accepted connection, blocking, owned by the caller; null on failure.
    virtual std::unique_ptr<tSocket> Accept() = 0;
    // Accept for the threads that share one listening socket: with seconds above 0 it first
    // waits that long for a connection; with 0 it blocks in the accept. Null on time-out,
    // failure, a closed socket, or a socket set to refuse.
    virtual std::unique_ptr<tSocket> AcceptCounted(i32 seconds) = 0;
    // False once the peer has closed or the connection failed; never consumes input.
    virtual bool IsConnected() = 0;
    virtual i32 SetNonBlocking(u32 on) = 0;  // 0, or the error code
    // The host name of the stored address (the peer's, for an accepted socket).
    virtual bool GetHostByAddr(i32 family, tString& name) = 0;
    // Sends every byte (a blocking socket goes on until all is out). The count, or -1.
    virtual i32 Send(const void* buffer, i32 length, i32 flags) = 0;
    // The count; 0 when the peer has closed; -1 on failure (10060 when a receive time-out set
    // on the socket ran out).
    virtual i32 Recv(void* buffer, i32 length) = 0;
    // After a Recv that gave -1: whether the socket's receive time-out ran out (the peer may
    // still be there) rather than the connection failing.
    bool RecvTimedOut() {
        const i32 error = GetLastError();
        return error == plat::kSockTimedOut || error == plat::kSockWouldBlock;
    }
    // With seconds above 0 first waits that long for input: none gives 0, error 10060.
    virtual i32 RecvTimeout(void* buffer, i32 length, i32 flags, i32 seconds) = 0;
    // Reads one byte at a time until CR LF (both kept), a read that yields nothing, or size - 1
    // bytes; the buffer is zeroed first, so the line is always NUL-terminated. Each byte but
    // the one after a CR waits up to seconds. Returns the bytes stored.
    virtual u32 RecvLine(char* buffer, u32 size, i32 seconds);
    // True when input (or the peer's close) is waiting, and no out-of-band data.
    virtual bool WaitRead(i32 seconds, i32 microseconds) = 0;
    virtual bool WaitWrite(i32 seconds, i32 microseconds) = 0;
    virtual i32 SendTo(const plat::SockAddr4& to, const void* buffer, i32 length) = 0;
    virtual i32 RecvFrom(plat::SockAddr4* from, void* buffer, i32 length) = 0;
    virtual u16 GetPort() = 0;                         // host order
    virtual void GetAddressText(tString& text) = 0;    // dotted
    virtual bool GetLocalHostAddr(tString& text) = 0;  // this machine's first IPv4 address
    // Resolves the part of text after its last '@' (all of it without one) to dotted text.
    virtual bool ResolveHost(const char* text, tString& address) = 0;
    virtual i32 GetType() = 0;

    // Once set, accepts on this socket discard what they accept (a listener that is ending).
    void SetRefuse() { refuse.store(true); }
    bool IsRefusing() const { return refuse.load(); }

protected:
    // Guards the handle of a socket that several threads use, and inUse.
    tCriticalSection lock;
    i32 inUse = 0;  // AcceptCounted calls inside this socket right now

private:
    std::atomic<bool> refuse{false};
};

// One socket. Used by one thread at a time, except a listening socket: any thread may run
// AcceptCounted on it while one other closes it; closing wakes the accepts (their handle is
// shut down at once and closed when the last of them has left), and the destructor waits
// until none is inside.
class tSocket : public tSocketBase {
public:
    tSocket();  // no handle, stream: what Accept fills
    // address is in host order (0: any). The socket is created at once; GetLastError tells
    // whether that failed.
    tSocket(i32 family, u32 address, u16 port, i32 type);
    // host is a dotted address or a host name; a name that is not found makes Connect and Bind
    // fail with 11001.
    tSocket(i32 family, const char* host, u16 port, i32 type);
    ~tSocket() override;

    i32 GetHandle() override;
    void SetHandle(i32 handle) override;
    i32 Close() override;
    void SetLastError(i32 code) override { StoreError(code); }
    i32 GetLastError() override { return lastError.load(std::memory_order_relaxed); }
    void GetErrorText(tString& text) override;
    i32 SetBlocking(u8 on) override;
    i32 Shutdown(i32 how) override;
    i32 CloseSocket() override;
    bool Listen(i32 backlog) override;
    bool Bind() override;
    bool GetSockName() override;
    bool Connect() override;
    bool SetOption(i32 level, i32 name, const void* value, i32 length) override;
    bool GetOption(i32 level, i32 name, void* value, i32* length) override;
    bool IoCtl(i32 command, u32* argument) override;
    std::unique_ptr<tSocket> Accept() override;
    std::unique_ptr<tSocket> AcceptCounted(i32 seconds) override;
    bool IsConnected() override;
    i32 SetNonBlocking(u32 on) override;
    bool GetHostByAddr(i32 family, tString& name) override;
    i32 Send(const void* buffer, i32 length, i32 flags) override;
    i32 Recv(void* buffer, i32 length) override;
    i32 RecvTimeout(void* buffer, i32 length, i32 flags, i32 seconds) override;
    bool WaitRead(i32 seconds, i32 microseconds) override;
    bool WaitWrite(i32 seconds, i32 microseconds) override;
    i32 SendTo(const plat::SockAddr4& to, const void* buffer, i32 length) override;
    i32 RecvFrom(plat::SockAddr4* from, void* buffer, i32 length) override;
    u16 GetPort() override;
    void GetAddressText(tString& text) override;
    bool GetLocalHostAddr(tString& text) override;
    bool ResolveHost(const char* text, tString& address) override;
    i32 GetType() override { return type; }

    // Moves address, type, handle and last error of from into to; from is deleted.
    friend void MoveSocket(tSocket& to, std::unique_ptr<tSocket> from);

private:
    class tAcceptCount;

    void Open();
    i32 ReleaseHandle(bool abortive);
    std::unique_ptr<tSocket> AcceptOn(int fd);
    std::unique_ptr<tSocket> WaitAndAccept(int fd, i32 seconds);
    int PollRead(int fd, i32 ms);  // 1 ready, 0 not, -1 failed (error kept)
    i32 Failed(long result);       // keeps the code of a negative plat result; gives -1
    i32 Counted(long result);      // a count, or Failed
    bool Kept(long result);        // true for a plat result of 0 or more, else Failed
    bool FailWith(i32 code);       // keeps the code; false
    // Not virtual: accepts inside call it while the destructor may already run.
    void StoreError(i32 code) { lastError.store(code, std::memory_order_relaxed); }

    // Constant after construction (Accept and MoveSocket fill a new object before it is shared).
    i32 type = plat::kSockStream;
    plat::SockAddr4 address;
    bool hostNotFound = false;
    // Written by any thread that uses the socket; a plain record of the last failure.
    std::atomic<i32> lastError{0};
    // The owning thread's; on a listening socket read under lock by accepting threads and
    // changed under lock by the one that closes it.
    plat::UniqueFd handle;
    // Under lock: a handle already shut down, closed when the last accept inside leaves.
    plat::UniqueFd closeWhenIdle;
};

// The text of a Windows Sockets code ("Error : %i" for codes without one).
void SocketErrorText(i32 code, tString& text);

// The options of the server's sockets: linger on with 0 s (a close resets), keep-alive and
// no-delay. A socket that refuses one still works, so failures are not reported.
void SetServerSocketOptions(tSocketBase& socket);

// A socket held by another object, usually a connection: every operation goes to the held
// socket. Without one, operations fail with 10038 (not a socket).
class tSocketAPI : public tSocketBase {
public:
    tSocketAPI() = default;
    tSocketAPI(tSocket* socket, bool ownsSocket);
    ~tSocketAPI() override;  // deletes the held socket when it owns it

    // Holds socket from now on (an old owned one is deleted).
    void HoldSocket(tSocket* socket, bool ownsSocket);
    tSocket* GetSocket() const { return socket; }  // owned as OwnsSocket says
    bool OwnsSocket() const { return owned != nullptr; }

    i32 GetHandle() override;
    void SetHandle(i32 handle) override;
    i32 Close() override;
    void SetLastError(i32 code) override;
    i32 GetLastError() override;
    void GetErrorText(tString& text) override;
    i32 SetBlocking(u8 on) override;
    i32 Shutdown(i32 how) override;
    i32 CloseSocket() override;
    bool Listen(i32 backlog) override;
    bool Bind() override;
    bool GetSockName() override;
    bool Connect() override;
    bool SetOption(i32 level, i32 name, const void* value, i32 length) override;
    bool GetOption(i32 level, i32 name, void* value, i32* length) override;
    bool IoCtl(i32 command, u32* argument) override;
    std::unique_ptr<tSocket> Accept() override;
    std::unique_ptr<tSocket> AcceptCounted(i32 seconds) override;
    bool IsConnected() override;
    i32 SetNonBlocking(u32 on) override;
    bool GetHostByAddr(i32 family, tString& name) override;
    i32 Send(const void* buffer, i32 length, i32 flags) override;
    i32 Recv(void* buffer, i32 length) override;
    i32 RecvTimeout(void* buffer, i32 length, i32 flags, i32 seconds) override;
    bool WaitRead(i32 seconds, i32 microseconds) override;
    bool WaitWrite(i32 seconds, i32 microseconds) override;
    i32 SendTo(const plat::SockAddr4& to, const void* buffer, i32 length) override;
    i32 RecvFrom(plat::SockAddr4* from, void* buffer, i32 length) override;
    u16 GetPort() override;
    void GetAddressText(tString& text) override;
    bool GetLocalHostAddr(tString& text) override;
    bool ResolveHost(const char* text, tString& address) override;
    i32 GetType() override;

private:
    std::unique_ptr<tSocket> owned;  // the held socket when owned
    tSocket* socket = nullptr;       // the held socket; owned by `owned` or by someone else
};
