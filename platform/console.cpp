// Terminal input through read(2) on descriptor 0, one byte at a time so that nothing past the
// line is taken from the input.
#include "platform/console.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace plat {

void FlushConsoleInput() {
    if (isatty(STDIN_FILENO)) tcflush(STDIN_FILENO, TCIFLUSH);
}

std::size_t ReadConsoleLine(char* buffer, std::size_t size) {
    if (!buffer || size == 0) return 0;
    std::size_t count = 0;
    while (count + 1 < size) {
        char c;
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        buffer[count++] = c;
        if (c == '\n') break;
    }
    buffer[count] = '\0';
    return count;
}

}  // namespace plat
