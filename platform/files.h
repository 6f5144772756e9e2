// The file layer under the disk manager: real POSIX calls on paths in the disk manager's form
// ('\\' separators become '/' here, letter case is kept). A failed call returns its failure
// value and leaves the Windows error code of the failure for LastFileError, so that the disk
// manager answers clients with the same codes and texts on every platform.
#pragma once
#include <dirent.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/unique_fd.h"

namespace plat {

// The Windows error code of the calling thread's last failed call of this layer (0 before any).
// An errno without a Windows counterpart is reported as kUnmappedErrnoBase + errno.
int LastFileError();
constexpr int kUnmappedErrnoBase = 0x20000000;  // the Windows range of application codes

// The Windows code for an errno; ENOENT gives 2 (file not found) or, when hostPath's directory
// is missing, 3 (path not found). Exposed for the tests of the mapping.
int WindowsErrorOf(int err, const std::string& hostPath);

// The host path of a disk-manager path: every '\\' becomes '/'.
std::string HostPath(const char* path);

// Opens a file for reading, or for reading and writing. With create the file is created or
// emptied (read and write access). Directories are refused. Sharing modes do not exist here.
UniqueFd OpenFile(const char* path, bool readWrite, bool create);
bool CloseFile(UniqueFd& fd);  // the descriptor is gone afterwards, whatever the result
// Bytes read (0 at the end), or -1.
std::int64_t ReadFile(int fd, void* buffer, std::size_t count);
// Writes all count bytes: count, or -1.
std::int64_t WriteFile(int fd, const void* buffer, std::size_t count);
// origin: 0 start, 1 current, 2 end. The new position, or -1.
std::int64_t SeekFile(int fd, std::int64_t offset, int origin);

// Serial line settings as the disk manager's device parameters give them (Windows numbering:
// parity 0 none, 1 odd, 2 even, 3 mark, 4 space; stop bits 0 one, 1 one and a half, 2 two).
struct SerialSettings {
    int baud = 9600;
    int parity = 0;
    int dataBits = 8;
    int stopBits = 0;
    int readTimeoutMs = 1000;
};
// Raw mode with these settings; a read returns what has arrived, or waits up to the time-out
// (in tenths of a second, at most 25.5 s) for the first byte.
bool SetSerial(int fd, const SerialSettings& settings);
// The device behind the server's own port number (1-4): /dev/lpN or /dev/ttySN, counted from 0.
std::string ServerDevicePath(bool serial, int number);

bool DeleteFile(const char* path);
// Fails with 183 (already exists) when the target exists.
bool RenameNoReplace(const char* from, const char* to);
// Copies the bytes, replacing the target's; a new target gets the default mode. Copying a
// file onto itself fails with 32 (in use) and leaves it whole.
bool CopyFile(const char* from, const char* to);
bool MakeDirectory(const char* path);
bool RemoveDirectory(const char* path);
bool ChangeDirectory(const char* path);
bool CurrentDirectory(std::string& out);
std::string TempDirectory();  // TMPDIR or /tmp, with a trailing '/'
// Creates an empty file named directory/ + up to three characters of prefix + four hex digits
// + ".TMP" with a number chosen here; its number (1-65535), or 0 on failure.
unsigned CreateTempFile(const char* directory, const char* prefix, std::string& out);

// Disk-manager attribute bits that Linux can show.
constexpr std::uint32_t kAttrReadOnly = 0x1;
constexpr std::uint32_t kAttrHidden = 0x2;  // a name that begins with '.' ("." and ".." aside)
constexpr std::uint32_t kAttrSystem = 0x4;  // devices, pipes and sockets
constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr std::uint32_t kAttrNormal = 0x80;    // only when no other bit is set
constexpr std::uint32_t kAttrReparse = 0x400;  // a symbolic link (listings only)

struct FileFacts {
    std::uint64_t size = 0;
    std::int64_t writeTime = 0;  // seconds since 1970 UTC; the access time when unset
    std::uint32_t attributes = 0;
};
bool StatPath(const char* path, FileFacts& out);
bool StatFd(int fd, FileFacts& out);
// Sets access and modification time (seconds since 1970 UTC).
bool SetFileTimes(const char* path, std::int64_t time);
// Bytes free for an unprivileged user on the file system that holds the path, or -1.
double FreeDiskBytes(const char* path);

// One pass over a directory's entries, "." and ".." included, as readdir gives them.
class DirReader {
public:
    DirReader() = default;
    ~DirReader();
    DirReader(const DirReader&) = delete;
    DirReader& operator=(const DirReader&) = delete;

    bool Open(const char* path);  // false with the error set
    // The next entry; false at the end. Entries that vanish while listed are passed over. A
    // symbolic link gives the facts of what it leads to, plus kAttrReparse.
    bool Next(std::string& name, FileFacts& facts);

private:
    DIR* dir = nullptr;
};

}  // namespace plat
