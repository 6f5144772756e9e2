// Reading a table image file whole, for the table loaders of the lexer and parser runtime.
#pragma once
#include <vector>

#include "lib_base/types.h"

enum class SSFileRead { kDone, kOpenFailed, kReadFailed };

// Reads the file into bytes, through the operating system's file calls, or through buffered
// reading in "rb" mode when buffered is set. On a failure, bytes holds what was read before it.
SSFileRead ssReadWholeFile(const char* fileName, bool buffered, std::vector<u8>& bytes);
