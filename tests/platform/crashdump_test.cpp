// Crash dumps, each in a forked child: a real fault writes core_<tid>.dmp in the program's
// directory and prints its line; a crash after a dump was tried prints "Unable to generate" and
// writes nothing; a directory that cannot be written gives the failure line.
#include "platform/crashdump.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>

#include "platform/procinfo.h"
#include "platform/thread.h"
#include "tests/support/tempdir.h"

namespace {

struct tChildEnd {
    int status = 0;
    pid_t pid = 0;
    std::string output;  // what the child wrote to its standard output
};

// Runs body in a forked child whose standard output comes back through a pipe.
tChildEnd RunChild(const std::function<void()>& body) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    tChildEnd end;
    end.pid = fork();
    if (end.pid == 0) {
        close(fds[0]);
        dup2(fds[1], STDOUT_FILENO);
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);  // the system's own core file is not wanted here
        body();
        _exit(0);
    }
    close(fds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) end.output.append(buffer, n);
    close(fds[0]);
    waitpid(end.pid, &end.status, 0);
    return end;
}

void Fault() {
    // Not null, so the undefined-behaviour checks let the store reach the processor; read from
    // a volatile so the compiler cannot see the address.
    volatile std::uintptr_t address = 16;
    *reinterpret_cast<volatile int*>(address) = 1;
}

// Recurses until the stack is gone; the frame's array keeps the calls from becoming a loop.
volatile bool recurse = true;
int Overflow(int depth) {
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    return (recurse ? Overflow(depth + 1) : 0) + frame[0];
}

std::string DumpPath(const std::string& dir, pid_t tid) {
    return dir + "core_" + std::to_string(tid) + ".dmp";
}

TEST(CrashDump, FaultWritesDumpInProgramDirectoryAndReportsIt) {
    const std::string dir = plat::ProgramDirectory();
    const tChildEnd end = RunChild([&] {
        plat::InstallCrashHandlers(dir.c_str());
        Fault();
    });
    // The child's only thread has the child's process id as its thread id.
    const std::string path = DumpPath(dir, end.pid);
    const std::string dump = gmtest::ReadFileText(path);
    unlink(path.c_str());

    ASSERT_TRUE(WIFSIGNALED(end.status));
    EXPECT_EQ(WTERMSIG(end.status), SIGSEGV);
    EXPECT_EQ(end.output, "[Thread " + std::to_string(end.pid) +
                              "] ACCESS VIOLATION - Created Crash Dump file [" + path + "]\n");
    EXPECT_NE(dump.find("Signal 11 (SIGSEGV)\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("Address 0x0000000000000010\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("RIP 0x"), std::string::npos) << dump;
    EXPECT_NE(dump.find("Backtrace:\n"), std::string::npos) << dump;
}

TEST(CrashDump, StackOverflowIsDumpedFromTheAlternateStack) {
    gmtest::TempDir temp;
    const std::string dir = temp.Path() + "/";
    const tChildEnd end = RunChild([&] {
        const rlimit smallStack{1 << 20, 1 << 20};
        setrlimit(RLIMIT_STACK, &smallStack);
        plat::InstallCrashHandlers(dir.c_str());
        Overflow(0);
    });
    ASSERT_TRUE(WIFSIGNALED(end.status));
    EXPECT_EQ(WTERMSIG(end.status), SIGSEGV);
    EXPECT_EQ(end.output, "[Thread " + std::to_string(end.pid) +
                              "] ACCESS VIOLATION - Created Crash Dump file [" +
                              DumpPath(dir, end.pid) + "]\n");
}

TEST(CrashDump, StackOverflowOnAStartedThreadIsDumped) {
    gmtest::TempDir temp;
    const std::string dir = temp.Path() + "/";
    const tChildEnd end = RunChild([&] {
        plat::InstallCrashHandlers(dir.c_str());
        plat::StartThread([](void*) { Overflow(0); }, nullptr);
        for (;;) pause();  // the thread's crash ends the process
    });
    ASSERT_TRUE(WIFSIGNALED(end.status));
    EXPECT_EQ(WTERMSIG(end.status), SIGSEGV);
    const std::string head = "[Thread ";
    ASSERT_EQ(end.output.compare(0, head.size(), head), 0) << end.output;
    const std::string tid = end.output.substr(head.size(), end.output.find(']') - head.size());
    EXPECT_NE(tid, std::to_string(end.pid));  // not the main thread
    const std::string path = dir + "core_" + tid + ".dmp";
    EXPECT_EQ(end.output,
              head + tid + "] ACCESS VIOLATION - Created Crash Dump file [" + path + "]\n");
    EXPECT_EQ(access(path.c_str(), F_OK), 0);
}

TEST(CrashDump, CrashAfterAnAttemptedDumpWritesNothingMore) {
    gmtest::TempDir temp;
    const std::string dir = temp.Path() + "/";
    const tChildEnd end = RunChild([&] {
        plat::InstallCrashHandlers(dir.c_str());
        // The process's one dump is taken here, as by an earlier crash on another thread.
        if (plat::WriteCrashDump(SIGSEGV, nullptr, nullptr) != plat::CrashDumpResult::kCreated)
            _exit(3);
        unlink(DumpPath(dir, getpid()).c_str());
        Fault();
    });
    const std::string tid = std::to_string(end.pid);
    ASSERT_TRUE(WIFSIGNALED(end.status)) << end.status;
    EXPECT_EQ(WTERMSIG(end.status), SIGSEGV);
    EXPECT_EQ(end.output, "[Thread " + tid + "] ACCESS VIOLATION - Created Crash Dump file [" +
                              DumpPath(dir, end.pid) + "]\n[Thread " + tid +
                              "] ACCESS VIOLATION - Unable to generate dump file.\n");
    EXPECT_NE(access(DumpPath(dir, end.pid).c_str(), F_OK), 0);  // the second crash wrote none
}

TEST(CrashDump, UncreatableFileReportsFailureAndStillEndsTheProcess) {
    gmtest::TempDir temp;
    const std::string dir = temp.Path() + "/missing/";
    const tChildEnd end = RunChild([&] {
        plat::InstallCrashHandlers(dir.c_str());
        abort();
    });
    ASSERT_TRUE(WIFSIGNALED(end.status));
    EXPECT_EQ(WTERMSIG(end.status), SIGABRT);
    EXPECT_EQ(end.output, "[Thread " + std::to_string(end.pid) +
                              "] ACCESS VIOLATION - FAILED TO CREATE CRASH DUMP FILE\n");
}

TEST(CrashDump, DirectoryTooLongIsRefused) {
    const std::string dir(3001, 'd');
    EXPECT_FALSE(plat::InstallCrashHandlers(dir.c_str()));
}

}  // namespace
