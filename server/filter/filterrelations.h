// The relation list of range pairing: the relations "operand >= constant" and "operand <=
// constant" found among the terms of the filter's top AND list, and the pass that turns a
// matching pair of them into two equality tests.
#pragma once

class tFilterElement;

// One entry: a relation's left operand, operator node and right operand (the tree owns them)
// and the next entry, owned. The head entry exists before the first relation is found; an entry
// without an operator is empty.
class tRelationRef {
public:
    tRelationRef() = default;
    tRelationRef(const tRelationRef&) = delete;
    tRelationRef& operator=(const tRelationRef&) = delete;
    ~tRelationRef();  // deletes the rest of the list, without recursing

    // Stores the relation in the head when it is empty, else in a new entry at the end.
    void Add(tFilterElement& left, tFilterElement& op, tFilterElement& right);

    tFilterElement* left = nullptr;
    tFilterElement* op = nullptr;
    tFilterElement* right = nullptr;
    tRelationRef* next = nullptr;
};

// Marks as paired both operators of every two entries with opposite range operators, equal
// constants (byte for byte) and the same left operand: two names equal but for letter case, or
// two equal constants. Left operands without a text of their own (calls, parenthesised or
// arithmetic operands) never pair.
void PairRangeRelations(tRelationRef& first);
