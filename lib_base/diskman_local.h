// The disk manager's local implementation, shared by its source files (file operations, paths
// and directories, error codes). Other code reaches it through tDiskManLocal only.
#pragma once
#include "lib_base/diskman.h"
#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "platform/files.h"
#include "platform/unique_fd.h"

// Slot tables (open files, searches):
//  (1) a number is the slot index + 1; a free slot holds null and is reused first;
//  (2) the table owns what its slots hold.
template <class T>
i32 AddToFreeSlot(tAutoArray<T>& table, T* entry) {
    for (i32 i = 0; i < table.Count(); ++i) {
        if (!table.GetData()[i]) {
            table.GetData()[i] = entry;
            return i + 1;
        }
    }
    return table.Add(entry) + 1;
}

// The slot's entry, or null for a number outside 1..count or a free slot.
template <class T>
T* FindSlot(const tAutoArray<T>& table, i32 number) {
    if (number < 1 || number > table.Count()) return nullptr;
    return table.GetData()[number - 1];
}

// Deletes the slot's entry and frees the slot; false when there was none.
template <class T>
bool FreeSlot(tAutoArray<T>& table, i32 number) {
    T* entry = FindSlot(table, number);
    if (!entry) return false;
    table.GetData()[number - 1] = nullptr;
    delete entry;
    return true;
}

// One open file.
class tDMHandle {
public:
    tDMHandle(plat::UniqueFd fd, const char* name)
        : fd(static_cast<plat::UniqueFd&&>(fd)), name(name) {}
    plat::UniqueFd fd;
    tString name;  // as given to FileOpen
};

class tHandleList : public tAutoArray<tDMHandle> {
public:
    i32 Add(plat::UniqueFd fd, const char* name);  // the new handle
    // The descriptor, -1 for a free slot; outside 1..count raises "invalid handle used".
    i32 GetOSHandle(i32 handle) const;
    tDMHandle* Find(i32 handle) const { return FindSlot(*this, handle); }
    void Remove(i32 handle) { FreeSlot(*this, handle); }
};

// One directory search: a listing filtered by a pattern, or one named entry.
class tDMSearch {
public:
    plat::DirReader reader;  // unopened for a search of one named entry
    tString pattern;         // the name part of the pattern
};

class tDiskManLocalAbs : public tDiskManAbs {
public:
    tDiskManLocalAbs(const char* rootPath, const char* rootPath2);
    ~tDiskManLocalAbs() override;  // closes the files still open
    tDiskManLocalAbs(const tDiskManLocalAbs&) = delete;
    tDiskManLocalAbs& operator=(const tDiskManLocalAbs&) = delete;

    i32 GetOSHandle(i32 handle) override { return handles.GetOSHandle(handle); }
    i32 GetLastError() override { return lastError; }
    const char* GetErrorText(i32 feCode) override;
    const char* GetRootPath() override { return rootPath; }
    const char* GetRootPath2() override { return rootPath2; }
    i32 MakeDir(const char* path) override;
    i32 RemoveDir(const char* path) override;
    i32 SetRootPath(const char* path) override;
    bool FileClose(i32 handle) override;
    i32 FileCreate(const char* name) override { return FileOpen(name, 8, nullptr); }
    i32 FileDelete(const char* name) override;
    i32 FileOpen(const char* name, u32 mode, const char* deviceParams) override;
    i32 FileRead(i32 handle, void* buffer, i32 count) override;
    i32 FileReadString(i32 handle, tString& text, i32 count) override;
    i32 FileReadLine(i32 handle, char* buffer, i32 size) override;
    i32 FileRename(const char* oldName, const char* newName) override;
    i32 FileRenameEx(const char* oldName, const char* newName) override;
    i64 FileSeek(i32 handle, i32 offset, i32 origin) override;
    i64 FileTell(i32 handle) override { return Seek(handle, 0, 1); }
    i32 FileWrite(i32 handle, const void* buffer, i32 count) override;
    i32 FileWriteText(i32 handle, const char* text) override;
    bool FileExists(const char* name) override;
    i64 FileSize(i32 handle) override;
    bool FileCopy(const char* source, const char* target) override;
    f64 GetDiskFree(const char* rootPath) override;
    f64 GetDriveFree(i32 drive) override;
    i32 GetVolumeInfo(const char* path, const char* letters, tDMFileList& list) override;
    i32 Directory(const char* pattern, const char* letters, tDMFileList& list) override;
    bool FileSetTime(const char* name, i64 time) override;
    bool FileGetTime(i32 handle, i64& time, const char* name) override;
    bool ServerPath(const char* name, tString& out) override;
    bool IsClientPath(const char* name) override;
    bool SetRootPath2(const char* path) override;
    i32 FindFirst(const char* pattern, tDMFileInfo& info) override;
    bool FindNext(i32 search, tDMFileInfo& info) override;
    bool FindClose(i32 search) override;
    bool DirExists(const char* path) override;
    i32 hostToFE(i32 hostCode, const char* file, i32 line) override;
    bool MakeFullPath(tString& out, const char* name) override;
    bool ResetCurDir() override;
    bool ChDir(const char* path) override;
    bool GetCurDir(tString& out) override;
    bool NormalizePath(tString& text) override;
    i32 GetTempPath(tString& out) override;
    u32 GetTempFileName(const char* directory, const char* prefix, tString& out) override;
    bool RemoveTree(const char* path) override;
    tString& HandleName(tString& out, i32 handle) override;
    bool ZipServerFiles(const char* pattern, const char* archive, u32 options) override;
    bool UnzipServerFile(const char* archive, const char* target, u32 options) override;

private:
    // The last error from the platform layer's code, naming the caller's source line.
    void HostFailed(const char* file, i32 line);
    i64 Seek(i32 handle, i64 offset, i32 origin);
    bool RemoveEntries(const tString& path);

    // The FE code of the last operation: 0 after success, -1 while undecided.
    i32 lastError = 0;
    // Both in the disk manager's path form ('\\' separators). The first root is the current
    // directory below the second root and always begins with '\\' once set.
    tString rootPath;
    tString rootPath2;
    tHandleList handles;
    tAutoArray<tDMSearch> searches;
};

// Sets the last error from the platform layer's code, naming the failing line.
#define DM_HOST_FAILED() HostFailed(__FILE__, __LINE__)

// The disk manager's path form of a name: '/' becomes '\\'; letter case is kept.
tString DiskManPath(const char* name);

// "serverlpt1".."serverlpt4" and "servercom1".."servercom4", in any letter case, name the
// server's own printer and serial ports; device receives the path of the port's device.
bool ServerDeviceOf(const char* name, tString& device);

// The FE tables: the text of a code, and the code of a host code (printing unknown ones).
const char* DiskManErrorText(i32 feCode);
i32 DiskManErrorFromHost(i32 hostCode, const char* file, i32 line);
