// Text utilities: path separators and joined paths, case, wildcard matching, line texts,
// tokens, leading integers and address texts.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "lib_base/misc.h"

namespace {

char UpperChar(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

constexpr size_t kMaxJoinedPath = 260;
constexpr i64 kI32Limit = 0x100000000LL;  // past it, more digits cannot change the clamped value

bool IsLineEndChar(char c) { return c == '\r' || c == '\n'; }

// A token of a text: where it starts and how many characters it has.
struct tTokenSpan {
    const char* start = nullptr;
    size_t length = 0;
};

// The next token at or after text; false when only delimiters remain.
bool NextToken(const char* text, const char* delimiters, tTokenSpan& span) {
    text += std::strspn(text, delimiters);
    if (!*text) return false;
    span.start = text;
    span.length = std::strcspn(text, delimiters);
    return true;
}

bool FindToken(const char* text, const char* delimiters, i32 index, tTokenSpan& span) {
    if (!text || !delimiters || index < 0) return false;
    for (i32 i = 0; NextToken(text, delimiters, span); ++i) {
        if (i == index) return true;
        text = span.start + span.length;
    }
    return false;
}

void LowerText(char* text) {
    for (; *text; ++text)
        *text = static_cast<char>(std::tolower(static_cast<unsigned char>(*text)));
}

}  // namespace

void ConvertPathSeparators(tString& path, bool lower) {
    if (lower) path.Lower();
    path.ReplaceChar('/', '\\');
}

void ConvertPathSeparators(char* path, bool lower) {
    if (!path) return;
    if (lower) LowerText(path);
    for (char* p = std::strchr(path, '/'); p; p = std::strchr(p + 1, '/')) *p = '\\';
}

void UpperIf(tString& text, bool upper) {
    if (upper) text.Upper();
}

void UpperIf(char* text, bool upper) {
    if (!upper || !text) return;
    for (; *text; ++text) *text = UpperChar(*text);
}

// Backtracking only to the latest '*' gives the same answer and the same end position as trying
// every position for every '*' in turn: once a later '*' is reached, an earlier one never needs
// to take more characters.
bool WildcardMatchFrom(const char* text, i32 textPos, const char* pattern, i32 patternPos,
                       i32* endPos) {
    if (!text) text = "";
    if (!pattern) pattern = "";
    const size_t textLen = std::strlen(text);
    const size_t patternLen = std::strlen(pattern);
    if (textPos < 0 || patternPos < 0 || static_cast<size_t>(textPos) > textLen ||
        static_cast<size_t>(patternPos) > patternLen) {
        return false;
    }
    size_t t = static_cast<size_t>(textPos);
    size_t p = static_cast<size_t>(patternPos);
    if (p == patternLen) {
        if (endPos) *endPos = textPos;
        return true;
    }
    size_t starPattern = 0;  // the pattern position after the latest '*'; 0 while none was met
    size_t starText = 0;     // where the text resumes when that '*' takes one more character
    for (;;) {
        if (p < patternLen && pattern[p] == '*') {
            if (p + 1 == patternLen) {
                if (endPos) *endPos = static_cast<i32>(t);
                return true;
            }
            starPattern = ++p;
            starText = t;
            continue;
        }
        if (p == patternLen && t == textLen) break;
        if (p < patternLen && t < textLen &&
            (pattern[p] == '?' || UpperChar(pattern[p]) == UpperChar(text[t]))) {
            ++p;
            ++t;
            continue;
        }
        if (starPattern == 0 || starText >= textLen) return false;
        p = starPattern;
        t = ++starText;
    }
    if (endPos) *endPos = static_cast<i32>(t);
    return true;
}

bool WildcardMatch(const char* text, const char* pattern) {
    return WildcardMatchFrom(text, 0, pattern, 0, nullptr);
}

i32 LeadingInt(const char* text) {
    if (!text) return 0;
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    i64 value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (value <= kI32Limit) value = value * 10 + (*text - '0');
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<i32>(value);
}

void StripLineEnd(char* text) {
    if (!text) return;
    const size_t len = std::strlen(text);
    if (len >= 1 && IsLineEndChar(text[len - 1])) text[len - 1] = '\0';
    if (len >= 2 && IsLineEndChar(text[len - 2])) text[len - 2] = '\0';
}

bool EndsWithLineEnd(const char* text) {
    if (!text || !*text) return false;
    return IsLineEndChar(text[std::strlen(text) - 1]);
}

void TrimBlanks(char* text) {
    if (!text) return;
    size_t end = std::strlen(text);
    while (end > 0 && text[end - 1] == ' ') --end;
    size_t start = 0;
    while (start < end && text[start] == ' ') ++start;
    std::memmove(text, text + start, end - start);
    text[end - start] = '\0';
}

i32 GetToken(const char* text, const char* delimiters, i32 index, char* out, i32 outSize) {
    if (out && outSize > 0) out[0] = '\0';
    tTokenSpan span;
    if (!FindToken(text, delimiters, index, span)) return 1;
    if (!out || span.length >= static_cast<size_t>(outSize > 0 ? outSize : 0)) return 1;
    std::memcpy(out, span.start, span.length);
    out[span.length] = '\0';
    return 0;
}

i32 GetTokenInt(const char* text, const char* delimiters, i32 index, i32& value) {
    char work[60];
    if (GetToken(text, delimiters, index, work, sizeof work) != 0) return 1;
    value = LeadingInt(work);
    return 0;
}

i32 CountTokens(const char* text, const char* delimiters) {
    if (!text || !delimiters) return 0;
    i32 count = 0;
    for (tTokenSpan span; NextToken(text, delimiters, span); text = span.start + span.length) {
        ++count;
    }
    return count;
}

bool JoinTokensFrom(const char* text, const char* delimiters, i32 first, char* out, i32 outSize) {
    if (out && outSize > 0) out[0] = '\0';
    const size_t room = out && outSize > 0 ? static_cast<size_t>(outSize) : 0;
    size_t used = 0;
    i32 index = first;
    for (tTokenSpan span; FindToken(text, delimiters, index, span); ++index) {
        const size_t blank = index > 1 ? 1 : 0;
        // Tokens that the caller's size cannot hold end the join, as a missing one would.
        if (used + blank + span.length >= room) break;
        if (blank) out[used++] = ' ';
        std::memcpy(out + used, span.start, span.length);
        used += span.length;
        out[used] = '\0';
    }
    return index < 2;
}

char* IpToText(u32 address, char* text) {
    u8 bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    std::snprintf(text, 16, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

char* JoinPath(char* out, const char* first, const char* second, const char* third,
               const char* fourth) {
    tString path(first);
    if (second) {
        path += "\\";
        path += second;
    }
    if (third) {
        path += "\\";
        path += third;
    }
    if (fourth) path += fourth;
    for (i32 i = path.Find("\\\\"); i >= 0; i = path.Find("\\\\", i)) path.Delete(i, 1);
    ConvertPathSeparators(path, true);
    std::strncpy(out, path, kMaxJoinedPath);
    out[kMaxJoinedPath] = '\0';
    return out;
}
