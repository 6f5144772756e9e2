// Thread ids come from gettid(): unique among live threads of the machine, stable for a thread.
#include "platform/thread_id.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace plat {
std::uint32_t CurrentThreadId() {
    thread_local const std::uint32_t id = static_cast<std::uint32_t>(::syscall(SYS_gettid));
    return id;
}
}  // namespace plat
