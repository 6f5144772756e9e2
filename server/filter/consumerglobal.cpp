// The lexer runtime's process-wide object.
#include "server/filter/consumerglobal.h"

tConsumerGlobal& ConsumerGlobal() {
    static tConsumerGlobal global{};
    return global;
}

void InitConsumerGlobal() { ConsumerGlobal() = tConsumerGlobal{}; }
