// The parser's ways out of trouble: conflicts resolved by reading ahead through a conflict list's
// automaton, the error-token recovery and panic recovery.
#include <algorithm>

#include "server/filter/ssyacc.h"

namespace {

constexpr size_t kRecoverySetRoom = 64;

}  // namespace

// The next lexeme for the conflict automaton: from the cache at the resolution's position, else
// read and kept in the cache for the reads after the resolution. False when none is left.
bool SSYacc::NextConflictLexeme(SSRef<SSLexLexeme>& out, i32& position) {
    if (SSLexLexeme* cached = cache->peek(position)) {
        ++position;
        out.set(cached);
        return true;
    }
    if (endOfInput) return false;
    SSLexLexeme* next = nextLexeme();
    if (next) {
        out.set(next);
    } else {
        endOfInput = true;
        out = eofLexeme;
    }
    cache->append(out.get());
    ++position;
    return true;
}

// Feeds the look-ahead and the lexemes behind it to the conflict list's automaton until one of
// its final states decides between a shift and a reduce. False stops the parse.
bool SSYacc::ResolveConflict() {
    const SSLexTable* automaton = table->conflictList(pending.argument);
    if (!automaton) {
        ssError(kSSYaccParseFailed, "%s", kSSYaccParseFailedMsg);
        return false;
    }
    i32 position = 0;
    i32 at = automaton->transition(0, 0, static_cast<u32>(TokenOf(*look)));
    SSRef<SSLexLexeme> further;
    for (;;) {
        if (at >= 0) {
            const SSLexStateRecord record = automaton->stateRecord(0, u32(at));
            if (record.flags & kSSLexAccept) {
                const u32 target = static_cast<u32>(record.token);
                if (record.flags & kSSYaccConflictReduce) {
                    SetPending(kSSYaccReduceBit | (target & kSSYaccArgumentMask));
                    if (pending.kind == SSYaccAction::kReduce) return true;
                } else if (target < table->stateCount()) {
                    SetPending(kSSYaccShiftBit | target);
                    return true;
                }
                ssError(kSSYaccParseFailed, "%s", kSSYaccParseFailedMsg);
                return false;
            }
        }
        if (at < 0 || !NextConflictLexeme(further, position)) {
            if (conflictError(state, *look, further.get())) return false;
            shiftsSinceError = 0;
            return true;
        }
        at = automaton->transition(0, u32(at), static_cast<u32>(TokenOf(*further)));
    }
}

bool SSYacc::PushErrorElement(u32 errorState) {
    const u8 text[] = "%error";
    SSRef<SSLexLexeme> lexeme(SSLexLexeme::create(
        kSSYaccErrorToken, text, 6, {look->line(), look->offset(), look->bufferOffset()}, false));
    SSRef<SSYaccStackElement> element(newStackElement());
    element->setLexeme(lexeme.get());
    element->setState(errorState);
    state = errorState;
    return stack->push(element);
}

bool SSYacc::errorToken() {
    // The tokens at which parsing can resume: those of the synchronising rows on the stack, and
    // all of the states that the stack's error entries lead to.
    SSSetArray<i32> recovery(kRecoverySetRoom, kRecoverySetRoom);
    for (u32 depth = 0; depth < stack->size(); ++depth) {
        const u32 inState = (*stack->at(depth))->state();
        const u32 flags = table->rowFlags(inState);
        if (flags & (kSSYaccRowSync | kSSYaccRowAllSync)) {
            for (u32 i = 0; i < table->actionCount(inState); ++i) {
                const SSYaccEntry entry = table->actionEntry(inState, i);
                if ((flags & kSSYaccRowAllSync) || (entry.word & kSSYaccSyncBit)) {
                    recovery.add(entry.symbol);
                }
            }
        }
        u32 errorWord = 0;
        if (table->errorEntry(inState, errorWord)) {
            const u32 target = errorWord & kSSYaccArgumentMask;
            for (u32 i = 0; i < table->actionCount(target); ++i) {
                recovery.add(table->actionEntry(target, i).symbol);
            }
        }
    }
    if (recovery.size() == 0) {
        ssError(kSSYaccErrorTokenFailed, "%s", kSSYaccErrorTokenFailedMsg);
        return true;
    }
    while (!recovery.contains(TokenOf(*look))) {
        if ((endOfInput && cache->count() == 0) || !ReadLookahead(false)) {
            ssError(kSSYaccErrorTokenEof, "%s", kSSYaccErrorTokenEofMsg);
            return true;
        }
    }
    const i32 token = TokenOf(*look);
    while (stack->size() > 0) {
        const u32 top = (*stack->peek())->state();
        const u32 flags = table->rowFlags(top);
        u32 word = 0;
        u32 errorWord = 0;
        if (table->errorEntry(top, errorWord) &&
            HasAction(errorWord & kSSYaccArgumentMask, token, word)) {
            if (!PushErrorElement(errorWord & kSSYaccArgumentMask)) return true;
            SetPending(word);
            return false;
        }
        if (((flags & kSSYaccRowAllSync) && HasAction(top, token, word)) ||
            ((flags & kSSYaccRowSync) && HasAction(top, token, word))) {
            state = top;
            SetPending(word);
            return false;
        }
        stack->pop();
    }
    ssError(kSSYaccErrorTokenFailed, "%s", kSSYaccErrorTokenFailedMsg);
    return true;
}

bool SSYacc::errorPanic(const std::vector<i32>& tokens, bool readFirst) {
    const Stack saved(*stack);
    auto listed = [&tokens](i32 token) {
        return std::find(tokens.begin(), tokens.end(), token) != tokens.end();
    };
    for (bool read = readFirst;; read = true) {
        if (read || !listed(TokenOf(*look))) {
            do {
                if ((endOfInput && cache->count() == 0) || !ReadLookahead(false)) {
                    ssError(kSSYaccPanicFailed, "%s", kSSYaccPanicFailedMsg);
                    return true;
                }
            } while (!listed(TokenOf(*look)));
        }
        const i32 token = TokenOf(*look);
        for (;;) {
            const u32 top = (*stack->peek())->state();
            u32 word = 0;
            if (HasAction(top, token, word)) {
                state = top;
                SetPending(word);
                return false;
            }
            stack->pop();
            if (stack->size() < 2) break;
        }
        *stack = saved;
    }
}
