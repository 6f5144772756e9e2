// The disk manager: the handle-based file-system facade through which the server reaches its
// files (log, console log, ini check, diagnostic report, monitor file requests). Failures leave
// an error code of its own numbering (an FE code) that GetLastError gives and GetErrorText reads.
#pragma once
#include <memory>

#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"

// Disk-manager attribute bits, in the order in which AttributesToText writes their letters.
constexpr u32 kDMAttrNormal = 0x80;        // N
constexpr u32 kDMAttrHidden = 0x2;         // H
constexpr u32 kDMAttrSystem = 0x4;         // S
constexpr u32 kDMAttrArchive = 0x20;       // A
constexpr u32 kDMAttrDirectory = 0x10;     // D
constexpr u32 kDMAttrCompressed = 0x800;   // C
constexpr u32 kDMAttrReadOnly = 0x1;       // R
constexpr u32 kDMAttrEncrypted = 0x40;     // E
constexpr u32 kDMAttrNotIndexed = 0x2000;  // I
constexpr u32 kDMAttrOffline = 0x1000;     // O, and V (volume) for the same bit
constexpr u32 kDMAttrReparse = 0x400;      // P: on Linux, a symbolic link
constexpr u32 kDMAttrSparse = 0x200;       // Z
constexpr u32 kDMAttrTemporary = 0x100;    // T

// One directory entry.
class tDMFileInfo {
public:
    tString name;
    u32 size = 0;        // files of 4 GiB and more hold 0xFFFFFFFF
    i64 time = 0;        // last write, seconds since 1970 UTC
    u32 attributes = 0;  // kDMAttr bits
};

using tDMFileList = tAutoArray<tDMFileInfo>;

// The letters of the entry's attribute bits, in the order of the kDMAttr constants above.
void AttributesToText(const tDMFileInfo& entry, tString& out);

// The facade's interface. Handles are 1-based numbers of open files; -1 is none. Names are
// disk-manager paths: '/' and '\\' both separate, and letter case is kept. Each object is used
// by one thread at a time (every user makes its own) and has no lock.
// Operations on a free handle give their failure value without touching the last error.
class tDiskManAbs {
public:
    virtual ~tDiskManAbs() = default;

    // The descriptor of an open file; -1 for a free handle. A handle outside 1..count of the
    // handle table raises "invalid handle used".
    virtual i32 GetOSHandle(i32 handle) = 0;
    virtual i32 GetLastError() = 0;  // FE code of the last operation, 0 after success
    virtual const char* GetErrorText(i32 feCode) = 0;
    virtual const char* GetRootPath() = 0;   // valid until the root changes
    virtual const char* GetRootPath2() = 0;  // valid until the root changes
    // 0; 3 when a directory on the way is missing; 5 for any other failure.
    virtual i32 MakeDir(const char* path) = 0;
    virtual i32 RemoveDir(const char* path) = 0;    // 0 or -1
    virtual i32 SetRootPath(const char* path) = 0;  // 0 or -1 (the root unchanged)
    virtual bool FileClose(i32 handle) = 0;
    virtual i32 FileCreate(const char* name) = 0;  // FileOpen with mode 8
    virtual i32 FileDelete(const char* name) = 0;  // 0 or -1
    // mode: 1, 2 or 4 read and write, else read only; 8 create or empty. Sharing bits (0x10,
    // 0x20) mean nothing here. With device parameters ("baud,parity,data bits,stop bits[,read
    // time-out ms]") the file must be a serial line, set up accordingly. Handle or -1.
    virtual i32 FileOpen(const char* name, u32 mode, const char* deviceParams) = 0;
    virtual i32 FileRead(i32 handle, void* buffer, i32 count) = 0;  // bytes (0 at end) or -1
    // Bytes read into text; 0 on a read error; -1 for a free handle.
    virtual i32 FileReadString(i32 handle, tString& text, i32 count) = 0;
    // One text line into buffer (size bytes with the NUL), without its LF or CR LF. The bytes
    // consumed, 0 at the end or on failure. A line longer than size - 1 comes in pieces.
    virtual i32 FileReadLine(i32 handle, char* buffer, i32 size) = 0;
    // 0, or -1 (also when the new name exists: nothing is replaced). Host paths keep their
    // letter case, so the two are one.
    virtual i32 FileRename(const char* oldName, const char* newName) = 0;
    virtual i32 FileRenameEx(const char* oldName, const char* newName) = 0;
    virtual i64 FileSeek(i32 handle, i32 offset, i32 origin) = 0;  // 0 start, 1 current, 2 end
    virtual i64 FileTell(i32 handle) = 0;
    // Bytes written; 0 on a write error; -1 for a free handle.
    virtual i32 FileWrite(i32 handle, const void* buffer, i32 count) = 0;
    virtual i32 FileWriteText(i32 handle, const char* text) = 0;
    virtual bool FileExists(const char* name) = 0;  // a file or a directory
    virtual i64 FileSize(i32 handle) = 0;           // keeps the position; -1 on failure
    virtual bool FileCopy(const char* source, const char* target) = 0;  // replaces the target
    virtual f64 GetDiskFree(const char* rootPath) = 0;  // null: the current root; -1 on failure
    virtual f64 GetDriveFree(i32 drive) = 0;  // 0 the current root, 1 = A:\ (none on Linux)
    // With 'V' among the letters one volume entry (attributes 0x1000) is appended; the count
    // appended. Linux volumes carry no name.
    virtual i32 GetVolumeInfo(const char* path, const char* letters, tDMFileList& list) = 0;
    // Appends the entries that match the pattern: normal files always, directories, hidden and
    // system entries as the letters D, H, S (either case) choose; 'V' gives the volume entry.
    // The count appended.
    virtual i32 Directory(const char* pattern, const char* letters, tDMFileList& list) = 0;
    virtual bool FileSetTime(const char* name, i64 time) = 0;
    // The last-write time of the open file, or of the named file when name is not null.
    virtual bool FileGetTime(i32 handle, i64& time, const char* name) = 0;
    // The name placed under the two roots (devices, client and network paths unchanged).
    virtual bool ServerPath(const char* name, tString& out) = 0;
    virtual bool IsClientPath(const char* name) = 0;
    virtual bool SetRootPath2(const char* path) = 0;  // false when it is no directory
    // A search over the entries that match the pattern ("*.*" matches every name); the search
    // handle with the first entry, or 0 when nothing matches. End it with FindClose.
    virtual i32 FindFirst(const char* pattern, tDMFileInfo& info) = 0;
    virtual bool FindNext(i32 search, tDMFileInfo& info) = 0;  // false at the end
    virtual bool FindClose(i32 search) = 0;
    virtual bool DirExists(const char* path) = 0;
    // The FE code of a host code; an unknown one is printed with the caller's file and line
    // and gives -1.
    virtual i32 hostToFE(i32 hostCode, const char* file, i32 line) = 0;
    virtual bool MakeFullPath(tString& out, const char* name) = 0;
    virtual bool ResetCurDir() = 0;
    virtual bool ChDir(const char* path) = 0;  // the process's current directory, then the root
    virtual bool GetCurDir(tString& out) = 0;
    virtual bool NormalizePath(tString& text) = 0;
    virtual i32 GetTempPath(tString& out) = 0;  // the length
    // Creates an empty file prefix (3 characters) + 4 hex digits + ".TMP" in the directory;
    // its number, or 0 on failure.
    virtual u32 GetTempFileName(const char* directory, const char* prefix, tString& out) = 0;
    // Deletes the directory and everything below it; symbolic links are removed, not followed.
    virtual bool RemoveTree(const char* path) = 0;
    virtual tString& HandleName(tString& out, i32 handle) = 0;  // empty for a free handle
    // Archives of server files. The local file system keeps none: both raise an assertion
    // naming the operation.
    virtual bool ZipServerFiles(const char* pattern, const char* archive, u32 options) = 0;
    virtual bool UnzipServerFile(const char* archive, const char* target, u32 options) = 0;
};

// What callers create. Forwards every operation to the local implementation, made at the first
// operation with the two roots given here (the second root first, then the first when not
// empty) and deleted with this object, which closes the files still open.
class tDiskManLocal : public tDiskManAbs {
public:
    explicit tDiskManLocal(const char* rootPath = "", const char* rootPath2 = "");
    ~tDiskManLocal() override;
    tDiskManLocal(const tDiskManLocal&) = delete;
    tDiskManLocal& operator=(const tDiskManLocal&) = delete;

    i32 GetOSHandle(i32 handle) override;
    i32 GetLastError() override;
    const char* GetErrorText(i32 feCode) override;
    const char* GetRootPath() override;
    const char* GetRootPath2() override;
    i32 MakeDir(const char* path) override;
    i32 RemoveDir(const char* path) override;
    i32 SetRootPath(const char* path) override;
    bool FileClose(i32 handle) override;
    i32 FileCreate(const char* name) override;
    i32 FileDelete(const char* name) override;
    i32 FileOpen(const char* name, u32 mode, const char* deviceParams) override;
    i32 FileRead(i32 handle, void* buffer, i32 count) override;
    i32 FileReadString(i32 handle, tString& text, i32 count) override;
    i32 FileReadLine(i32 handle, char* buffer, i32 size) override;
    i32 FileRename(const char* oldName, const char* newName) override;
    i32 FileRenameEx(const char* oldName, const char* newName) override;
    i64 FileSeek(i32 handle, i32 offset, i32 origin) override;
    i64 FileTell(i32 handle) override;
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
    tDiskManAbs& GetImpl();

    // Constant after construction.
    tString rootPath;
    tString rootPath2;
    // Made at the first operation.
    std::unique_ptr<tDiskManAbs> impl;
};

// The implementation on the local file system, with its two roots.
std::unique_ptr<tDiskManAbs> CreateDiskManLocalAbs(const char* rootPath, const char* rootPath2);
