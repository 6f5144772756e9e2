// Console input read a line at a time from standard input (here a pipe): a line ends at its
// '\n', which is kept; nothing past it is taken; the buffer bounds the line; the end gives 0.
#include "platform/console.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace {

// Standard input replaced by a pipe holding text, for the life of the object.
class PipedInput {
public:
    explicit PipedInput(const std::string& text) {
        int fds[2];
        if (pipe(fds) != 0) return;
        saved = dup(STDIN_FILENO);
        EXPECT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fds[1]);  // the end of input follows the text
        dup2(fds[0], STDIN_FILENO);
        close(fds[0]);
    }
    ~PipedInput() {
        if (saved < 0) return;
        dup2(saved, STDIN_FILENO);
        close(saved);
    }

private:
    int saved = -1;
};

std::string ReadLine(size_t size) {
    char buffer[64] = "(unset)";
    const size_t n = plat::ReadConsoleLine(buffer, size);
    EXPECT_EQ(std::string(buffer).size(), n);
    return std::string(buffer, n);
}

TEST(ConsoleInput, ReadsOneLineAtATimeWithinTheBuffer) {
    PipedInput input("YES\r\nSIM\nlonger line\nlast");
    plat::FlushConsoleInput();  // not a terminal: nothing is thrown away
    EXPECT_EQ(ReadLine(64), "YES\r\n");
    EXPECT_EQ(ReadLine(64), "SIM\n");
    EXPECT_EQ(ReadLine(5), "long");  // size counts the NUL
    EXPECT_EQ(ReadLine(64), "er line\n");
    EXPECT_EQ(ReadLine(64), "last");
    EXPECT_EQ(ReadLine(64), "");
}

}  // namespace
