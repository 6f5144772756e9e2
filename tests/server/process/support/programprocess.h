// The real pellmar program under test: a copy of it in a test's private directory, run with its
// standard input and output through pipes.
#pragma once
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "lib_base/types.h"
#include "tests/support/tempdir.h"

extern char** environ;

namespace gmtest {

constexpr int kProgramBoundMs = 30000;

// A run of the program with its standard input and output (and errors) through pipes.
class ProgramRun {
public:
    ProgramRun(const std::string& path, const std::vector<std::string>& args) {
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
    ~ProgramRun() {
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
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kProgramBoundMs);
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
    // Reads to the end of the output and waits for the exit, both within the bound; the exit
    // status, or -1 (a program still running then is killed, so a hang fails the test).
    int Finish() {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kProgramBoundMs);
        WaitFor("");
        int status = 0;
        pid_t done = 0;
        while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < deadline) {
            usleep(20000);
        }
        if (done != pid) {
            output_ += "\n[test] the program did not end within the bound\n";
            return -1;  // the destructor kills it
        }
        ended = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& Output() const { return output_; }
    // Takes what the program printed within ms, so that a busy program never blocks on a full
    // pipe; false when nothing came.
    bool Drain(int ms) { return ReadSome(ms); }
    // Stops a console run as an operator does: Ctrl-C (SIGINT), then "YES" at its prompt. The
    // exit status, or -1 when the prompt never came; from receives where the output stood at the
    // interrupt.
    int StopAnsweringYes(size_t& from) {
        from = output_.size();
        if (kill(pid, SIGINT) != 0 || !WaitFor("Type YES [Enter] (uppercase) to exit:", from)) {
            return -1;
        }
        Type("YES\n");
        return Finish();
    }

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

// The program copied into dir, so that its ini, log and console log are made there; its path.
inline std::string CopyProgram(const TempDir& dir) {
    const std::string program = dir.File("pellmar");
    std::filesystem::copy_file(GM_PELLMAR_PATH, program);
    chmod(program.c_str(), 0700);
    return program;
}

// The ini of a program on port whose client library for dbType is the recording ODBC driver:
// [General] with the port and the further lines of general ("Key=value\r\n"), then the type's
// section.
inline std::string RecordingDriverIni(u16 port, const std::string& general,
                                      const std::string& dbType) {
    return "[General]\r\nPort=" + std::to_string(port) + "\r\n" + general + "[" + dbType +
           "]\r\nClientLibrary=" GM_RECODBC_PATH "\r\n";
}

// A copy of the program in dir run in console mode, whose recording ODBC driver (named as a
// client library by dir's gatemill.ini) plays script and, when log is given, appends its calls
// to that file.
inline std::unique_ptr<ProgramRun> StartWithRecordingDriver(const TempDir& dir,
                                                            const std::string& script,
                                                            const std::string& log = "") {
    WriteFileText(dir.File("script.txt"), script);
    setenv("GM_RECODBC_SCRIPT", dir.File("script.txt").c_str(), 1);
    if (!log.empty()) setenv("GM_RECODBC_LOG", log.c_str(), 1);
    auto program =
        std::make_unique<ProgramRun>(CopyProgram(dir), std::vector<std::string>{"-console"});
    unsetenv("GM_RECODBC_SCRIPT");
    unsetenv("GM_RECODBC_LOG");
    return program;
}

}  // namespace gmtest
