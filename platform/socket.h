// The socket layer: POSIX sockets behind the calls and the error numbering that the socket
// classes expect. Failures come back as the negated Windows Sockets error code (-10061 for a
// refused connection), never as errno, so the socket classes' texts and code paths are the same
// on every platform.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/unique_fd.h"

namespace plat {

// Windows Sockets error codes that callers test by name; the rest pass through as numbers.
constexpr int kSockInterrupted = 10004;
constexpr int kSockInvalidArgument = 10022;
constexpr int kSockWouldBlock = 10035;
constexpr int kSockInProgress = 10036;
constexpr int kSockNotSocket = 10038;
constexpr int kSockNetDown = 10050;
constexpr int kSockConnReset = 10054;
constexpr int kSockNotConnected = 10057;
constexpr int kSockTimedOut = 10060;
constexpr int kSockConnRefused = 10061;
constexpr int kSockNotInitialised = 10093;
constexpr int kSockHostNotFound = 11001;
constexpr int kSockTryAgain = 11002;
constexpr int kSockNoRecovery = 11003;
constexpr int kSockNoData = 11004;

// Values of the constants that callers pass through (the same numbers as on Linux).
constexpr int kAfInet = 2;
constexpr int kSockStream = 1;
constexpr int kSockDgram = 2;
constexpr int kSolSocket = 1;
constexpr int kIpProtoTcp = 6;
constexpr int kSoReuseAddr = 2;
constexpr int kSoSndBuf = 7;
constexpr int kSoRcvBuf = 8;
constexpr int kSoKeepAlive = 9;
constexpr int kSoLinger = 13;
constexpr int kSoRcvTimeo = 20;  // value: u32 milliseconds, as on Windows
constexpr int kSoSndTimeo = 21;  // value: u32 milliseconds, as on Windows
constexpr int kTcpNoDelay = 1;
constexpr int kMsgOob = 1;
constexpr int kMsgPeek = 2;
constexpr int kMsgDontWait = 0x40;  // this call only: never blocks, whatever the socket's mode
constexpr int kShutRead = 0;
constexpr int kShutWrite = 1;
constexpr int kShutBoth = 2;
constexpr int kIoNonBlocking = 0x5421;    // argument: non-zero switches blocking off
constexpr int kIoBytesReadable = 0x541B;  // argument out: bytes waiting to be read

// The value of the kSoLinger option.
struct SockLinger {
    int onoff;
    int seconds;
};

// An IPv4 socket address; port and address in network byte order.
struct SockAddr4 {
    std::uint16_t family = kAfInet;
    std::uint16_t port = 0;
    std::uint32_t addr = 0;
};

// Once per process, before the first socket: SIGPIPE ignored (a send to a closed peer gives an
// error, never kills the process) and the descriptor limit raised to its hard limit.
void StartSockets();

// The Windows Sockets code for an errno value; values without one pass through unchanged
// (they stay below 10000, so they never read as one).
int SocketErrorFromErrno(int errnoValue);

std::uint16_t HostToNet16(std::uint16_t v);
std::uint16_t NetToHost16(std::uint16_t v);
std::uint32_t HostToNet32(std::uint32_t v);
std::uint32_t NetToHost32(std::uint32_t v);

// Each call below gives its count or descriptor (0 or more) on success, or -code on failure.
int OpenSocket(int family, int type);
int Bind(int fd, const SockAddr4& addr);
int GetSockName(int fd, SockAddr4* addr);
int Listen(int fd, int backlog);
int MaxListenBacklog();               // the system's largest backlog (SOMAXCONN)
int Accept(int fd, SockAddr4* peer);  // the new descriptor, blocking
int Connect(int fd, const SockAddr4& addr);
// A blocking send goes on until every byte is out; a later failure gives the part sent.
long Send(int fd, const void* buffer, std::size_t length, int flags);
long Recv(int fd, void* buffer, std::size_t length, int flags);
long SendTo(int fd, const SockAddr4& to, const void* buffer, std::size_t length);
long RecvFrom(int fd, SockAddr4* from, void* buffer, std::size_t length);
int SetOption(int fd, int level, int name, const void* value, std::uint32_t length);
int GetOption(int fd, int level, int name, void* value, std::uint32_t* length);
int IoCtl(int fd, int command, std::uint32_t* argument);
int Shutdown(int fd, int how);
int CloseSocket(UniqueFd& fd);  // 0 when there was none

// Waits up to timeoutMs (-1: without limit) until the socket can be read (or written, with
// forWrite). 1 when ready, 0 on time-out, -code on failure. *urgent tells, when waiting to
// read, whether out-of-band data is pending.
int WaitSocket(int fd, bool forWrite, int timeoutMs, bool* urgent);

// Host names and addresses. ResolveIPv4 gives the first IPv4 address of a host name or
// dotted text; NameOfIPv4 the host name of an address. 0 or -code (-11001 when not found).
int GetHostName(char* buffer, std::size_t size);
int ResolveIPv4(const char* host, std::uint32_t* addr);
int NameOfIPv4(std::uint32_t addr, char* buffer, std::size_t size);
// Dotted text (the forms that inet_addr accepts) to an address; false when it is not one.
bool ParseIPv4(const char* text, std::uint32_t* addr);
// The address as dotted text into a buffer of at least 16 bytes.
void FormatIPv4(std::uint32_t addr, char* buffer, std::size_t size);

}  // namespace plat
