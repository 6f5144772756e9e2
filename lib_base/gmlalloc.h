// The tagged allocator: every heap block of the system is taken through it with a memory
// category and the requesting source file and line, which serve only its failure report. It
// never returns null: a failure is raised as an assertion. Also the byte-count formatters.
#pragma once
#include <cstddef>

#include "lib_base/types.h"

enum MemCategory : int {
    Mem_Buffer = 0,
    Mem_Object = 1,
    Mem_StringInstance = 2,
    Mem_StringBuffer = 3,
    Mem_CommBuffer = 4,
    Mem_AutoCharBuffer = 5,
    Mem_MemoryStream = 6,
    Mem_List = 7,
    Mem_NamedLock = 8,
    Mem_DBConnection = 9,
    Mem_ODBCConn = 10,
    Mem_DBStatement = 11,
    Mem_TableShared = 12,
    Mem_TableExclusive = 13,
    Mem_IndexDef = 14,
    Mem_TableField = 15,
    Mem_BlobNode = 16,
    Mem_FilterNode = 17,
    Mem_IsamFile = 18,
    Mem_QueryFile = 19,
    Mem_IsamCache = 20,
    Mem_DBServer = 21,
    Mem_GmlMonitor = 22,
    Mem_OracleOCI = 23,
};

const char* MemCategoryName(int category);  // "UNKNOW" for codes outside the table

// A zero-filled block of the size; raises the allocation-failure assertion instead of null.
void* _gmlalloc(size_t size, int category, const char* file, u32 line);
// Raises the allocation-failure assertion of _gmlalloc for a block it could not get elsewhere.
[[noreturn]] void RaiseAllocFailure(size_t size, int category, const char* file, u32 line);
// The block resized with its contents kept; raises on failure (the old block stays valid).
void* _gmlrealloc(void* block, size_t size, const char* file, u32 line);
// Gives the block back; a null block only prints an error text.
void _gmlfree(void* block, const char* file, u32 line);

#define GML_ALLOC(size, category) _gmlalloc((size), (category), __FILE__, __LINE__)
#define GML_REALLOC(block, size) _gmlrealloc((block), (size), __FILE__, __LINE__)
#define GML_FREE(block) _gmlfree((block), __FILE__, __LINE__)

// Class allocators: a failure raises "Memory Allocation Failure ( %u bytes ) on %s" with the
// class name. Freeing null does nothing.
void* GmlClassAlloc(size_t size, int category, const char* className);
void GmlClassFree(void* block);

// Gives a class its own operator new/delete over the tagged allocator.
#define GML_CLASS_ALLOCATOR(className, category)                                                 \
    static void* operator new(size_t size) { return GmlClassAlloc(size, category, #className); } \
    static void operator delete(void* block) { GmlClassFree(block); }

// Where the allocator takes its memory: calloc and realloc unless replaced. Tests replace them
// to make allocation fail. Blocks are always given back with free(), so a replacement must
// hand out blocks that free() accepts. Null restores the default.
struct tRawAllocator {
    void* (*zeroAlloc)(size_t size);
    void* (*resize)(void* block, size_t size);
};
void SetRawAllocator(const tRawAllocator* allocator);

// "%.2f Gb." / "%.2f Mb." / "%.2f Kb." / "%u bytes." by the size of the count; returns out.
char* FormatByteSize(u64 count, char* out, size_t outSize);
// "%.2f Mb." of the count; returns out.
char* FormatMegabytes(u64 count, char* out, size_t outSize);
