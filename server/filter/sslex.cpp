// Scanning: longest match over the current expression list, list changes, skipped matches,
// invalid tokens and keyword lookup.
#include "server/filter/sslex.h"

#include <cctype>
#include <cstring>
#include <string>

namespace {

// Compares a lexeme's text with a keyword entry, upper-casing the text for a case-insensitive
// entry; <0, 0, >0 as strcmp.
int CompareKeyword(const SSLexLexeme& lexeme, const SSLexKeyword& entry) {
    if (lexeme.isWide()) {
        if (!entry.text16) return 1;
        const u8* text = reinterpret_cast<const u8*>(lexeme.asChar());
        for (size_t i = 0;; i += 2) {
            u32 unit = i < lexeme.length() ? u32(text[i] | text[i + 1] << 8) : 0;
            if (entry.caseInsensitive && unit < 128) unit = std::toupper(static_cast<int>(unit));
            const u32 key = entry.text16[i] | entry.text16[i + 1] << 8;
            if (unit != key || unit == 0) return int(unit) - int(key);
        }
    }
    for (size_t i = 0;; ++i) {
        int c = i < lexeme.length() ? static_cast<u8>(lexeme.asChar()[i]) : 0;
        if (entry.caseInsensitive) c = std::toupper(c);
        const int key = static_cast<u8>(entry.text[i]);
        if (c != key || c == 0) return c - key;
    }
}

bool IsSamePlace(const SSLexConsumer::Position& a, const SSLexConsumer::Position& b) {
    return a.at == b.at && a.markerPending == b.markerPending;
}

}  // namespace

// What one pass of the automaton found.
struct SSLex::Match {
    bool accepted = false;
    SSLexConsumer::Position end;   // behind the longest match
    SSLexConsumer::Position back;  // one character before it, for a record that gives one back
    SSLexStateRecord record;
};

SSLex::SSLex(SSLexConsumer& consumer, SSLexTable& table) : consumer(&consumer), table(&table) {}

SSLex::SSLex(const char* inputFile, const char* tableFile)
    : ownedConsumer(
          std::make_unique<SSLexFileConsumer>(inputFile, -1, 0, SSLexConsumer::kSingleByte)),
      ownedTable(std::make_unique<SSLexTable>(tableFile)),
      consumer(ownedConsumer.get()),
      table(ownedTable.get()) {}

SSLex::SSLex(const char* inputFile)
    : ownedConsumer(
          std::make_unique<SSLexFileConsumer>(inputFile, -1, 0, SSLexConsumer::kSingleByte)),
      consumer(ownedConsumer.get()),
      table(nullptr) {}

void SSLex::setTable(SSLexTable& next) {
    table = &next;
    currentList = 0;
    lists.pop(lists.size());
}

const char* SSLex::tokenName(i32) { return "SSLexTokenNotFound"; }

u32 SSLex::getExpressionList() {
    if (!table || currentList >= table->listCount()) ssError(kSSLexGetList, "%s", kSSLexGetListMsg);
    return currentList;
}

void SSLex::pushExpressionList(u32 index) {
    if (!table || !table->list(index)) return;
    if (lists.push(currentList)) currentList = index;
}

void SSLex::popExpressionList() {
    const u32* below = lists.peek();
    if (!below) return;
    currentList = *below;
    lists.pop();
}

void SSLex::setExpressionList(u32 index) {
    if (table && table->list(index)) currentList = index;
}

// Runs the automaton from the mark as far as it goes; the consumer is left where it stopped.
// False when the input had no character at all.
bool SSLex::Scan(Match& match) {
    match.end = consumer->position();
    const SSLexStateRecord first = table->stateRecord(currentList, 0);
    if (first.flags & kSSLexAccept) {
        match.accepted = true;
        match.record = first;
    }
    u32 state = 0;
    bool readAny = false;
    SSLexConsumer::Position before = consumer->position();
    while (consumer->next()) {
        readAny = true;
        const i32 next =
            table->transition(currentList, state, static_cast<u32>(consumer->current()));
        if (next < 0) break;
        state = static_cast<u32>(next);
        const SSLexStateRecord record = table->stateRecord(currentList, state);
        if (record.flags & kSSLexAccept) {
            match.accepted = true;
            match.end = consumer->position();
            match.back = before;
            match.record = record;
        }
        before = consumer->position();
    }
    return readAny;
}

SSLexLexeme* SSLex::nextToken() {
    if (!table || !consumer) {
        ssError(kSSLexMissing, "%s", kSSLexMissingMsg);
        return nullptr;
    }
    for (;;) {
        if (currentList >= table->listCount()) {
            ssError(kSSLexListIndex, kSSLexListIndexMsg, long(currentList));
            return nullptr;
        }
        const SSLexConsumer::Position start = consumer->position();
        Match match;
        if (!Scan(match)) return nullptr;  // the end of the input
        const SSLexConsumer::Position& end =
            match.record.flags & kSSLexGiveBack ? match.back : match.end;
        if (!match.accepted || IsSamePlace(end, start)) {
            // Nothing matched, or only an empty text, which would never move on.
            consumer->restore(start);
            consumer->next();
            const SSException* earlier = storedError();
            if (SSLexLexeme* lexeme = invalidToken(*consumer)) return lexeme;
            if (storedError() != earlier) return nullptr;
            consumer->setMark();  // drops the character and scans on
            continue;
        }
        consumer->restore(end);
        ChangeLists(match.record);
        if (match.record.flags & kSSLexIgnore) {
            skip(*consumer, match.record.token);
            continue;
        }
        std::unique_ptr<SSLexLexeme> lexeme(makeLexeme(*consumer, match.record.token));
        if (match.record.flags & kSSLexValue) lexeme->setValue(match.record.value);
        if (match.record.flags & kSSLexKeyword) {
            keywordLookup(*lexeme, match.record.keywordIndex, *consumer);
        }
        ++tokens;
        return lexeme.release();
    }
}

void SSLex::ChangeLists(const SSLexStateRecord& record) {
    const u32 popPush = kSSLexPop | kSSLexPush;
    if ((record.flags & popPush) == popPush) {
        setExpressionList(record.list);
    } else if (record.flags & kSSLexPop) {
        popExpressionList();
    } else if (record.flags & kSSLexPush) {
        pushExpressionList(record.list);
    }
}

SSLexLexeme* SSLex::invalidToken(SSLexConsumer& in) {
    const std::string text(reinterpret_cast<const char*>(in.lexemeText()), in.lexemeLength());
    ssError(kSSLexInvalidToken, kSSLexInvalidTokenMsg, long(in.markPosition().line),
            long(in.markPosition().column), text.c_str());
    return nullptr;
}

void SSLex::skip(SSLexConsumer& in, i32) { in.setMark(); }

SSLexLexeme* SSLex::makeLexeme(SSLexConsumer& in, i32 token) {
    const SSLexConsumer::Position& mark = in.markPosition();
    SSLexLexeme* lexeme = SSLexLexeme::create(token, in.lexemeText(), in.lexemeLength(),
                                              {mark.line, mark.column, mark.at},
                                              in.charType() == SSLexConsumer::kWide);
    in.setMark();
    return lexeme;
}

void SSLex::keywordLookup(SSLexLexeme& lexeme, u32 index, SSLexConsumer&) {
    const SSLexKeywordTable* keywords = table->keywordTable(index);
    if (!keywords) {
        ssError(kSSLexKeywordIndex, kSSLexKeywordIndexMsg, long(index));
        return;
    }
    size_t low = 0, high = keywords->entries.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        const SSLexKeyword& entry = keywords->entries[middle];
        const int order = CompareKeyword(lexeme, entry);
        if (order == 0) {
            lexeme.setToken(entry.token);
            lexeme.setValue(entry.value);
            return;
        }
        if (order < 0) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
}
