// tSocket over the platform's socket layer, the line reader every socket shares, and the
// error texts.
//
// Listening socket, shared by the accepting threads and the one that closes it:
//  (1) inUse counts the AcceptCounted calls between taking the handle and leaving; both
//      change under lock.
//  (2) An accept takes the handle under lock and never after it was released, so a handle
//      number it uses is never closed (and reused) while it is inside.
//  (3) Releasing the handle shuts it down at once, which wakes every accept; when accepts are
//      inside, the descriptor waits in closeWhenIdle and the last one to leave closes it.
#include "lib_base/sockets.h"

#include <climits>
#include <cstring>

#include "platform/thread.h"

namespace {

void StartSocketsOnce() {
    static const bool started = (plat::StartSockets(), true);
    (void)started;
}

// A time-out as poll() milliseconds; negative parts count as 0, a fraction of a ms as 1 ms.
int ToPollMs(i32 seconds, i32 microseconds) {
    i64 ms = static_cast<i64>(seconds > 0 ? seconds : 0) * 1000;
    if (microseconds > 0) ms += (static_cast<i64>(microseconds) + 999) / 1000;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

constexpr size_t kHostNameBytes = 1024;

const struct {
    i32 code;
    const char* text;
} kErrorTexts[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Access denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "tSocket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol is wrong type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "tSocket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "ICMP network unreachable"},
    {10052, "Network was reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space is supported"},
    {10056, "tSocket is already connected"},
    {10057, "tSocket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "Name too long"},
    {10064, "Host is down"},
    {10065, "Host is unreachable"},
    {10066, "Directory not empty"},
    {10067, "EPROCLIM returned"},
    {10068, "EUSERS returned"},
    {10069, "Disk quota exceeded"},
    {10070, "ESTALE returned"},
    {10071, "The object is remote"},
    {10091, "System not ready"},
    {10092, "Version is not supported"},
    {10093, "Not initialized"},
    {11001, "Host not found"},
    {11002, "Try again"},
    {11003, "Non-recoverable error"},
    {11004, "No data record available"},
};

constexpr i32 kSockBadAddress = 10014;
constexpr i32 kSockNotSupported = 10045;
constexpr i32 kSockFamilyNotSupported = 10047;

}  // namespace

void SocketErrorText(i32 code, tString& text) {
    for (const auto& e : kErrorTexts) {
        if (e.code == code) {
            text = e.text;
            return;
        }
    }
    text.sprintf("Error : %i", code);
}

void SetServerSocketOptions(tSocketBase& socket) {
    plat::SockLinger hard{1, 0};
    socket.SetOption(plat::kSolSocket, plat::kSoLinger, &hard, sizeof hard);
    int on = 1;
    socket.SetOption(plat::kSolSocket, plat::kSoKeepAlive, &on, sizeof on);
    socket.SetOption(plat::kIpProtoTcp, plat::kTcpNoDelay, &on, sizeof on);
}

u32 tSocketBase::RecvLine(char* buffer, u32 size, i32 seconds) {
    if (!buffer || size < 1) return 0;
    std::memset(buffer, 0, size);
    u32 stored = 0;
    while (stored < size - 1) {
        char c = 0;
        if (RecvTimeout(&c, 1, 0, seconds) < 1) break;
        buffer[stored++] = c;
        if (c != '\r' || stored == size - 1) continue;
        // The byte after a CR is already on its way: no time-out for it.
        if (RecvTimeout(&c, 1, 0, 0) < 1) break;
        buffer[stored++] = c;
        if (c == '\n') break;
    }
    return stored;
}

// Counts one AcceptCounted call in for its whole life (invariant 1) and closes a handle that
// was released meanwhile when it is the last one out (invariant 3).
class tSocket::tAcceptCount {
public:
    explicit tAcceptCount(tSocket& socket) : socket(socket) {
        tWaiting hold(&socket.lock, __FILE__, __LINE__);
        fd = socket.handle.Get();
        if (fd != -1) ++socket.inUse;
    }
    ~tAcceptCount() {
        if (fd == -1) return;
        tWaiting hold(&socket.lock, __FILE__, __LINE__);
        if (--socket.inUse == 0) socket.closeWhenIdle.Close();
    }
    tAcceptCount(const tAcceptCount&) = delete;
    tAcceptCount& operator=(const tAcceptCount&) = delete;

    int Fd() const { return fd; }  // -1: the socket was already closed

private:
    tSocket& socket;
    int fd;
};

tSocket::tSocket() { StartSocketsOnce(); }

tSocket::tSocket(i32 family, u32 address, u16 port, i32 type) : type(type) {
    StartSocketsOnce();
    this->address.family = static_cast<u16>(family);
    this->address.addr = plat::HostToNet32(address);
    this->address.port = plat::HostToNet16(port);
    Open();
}

tSocket::tSocket(i32 family, const char* host, u16 port, i32 type) : type(type) {
    StartSocketsOnce();
    u32 addr = 0;
    if (!plat::ParseIPv4(host, &addr) && (!host || plat::ResolveIPv4(host, &addr) != 0)) {
        hostNotFound = true;
    }
    address.family = static_cast<u16>(family);
    address.addr = addr;
    address.port = plat::HostToNet16(port);
    Open();
}

tSocket::~tSocket() {
    Close();
    // An accept still inside was woken by the shutdown in Close; it leaves at once.
    for (;;) {
        {
            tWaiting hold(&lock, __FILE__, __LINE__);
            if (inUse == 0) break;
        }
        plat::Sleep(10);
    }
}

void tSocket::Open() {
    int fd = plat::OpenSocket(address.family, type);
    if (fd < 0) {
        StoreError(-fd);
        return;
    }
    handle.Reset(fd);
    StoreError(0);
}

i32 tSocket::Failed(long result) {
    StoreError(static_cast<i32>(-result));
    return -1;
}

bool tSocket::Kept(long result) {
    if (result >= 0) return true;
    Failed(result);
    return false;
}

bool tSocket::FailWith(i32 code) {
    StoreError(code);
    return false;
}

i32 tSocket::Counted(long result) { return result < 0 ? Failed(result) : static_cast<i32>(result); }

i32 tSocket::GetHandle() {
    tWaiting hold(&lock, __FILE__, __LINE__);
    return handle.Get();
}

void tSocket::SetHandle(i32 newHandle) {
    tWaiting hold(&lock, __FILE__, __LINE__);
    handle.Reset(newHandle);
}

i32 tSocket::Close() { return ReleaseHandle(true); }

i32 tSocket::CloseSocket() { return ReleaseHandle(false); }

i32 tSocket::ReleaseHandle(bool abortive) {
    tWaiting hold(&lock, __FILE__, __LINE__);
    if (!handle.IsValid()) return 0;
    if (abortive) {
        plat::SockLinger hard{1, 0};
        plat::SetOption(handle.Get(), plat::kSolSocket, plat::kSoLinger, &hard, sizeof hard);
    }
    // shutdown() before close(): close() alone does not wake a thread blocked in accept().
    plat::Shutdown(handle.Get(), plat::kShutBoth);
    if (inUse > 0) {
        closeWhenIdle = std::move(handle);
        return 0;
    }
    int rc = plat::CloseSocket(handle);
    return rc < 0 ? Failed(rc) : 0;
}

void tSocket::GetErrorText(tString& text) { SocketErrorText(lastError.load(), text); }

i32 tSocket::SetBlocking(u8 on) {
    u32 nonBlocking = on ? 0 : 1;
    return IoCtl(plat::kIoNonBlocking, &nonBlocking) ? 0 : -1;
}

i32 tSocket::Shutdown(i32 how) {
    // Under the lock: another thread may call this while the owner closes the handle.
    tWaiting hold(&lock, __FILE__, __LINE__);
    int rc = plat::Shutdown(handle.Get(), how);
    return rc < 0 ? Failed(rc) : 0;
}

bool tSocket::Listen(i32 backlog) {
    if (type != plat::kSockStream) return true;
    int rc = plat::Listen(handle.Get(), backlog);
    return Kept(rc);
}

bool tSocket::Bind() {
    // A host name that was not found must never bind every local address instead.
    if (hostNotFound) return FailWith(plat::kSockHostNotFound);
    int fd = handle.Get();
    if (type == plat::kSockStream) {
        // A restarted server takes its port at once instead of waiting out TIME_WAIT.
        int on = 1;
        plat::SetOption(fd, plat::kSolSocket, plat::kSoReuseAddr, &on, sizeof on);
    }
    int rc = plat::Bind(fd, address);
    if (rc < 0) return Kept(rc);
    return address.port != 0 || GetSockName();
}

bool tSocket::GetSockName() {
    int rc = plat::GetSockName(handle.Get(), &address);
    return Kept(rc);
}

bool tSocket::Connect() {
    if (hostNotFound) {
        StoreError(plat::kSockHostNotFound);
        return false;
    }
    int rc = plat::Connect(handle.Get(), address);
    if (rc < 0) return Kept(rc);
    SetNonBlocking(0);
    return true;
}

bool tSocket::SetOption(i32 level, i32 name, const void* value, i32 length) {
    if (length < 0) return FailWith(kSockBadAddress);
    int rc = plat::SetOption(handle.Get(), level, name, value, static_cast<u32>(length));
    return Kept(rc);
}

bool tSocket::GetOption(i32 level, i32 name, void* value, i32* length) {
    if (!length || *length < 0) return FailWith(kSockBadAddress);
    u32 size = static_cast<u32>(*length);
    int rc = plat::GetOption(handle.Get(), level, name, value, &size);
    if (rc < 0) return Kept(rc);
    *length = static_cast<i32>(size);
    return true;
}

bool tSocket::IoCtl(i32 command, u32* argument) {
    int rc = plat::IoCtl(handle.Get(), command, argument);
    return Kept(rc);
}

std::unique_ptr<tSocket> tSocket::AcceptOn(int fd) {
    if (type != plat::kSockStream) {
        StoreError(kSockNotSupported);
        return nullptr;
    }
    std::unique_ptr<tSocket> accepted(new tSocket());
    int newFd = plat::Accept(fd, &accepted->address);
    // The error is kept on the listening socket, success included.
    StoreError(newFd < 0 ? -newFd : 0);
    if (newFd < 0) return nullptr;
    // Accepted descriptors start blocking: they never inherit the listener's mode on Linux.
    accepted->handle.Reset(newFd);
    return accepted;
}

std::unique_ptr<tSocket> tSocket::Accept() { return AcceptOn(handle.Get()); }

std::unique_ptr<tSocket> tSocket::AcceptCounted(i32 seconds) {
    tAcceptCount count(*this);
    if (count.Fd() == -1) {
        StoreError(plat::kSockNotSocket);
        return nullptr;
    }
    std::unique_ptr<tSocket> accepted = WaitAndAccept(count.Fd(), seconds);
    if (accepted && IsRefusing()) accepted.reset();
    return accepted;
}

std::unique_ptr<tSocket> tSocket::WaitAndAccept(int fd, i32 seconds) {
    u32 nonBlocking = 0;
    if (seconds > 0) {
        if (PollRead(fd, ToPollMs(seconds, 0)) < 1) return nullptr;
        // Another thread may take the waiting connection first: then fail, never block.
        nonBlocking = 1;
    }
    plat::IoCtl(fd, plat::kIoNonBlocking, &nonBlocking);
    return AcceptOn(fd);
}

int tSocket::PollRead(int fd, i32 ms) {
    bool urgent = false;
    int rc = plat::WaitSocket(fd, false, ms, &urgent);
    if (rc < 0) return Failed(rc);
    return rc > 0 && !urgent ? 1 : 0;
}

bool tSocket::IsConnected() {
    int fd = handle.Get();
    bool urgent = false;
    int rc = plat::WaitSocket(fd, false, 0, &urgent);
    if (rc > 0 && urgent) return false;
    if (rc < 0) {
        StoreError(-rc);
        if (-rc == plat::kSockNotSocket || -rc == plat::kSockNetDown ||
            -rc == plat::kSockNotInitialised) {
            return false;
        }
    }
    char peek = 0;
    long n = plat::Recv(fd, &peek, 1, plat::kMsgPeek | plat::kMsgDontWait);
    if (n < 0) {
        StoreError(static_cast<i32>(-n));
        if (-n == plat::kSockInProgress) return true;
        if (-n != plat::kSockWouldBlock) return false;
        n = 0;
    }
    // Readable with nothing to read: the peer has closed.
    return !(n == 0 && rc > 0);
}

i32 tSocket::SetNonBlocking(u32 on) {
    return IoCtl(plat::kIoNonBlocking, &on) ? 0 : lastError.load();
}

bool tSocket::GetHostByAddr(i32 family, tString& name) {
    if (family != plat::kAfInet) return FailWith(kSockFamilyNotSupported);
    char host[1025];
    int rc = plat::NameOfIPv4(address.addr, host, sizeof host);
    if (rc < 0) return Kept(rc);
    name = host;
    return true;
}

i32 tSocket::Send(const void* buffer, i32 length, i32 flags) {
    if (length < 0 || (!buffer && length > 0)) return Failed(-kSockBadAddress);
    long n = plat::Send(handle.Get(), buffer, static_cast<size_t>(length), flags);
    if (n == 0) StoreError(0);
    return Counted(n);
}

i32 tSocket::Recv(void* buffer, i32 length) { return RecvTimeout(buffer, length, 0, 0); }

i32 tSocket::RecvTimeout(void* buffer, i32 length, i32 flags, i32 seconds) {
    if (length < 0 || (!buffer && length > 0)) return Failed(-kSockBadAddress);
    int fd = handle.Get();
    if (seconds > 0) {
        int ready = PollRead(fd, ToPollMs(seconds, 0));
        if (ready == 0) StoreError(plat::kSockTimedOut);
        if (ready < 1) return 0;
    }
    long n = plat::Recv(fd, buffer, static_cast<size_t>(length), flags);
    if (n == 0) StoreError(0);
    return Counted(n);
}

bool tSocket::WaitRead(i32 seconds, i32 microseconds) {
    return PollRead(handle.Get(), ToPollMs(seconds, microseconds)) == 1;
}

bool tSocket::WaitWrite(i32 seconds, i32 microseconds) {
    int rc = plat::WaitSocket(handle.Get(), true, ToPollMs(seconds, microseconds), nullptr);
    if (rc < 0) return Kept(rc);
    return rc == 1;
}

i32 tSocket::SendTo(const plat::SockAddr4& to, const void* buffer, i32 length) {
    if (length < 0 || (!buffer && length > 0)) return Failed(-kSockBadAddress);
    return Counted(plat::SendTo(handle.Get(), to, buffer, static_cast<size_t>(length)));
}

i32 tSocket::RecvFrom(plat::SockAddr4* from, void* buffer, i32 length) {
    if (length < 0 || (!buffer && length > 0)) return Failed(-kSockBadAddress);
    return Counted(plat::RecvFrom(handle.Get(), from, buffer, static_cast<size_t>(length)));
}

u16 tSocket::GetPort() { return plat::NetToHost16(address.port); }

void tSocket::GetAddressText(tString& text) {
    char dotted[16];
    plat::FormatIPv4(address.addr, dotted, sizeof dotted);
    text = dotted;
}

bool tSocket::GetLocalHostAddr(tString& text) {
    char host[kHostNameBytes];
    int rc = plat::GetHostName(host, sizeof host);
    if (rc < 0) return Kept(rc);
    return ResolveHost(host, text);
}

bool tSocket::ResolveHost(const char* text, tString& resolved) {
    if (!text) return FailWith(plat::kSockHostNotFound);
    const char* at = std::strrchr(text, '@');
    u32 addr = 0;
    int rc = plat::ResolveIPv4(at ? at + 1 : text, &addr);
    if (rc < 0) return Kept(rc);
    char dotted[16];
    plat::FormatIPv4(addr, dotted, sizeof dotted);
    resolved = dotted;
    return true;
}

void MoveSocket(tSocket& to, std::unique_ptr<tSocket> from) {
    if (!from) return;
    if (from.get() == &to) {
        from.release();  // moving a socket into itself changes nothing and deletes nothing
        return;
    }
    to.address = from->address;
    to.type = from->type;
    to.hostNotFound = from->hostNotFound;
    to.StoreError(from->lastError.load());
    to.SetHandle(from->handle.Release());
}

tSocketAPI::tSocketAPI(tSocket* socket, bool ownsSocket) { HoldSocket(socket, ownsSocket); }

tSocketAPI::~tSocketAPI() = default;

void tSocketAPI::HoldSocket(tSocket* newSocket, bool ownsSocket) {
    if (owned.get() == newSocket) (void)owned.release();  // held again below, never deleted
    owned.reset(ownsSocket ? newSocket : nullptr);
    socket = newSocket;
}

// Without a held socket every operation fails as on a handle that is not a socket.
#define GM_FORWARD(call, none) \
    if (!socket) return none;  \
    return socket->call

i32 tSocketAPI::GetHandle() { GM_FORWARD(GetHandle(), -1); }
void tSocketAPI::SetHandle(i32 handle) {
    if (socket) socket->SetHandle(handle);
}
i32 tSocketAPI::Close() { GM_FORWARD(Close(), 0); }
void tSocketAPI::SetLastError(i32 code) {
    if (socket) socket->SetLastError(code);
}
i32 tSocketAPI::GetLastError() { GM_FORWARD(GetLastError(), plat::kSockNotSocket); }
void tSocketAPI::GetErrorText(tString& text) { SocketErrorText(GetLastError(), text); }
i32 tSocketAPI::SetBlocking(u8 on) { GM_FORWARD(SetBlocking(on), -1); }
i32 tSocketAPI::Shutdown(i32 how) { GM_FORWARD(Shutdown(how), -1); }
i32 tSocketAPI::CloseSocket() { GM_FORWARD(CloseSocket(), 0); }
bool tSocketAPI::Listen(i32 backlog) { GM_FORWARD(Listen(backlog), false); }
bool tSocketAPI::Bind() { GM_FORWARD(Bind(), false); }
bool tSocketAPI::GetSockName() { GM_FORWARD(GetSockName(), false); }
bool tSocketAPI::Connect() { GM_FORWARD(Connect(), false); }
bool tSocketAPI::SetOption(i32 level, i32 name, const void* value, i32 length) {
    GM_FORWARD(SetOption(level, name, value, length), false);
}
bool tSocketAPI::GetOption(i32 level, i32 name, void* value, i32* length) {
    GM_FORWARD(GetOption(level, name, value, length), false);
}
bool tSocketAPI::IoCtl(i32 command, u32* argument) { GM_FORWARD(IoCtl(command, argument), false); }
std::unique_ptr<tSocket> tSocketAPI::Accept() { GM_FORWARD(Accept(), nullptr); }
std::unique_ptr<tSocket> tSocketAPI::AcceptCounted(i32 seconds) {
    GM_FORWARD(AcceptCounted(seconds), nullptr);
}
bool tSocketAPI::IsConnected() { GM_FORWARD(IsConnected(), false); }
i32 tSocketAPI::SetNonBlocking(u32 on) { GM_FORWARD(SetNonBlocking(on), plat::kSockNotSocket); }
bool tSocketAPI::GetHostByAddr(i32 family, tString& name) {
    GM_FORWARD(GetHostByAddr(family, name), false);
}
i32 tSocketAPI::Send(const void* buffer, i32 length, i32 flags) {
    GM_FORWARD(Send(buffer, length, flags), -1);
}
i32 tSocketAPI::Recv(void* buffer, i32 length) { GM_FORWARD(Recv(buffer, length), -1); }
i32 tSocketAPI::RecvTimeout(void* buffer, i32 length, i32 flags, i32 seconds) {
    GM_FORWARD(RecvTimeout(buffer, length, flags, seconds), -1);
}
bool tSocketAPI::WaitRead(i32 seconds, i32 microseconds) {
    GM_FORWARD(WaitRead(seconds, microseconds), false);
}
bool tSocketAPI::WaitWrite(i32 seconds, i32 microseconds) {
    GM_FORWARD(WaitWrite(seconds, microseconds), false);
}
i32 tSocketAPI::SendTo(const plat::SockAddr4& to, const void* buffer, i32 length) {
    GM_FORWARD(SendTo(to, buffer, length), -1);
}
i32 tSocketAPI::RecvFrom(plat::SockAddr4* from, void* buffer, i32 length) {
    GM_FORWARD(RecvFrom(from, buffer, length), -1);
}
u16 tSocketAPI::GetPort() { GM_FORWARD(GetPort(), 0); }
void tSocketAPI::GetAddressText(tString& text) {
    if (socket) {
        socket->GetAddressText(text);
    } else {
        text.Clear();
    }
}
bool tSocketAPI::GetLocalHostAddr(tString& text) { GM_FORWARD(GetLocalHostAddr(text), false); }
bool tSocketAPI::ResolveHost(const char* text, tString& address) {
    GM_FORWARD(ResolveHost(text, address), false);
}
i32 tSocketAPI::GetType() { GM_FORWARD(GetType(), 0); }

#undef GM_FORWARD
