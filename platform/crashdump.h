// Crash dumps: handlers for the fatal signals that write one dump file per process and report
// it on standard output, using async-signal-safe calls only.
#pragma once
#include <signal.h>

namespace plat {

// Installs the handler for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT, running on an alternate
// stack, and gives the calling thread that stack. The dumps go to directory + "core_" + thread
// id + ".dmp"; the directory (ending in '/') is copied and must fit in 3000 bytes. Called once
// at start, before other threads run. False when the directory is too long or a handler could
// not be installed.
bool InstallCrashHandlers(const char* directory);

// Gives the calling thread an alternate signal stack, so that a crash by stack overflow can
// still be dumped. Every thread calls it at its start; the stack is freed when the thread ends.
void PrepareCrashStack();

enum class CrashDumpResult {
    kCreated,           // the dump was written and reported
    kFailed,            // the file could not be created or written
    kAlreadyAttempted,  // a dump was tried before in this process: nothing written
};

// The handler's work: the first call of the process creates the dump (signal, code, fault
// address, registers, backtrace) and prints
// "[Thread %ld] ACCESS VIOLATION - Created Crash Dump file [%s]\n", or
// "[Thread %ld] ACCESS VIOLATION - FAILED TO CREATE CRASH DUMP FILE\n"; every later call prints
// "[Thread %ld] ACCESS VIOLATION - Unable to generate dump file.\n". info and context may be
// null. After InstallCrashHandlers only; async-signal-safe.
CrashDumpResult WriteCrashDump(int signal, const siginfo_t* info, const void* context);

}  // namespace plat
