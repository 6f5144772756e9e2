// The disk manager's two roots and the names placed under them: the second root is a base
// directory, the first the current directory below it.
//
// Roots:
//  (1) rootPath2 is empty (the whole file system) or a directory, without a trailing '\\'.
//  (2) Once set, rootPath begins with '\\', holds no "." or ".." parts, and rootPath2 +
//      rootPath named an existing directory when it was set: the first root never climbs above
//      the second.
#include <strings.h>

#include <cctype>
#include <cstring>
#include <string>

#include "lib_base/diskman_local.h"
#include "lib_base/misc.h"

namespace {

bool EndsWithBackslash(const tString& text) {
    return text.GetLength() > 0 && text.At(text.GetLength() - 1) == '\\';
}

// The path with its "." and ".." parts resolved and empty parts dropped; ".." at the top stays
// at the top. The result begins with '\\' ("\\" alone for the top).
tString ResolveDots(const char* path) {
    tString out;
    const char* p = path;
    while (*p) {
        while (*p == '\\') ++p;
        const char* end = std::strchr(p, '\\');
        if (!end) end = p + std::strlen(p);
        const size_t n = static_cast<size_t>(end - p);
        if (n == 2 && p[0] == '.' && p[1] == '.') {
            const i32 cut = out.ReverseFind('\\');
            if (cut >= 0) out.Delete(cut);
        } else if (n > 0 && !(n == 1 && p[0] == '.')) {
            out += "\\";
            out.Append(p, static_cast<i32>(n));
        }
        p = end;
    }
    if (out.GetLength() == 0) out = "\\";
    return out;
}

}  // namespace

bool tDiskManLocalAbs::NormalizePath(tString& text) {
    for (i32 at = text.Find("/\\/"); at >= 0; at = text.Find("/\\/", at)) text.Delete(at, 3);
    text.ReplaceChar('/', '\\');
    return true;
}

bool tDiskManLocalAbs::MakeFullPath(tString& out, const char* name) {
    const tString path = DiskManPath(name);
    if (path.At(0) != '\\') {
        out = path;
        return true;
    }
    out = rootPath;
    if (EndsWithBackslash(out)) out.Delete(out.GetLength() - 1, 1);
    out += path;
    return true;
}

bool tDiskManLocalAbs::IsClientPath(const char* name) {
    if (!name) return false;
    if (std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':') return true;
    const bool port = strncasecmp(name, "LPT", 3) == 0 || strncasecmp(name, "COM", 3) == 0;
    return port && name[3] >= '1' && name[3] <= '4';
}

// Host paths keep their letter case, so the prefix is compared with case counting.
bool tDiskManLocalAbs::ServerPath(const char* name, tString& out) {
    tString path(name);
    path.Trim();
    path = DiskManPath(path);
    tString device;
    if (ServerDeviceOf(path, device) || IsClientPath(path) || std::strncmp(path, "\\\\", 2) == 0) {
        out = path;
        return true;
    }
    tString prefix = rootPath2;
    prefix += rootPath;
    if (!EndsWithBackslash(prefix) && path.At(0) != '\\') prefix += "\\";
    const i32 shorter =
        path.GetLength() < prefix.GetLength() ? path.GetLength() : prefix.GetLength();
    if (std::strncmp(path, prefix, static_cast<size_t>(shorter)) == 0) {
        out = path;
    } else {
        out = prefix;
        out += path;
    }
    return true;
}

i32 tDiskManLocalAbs::SetRootPath(const char* path) {
    tString p = DiskManPath(path);
    NormalizePath(p);
    lastError = 0;
    if (p == "..") {
        const i32 cut = rootPath.ReverseFind('\\');
        if (cut >= 0) rootPath.Delete(cut);
        if (rootPath.GetLength() == 0) rootPath = "\\";
        return 0;
    }
    tString candidate;
    if (p.At(0) != '\\') {
        candidate = rootPath;
        candidate += "\\";
    }
    candidate += p;
    candidate = ResolveDots(candidate);
    tString onDisk = rootPath2;
    onDisk += candidate;
    if (!DirExists(onDisk)) return -1;
    rootPath = candidate;
    return 0;
}

bool tDiskManLocalAbs::SetRootPath2(const char* path) {
    tString p = DiskManPath(path);
    if (EndsWithBackslash(p)) p.Delete(p.GetLength() - 1, 1);
    if (p == rootPath2.GetText()) return true;
    if (!DirExists(p.GetLength() > 0 ? p.GetText() : "\\")) return false;
    rootPath2 = p;
    SetRootPath("\\");
    return true;
}

bool tDiskManLocalAbs::ChDir(const char* path) {
    lastError = 0;
    if (plat::ChangeDirectory(DiskManPath(path))) {
        SetRootPath(path);
    } else {
        DM_HOST_FAILED();
    }
    return lastError == 0;
}

bool tDiskManLocalAbs::GetCurDir(tString& out) {
    std::string dir;
    if (!plat::CurrentDirectory(dir)) {
        DM_HOST_FAILED();
        return false;
    }
    lastError = 0;
    out = DiskManPath(dir.c_str());
    return true;
}

bool tDiskManLocalAbs::ResetCurDir() {
    tString dir;
    return GetCurDir(dir) && ChDir(dir);
}

i32 tDiskManLocalAbs::GetTempPath(tString& out) {
    out = DiskManPath(plat::TempDirectory().c_str());
    return out.GetLength();
}

u32 tDiskManLocalAbs::GetTempFileName(const char* directory, const char* prefix, tString& out) {
    std::string name;
    const u32 number = plat::CreateTempFile(DiskManPath(directory), prefix, name);
    if (number == 0) {
        DM_HOST_FAILED();
        return 0;
    }
    lastError = 0;
    out = DiskManPath(name.c_str());
    return number;
}
