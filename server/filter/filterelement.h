// The operand of a filter being translated, as the dialects see it: a node of the translation's
// tree that writes its own SQL and tells afterwards whether it could. The ISAM file's filter hooks
// receive these nodes; the filter translation builds and owns the tree.
#pragma once
#include "lib_base/stringz.h"

class tField;

// A node of a translated filter. Owned by the tree that the filter translation builds; used by
// the translating thread only, within the call that sets the filter.
class tFilterElement {
public:
    tFilterElement() = default;
    tFilterElement(const tFilterElement&) = delete;
    tFilterElement& operator=(const tFilterElement&) = delete;
    virtual ~tFilterElement() = default;

    // Appends this node's SQL to out; IsTranslated then tells whether it has an SQL form. The
    // base appends nothing.
    virtual void EmitSQL(tString&) {}
    virtual bool IsFunction() const { return false; }  // a function call
    virtual bool IsConstant() const { return false; }  // a number or a quoted text
    // The field of the filtered table that this node stands for, or null (the table owns it).
    virtual tField* FindField() const { return nullptr; }
    virtual tString GetText() const { return tString(); }  // the node's literal text

    bool IsTranslated() const { return translated; }
    // EmitSQL, then whether the node has an SQL form.
    bool AppendSQL(tString& out) {
        EmitSQL(out);
        return translated;
    }

protected:
    void SetTranslated(bool on) { translated = on; }

private:
    bool translated = true;
};
