// The installed process services of the database side.
#include "server/isam/dbprocess.h"

#include <atomic>

#include "lib_base/gmlassert.h"

namespace {
std::atomic<tDBProcess*> installed{nullptr};
}  // namespace

void SetDBProcess(tDBProcess* process) { installed.store(process, std::memory_order_release); }

bool SetDBProcessOnce(tDBProcess* process) {
    tDBProcess* none = nullptr;
    return installed.compare_exchange_strong(none, process, std::memory_order_acq_rel);
}

tDBProcess& DBProcess() {
    tDBProcess* process = installed.load(std::memory_order_acquire);
    GML_ASSERT(process != nullptr, "no process services installed for the database side");
    return *process;
}
