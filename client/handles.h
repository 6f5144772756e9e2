// The handle table of the client library: the 32-bit numbers that the exports hand out in place
// of object addresses, which do not fit 32 bits on 64-bit hosts. A released or never issued
// number finds nothing, so a stale handle is refused instead of followed.
#pragma once
#include <memory>

#include "lib_base/types.h"

// What a handle can name: connections and table-creation descriptors.
class tHandleObject {
public:
    tHandleObject() = default;
    virtual ~tHandleObject() = default;
    tHandleObject(const tHandleObject&) = delete;
    tHandleObject& operator=(const tHandleObject&) = delete;
};

// Any thread may call these; the table has its own lock. Numbers start at 1 and are not reused
// until the 32-bit counter wraps, and then never while still in use; 0 is never a handle.
u32 AddHandle(std::shared_ptr<tHandleObject> object);
// The object, shared so that it outlives a release by another thread during the call; null for
// 0, a released handle or one never issued.
std::shared_ptr<tHandleObject> FindHandle(u32 handle);
// Takes the object out of the table; null when the handle names nothing.
std::shared_ptr<tHandleObject> RemoveHandle(u32 handle);

// FindHandle narrowed to one kind: null when the handle names another kind of object.
template <class T>
std::shared_ptr<T> FindHandleOf(u32 handle) {
    return std::dynamic_pointer_cast<T>(FindHandle(handle));
}
