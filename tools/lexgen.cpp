// Builds the lexer table image of the filter language from tools/filter.grammar: each token's
// pattern becomes an automaton fragment, the fragments of an expression list one automaton, and
// that automaton a deterministic one whose states and character ranges fill the image. Writes
// the image as a C++ byte array for the server and as raw bytes for the build's comparison.
//
// Usage: lexgen <grammar> <image.cpp> <image.dfa>
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "imagefile.h"

namespace {

using u32 = std::uint32_t;

constexpr u32 kTag = 0x53534C58;
constexpr u32 kStartMarker = 0xFFFFFFFF;
constexpr u32 kCharMax = 0xFFFF;  // classes and complements cover 0 to this
constexpr u32 kAccept = 0x10, kPop = 0x08, kPush = 0x20, kIgnore = 0x40;
constexpr u32 kImageHeader = 36, kListHeader = 88, kStateRecord = 28;

struct Range {
    u32 lo;
    u32 hi;
};

struct Rule {
    int id = 0;
    std::string pattern;
    bool nocase = false;
    bool ignore = false;
    bool pop = false;
    std::string pushList;
    int line = 0;
};

struct List {
    std::string name;
    std::vector<Rule> rules;
};

[[noreturn]] void Fail(int line, const std::string& why) {
    throw std::runtime_error("line " + std::to_string(line) + ": " + why);
}

// ---- Nondeterministic automaton ----

// A state moves on a set of characters to next, or without input to each of eps; a rule's
// accepting state has no moves.
struct NfaState {
    std::vector<Range> chars;
    int next = -1;
    std::vector<int> eps;
    int rule = -1;  // index of the rule it accepts, by priority
};

struct Fragment {
    int start;
    int end;  // no moves yet
};

class Nfa {
public:
    std::vector<NfaState> states;

    int Add() {
        states.emplace_back();
        return static_cast<int>(states.size()) - 1;
    }
    Fragment Chars(std::vector<Range> chars) {
        const int from = Add(), to = Add();
        states[from].chars = std::move(chars);
        states[from].next = to;
        return {from, to};
    }
    Fragment Empty() {
        const int s = Add();
        return {s, s};
    }
    void Link(int from, int to) { states[from].eps.push_back(to); }
};

// Recursive descent over one pattern.
class PatternParser {
public:
    PatternParser(Nfa& nfa, const Rule& rule) : nfa(nfa), rule(rule), text(rule.pattern) {}

    Fragment Parse() {
        const Fragment whole = Alternatives();
        if (at < text.size()) Fail(rule.line, "unexpected '" + std::string(1, text[at]) + "'");
        return whole;
    }

private:
    bool More() const { return at < text.size(); }

    Fragment Alternatives() {
        Fragment first = Sequence();
        if (!More() || text[at] != '|') return first;
        const int start = nfa.Add(), end = nfa.Add();
        nfa.Link(start, first.start);
        nfa.Link(first.end, end);
        while (More() && text[at] == '|') {
            ++at;
            const Fragment next = Sequence();
            nfa.Link(start, next.start);
            nfa.Link(next.end, end);
        }
        return {start, end};
    }

    Fragment Sequence() {
        Fragment whole = nfa.Empty();
        while (More() && text[at] != '|' && text[at] != ')') {
            const Fragment piece = Repeated();
            nfa.Link(whole.end, piece.start);
            whole.end = piece.end;
        }
        return whole;
    }

    Fragment Repeated() {
        Fragment atom = Atom();
        while (More() && (text[at] == '*' || text[at] == '+' || text[at] == '?')) {
            const char op = text[at++];
            const int start = nfa.Add(), end = nfa.Add();
            nfa.Link(start, atom.start);
            nfa.Link(atom.end, end);
            if (op != '+') nfa.Link(start, end);
            if (op != '?') nfa.Link(atom.end, atom.start);
            atom = {start, end};
        }
        return atom;
    }

    Fragment Atom() {
        const char c = text[at];
        if (c == '(') {
            ++at;
            const Fragment group = Alternatives();
            if (!More() || text[at] != ')') Fail(rule.line, "missing ')'");
            ++at;
            return group;
        }
        if (c == '[') return nfa.Chars(Class());
        if (text.compare(at, 7, "<start>") == 0) {
            at += 7;
            return nfa.Chars({{kStartMarker, kStartMarker}});
        }
        if (c == '*' || c == '+' || c == '?' || c == ']') Fail(rule.line, "misplaced operator");
        return nfa.Chars(CaseForms(Char()));
    }

    std::vector<Range> CaseForms(u32 c) const {
        std::vector<Range> forms{{c, c}};
        if (rule.nocase && c < 128 && std::isalpha(static_cast<int>(c))) {
            const u32 other = std::isupper(static_cast<int>(c)) ? std::tolower(static_cast<int>(c))
                                                                : std::toupper(static_cast<int>(c));
            forms.push_back({other, other});
        }
        return forms;
    }

    // One character, escaped or plain.
    u32 Char() {
        const char c = text[at++];
        if (c != '\\') return static_cast<unsigned char>(c);
        if (!More()) Fail(rule.line, "pattern ends in '\\'");
        const char e = text[at++];
        switch (e) {
            case 't':
                return '\t';
            case 'r':
                return '\r';
            case 'n':
                return '\n';
            case 'x':
                return Hex();
            default:
                return static_cast<unsigned char>(e);
        }
    }

    u32 Hex() {
        const bool braced = More() && text[at] == '{';
        if (braced) ++at;
        const size_t begin = at;
        while (More() && std::isxdigit(static_cast<unsigned char>(text[at])) &&
               (braced || at - begin < 2))
            ++at;
        if (at == begin) Fail(rule.line, "\\x without digits");
        const u32 value = static_cast<u32>(std::stoul(text.substr(begin, at - begin), nullptr, 16));
        if (braced && (!More() || text[at++] != '}')) Fail(rule.line, "missing '}'");
        if (value > kCharMax) Fail(rule.line, "character above 0xFFFF");
        return value;
    }

    std::vector<Range> Class() {
        ++at;  // '['
        const bool negated = More() && text[at] == '^';
        if (negated) ++at;
        std::vector<Range> members;
        while (More() && text[at] != ']') {
            const u32 lo = Char();
            u32 hi = lo;
            if (at + 1 < text.size() && text[at] == '-' && text[at + 1] != ']') {
                ++at;
                hi = Char();
            }
            if (hi < lo) Fail(rule.line, "reversed range");
            members.push_back({lo, hi});
        }
        if (!More()) Fail(rule.line, "missing ']'");
        ++at;
        return negated ? Complement(members) : members;
    }

    static std::vector<Range> Complement(std::vector<Range> members) {
        std::sort(members.begin(), members.end(),
                  [](const Range& a, const Range& b) { return a.lo < b.lo; });
        std::vector<Range> out;
        u32 from = 0;
        for (const Range& r : members) {
            if (r.lo > from) out.push_back({from, r.lo - 1});
            from = std::max(from, r.hi + 1);
        }
        if (from <= kCharMax) out.push_back({from, kCharMax});
        return out;
    }

    Nfa& nfa;
    const Rule& rule;
    const std::string& text;
    size_t at = 0;
};

// ---- Deterministic automaton ----

struct Transition {
    u32 lo;
    u32 hi;
    u32 next;
};

struct DfaState {
    std::vector<int> nfaStates;  // the state's identity
    int rule = -1;
    std::vector<Transition> row;
};

class SubsetBuilder {
public:
    SubsetBuilder(const Nfa& nfa, int start) : nfa(nfa) { Find(Closure({start})); }

    std::vector<DfaState> Build() {
        for (size_t i = 0; i < dfa.size(); ++i) BuildRow(i);
        return std::move(dfa);
    }

private:
    std::vector<int> Closure(std::vector<int> todo) const {
        std::vector<bool> seen(nfa.states.size());
        std::vector<int> out;
        while (!todo.empty()) {
            const int s = todo.back();
            todo.pop_back();
            if (seen[s]) continue;
            seen[s] = true;
            out.push_back(s);
            for (int e : nfa.states[s].eps) todo.push_back(e);
        }
        return out;
    }

    // The state's identity: the automaton states that can still move or accept, less the
    // accepting states of rules that lose to a rule accepting here too (they add nothing).
    int Find(const std::vector<int>& closure) {
        int winner = -1;
        for (int s : closure) {
            const int rule = nfa.states[s].rule;
            if (rule >= 0 && (winner < 0 || rule < winner)) winner = rule;
        }
        std::vector<int> key;
        for (int s : closure) {
            const NfaState& st = nfa.states[s];
            if (!st.chars.empty() || (st.rule >= 0 && st.rule == winner)) key.push_back(s);
        }
        std::sort(key.begin(), key.end());
        const auto found = index.find(key);
        if (found != index.end()) return found->second;
        const int id = static_cast<int>(dfa.size());
        index.emplace(key, id);
        dfa.push_back({key, winner, {}});
        return id;
    }

    void BuildRow(size_t id) {
        const std::vector<int> members = dfa[id].nfaStates;
        std::vector<std::uint64_t> cuts;
        for (int s : members) {
            for (const Range& r : nfa.states[s].chars) {
                cuts.push_back(r.lo);
                cuts.push_back(std::uint64_t(r.hi) + 1);
            }
        }
        std::sort(cuts.begin(), cuts.end());
        cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
        std::vector<Transition> row;
        for (size_t i = 0; i + 1 < cuts.size(); ++i) {
            const u32 lo = static_cast<u32>(cuts[i]);
            const u32 hi = static_cast<u32>(cuts[i + 1] - 1);
            std::vector<int> targets;
            for (int s : members) {
                for (const Range& r : nfa.states[s].chars) {
                    if (r.lo <= lo && hi <= r.hi) targets.push_back(nfa.states[s].next);
                }
            }
            if (targets.empty()) continue;
            const u32 next = static_cast<u32>(Find(Closure(targets)));
            if (!row.empty() && row.back().next == next && row.back().hi + 1 == lo) {
                row.back().hi = hi;
            } else {
                row.push_back({lo, hi, next});
            }
        }
        dfa[id].row = std::move(row);
    }

    const Nfa& nfa;
    std::vector<DfaState> dfa;
    std::map<std::vector<int>, int> index;
};

// ---- Grammar ----

std::vector<List> ReadGrammar(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<List> lists;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::istringstream words(line);
        std::string first;
        if (!(words >> first) || first[0] == '#') continue;
        if (first == "%productions") break;
        if (first == "%list") {
            lists.emplace_back();
            if (!(words >> lists.back().name)) Fail(number, "list without a name");
            continue;
        }
        if (lists.empty()) Fail(number, "token before the first %list");
        Rule rule;
        rule.line = number;
        std::string name;
        try {
            rule.id = std::stoi(first);
        } catch (const std::exception&) {
            Fail(number, "token id expected");
        }
        if (!(words >> name >> rule.pattern)) Fail(number, "name and pattern expected");
        for (std::string action; words >> action;) {
            if (action == "nocase") {
                rule.nocase = true;
            } else if (action == "ignore") {
                rule.ignore = true;
            } else if (action == "pop") {
                rule.pop = true;
            } else if (action != "push" || !(words >> rule.pushList)) {
                Fail(number, "unknown action " + action);
            }
        }
        lists.back().rules.push_back(rule);
    }
    return lists;
}

std::vector<DfaState> BuildAutomaton(const List& list) {
    Nfa nfa;
    const int start = nfa.Add();
    for (size_t i = 0; i < list.rules.size(); ++i) {
        const Fragment f = PatternParser(nfa, list.rules[i]).Parse();
        const int accept = nfa.Add();
        nfa.states[accept].rule = static_cast<int>(i);
        nfa.Link(f.end, accept);
        nfa.Link(start, f.start);
    }
    return SubsetBuilder(nfa, start).Build();
}

// ---- Image ----

void PutList(std::vector<unsigned char>& out, const List& list, const std::vector<DfaState>& dfa,
             const std::vector<List>& lists) {
    const u32 states = static_cast<u32>(dfa.size());
    const u32 rowTable = kListHeader + states * kStateRecord;
    u32 size = rowTable + states * 4;
    for (const DfaState& s : dfa) size += 4 + 12 * static_cast<u32>(s.row.size());
    PutWord(out, kTag);
    PutWord(out, size);
    for (int i = 0; i < 8; ++i) PutWord(out, 0);
    for (u32 word : {states, size, rowTable, kListHeader}) PutWord(out, word);
    for (int i = 0; i < 8; ++i) PutWord(out, 0);
    for (const DfaState& s : dfa) {
        u32 token = 0, push = 0, flags = 0;
        if (s.rule >= 0) {
            const Rule& rule = list.rules[s.rule];
            token = static_cast<u32>(rule.id);
            flags = kAccept | (rule.ignore ? kIgnore : 0) | (rule.pop ? kPop : 0);
            if (!rule.pushList.empty()) {
                const auto target = std::find_if(lists.begin(), lists.end(), [&](const List& l) {
                    return l.name == rule.pushList;
                });
                if (target == lists.end()) Fail(rule.line, "no list " + rule.pushList);
                push = static_cast<u32>(target - lists.begin());
                flags |= kPush;
            }
        }
        for (u32 word : {token, push, flags, 0u, 0u, 0u, 0u}) PutWord(out, word);
    }
    u32 rowAt = rowTable + states * 4;
    for (const DfaState& s : dfa) {
        PutWord(out, rowAt);
        rowAt += 4 + 12 * static_cast<u32>(s.row.size());
    }
    for (const DfaState& s : dfa) {
        PutWord(out, static_cast<u32>(s.row.size()));
        for (const Transition& t : s.row) {
            for (u32 word : {t.lo, t.hi, t.next}) PutWord(out, word);
        }
    }
}

std::vector<unsigned char> BuildImage(const std::vector<List>& lists) {
    std::vector<unsigned char> image;
    PutWord(image, static_cast<u32>(lists.size()));
    PutWord(image, kTag);
    for (u32 i = 0; i < (kImageHeader - 8) / 4; ++i) PutWord(image, 0);  // no keywords, no classes
    for (const List& list : lists) PutList(image, list, BuildAutomaton(list), lists);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: lexgen <grammar> <image.cpp> <image.dfa>\n");
        return 2;
    }
    try {
        const std::vector<unsigned char> image = BuildImage(ReadGrammar(argv[1]));
        WriteImageCpp(argv[2],
                      "// The lexer table image of the filter language, written by tools/lexgen "
                      "from\n// tools/filter.grammar.\n",
                      "server/filter/filterdfa.h", "kFilterDfa", image);
        WriteImageRaw(argv[3], image);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lexgen: %s: %s\n", argv[1], e.what());
        return 1;
    }
    return 0;
}
