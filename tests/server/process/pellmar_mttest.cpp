// Server start and stop on loopback: the mode table, the port rule and its line, the lock servers
// of every mode, a second server on a port in use, and the shutdown report.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "lib_base/threads.h"
#include "lib_common/logwriter.h"
#include "platform/procinfo.h"
#include "platform/thread_id.h"
#include "server/dispatch/dbserver.h"
#include "server/process/acceptance.h"
#include "server/process/gmlserver.h"
#include "server/process/lockconn.h"
#include "server/process/monitor.h"
#include "server/process/pellmar.h"
#include "server/runtime/globals.h"
#include "server/runtime/gmlsockconn.h"
#include "tests/lib_base/support/loopback.h"
#include "tests/server/process/support/programrun.h"
#include "tests/support/gmtest.h"
#include "tests/support/tempdir.h"

namespace {

// A thread list for one server, kept to the end of the process: workers that delete themselves
// touch it last.
tThreadList& NewThreadList() {
    static std::vector<std::unique_ptr<tThreadList>> lists;
    return *lists.emplace_back(std::make_unique<tThreadList>());
}

class ServerStart : public ::testing::Test {
protected:
    void SetUp() override {
        tListenerPacing pacing;
        pacing.roundMs = 50;
        pacing.bindAttempts = 2;
        pacing.bindPauseMs = 10;
        SetListenerPacing(pacing);
        SetLogPath(dir.File("gatemill.log").c_str());
    }
    void TearDown() override {
        for (auto& globals : made) EndServer(globals.get());
        PublishGlobals(nullptr);
        made.clear();
        SetListenerPacing(tListenerPacing());
        SetLogPath("");
    }

    // Globals over an ini with these [General] lines, published.
    tGMLGlobals& MakeGlobals(const std::string& general) {
        gmtest::WriteFileText(dir.File("gatemill.ini"),
                              "[General]\nThreadMin=2\nThreadInc=1\n" + general);
        made.push_back(std::make_unique<tGMLGlobals>(dir.File("gatemill.ini").c_str()));
        made.back()->SetThreadList(&NewThreadList());
        PublishGlobals(made.back().get());
        return *made.back();
    }
    std::string Log() { return gmtest::ReadFileText(dir.File("gatemill.log")); }

    gmtest::TempDir dir;
    std::vector<std::unique_ptr<tGMLGlobals>> made;
};

TEST_F(ServerStart, ModeIsReadTrimmedAndCaseSensitiveAndEveryModeGetsBothLockServers) {
    const std::string warning = "[WARNING] Invalid Mode [master]. Using default STANDALONE MODE.\n";
    const struct {
        const char* line;
        u32 mode;
        const char* logged;
        bool warns;
    } cases[] = {
        {"", kModeStandalone, "STANDALONE", false},
        {"MODE=STANDALONE\n", kModeStandalone, "STANDALONE", false},
        {"MODE=\" MASTER \"\n", kModeMaster, "MASTER", false},
        {"MODE=SLAVE\n", kModeSlave, "SLAVE", false},
        {"MODE=master\n", kModeStandalone, "master", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const u16 port = gmtest::FreePort();
        tGMLGlobals& globals = MakeGlobals(c.line + ("Port=" + std::to_string(port) + "\n"));
        gmtest::ConsoleCapture console;
        ASSERT_TRUE(StartServer(&globals, kDefaultPort));
        EXPECT_EQ(globals.GetServerMode(), c.mode);
        EXPECT_NE(globals.GetRecordLockServer(), nullptr);
        EXPECT_NE(globals.GetVirtualLockServer(), nullptr);
        const std::string out = console.Get();
        EXPECT_EQ(out.find(warning) != std::string::npos, c.warns) << out;
        // The start reports come before the listening line: thread and process, memory, OS.
        const size_t main =
            out.find("Main Application Thread .. [" + std::to_string(plat::CurrentThreadId()) +
                     "] PID [" + std::to_string(plat::ProcessId()) + "]\n");
        const size_t memory = out.find("---------------- Global Memory Status ---");
        const size_t os = out.find("---------------- OS System Info ---");
        EXPECT_LT(main, memory) << out;
        EXPECT_LT(memory, os) << out;
        EXPECT_LT(os, out.find("Listening port")) << out;
        // A configured port prints without "(default)".
        EXPECT_NE(out.find("Listening port " + std::to_string(port) + " \n"), std::string::npos)
            << out;
        EXPECT_NE(
            Log().find(std::string("Korvane Gatemill 4.2 Server Started - Build 20110117 - ") +
                       c.logged + "\nMultiDB Version - Windows [DEBUG]\n"),
            std::string::npos)
            << Log();
        EXPECT_NE(gmtest::ConnectLoopback(port), nullptr);
        EndServer(&globals);
    }
    const char* nls = std::getenv("NLS_LANG");
    EXPECT_STREQ(nls ? nls : "", "BRAZILIAN PORTUGUESE_BRAZIL.WE8MSWIN1252");
}

TEST_F(ServerStart, PortOtherThanTheDefaultIsUsedAsGiven) {
    u16 configured = 0;
    u16 given = 0;
    {
        // Both listen at once, so the system gives two ports.
        std::unique_ptr<tSocket> first = gmtest::ListenOnLoopback();
        std::unique_ptr<tSocket> second = gmtest::ListenOnLoopback();
        ASSERT_TRUE(first && second);
        configured = static_cast<u16>(first->GetPort());
        given = static_cast<u16>(second->GetPort());
    }
    tGMLGlobals& globals = MakeGlobals("Port=" + std::to_string(configured) + "\n");
    gmtest::ConsoleCapture console;
    ASSERT_TRUE(StartServer(&globals, given));
    EXPECT_NE(console.Get().find("Listening port " + std::to_string(given) + " \n"),
              std::string::npos);
    EXPECT_NE(gmtest::ConnectLoopback(given), nullptr);
}

TEST_F(ServerStart, SecondServerOnAPortInUseFailsWithItsLogLineAndNoLockServers) {
    const u16 port = gmtest::FreePort();
    const std::string line = "Port=" + std::to_string(port) + "\n";
    tGMLGlobals& first = MakeGlobals(line);
    ASSERT_TRUE(StartServer(&first, kDefaultPort));
    tGMLGlobals& second = MakeGlobals(line);
    gmtest::ConsoleCapture console;
    EXPECT_FALSE(StartServer(&second, kDefaultPort));
    EXPECT_NE(Log().find("Failed to connect to port " + std::to_string(port) +
                         " - Unable to Start Service.\n"),
              std::string::npos)
        << Log();
    EXPECT_NE(console.Get().find("[SOCKSERVER] Trying connect to port " + std::to_string(port) +
                                 " - bind error #"),
              std::string::npos)
        << console.Get();
    EXPECT_EQ(console.Get().find("Listening port"), std::string::npos);
    EXPECT_EQ(second.GetRecordLockServer(), nullptr);
    EXPECT_EQ(second.GetVirtualLockServer(), nullptr);
    auto* kept = dynamic_cast<tGMLServer*>(second.GetServer());
    ASSERT_NE(kept, nullptr);  // kept, without a thread
    EXPECT_EQ(kept->GetListenSocket(), nullptr);
    // The first server still serves.
    EXPECT_NE(gmtest::ConnectLoopback(port), nullptr);
    EXPECT_NE(first.GetRecordLockServer(), nullptr);
}

TEST_F(ServerStart, EveryConnectionKindHasItsMakerOnceTheServerListens) {
    tGMLGlobals& globals = MakeGlobals("Port=" + std::to_string(gmtest::FreePort()) + "\n");
    for (u8 kind : {kKindClient, kKindMonitor, kKindLockClient}) SetConnectionMaker(kind, nullptr);
    ASSERT_TRUE(StartServer(&globals, kDefaultPort));
    std::unique_ptr<tGMLSockConn> client = CreateConnection(kKindClient);
    std::unique_ptr<tGMLSockConn> monitor = CreateConnection(kKindMonitor);
    std::unique_ptr<tGMLSockConn> lock = CreateConnection(kKindLockClient);
    EXPECT_NE(dynamic_cast<tDBServer*>(client.get()), nullptr);
    EXPECT_NE(dynamic_cast<tMonitor*>(monitor.get()), nullptr);
    EXPECT_NE(dynamic_cast<tLockConn*>(lock.get()), nullptr);
}

TEST_F(ServerStart, ShutdownReportLogsItsLineAndPrintsMemoryThenSummary) {
    tGMLGlobals& globals = MakeGlobals("Port=" + std::to_string(gmtest::FreePort()) + "\n");
    ASSERT_TRUE(StartServer(&globals, kDefaultPort));
    gmtest::ConsoleCapture console;
    ShutdownReport(&globals);
    EXPECT_NE(Log().find("[SHUTDOWN] Korvane Gatemill 4.2 Server...\n"), std::string::npos);
    const std::string out = console.Get();
    const size_t memory = out.find("Global Memory Status");
    const size_t summary = out.find("Application Summary");
    ASSERT_NE(memory, std::string::npos) << out;
    ASSERT_NE(summary, std::string::npos) << out;
    EXPECT_LT(memory, summary);
}

}  // namespace
