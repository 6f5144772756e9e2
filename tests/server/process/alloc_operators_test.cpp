// The server program's global new/delete go through the tagged allocator.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include "lib_base/gmlalloc.h"
#include "lib_base/gmlassert.h"

namespace {

// Everything in the test program allocates through new here, so only one odd size fails.
constexpr size_t kRefusedSize = 28679;
void* RefuseOneSize(size_t size) { return size == kRefusedSize ? nullptr : calloc(1, size); }

TEST(ServerAllocation, NewRaisesTheObjectCategoryReport) {
    static const tRawAllocator refusing = {RefuseOneSize, realloc};
    std::string text;
    SetRawAllocator(&refusing);
    try {
        // The operator itself: an optimiser may drop a new-expression whose result goes unused.
        ::operator delete[](::operator new[](kRefusedSize));
    } catch (tAssertException* e) {
        text = e->GetExtra();
        delete e;
    }
    SetRawAllocator(nullptr);
    EXPECT_NE(text.find("Failed to alloc 28679 bytes as [Object]"), std::string::npos) << text;
}

TEST(ServerAllocation, NewZeroFillsAndEveryFormReleases) {
    auto* raw = static_cast<unsigned char*>(::operator new(32));
    for (int i = 0; i < 32; ++i) ASSERT_EQ(raw[i], 0);
    ::operator delete(raw);

    // The aligned form; read as raw bytes, since an object's uninitialised members have no value.
    auto* wide = static_cast<unsigned char*>(::operator new (64, std::align_val_t{64}));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(wide) % 64, 0u);
    EXPECT_EQ(wide[63], 0);
    ::operator delete (wide, std::align_val_t{64});

    int* many = new int[10]();
    delete[] many;
    const size_t huge = SIZE_MAX / 4;
    EXPECT_EQ(::operator new(huge, std::nothrow), nullptr);

    testing::internal::CaptureStdout();
    int* none = nullptr;
    delete none;  // silent, unlike _gmlfree(nullptr)
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
