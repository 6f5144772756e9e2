// Small utilities of the base library: path separators, wildcard matching, line texts, tokens,
// numbers, picture formatting, the application type and name, and the local-time seam.
#pragma once
#include "lib_base/stringz.h"
#include "lib_base/types.h"

// Lower-cases the path first when lower is set, then turns every '/' into '\\'.
void ConvertPathSeparators(tString& path, bool lower);
void ConvertPathSeparators(char* path, bool lower);  // a null path is ignored

// Upper-cases the string when upper is set; otherwise leaves it alone.
void UpperIf(tString& text, bool upper);
void UpperIf(char* text, bool upper);  // a null text is ignored

// Matches the text from textPos against the pattern from patternPos, letters in either case.
// '*' stands for any run of characters, '?' for exactly one. An empty pattern matches any text.
// endPos (may be null) receives the text position where the match ended: the end of the text, or
// where a final '*' or an empty pattern began. A null text or pattern counts as empty; a
// position outside its text gives false. Runs in time proportional to text times pattern.
bool WildcardMatchFrom(const char* text, i32 textPos, const char* pattern, i32 patternPos,
                       i32* endPos);
bool WildcardMatch(const char* text, const char* pattern);
