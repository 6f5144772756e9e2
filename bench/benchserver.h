// A server in the benchmark's process: published globals over an ini of the benchmark's, a
// thread list, the lock servers and a loopback listener whose workers serve the connection kinds
// that the benchmark registers between construction and Start.
#pragma once
#include <fstream>
#include <memory>
#include <string>

#include "lib_base/printer.h"
#include "lib_base/threads.h"
#include "server/process/gmlserver.h"
#include "server/runtime/globals.h"

namespace gmbench {

// Made once and never deleted: workers may still run when the process ends.
class tBenchServer {
public:
    // Writes the ini (its whole text) and publishes globals over it; the console is discarded.
    tBenchServer(const std::string& iniPath, const std::string& iniText) {
        SetConsolePrinter([](const char*) {});
        std::ofstream(iniPath) << iniText;
        globals = std::make_unique<tGMLGlobals>(iniPath.c_str());
        PublishGlobals(globals.get());
        globals->SetThreadList(&threads);
    }
    // Listens on a free loopback port and starts the workers in the server mode (kModeStandalone,
    // kModeMaster, kModeSlave), as the program starts them; false when it could not listen or
    // start.
    bool Start(u32 mode = kModeStandalone) {
        server = std::make_unique<tGMLServer>(&threads, mode, false);
        globals->SetServer(server.get());
        server->LoadThreadLimits();
        if (!server->ListenAddr(0, "127.0.0.1")) return false;
        globals->CreateLockServers();  // before the first worker can accept
        ready = server->Start(1);
        return ready;
    }
    bool IsReady() const { return ready; }
    u16 Port() const { return static_cast<u16>(server->GetPort()); }

private:
    tThreadList threads;
    std::unique_ptr<tGMLGlobals> globals;
    std::unique_ptr<tGMLServer> server;
    bool ready = false;
};

}  // namespace gmbench
