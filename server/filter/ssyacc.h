// The LALR(1) parser of the runtime: reads lexemes from an SSLex, looks its actions up in an
// SSYaccTable, keeps a stack of SSYaccStackElement objects and calls the virtual reduce for every
// production it recognises, so that a subclass builds its result while parsing.
#pragma once
#include <memory>
#include <vector>

#include "server/filter/sscontainers.h"
#include "server/filter/sslex.h"
#include "server/filter/ssyacctable.h"

// One entry of the parse stack: the state in which it was pushed, the lexeme it was shifted for
// (empty for a nonterminal unless a subclass sets one) and optional sub-elements for trees.
class SSYaccStackElement : public SSRefCount {
public:
    SSYaccStackElement() = default;
    ~SSYaccStackElement() override = default;

    u32 state() const { return pushedState; }
    void setState(u32 state) { pushedState = state; }
    SSLexLexeme* lexeme() const { return heldLexeme.get(); }
    void setLexeme(SSLexLexeme* lexeme) { heldLexeme.set(lexeme); }

    // Room for count sub-elements, all empty; drops those held before.
    void makeSubtree(u32 count);
    u32 subtreeCount() const { return subCount; }
    // The sub-element at index, or null past the count.
    SSYaccStackElement* subtree(u32 index) const;
    // Index past the count raises "SSYacc0116e: No Subtree, or subtree index too large".
    bool setSubtree(u32 index, SSYaccStackElement* element);

private:
    u32 pushedState = 0;
    SSRef<SSLexLexeme> heldLexeme;
    u32 subCount = 0;
    std::unique_ptr<SSRef<SSYaccStackElement>[]> subs;
};

// A new stack element of class T with reference count 0, as the parser expects from
// newStackElement, shiftElement and reduce: the parser's reference then owns it.
template <class T, class... Args>
T* ssNewStackElement(Args&&... args) {
    T* element = new T(std::forward<Args>(args)...);
    element->release(false);
    return element;
}

// Look-ahead lexemes read while resolving a conflict, consumed in order by later reads.
//  (1) first <= end <= capacity; entries [first, end) are the unconsumed ones, count = end - first.
class SSYaccLexemeCache {
public:
    static constexpr u32 kGrowth = 32;

    SSYaccLexemeCache();
    // Stores the lexeme behind the unconsumed ones; moves them to the front or grows by 32
    // when the array is full.
    void append(SSLexLexeme* lexeme);
    // The next unconsumed lexeme, which is then consumed; null when there is none.
    SSRef<SSLexLexeme> take();
    // The unconsumed lexeme at position (0 the next), or null.
    SSLexLexeme* peek(i32 position) const;
    u32 count() const { return end - first; }
    u32 capacity() const { return size; }

private:
    u32 size = kGrowth;
    u32 first = 0;
    u32 end = 0;
    std::unique_ptr<SSRef<SSLexLexeme>[]> entries;
};

// A parser lives for one parse on one thread. It owns the table only when it loaded it from a
// file itself; the lexer is never owned. Errors go through the runtime's error calls, which by
// default throw SSException.
class SSYacc : public SSExceptionPresent {
public:
    // A handler of reduce for one production, called with the production and its length.
    using ReduceHandler = SSYaccStackElement* (*)(SSYacc& parser, u32 production, u32 length);
    struct ReduceEntry {
        u32 production;
        ReduceHandler handler;
    };

    SSYacc(SSLex& lexer, SSYaccTable& table);
    SSYacc(SSLex& lexer, const char* tableFile);
    explicit SSYacc(const char* tableFile);
    SSYacc(const SSYacc&) = delete;
    SSYacc& operator=(const SSYacc&) = delete;
    ~SSYacc() override;

    void setLex(SSLex& lexer);
    void setTable(SSYaccTable& table);
    // Reduce handlers sorted by production; reduce calls the one of its production. Not owned.
    void setReduceHandlers(const ReduceEntry* handlers, size_t count);

    // Runs to the end: false when the input was accepted without any error, true otherwise.
    bool parse();
    // After acceptance, the last element that reduce made.
    SSYaccStackElement* result() const { return resultElement.get(); }
    virtual bool hadError() { return errorSeen; }

    // During reduce, the element of the index-th right-hand symbol, 0 the leftmost; an index
    // outside the production raises "SSYacc0108e" and gives null.
    SSYaccStackElement* elementFromProduction(i32 index);
    // The element at depth from the top of the stack (0 the top), or null.
    SSYaccStackElement* stackElement(u32 depth);
    // Pushes an element (the stack takes a reference).
    void pushElement(SSYaccStackElement* element);
    // A new element carrying the lexeme of production element index.
    SSYaccStackElement* elementWithLexeme(i32 index);
    // A new lexeme (count 0) whose text joins the texts of the production elements at indices,
    // with the token and place of the first; fewer than two indices give null.
    SSLexLexeme* joinedLexeme(const std::vector<i32>& indices);
    // A new element whose sub-elements are all the production's elements in order.
    SSYaccStackElement* elementWithSubtree();
    // The tokens that have an action in state; "SSYacc0114e" for a state beyond the table.
    std::vector<i32> validTokens(u32 state);
    // Clears state, flags and look-ahead and remakes the stack with one element.
    void reset();

    u32 currentState() const { return state; }
    SSLexLexeme* lookahead() const { return look.get(); }
    // The end-of-input flag: once set it stays set.
    bool atEndOfInput() const { return endOfInput; }

protected:
    // Called by the constructors (this class's own init, not a subclass's); does nothing.
    virtual void init() {}
    // The lexer's next lexeme, or null at the end of the input; "SSYacc0110e" without a lexer.
    virtual SSLexLexeme* nextLexeme();
    // A new element with reference count 0 (see ssNewStackElement).
    virtual SSYaccStackElement* newStackElement();
    // The element to push for a shifted lexeme; null stops the parse.
    virtual SSYaccStackElement* shiftElement(SSLexLexeme& lexeme);
    // Called for a lexeme taken from the look-ahead cache; true stops the parse.
    virtual bool checkCachedLexeme(SSLexLexeme& lexeme);
    // Recovery after a syntax error; true gives up. By default the error-token recovery.
    virtual bool error(u32 state, SSLexLexeme& lookahead);
    // The element that stands for the production's left-hand side; null stops the parse.
    virtual SSYaccStackElement* reduce(u32 production, u32 length);
    // A conflict that the look-ahead could not resolve; by default error.
    virtual bool conflictError(u32 state, SSLexLexeme& lookahead, SSLexLexeme* further);

    // The error-token recovery: resumes at the first look-ahead that a synchronising state or an
    // error entry on the stack accepts. True gives up.
    bool errorToken();
    // Panic recovery for subclasses: skips look-aheads until one of tokens, then pops to a state
    // with an action for it; with fewer than two elements left the stack is restored and
    // skipping starts again. True gives up ("SSYacc0104e" at the end of the input).
    bool errorPanic(const std::vector<i32>& tokens, bool readFirst);

    // A lexeme's token as the parser sees it: its value word when nonzero, else its token id.
    static i32 TokenOf(const SSLexLexeme& lexeme);

private:
    using Stack = SSLifo<SSRef<SSYaccStackElement>>;
    struct Pending {
        SSYaccAction kind = SSYaccAction::kError;
        u32 argument = 0;    // shift target, production or conflict list
        u32 length = 0;      // of a reduce's production
        u32 leftSymbol = 0;  // of a reduce's production
    };

    void LoadTable(const char* tableFile);
    void Construct();
    bool ReadLookahead(bool lookup);
    void LookupAction(i32 token);
    void SetPending(u32 word);
    bool Shift();
    void StartSteps();
    bool Reduce();
    bool ResolveConflict();
    bool NextConflictLexeme(SSRef<SSLexLexeme>& out, i32& position);
    bool HasAction(u32 inState, i32 token, u32& word) const;
    bool PushErrorElement(u32 errorState);

    SSLex* lexer = nullptr;
    SSYaccTable* table = nullptr;
    std::unique_ptr<SSYaccTable> ownedTable;
    u32 state = 0;
    Pending pending;
    SSRef<SSLexLexeme> look;
    SSRef<SSLexLexeme> eofLexeme;
    bool errorSeen = false;
    bool abortParse = false;  // nothing in this system sets it
    bool endOfInput = false;
    u32 shiftsSinceError = 0;
    u64 stepsSinceShift = 0;  // reductions, errors and conflicts since the last shift
    u64 stepLimit = 0;
    std::unique_ptr<Stack> stack;
    std::unique_ptr<SSYaccLexemeCache> cache;
    SSRef<SSYaccStackElement> current;
    SSRef<SSYaccStackElement> resultElement;
    const ReduceEntry* handlers = nullptr;
    size_t handlerCount = 0;
};
