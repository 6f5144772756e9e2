// Fixed-size block pool of the runtime's small objects: items of one size are cut from blocks
// allocated a number of items at a time and recycled through a free list.
#pragma once
#include "server/filter/ssexception.h"

// Blocks are chained through a link at their start; the pool frees them all when destroyed, so
// every item dies with it. One thread only.
class SSBlockPool : public SSExceptionPresent {
public:
    SSBlockPool(size_t itemSize, size_t itemsPerBlock);
    SSBlockPool(const SSBlockPool&) = delete;
    SSBlockPool& operator=(const SSBlockPool&) = delete;
    ~SSBlockPool() override;

    // An item of itemSize bytes, aligned for any scalar; a new block when none is free.
    void* take();
    // Returns an item taken from this pool.
    void give(void* item);
    size_t blockCount() const { return blocks; }

private:
    struct FreeItem {
        FreeItem* next;
    };
    void AddBlock();

    size_t itemSize;
    size_t itemsPerBlock;
    size_t blocks = 0;
    void* lastBlock = nullptr;  // each block starts with a link to the one before
    FreeItem* freeList = nullptr;
};
