// What the connection targets share: process globals over a private ini in a scratch directory
// of their own, and the input's request frames delivered one by one into a frame buffer, as the
// receipt of a request leaves them.
#pragma once
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
#include "server/runtime/globals.h"

namespace gmfuzz {

// The scratch directory, removed when the process exits; empty until FuzzGlobals made it.
inline std::string& ScratchDir() {
    static std::string dir;
    return dir;
}

inline void DropConsole(const char*) {}

// Published globals over dir/gatemill.ini holding ini, with both lock servers, the log beside the
// ini and the console dropped; dir is a new directory /tmp/<name>_XXXXXX. Made once per process.
inline std::unique_ptr<tGMLGlobals> FuzzGlobals(const char* name, const char* ini) {
    std::string& dir = ScratchDir();
    dir = std::string("/tmp/") + name + "_XXXXXX";
    if (!mkdtemp(dir.data())) std::abort();
    std::atexit([] { std::filesystem::remove_all(ScratchDir()); });
    const std::string iniPath = dir + "/gatemill.ini";
    std::ofstream(iniPath) << ini;
    SetConsolePrinter(&DropConsole);
    SetLogPath((dir + "/gatemill.log").c_str());
    auto made = std::make_unique<tGMLGlobals>(iniPath.c_str());
    made->CreateLockServers();
    PublishGlobals(made.get());
    return made;
}

// Input: frames, each a little-endian u16 payload length and the payload (the opcode first); a
// length past the input takes what is left. Each frame is put into buffer with its length
// prefix in front and run() is called; the delivery stops when run() answers false.
template <class Run>
void DeliverFrames(tCommBuffer& buffer, const uint8_t* data, size_t size, Run run) {
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
        if (!run()) return;
    }
}

}  // namespace gmfuzz
