// POSIX sockets with errno turned into Windows Sockets codes, poll() in place of select(), and
// MSG_NOSIGNAL on every send.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace plat {

static_assert(kAfInet == AF_INET && kSockStream == SOCK_STREAM && kSockDgram == SOCK_DGRAM);
static_assert(kSolSocket == SOL_SOCKET && kIpProtoTcp == IPPROTO_TCP);
static_assert(kSoReuseAddr == SO_REUSEADDR && kSoSndBuf == SO_SNDBUF && kSoRcvBuf == SO_RCVBUF);
static_assert(kSoKeepAlive == SO_KEEPALIVE && kSoLinger == SO_LINGER);
static_assert(kSoRcvTimeo == SO_RCVTIMEO && kSoSndTimeo == SO_SNDTIMEO);
static_assert(kTcpNoDelay == TCP_NODELAY && kMsgOob == MSG_OOB && kMsgPeek == MSG_PEEK);
static_assert(kMsgDontWait == MSG_DONTWAIT);
static_assert(kShutRead == SHUT_RD && kShutWrite == SHUT_WR && kShutBoth == SHUT_RDWR);
static_assert(kIoNonBlocking == FIONBIO && kIoBytesReadable == FIONREAD);
static_assert(sizeof(SockLinger) == sizeof(linger) && offsetof(linger, l_linger) == sizeof(int));

namespace {

struct tErrnoCode {
    int errnoValue;
    int code;
};

// EBADF: a descriptor that is not open is what Windows reports as "not a socket".
const tErrnoCode kErrnoCodes[] = {
    {EINTR, 10004},        {EBADF, 10038},           {EACCES, 10013},
    {EPERM, 10013},        {EFAULT, 10014},          {EINVAL, 10022},
    {EMFILE, 10024},       {ENFILE, 10024},          {EWOULDBLOCK, 10035},
    {EINPROGRESS, 10036},  {EALREADY, 10037},        {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},   {ENETDOWN, 10050},
    {ENETUNREACH, 10051},  {ENETRESET, 10052},       {ECONNABORTED, 10053},
    {ECONNRESET, 10054},   {EPIPE, 10054},           {ENOBUFS, 10055},
    {ENOMEM, 10055},       {EISCONN, 10056},         {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},    {ETOOMANYREFS, 10059},    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061}, {ELOOP, 10062},           {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},    {ENOTEMPTY, 10066},
    {EUSERS, 10068},       {EDQUOT, 10069},          {ESTALE, 10070},
    {EREMOTE, 10071},
};

int Failed() { return -SocketErrorFromErrno(errno); }

bool IsBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    return flags != -1 && (flags & O_NONBLOCK) == 0;
}

// A blocking call that gives EAGAIN ran out of its SO_RCVTIMEO or SO_SNDTIMEO.
int FailedTransfer(int fd, int flags) {
    int e = errno;
    bool wouldBlock = e == EAGAIN || e == EWOULDBLOCK;
    if (wouldBlock && (flags & MSG_DONTWAIT) == 0 && IsBlocking(fd)) return -kSockTimedOut;
    return -SocketErrorFromErrno(e);
}

int FromAddrInfoError(int rc) {
    switch (rc) {
        case EAI_NONAME:
        case EAI_FAMILY:
            return -kSockHostNotFound;
        case EAI_AGAIN:
            return -kSockTryAgain;
        case EAI_FAIL:
            return -kSockNoRecovery;
        case EAI_NODATA:
        case EAI_ADDRFAMILY:
            return -kSockNoData;
        case EAI_MEMORY:
            return -SocketErrorFromErrno(ENOMEM);
        case EAI_OVERFLOW:
            return -SocketErrorFromErrno(ENAMETOOLONG);
        case EAI_SYSTEM:
            return Failed();
        default:
            return -kSockNoRecovery;
    }
}

sockaddr_in ToSockAddr(const SockAddr4& a) {
    sockaddr_in s{};
    s.sin_family = a.family;
    s.sin_port = a.port;
    s.sin_addr.s_addr = a.addr;
    return s;
}

void FromSockAddr(const sockaddr_in& s, SockAddr4* a) {
    if (!a) return;
    a->family = s.sin_family;
    a->port = s.sin_port;
    a->addr = s.sin_addr.s_addr;
}

bool IsTimeoutOption(int level, int name) {
    return level == SOL_SOCKET && (name == SO_RCVTIMEO || name == SO_SNDTIMEO);
}

}  // namespace

void StartSockets() {
    std::signal(SIGPIPE, SIG_IGN);
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int SocketErrorFromErrno(int errnoValue) {
    for (const auto& e : kErrnoCodes) {
        if (e.errnoValue == errnoValue) return e.code;
    }
    return errnoValue;
}

std::uint16_t HostToNet16(std::uint16_t v) { return htons(v); }
std::uint16_t NetToHost16(std::uint16_t v) { return ntohs(v); }
std::uint32_t HostToNet32(std::uint32_t v) { return htonl(v); }
std::uint32_t NetToHost32(std::uint32_t v) { return ntohl(v); }

int OpenSocket(int family, int type) {
    int fd = ::socket(family, type | SOCK_CLOEXEC, 0);
    return fd == -1 ? Failed() : fd;
}

int Bind(int fd, const SockAddr4& addr) {
    sockaddr_in s = ToSockAddr(addr);
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&s), sizeof s) == 0 ? 0 : Failed();
}

int GetSockName(int fd, SockAddr4* addr) {
    sockaddr_in s{};
    socklen_t len = sizeof s;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&s), &len) != 0) return Failed();
    FromSockAddr(s, addr);
    return 0;
}

int Listen(int fd, int backlog) { return ::listen(fd, backlog) == 0 ? 0 : Failed(); }

int MaxListenBacklog() { return SOMAXCONN; }

int Accept(int fd, SockAddr4* peer) {
    sockaddr_in s{};
    socklen_t len = sizeof s;
    int accepted;
    do {
        accepted = ::accept4(fd, reinterpret_cast<sockaddr*>(&s), &len, SOCK_CLOEXEC);
    } while (accepted == -1 && errno == EINTR);
    if (accepted == -1) return Failed();
    FromSockAddr(s, peer);
    return accepted;
}

int Connect(int fd, const SockAddr4& addr) {
    sockaddr_in s = ToSockAddr(addr);
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&s), sizeof s) == 0 ? 0 : Failed();
}

long Send(int fd, const void* buffer, std::size_t length, int flags) {
    const char* bytes = static_cast<const char*>(buffer);
    std::size_t sent = 0;
    do {
        ssize_t n = ::send(fd, bytes + sent, length - sent, flags | MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (sent > 0) break;
            return FailedTransfer(fd, flags);
        }
        sent += static_cast<std::size_t>(n);
    } while (sent < length);
    return static_cast<long>(sent);
}

long Recv(int fd, void* buffer, std::size_t length, int flags) {
    ssize_t n;
    do {
        n = ::recv(fd, buffer, length, flags);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? FailedTransfer(fd, flags) : static_cast<long>(n);
}

long SendTo(int fd, const SockAddr4& to, const void* buffer, std::size_t length) {
    sockaddr_in s = ToSockAddr(to);
    ssize_t n =
        ::sendto(fd, buffer, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&s), sizeof s);
    return n < 0 ? FailedTransfer(fd, 0) : static_cast<long>(n);
}

long RecvFrom(int fd, SockAddr4* from, void* buffer, std::size_t length) {
    sockaddr_in s{};
    socklen_t len = sizeof s;
    ssize_t n = ::recvfrom(fd, buffer, length, 0, reinterpret_cast<sockaddr*>(&s), &len);
    if (n < 0) return FailedTransfer(fd, 0);
    FromSockAddr(s, from);
    return static_cast<long>(n);
}

int SetOption(int fd, int level, int name, const void* value, std::uint32_t length) {
    if (IsTimeoutOption(level, name) && value && length == sizeof(std::uint32_t)) {
        std::uint32_t ms;
        std::memcpy(&ms, value, sizeof ms);
        timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000) * 1000};
        return ::setsockopt(fd, level, name, &tv, sizeof tv) == 0 ? 0 : Failed();
    }
    return ::setsockopt(fd, level, name, value, length) == 0 ? 0 : Failed();
}

int GetOption(int fd, int level, int name, void* value, std::uint32_t* length) {
    if (IsTimeoutOption(level, name) && value && length && *length >= sizeof(std::uint32_t)) {
        timeval tv{};
        socklen_t len = sizeof tv;
        if (::getsockopt(fd, level, name, &tv, &len) != 0) return Failed();
        std::uint32_t ms = static_cast<std::uint32_t>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
        std::memcpy(value, &ms, sizeof ms);
        *length = sizeof ms;
        return 0;
    }
    socklen_t len = length ? *length : 0;
    if (::getsockopt(fd, level, name, value, &len) != 0) return Failed();
    if (length) *length = len;
    return 0;
}

int IoCtl(int fd, int command, std::uint32_t* argument) {
    int value = argument ? static_cast<int>(*argument) : 0;
    if (::ioctl(fd, static_cast<unsigned long>(command), &value) != 0) return Failed();
    if (argument) *argument = static_cast<std::uint32_t>(value);
    return 0;
}

int Shutdown(int fd, int how) { return ::shutdown(fd, how) == 0 ? 0 : Failed(); }

int CloseSocket(UniqueFd& fd) {
    int rc = fd.Close();
    return rc == 0 ? 0 : -SocketErrorFromErrno(rc);
}

int WaitSocket(int fd, bool forWrite, int timeoutMs, bool* urgent) {
    if (urgent) *urgent = false;
    // poll() skips a negative descriptor and would sleep out the whole time-out.
    if (fd < 0) return -kSockNotSocket;
    pollfd p{fd, static_cast<short>(forWrite ? POLLOUT : (POLLIN | POLLPRI)), 0};
    int n;
    do {
        n = ::poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
    } while (n < 0 && errno == EINTR);
    if (urgent) *urgent = n > 0 && (p.revents & POLLPRI) != 0;
    if (n < 0) return Failed();
    if (n == 0) return 0;
    if (p.revents & POLLNVAL) return -kSockNotSocket;
    // As with select(): an error or a hang-up counts as ready, and the next call reports it.
    short ready = forWrite ? (POLLOUT | POLLERR | POLLHUP) : (POLLIN | POLLERR | POLLHUP);
    return (p.revents & ready) ? 1 : 0;
}

int GetHostName(char* buffer, std::size_t size) {
    if (::gethostname(buffer, size) != 0) return Failed();
    if (size > 0) buffer[size - 1] = 0;
    return 0;
}

int ResolveIPv4(const char* host, std::uint32_t* addr) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = ::getaddrinfo(host, nullptr, &hints, &found);
    if (rc != 0) return FromAddrInfoError(rc);
    int result = -kSockNoData;
    for (addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr) {
            *addr = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
            result = 0;
            break;
        }
    }
    ::freeaddrinfo(found);
    return result;
}

int NameOfIPv4(std::uint32_t addr, char* buffer, std::size_t size) {
    sockaddr_in s{};
    s.sin_family = AF_INET;
    s.sin_addr.s_addr = addr;
    int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&s), sizeof s, buffer,
                           static_cast<socklen_t>(size), nullptr, 0, NI_NAMEREQD);
    return rc == 0 ? 0 : FromAddrInfoError(rc);
}

bool ParseIPv4(const char* text, std::uint32_t* addr) {
    in_addr a{};
    if (!text || ::inet_aton(text, &a) == 0) return false;
    *addr = a.s_addr;
    return true;
}

void FormatIPv4(std::uint32_t addr, char* buffer, std::size_t size) {
    in_addr a{};
    a.s_addr = addr;
    if (!::inet_ntop(AF_INET, &a, buffer, static_cast<socklen_t>(size)) && size > 0) buffer[0] = 0;
}

}  // namespace plat
