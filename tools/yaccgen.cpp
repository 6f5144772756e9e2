// Builds the parse table image of the filter language from tools/filter.grammar: the LR(0)
// automaton of the productions, LALR(1) look-aheads propagated over it, the shift/reduce conflicts
// settled by the grammar's %resolve lines, and the rows of the image. Writes the image as a C++
// byte array for the server and as raw bytes for the build's comparison.
//
// Usage: yaccgen [-v] <grammar> <image.cpp> <image.llr>   (-v lists each conflict settled)
#include <bitset>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "imagefile.h"

namespace {

using u32 = std::uint32_t;

// Symbols: a terminal is its token id (eof is -1); a nonterminal is kNonterminal + its number,
// the start symbol (left side of production 0) being plain 0.
constexpr int kEof = -1;
constexpr int kNonterminal = 0x4000;
constexpr int kMaxToken = 254;
constexpr u32 kShift = 0x40000000, kReduce = 0x20000000, kAccept = 0x10000000;
constexpr u32 kHeader = 20, kRowHeader = 12, kEntry = 8;

using Lookahead = std::bitset<kMaxToken + 2>;  // bit id + 1 for token id
using Item = std::pair<int, int>;              // production, position of the dot

bool IsNonterminal(int symbol) { return symbol == 0 || symbol >= kNonterminal; }
int Code(int nonterminal) { return nonterminal == 0 ? 0 : kNonterminal + nonterminal; }
int Index(int symbol) { return symbol == 0 ? 0 : symbol - kNonterminal; }

[[noreturn]] void Fail(const std::string& why) { throw std::runtime_error(why); }
[[noreturn]] void Fail(int line, const std::string& why) {
    Fail("line " + std::to_string(line) + ": " + why);
}

struct Production {
    int left = 0;  // nonterminal index: 0 the start symbol, then 1..
    std::vector<int> right;
    int line = 0;
};

// One token of a %resolve line: what the reduction by `production` does where it meets a shift
// on `token`.
struct Resolution {
    int production;
    int token;
    bool shift;
    int line;
    bool used = false;
};

struct Grammar {
    std::map<std::string, int> terminals;   // name -> token id
    std::vector<std::string> nonterminals;  // by index
    std::vector<Production> productions;
    std::vector<Resolution> resolutions;

    std::string Name(int symbol) const;
    std::string Text(const Item& item) const;
};

std::string Grammar::Name(int symbol) const {
    if (IsNonterminal(symbol)) return nonterminals[Index(symbol)];
    if (symbol == kEof) return "eof";
    for (const auto& [name, id] : terminals) {
        if (id == symbol) return name;
    }
    return std::to_string(symbol);
}

// "expr: expr *OR . expr"
std::string Grammar::Text(const Item& item) const {
    const Production& p = productions[item.first];
    std::string text = nonterminals[p.left] + ":";
    for (size_t i = 0; i <= p.right.size(); ++i) {
        if (static_cast<int>(i) == item.second) text += " .";
        if (i < p.right.size()) text += " " + Name(p.right[i]);
    }
    return text;
}

// ---- Grammar file ----

struct ProductionLine {
    std::string left;
    std::vector<std::string> right;
    int line;
};

void ReadTokenLine(Grammar& g, std::istringstream& words, const std::string& first, int number) {
    int id = 0;
    try {
        id = std::stoi(first);
    } catch (const std::exception&) {
        Fail(number, "token id expected");
    }
    std::string name, pattern;
    if (!(words >> name >> pattern)) Fail(number, "name and pattern expected");
    for (std::string action; words >> action;) {
        if (action == "ignore") return;  // gives no token, so no terminal
    }
    if (id < 1 || id > kMaxToken) Fail(number, "token id out of range");  // 0 is the start symbol
    const auto [at, added] = g.terminals.emplace(name, id);
    if (!added && at->second != id) Fail(number, "token " + name + " has two ids");
}

ProductionLine ReadProductionLine(std::istringstream& words, const std::string& first, size_t count,
                                  int number) {
    if (first != std::to_string(count))
        Fail(number, "production " + std::to_string(count) + " expected");
    ProductionLine p{"", {}, number};
    if (!(words >> p.left) || p.left.size() < 2 || p.left.back() != ':') {
        Fail(number, "left side with ':' expected");
    }
    p.left.pop_back();
    for (std::string symbol; words >> symbol;) p.right.push_back(symbol);
    return p;
}

int TerminalOf(const Grammar& g, const std::string& name, int number) {
    if (name == "eof") return kEof;
    const auto found = g.terminals.find(name);
    if (found == g.terminals.end()) Fail(number, "unknown token " + name);
    return found->second;
}

void ReadResolutionLine(Grammar& g, std::istringstream& words, const std::string& first,
                        int number) {
    int production = 0;
    try {
        production = std::stoi(first);
    } catch (const std::exception&) {
        Fail(number, "production number expected");
    }
    if (production <= 0 || production >= static_cast<int>(g.productions.size())) {
        Fail(number, "no production " + first);
    }
    std::string action;
    if (!(words >> action) || (action != "shift" && action != "reduce")) {
        Fail(number, "shift or reduce expected");
    }
    bool any = false;
    for (std::string name; words >> name; any = true) {
        const int token = TerminalOf(g, name, number);
        for (const Resolution& r : g.resolutions) {
            if (r.production == production && r.token == token) {
                Fail(number, "production " + first + " on " + name + " settled twice");
            }
        }
        g.resolutions.push_back({production, token, action == "shift", number});
    }
    if (!any) Fail(number, "look-ahead tokens expected");
}

// Nonterminals are numbered in the order they first appear, reading production 1 onwards, each
// production's right side before its left side; the left side of production 0 is symbol 0.
void NumberSymbols(Grammar& g, const std::vector<ProductionLine>& lines) {
    if (lines.empty()) Fail("no productions");
    std::set<std::string> lefts;
    for (const ProductionLine& p : lines) lefts.insert(p.left);
    std::map<std::string, int> index{{lines[0].left, 0}};
    g.nonterminals = {lines[0].left};
    auto number = [&](const std::string& name) {
        if (lefts.count(name) && index.emplace(name, g.nonterminals.size()).second) {
            g.nonterminals.push_back(name);
        }
    };
    for (size_t i = 1; i < lines.size(); ++i) {
        for (const std::string& symbol : lines[i].right) number(symbol);
        number(lines[i].left);
    }
    for (const ProductionLine& line : lines) {
        Production p{index.at(line.left), {}, line.line};
        for (const std::string& symbol : line.right) {
            p.right.push_back(lefts.count(symbol) ? Code(index.at(symbol))
                                                  : TerminalOf(g, symbol, line.line));
        }
        g.productions.push_back(std::move(p));
    }
    const Production& start = g.productions[0];
    if (start.right.size() != 2 || start.right[1] != kEof || start.right[0] == 0 ||
        !IsNonterminal(start.right[0])) {
        Fail(start.line, "production 0 must be <start>: <nonterminal> eof");
    }
    for (size_t i = 1; i < g.productions.size(); ++i) {
        const Production& p = g.productions[i];
        if (p.left == 0) Fail(p.line, "start symbol used again");
        for (int symbol : p.right) {
            if (symbol == kEof || symbol == 0) {
                Fail(p.line, "eof and the start symbol only in production 0");
            }
        }
    }
}

Grammar ReadGrammar(const std::string& path) {
    std::ifstream in(path);
    if (!in) Fail("cannot read " + path);
    enum { kTokens, kProductions, kResolve } section = kTokens;
    Grammar g;
    std::vector<ProductionLine> lines;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::istringstream words(line);
        std::string first;
        if (!(words >> first) || first[0] == '#' || first == "%list") continue;
        if (first == "%productions" || first == "%resolve") {
            const bool resolve = first == "%resolve";
            if (section != (resolve ? kProductions : kTokens))
                Fail(number, first + " out of place");
            if (resolve) NumberSymbols(g, lines);
            section = resolve ? kResolve : kProductions;
        } else if (section == kTokens) {
            ReadTokenLine(g, words, first, number);
        } else if (section == kProductions) {
            lines.push_back(ReadProductionLine(words, first, lines.size(), number));
        } else {
            ReadResolutionLine(g, words, first, number);
        }
    }
    if (section != kResolve) NumberSymbols(g, lines);
    return g;
}

// ---- Automaton ----

struct State {
    std::vector<Item> kernel;         // sorted
    std::map<Item, Lookahead> ahead;  // look-aheads of the kernel items
    std::map<int, int> next;          // symbol -> state, in ascending symbol order
};

class Builder {
public:
    explicit Builder(const Grammar& g) : g(g) { ComputeFirst(); }

    std::vector<State> Build() {
        Add({{0, 0}});
        for (size_t s = 0; s < states.size(); ++s) AddTransitions(static_cast<int>(s));
        Propagate();
        return std::move(states);
    }

    // The items of a state's closure with their look-aheads.
    std::map<Item, Lookahead> Closure(const State& state) const;

private:
    int SymbolAfterDot(const Item& item) const {
        const Production& p = g.productions[item.first];
        return item.second < static_cast<int>(p.right.size()) ? p.right[item.second] : kNoSymbol;
    }
    void ComputeFirst();
    // FIRST of the symbols of production `p` from position `from`, and whether all can vanish.
    Lookahead FirstOf(int p, int from, bool& vanishes) const;
    int Add(std::vector<Item> kernel);
    void AddTransitions(int s);
    void Propagate();

    static constexpr int kNoSymbol = -1000;
    const Grammar& g;
    std::vector<Lookahead> first;  // by nonterminal index
    std::vector<bool> nullable;
    std::vector<State> states;
    std::map<std::vector<Item>, int> byKernel;
};

void Builder::ComputeFirst() {
    first.assign(g.nonterminals.size(), Lookahead());
    nullable.assign(g.nonterminals.size(), false);
    for (bool changed = true; changed;) {
        changed = false;
        for (size_t p = 0; p < g.productions.size(); ++p) {
            const int left = g.productions[p].left;
            bool vanishes = false;
            const Lookahead f = FirstOf(static_cast<int>(p), 0, vanishes);
            if ((first[left] | f) != first[left] || (vanishes && !nullable[left])) changed = true;
            first[left] |= f;
            if (vanishes) nullable[left] = true;
        }
    }
}

Lookahead Builder::FirstOf(int p, int from, bool& vanishes) const {
    Lookahead f;
    const std::vector<int>& right = g.productions[p].right;
    for (size_t i = static_cast<size_t>(from); i < right.size(); ++i) {
        if (!IsNonterminal(right[i])) {
            f.set(static_cast<size_t>(right[i] + 1));
            vanishes = false;
            return f;
        }
        const int n = Index(right[i]);
        f |= first[n];
        if (!nullable[n]) {
            vanishes = false;
            return f;
        }
    }
    vanishes = true;
    return f;
}

int Builder::Add(std::vector<Item> kernel) {
    const auto [at, added] = byKernel.emplace(kernel, static_cast<int>(states.size()));
    if (added) {
        State state;
        state.kernel = std::move(kernel);
        for (const Item& item : state.kernel) state.ahead[item] = Lookahead();
        states.push_back(std::move(state));
    }
    return at->second;
}

// New states are numbered in the order they are first reached, taking each state's
// transitions in ascending symbol order, so every run numbers them alike.
void Builder::AddTransitions(int s) {
    std::map<int, std::vector<Item>> kernels;
    for (const auto& entry : Closure(states[s])) {
        const int symbol = SymbolAfterDot(entry.first);
        if (symbol != kNoSymbol) {
            kernels[symbol].push_back({entry.first.first, entry.first.second + 1});
        }
    }
    for (auto& [symbol, kernel] : kernels) {
        const int target = Add(std::move(kernel));  // map order keeps each kernel sorted
        states[s].next[symbol] = target;
    }
}

std::map<Item, Lookahead> Builder::Closure(const State& state) const {
    std::map<Item, Lookahead> items(state.ahead);
    std::vector<Item> work(state.kernel);
    while (!work.empty()) {
        const Item item = work.back();
        work.pop_back();
        const int symbol = SymbolAfterDot(item);
        if (symbol == kNoSymbol || !IsNonterminal(symbol)) continue;
        bool vanishes = false;
        Lookahead ahead = FirstOf(item.first, item.second + 1, vanishes);
        if (vanishes) ahead |= items[item];
        for (size_t p = 0; p < g.productions.size(); ++p) {
            if (Code(g.productions[p].left) != symbol) continue;
            const Item start{static_cast<int>(p), 0};
            const auto found = items.find(start);
            if (found == items.end()) {
                items.emplace(start, ahead);
            } else if ((found->second | ahead) != found->second) {
                found->second |= ahead;
            } else {
                continue;
            }
            work.push_back(start);
        }
    }
    return items;
}

// Look-aheads flow along the transitions into the kernel items they reach until nothing changes:
// the look-aheads of the states of equal cores in the canonical LR(1) collection, merged.
void Builder::Propagate() {
    for (bool changed = true; changed;) {
        changed = false;
        for (State& state : states) {
            for (const auto& [item, ahead] : Closure(state)) {
                const int symbol = SymbolAfterDot(item);
                if (symbol == kNoSymbol) continue;
                Lookahead& into =
                    states[state.next.at(symbol)].ahead[{item.first, item.second + 1}];
                if ((into | ahead) == into) continue;
                into |= ahead;
                changed = true;
            }
        }
    }
}

// ---- Actions ----

struct Row {
    std::map<int, u32> actions;  // token -> action word, in ascending token order
    std::map<int, int> gotos;    // nonterminal symbol -> state
};

struct Figures {
    int shifts = 0, reduces = 0, gotos = 0, accepts = 0, resolved = 0;
};

class Tabulator {
public:
    Tabulator(Grammar& g, const Builder& builder, bool verbose)
        : g(g), builder(builder), verbose(verbose) {}

    std::vector<Row> Rows(const std::vector<State>& states);
    Figures figures;

private:
    Row RowOf(int s, const State& state);
    void Settle(int s, int token, int production, Row& row);

    Grammar& g;
    const Builder& builder;
    bool verbose;
};

std::vector<Row> Tabulator::Rows(const std::vector<State>& states) {
    std::vector<Row> rows;
    for (size_t s = 0; s < states.size(); ++s) {
        rows.push_back(RowOf(static_cast<int>(s), states[s]));
    }
    for (const Resolution& r : g.resolutions) {
        if (!r.used) {
            Fail(r.line, "production " + std::to_string(r.production) + " on " + g.Name(r.token) +
                             " meets no conflict");
        }
    }
    return rows;
}

Row Tabulator::RowOf(int s, const State& state) {
    Row row;
    for (const auto& [symbol, target] : state.next) {
        if (IsNonterminal(symbol)) {
            row.gotos[symbol] = target;
        } else if (symbol == kEof) {
            row.actions[symbol] = kAccept;  // only production 0 holds eof, behind the start
        } else {
            row.actions[symbol] = kShift | static_cast<u32>(target);
        }
    }
    for (const auto& [item, ahead] : builder.Closure(state)) {
        const int p = item.first;
        if (p == 0 || item.second != static_cast<int>(g.productions[p].right.size())) continue;
        for (int token = kEof; token <= kMaxToken; ++token) {
            if (ahead.test(static_cast<size_t>(token + 1))) Settle(s, token, p, row);
        }
    }
    return row;
}

// Enters the reduction by production p on token, settling a meeting with a shift by the grammar's
// resolutions and refusing a meeting with another reduction.
void Tabulator::Settle(int s, int token, int p, Row& row) {
    const std::string where = "state " + std::to_string(s) + ", production " + std::to_string(p) +
                              " (" + g.Text({p, static_cast<int>(g.productions[p].right.size())}) +
                              ") on " + g.Name(token) + ": ";
    const auto present = row.actions.find(token);
    if (present == row.actions.end()) {
        row.actions[token] = kReduce | static_cast<u32>(p);
        return;
    }
    if (present->second == kAccept) Fail(where + "conflict with the accept");
    if ((present->second & kShift) == 0) {
        Fail(where + "reduce/reduce conflict with production " +
             std::to_string(present->second & ~kReduce));
    }
    for (Resolution& r : g.resolutions) {
        if (r.production != p || r.token != token) continue;
        r.used = true;
        ++figures.resolved;
        if (!r.shift) present->second = kReduce | static_cast<u32>(p);
        if (verbose) std::printf("%s%s\n", where.c_str(), r.shift ? "shift" : "reduce");
        return;
    }
    Fail(where + "shift/reduce conflict without a resolution");
}

// ---- Image ----

std::vector<unsigned char> BuildImage(const Grammar& g, const std::vector<Row>& rows,
                                      Figures& figures) {
    const u32 states = static_cast<u32>(rows.size());
    const u32 productions = static_cast<u32>(g.productions.size());
    const u32 productionTable = kHeader + 4 * states;
    const u32 rowArea = productionTable + kEntry * productions;
    std::vector<unsigned char> image{'C', 'Y', 'S', 'S'};
    for (u32 word : {productions, states, rowArea, productionTable}) PutWord(image, word);
    u32 at = rowArea;
    for (const Row& row : rows) {
        PutWord(image, at);
        at += kRowHeader + kEntry * static_cast<u32>(row.actions.size() + row.gotos.size());
    }
    for (const Production& p : g.productions) {
        PutWord(image, static_cast<u32>(p.right.size()));
        PutWord(image, static_cast<u32>(Code(p.left)));
    }
    for (const Row& row : rows) {
        for (u32 word :
             {0u, static_cast<u32>(row.gotos.size()), static_cast<u32>(row.actions.size())}) {
            PutWord(image, word);
        }
        for (const auto& [token, action] : row.actions) {
            PutWord(image, action);
            PutWord(image, static_cast<u32>(token));
            figures.shifts += (action & kShift) != 0;
            figures.reduces += (action & kReduce) != 0;
            figures.accepts += action == kAccept;
        }
        for (const auto& [symbol, target] : row.gotos) {
            PutWord(image, static_cast<u32>(target));
            PutWord(image, static_cast<u32>(symbol));
            ++figures.gotos;
        }
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    const bool verbose = argc > 1 && std::string(argv[1]) == "-v";
    if (argc != 4 + verbose) {
        std::fprintf(stderr, "usage: yaccgen [-v] <grammar> <image.cpp> <image.llr>\n");
        return 2;
    }
    char** args = argv + 1 + verbose;
    try {
        Grammar g = ReadGrammar(args[0]);
        Builder builder(g);
        const std::vector<State> states = builder.Build();
        Tabulator tabulator(g, builder, verbose);
        const std::vector<Row> rows = tabulator.Rows(states);
        Figures& f = tabulator.figures;
        const std::vector<unsigned char> image = BuildImage(g, rows, f);
        WriteImageCpp(args[1],
                      "// The parse table image of the filter language, written by tools/yaccgen "
                      "from\n// tools/filter.grammar.\n",
                      "server/filter/filterllr.h", "kFilterLlr", image);
        WriteImageRaw(args[2], image);
        std::printf(
            "yaccgen: %zu states, %zu productions, %d shifts, %d reduces, %d gotos, %d accept, "
            "%d conflicts resolved, %zu bytes\n",
            rows.size(), g.productions.size(), f.shifts, f.reduces, f.gotos, f.accepts, f.resolved,
            image.size());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "yaccgen: %s: %s\n", args[0], e.what());
        return 1;
    }
    return 0;
}
