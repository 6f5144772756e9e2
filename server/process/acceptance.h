// Acceptance of a connection: the connect packet that opens every connection, the factory of the
// connection objects for its kinds, and AcceptConnection, which a worker runs for the socket it
// accepted.
#pragma once
#include <functional>
#include <memory>

#include "lib_base/types.h"

class tByteSource;
class tCommBuffer;
class tGMLSockConn;
class tSocket;
class tWThread;

// Connection kinds, the connect packet's last head byte.
constexpr u8 kKindClient = '0';       // an application: tDBServer
constexpr u8 kKindMonitor = '1';      // an administration client: tMonitor
constexpr u8 kKindLockClient = '2';   // another server's lock client: tLockConn
constexpr u8 kByteOrderLittle = '1';  // the byte-order byte of a little-endian sender

// The connect packet: the u32 frame length, the magic text "\xAE" "GML" "\xAE" with its NUL, the
// byte-order byte and the kind byte, then what the connection object reads itself.
constexpr u32 kConnectMinLength = 12;
constexpr u32 kConnectMaxLength = 65536;

enum class tConnectStatus {
    Received,       // the whole packet is in the buffer, ready to read
    ReceiveFailed,  // the first receive gave nothing
    Malformed,      // cut short, or a length out of bounds
};

struct tConnectHead {
    u8 byteOrder = 0;
    u8 kind = 0;
};

// Receives a connect packet into buffer: the smallest packet first, then the rest of the length
// it announces in the byte order it names (the buffer's swap flag is set from it). Never asks
// the source for a byte past the packet, so what the peer sends next stays unread.
tConnectStatus ReceiveConnectPacket(tByteSource& source, tCommBuffer& buffer);
// Reads the head of a received packet; false when the magic is not there whole.
bool ReadConnectHead(tCommBuffer& buffer, tConnectHead& head);

// Makes the connection object of one kind, owned by the caller; may return null.
using tConnectionMaker = std::function<std::unique_ptr<tGMLSockConn>()>;
// Sets the maker of kind '0', '1' or '2' (other kinds are ignored); an empty maker leaves the
// kind without one, so that its connections are closed as objects that cannot be made. Set at
// server start, before workers run.
void SetConnectionMaker(u8 kind, tConnectionMaker maker);
// The object for the kind, or null when the kind has no maker or its maker gave none.
std::unique_ptr<tGMLSockConn> CreateConnection(u8 kind);

// Runs on the worker that accepted socket, and owns the socket from here: receives and checks the
// connect packet, makes the object of its kind, runs the object's body on this thread, then ends
// and deletes it. Every refusal closes the connection with a console line; in the critical-memory
// state only monitors are let in, others get the reply -6. An assertion that leaves the object's
// body is reported and ends this connection only; any other exception is reported and passed on.
void AcceptConnection(tWThread& worker, std::unique_ptr<tSocket> socket);
