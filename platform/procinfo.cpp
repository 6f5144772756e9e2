// Process and machine facts from /proc, uname, the password database and the host name.
// Every byte count is 64-bit: /proc gives kilobytes, which are multiplied out here.
#include "platform/procinfo.h"

#include <pwd.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace plat {
namespace {

// The user address space of an x86_64 process with four-level page tables (128 TiB less the
// guard page), which the kernel gives every process unless it asks for more.
constexpr std::uint64_t kUserAddressSpace = 0x7ffffffff000ULL;

// The whole of a small /proc file; false when it cannot be read.
bool ReadProcFile(const char* path, std::string& out) {
    std::FILE* file = std::fopen(path, "re");
    if (!file) return false;
    char buffer[4096];
    out.clear();
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) out.append(buffer, n);
    std::fclose(file);
    return !out.empty();
}

// The value of a "Key:  value kB" line in bytes; false when the key has no line.
bool FieldBytes(const char* text, const char* key, std::uint64_t& out) {
    const size_t keyLen = std::strlen(key);
    for (const char* line = text; line && *line;) {
        if (std::strncmp(line, key, keyLen) == 0 && line[keyLen] == ':') {
            std::uint64_t kb = 0;
            if (std::sscanf(line + keyLen + 1, " %" SCNu64, &kb) != 1) return false;
            out = kb * 1024;
            return true;
        }
        line = std::strchr(line, '\n');
        if (line) ++line;
    }
    return false;
}

std::uint64_t AddressSpace() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur < kUserAddressSpace)
        return limit.rlim_cur;
    return kUserAddressSpace;
}

}  // namespace

std::string ProgramPath() {
    std::vector<char> buffer(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return std::string();
    return std::string(buffer.data(), static_cast<size_t>(n));
}

std::string ProgramDirectory() {
    const std::string path = ProgramPath();
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "./";
    return path.substr(0, slash + 1);
}

bool ParseMeminfo(const char* text, std::uint64_t addressSpace, std::uint64_t virtualSize,
                  SystemMemory& out) {
    std::uint64_t total = 0, available = 0, swapTotal = 0, swapFree = 0;
    if (!FieldBytes(text, "MemTotal", total)) return false;
    if (!FieldBytes(text, "MemAvailable", available)) {
        // Kernels before 3.14 lack the estimate: free memory plus the page cache stands in.
        std::uint64_t free = 0, buffers = 0, cached = 0;
        if (!FieldBytes(text, "MemFree", free)) return false;
        FieldBytes(text, "Buffers", buffers);
        FieldBytes(text, "Cached", cached);
        available = free + buffers + cached;
    }
    if (available > total) available = total;
    FieldBytes(text, "SwapTotal", swapTotal);
    FieldBytes(text, "SwapFree", swapFree);
    if (swapFree > swapTotal) swapFree = swapTotal;
    out.physicalTotal = total;
    out.physicalFree = available;
    out.pagingTotal = total + swapTotal;
    out.pagingFree = available + swapFree;
    out.virtualTotal = addressSpace;
    out.virtualFree = virtualSize < addressSpace ? addressSpace - virtualSize : 0;
    return true;
}

bool ParseProcessStatus(const char* text, ProcessMemory& out) {
    std::uint64_t resident = 0, anonymous = 0, swapped = 0;
    if (!FieldBytes(text, "VmRSS", resident)) return false;
    if (!FieldBytes(text, "RssAnon", anonymous)) anonymous = resident;  // before Linux 4.5
    FieldBytes(text, "VmSwap", swapped);
    out.workingSet = resident;
    out.privateBytes = anonymous + swapped;
    return true;
}

bool ReadSystemMemory(SystemMemory& out) {
    std::string meminfo, status;
    if (!ReadProcFile("/proc/meminfo", meminfo)) return false;
    if (!ReadProcFile("/proc/self/status", status)) return false;
    std::uint64_t virtualSize = 0;
    if (!FieldBytes(status.c_str(), "VmSize", virtualSize)) return false;
    return ParseMeminfo(meminfo.c_str(), AddressSpace(), virtualSize, out);
}

bool ReadProcessMemory(ProcessMemory& out) {
    std::string status;
    if (!ReadProcFile("/proc/self/status", status)) return false;
    return ParseProcessStatus(status.c_str(), out);
}

void ParseRelease(const char* release, int& major, int& minor, int& build) {
    int parts[3] = {0, 0, 0};
    const char* p = release;
    for (int i = 0; i < 3 && p && *p >= '0' && *p <= '9'; ++i) {
        char* end = nullptr;
        const long value = std::strtol(p, &end, 10);
        parts[i] = value > 0x7fffffff ? 0x7fffffff : static_cast<int>(value);
        p = (*end == '.') ? end + 1 : nullptr;
    }
    major = parts[0];
    minor = parts[1];
    build = parts[2];
}

bool ReadOSFacts(OSFacts& out) {
    utsname names{};
    if (::uname(&names) != 0) return false;
    out.name = names.sysname;
    out.release = names.release;
    out.version = names.version;
    out.machine = names.machine;
    ParseRelease(names.release, out.major, out.minor, out.build);
    return true;
}

std::string UserName() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return std::string();
    return found->pw_name ? found->pw_name : "";
}

std::string ComputerName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return std::string();
    return name;
}

std::uint32_t ProcessId() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace plat
