// Detached pthreads with a fixed stack size, and nanosleep.
#include "platform/thread.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <new>

#include "platform/crashdump.h"

namespace plat {

static_assert(kThreadStartAgain == EAGAIN);

namespace {

struct tStartRecord {
    void (*body)(void*);
    void* arg;
};

void* RunStartRecord(void* raw) {
    std::unique_ptr<tStartRecord> record(static_cast<tStartRecord*>(raw));
    PrepareCrashStack();  // so that a stack overflow on this thread can still be dumped
    record->body(record->arg);
    return nullptr;
}

}  // namespace

int StartThread(void (*body)(void* arg), void* arg) {
    std::unique_ptr<tStartRecord> record(new (std::nothrow) tStartRecord{body, arg});
    if (!record) return ENOMEM;
    pthread_attr_t attr;
    int rc = pthread_attr_init(&attr);
    if (rc != 0) return rc;
    rc = pthread_attr_setstacksize(&attr, kThreadStackBytes);
    if (rc == 0) rc = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    if (rc == 0) rc = pthread_create(&thread, &attr, RunStartRecord, record.get());
    pthread_attr_destroy(&attr);
    if (rc == 0) record.release();  // the new thread owns it now
    return rc;
}

void Sleep(std::uint32_t ms) {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace plat
