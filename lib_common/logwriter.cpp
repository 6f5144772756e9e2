// The log writer. The file is opened and closed for every line, so that readers (the monitor's
// log request, another process) always see whole lines and the size check runs on every write.
#include "lib_common/logwriter.h"

#include <cstring>
#include <ctime>

#include "lib_base/critsec.h"
#include "lib_base/diskman.h"
#include "lib_base/misc.h"
#include "lib_base/printer.h"

namespace {

// Guards the path and makes each WriteLog (open, rotate, write, echo, close) one unit.
tCriticalSection& LogLock() {
    static tCriticalSection lock;
    return lock;
}

// Guarded by LogLock. Handed out only as deep copies: string copies share their counts.
tString& LogPath() {
    static tString path;
    return path;
}

// Moves the full log aside and starts a new one; the handle of the new log, or -1.
i32 Rotate(tDiskManAbs& dm, i32 handle, const tString& path) {
    dm.FileClose(handle);
    const tString backup = ReplaceExtension(path, ".bak");
    dm.FileDelete(backup);
    if (dm.FileRename(path, backup) == 0) return dm.FileCreate(path);
    // The log could not be moved aside: keep writing to it rather than empty it.
    return dm.FileOpen(path, 2, nullptr);
}

bool WriteLine(tDiskManAbs& dm, i32 handle, const char* message) {
    std::tm now;
    LocalTimeOf(CurrentTime(), now);
    tString prefix;
    prefix.sprintf("%02i/%02i/%04i %02d:%02d:%02d : ", now.tm_mday, now.tm_mon + 1,
                   now.tm_year + 1900, now.tm_hour, now.tm_min, now.tm_sec);
    const i32 length = static_cast<i32>(std::strlen(message));
    bool ok = dm.FileSeek(handle, 0, 2) >= 0;
    ok = ok && dm.FileWriteText(handle, prefix) == prefix.GetLength();
    ok = ok && dm.FileWrite(handle, message, length) == length;
    return ok && dm.FileWriteText(handle, "\n") == 1;
}

}  // namespace

void SetLogPath(const char* path) {
    tWaiting hold(&LogLock(), __FILE__, __LINE__);
    LogPath() = path;
}

tString GetLogPath() {
    tWaiting hold(&LogLock(), __FILE__, __LINE__);
    return tString(LogPath().GetText());
}

bool WriteLog(const char* message, u8 recreate) {
    if (!message) message = "";
    tWaiting hold(&LogLock(), __FILE__, __LINE__);
    const tString path(LogPath().GetText());
    tDiskManLocal dm;
    i32 handle =
        !recreate && dm.FileExists(path) ? dm.FileOpen(path, 2, nullptr) : dm.FileCreate(path);
    if (handle < 0) {
        BasePrintf("\n**** Warning - Could not write %s. FileOpen or FileCreate error.\n",
                   path.GetText());
        return false;
    }
    if (dm.FileSize(handle) >= kLogMaxSize) {
        handle = Rotate(dm, handle, path);
        if (handle < 0) {
            BasePrintf("\n**** Warning - Could not write %s. FileCreate error. \n", path.GetText());
            return false;
        }
    }
    const bool written = WriteLine(dm, handle, message);
    BasePrintf("[BEGINLOG]\n%s\n[ENDLOG]\n", message);
    return dm.FileClose(handle) && written;
}

tString ReplaceExtension(const char* path, const char* ext) {
    tString out(path);
    const char* name = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '/' || *p == '\\') name = p + 1;
    }
    const char* dot = std::strrchr(name, '.');
    if (dot) out.Delete(static_cast<i32>(dot - path));
    out += ext;
    return out;
}
