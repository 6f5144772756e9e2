// The filter language's token names and the reduce action that builds the node tree, one
// production at a time; the production numbers are those of tools/filter.grammar.
#include "server/filter/filterparser.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

#include "server/filter/filterrelations.h"

namespace {

struct tTokenName {
    i32 token;
    const char* name;
};

constexpr tTokenName kTokenNames[] = {
    {-2, "%error"}, {-1, "eof"},  {52, "NullStr"}, {55, "*EQ"},      {56, "*GT"},
    {57, "*LT"},    {58, "*GE"},  {59, "*LE"},     {60, "*NE"},      {61, "*AND"},
    {62, "*OR"},    {63, "*NOT"}, {64, "*CT"},     {65, "%NONNULL"}, {66, "DTOS"},
    {67, "SST"},    {68, "("},    {69, ")"},       {70, "{"},        {71, "}"},
    {72, "["},      {73, "]"},    {74, "fract"},   {75, "number"},   {76, "identName"},
    {77, "+"},      {78, "*CAT"}, {79, "-"},       {80, "/"},        {81, "*"},
    {82, "%"},      {83, "**"},   {84, ","},       {85, "STRING"},
};

u32 Deeper(std::initializer_list<u32> depths) { return std::max(depths) + 1; }

}  // namespace

const char* filterLexClass::tokenName(i32 token) {
    for (const tTokenName& entry : kTokenNames) {
        if (entry.token == token) return entry.name;
    }
    return "SSLexTokenNotFound";
}

filterYaccClass::filterYaccClass(SSLex& lexer, SSYaccTable& table, tFilterOwner& owner)
    : SSYacc(lexer, table), owner(owner) {}

filterYaccClass::~filterYaccClass() = default;

void filterYaccClass::EmitSQL(tString& out) {
    {
        tRelationRef relations;  // the entries point into the tree and own nothing of it
        root->CollectRelations(relations);
    }
    fullyTranslated = root->AppendSQL(out);
}

SSYaccStackElement* filterYaccClass::newStackElement() {
    return ssNewStackElement<filterYaccStackElement>();
}

filterYaccStackElement* filterYaccClass::Element(i32 index) {
    // Every element of this parser's stack is made by newStackElement.
    return static_cast<filterYaccStackElement*>(elementFromProduction(index));
}

tFilterNodePtr filterYaccClass::Take(i32 index) {
    filterYaccStackElement* element = Element(index);
    return element ? std::move(element->node) : nullptr;
}

const char* filterYaccClass::Text(i32 index) {
    filterYaccStackElement* element = Element(index);
    return element && element->lexeme() ? element->lexeme()->asChar() : "";
}

u32 filterYaccClass::Depth(i32 index) {
    filterYaccStackElement* element = Element(index);
    return element ? element->depth : 0;
}

SSYaccStackElement* filterYaccClass::reduce(u32 production, u32) {
    tBuilt built;
    const bool made = BuildExpression(production, built) || BuildOperator(production, built) ||
                      BuildTerm(production, built) || BuildCall(production, built);
    if (made && built.depth > kFilterMaxDepth) return nullptr;
    filterYaccStackElement* element = ssNewStackElement<filterYaccStackElement>();
    element->node = std::move(built.node);
    element->depth = built.depth;
    return element;
}

bool filterYaccClass::BuildExpression(u32 production, tBuilt& built) {
    switch (production) {
        case 1:
            root = std::make_unique<tFLTMain>(owner, Take(0));
            return true;
        case 2:
        case 3: {
            // The list goes on down the right side at no cost: only its left terms nest.
            built.depth = std::max(Depth(0) + 1, Depth(2));
            tFilterNodePtr left = Take(0);
            tFilterNodePtr right = Take(2);
            if (production == 2) {
                built.node = std::make_unique<tFLTOr>(owner, std::move(left), std::move(right));
            } else {
                built.node = std::make_unique<tFLTAnd>(owner, std::move(left), std::move(right));
            }
            return true;
        }
        case 5:
            built.depth = Deeper({Depth(0), Depth(2)});
            built.node = std::make_unique<tFLTRelation>(owner, Take(0), Take(1), Take(2));
            return true;
        case 6:
            built.depth = Depth(1) + 1;
            built.node = std::make_unique<tFLTLogicalNot>(owner, Take(1));
            return true;
        case 15:
            built.depth = Depth(1) + 1;
            built.node = std::make_unique<tFLTSignOper>(owner, Take(0), Take(1));
            return true;
        case 16:
        case 23:
            built.depth = Deeper({Depth(0), Depth(2)});
            built.node = std::make_unique<tFLTMathOp>(owner, Take(0), Take(1), Take(2), nullptr);
            return true;
        case 24:
            built.depth = Deeper({Depth(0), Depth(3)});
            built.node = std::make_unique<tFLTMathOp>(owner, Take(0), Take(1), Take(3), Take(2));
            return true;
        case 43:
            built.depth = Depth(1) + 1;
            built.node = std::make_unique<tFLTNested>(owner, Take(1));
            return true;
        default:
            return false;
    }
}

bool filterYaccClass::BuildOperator(u32 production, tBuilt& built) {
    switch (production) {
        case 7:
            built.node = std::make_unique<tFLTEQ>(owner);
            return true;
        case 8:
            built.node = std::make_unique<tFLTNE>(owner);
            return true;
        case 9:
            built.node = std::make_unique<tFLTLT>(owner);
            return true;
        case 10:
            built.node = std::make_unique<tFLTLE>(owner);
            return true;
        case 11:
            built.node = std::make_unique<tFLTGT>(owner);
            return true;
        case 12:
            built.node = std::make_unique<tFLTGE>(owner);
            return true;
        case 13:
            built.node = std::make_unique<tFLTCT>(owner);
            return true;
        case 21:
            built.node = std::make_unique<tFLTSignMinus>(owner);
            return true;
        case 17:
        case 18:
        case 19:
        case 20:
        case 25:
        case 26:
        case 27:
        case 28:
            built.node = std::make_unique<tFLTDummy>(owner);
            return true;
        default:
            return false;
    }
}

bool filterYaccClass::BuildTerm(u32 production, tBuilt& built) {
    switch (production) {
        case 4:  // the productions that pass their one symbol's node on
        case 14:
        case 22:
        case 34:
        case 35:
        case 36:
        case 41:
        case 42:
        case 48:
            built.depth = Depth(0);
            built.node = Take(0);
            return true;
        case 29:  // ".5": the digits behind the point
            built.node = std::make_unique<tFLTReal>(owner, "0", Text(0) + 1);
            return true;
        case 30:
            built.node = std::make_unique<tFLTNumber>(owner, Text(0));
            return true;
        case 31:
            built.node = std::make_unique<tFLTString>(owner, Text(0));
            return true;
        case 32:
            built.node = std::make_unique<tFLTString>(owner, "");
            return true;
        case 33:
            built.node = std::make_unique<tFLTIdent>(owner, Text(0));
            return true;
        case 37:  // %NONNULL(text default): the text alone
            Take(3);
            built.node = std::make_unique<tFLTString>(owner, Text(2));
            return true;
        case 38:
            built.depth = Depth(2);
            built.node = Take(2);
            return true;
        case 39:
        case 40: {
            built.depth = Deeper({Depth(2), Depth(3), production == 39 ? Depth(4) : 0});
            tFilterNodePtr length = production == 39 ? Take(4) : nullptr;
            built.node = std::make_unique<tFLTSubs>(owner, Take(2), Take(3), std::move(length));
            return true;
        }
        default:
            return false;
    }
}

bool filterYaccClass::BuildCall(u32 production, tBuilt& built) {
    switch (production) {
        case 44:
            built.depth = Depth(2) + 1;
            built.node = std::make_unique<tFLTFunction>(owner, Text(0), Take(2));
            return true;
        case 45:
            built.node = std::make_unique<tFLTFunction>(owner, Text(0), nullptr);
            return true;
        case 46:
        case 47: {
            // An empty argument gets a node of its own, which makes the call untranslatable.
            const i32 last = production == 46 ? 0 : 2;
            built.depth = Deeper({Depth(0), Depth(last)});
            tFilterNodePtr argument = Take(last);
            if (!argument) argument = std::make_unique<tFLTEmptyArg>(owner);
            if (production == 46) {
                built.node = std::make_unique<tFLTParam>(owner, std::move(argument), nullptr);
            } else {
                built.node = std::make_unique<tFLTParam>(owner, Take(0), std::move(argument));
            }
            return true;
        }
        default:
            return false;  // 49, an empty argument, has no node
    }
}
