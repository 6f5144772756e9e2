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
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "lib_base/printer.h"
#include "lib_base/stringz.h"
#include "lib_common/commbuffer.h"
#include "lib_common/logwriter.h"
#include "server/locks/lockengine.h"
#include "server/process/lockconn.h"
#include "server/runtime/globals.h"
#include "tests/fuzz/fuzzcheck.h"

namespace {

constexpr u32 kLocation = 4242;

std::string& ScratchDir() {
    static std::string dir;
    return dir;
}

void DropConsole(const char*) {}

// Globals over a private ini, with both lock servers, made once.
tGMLGlobals& World() {
    static std::unique_ptr<tGMLGlobals> globals = [] {
        std::string& dir = ScratchDir();
        dir = "/tmp/gm_lockconnfuzz_XXXXXX";
        if (!mkdtemp(dir.data())) std::abort();
        std::atexit([] { std::filesystem::remove_all(ScratchDir()); });
        const std::string iniPath = dir + "/gatemill.ini";
        std::ofstream(iniPath) << "[General]\n";
        SetConsolePrinter(&DropConsole);
        SetLogPath((dir + "/gatemill.log").c_str());
        auto made = std::make_unique<tGMLGlobals>(iniPath.c_str());
        made->CreateLockServers();
        PublishGlobals(made.get());
        return made;
    }();
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
        size_t at = 0;
        while (at + 2 <= size) {
            const u32 length = data[at] | (u32{data[at + 1]} << 8);
            at += 2;
            const u32 payload = static_cast<u32>(std::min<size_t>(length, size - at));
            buffer.Reset();
            buffer.Prepare(payload + tCommBuffer::kHeaderSize);
            u8* frame = buffer.GetReceivePtr(0);
            const u32 total = payload + tCommBuffer::kHeaderSize;
            std::memcpy(frame, &total, sizeof total);
            std::memcpy(frame + tCommBuffer::kHeaderSize, data + at, payload);
            buffer.SetReceived(total);
            at += payload;
            if (conn.RunRequest() != tLockConn::tRequestResult::Reply) break;
            FUZZ_CHECK(buffer.GetFrameLength() > tCommBuffer::kHeaderSize);
        }
        conn.Done();
    }
    FUZZ_CHECK(std::strcmp(Locks().GetText(), before.GetText()) == 0);
    return 0;
}
