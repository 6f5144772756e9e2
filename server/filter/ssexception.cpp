// Error calls of the lexer and parser runtime and the process-wide error control.
#include "server/filter/ssexception.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

SSException::SSException(i32 id, const char* message) : id(id) {
    std::strncpy(text, message, kTextMax);
    text[kTextMax] = '\0';
}

SSExceptionControl& ssExceptionControl() {
    static SSExceptionControl control;
    return control;
}

void SSExceptionPresent::ssError(i32 id, const char* format, ...) {
    const SSExceptionControl& control = ssExceptionControl();
    if (!control.raiseErrors) return;
    constexpr size_t kFormatted = 512;
    char message[kFormatted];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    SSException error = length < 0 || static_cast<size_t>(length) >= kFormatted
                            ? SSException(kSSMessageTooLong, kSSMessageTooLongMsg)
                            : SSException(id, message);
    if (!control.storeErrors) throw error;
    stored = std::make_unique<SSException>(error);
}
