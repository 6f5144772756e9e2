// The handle table: a map from issued numbers to shared objects under one critical section.
#include "client/handles.h"

#include <unordered_map>

#include "lib_base/critsec.h"

namespace {

class tHandleTable {
public:
    u32 Add(std::shared_ptr<tHandleObject> object) {
        tWaiting hold(&lock, __FILE__, __LINE__);
        // Skips 0 and any number still in use once the counter has wrapped.
        do {
            ++last;
        } while (last == 0 || objects.count(last) != 0);
        objects.emplace(last, std::move(object));
        return last;
    }

    std::shared_ptr<tHandleObject> Find(u32 handle) {
        tWaiting hold(&lock, __FILE__, __LINE__);
        auto it = objects.find(handle);
        return it == objects.end() ? nullptr : it->second;
    }

    std::shared_ptr<tHandleObject> Remove(u32 handle) {
        std::shared_ptr<tHandleObject> object;
        {
            tWaiting hold(&lock, __FILE__, __LINE__);
            auto it = objects.find(handle);
            if (it == objects.end()) return nullptr;
            object = std::move(it->second);
            objects.erase(it);
        }
        return object;  // destroyed outside the lock when this was the last owner
    }

private:
    tCriticalSection lock;
    // Guarded by lock.
    std::unordered_map<u32, std::shared_ptr<tHandleObject>> objects;
    u32 last = 0;
};

// Made at first use, after the base library's own process-wide objects, so it is destroyed
// before them at unload.
tHandleTable& Table() {
    static tHandleTable table;
    return table;
}

}  // namespace

u32 AddHandle(std::shared_ptr<tHandleObject> object) { return Table().Add(std::move(object)); }

std::shared_ptr<tHandleObject> FindHandle(u32 handle) {
    if (handle == 0) return nullptr;
    return Table().Find(handle);
}

std::shared_ptr<tHandleObject> RemoveHandle(u32 handle) {
    if (handle == 0) return nullptr;
    return Table().Remove(handle);
}
