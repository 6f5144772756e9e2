// The parser's main loop: look-ahead reading, shift, reduce with its goto, accept, and the
// operations that subclasses call while reducing.
#include "server/filter/ssyacc.h"

#include <algorithm>
#include <string>

namespace {

constexpr size_t kStackRoom = 64;

}  // namespace

SSYacc::SSYacc(SSLex& lexer, SSYaccTable& table) : lexer(&lexer), table(&table) { Construct(); }

SSYacc::SSYacc(SSLex& lexer, const char* tableFile) : lexer(&lexer) {
    LoadTable(tableFile);
    Construct();
}

SSYacc::SSYacc(const char* tableFile) {
    LoadTable(tableFile);
    Construct();
}

// A table file that could not be loaded (its error stored, not thrown) leaves no table.
void SSYacc::LoadTable(const char* tableFile) {
    ownedTable = std::make_unique<SSYaccTable>(tableFile);
    if (ownedTable->storedError()) ownedTable.reset();
    table = ownedTable.get();
}

SSYacc::~SSYacc() = default;

void SSYacc::Construct() {
    init();
    const u8 eofText[] = "eof";
    eofLexeme.set(
        SSLexLexeme::create(kSSYaccEofToken, eofText, 3, {0xFFFFFFFF, 0xFFFFFFFF, ~u64(0)}, false));
    cache = std::make_unique<SSYaccLexemeCache>();
    stack = std::make_unique<Stack>(kStackRoom, kStackRoom);
    stack->push(SSRef<SSYaccStackElement>(newStackElement()));
}

void SSYacc::setLex(SSLex& next) { lexer = &next; }

void SSYacc::setTable(SSYaccTable& next) {
    ownedTable.reset();
    table = &next;
}

void SSYacc::setReduceHandlers(const ReduceEntry* entries, size_t count) {
    handlers = entries;
    handlerCount = count;
}

i32 SSYacc::TokenOf(const SSLexLexeme& lexeme) {
    return lexeme.value() != 0 ? static_cast<i32>(lexeme.value()) : lexeme.token();
}

SSLexLexeme* SSYacc::nextLexeme() {
    if (!lexer) {
        ssError(kSSYaccLexMissing, "%s", kSSYaccLexMissingMsg);
        return nullptr;
    }
    return lexer->nextToken();
}

SSYaccStackElement* SSYacc::newStackElement() { return ssNewStackElement<SSYaccStackElement>(); }

SSYaccStackElement* SSYacc::shiftElement(SSLexLexeme&) { return newStackElement(); }

bool SSYacc::checkCachedLexeme(SSLexLexeme&) { return false; }

bool SSYacc::error(u32, SSLexLexeme&) { return errorToken(); }

SSYaccStackElement* SSYacc::reduce(u32 production, u32 length) {
    if (handlerCount == 0) return newStackElement();
    const ReduceEntry* end = handlers + handlerCount;
    const ReduceEntry* found = std::lower_bound(
        handlers, end, production,
        [](const ReduceEntry& entry, u32 wanted) { return entry.production < wanted; });
    if (found == end || found->production != production) return newStackElement();
    return found->handler(*this, production, length);
}

bool SSYacc::conflictError(u32 inState, SSLexLexeme& lookahead, SSLexLexeme*) {
    return error(inState, lookahead);
}

// Reads the next look-ahead, from the cache first; false when the read failed.
bool SSYacc::ReadLookahead(bool lookup) {
    SSRef<SSLexLexeme> cached = cache->take();
    if (cached) {
        look = cached;
        if (checkCachedLexeme(*look)) return false;
    } else {
        if (endOfInput) {
            ssError(kSSYaccReadPastEof, "%s", kSSYaccReadPastEofMsg);
            return false;
        }
        SSLexLexeme* next = nextLexeme();
        if (next) {
            look.set(next);
        } else {
            endOfInput = true;
            look = eofLexeme;
        }
    }
    if (lookup) LookupAction(TokenOf(*look));
    return true;
}

bool SSYacc::HasAction(u32 inState, i32 token, u32& word) const {
    return table->action(inState, token, word) && ssYaccActionKind(word) != SSYaccAction::kError;
}

void SSYacc::LookupAction(i32 token) {
    u32 word = 0;
    if (!table->action(state, token, word)) word = 0;
    SetPending(word);
}

void SSYacc::SetPending(u32 word) {
    pending = Pending();
    pending.kind = ssYaccActionKind(word);
    pending.argument = word & kSSYaccArgumentMask;
    if (pending.kind == SSYaccAction::kReduce &&
        !table->production(pending.argument, pending.length, pending.leftSymbol)) {
        pending.kind = SSYaccAction::kError;
    }
}

bool SSYacc::parse() {
    if (!table) {
        ssError(kSSYaccTableMissing, "%s", kSSYaccTableMissingMsg);
        return true;
    }
    if (!ReadLookahead(true)) return true;
    StartSteps();
    for (;;) {
        if (abortParse) return true;
        if (pending.kind != SSYaccAction::kShift && ++stepsSinceShift > stepLimit) {
            // Only a faulty table reduces or recovers this long without consuming a token.
            ssError(kSSYaccParseFailed, "%s", kSSYaccParseFailedMsg);
            return true;
        }
        switch (pending.kind) {
            case SSYaccAction::kShift:
                if (!Shift()) return true;
                break;
            case SSYaccAction::kError:
                errorSeen = true;
                if (error(state, *look)) return true;
                shiftsSinceError = 0;
                break;
            case SSYaccAction::kReduce:
                if (!Reduce()) return true;
                break;
            case SSYaccAction::kAccept:
                resultElement = current;
                return hadError();
            case SSYaccAction::kConflict:
                if (!ResolveConflict()) return true;
                break;
        }
    }
}

bool SSYacc::Shift() {
    SSYaccStackElement* made = shiftElement(*look);
    if (!made) return false;
    SSRef<SSYaccStackElement> element(made);
    state = pending.argument;
    element->setLexeme(look.get());
    element->setState(state);
    stack->push(element);
    if (!ReadLookahead(true)) return false;
    ++shiftsSinceError;
    StartSteps();
    return true;
}

// Between two shifts a sound table reduces at most once per element on the stack plus a run of
// chain and empty reductions that cannot repeat a state, so this bound is never reached by one.
void SSYacc::StartSteps() {
    stepsSinceShift = 0;
    stepLimit = stack->size() + u64(table->stateCount()) * (table->productionCount() + 1) + 64;
}

bool SSYacc::Reduce() {
    const Pending reducing = pending;
    // The bottom element stays: a production longer than the stack is a fault of the table.
    if (reducing.length >= stack->size()) {
        ssError(kSSYaccParseFailed, "%s", kSSYaccParseFailedMsg);
        return false;
    }
    SSYaccStackElement* made = reduce(reducing.argument, reducing.length);
    if (!made) return false;
    current.set(made);
    stack->pop(reducing.length);
    state = (*stack->peek())->state();
    u32 target = 0;
    if (!table->gotoState(state, reducing.leftSymbol, target)) {
        ssError(kSSYaccInvalidGoto, kSSYaccInvalidGotoMsg, long(reducing.leftSymbol));
        return false;
    }
    state = target;
    current->setState(state);
    stack->push(current);
    LookupAction(TokenOf(*look));
    return true;
}

SSYaccStackElement* SSYacc::elementFromProduction(i32 index) {
    if (pending.kind != SSYaccAction::kReduce || index < 0 || u32(index) >= pending.length) {
        ssError(kSSYaccElementIndex, kSSYaccElementIndexMsg, long(index));
        return nullptr;
    }
    return stackElement(pending.length - u32(index) - 1);
}

SSYaccStackElement* SSYacc::stackElement(u32 depth) {
    if (depth >= stack->size()) return nullptr;
    return stack->at(depth)->get();
}

void SSYacc::pushElement(SSYaccStackElement* element) {
    stack->push(SSRef<SSYaccStackElement>(element));
}

SSYaccStackElement* SSYacc::elementWithLexeme(i32 index) {
    SSYaccStackElement* from = elementFromProduction(index);
    if (!from) return nullptr;
    SSYaccStackElement* element = newStackElement();
    element->setLexeme(from->lexeme());
    return element;
}

SSLexLexeme* SSYacc::joinedLexeme(const std::vector<i32>& indices) {
    if (indices.size() < 2) return nullptr;
    std::string text;
    SSLexLexeme* first = nullptr;
    for (i32 index : indices) {
        SSYaccStackElement* element = elementFromProduction(index);
        if (!element) return nullptr;
        SSLexLexeme* lexeme = element->lexeme();
        if (!lexeme) continue;
        if (!first) first = lexeme;
        text.append(lexeme->asChar(), lexeme->length());
    }
    if (!first) return nullptr;
    const SSLexLexeme::Place place{first->line(), first->offset(), first->bufferOffset()};
    return SSLexLexeme::create(first->token(), reinterpret_cast<const u8*>(text.data()),
                               text.size(), place, first->isWide());
}

SSYaccStackElement* SSYacc::elementWithSubtree() {
    SSYaccStackElement* element = newStackElement();
    const u32 length = pending.kind == SSYaccAction::kReduce ? pending.length : 0;
    element->makeSubtree(length);
    for (u32 i = 0; i < length; ++i) element->setSubtree(i, stackElement(length - i - 1));
    return element;
}

std::vector<i32> SSYacc::validTokens(u32 inState) {
    std::vector<i32> tokens;
    if (!table || inState >= table->stateCount()) {
        ssError(kSSYaccInvalidState, kSSYaccInvalidStateMsg, long(inState));
        return tokens;
    }
    const u32 count = table->actionCount(inState);
    for (u32 i = 0; i < count; ++i) tokens.push_back(table->actionEntry(inState, i).symbol);
    return tokens;
}

void SSYacc::reset() {
    state = 0;
    pending = Pending();
    look.set(nullptr);
    errorSeen = false;
    abortParse = false;
    endOfInput = false;
    shiftsSinceError = 0;
    current.set(nullptr);
    resultElement.set(nullptr);
    cache = std::make_unique<SSYaccLexemeCache>();
    stack = std::make_unique<Stack>(kStackRoom, kStackRoom);
    stack->push(SSRef<SSYaccStackElement>(newStackElement()));
}
