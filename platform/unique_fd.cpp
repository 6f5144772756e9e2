// Closing of owned descriptors.
#include "platform/unique_fd.h"

#include <unistd.h>

#include <cerrno>

namespace plat {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
}

int UniqueFd::Release() {
    int held = fd;
    fd = -1;
    return held;
}

void UniqueFd::Reset(int newFd) {
    Close();
    fd = newFd;
}

int UniqueFd::Close() {
    if (fd == -1) return 0;
    int held = Release();
    // No retry on EINTR: the descriptor is already released and its number may be reused.
    return ::close(held) == 0 ? 0 : errno;
}

}  // namespace plat
