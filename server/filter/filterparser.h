// The lexer and the parser of the filter language. The parser's reduce action builds the node
// tree of the filter as it recognises each production, and emits the tree's SQL after an
// accepted parse.
#pragma once
#include <memory>

#include "server/filter/filternodes.h"
#include "server/filter/sslex.h"
#include "server/filter/ssyacc.h"

class tFilterOwner;

// The deepest nesting the parser builds: parentheses, negations, relation operands, arithmetic
// and arguments each count a level, while the terms of an AND or OR list do not (the list is
// walked in a loop). Every walk of the tree recurses at most this deep, well inside the stack
// of a worker thread.
constexpr u32 kFilterMaxDepth = 64;

// The filter language's scanner: the runtime's lexer with the language's token names.
class filterLexClass : public SSLex {
public:
    using SSLex::SSLex;
    const char* tokenName(i32 token) override;
};

// A parse stack element with the node built for it (null for a token and for an empty
// argument), owned until the reduce that uses it takes it, and the nesting depth below it.
class filterYaccStackElement : public SSYaccStackElement {
public:
    tFilterNodePtr node;
    u32 depth = 0;
};

// The parser of one filter: builds the tree while parsing, keeps its root (owned) and emits its
// SQL. One translation on one thread.
class filterYaccClass : public SSYacc {
public:
    filterYaccClass(SSLex& lexer, SSYaccTable& table, tFilterOwner& owner);
    ~filterYaccClass() override;

    // Whether the parse built a whole tree, which EmitSQL needs.
    bool HasRoot() const { return root != nullptr; }
    // Pairs the range relations, then appends the tree's SQL to out.
    void EmitSQL(tString& out);
    bool IsFullyTranslated() const { return fullyTranslated; }

protected:
    // Null, which stops the parse, for a construct nested deeper than kFilterMaxDepth.
    SSYaccStackElement* reduce(u32 production, u32 length) override;
    SSYaccStackElement* newStackElement() override;

private:
    struct tBuilt {
        tFilterNodePtr node;
        u32 depth = 0;
    };
    filterYaccStackElement* Element(i32 index);
    tFilterNodePtr Take(i32 index);
    const char* Text(i32 index);
    u32 Depth(i32 index);
    bool BuildExpression(u32 production, tBuilt& built);
    bool BuildOperator(u32 production, tBuilt& built);
    bool BuildTerm(u32 production, tBuilt& built);
    bool BuildCall(u32 production, tBuilt& built);

    tFilterOwner& owner;
    std::unique_ptr<tFLTMain> root;  // the tree, once the whole filter is reduced
    bool fullyTranslated = false;
};
