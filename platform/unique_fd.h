// plat::UniqueFd: the sole owner of one descriptor (a socket or a file), closed when the owner
// goes. Descriptor 0 is valid; -1 is the only "none".
#pragma once

namespace plat {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd(fd) {}
    ~UniqueFd() { Close(); }
    UniqueFd(UniqueFd&& other) noexcept : fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd; }
    bool IsValid() const { return fd != -1; }
    // Gives the descriptor up without closing it; the owner is left with none.
    int Release();
    // Closes the descriptor (when there is one) and keeps fd instead.
    void Reset(int newFd = -1);
    // Closes the descriptor: 0, or the errno value of close(); 0 when there was none. The
    // descriptor is gone either way (Linux frees it even when close() reports an error).
    int Close();

private:
    int fd = -1;
};

}  // namespace plat
