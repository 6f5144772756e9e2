// Blocks of the runtime's pool: one allocation of a link and itemsPerBlock items.
#include "server/filter/ssblockpool.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr size_t kAlign = alignof(std::max_align_t);

size_t RoundUp(size_t size) { return (size + kAlign - 1) / kAlign * kAlign; }

}  // namespace

SSBlockPool::SSBlockPool(size_t itemSize, size_t itemsPerBlock)
    : itemSize(RoundUp(std::max(itemSize, sizeof(FreeItem)))),
      itemsPerBlock(std::max<size_t>(itemsPerBlock, 1)) {}

SSBlockPool::~SSBlockPool() {
    while (lastBlock) {
        void* previous = *static_cast<void**>(lastBlock);
        delete[] static_cast<std::max_align_t*>(lastBlock);
        lastBlock = previous;
    }
}

void* SSBlockPool::take() {
    if (!freeList) AddBlock();
    FreeItem* item = freeList;
    freeList = item->next;
    return item;
}

void SSBlockPool::give(void* item) {
    FreeItem* freed = static_cast<FreeItem*>(item);
    freed->next = freeList;
    freeList = freed;
}

void SSBlockPool::AddBlock() {
    const size_t bytes = kAlign + itemSize * itemsPerBlock;
    std::unique_ptr<std::max_align_t[]> block = ssNewArray<std::max_align_t>(
        (bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t));
    char* base = reinterpret_cast<char*>(block.get());
    *reinterpret_cast<void**>(base) = lastBlock;
    lastBlock = block.release();
    ++blocks;
    for (size_t i = itemsPerBlock; i-- > 0;) give(base + kAlign + i * itemSize);
}
