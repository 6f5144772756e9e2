// How every export meets its caller: the handle look-up, the connection and work-area checks,
// and the boundary that keeps every exception inside the library.
#pragma once
#include <memory>
#include <type_traits>
#include <utility>

#include "client/clientconn.h"
#include "client/handles.h"
#include "client/workarea.h"
#include "lib_base/gmlassert.h"
#include "lib_base/stringz.h"
#include "lib_common/retcodes.h"

namespace gmapi {

// Runs body and gives its result. An exception stops here: once the request had gone out the
// connection is in an unknown state, so it is dropped and the result is dropped (-88 for a
// request, -2 for a handshake); before that the result is fallback. client (may be null) is
// read only after an exception.
template <class R, class Body>
R Guarded(const std::shared_ptr<tBasicClient>& client, R fallback, Body&& body,
          i16 dropped = RC_COMM_FAILURE) noexcept {
    try {
        return body();
    } catch (tAssertException* e) {
        delete e;  // thrown by pointer: the catcher deletes it
    } catch (...) {
    }
    try {
        if (client && client->InExchange()) {
            client->CommFail(dropped);
            if constexpr (std::is_arithmetic_v<R>) return static_cast<R>(dropped);
        }
    } catch (...) {
    }
    return fallback;
}

// A request export of a connection of kind T: -2 unless handle names a connected one that
// accepts (the audit kinds tell their two connections apart).
template <class T, class R, class Body, class Accepts>
R WithConnection(u32 handle, Body&& body, Accepts&& accepts) noexcept {
    std::shared_ptr<tBasicClient> held;
    return Guarded<R>(held, static_cast<R>(RC_NOT_CONNECTED), [&]() -> R {
        auto client = FindHandleOf<T>(handle);
        held = client;
        if (!client || !accepts(*client) || !client->IsConnected()) {
            return static_cast<R>(RC_NOT_CONNECTED);
        }
        client->BeginCall();
        return body(*client);
    });
}

template <class T, class R, class Body>
R WithConnection(u32 handle, Body&& body) noexcept {
    return WithConnection<T, R>(handle, std::forward<Body>(body), [](const T&) { return true; });
}

// A request export of a table connection: -2 unless handle names a connected one.
template <class R, class Body>
R WithTable(u32 handle, Body&& body) noexcept {
    return WithConnection<tGMLClient, R>(handle, std::forward<Body>(body));
}

// A request export on one work area: -24 when the connection has none of that number.
template <class R = i16, class Body>
R WithWorkArea(u32 handle, u16 wa, Body&& body) noexcept {
    return WithTable<R>(handle, [&](tGMLClient& client) -> R {
        tClientWorkArea* area = client.FindWorkArea(wa);
        if (!area) return RC_NOT_OPEN;
        return body(client, *area);
    });
}

// The results of a local work-area export for a handle that names no table connection, for
// one that is not connected, and for an unknown work area.
template <class R>
struct tLocalRefusals {
    R unknownHandle;
    R notConnected;
    R unknownArea;
};

// A local work-area export: no request, so nothing to drop on an exception.
template <class R, class Body>
R WithLocalArea(u32 handle, u16 wa, const tLocalRefusals<R>& refusals, Body&& body) noexcept {
    return Guarded<R>(nullptr, refusals.unknownHandle, [&]() -> R {
        auto client = FindHandleOf<tGMLClient>(handle);
        if (!client) return refusals.unknownHandle;
        if (!client->IsConnected()) return refusals.notConnected;
        tClientWorkArea* area = client->FindWorkArea(wa);
        if (!area) return refusals.unknownArea;
        return body(*area);
    });
}

// Sends the request and reads a reply that is one text and nothing else. False after a failed
// exchange or a reply without its NUL: the connection is then dropped.
bool ReadTextReply(tBasicClient& client, tString& text);
// Sends the request, then reads the statement status words (connect mode 0) and the status (as
// tBasicClient::Request reads it). False after a failed exchange or a reply too short for them:
// the connection is then dropped and status holds -88.
bool StatementRequest(tGMLClient& client, i16& status, bool withBody);
// The i16 count and the typed parameters of a descriptor list (one text of 8-byte descriptors)
// and its data area (api_statement.cpp).
void PutParams(tCommBuffer& out, const char* descriptors, const void* data);
// Copies min(length + 1, max) bytes of a non-empty text into out: the NUL only when it fits.
void CopyText(char* out, const tString& text, i32 max);
// Reads a text of the reply into out, cut to size - 1 bytes and a NUL (out may be null: the
// text is read and dropped). False when the reply holds no whole text.
bool ReadTextInto(tCommBuffer& in, char* out, size_t size);
// The elements of a request: u32 values go out as i32; a null text goes out empty.
void PutArg(tCommBuffer& out, u32 value);
void PutArg(tCommBuffer& out, f64 value);
void PutArg(tCommBuffer& out, const char* text);
void PutArg(tCommBuffer& out, u8 flag);
// Sends the request and reads the status; the status, or -88 (the connection dropped).
i16 StatusRequest(tBasicClient& client);
// Sends the request and reads the status and, on 0, one text into out (as ReadTextInto). The
// status, or -88 (the connection dropped) when the reply is not whole.
i16 StatusAndText(tBasicClient& client, char* out, size_t size);

// After a status of 0 or more in reply to an open or a query: a new work area from the reply
// (handle, structure, status block, and the index lists when withIndexes). Its handle; -88 (the
// connection dropped, no work area kept) when the reply is inconsistent.
i16 ReadNewWorkArea(tGMLClient& client, bool withIndexes);
// The reply of a move after its status: 0 or more, the record and the status block; below 0
// the record buffer zeroed, and for -25 the status block when the reply holds one.
i16 ReadMove(tGMLClient& client, tClientWorkArea& area, i16 status);
// The record number as it travels: i32, clamped.
i32 RecnoToWire(f64 recno);
// Goes to a record number: the request and reply of GM_ChainR.
i16 GoToRecord(tGMLClient& client, tClientWorkArea& area, i32 recno);

}  // namespace gmapi
