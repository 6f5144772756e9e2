// The real pellmar program in a private directory: it creates its ini, runs in console mode on a
// free loopback port, takes connections with valid connect packets, and stops on Ctrl-C
// (SIGINT) answered with YES, printing the shutdown report and its final line, with exit code 0.
#include <gtest/gtest.h>

#include <string>

#include "tests/lib_base/support/loopback.h"
#include "tests/server/process/support/acceptfixture.h"
#include "tests/server/process/support/programprocess.h"
#include "tests/server/process/support/programrun.h"
#include "tests/support/tempdir.h"

namespace {

using Program = gmtest::ProgramRun;

TEST(PellmarProgram, ConsoleRunServesAndStopsOnInterruptAnsweredYes) {
    gmtest::TempDir dir;
    const std::string program = gmtest::CopyProgram(dir);

    // The first run creates the ini beside the program.
    {
        Program usage(program, {"-?"});
        ASSERT_TRUE(usage.Started());
        EXPECT_EQ(usage.Finish(), 0);
        EXPECT_NE(usage.Output().find(" n\xE3o encontrado. Criando...\n"), std::string::npos)
            << usage.Output();
    }
    ASSERT_EQ(gmtest::ReadFileText(dir.File("gatemill.ini")), "[General]\r\n");
    const u16 port = gmtest::FreePort();
    ASSERT_NE(port, 0);
    gmtest::WriteFileText(dir.File("gatemill.ini"), "[General]\r\nPort=" + std::to_string(port) +
                                                        "\r\nThreadMin=2\r\nThreadInc=1\r\n");

    Program server(program, {"-console"});
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(server.WaitFor("Listening port " + std::to_string(port) + " \n"))
        << server.Output();

    // A lock client gets a lock connection, which a server that is no master refuses with -33
    // and ends.
    std::unique_ptr<tSocket> client = gmtest::ConnectLoopback(port);
    ASSERT_NE(client, nullptr);
    const std::string packet = gmtest::ConnectPacket('2');
    ASSERT_EQ(client->Send(packet.data(), static_cast<i32>(packet.size()), 0),
              static_cast<i32>(packet.size()));
    EXPECT_EQ(gmtest::ReadBytes(*client, 7), std::string("\x06\0\0\0\xdf\xff", 6));
    EXPECT_EQ(gmtest::ReadBytes(*client, 1), "");  // closed by the server

    // An application's connection gets a client connection, which answers that a database type
    // nobody knows cannot be connected.
    std::unique_ptr<tSocket> application = gmtest::ConnectLoopback(port);
    ASSERT_NE(application, nullptr);
    const std::string texts = std::string("FOO/ERP\0gmtest\0ana\0PC01\0", 24);
    const std::string request = gmtest::ConnectPacket('0', texts);
    ASSERT_EQ(application->Send(request.data(), static_cast<i32>(request.size()), 0),
              static_cast<i32>(request.size()));
    EXPECT_EQ(gmtest::ReadBytes(*application, 6), gmtest::WireLong(6, false) + "\xDD\xFF");
    EXPECT_TRUE(server.WaitFor("[ERROR -35]\n")) << server.Output();

    size_t before = 0;
    EXPECT_EQ(server.StopAnsweringYes(before), 0) << server.Output();
    EXPECT_TRUE(gmtest::InOrder(server.Output(),
                                {"\nWait...\n", "Global Memory Status", "Application Summary",
                                 "[SHUTDOWN] Korvane Gatemill 4.2 Server Finalizado.\n"},
                                before));
    EXPECT_NE(gmtest::ReadFileText(dir.File("gatemill.log"))
                  .find("[SHUTDOWN] Korvane Gatemill 4.2 Server...\n"),
              std::string::npos);
    EXPECT_NE(gmtest::ReadFileText(dir.File("gatemillconsole.log")).find("Finalizado."),
              std::string::npos);
}

}  // namespace
