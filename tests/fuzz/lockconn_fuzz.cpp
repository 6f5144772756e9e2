// Fuzz target of the lock connection's requests: a tLockConn at a master runs the input's frames
// one after the other against the process's lock servers, without a socket, until one ends the
// connection; then its end step runs.
//
// Every request must either leave a reply frame of its own or end the connection, and whatever
// the requests took, the end step must leave the lock servers as they were before (the location
// holds nothing more). Any crash, leak or sanitizer report is a failure too.
//
// Input: frames, each a little-endian u16 payload length and the payload (the opcode first); the
// target puts the length prefix in front.
#include <cstdint>
#include <cstring>
#include <memory>

#include "lib_base/stringz.h"
#include "lib_common/commbuffer.h"
#include "server/locks/lockengine.h"
#include "server/process/lockconn.h"
#include "server/runtime/globals.h"
#include "tests/fuzz/fuzzcheck.h"
#include "tests/fuzz/fuzzworld.h"

namespace {

constexpr u32 kLocation = 4242;

// Globals over a private ini, with both lock servers, made once.
tGMLGlobals& World() {
    static const std::unique_ptr<tGMLGlobals> globals =
        gmfuzz::FuzzGlobals("gm_lockconnfuzz", "[General]\n");
    return *globals;
}

tString Locks() {
    tString text;
    World().GetRecordLockServer()->InspectLocks(text, 0);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    World();
    const tString before = Locks();
    {
        tLockConn conn;
        conn.SetCommBuffer(std::make_unique<tCommBuffer>());
        conn.AdoptThread(kLocation);
        conn.TakeLocation(kLocation);
        tCommBuffer& buffer = *conn.GetCommBuffer();
        gmfuzz::DeliverFrames(buffer, data, size, [&] {
            if (conn.RunRequest() != tLockConn::tRequestResult::Reply) return false;
            FUZZ_CHECK(buffer.GetFrameLength() > tCommBuffer::kHeaderSize);
            return true;
        });
        conn.Done();
    }
    FUZZ_CHECK(std::strcmp(Locks().GetText(), before.GetText()) == 0);
    return 0;
}
