// Text utilities: path separators, case, wildcard matching.
#include <cctype>
#include <cstring>

#include "lib_base/misc.h"

namespace {

char UpperChar(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

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
