// Exports of the connection family: making, connecting, disconnecting and releasing the five
// kinds of connection, and the queries that need no request.
#include <algorithm>
#include <cstring>

#include "client/clientconn.h"
#include "client/exports.h"
#include "client/gatemillapi.h"

using gmapi::Guarded;

namespace {

template <class T, class... Args>
GM_HANDLE NewConnection(Args... args) noexcept {
    return Guarded<GM_HANDLE>(nullptr, 0,
                              [&]() { return AddHandle(std::make_shared<T>(args...)); });
}

// Releases any kind of connection; disconnecting first when asked.
int16_t ReleaseConnection(GM_HANDLE handle, bool disconnect) noexcept {
    std::shared_ptr<tBasicClient> held;
    return Guarded<int16_t>(held, 0, [&]() -> int16_t {
        held = FindHandleOf<tBasicClient>(handle);
        if (!held) return 0;
        held->BeginCall();
        if (disconnect) held->Disconnect();
        RemoveHandle(handle);
        return 0;
    });
}

// A handshake on a connection of kind T: connect(T&) runs it.
template <class T, class Connect>
int16_t ConnectWith(GM_HANDLE handle, Connect connect) noexcept {
    std::shared_ptr<tBasicClient> held;
    return Guarded<int16_t>(
        held, RC_NOT_CONNECTED,
        [&]() -> int16_t {
            auto client = FindHandleOf<T>(handle);
            held = client;
            if (!client) return RC_NOT_CONNECTED;
            client->BeginCall();
            return connect(*client);
        },
        RC_NOT_CONNECTED);
}

template <class T>
int16_t ConnectAs(GM_HANDLE handle, const char* host, const char* string1,
                  const char* string2) noexcept {
    return ConnectWith<T>(handle,
                          [&](T& client) { return client.Connect(host, string1, string2); });
}

int16_t DisconnectAny(GM_HANDLE handle) noexcept {
    std::shared_ptr<tBasicClient> held;
    return Guarded<int16_t>(held, 0, [&]() -> int16_t {
        held = FindHandleOf<tBasicClient>(handle);
        if (!held) return 0;
        held->BeginCall();
        held->Disconnect();
        return 0;
    });
}

int16_t IsConnectedAny(GM_HANDLE handle) noexcept {
    return Guarded<int16_t>(nullptr, 0, [&]() -> int16_t {
        auto client = FindHandleOf<tBasicClient>(handle);
        return client && client->IsConnected() ? 1 : 0;
    });
}

// Copies a text of at most kServerTextSize bytes with its NUL.
void CopyServerText(char* out, const tString& text) {
    if (!out) return;
    const size_t n = std::min<size_t>(static_cast<size_t>(text.GetLength()), kServerTextSize - 1);
    std::memcpy(out, text.GetText(), n);
    out[n] = '\0';
}

template <class Getter>
int16_t CopyHandshakeText(GM_HANDLE handle, char* out, Getter getter) noexcept {
    return Guarded<int16_t>(nullptr, RC_NOT_CONNECTED, [&]() -> int16_t {
        auto client = FindHandleOf<tBasicClient>(handle);
        if (!client || !client->IsConnected()) {
            if (out) out[0] = '\0';
            return RC_NOT_CONNECTED;
        }
        CopyServerText(out, getter(*client));
        return 0;
    });
}

}  // namespace

GM_HANDLE GM_GetGmlConn(uint32_t, uint16_t port) { return NewConnection<tGMLClient>(port); }
GM_HANDLE GM_GetManager(uint16_t port) { return NewConnection<tManagerClient>(port); }
GM_HANDLE GM_GetLockClient(uint16_t port) { return NewConnection<tLockClient>(port); }
GM_HANDLE GM_GetAudit(uint16_t port) { return NewConnection<tAuditClient>(port, '0'); }
GM_HANDLE GM_GetAuditMonitor(uint16_t port) { return NewConnection<tAuditClient>(port, '1'); }

int16_t GM_Release(GM_HANDLE handle) { return ReleaseConnection(handle, false); }
int16_t GM_ReleaseManager(GM_HANDLE handle) { return ReleaseConnection(handle, false); }
int16_t GM_ReleaseLockClient(GM_HANDLE handle) { return ReleaseConnection(handle, true); }
int16_t GM_ReleaseAudit(GM_HANDLE handle) { return ReleaseConnection(handle, true); }
int16_t GM_ReleaseAuditMonitor(GM_HANDLE handle) { return ReleaseConnection(handle, true); }

int16_t GM_Connect(GM_HANDLE handle, const char* host, const char* environment, const char* info) {
    return ConnectAs<tBasicClient>(handle, host, environment, info);
}

int16_t GM_m4GLConnect(GM_HANDLE handle, const char* host, const char* environment,
                       const char* info) {
    return ConnectWith<tGMLClient>(
        handle, [&](tGMLClient& client) { return client.ConnectMode(host, environment, info, 0); });
}

int16_t GM_ConnectManager(GM_HANDLE handle, const char* host) {
    return ConnectAs<tManagerClient>(handle, host, nullptr, nullptr);
}

int16_t GM_ConnectLockClient(GM_HANDLE handle, const char* host) {
    return ConnectAs<tLockClient>(handle, host, nullptr, nullptr);
}

int16_t GM_ConnectAudit(GM_HANDLE handle, const char* host, const char* caller) {
    return ConnectAs<tAuditClient>(handle, host, caller, nullptr);
}

int16_t GM_ConnectAuditMonitor(GM_HANDLE handle, const char* host, const char* caller) {
    return ConnectAs<tAuditClient>(handle, host, caller, nullptr);
}

int16_t GM_DisConnect(GM_HANDLE handle) { return DisconnectAny(handle); }
int16_t GM_DisconnectManager(GM_HANDLE handle) { return DisconnectAny(handle); }
int16_t GM_DisconnectLockClient(GM_HANDLE handle) { return DisconnectAny(handle); }
int16_t GM_DisconnectAudit(GM_HANDLE handle) { return DisconnectAny(handle); }
int16_t GM_DisconnectAuditMonitor(GM_HANDLE handle) { return DisconnectAny(handle); }

int16_t GM_IsConnected(GM_HANDLE handle) { return IsConnectedAny(handle); }
int16_t GM_ManagerIsConnected(GM_HANDLE handle) { return IsConnectedAny(handle); }
int16_t GM_LockClientIsConnected(GM_HANDLE handle) { return IsConnectedAny(handle); }

int16_t GM_GetConnType(GM_HANDLE) { return 2; }

int16_t GM_GetServerType(GM_HANDLE handle, char* out) {
    return CopyHandshakeText(handle, out,
                             [](tBasicClient& client) { return client.GetServerType(); });
}

int16_t GM_GetServerInfo(GM_HANDLE handle, char* out) {
    return CopyHandshakeText(handle, out,
                             [](tBasicClient& client) { return client.GetServerInfo(); });
}

int16_t GM_GetApiBuild(GM_HANDLE, char* out) {
    if (out) std::memcpy(out, kApiBuild, std::strlen(kApiBuild) + 1);
    return 0;
}

int16_t GM_GetBuild(GM_HANDLE handle, char* out) {
    std::shared_ptr<tBasicClient> held;
    return Guarded<int16_t>(held, RC_NOT_CONNECTED, [&]() -> int16_t {
        held = FindHandleOf<tBasicClient>(handle);
        if (!held) return RC_NOT_CONNECTED;
        held->BeginCall();
        tString build;
        const i16 status = held->GetServerBuild(build);
        if (status == 0) CopyServerText(out, build);
        return status;
    });
}
