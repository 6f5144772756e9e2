// Whole-file reading over plain file descriptors or buffered C streams.
#include "server/filter/ssfile.h"

#include <cstdio>
#include <memory>

#include "platform/files.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

SSFileRead ReadBuffered(const char* fileName, std::vector<u8>& bytes) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName, "rb"));
    if (!file) return SSFileRead::kOpenFailed;
    u8 chunk[8192];
    for (;;) {
        const size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (got < sizeof chunk) {
            return std::ferror(file.get()) ? SSFileRead::kReadFailed : SSFileRead::kDone;
        }
    }
}

}  // namespace

SSFileRead ssReadWholeFile(const char* fileName, bool buffered, std::vector<u8>& bytes) {
    bytes.clear();
    if (buffered) return ReadBuffered(fileName, bytes);
    plat::UniqueFd file = plat::OpenFile(fileName, false, false);
    if (!file.IsValid()) return SSFileRead::kOpenFailed;
    u8 chunk[8192];
    for (;;) {
        const i64 got = plat::ReadFile(file.Get(), chunk, sizeof chunk);
        if (got < 0) return SSFileRead::kReadFailed;
        if (got == 0) return SSFileRead::kDone;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
}
