// The operand of a filter being translated, as the dialects see it: a node of the translation's
// tree that writes its own SQL and tells afterwards whether it could. The table file's filter
// hooks receive these nodes; the filter translation builds and owns the tree.
#pragma once
#include "lib_base/gmlalloc.h"
#include "lib_base/stringz.h"

class tField;
class tFilterOwner;
class tRelationRef;

// A node of a translated filter. Every node owns its children; the parser owns the tree. Used
// by the translating thread only, within the call that sets the filter.
class tFilterElement {
public:
    explicit tFilterElement(tFilterOwner& owner) : owner(owner) {}
    tFilterElement(const tFilterElement&) = delete;
    tFilterElement& operator=(const tFilterElement&) = delete;
    virtual ~tFilterElement() = default;

    // Appends this node's SQL to out; IsTranslated then tells whether it has an SQL form. The
    // base appends nothing.
    virtual void EmitSQL(tString&) {}
    // Adds the range relations below this node to list, for pairing.
    virtual void CollectRelations(tRelationRef&) {}
    virtual bool IsTranslatable() const { return true; }  // can have an SQL form at all
    virtual bool IsFunction() const { return false; }     // a function call
    virtual bool IsContains() const { return false; }     // the containment operator
    virtual bool IsGE() const { return false; }           // greater-or-equal
    virtual bool IsLE() const { return false; }           // less-or-equal
    virtual bool IsConstant() const { return false; }     // a number or a quoted text
    // Appends the always-true term "F=F" over the table's first field F and clears the
    // translated flag: the condition stays valid and selects at least what the filter selects.
    virtual void EmitFallback(tString& out);
    // The field of the filtered table that this node stands for, or null (the table owns it).
    virtual tField* FindField() const { return nullptr; }
    virtual tString GetText() const { return tString(); }  // the node's literal text

    bool IsTranslated() const { return translated; }
    // EmitSQL, then whether the node has an SQL form.
    bool AppendSQL(tString& out) {
        EmitSQL(out);
        return translated;
    }
    void SetRangePaired() { paired = true; }

    GML_CLASS_ALLOCATOR(tFilterElement, Mem_FilterNode)

protected:
    void SetTranslated(bool on) { translated = on; }
    // Sets the translated flag; appends work when it is set, the fallback term otherwise.
    void AppendOrFallback(tString& out, const tString& work, bool translatedWork);
    bool IsRangePaired() const { return paired; }
    tFilterOwner& GetOwner() const { return owner; }

private:
    tFilterOwner& owner;  // the file being filtered
    bool paired = false;  // a range operator that range pairing turned into an equality
    bool translated = true;
};

// A construct without an SQL form: it always emits the fallback term.
class tNotSupported : public tFilterElement {
public:
    using tFilterElement::tFilterElement;
    void EmitSQL(tString& out) override { EmitFallback(out); }
    bool IsTranslatable() const override { return false; }
};
