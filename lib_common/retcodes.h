// The 16-bit return codes of both deliverables: 0 for success, negative for an error. The server
// puts them at the head of a reply; the client library returns them from its GM_ functions.
#pragma once
#include "lib_base/types.h"

constexpr i16 RC_OK = 0;

// Sent on the wire.
constexpr i16 RC_CRITICAL_MEMORY = -6;        // server in its critical-memory state (connect)
constexpr i16 RC_NO_OPEN_FILE = -10;          // no open file under that id
constexpr i16 RC_NOT_FOUND = -11;             // table, index or procedure, or no cached definition
constexpr i16 RC_NOT_EXCLUSIVE = -12;         // table not open exclusively
constexpr i16 RC_NOT_SUPPORTED = -13;         // not supported by the database connection
constexpr i16 RC_BAD_INDEX = -14;             // index number beyond the table's indexes
constexpr i16 RC_IN_USE = -15;                // table in use, or a prepared query still open
constexpr i16 RC_FAILED = -19;                // refused or failed: the connection's error says why
constexpr i16 RC_SP_REFUSED = -21;            // stored-procedure call refused or failed
constexpr i16 RC_NOT_OPEN = -24;              // table not open here; also the end of a transfer
constexpr i16 RC_NO_RECORD = -25;             // no record
constexpr i16 RC_APPEND_FAILED = -27;         // record append failed
constexpr i16 RC_SOFT_SEEK_GREATER = -28;     // soft seek stopped on a greater key
constexpr i16 RC_NO_UPDATE = -29;             // update not supported by the file class
constexpr i16 RC_NO_DELETE = -30;             // delete and recall not supported; or still in use
constexpr i16 RC_LOCKED = -31;                // record or table lock held by another owner
constexpr i16 RC_NOT_MASTER = -33;            // lock connection to a server that is no master
constexpr i16 RC_CONNECT_FAILED = -35;        // database connect failed
constexpr i16 RC_CONNECTIONS_DISABLED = -36;  // new connections disabled
constexpr i16 RC_DUPLICATE_KEY = -37;         // append refused as a duplicate key or user error
constexpr i16 RC_MASTER_UNREACHABLE = -43;    // master lock server unreachable
constexpr i16 RC_AUDIT_FAILED = -50;          // audit server missing or refusing
constexpr i16 RC_CLIENT_CODE_REPLACED = -86;  // what RC_NOT_CONNECTED and RC_COMM_FAILURE become

// Made by the client library for its own failures; never sent as they are.
constexpr i16 RC_NOT_CONNECTED = -2;    // null handle, not connected, connect failed
constexpr i16 RC_NO_SUCH_FIELD = -13;   // field number outside a work area's fields
constexpr i16 RC_INFO_TOO_LARGE = -40;  // monitor's user list longer than the library takes
constexpr i16 RC_COMM_FAILURE = -88;    // communication failure during a request
constexpr i16 RC_OLD_SERVER = -99;      // server build older than the library accepts
