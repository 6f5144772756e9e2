// The parse stack's elements and the look-ahead cache of the parser.
#include "server/filter/ssyacc.h"

void SSYaccStackElement::makeSubtree(u32 count) {
    subs = count ? ssNewArray<SSRef<SSYaccStackElement>>(count) : nullptr;
    subCount = count;
}

SSYaccStackElement* SSYaccStackElement::subtree(u32 index) const {
    return index < subCount ? subs[index].get() : nullptr;
}

bool SSYaccStackElement::setSubtree(u32 index, SSYaccStackElement* element) {
    if (index >= subCount) {
        ssError(kSSYaccNoSubtree, "%s", kSSYaccNoSubtreeMsg);
        return false;
    }
    subs[index].set(element);
    return true;
}

SSYaccLexemeCache::SSYaccLexemeCache() : entries(ssNewArray<SSRef<SSLexLexeme>>(kGrowth)) {}

void SSYaccLexemeCache::append(SSLexLexeme* lexeme) {
    if (end + 1 >= size) {
        if (first > 0) {
            for (u32 i = first; i < end; ++i) {
                entries[i - first] = entries[i];
                entries[i].set(nullptr);
            }
            end -= first;
            first = 0;
        } else {
            std::unique_ptr<SSRef<SSLexLexeme>[]> larger =
                ssNewArray<SSRef<SSLexLexeme>>(size + kGrowth);
            for (u32 i = 0; i < end; ++i) larger[i] = entries[i];
            entries = std::move(larger);
            size += kGrowth;
        }
    }
    entries[end++].set(lexeme);
}

SSRef<SSLexLexeme> SSYaccLexemeCache::take() {
    SSRef<SSLexLexeme> next;
    if (first == end) return next;
    next = entries[first];
    entries[first++].set(nullptr);
    return next;
}

SSLexLexeme* SSYaccLexemeCache::peek(i32 position) const {
    if (position < 0 || u32(position) + 1 > count()) return nullptr;
    return entries[first + u32(position)].get();
}
