// The table-driven scanner of the lexer runtime: runs the automaton of an SSLexTable over the
// characters of an SSLexConsumer and hands out SSLexLexeme tokens, longest match first. Each
// expression list of the table is an automaton of its own; tokens push, pop or replace the
// current list (the filter's strings have lists of their own).
#pragma once
#include <memory>

#include "server/filter/sscontainers.h"
#include "server/filter/sslexconsumer.h"
#include "server/filter/sslexlexeme.h"
#include "server/filter/sslextable.h"

// A lexer lives for one parse on one thread. It owns the consumer and table it made itself and
// only points to those it was given.
class SSLex : public SSExceptionPresent {
public:
    // Over a consumer and a table that outlive the lexer.
    SSLex(SSLexConsumer& consumer, SSLexTable& table);
    // Over a file consumer of inputFile and the table in tableFile, both owned.
    SSLex(const char* inputFile, const char* tableFile);
    // Over a file consumer of inputFile (owned); the table comes with setTable.
    explicit SSLex(const char* inputFile);
    SSLex(const SSLex&) = delete;
    SSLex& operator=(const SSLex&) = delete;
    ~SSLex() override = default;

    // The table to scan with, not owned; the lexer starts over in list 0.
    void setTable(SSLexTable& table);
    // The next token, with reference count 0 (hold it in an SSRef), or null at the end of the
    // input. Raises "SSLex0107e" without a table or consumer and "SSLex0105e" for text that
    // starts no token.
    SSLexLexeme* nextToken();

    // The current expression list; "SSLex0111e" when the table has no such list.
    u32 getExpressionList();
    // An index beyond the table raises "SSLex0106e" and changes nothing.
    void pushExpressionList(u32 index);
    void popExpressionList();
    void setExpressionList(u32 index);
    u32 tokenCount() const { return tokens; }

    virtual const char* tokenName(i32 token);

protected:
    // Called when no token matches at the consumer's mark, with the consumer just past the
    // first character of the failed match. Raises "SSLex0105e"; a subclass may answer a lexeme.
    virtual SSLexLexeme* invalidToken(SSLexConsumer& consumer);
    // Ends a match that gives no token.
    virtual void skip(SSLexConsumer& consumer, i32 token);
    // The lexeme of a match; ends the match.
    virtual SSLexLexeme* makeLexeme(SSLexConsumer& consumer, i32 token);
    // Gives the lexeme the token and value of its entry in keyword table index, if any.
    virtual void keywordLookup(SSLexLexeme& lexeme, u32 index, SSLexConsumer& consumer);

private:
    struct Match;
    bool Scan(Match& match);
    void ChangeLists(const SSLexStateRecord& record);

    std::unique_ptr<SSLexConsumer> ownedConsumer;
    std::unique_ptr<SSLexTable> ownedTable;
    SSLexConsumer* consumer;
    SSLexTable* table;
    u32 currentList = 0;
    SSLifo<u32> lists{32, 32};  // the lists below the current one
    u32 tokens = 0;
};
