// The filter lexer runtime's one process-wide object: three words that every lexer input source
// keeps a reference to. The server program's start-up zeroes it before any connection exists.
#pragma once
#include "lib_base/types.h"

struct tConsumerGlobal {
    u32 words[3];
};

// The object; it lives for the whole process.
tConsumerGlobal& ConsumerGlobal();
// Sets the three words to 0. Called once from the server program's static initialisers.
void InitConsumerGlobal();
