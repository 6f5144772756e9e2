// The fatal-signal handler and its dump file. Everything that runs inside the handler is
// async-signal-safe: fixed buffers, write(2), open(2), backtrace (its library is loaded at
// installation, so it does not allocate later).
//
// Dump state:
//  (1) attempted goes from false to true once, taken by the first crash of the process; only
//      that crash writes a file.
//  (2) finished becomes true when that crash has written and reported its dump.
#include "platform/crashdump.h"

#include <execinfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace plat {
namespace {

constexpr size_t kDirectoryMax = 3000;
constexpr size_t kAltStackBytes = 65536;
constexpr int kBacktraceDepth = 64;
constexpr int kSecondCrashWaitSteps = 1000;  // of 10 ms: the first dump gets 10 s to finish
const int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

char dumpDirectory[kDirectoryMax + 1];
std::atomic<bool> attempted{false};
std::atomic<bool> finished{false};

// Text built in a fixed buffer and written to one descriptor; flushes itself when full.
class tSignalWriter {
public:
    explicit tSignalWriter(int fd) : fd(fd) {}
    ~tSignalWriter() { Flush(); }
    tSignalWriter(const tSignalWriter&) = delete;
    tSignalWriter& operator=(const tSignalWriter&) = delete;

    tSignalWriter& Text(const char* text) {
        for (; *text; ++text) Char(*text);
        return *this;
    }
    tSignalWriter& Decimal(std::uint64_t value) {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value);
        while (n) Char(digits[--n]);
        return *this;
    }
    tSignalWriter& Hex(std::uint64_t value) {
        Text("0x");
        for (int shift = 60; shift >= 0; shift -= 4)
            Char("0123456789abcdef"[(value >> shift) & 15]);
        return *this;
    }
    // False when a write failed since the writer was made.
    bool Flush() {
        for (size_t done = 0; done < used;) {
            const ssize_t n = ::write(fd, buffer + done, used - done);
            if (n <= 0) {
                failed = true;
                break;
            }
            done += static_cast<size_t>(n);
        }
        used = 0;
        return !failed;
    }

private:
    void Char(char c) {
        if (used == sizeof buffer) Flush();
        buffer[used++] = c;
    }

    const int fd;
    char buffer[512];
    size_t used = 0;
    bool failed = false;
};

std::uint64_t ThreadId() { return static_cast<std::uint64_t>(::syscall(SYS_gettid)); }

const char* SignalName(int signal) {
    switch (signal) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGILL:
            return "SIGILL";
        case SIGFPE:
            return "SIGFPE";
        case SIGABRT:
            return "SIGABRT";
        default:
            return "signal";
    }
}

void WriteRegisters(tSignalWriter& out, const void* context) {
#if defined(__x86_64__)
    static const char* const kNames[] = {"R8",  "R9",  "R10", "R11", "R12", "R13",
                                         "R14", "R15", "RDI", "RSI", "RBP", "RBX",
                                         "RDX", "RAX", "RCX", "RSP", "RIP", "EFL"};
    const auto* uc = static_cast<const ucontext_t*>(context);
    out.Text("Registers:\n");
    for (int i = 0; i < static_cast<int>(sizeof kNames / sizeof kNames[0]); ++i)
        out.Text(kNames[i])
            .Text(" ")
            .Hex(static_cast<std::uint64_t>(uc->uc_mcontext.gregs[i]))
            .Text("\n");
#else
    out.Text("Registers: not recorded on this processor\n");
#endif
}

// The dump's text: what happened, where, the registers and the stack.
bool WriteDumpFile(int fd, int signal, const siginfo_t* info, const void* context) {
    {
        tSignalWriter out(fd);
        out.Text("Signal ")
            .Decimal(static_cast<std::uint64_t>(signal))
            .Text(" (")
            .Text(SignalName(signal))
            .Text(")\n");
        out.Text("Thread ").Decimal(ThreadId()).Text("\n");
        out.Text("Time ").Decimal(static_cast<std::uint64_t>(std::time(nullptr))).Text("\n");
        if (info) {
            out.Text("Code ").Decimal(static_cast<std::uint32_t>(info->si_code)).Text("\n");
            out.Text("Address ").Hex(reinterpret_cast<std::uintptr_t>(info->si_addr)).Text("\n");
        }
        if (context) WriteRegisters(out, context);
        out.Text("Backtrace:\n");
        if (!out.Flush()) return false;
    }
    void* frames[kBacktraceDepth];
    const int depth = ::backtrace(frames, kBacktraceDepth);
    ::backtrace_symbols_fd(frames, depth, fd);
    return true;
}

void Report(std::uint64_t tid, const char* what, const char* path) {
    tSignalWriter out(STDOUT_FILENO);
    out.Text("[Thread ").Decimal(tid).Text("] ACCESS VIOLATION - ").Text(what);
    if (path) out.Text(" [").Text(path).Text("]");
    out.Text("\n");
}

void OnFatalSignal(int signal, siginfo_t* info, void* context) {
    if (WriteCrashDump(signal, info, context) == CrashDumpResult::kAlreadyAttempted) {
        // Another thread is writing the dump; ending the process now would cut it short.
        const timespec step{0, 10 * 1000 * 1000};
        for (int i = 0; i < kSecondCrashWaitSteps && !finished.load(); ++i)
            ::nanosleep(&step, nullptr);
    }
    // The default action ends the process when the handler returns: raised now, the signal is
    // blocked until then, and a fault would recur at the same instruction anyway.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    ::raise(signal);
}

struct tAltStack {
    void* memory = nullptr;
    ~tAltStack() {
        if (!memory) return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
        ::munmap(memory, kAltStackBytes);
    }
};

}  // namespace

CrashDumpResult WriteCrashDump(int signal, const siginfo_t* info, const void* context) {
    const std::uint64_t tid = ThreadId();
    if (attempted.exchange(true)) {
        Report(tid, "Unable to generate dump file.", nullptr);
        return CrashDumpResult::kAlreadyAttempted;
    }
    char path[kDirectoryMax + 40];
    {
        // The name built in place: directory, "core_", the thread id, ".dmp".
        char digits[24];
        int n = 0;
        std::uint64_t value = tid;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value);
        size_t len = std::strlen(dumpDirectory);
        std::memcpy(path, dumpDirectory, len);
        std::memcpy(path + len, "core_", 5);
        len += 5;
        while (n) path[len++] = digits[--n];
        std::memcpy(path + len, ".dmp", 5);
    }
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        Report(tid, "FAILED TO CREATE CRASH DUMP FILE", nullptr);
        finished.store(true);
        return CrashDumpResult::kFailed;
    }
    const bool written = WriteDumpFile(fd, signal, info, context);
    ::close(fd);
    if (written) Report(tid, "Created Crash Dump file", path);
    finished.store(true);
    return written ? CrashDumpResult::kCreated : CrashDumpResult::kFailed;
}

void PrepareCrashStack() {
    thread_local tAltStack altStack;
    if (altStack.memory) return;
    stack_t current{};
    // A stack set up by someone else (a sanitizer's runtime) is kept.
    if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) &&
        current.ss_size >= kAltStackBytes)
        return;
    void* memory =
        ::mmap(nullptr, kAltStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = kAltStackBytes;
    if (::sigaltstack(&stack, nullptr) != 0) {
        ::munmap(memory, kAltStackBytes);
        return;
    }
    altStack.memory = memory;
}

bool InstallCrashHandlers(const char* directory) {
    const size_t len = std::strlen(directory);
    if (len > kDirectoryMax) return false;
    std::memcpy(dumpDirectory, directory, len + 1);
    // The first backtrace loads the unwinder, which allocates; inside a handler it must not.
    void* frame[1];
    ::backtrace(frame, 1);
    PrepareCrashStack();
    struct sigaction action {};
    action.sa_sigaction = OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    bool ok = true;
    for (int signal : kFatalSignals)
        if (::sigaction(signal, &action, nullptr) != 0) ok = false;
    return ok;
}

}  // namespace plat
