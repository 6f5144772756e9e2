// A monitor against the real pellmar program in console mode: the connect reply (0, "WinNT" and
// the operating-system report), OP_BUILD, an opcode without an operation echoed with its warning,
// a malformed frame that ends only its own connection, and OP_DISCONNECT ending without a reply.
#include <gtest/gtest.h>

#include <string>

#include "lib_common/opcodes.h"
#include "tests/server/process/support/monitortest.h"
#include "tests/server/process/support/programprocess.h"
#include "tests/server/process/support/programrun.h"
#include "tests/support/tempdir.h"

namespace {

using gmtest::MonitorClient;
using gmtest::TakeText;

std::string FrameBytes(tCommBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.GetFrame()), buffer.GetFrameLength());
}

TEST(MonitorProgram, ConsoleServerAnswersAMonitor) {
    gmtest::TempDir dir;
    const std::string program = gmtest::CopyProgram(dir);
    const u16 port = gmtest::FreePort();
    ASSERT_NE(port, 0);
    gmtest::WriteFileText(dir.File("gatemill.ini"), "[General]\r\nPort=" + std::to_string(port) +
                                                        "\r\nThreadMin=2\r\nThreadInc=2\r\n");
    gmtest::ProgramRun server(program, {"-console"});
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(server.WaitFor("Listening port " + std::to_string(port) + " \n"))
        << server.Output();

    MonitorClient monitor(port);
    ASSERT_TRUE(monitor.Connected());
    std::string type, report;
    ASSERT_TRUE(monitor.ReadConnectReply(type, report));
    EXPECT_EQ(type, "WinNT");
    EXPECT_NE(report.find("OS System Info"), std::string::npos) << report;

    monitor.Request(OP_BUILD);
    ASSERT_NE(monitor.Call(), nullptr);
    EXPECT_EQ(TakeText(monitor.in), "20110117");

    monitor.Request(OP_ERRORCNT).PutString("echo me");
    const std::string sent = FrameBytes(monitor.out);
    ASSERT_NE(monitor.Call(), nullptr);
    EXPECT_EQ(FrameBytes(monitor.in), sent);
    EXPECT_TRUE(server.WaitFor("[WARNING] (tMonitor) Operation (41) IGNORED - Thread ("))
        << server.Output();

    // A frame shorter than its opcode ends that monitor only.
    MonitorClient broken(port);
    ASSERT_TRUE(broken.ReadConnectReply(type, report));
    ASSERT_TRUE(broken.SendBytes(std::string("\x05\0\0\0\x40", 5)));
    EXPECT_TRUE(broken.IsClosedByServer());
    monitor.Request(OP_BUILD);
    ASSERT_NE(monitor.Call(), nullptr);
    EXPECT_EQ(TakeText(monitor.in), "20110117");

    monitor.Request(OP_DISCONNECT);
    ASSERT_TRUE(monitor.Send());
    EXPECT_TRUE(monitor.IsClosedByServer());
    EXPECT_TRUE(server.WaitFor("End DBMonitor Thread (")) << server.Output();

    size_t stopped = 0;
    EXPECT_EQ(server.StopAnsweringYes(stopped), 0) << server.Output();
}

}  // namespace
