// The SQL of the filter's nodes, the fallback term, and the walks over AND and OR lists.
#include "server/filter/filternodes.h"

#include <utility>
#include <vector>

#include "server/filter/filterowner.h"
#include "server/filter/filterrelations.h"
#include "server/tables/dbtable.h"

void tFilterElement::EmitFallback(tString& out) {
    const char* first = GetOwner().GetFilterTable()->GetField(0)->GetName();
    out += first;
    out += "=";
    out += first;
    SetTranslated(false);
}

void tFilterElement::AppendOrFallback(tString& out, const tString& work, bool translatedWork) {
    SetTranslated(translatedWork);
    if (translatedWork) {
        out += work;
    } else {
        EmitFallback(out);
    }
}

tFLTMain::tFLTMain(tFilterOwner& owner, tFilterNodePtr expression)
    : tFilterElement(owner), expression(std::move(expression)) {}

void tFLTMain::EmitSQL(tString& out) { SetTranslated(expression->AppendSQL(out)); }

void tFLTMain::CollectRelations(tRelationRef& list) {
    expression->CollectRelations(list);
    PairRangeRelations(list);
}

tFLTLogic::tFLTLogic(tFilterOwner& owner, tFilterNodePtr left, tFilterNodePtr right,
                     const char* joiner, bool conjunction)
    : tFilterElement(owner),
      left(std::move(left)),
      right(std::move(right)),
      joiner(joiner),
      conjunction(conjunction) {}

tFLTLogic::~tFLTLogic() {
    // Each list node down the right side is unhooked before it goes, so no destructor recurses
    // along the list.
    tFilterNodePtr rest = std::move(right);
    while (auto* logic = dynamic_cast<tFLTLogic*>(rest.get())) {
        tFilterNodePtr after = std::move(logic->right);
        rest = std::move(after);
    }
}

void tFLTLogic::EmitSQL(tString& out) {
    std::vector<tFLTLogic*> chain;
    tFilterElement* node = this;
    while (auto* logic = dynamic_cast<tFLTLogic*>(node)) {
        chain.push_back(logic);
        logic->left->EmitSQL(out);
        out += logic->joiner;
        node = logic->right.get();
    }
    node->EmitSQL(out);
    // Each list node is translated when its left side and everything right of it are.
    bool translated = node->IsTranslated();
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        translated = translated && (*it)->left->IsTranslated();
        (*it)->SetTranslated(translated);
    }
}

void tFLTLogic::CollectRelations(tRelationRef& list) {
    tFilterElement* node = this;
    while (auto* logic = dynamic_cast<tFLTLogic*>(node)) {
        if (!logic->conjunction) return;
        logic->left->CollectRelations(list);
        node = logic->right.get();
    }
    node->CollectRelations(list);
}

tFLTOr::tFLTOr(tFilterOwner& owner, tFilterNodePtr left, tFilterNodePtr right)
    : tFLTLogic(owner, std::move(left), std::move(right), " OR ", false) {}

tFLTAnd::tFLTAnd(tFilterOwner& owner, tFilterNodePtr left, tFilterNodePtr right)
    : tFLTLogic(owner, std::move(left), std::move(right), " AND ", true) {}

tFLTRelation::tFLTRelation(tFilterOwner& owner, tFilterNodePtr left, tFilterNodePtr op,
                           tFilterNodePtr right)
    : tFilterElement(owner), left(std::move(left)), op(std::move(op)), right(std::move(right)) {}

bool tFLTRelation::IsTranslatable() const {
    return left->IsTranslatable() && right->IsTranslatable();
}

void tFLTRelation::EmitSQL(tString& out) {
    if (!IsTranslatable()) {
        EmitFallback(out);
        return;
    }
    if (op->IsContains()) {
        const bool contained = GetOwner().ContainsExpr(out, *left, *right);
        SetTranslated(contained);
        if (!contained) EmitFallback(out);
        return;
    }
    tString work;
    bool translated = left->AppendSQL(work);
    if (translated) translated = op->AppendSQL(work);
    if (translated) translated = right->AppendSQL(work);
    AppendOrFallback(out, work, translated);
}

// Only a term of the top AND list is a candidate: a relation inside another relation's operand
// is not one of the conditions that all hold together, so its operands are not searched.
void tFLTRelation::CollectRelations(tRelationRef& list) {
    if ((op->IsGE() || op->IsLE()) && right->IsConstant()) list.Add(*left, *op, *right);
}

tFLTLogicalNot::tFLTLogicalNot(tFilterOwner& owner, tFilterNodePtr expression)
    : tFilterElement(owner), expression(std::move(expression)) {}

void tFLTLogicalNot::EmitSQL(tString& out) {
    tString work;
    bool translated = expression->IsTranslatable();
    if (translated) {
        work += " NOT ( ";
        translated = expression->AppendSQL(work);
        work += " )";
    }
    AppendOrFallback(out, work, translated);
}

tFLTSignOper::tFLTSignOper(tFilterOwner& owner, tFilterNodePtr sign, tFilterNodePtr operand)
    : tFilterElement(owner), sign(std::move(sign)), operand(std::move(operand)) {}

void tFLTSignOper::EmitSQL(tString& out) {
    if (!operand->IsTranslatable()) {
        EmitFallback(out);
        return;
    }
    sign->EmitSQL(out);
    SetTranslated(operand->AppendSQL(out));
}

tFLTMathOp::tFLTMathOp(tFilterOwner& owner, tFilterNodePtr left, tFilterNodePtr op,
                       tFilterNodePtr right, tFilterNodePtr sign)
    : tNotSupported(owner),
      left(std::move(left)),
      op(std::move(op)),
      right(std::move(right)),
      sign(std::move(sign)) {}

tFLTReal::tFLTReal(tFilterOwner& owner, const char* integer, const char* fraction)
    : tFLTNumber(owner, integer) {
    text += ".";
    text += fraction;
}

void tFLTString::EmitSQL(tString& out) {
    GetOwner().WriteLiteral(out, text, text.GetLength(), text.GetLength(), false, true, true);
}

tField* tFLTIdent::FindField() const { return GetOwner().GetFilterTable()->FindField(name); }

tFLTNested::tFLTNested(tFilterOwner& owner, tFilterNodePtr expression)
    : tFilterElement(owner), expression(std::move(expression)) {}

void tFLTNested::EmitSQL(tString& out) {
    if (!expression->IsTranslatable()) {
        EmitFallback(out);
        return;
    }
    out += "( ";
    SetTranslated(expression->AppendSQL(out));
    out += " )";
}
