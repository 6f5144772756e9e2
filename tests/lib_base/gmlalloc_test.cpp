#include "lib_base/gmlalloc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "lib_base/gmlassert.h"
#include "lib_base/printer.h"
#include "tests/support/gmtest.h"

using gmtest::AssertText;

namespace {

void* NoMemory(size_t) { return nullptr; }
void* NoResize(void*, size_t) { return nullptr; }
const tRawAllocator kFailing = {NoMemory, NoResize};

// Installs the failing allocator for one scope.
struct tNoHeap {
    tNoHeap() { SetRawAllocator(&kFailing); }
    ~tNoHeap() { SetRawAllocator(nullptr); }
};

TEST(TaggedAllocator, BlocksAreZeroFilledAndResizedWithTheirContents) {
    auto* block = static_cast<unsigned char*>(_gmlalloc(64, Mem_Buffer, __FILE__, __LINE__));
    for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], 0);
    block[63] = 7;
    block = static_cast<unsigned char*>(_gmlrealloc(block, 4096, __FILE__, __LINE__));
    EXPECT_EQ(block[63], 7);
    _gmlfree(block, __FILE__, __LINE__);
}

TEST(TaggedAllocator, FailuresRaiseTheirReportsAndTheProcessGoesOn) {
    std::string alloc, grow;
    void* kept = _gmlalloc(8, Mem_Buffer, __FILE__, __LINE__);
    {
        tNoHeap noHeap;
        alloc = AssertText([] { _gmlalloc(100, Mem_CommBuffer, "caller.cpp", 77); });
        grow = AssertText([&] { _gmlrealloc(kept, 200, "grower.cpp", 12); });
    }
    EXPECT_EQ(alloc,
              "\n*** Memory Allocation Failure ***\n*** Failed to alloc 100 bytes as [CommBuffer] "
              "***\n*** Request from file [caller.cpp] line [77] ***\n");
    EXPECT_EQ(grow,
              "\n*** Memory Allocation Failure ***\n*** Failed to realloc 200 bytes ] ***\n"
              "*** Request from file [grower.cpp] line [12] ***\n");
    _gmlfree(kept, __FILE__, __LINE__);  // the failed resize left the block valid

    // A size the C heap can never give fails the same way without the test allocator.
    EXPECT_NE(AssertText([] { _gmlalloc(SIZE_MAX / 2, 99, "x.cpp", 1); }).find("as [UNKNOW]"),
              std::string::npos);
}

// A console printer that needs the heap, as the server's console log does.
int gPrinterCalls = 0;
void PrintThroughTheHeap(const char*) {
    ++gPrinterCalls;
    _gmlfree(_gmlalloc(64, Mem_Buffer, "printer.cpp", 5), __FILE__, __LINE__);
}

TEST(TaggedAllocator, FailureWhileReportingAFailureIsRaisedOnceWithoutAReport) {
    gPrinterCalls = 0;
    SetConsolePrinter(&PrintThroughTheHeap);
    std::string text;
    {
        tNoHeap noHeap;
        text = AssertText([] { _gmlalloc(100, Mem_CommBuffer, "caller.cpp", 77); });
    }
    EXPECT_EQ(gPrinterCalls, 1);  // the printer's own failure was not reported through it
    EXPECT_NE(text.find("Failed to alloc 64 bytes as [Mem_Buffer]"), std::string::npos) << text;

    AssertText([] { DoAssert("later.cpp", 2, "later", 0); });
    SetConsolePrinter(nullptr);
    EXPECT_EQ(gPrinterCalls, 2);  // the next assertion is reported again
}

TEST(TaggedAllocator, FreeingNullOnlyPrints) {
    testing::internal::CaptureStdout();
    _gmlfree(nullptr, __FILE__, __LINE__);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "*** ERROR : Invalid NULL Pointer to Free (_gmlfree)");
}

TEST(TaggedAllocator, CategoriesHaveTheirNames) {
    const struct {
        int code;
        const char* name;
    } cases[] = {{0, "Mem_Buffer"}, {1, "Object"},  {5, "AutoCharBuffer"}, {17, "FilterNode"},
                 {23, "OracleOCI"}, {24, "UNKNOW"}, {-1, "UNKNOW"}};
    for (const auto& c : cases) EXPECT_STREQ(MemCategoryName(c.code), c.name) << c.code;
}

TEST(ByteSize, ThresholdsAreNineTenthsOfTheNextUnit) {
    const struct {
        u64 count;
        const char* text;
    } cases[] = {
        {0, "0 bytes."},         {921, "921 bytes."},       {922, "0.90 Kb."},
        {943718, "921.60 Kb."},  {943719, "0.90 Mb."},      {966367641, "921.60 Mb."},
        {966367642, "0.90 Gb."}, {4294967295u, "4.00 Gb."}, {8589934592ULL, "8.00 Gb."},
    };
    char out[32];
    for (const auto& c : cases) EXPECT_STREQ(FormatByteSize(c.count, out, sizeof out), c.text);
    EXPECT_STREQ(FormatMegabytes(1572864, out, sizeof out), "1.50 Mb.");
    EXPECT_STREQ(FormatMegabytes(0, out, sizeof out), "0.00 Mb.");
}

}  // namespace
