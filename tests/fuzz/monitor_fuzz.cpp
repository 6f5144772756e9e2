// Fuzz target of the monitor's requests: a tMonitor runs the input's frames one after the other
// against process globals over a private ini, without a socket, until one ends the connection;
// then its end step runs.
//
// Every request must either leave a reply frame of its own or end the connection, and the end
// step must switch off every trace the requests switched on (the registry holds one client
// connection, id 77, for them to trace). Any crash, leak or sanitizer report is a failure too.
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
#include "lib_common/commbuffer.h"
#include "lib_common/logwriter.h"
#include "server/process/monitor.h"
#include "server/runtime/globals.h"
#include "server/runtime/gmlthreads.h"
#include "tests/fuzz/fuzzcheck.h"

namespace {

constexpr u32 kMonitorId = 4343;
constexpr u32 kTracedId = 77;
constexpr const char* kIni = "[General]\nPort=7890\n[ERP]\nuser=ana\n";

std::string& ScratchDir() {
    static std::string dir;
    return dir;
}

void DropConsole(const char*) {}

// Globals over a private ini, made once, with one client connection registered; the ini is
// written again before every input, so that what one input wrote into it does not pile up.
tGMLGlobals& World() {
    static std::unique_ptr<tGMLGlobals> globals = [] {
        std::string& dir = ScratchDir();
        dir = "/tmp/gm_monitorfuzz_XXXXXX";
        if (!mkdtemp(dir.data())) std::abort();
        std::atexit([] { std::filesystem::remove_all(ScratchDir()); });
        std::ofstream(dir + "/gatemill.ini") << kIni;
        SetConsolePrinter(&DropConsole);
        SetLogPath((dir + "/gatemill.log").c_str());
        auto made = std::make_unique<tGMLGlobals>((dir + "/gatemill.ini").c_str());
        made->CreateLockServers();
        PublishGlobals(made.get());
        static const tCommBuffer clientFrames;
        made->GetThreads()->AddThread(&clientFrames)->SetSID(kTracedId);
        return made;
    }();
    return *globals;
}

// The registered client connection.
tDBProperties& Traced() {
    tDBProperties* found = nullptr;
    World().GetThreads()->ForEachRecord("monitor fuzz", [&](tDBProperties& record) {
        if (record.GetSID() == kTracedId) found = &record;
    });
    FUZZ_CHECK(found != nullptr);
    return *found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    World();
    std::ofstream(ScratchDir() + "/gatemill.ini", std::ios::trunc) << kIni;
    {
        tMonitor monitor;
        monitor.SetCommBuffer(std::make_unique<tCommBuffer>());
        monitor.AdoptThread(kMonitorId);
        tCommBuffer& buffer = *monitor.GetCommBuffer();
        size_t at = 0;
        while (at + 2 <= size) {
            const u32 length = data[at] | (u32{data[at + 1]} << 8);
            at += 2;
            const u32 payload = static_cast<u32>(std::min<size_t>(length, size - at));
            const u32 total = payload + tCommBuffer::kHeaderSize;
            buffer.Reset();
            buffer.Prepare(total);
            u8* frame = buffer.GetReceivePtr(0);
            std::memcpy(frame, &total, sizeof total);
            std::memcpy(frame + tCommBuffer::kHeaderSize, data + at, payload);
            buffer.SetReceived(total);
            at += payload;
            if (monitor.RunRequest() != tMonitor::tRequestResult::Reply) break;
            FUZZ_CHECK(buffer.GetFrameLength() > tCommBuffer::kHeaderSize);
            FUZZ_CHECK(!buffer.IsMalformed());
        }
        monitor.Done();
    }
    FUZZ_CHECK(!Traced().IsTraceOn());
    return 0;
}
