// The disk manager's directories, searches and listings, file times and free space.
#include <cstring>
#include <memory>
#include <string>

#include "lib_base/diskman_local.h"
#include "lib_base/misc.h"

// The platform layer gives disk-manager attribute bits as they are.
static_assert(plat::kAttrReadOnly == kDMAttrReadOnly && plat::kAttrHidden == kDMAttrHidden &&
                  plat::kAttrSystem == kDMAttrSystem && plat::kAttrDirectory == kDMAttrDirectory &&
                  plat::kAttrNormal == kDMAttrNormal && plat::kAttrReparse == kDMAttrReparse,
              "attribute bits differ");

namespace {

constexpr i32 kWinFileNotFound = 2;
constexpr i32 kWinPathNotFound = 3;
constexpr i32 kWinNoMoreFiles = 18;
constexpr i32 kMakeDirPathMissing = 3;
constexpr i32 kMakeDirFailed = 5;

bool HasWildcard(const char* name) { return std::strpbrk(name, "*?") != nullptr; }

void FillInfo(tDMFileInfo& info, const char* name, const plat::FileFacts& facts) {
    info.name = name;
    info.size = facts.size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(facts.size);
    info.time = facts.writeTime;
    info.attributes = facts.attributes;
}

bool NextMatch(tDMSearch& search, tDMFileInfo& info) {
    std::string name;
    plat::FileFacts facts;
    while (search.reader.Next(name, facts)) {
        if (WildcardMatch(name.c_str(), search.pattern)) {
            FillInfo(info, name.c_str(), facts);
            return true;
        }
    }
    return false;
}

// The kinds of entry that the letters D, H and S of a listing choose.
u32 ChosenKinds(const char* letters) {
    u32 chosen = 0;
    if (std::strpbrk(letters, "Dd")) chosen |= kDMAttrDirectory;
    if (std::strpbrk(letters, "Hh")) chosen |= kDMAttrHidden;
    if (std::strpbrk(letters, "Ss")) chosen |= kDMAttrSystem;
    return chosen;
}

}  // namespace

void AttributesToText(const tDMFileInfo& entry, tString& out) {
    const struct {
        u32 bit;
        char letter;
    } letters[] = {{kDMAttrNormal, 'N'},    {kDMAttrHidden, 'H'},    {kDMAttrSystem, 'S'},
                   {kDMAttrArchive, 'A'},   {kDMAttrDirectory, 'D'}, {kDMAttrCompressed, 'C'},
                   {kDMAttrReadOnly, 'R'},  {kDMAttrEncrypted, 'E'}, {kDMAttrNotIndexed, 'I'},
                   {kDMAttrOffline, 'O'},   {kDMAttrReparse, 'P'},   {kDMAttrSparse, 'Z'},
                   {kDMAttrTemporary, 'T'}, {kDMAttrOffline, 'V'}};
    out.Clear();
    for (const auto& l : letters) {
        if (entry.attributes & l.bit) out += l.letter;
    }
}

// ---- Directories ----

bool tDiskManLocalAbs::DirExists(const char* path) {
    plat::FileFacts facts;
    if (!plat::StatPath(DiskManPath(path), facts)) {
        DM_HOST_FAILED();
        return false;
    }
    lastError = 0;
    return (facts.attributes & kDMAttrDirectory) != 0;
}

i32 tDiskManLocalAbs::MakeDir(const char* path) {
    tString p(path);
    p.Trim();
    if (plat::MakeDirectory(DiskManPath(p))) {
        lastError = 0;
        return 0;
    }
    const i32 host = plat::LastFileError();
    DM_HOST_FAILED();
    return host == kWinPathNotFound || host == kWinFileNotFound ? kMakeDirPathMissing
                                                                : kMakeDirFailed;
}

i32 tDiskManLocalAbs::RemoveDir(const char* path) {
    if (!plat::RemoveDirectory(path)) {
        DM_HOST_FAILED();
        return -1;
    }
    lastError = 0;
    return 0;
}

bool tDiskManLocalAbs::RemoveTree(const char* path) {
    if (!DirExists(path)) return false;
    return RemoveEntries(DiskManPath(path)) && RemoveDir(path) == 0;
}

// Every entry but "." and ".." (dot files included); a symbolic link is deleted, not followed.
// Stops at the first failure.
bool tDiskManLocalAbs::RemoveEntries(const tString& path) {
    tString pattern = path;
    pattern += "\\*.*";
    tDMFileInfo info;
    const i32 search = FindFirst(pattern, info);
    if (search == 0) return false;
    bool ok = true;
    do {
        if (info.name == "." || info.name == "..") continue;
        tString child = path;
        child += "\\";
        child += info.name;
        const bool isDir =
            (info.attributes & kDMAttrDirectory) != 0 && (info.attributes & kDMAttrReparse) == 0;
        ok = isDir ? RemoveTree(child) : FileDelete(child) == 0;
    } while (ok && FindNext(search, info));
    FindClose(search);
    return ok;
}

// ---- Searches and listings ----

i32 tDiskManLocalAbs::FindFirst(const char* pattern, tDMFileInfo& info) {
    const tString path = DiskManPath(pattern);
    const i32 cut = path.ReverseFind('\\');
    const tString dir = cut < 0 ? tString(".") : cut == 0 ? tString("\\") : path.Copy(0, cut);
    const tString name = cut < 0 ? path : path.Copy(cut + 1);
    std::unique_ptr<tDMSearch> search(new tDMSearch);
    if (!HasWildcard(name)) {
        // One named entry: looked up by its exact name, as the file system spells it.
        plat::FileFacts facts;
        if (!plat::StatPath(path, facts)) {
            DM_HOST_FAILED();
            return 0;
        }
        FillInfo(info, name, facts);
    } else {
        search->pattern = name == "*.*" ? "*" : name.GetText();
        if (!search->reader.Open(dir)) {
            DM_HOST_FAILED();
            return 0;
        }
        if (!NextMatch(*search, info)) {
            lastError = hostToFE(kWinFileNotFound, __FILE__, __LINE__);
            return 0;
        }
    }
    lastError = 0;
    return AddToFreeSlot(searches, search.release());
}

bool tDiskManLocalAbs::FindNext(i32 search, tDMFileInfo& info) {
    tDMSearch* s = FindSlot(searches, search);
    if (!s) return false;
    if (!NextMatch(*s, info)) {
        lastError = hostToFE(kWinNoMoreFiles, __FILE__, __LINE__);
        return false;
    }
    lastError = 0;
    return true;
}

bool tDiskManLocalAbs::FindClose(i32 search) { return FreeSlot(searches, search); }

i32 tDiskManLocalAbs::Directory(const char* pattern, const char* letters, tDMFileList& list) {
    if (!letters) letters = "";
    if (std::strchr(letters, 'V')) return GetVolumeInfo(pattern, letters, list);
    const u32 kinds = kDMAttrDirectory | kDMAttrHidden | kDMAttrSystem;
    const u32 chosen = ChosenKinds(letters);
    tDMFileInfo info;
    const i32 search = FindFirst(pattern, info);
    if (search == 0) return 0;
    i32 added = 0;
    do {
        // A hidden system file needs both letters.
        const u32 bits = info.attributes & kinds;
        if (bits == 0 || ((bits & chosen) != 0 && (bits & ~chosen) == 0)) {
            list.Add(new tDMFileInfo(info));
            ++added;
        }
    } while (FindNext(search, info));
    FindClose(search);
    return added;
}

// Linux has one tree and no volume labels: the volume entry has an empty name.
i32 tDiskManLocalAbs::GetVolumeInfo(const char*, const char* letters, tDMFileList& list) {
    lastError = 0;
    if (!letters || !std::strchr(letters, 'V')) return 0;
    auto* volume = new tDMFileInfo;
    volume->attributes = kDMAttrOffline;
    list.Add(volume);
    return 1;
}

// ---- Times and space ----

bool tDiskManLocalAbs::FileGetTime(i32 handle, i64& time, const char* name) {
    const i32 h = name ? FileOpen(name, 0, nullptr) : handle;
    if (h < 0) return false;
    const tDMHandle* entry = handles.Find(h);
    if (!entry) return true;
    lastError = 0;
    plat::FileFacts facts;
    if (plat::StatFd(entry->fd.Get(), facts)) {
        time = facts.writeTime;
    } else {
        DM_HOST_FAILED();
    }
    if (name) {
        const i32 failure = lastError;
        FileClose(h);
        if (failure != 0) lastError = failure;
    }
    return lastError == 0;
}

bool tDiskManLocalAbs::FileSetTime(const char* name, i64 time) {
    if (!name) return false;
    lastError = 0;
    if (!plat::SetFileTimes(DiskManPath(name), time)) DM_HOST_FAILED();
    return lastError == 0;
}

f64 tDiskManLocalAbs::GetDiskFree(const char* root) {
    tString path;
    if (root) {
        path = DiskManPath(root);
    } else {
        path = rootPath2;
        path += rootPath.GetLength() > 0 ? rootPath.GetText() : "\\";
    }
    const f64 bytes = plat::FreeDiskBytes(path);
    if (bytes < 0) {
        DM_HOST_FAILED();
        return -1;
    }
    lastError = 0;
    return bytes;
}

// Drive letters exist only on clients: a drive other than 0 names no directory here.
f64 tDiskManLocalAbs::GetDriveFree(i32 drive) {
    if (drive == 0) return GetDiskFree(nullptr);
    const char root[] = {static_cast<char>('A' + drive - 1), ':', '\\', '\0'};
    return GetDiskFree(root);
}
