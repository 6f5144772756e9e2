// Range pairing over the relation list.
#include "server/filter/filterrelations.h"

#include <strings.h>

#include <cstring>
#include <vector>

#include "server/filter/filterelement.h"

tRelationRef::~tRelationRef() {
    tRelationRef* entry = next;
    while (entry) {
        tRelationRef* after = entry->next;
        entry->next = nullptr;
        delete entry;
        entry = after;
    }
}

void tRelationRef::Add(tFilterElement& leftNode, tFilterElement& opNode,
                       tFilterElement& rightNode) {
    tRelationRef* entry = this;
    if (op) {
        while (entry->next) entry = entry->next;
        entry->next = new tRelationRef;
        entry = entry->next;
    }
    entry->left = &leftNode;
    entry->op = &opNode;
    entry->right = &rightNode;
}

namespace {

struct tRangeTerm {
    tString left;
    tString right;
    bool leftConstant;
    tFilterElement* op;
};

bool IsSameOperand(const tRangeTerm& a, const tRangeTerm& b) {
    // An empty text is no operand of its own: two different calls both have the empty text.
    if (a.left.GetLength() == 0 || b.left.GetLength() == 0) return false;
    if (a.leftConstant != b.leftConstant) return false;
    if (a.leftConstant) return std::strcmp(a.left, b.left) == 0;
    return strcasecmp(a.left, b.left) == 0;  // names are matched whatever their letter case
}

}  // namespace

void PairRangeRelations(tRelationRef& first) {
    if (!first.left) return;
    std::vector<tRangeTerm> terms;
    for (tRelationRef* entry = &first; entry; entry = entry->next) {
        terms.push_back({entry->left->GetText(), entry->right->GetText(), entry->left->IsConstant(),
                         entry->op});
    }
    for (const tRangeTerm& a : terms) {
        for (const tRangeTerm& b : terms) {
            if (!IsSameOperand(a, b) || std::strcmp(a.right, b.right) != 0) continue;
            if ((a.op->IsGE() && b.op->IsLE()) || (a.op->IsLE() && b.op->IsGE())) {
                a.op->SetRangePaired();
            }
        }
    }
}
