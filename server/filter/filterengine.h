// The filter engine: turns a client's filter expression into the SQL condition of its table's
// WHERE clause, and says whether every part of the expression could be translated.
#pragma once
#include <memory>

#include "lib_base/stringz.h"

class SSLexTable;
class SSYaccTable;
class tFilterOwner;

// Made on the stack for one translation on the thread that sets the filter: construct,
// Translate once, read IsTranslated. Builds its own lexer and parser tables from the embedded
// images; a table that could not be built stays null and the translation then gives nothing.
class tFilterEngine {
public:
    // text: the client's filter, NUL-terminated; Translate writes into it (not owned).
    tFilterEngine(tFilterOwner& owner, char* text);
    tFilterEngine(const tFilterEngine&) = delete;
    tFilterEngine& operator=(const tFilterEngine&) = delete;
    virtual ~tFilterEngine();

    // Appends the condition for the expression between the first and the last single quote of
    // the text, overwriting that last quote with a NUL. Without a quote nothing is appended.
    // An expression that does not scan or parse appends nothing; a part without an SQL form
    // appends an always-true term. Errors end here.
    void Translate(tString& out);
    // Whether every part of the expression translated; false until Translate says so.
    bool IsTranslated() const { return translated; }

private:
    void Run(const char* expression, tString& out);

    char* text;
    tFilterOwner& owner;
    std::unique_ptr<SSLexTable> lexTable;
    std::unique_ptr<SSYaccTable> yaccTable;
    bool translated = false;
};
