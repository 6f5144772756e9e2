// The tagged allocator over the C heap, its failure reports, and the byte-count formatters.
#include "lib_base/gmlalloc.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "lib_base/gmlassert.h"

namespace {

const char* const kCategoryNames[] = {
    "Mem_Buffer",     "Object",       "StringInstance", "StringBuffer",   "CommBuffer",
    "AutoCharBuffer", "MemoryStream", "List",           "NamedLock",      "DBConnection",
    "ODBCConn",       "DBStatement",  "TableShared",    "TableExclusive", "IndexDef",
    "TableField",     "BlobNode",     "FilterNode",     "IsamFile",       "QueryFile",
    "IsamCache",      "DBServer",     "GmlMonitor",     "OracleOCI"};

void* CallocOne(size_t size) { return std::calloc(1, size); }

const tRawAllocator kDefaultRaw = {CallocOne, std::realloc};
std::atomic<const tRawAllocator*> gRaw{&kDefaultRaw};

// Asking for 0 bytes still gives a block of its own.
size_t AtLeastOne(size_t size) { return size ? size : 1; }

}  // namespace

const char* MemCategoryName(int category) {
    const int count = static_cast<int>(sizeof kCategoryNames / sizeof kCategoryNames[0]);
    return category >= 0 && category < count ? kCategoryNames[category] : "UNKNOW";
}

void SetRawAllocator(const tRawAllocator* allocator) {
    gRaw.store(allocator ? allocator : &kDefaultRaw);
}

void* _gmlalloc(size_t size, int category, const char* file, u32 line) {
    if (void* block = gRaw.load()->zeroAlloc(AtLeastOne(size))) return block;
    RaiseAllocFailure(size, category, file, line);
}

void RaiseAllocFailure(size_t size, int category, const char* file, u32 line) {
    // The report is formatted on the stack: the heap just failed.
    char report[512];
    std::snprintf(report, sizeof report,
                  "\n*** Memory Allocation Failure ***\n*** Failed to alloc %zu bytes as [%s] "
                  "***\n*** Request from file [%s] line [%u] ***\n",
                  size, MemCategoryName(category), file ? file : "", line);
    DoAssert(__FILE__, __LINE__, report, 0);
}

void* _gmlrealloc(void* block, size_t size, const char* file, u32 line) {
    if (void* moved = gRaw.load()->resize(block, AtLeastOne(size))) return moved;
    char report[512];
    std::snprintf(report, sizeof report,
                  "\n*** Memory Allocation Failure ***\n*** Failed to realloc %zu bytes ] "
                  "***\n*** Request from file [%s] line [%u] ***\n",
                  size, file ? file : "", line);
    DoAssert(__FILE__, __LINE__, report, 0);
}

void _gmlfree(void* block, const char* file, u32 line) {
    if (!block) {
        std::fputs("*** ERROR : Invalid NULL Pointer to Free (_gmlfree)", stdout);
        std::fflush(stdout);
        return;
    }
    std::free(block);
}

void* GmlClassAlloc(size_t size, int category, const char* className) {
    if (void* block = gRaw.load()->zeroAlloc(AtLeastOne(size))) return block;
    char report[256];
    std::snprintf(report, sizeof report, "Memory Allocation Failure ( %zu bytes ) on %s", size,
                  className);
    DoAssert(__FILE__, __LINE__, report, 0);
}

void GmlClassFree(void* block) { std::free(block); }

char* FormatByteSize(u64 count, char* out, size_t outSize) {
    const double n = static_cast<double>(count);
    if (count >= 966367642ULL) {
        std::snprintf(out, outSize, "%.2f Gb.", n / 1073741824.0);
    } else if (count >= 943719ULL) {
        std::snprintf(out, outSize, "%.2f Mb.", n / 1048576.0);
    } else if (count >= 922ULL) {
        std::snprintf(out, outSize, "%.2f Kb.", n / 1024.0);
    } else {
        std::snprintf(out, outSize, "%u bytes.", static_cast<unsigned>(count));
    }
    return out;
}

char* FormatMegabytes(u64 count, char* out, size_t outSize) {
    std::snprintf(out, outSize, "%.2f Mb.", static_cast<double>(count) / 1048576.0);
    return out;
}
