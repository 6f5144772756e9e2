// The node classes of a translated filter, one per construct of the filter language, each with
// the SQL it emits. A construct without an SQL form emits the fallback term and clears its
// translated flag, which rises through its parents to the root.
#pragma once
#include <memory>

#include "server/filter/filterelement.h"

using tFilterNodePtr = std::unique_ptr<tFilterElement>;

// The root: the whole expression. Collecting relations also pairs them.
class tFLTMain : public tFilterElement {
public:
    tFLTMain(tFilterOwner& owner, tFilterNodePtr expression);
    void EmitSQL(tString& out) override;
    void CollectRelations(tRelationRef& list) override;

private:
    tFilterNodePtr expression;
};

// "left OR right" and "left AND right", without parentheses. Lists group to the right, so a
// list of n terms is a chain n nodes long down the right side: emission, collection and
// destruction walk that chain in a loop, and recurse only into the left sides.
class tFLTLogic : public tFilterElement {
public:
    ~tFLTLogic() override;
    void EmitSQL(tString& out) override;
    void CollectRelations(tRelationRef& list) override;

protected:
    tFLTLogic(tFilterOwner& owner, tFilterNodePtr left, tFilterNodePtr right, const char* joiner,
              bool conjunction);

private:
    tFilterNodePtr left;
    tFilterNodePtr right;
    const char* joiner;  // " OR " or " AND "
    bool conjunction;    // an AND, whose terms may pair; nothing below an OR is collected
};

class tFLTOr : public tFLTLogic {
public:
    tFLTOr(tFilterOwner& owner, tFilterNodePtr left, tFilterNodePtr right);
};

class tFLTAnd : public tFLTLogic {
public:
    tFLTAnd(tFilterOwner& owner, tFilterNodePtr left, tFilterNodePtr right);
};

// left operator right; containment goes to the dialect's hook.
class tFLTRelation : public tFilterElement {
public:
    tFLTRelation(tFilterOwner& owner, tFilterNodePtr left, tFilterNodePtr op, tFilterNodePtr right);
    void EmitSQL(tString& out) override;
    void CollectRelations(tRelationRef& list) override;
    bool IsTranslatable() const override;

private:
    tFilterNodePtr left;
    tFilterNodePtr op;
    tFilterNodePtr right;
};

// " NOT ( expression )".
class tFLTLogicalNot : public tFilterElement {
public:
    tFLTLogicalNot(tFilterOwner& owner, tFilterNodePtr expression);
    void EmitSQL(tString& out) override;
    bool IsTranslatable() const override { return expression->IsTranslatable(); }
    bool IsFunction() const override { return expression->IsFunction(); }

private:
    tFilterNodePtr expression;
};

// A fixed text: the comparison operators, the unary minus, and (empty) the unary plus and the
// arithmetic operators.
class tFLTOperator : public tFilterElement {
public:
    tFLTOperator(tFilterOwner& owner, const char* sql) : tFilterElement(owner), sql(sql) {}
    void EmitSQL(tString& out) override { out += sql; }

private:
    const char* sql;
};

class tFLTEQ : public tFLTOperator {
public:
    explicit tFLTEQ(tFilterOwner& owner) : tFLTOperator(owner, " = ") {}
};

class tFLTNE : public tFLTOperator {
public:
    explicit tFLTNE(tFilterOwner& owner) : tFLTOperator(owner, " <> ") {}
};

class tFLTLT : public tFLTOperator {
public:
    explicit tFLTLT(tFilterOwner& owner) : tFLTOperator(owner, " < ") {}
};

class tFLTGT : public tFLTOperator {
public:
    explicit tFLTGT(tFilterOwner& owner) : tFLTOperator(owner, " > ") {}
};

// " <= ", or " = " once paired with a " >= " on the same operand and constant.
class tFLTLE : public tFilterElement {
public:
    explicit tFLTLE(tFilterOwner& owner) : tFilterElement(owner) {}
    void EmitSQL(tString& out) override { out += IsRangePaired() ? " = " : " <= "; }
    bool IsLE() const override { return true; }
};

class tFLTGE : public tFilterElement {
public:
    explicit tFLTGE(tFilterOwner& owner) : tFilterElement(owner) {}
    void EmitSQL(tString& out) override { out += IsRangePaired() ? " = " : " >= "; }
    bool IsGE() const override { return true; }
};

// Containment: emits nothing; the relation asks the dialect.
class tFLTCT : public tFilterElement {
public:
    explicit tFLTCT(tFilterOwner& owner) : tFilterElement(owner) {}
    bool IsContains() const override { return true; }
};

class tFLTSignMinus : public tFLTOperator {
public:
    explicit tFLTSignMinus(tFilterOwner& owner) : tFLTOperator(owner, " - ") {}
};

class tFLTDummy : public tFLTOperator {
public:
    explicit tFLTDummy(tFilterOwner& owner) : tFLTOperator(owner, "") {}
};

// A signed operand.
class tFLTSignOper : public tFilterElement {
public:
    tFLTSignOper(tFilterOwner& owner, tFilterNodePtr sign, tFilterNodePtr operand);
    void EmitSQL(tString& out) override;

private:
    tFilterNodePtr sign;
    tFilterNodePtr operand;
};

// Arithmetic and concatenation, which have no SQL form here.
class tFLTMathOp : public tNotSupported {
public:
    tFLTMathOp(tFilterOwner& owner, tFilterNodePtr left, tFilterNodePtr op, tFilterNodePtr right,
               tFilterNodePtr sign);

private:
    tFilterNodePtr left;
    tFilterNodePtr op;
    tFilterNodePtr right;
    tFilterNodePtr sign;  // of the right operand, or null
};

// A number written as it was: "12", "12.5", and ".5" as integer part "0" with fraction "5".
class tFLTNumber : public tFilterElement {
public:
    tFLTNumber(tFilterOwner& owner, const char* text) : tFilterElement(owner), text(text) {}
    void EmitSQL(tString& out) override { out += text; }
    bool IsConstant() const override { return true; }
    tString GetText() const override { return text; }

protected:
    tString text;
};

class tFLTReal : public tFLTNumber {
public:
    tFLTReal(tFilterOwner& owner, const char* integer, const char* fraction);
};

// A quoted text, written as one literal of the owner's dialect.
class tFLTString : public tFilterElement {
public:
    tFLTString(tFilterOwner& owner, const char* text) : tFilterElement(owner), text(text) {}
    void EmitSQL(tString& out) override;
    bool IsConstant() const override { return true; }
    tString GetText() const override { return text; }

private:
    tString text;  // without its quotes
};

// A name: a field of the table, or whatever the database makes of it.
class tFLTIdent : public tFilterElement {
public:
    tFLTIdent(tFilterOwner& owner, const char* name) : tFilterElement(owner), name(name) {}
    void EmitSQL(tString& out) override { out += name; }
    tField* FindField() const override;
    tString GetText() const override { return name; }

private:
    tString name;
};

// "( expression )".
class tFLTNested : public tFilterElement {
public:
    tFLTNested(tFilterOwner& owner, tFilterNodePtr expression);
    void EmitSQL(tString& out) override;
    void CollectRelations(tRelationRef& list) override { expression->CollectRelations(list); }
    bool IsTranslatable() const override { return expression->IsTranslatable(); }
    bool IsFunction() const override { return expression->IsFunction(); }
    tField* FindField() const override { return expression->FindField(); }

private:
    tFilterNodePtr expression;
};

// A substring: string from start, length characters or (null) to the end; the dialect says how.
class tFLTSubs : public tFilterElement {
public:
    tFLTSubs(tFilterOwner& owner, tFilterNodePtr string, tFilterNodePtr start,
             tFilterNodePtr length);
    void EmitSQL(tString& out) override;

private:
    tFilterNodePtr string;
    tFilterNodePtr start;
    tFilterNodePtr length;
};

// A call of a named function with an argument list (or none), if the dialect has that function.
class tFLTFunction : public tFilterElement {
public:
    tFLTFunction(tFilterOwner& owner, const char* name, tFilterNodePtr arguments);
    void EmitSQL(tString& out) override;
    bool IsTranslatable() const override { return !arguments || arguments->IsTranslatable(); }
    bool IsFunction() const override { return true; }

private:
    tString name;
    tFilterNodePtr arguments;  // the outermost element of the list, or null
};

// One element of an argument list, built left-nested: for a, b, c the list is
// ((a, none), b), c, so the first argument is reached down the expression side.
class tFLTParam : public tFilterElement {
public:
    tFLTParam(tFilterOwner& owner, tFilterNodePtr expression, tFilterNodePtr next);
    void EmitSQL(tString& out) override;
    bool IsTranslatable() const override;
    bool IsFunction() const override { return expression->IsFunction(); }
    tField* FindField() const override { return expression->FindField(); }

private:
    tFilterNodePtr expression;
    tFilterNodePtr next;  // or null
};

// An empty argument ("f(a,)", "f(,a)"): the call has no SQL form.
class tFLTEmptyArg : public tNotSupported {
public:
    using tNotSupported::tNotSupported;
};
