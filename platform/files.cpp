// POSIX file calls with their errno turned into the Windows error codes that the disk manager
// reports to clients.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace plat {

namespace {

// Windows error codes that this layer reports.
enum : int {
    kWinInvalidFunction = 1,
    kWinFileNotFound = 2,
    kWinPathNotFound = 3,
    kWinTooManyOpenFiles = 4,
    kWinAccessDenied = 5,
    kWinInvalidHandle = 6,
    kWinNotEnoughMemory = 8,
    kWinNotSameDevice = 17,
    kWinWriteProtect = 19,
    kWinSharingViolation = 32,
    kWinNotSupported = 50,
    kWinInvalidParameter = 87,
    kWinBrokenPipe = 109,
    kWinOpenFailed = 110,
    kWinDiskFull = 112,
    kWinDirNotEmpty = 145,
    kWinBadPathname = 161,
    kWinAlreadyExists = 183,
    kWinFilenameTooLong = 206,
    kWinFileTooLarge = 223,
    kWinDirectory = 267,
    kWinFileInvalid = 1006,
    kWinIoDevice = 1117,
    kWinCantResolveFilename = 1921,
};

// Every errno that the calls of this layer can give; ENOENT is decided apart (2 or 3).
const struct {
    int err;
    int win;
} kErrnoToWindows[] = {
    {EPERM, kWinAccessDenied},
    {EACCES, kWinAccessDenied},
    {EIO, kWinIoDevice},
    {ENXIO, kWinOpenFailed},
    {ENODEV, kWinOpenFailed},
    {EBADF, kWinInvalidHandle},
    {ENOMEM, kWinNotEnoughMemory},
    {EBUSY, kWinSharingViolation},
    {ETXTBSY, kWinSharingViolation},
    {EEXIST, kWinAlreadyExists},
    {EXDEV, kWinNotSameDevice},
    {ENOTDIR, kWinDirectory},
    {EISDIR, kWinBadPathname},
    {EINVAL, kWinInvalidParameter},
    {ENFILE, kWinTooManyOpenFiles},
    {EMFILE, kWinTooManyOpenFiles},
    {ENOTTY, kWinInvalidFunction},
    {ESPIPE, kWinInvalidFunction},
    {EFBIG, kWinFileTooLarge},
    {EOVERFLOW, kWinFileTooLarge},
    {ENOSPC, kWinDiskFull},
    {EDQUOT, kWinDiskFull},
    {EROFS, kWinWriteProtect},
    {EPIPE, kWinBrokenPipe},
    {ENAMETOOLONG, kWinFilenameTooLong},
    {ENOTEMPTY, kWinDirNotEmpty},
    {ELOOP, kWinCantResolveFilename},
    {ENOSYS, kWinNotSupported},
    {EOPNOTSUPP, kWinNotSupported},
    {ESTALE, kWinFileInvalid},
};

thread_local int tLastError = 0;

// The directory part of a host path ("." when it has none).
std::string DirectoryOf(const std::string& hostPath) {
    const size_t slash = hostPath.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return hostPath.substr(0, slash);
}

bool IsDirectory(const std::string& hostPath) {
    struct stat st;
    return ::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Records errno for a call on hostPath (empty for calls on a descriptor).
void Record(const std::string& hostPath) { tLastError = WindowsErrorOf(errno, hostPath); }

// Record for the calls that answer with a bool.
bool Fail(const std::string& hostPath) {
    Record(hostPath);
    return false;
}

bool FailWith(int win) {
    tLastError = win;
    return false;
}

// Attribute bits of a stat record for the entry called name (its last path component).
std::uint32_t AttributesOf(const struct stat& st, const char* name) {
    std::uint32_t bits = 0;
    if (S_ISDIR(st.st_mode)) {
        bits |= kAttrDirectory;
    } else if (!S_ISREG(st.st_mode)) {
        bits |= kAttrSystem;
    }
    if ((st.st_mode & S_IWUSR) == 0) bits |= kAttrReadOnly;
    if (name[0] == '.' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
        bits |= kAttrHidden;
    }
    return bits == 0 ? kAttrNormal : bits;
}

void FillFacts(const struct stat& st, const char* name, FileFacts& out) {
    out.size = static_cast<std::uint64_t>(st.st_size);
    out.writeTime = st.st_mtime != 0 ? st.st_mtime : st.st_atime;
    out.attributes = AttributesOf(st, name);
}

const char* LastComponent(const std::string& hostPath) {
    const size_t slash = hostPath.find_last_of('/');
    return hostPath.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

speed_t SpeedOf(int baud) {
    const struct {
        int baud;
        speed_t speed;
    } speeds[] = {{110, B110},       {300, B300},      {600, B600},       {1200, B1200},
                  {2400, B2400},     {4800, B4800},    {9600, B9600},     {19200, B19200},
                  {38400, B38400},   {57600, B57600},  {115200, B115200}, {230400, B230400},
                  {460800, B460800}, {921600, B921600}};
    for (const auto& s : speeds) {
        if (s.baud == baud) return s.speed;
    }
    return B0;
}

// Parity, data bits and stop bits into the control flags; false for values Linux lacks.
bool SetFrame(const SerialSettings& s, struct termios& tio) {
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    if (s.dataBits < 5 || s.dataBits > 8 || s.stopBits < 0 || s.stopBits > 2) return false;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    tio.c_cflag |= sizes[s.dataBits - 5] | CLOCAL | CREAD;
    // One and a half stop bits exist only with five data bits; Linux gives two there.
    if (s.stopBits != 0) tio.c_cflag |= CSTOPB;
    switch (s.parity) {
        case 0:
            break;
        case 1:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            tio.c_cflag |= PARENB;
            break;
        case 3:
            tio.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case 4:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            return false;
    }
    return true;
}

}  // namespace

int LastFileError() { return tLastError; }

int WindowsErrorOf(int err, const std::string& hostPath) {
    if (err == ENOENT) {
        return IsDirectory(DirectoryOf(hostPath)) ? kWinFileNotFound : kWinPathNotFound;
    }
    for (const auto& row : kErrnoToWindows) {
        if (row.err == err) return row.win;
    }
    return kUnmappedErrnoBase + err;
}

std::string HostPath(const char* path) {
    std::string out(path ? path : "");
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

UniqueFd OpenFile(const char* path, bool readWrite, bool create) {
    const std::string host = HostPath(path);
    // O_NONBLOCK only for the open itself: a serial line would wait there for its carrier and
    // a pipe for its other end. O_NOCTTY: a terminal never becomes the server's.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (readWrite || create ? O_RDWR : O_RDONLY);
    if (create) flags |= O_CREAT | O_TRUNC;
    int fd;
    do {
        fd = ::open(host.c_str(), flags, 0666);
    } while (fd == -1 && errno == EINTR);
    if (fd == -1) {
        Record(host);
        return UniqueFd();
    }
    UniqueFd owned(fd);
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        // A directory opened read-only reads as an error later; refuse it as writing does.
        FailWith(kWinBadPathname);
        return UniqueFd();
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status == -1 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1) {
        Record(host);
        return UniqueFd();
    }
    return owned;
}

bool CloseFile(UniqueFd& fd) {
    const int err = fd.Close();
    if (err == 0) return true;
    tLastError = WindowsErrorOf(err, std::string());
    return false;
}

std::int64_t ReadFile(int fd, void* buffer, std::size_t count) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, count);
        if (n >= 0) return n;
        if (errno != EINTR) {
            Record(std::string());
            return -1;
        }
    }
}

std::int64_t WriteFile(int fd, const void* buffer, std::size_t count) {
    const char* p = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            Record(std::string());
            return -1;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t SeekFile(int fd, std::int64_t offset, int origin) {
    const int whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (origin < 0 || origin > 2) {
        tLastError = kWinInvalidParameter;
        return -1;
    }
    const off_t pos = ::lseek(fd, offset, whence[origin]);
    if (pos == -1) Record(std::string());
    return pos;
}

bool SetSerial(int fd, const SerialSettings& settings) {
    struct termios tio;
    if (::tcgetattr(fd, &tio) != 0) return Fail(std::string());
    const speed_t speed = SpeedOf(settings.baud);
    ::cfmakeraw(&tio);
    if (speed == B0 || !SetFrame(settings, tio)) return FailWith(kWinInvalidParameter);
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    const int tenths = settings.readTimeoutMs <= 0 ? 0 : (settings.readTimeoutMs + 99) / 100;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = static_cast<cc_t>(tenths > 255 ? 255 : tenths);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) return Fail(std::string());
    return true;
}

std::string ServerDevicePath(bool serial, int number) {
    return (serial ? "/dev/ttyS" : "/dev/lp") + std::to_string(number - 1);
}

bool DeleteFile(const char* path) {
    const std::string host = HostPath(path);
    return ::unlink(host.c_str()) == 0 || Fail(host);
}

bool RenameNoReplace(const char* from, const char* to) {
    const std::string hostFrom = HostPath(from);
    const std::string hostTo = HostPath(to);
    if (::renameat2(AT_FDCWD, hostFrom.c_str(), AT_FDCWD, hostTo.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    const int err = errno;
    struct stat st;
    // A missing name is the source's when the source is gone, else the target's directory's.
    const bool sourceThere = ::lstat(hostFrom.c_str(), &st) == 0;
    errno = err;
    return Fail(sourceThere ? hostTo : hostFrom);
}

bool CopyFile(const char* from, const char* to) {
    UniqueFd source = OpenFile(from, false, false);
    if (!source.IsValid()) return false;
    const std::string hostTo = HostPath(to);
    // Not truncated at open: the target may be the source under another name.
    UniqueFd target(::open(hostTo.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
    if (!target.IsValid()) return Fail(hostTo);
    struct stat a;
    struct stat b;
    if (::fstat(source.Get(), &a) != 0 || ::fstat(target.Get(), &b) != 0) return Fail(hostTo);
    if (a.st_dev == b.st_dev && a.st_ino == b.st_ino) return FailWith(kWinSharingViolation);
    if (::ftruncate(target.Get(), 0) != 0) return Fail(hostTo);
    char buffer[16384];
    for (;;) {
        const std::int64_t n = ReadFile(source.Get(), buffer, sizeof buffer);
        if (n < 0) return false;
        if (n == 0) break;
        if (WriteFile(target.Get(), buffer, static_cast<std::size_t>(n)) < 0) return false;
    }
    return CloseFile(target);
}

bool MakeDirectory(const char* path) {
    const std::string host = HostPath(path);
    return ::mkdir(host.c_str(), 0777) == 0 || Fail(host);
}

bool RemoveDirectory(const char* path) {
    const std::string host = HostPath(path);
    return ::rmdir(host.c_str()) == 0 || Fail(host);
}

bool ChangeDirectory(const char* path) {
    const std::string host = HostPath(path);
    return ::chdir(host.c_str()) == 0 || Fail(host);
}

bool CurrentDirectory(std::string& out) {
    char buffer[4096];
    if (!::getcwd(buffer, sizeof buffer)) return Fail(std::string());
    out = buffer;
    return true;
}

std::string TempDirectory() {
    const char* env = std::getenv("TMPDIR");
    std::string dir = env && env[0] ? env : "/tmp";
    if (dir.back() != '/') dir += '/';
    return dir;
}

unsigned CreateTempFile(const char* directory, const char* prefix, std::string& out) {
    std::string base = HostPath(directory);
    if (!base.empty() && base.back() != '/') base += '/';
    base.append(prefix ? prefix : "", 0, 3);
    const unsigned start = static_cast<unsigned>(std::time(nullptr) ^ ::getpid()) & 0xFFFF;
    for (unsigned i = 0; i < 0xFFFF; ++i) {
        const unsigned number = (start + i) % 0xFFFF + 1;
        char tail[16];
        std::snprintf(tail, sizeof tail, "%04X.TMP", number);
        const std::string name = base + tail;
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd != -1) {
            ::close(fd);
            out = name;
            return number;
        }
        if (errno != EEXIST) {
            Record(name);
            return 0;
        }
    }
    tLastError = kWinAlreadyExists;
    return 0;
}

bool StatPath(const char* path, FileFacts& out) {
    const std::string host = HostPath(path);
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) return Fail(host);
    FillFacts(st, LastComponent(host), out);
    return true;
}

bool StatFd(int fd, FileFacts& out) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return Fail(std::string());
    FillFacts(st, "", out);
    return true;
}

bool SetFileTimes(const char* path, std::int64_t time) {
    const std::string host = HostPath(path);
    const struct timespec times[2] = {{static_cast<time_t>(time), 0},
                                      {static_cast<time_t>(time), 0}};
    return ::utimensat(AT_FDCWD, host.c_str(), times, 0) == 0 || Fail(host);
}

double FreeDiskBytes(const char* path) {
    const std::string host = HostPath(path);
    struct statvfs vfs;
    if (::statvfs(host.c_str(), &vfs) != 0) {
        Record(host);
        return -1;
    }
    return static_cast<double>(vfs.f_bavail) * static_cast<double>(vfs.f_frsize);
}

DirReader::~DirReader() {
    if (dir) ::closedir(dir);
}

bool DirReader::Open(const char* path) {
    const std::string host = HostPath(path);
    dir = ::opendir(host.c_str());
    if (dir) return true;
    // The directory itself is the path that was not found.
    return errno == ENOENT ? FailWith(kWinPathNotFound) : Fail(host);
}

bool DirReader::Next(std::string& name, FileFacts& facts) {
    if (!dir) return false;
    while (const struct dirent* entry = ::readdir(dir)) {
        struct stat st;
        struct stat link;
        if (::fstatat(::dirfd(dir), entry->d_name, &link, AT_SYMLINK_NOFOLLOW) != 0) continue;
        const bool isLink = S_ISLNK(link.st_mode);
        // A link that leads nowhere is listed as itself: a reparse point and nothing else.
        const bool dangling = isLink && ::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0;
        if (!isLink || dangling) st = link;
        name = entry->d_name;
        FillFacts(st, entry->d_name, facts);
        if (isLink) {
            const std::uint32_t drop = kAttrNormal | (dangling ? kAttrSystem : 0);
            facts.attributes = (facts.attributes & ~drop) | kAttrReparse;
        }
        return true;
    }
    return false;
}

}  // namespace plat
