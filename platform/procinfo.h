// Facts about the machine and the running process: the program's path, memory figures, the
// operating system's name and version, and the user and computer names.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

// The running program's full path (from /proc/self/exe); empty when it cannot be read.
std::string ProgramPath();
// The directory of the program with a trailing '/'; "./" when the path cannot be read.
std::string ProgramDirectory();

// Memory of the machine, in bytes. "Paging file" stands for all committable memory (physical
// memory and swap together), as the commit limit does on other systems; "virtual" is the
// process's address space (its RLIMIT_AS, else the whole user address space) and what of it is
// not mapped.
struct SystemMemory {
    std::uint64_t physicalTotal = 0;
    std::uint64_t physicalFree = 0;
    std::uint64_t pagingTotal = 0;
    std::uint64_t pagingFree = 0;
    std::uint64_t virtualTotal = 0;
    std::uint64_t virtualFree = 0;
};
// Memory of this process, in bytes: its resident set, and its private memory in use (anonymous
// resident pages and swapped-out pages).
struct ProcessMemory {
    std::uint64_t workingSet = 0;
    std::uint64_t privateBytes = 0;
};

// Read from /proc/meminfo and /proc/self/status; false when a file or a needed line is missing.
bool ReadSystemMemory(SystemMemory& out);
bool ReadProcessMemory(ProcessMemory& out);
// The parsers behind them, for texts in the form of those files ("Key:   value kB" lines).
// virtualSize is the process's mapped size (VmSize) that ReadSystemMemory takes from
// /proc/self/status; addressSpace the size of the address space.
bool ParseMeminfo(const char* text, std::uint64_t addressSpace, std::uint64_t virtualSize,
                  SystemMemory& out);
bool ParseProcessStatus(const char* text, ProcessMemory& out);

// The operating system as uname gives it: the version numbers are the leading numbers of the
// release ("6.1.0-18-amd64" gives 6, 1, 0).
struct OSFacts {
    std::string name;     // "Linux"
    std::string release;  // "6.1.0-18-amd64"
    std::string version;  // the kernel's build text
    std::string machine;  // "x86_64"
    int major = 0;
    int minor = 0;
    int build = 0;
};
bool ReadOSFacts(OSFacts& out);  // false when uname fails
void ParseRelease(const char* release, int& major, int& minor, int& build);

// The effective user's login name; empty when it has none.
std::string UserName();
// The machine's host name; empty when it cannot be read.
std::string ComputerName();
std::uint32_t ProcessId();

}  // namespace plat
