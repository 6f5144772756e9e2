// What a filter translation needs of the table file it translates for: the table's definition,
// the dialect's forms of containment, substring and function calls, and its literal writer.
#pragma once
#include "lib_base/stringz.h"
#include "lib_base/types.h"

class tFilterElement;
class tTableDefinition;

// Implemented by the table file; the translation only points to it, for the length of the call
// that sets the filter, on that call's thread.
class tFilterOwner {
public:
    // The definition of the filtered table; owned by the file.
    virtual tTableDefinition* GetFilterTable() const = 0;
    // The dialect's hooks: each appends its SQL to out and answers true, or answers false with
    // nothing appended, which leaves the construct to the translation's fallback.
    virtual bool ContainsExpr(tString& out, tFilterElement& left, tFilterElement& right) = 0;
    virtual bool SubstrFunc(tString& out, tFilterElement& text, tFilterElement& start,
                            tFilterElement* length) = 0;
    virtual bool MapFunction(tString& name, tFilterElement* argument, tString& replacement,
                             tString& suffix) = 0;
    // Appends length characters of text as the dialect writes them in SQL; with quote, as one
    // literal that no character of text can end.
    virtual void WriteLiteral(tString& out, const char* text, i32 length, i32 width, bool pad,
                              bool quote, bool charFunctions) = 0;

protected:
    ~tFilterOwner() = default;  // never deleted through this interface
};
