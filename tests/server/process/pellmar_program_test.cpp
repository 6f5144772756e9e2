// The real pellmar program in a private directory: it creates its ini, runs in console mode on a
// free loopback port, takes connections with valid connect packets, and stops on Ctrl-C
// (SIGINT) answered with YES, printing the shutdown report and its final line, with exit code 0.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/lib_base/support/loopback.h"
#include "tests/server/process/support/acceptfixture.h"
#include "tests/server/process/support/programrun.h"
#include "tests/support/tempdir.h"

extern char** environ;

namespace {

constexpr int kBoundMs = 30000;

// A run of the program with its standard input and output (and errors) through pipes.
class Program {
public:
    Program(const std::string& path, const std::vector<std::string>& args) {
        int in[2];
        int out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(path.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        input = in[1];
        output = out[0];
    }
    ~Program() {
        if (pid > 0 && !ended) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (input >= 0) close(input);
        if (output >= 0) close(output);
    }

    bool Started() const { return pid > 0; }
    pid_t Pid() const { return pid; }
    // Reads until text has come after from (or the output ends, or the bound passes); true when
    // it came.
    bool WaitFor(const std::string& text, size_t from = 0) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
        while (text.empty() || output_.find(text, from) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) {
                return !text.empty() && output_.find(text, from) != std::string::npos;
            }
        }
        return true;
    }
    void Type(const std::string& text) {
        ASSERT_EQ(write(input, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // Reads to the end of the output and waits for the exit; the exit status, or -1.
    int Finish() {
        WaitFor("");
        int status = 0;
        if (waitpid(pid, &status, 0) != pid) return -1;
        ended = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& Output() const { return output_; }

private:
    bool ReadSome(int ms) {
        pollfd fd{output, POLLIN, 0};
        if (poll(&fd, 1, ms) <= 0) return false;
        char buffer[4096];
        const ssize_t n = read(output, buffer, sizeof buffer);
        if (n <= 0) return false;
        output_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t pid = -1;
    bool ended = false;
    int input = -1;
    int output = -1;
    std::string output_;
};

TEST(PellmarProgram, ConsoleRunServesAndStopsOnInterruptAnsweredYes) {
    gmtest::TempDir dir;
    const std::string program = dir.File("pellmar");
    std::filesystem::copy_file(GM_PELLMAR_PATH, program);
    chmod(program.c_str(), 0700);

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

    // A monitor's connect packet is accepted and read; no monitor object can be made yet.
    std::unique_ptr<tSocket> client = gmtest::ConnectLoopback(port);
    ASSERT_NE(client, nullptr);
    const std::string packet = gmtest::ConnectPacket('1');
    ASSERT_EQ(client->Send(packet.data(), static_cast<i32>(packet.size()), 0),
              static_cast<i32>(packet.size()));
    EXPECT_TRUE(
        server.WaitFor("[ERROR] Unable to Create Connection Server Object Type [49]. "
                       "(CLOSED)\n"))
        << server.Output();
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

    const size_t before = server.Output().size();
    ASSERT_EQ(kill(server.Pid(), SIGINT), 0);
    ASSERT_TRUE(server.WaitFor("Type YES [Enter] (uppercase) to exit:", before)) << server.Output();
    server.Type("YES\n");
    EXPECT_EQ(server.Finish(), 0) << server.Output();
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
