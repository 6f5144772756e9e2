// The disk manager's handle table and file operations, and the proxy that callers create.
#include "lib_base/diskman.h"

#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lib_base/diskman_local.h"
#include "lib_base/gmlassert.h"
#include "lib_base/misc.h"

namespace {

constexpr i32 kWinInvalidParameter = 87;

// Device parameters: baud, parity, data bits, stop bits (all four or none), then the read
// time-out in ms.
plat::SerialSettings SerialSettingsOf(const char* params) {
    plat::SerialSettings s;
    i32 fields[5] = {0, 0, 0, 0, 0};
    i32 n = 0;
    for (const char* p = params; n < 5; ++p) {
        fields[n++] = static_cast<i32>(std::strtol(p, nullptr, 10));
        p = std::strchr(p, ',');
        if (!p) break;
    }
    if (n >= 4) {
        s.baud = fields[0];
        s.parity = fields[1];
        s.dataBits = fields[2];
        s.stopBits = fields[3];
    }
    if (n >= 5) s.readTimeoutMs = fields[4];
    return s;
}

}  // namespace

tString DiskManPath(const char* name) {
    tString path(name);
    ConvertPathSeparators(path, false);  // host paths keep their letter case
    return path;
}

bool ServerDeviceOf(const char* name, tString& device) {
    const bool serial = strncasecmp(name, "servercom", 9) == 0;
    if (!serial && strncasecmp(name, "serverlpt", 9) != 0) return false;
    const char digit = name[9];
    if (digit < '1' || digit > '4') return false;
    device = plat::ServerDevicePath(serial, digit - '0').c_str();
    return true;
}

// ---- Handle table ----

i32 tHandleList::Add(plat::UniqueFd fd, const char* name) {
    return AddToFreeSlot<tDMHandle>(*this, new tDMHandle(static_cast<plat::UniqueFd&&>(fd), name));
}

i32 tHandleList::GetOSHandle(i32 handle) const {
    if (handle < 1 || handle > Count()) DoAssert(__FILE__, __LINE__, "invalid handle used", 0);
    const tDMHandle* entry = Find(handle);
    return entry ? entry->fd.Get() : -1;
}

// ---- Implementation: life and errors ----

tDiskManLocalAbs::tDiskManLocalAbs(const char* root, const char* root2) {
    SetRootPath2(root2);
    if (root && root[0]) SetRootPath(root);
}

tDiskManLocalAbs::~tDiskManLocalAbs() {
    for (i32 h = 1; h <= handles.Count(); ++h) FileClose(h);
}

void tDiskManLocalAbs::HostFailed(const char* file, i32 line) {
    lastError = hostToFE(plat::LastFileError(), file, line);
}

const char* tDiskManLocalAbs::GetErrorText(i32 feCode) { return DiskManErrorText(feCode); }

i32 tDiskManLocalAbs::hostToFE(i32 hostCode, const char* file, i32 line) {
    return DiskManErrorFromHost(hostCode, file, line);
}

std::unique_ptr<tDiskManAbs> CreateDiskManLocalAbs(const char* rootPath, const char* rootPath2) {
    return std::unique_ptr<tDiskManAbs>(new tDiskManLocalAbs(rootPath, rootPath2));
}

// ---- Open, close, read, write ----

i32 tDiskManLocalAbs::FileOpen(const char* name, u32 mode, const char* deviceParams) {
    tString path = DiskManPath(name);
    ServerDeviceOf(path, path);
    lastError = 0;
    plat::UniqueFd fd = plat::OpenFile(path, (mode & 7) != 0, (mode & 8) != 0);
    if (!fd.IsValid()) {
        DM_HOST_FAILED();
        return -1;
    }
    if (deviceParams && !plat::SetSerial(fd.Get(), SerialSettingsOf(deviceParams))) {
        DM_HOST_FAILED();
        return -1;  // fd closes the line
    }
    return handles.Add(static_cast<plat::UniqueFd&&>(fd), name);
}

bool tDiskManLocalAbs::FileClose(i32 handle) {
    tDMHandle* entry = handles.Find(handle);
    if (!entry) return true;
    lastError = 0;
    if (!plat::CloseFile(entry->fd)) DM_HOST_FAILED();
    handles.Remove(handle);
    return lastError == 0;
}

i32 tDiskManLocalAbs::FileRead(i32 handle, void* buffer, i32 count) {
    const tDMHandle* entry = handles.Find(handle);
    if (!entry) return -1;
    if (count < 0) {
        lastError = hostToFE(kWinInvalidParameter, __FILE__, __LINE__);
        return -1;
    }
    const i64 n = plat::ReadFile(entry->fd.Get(), buffer, static_cast<size_t>(count));
    if (n < 0) {
        DM_HOST_FAILED();
        return -1;
    }
    lastError = 0;
    return static_cast<i32>(n);
}

i32 tDiskManLocalAbs::FileReadString(i32 handle, tString& text, i32 count) {
    if (!handles.Find(handle)) return -1;
    if (count < 0) count = 0;
    // Room for count bytes and the NUL, counted wide: a count past what a string holds raises
    // the string's own overflow assertion before anything is read.
    char* chars = text.GetBuffer(static_cast<i32>(std::min<i64>(i64{count} + 1, INT32_MAX)));
    const i32 n = FileRead(handle, chars, count);
    text.ReleaseBuffer(n < 0 ? 0 : n);
    return n < 0 ? 0 : n;
}

// Scans the whole block for the line feed: a NUL inside a line does not swallow the lines after
// it.
i32 tDiskManLocalAbs::FileReadLine(i32 handle, char* buffer, i32 size) {
    GML_ASSERT(size >= 2, "FileReadLine : invalid buffer size");
    lastError = -1;
    const i64 start = FileTell(handle);
    const i32 n = start < 0 ? -1 : FileRead(handle, buffer, size - 1);
    if (n <= 0) return 0;
    buffer[n] = '\0';
    lastError = 0;
    const char* lf = static_cast<const char*>(std::memchr(buffer, '\n', static_cast<size_t>(n)));
    if (!lf) return n;
    const i32 i = static_cast<i32>(lf - buffer);
    if (i > 0 && buffer[i - 1] == '\r') buffer[i - 1] = '\0';
    buffer[i] = '\0';
    Seek(handle, start + i + 1, 0);
    return i + 1;
}

i32 tDiskManLocalAbs::FileWrite(i32 handle, const void* buffer, i32 count) {
    const tDMHandle* entry = handles.Find(handle);
    if (!entry) return -1;
    if (count < 0) {
        lastError = hostToFE(kWinInvalidParameter, __FILE__, __LINE__);
        return 0;
    }
    lastError = -1;
    const i64 n = plat::WriteFile(entry->fd.Get(), buffer, static_cast<size_t>(count));
    if (n < 0) {
        DM_HOST_FAILED();
        return 0;
    }
    lastError = 0;
    return static_cast<i32>(n);
}

i32 tDiskManLocalAbs::FileWriteText(i32 handle, const char* text) {
    return FileWrite(handle, text, static_cast<i32>(std::strlen(text)));
}

// ---- Positions ----

// Positions are 64-bit here so that FileSize can return to a place beyond 2 GiB.
i64 tDiskManLocalAbs::Seek(i32 handle, i64 offset, i32 origin) {
    const tDMHandle* entry = handles.Find(handle);
    if (!entry) return -1;
    const i64 pos = plat::SeekFile(entry->fd.Get(), offset, origin);
    if (pos < 0) {
        DM_HOST_FAILED();
        return -1;
    }
    lastError = 0;
    return pos;
}

i64 tDiskManLocalAbs::FileSeek(i32 handle, i32 offset, i32 origin) {
    return Seek(handle, offset, origin);
}

i64 tDiskManLocalAbs::FileSize(i32 handle) {
    const i64 here = Seek(handle, 0, 1);
    if (here < 0) return -1;
    const i64 size = Seek(handle, 0, 2);
    if (size < 0) return -1;
    return Seek(handle, here, 0) < 0 ? -1 : size;
}

tString& tDiskManLocalAbs::HandleName(tString& out, i32 handle) {
    const tDMHandle* entry = handles.Find(handle);
    out = entry ? entry->name.GetText() : "";
    return out;
}

// ---- Whole files ----

i32 tDiskManLocalAbs::FileDelete(const char* name) {
    if (!plat::DeleteFile(DiskManPath(name))) {
        DM_HOST_FAILED();
        return -1;
    }
    lastError = 0;
    return 0;
}

i32 tDiskManLocalAbs::FileRename(const char* oldName, const char* newName) {
    if (!plat::RenameNoReplace(DiskManPath(oldName), DiskManPath(newName))) {
        DM_HOST_FAILED();
        return -1;
    }
    lastError = 0;
    return 0;
}

// Host paths keep their letter case, so both renames are one.
i32 tDiskManLocalAbs::FileRenameEx(const char* oldName, const char* newName) {
    return FileRename(oldName, newName);
}

bool tDiskManLocalAbs::FileExists(const char* name) {
    tString path(name);
    path.Trim();
    tDMFileInfo info;
    const i32 search = FindFirst(path, info);
    if (search == 0) return false;
    FindClose(search);
    return info.name.GetLength() > 0;
}

bool tDiskManLocalAbs::FileCopy(const char* source, const char* target) {
    lastError = 0;
    if (!plat::CopyFile(DiskManPath(source), DiskManPath(target))) DM_HOST_FAILED();
    return lastError == 0;
}

// ---- Archives ----

bool tDiskManLocalAbs::ZipServerFiles(const char*, const char*, u32) {
    DoAssert(__FILE__, __LINE__, "ZipServerFiles not supported on tDiskManLocalAbs", 0);
}

bool tDiskManLocalAbs::UnzipServerFile(const char*, const char*, u32) {
    DoAssert(__FILE__, __LINE__, "UnzipServerFile not supported on tDiskManLocalAbs", 0);
}

// ---- The proxy ----

tDiskManLocal::tDiskManLocal(const char* rootPath, const char* rootPath2)
    : rootPath(rootPath), rootPath2(rootPath2) {}

tDiskManLocal::~tDiskManLocal() = default;

tDiskManAbs& tDiskManLocal::GetImpl() {
    if (!impl) impl = CreateDiskManLocalAbs(rootPath, rootPath2);
    return *impl;
}

i32 tDiskManLocal::GetOSHandle(i32 handle) { return GetImpl().GetOSHandle(handle); }
i32 tDiskManLocal::GetLastError() { return GetImpl().GetLastError(); }
const char* tDiskManLocal::GetErrorText(i32 feCode) { return GetImpl().GetErrorText(feCode); }
const char* tDiskManLocal::GetRootPath() { return GetImpl().GetRootPath(); }
const char* tDiskManLocal::GetRootPath2() { return GetImpl().GetRootPath2(); }
i32 tDiskManLocal::MakeDir(const char* path) { return GetImpl().MakeDir(path); }
i32 tDiskManLocal::RemoveDir(const char* path) { return GetImpl().RemoveDir(path); }
i32 tDiskManLocal::SetRootPath(const char* path) { return GetImpl().SetRootPath(path); }
bool tDiskManLocal::FileClose(i32 handle) { return GetImpl().FileClose(handle); }
i32 tDiskManLocal::FileCreate(const char* name) { return GetImpl().FileCreate(name); }
i32 tDiskManLocal::FileDelete(const char* name) { return GetImpl().FileDelete(name); }
i32 tDiskManLocal::FileOpen(const char* name, u32 mode, const char* deviceParams) {
    return GetImpl().FileOpen(name, mode, deviceParams);
}
i32 tDiskManLocal::FileRead(i32 handle, void* buffer, i32 count) {
    return GetImpl().FileRead(handle, buffer, count);
}
i32 tDiskManLocal::FileReadString(i32 handle, tString& text, i32 count) {
    return GetImpl().FileReadString(handle, text, count);
}
i32 tDiskManLocal::FileReadLine(i32 handle, char* buffer, i32 size) {
    return GetImpl().FileReadLine(handle, buffer, size);
}
i32 tDiskManLocal::FileRename(const char* oldName, const char* newName) {
    return GetImpl().FileRename(oldName, newName);
}
i32 tDiskManLocal::FileRenameEx(const char* oldName, const char* newName) {
    return GetImpl().FileRenameEx(oldName, newName);
}
i64 tDiskManLocal::FileSeek(i32 handle, i32 offset, i32 origin) {
    return GetImpl().FileSeek(handle, offset, origin);
}
i64 tDiskManLocal::FileTell(i32 handle) { return GetImpl().FileTell(handle); }
i32 tDiskManLocal::FileWrite(i32 handle, const void* buffer, i32 count) {
    return GetImpl().FileWrite(handle, buffer, count);
}
i32 tDiskManLocal::FileWriteText(i32 handle, const char* text) {
    return GetImpl().FileWriteText(handle, text);
}
bool tDiskManLocal::FileExists(const char* name) { return GetImpl().FileExists(name); }
i64 tDiskManLocal::FileSize(i32 handle) { return GetImpl().FileSize(handle); }
bool tDiskManLocal::FileCopy(const char* source, const char* target) {
    return GetImpl().FileCopy(source, target);
}
f64 tDiskManLocal::GetDiskFree(const char* rootPath) { return GetImpl().GetDiskFree(rootPath); }
f64 tDiskManLocal::GetDriveFree(i32 drive) { return GetImpl().GetDriveFree(drive); }
i32 tDiskManLocal::GetVolumeInfo(const char* path, const char* letters, tDMFileList& list) {
    return GetImpl().GetVolumeInfo(path, letters, list);
}
i32 tDiskManLocal::Directory(const char* pattern, const char* letters, tDMFileList& list) {
    return GetImpl().Directory(pattern, letters, list);
}
bool tDiskManLocal::FileSetTime(const char* name, i64 time) {
    return GetImpl().FileSetTime(name, time);
}
bool tDiskManLocal::FileGetTime(i32 handle, i64& time, const char* name) {
    return GetImpl().FileGetTime(handle, time, name);
}
bool tDiskManLocal::ServerPath(const char* name, tString& out) {
    return GetImpl().ServerPath(name, out);
}
bool tDiskManLocal::IsClientPath(const char* name) { return GetImpl().IsClientPath(name); }
bool tDiskManLocal::SetRootPath2(const char* path) { return GetImpl().SetRootPath2(path); }
i32 tDiskManLocal::FindFirst(const char* pattern, tDMFileInfo& info) {
    return GetImpl().FindFirst(pattern, info);
}
bool tDiskManLocal::FindNext(i32 search, tDMFileInfo& info) {
    return GetImpl().FindNext(search, info);
}
bool tDiskManLocal::FindClose(i32 search) { return GetImpl().FindClose(search); }
bool tDiskManLocal::DirExists(const char* path) { return GetImpl().DirExists(path); }
i32 tDiskManLocal::hostToFE(i32 hostCode, const char* file, i32 line) {
    return GetImpl().hostToFE(hostCode, file, line);
}
bool tDiskManLocal::MakeFullPath(tString& out, const char* name) {
    return GetImpl().MakeFullPath(out, name);
}
bool tDiskManLocal::ResetCurDir() { return GetImpl().ResetCurDir(); }
bool tDiskManLocal::ChDir(const char* path) { return GetImpl().ChDir(path); }
bool tDiskManLocal::GetCurDir(tString& out) { return GetImpl().GetCurDir(out); }
bool tDiskManLocal::NormalizePath(tString& text) { return GetImpl().NormalizePath(text); }
i32 tDiskManLocal::GetTempPath(tString& out) { return GetImpl().GetTempPath(out); }
u32 tDiskManLocal::GetTempFileName(const char* directory, const char* prefix, tString& out) {
    return GetImpl().GetTempFileName(directory, prefix, out);
}
bool tDiskManLocal::RemoveTree(const char* path) { return GetImpl().RemoveTree(path); }
tString& tDiskManLocal::HandleName(tString& out, i32 handle) {
    return GetImpl().HandleName(out, handle);
}
bool tDiskManLocal::ZipServerFiles(const char* pattern, const char* archive, u32 options) {
    return GetImpl().ZipServerFiles(pattern, archive, options);
}
bool tDiskManLocal::UnzipServerFile(const char* archive, const char* target, u32 options) {
    return GetImpl().UnzipServerFile(archive, target, options);
}
