// The server program's global allocation operators: every object made with new is a block of
// the tagged allocator in category "Object", so an exhausted heap is raised as an assertion
// that ends one connection, not the process. Deleting null does nothing.
#include <cstdlib>
#include <cstring>
#include <new>

#include "lib_base/gmlalloc.h"

namespace {

// Over-aligned blocks are rare (no class of ours asks for them); they come from aligned_alloc,
// which free() accepts, so every delete form can give blocks back the same way.
void* AlignedZeroBlock(size_t size, std::align_val_t align) {
    const size_t a = static_cast<size_t>(align);
    const size_t rounded = (size + a - 1) / a * a;
    void* block = std::aligned_alloc(a, rounded ? rounded : a);
    if (!block) RaiseAllocFailure(size, Mem_Object, __FILE__, __LINE__);
    std::memset(block, 0, rounded);
    return block;
}

void Release(void* block) {
    if (block) _gmlfree(block, __FILE__, __LINE__);
}

}  // namespace

void* operator new(size_t size) { return _gmlalloc(size, Mem_Object, __FILE__, __LINE__); }
void* operator new[](size_t size) { return _gmlalloc(size, Mem_Object, __FILE__, __LINE__); }
void* operator new(size_t size, std::align_val_t align) { return AlignedZeroBlock(size, align); }
void* operator new[](size_t size, std::align_val_t align) { return AlignedZeroBlock(size, align); }

// The nothrow forms answer null instead of raising.
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return std::calloc(1, size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return std::calloc(1, size ? size : 1);
}

void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
void operator delete[](void* block, size_t) noexcept { Release(block); }
void operator delete(void* block, std::align_val_t) noexcept { Release(block); }
void operator delete[](void* block, std::align_val_t) noexcept { Release(block); }
void operator delete(void* block, size_t, std::align_val_t) noexcept { Release(block); }
void operator delete[](void* block, size_t, std::align_val_t) noexcept { Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Release(block); }
