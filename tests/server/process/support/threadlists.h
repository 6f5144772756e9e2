// Thread lists for tests with real workers: lists kept to the end of the process, and what the
// running threads of one type are showing.
#pragma once
#include <functional>
#include <memory>
#include <vector>

#include "lib_base/threads.h"

namespace gmtest {

// A new thread list for one test with a quick shutdown, kept to the end of the process: workers
// that delete themselves touch it last.
inline tThreadList& NewThreadList() {
    static std::vector<std::unique_ptr<tThreadList>> lists;
    tThreadList& list = *lists.emplace_back(std::make_unique<tThreadList>());
    tShutdownPacing pacing;
    pacing.pauseMs = 20;
    list.SetShutdownPacing(pacing);
    return list;
}

// What pick gives for each running thread of the type on the list, in list order.
template <class Picked>
std::vector<Picked> PickRunning(tThreadList& list, i32 type,
                                const std::function<Picked(tThread&)>& pick) {
    struct tWanted {
        i32 type;
        const std::function<Picked(tThread&)>& pick;
        std::vector<Picked> picked;
    } wanted{type, pick, {}};
    list.ForEach(
        [](tThread* thread, void* arg, i32*) {
            auto* w = static_cast<tWanted*>(arg);
            if (thread->GetThreadType() == w->type) w->picked.push_back(w->pick(*thread));
        },
        &wanted);
    return wanted.picked;
}

// The end events of the list's running threads of one type.
inline std::vector<std::shared_ptr<tSemaphore>> EndEvents(tThreadList& list, i32 type) {
    return PickRunning<std::shared_ptr<tSemaphore>>(
        list, type, [](tThread& thread) { return thread.GetEndEvent(); });
}

// The thread ids of the list's running threads of one type.
inline std::vector<u32> ThreadIds(tThreadList& list, i32 type) {
    return PickRunning<u32>(list, type, [](tThread& thread) { return thread.GetThreadId(); });
}

}  // namespace gmtest
