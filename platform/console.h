// Standard input of a program run at a terminal: typed-ahead input thrown away, and one line
// read at a time.
#pragma once
#include <cstddef>

namespace plat {

// Discards input typed but not yet read, when standard input is a terminal.
void FlushConsoleInput();
// Reads one line of standard input into buffer (size bytes, the NUL included): the bytes up to
// and including the first '\n', at most size - 1 of them, never reading past that '\n'. Gives the
// bytes read; 0 at the end of input or on an error.
std::size_t ReadConsoleLine(char* buffer, std::size_t size);

}  // namespace plat
