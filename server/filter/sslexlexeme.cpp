// Creation of a lexeme and its text in one block.
#include "server/filter/sslexlexeme.h"

#include <cstring>
#include <new>

SSLexLexeme* SSLexLexeme::create(i32 token, const u8* text, size_t length, const Place& place,
                                 bool wide) {
    void* block = ::operator new(sizeof(SSLexLexeme) + length + 2, std::nothrow);
    if (!block) throw SSException(kSSOutOfStorage, kSSOutOfStorageMsg);
    SSLexLexeme* lexeme = new (block) SSLexLexeme(token, length, place, wide);
    char* copy = reinterpret_cast<char*>(lexeme + 1);
    if (length > 0) std::memcpy(copy, text, length);
    copy[length] = '\0';
    copy[length + 1] = '\0';
    lexeme->release(false);  // its first holder owns it
    return lexeme;
}
