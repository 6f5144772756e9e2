// The listener: binding with retries, the paced loop, the worker counters; and the worker base
// that answers for the connection it serves.
//
// Listener:
//  (1) stepCount is 0 or 1 and changes under stepLock: OnAccept never runs twice at once.
//  (2) noWorkers is set exactly while threadCount and workerObjects are both 0; all three
//      change together under countLock.
//  (3) The listening socket is replaced only by Listen, before the thread starts, and deleted
//      only by the destructor, after (2) shows that no worker is left in its body.
#include "lib_base/sockserver.h"

#include <chrono>

#include "lib_base/gmlassert.h"
#include "lib_base/printer.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace {

constexpr i32 kMaxPort = 65535;

}  // namespace

tTryWaiting::tTryWaiting(tCriticalSection* section)
    : section(section && section->TryEnter() ? section : nullptr) {}

tTryWaiting::~tTryWaiting() {
    if (section) section->Leave();
}

tSockServer::tSockServer(tThreadList* threads, bool autoDelete)
    : tThread(threads, autoDelete), threads(threads) {}

tSockServer::~tSockServer() {
    for (;;) {
        noWorkers.Wait(-1);
        // Taking the lock also waits for the worker that set the event to leave the lock.
        tWaiting hold(&countLock, __FILE__, __LINE__);
        if (threadCount == 0 && workerObjects == 0) break;
    }
    listening.reset();
}

void tSockServer::SetPacing(const tListenerPacing& newPacing) { pacing = newPacing; }

bool tSockServer::IsShuttingDown() { return threads && threads->IsShuttingDown(); }

i32 tSockServer::Execute() {
    i32 round = 1;
    while (!IsTerminated() && !IsShuttingDown()) {
        if (listening) RunAcceptStep();
        OnStep();
        PauseRound();
        if (++round > kMaintenanceRounds) {
            OnMaintenance();
            round = 0;
        }
    }
    Terminate(1);
    if (listening) {
        // Workers still inside an accept wake and return nothing.
        listening->SetRefuse();
        listening->CloseSocket();
    }
    return 0;
}

// Waits out the round; each wake inside it runs one more accept step.
void tSockServer::PauseRound() {
    using tClock = std::chrono::steady_clock;
    const tClock::time_point end =
        tClock::now() + std::chrono::milliseconds(pacing.roundMs > 0 ? pacing.roundMs : 0);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - tClock::now());
        if (left.count() <= 0 || !wake.Wait(static_cast<long>(left.count()))) return;
        // Reset before the step: a worker that wakes the listener from here on is either seen
        // by this step or wakes the next one.
        wake.Reset();
        if (IsTerminated() || IsShuttingDown()) return;
        if (listening) RunAcceptStep();
    }
}

bool tSockServer::RunAcceptStep() {
    {
        tWaiting hold(&stepLock, __FILE__, __LINE__);
        if (stepCount > 0) return false;
        ++stepCount;
    }
    // Counts the step out on every way out of OnAccept, an assertion included (invariant 1).
    struct tStepOut {
        tSockServer* server;
        ~tStepOut() {
            tWaiting hold(&server->stepLock, __FILE__, __LINE__);
            --server->stepCount;
        }
    } stepOut{this};
    OnAccept();
    return true;
}

bool tSockServer::Disable() {
    tWaiting hold(&enableLock, __FILE__, __LINE__);
    enabled = false;
    return true;
}

bool tSockServer::Enable() {
    tWaiting hold(&enableLock, __FILE__, __LINE__);
    enabled = true;
    return true;
}

bool tSockServer::IsEnabled() {
    tWaiting hold(&enableLock, __FILE__, __LINE__);
    return enabled;
}

void tSockServer::Terminate(u8 force) {
    if (!IsTerminated()) tThread::Terminate(force);
    wake.Set();
}

std::unique_ptr<tSocket> tSockServer::CreateSocket() { return std::make_unique<tSocket>(); }

std::unique_ptr<tSocket> tSockServer::CreateSocketHost(i32 family, const char* host, i32 onPort,
                                                       i32 type) {
    return std::make_unique<tSocket>(family, host, static_cast<u16>(onPort), type);
}

std::unique_ptr<tSocket> tSockServer::CreateSocketAddr(i32 family, u32 address, i32 onPort,
                                                       i32 type) {
    return std::make_unique<tSocket>(family, address, static_cast<u16>(onPort), type);
}

bool tSockServer::Listen(i32 onPort) {
    listening.reset();
    std::unique_ptr<tSocket> socket;
    if (onPort >= 0 && onPort <= kMaxPort) {
        socket = CreateSocketAddr(plat::kAfInet, 0, onPort, plat::kSockStream);
    }
    if (!socket || socket->GetHandle() == -1) {
        BasePrintf("[SOCKSERVER] Failed to create Socket on port %ld - error #%d\n",
                   static_cast<long>(onPort),
                   socket ? socket->GetLastError() : plat::kSockInvalidArgument);
        return false;
    }
    return ListenOn(std::move(socket), onPort);
}

bool tSockServer::ListenAddr(i32 onPort, const char* address) {
    listening.reset();
    std::unique_ptr<tSocket> socket;
    if (onPort >= 0 && onPort <= kMaxPort && address) {
        socket = CreateSocketHost(plat::kAfInet, address, onPort, plat::kSockStream);
    }
    if (!socket || socket->GetHandle() == -1) {
        BasePrintf("[SOCKSERVER] Failed to create Socket on port %ld Addr %s - error #%d\n",
                   static_cast<long>(onPort), address ? address : "",
                   socket ? socket->GetLastError() : plat::kSockInvalidArgument);
        return false;
    }
    return ListenOn(std::move(socket), onPort);
}

bool tSockServer::ListenOn(std::unique_ptr<tSocket> socket, i32 onPort) {
    if (!BindWithRetries(*socket, onPort)) return false;
    if (!socket->Listen(plat::MaxListenBacklog())) {
        BasePrintf("[SOCKSERVER] Trying connect to port %ld - listen error #%d\n",
                   static_cast<long>(onPort), socket->GetLastError());
        return false;
    }
    SetServerSocketOptions(*socket);
    port = onPort;
    listening = std::move(socket);
    return true;
}

bool tSockServer::BindWithRetries(tSocket& socket, i32 onPort) {
    for (i32 attempt = 1; attempt <= pacing.bindAttempts; ++attempt) {
        if (IsShuttingDown()) return false;
        if (socket.Bind()) return true;
        BasePrintf("[SOCKSERVER] Trying connect to port %ld - bind error #%d\n",
                   static_cast<long>(onPort), socket.GetLastError());
        if (attempt < pacing.bindAttempts) {
            plat::Sleep(static_cast<u32>(pacing.bindPauseMs > 0 ? pacing.bindPauseMs : 0));
        }
    }
    return false;
}

i32 tSockServer::SetLimit(i32 newLimit) {
    if (newLimit < 1 || newLimit > kMaxLimit) return -1;
    limit.store(newLimit);
    return newLimit;
}

i32 tSockServer::GetPort() {
    if (port == 0 && listening) return listening->GetPort();
    return port;
}

void tSockServer::CountThread(i32 delta) {
    tWaiting hold(&countLock, __FILE__, __LINE__);
    threadCount += delta;
    UpdateNoWorkers();
}

void tSockServer::CountWorkerObject(i32 delta) {
    tWaiting hold(&countLock, __FILE__, __LINE__);
    workerObjects += delta;
    UpdateNoWorkers();
}

void tSockServer::UpdateNoWorkers() {
    if (threadCount == 0 && workerObjects == 0) {
        noWorkers.Set();
    } else {
        noWorkers.Reset();
    }
}

void tSockServer::CountBusy(i32 delta) {
    bool lastTaken = false;
    {
        tWaiting hold(&countLock, __FILE__, __LINE__);
        busyCount += delta;
        lastTaken = delta > 0 && busyCount >= threadCount;
    }
    if (lastTaken) WakeListener();  // no worker waits for the next connection any more
}

i32 tSockServer::GetThreadCount() {
    tWaiting hold(&countLock, __FILE__, __LINE__);
    return threadCount;
}

i32 tSockServer::GetBusyCount() {
    tWaiting hold(&countLock, __FILE__, __LINE__);
    return busyCount;
}

tThreadCountGuard::tThreadCountGuard(tSockServer* server) : server(server) {
    if (server) server->CountThread(1);
}

tThreadCountGuard::~tThreadCountGuard() {
    if (server) server->CountThread(-1);
}

tBusyCountGuard::tBusyCountGuard(tSockServer* server) : server(server) {
    if (server) server->CountBusy(1);
}

tBusyCountGuard::~tBusyCountGuard() {
    if (server) server->CountBusy(-1);
}

tWThreadBase::tWThreadBase(tThreadList* threads, tSockServer* server)
    : tThread(threads, true), server(server) {
    if (server) server->CountWorkerObject(1);
}

tWThreadBase::~tWThreadBase() {
    {
        tWaiting hold(&connectionLock, __FILE__, __LINE__);
        connection.reset();
    }
    // The last touch of the server: it may be deleted from here on.
    if (server) server->CountWorkerObject(-1);
}

i32 tWThreadBase::GetThreadType() { return threadType.load(); }

void tWThreadBase::SetThreadType(i32 type) { threadType.store(type); }

bool tWThreadBase::CanKill() { return canKill.load(); }

void tWThreadBase::SetCanKill(u8 allowed) { canKill.store(allowed != 0); }

tString tWThreadBase::GetClientComputer() {
    tWaiting hold(&connectionLock, __FILE__, __LINE__);
    return connection ? connection->GetClientComputer() : tString();
}

tString tWThreadBase::GetClientUser() {
    tWaiting hold(&connectionLock, __FILE__, __LINE__);
    return connection ? connection->GetClientUser() : tString();
}

bool tWThreadBase::Done() {
    tWaiting hold(&connectionLock, __FILE__, __LINE__);
    return connection ? connection->Done() : true;
}

void tWThreadBase::Terminate(u8 force) {
    if (IsTerminated()) return;
    {
        tWaiting hold(&connectionLock, __FILE__, __LINE__);
        if (connection) connection->Terminate(force);
    }
    tThread::Terminate(force);
}

// Only the worker's own thread changes the connection, so it reads it without the lock.
tSockConn* tWThreadBase::GetConnection() { return connection.get(); }

void tWThreadBase::HoldConnection(std::unique_ptr<tSockConn> newConnection) {
    GML_ASSERT(connectionLock.IsHeldByMe(), "connection changed without its lock");
    connection = std::move(newConnection);
}
