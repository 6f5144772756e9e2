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
#include <cstdint>
#include <fstream>
#include <memory>

#include "lib_common/commbuffer.h"
#include "server/process/monitor.h"
#include "server/runtime/globals.h"
#include "server/runtime/gmlthreads.h"
#include "tests/fuzz/fuzzcheck.h"
#include "tests/fuzz/fuzzworld.h"

namespace {

constexpr u32 kMonitorId = 4343;
constexpr u32 kTracedId = 77;
constexpr const char* kIni = "[General]\nPort=7890\n[ERP]\nuser=ana\n";

// Globals over a private ini, made once, with one client connection registered; the ini is
// written again before every input, so that what one input wrote into it does not pile up.
tGMLGlobals& World() {
    static const std::unique_ptr<tGMLGlobals> globals = [] {
        auto made = gmfuzz::FuzzGlobals("gm_monitorfuzz", kIni);
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
    std::ofstream(gmfuzz::ScratchDir() + "/gatemill.ini", std::ios::trunc) << kIni;
    {
        tMonitor monitor;
        monitor.SetCommBuffer(std::make_unique<tCommBuffer>());
        monitor.AdoptThread(kMonitorId);
        tCommBuffer& buffer = *monitor.GetCommBuffer();
        gmfuzz::DeliverFrames(buffer, data, size, [&] {
            if (monitor.RunRequest() != tMonitor::tRequestResult::Reply) return false;
            FUZZ_CHECK(buffer.GetFrameLength() > tCommBuffer::kHeaderSize);
            FUZZ_CHECK(!buffer.IsMalformed());
            return true;
        });
        monitor.Done();
    }
    FUZZ_CHECK(!Traced().IsTraceOn());
    return 0;
}
