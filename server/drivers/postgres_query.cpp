// The rewrite of a client's SELECT for PostgreSQL, in two passes over growable strings: first
// the aggregates, then the select lists. Each pass walks the text beside a folded copy of the
// same length (unquoted bytes upper-cased, quoted bytes as written) and a map of which bytes lie
// inside quotes, so searches never look inside quoted text and quoted text is copied unchanged.
// Then the connection's query files, which run the rewritten text.
#include "server/drivers/postgres_query.h"

#include <cctype>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "lib_common/retcodes.h"
#include "server/drivers/postgres.h"
#include "server/isam/gatemill_query.h"
#include "server/tables/dbtable.h"

namespace {

constexpr size_t kNone = std::string::npos;

bool IsIdentifierChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A text with its folded copy and the quote map.
struct tScanned {
    std::string text;
    std::string folded;
    std::vector<bool> quoted;  // the byte lies inside '...' or "...", the quotes included
    bool open = false;         // the text ends inside a quote
};

tScanned Scan(const std::string& text) {
    tScanned s{text, text, std::vector<bool>(text.size(), false)};
    char quote = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            s.quoted[i] = true;
            if (c == quote) quote = 0;  // a doubled quote closes and opens again
        } else if (c == '\'' || c == '"') {
            s.quoted[i] = true;
            quote = c;
        } else {
            s.folded[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    s.open = quote != 0;
    return s;
}

bool IsWordAt(const tScanned& s, size_t at, const char* word) {
    const size_t n = std::strlen(word);
    if (at + n > s.folded.size() || s.folded.compare(at, n, word) != 0) return false;
    for (size_t i = at; i < at + n; ++i) {
        if (s.quoted[i]) return false;
    }
    return true;
}

// The first unquoted word at or after from that no identifier character precedes.
size_t FindWord(const tScanned& s, size_t from, const char* word) {
    for (size_t at = from; at < s.folded.size(); ++at) {
        if (IsWordAt(s, at, word) && (at == 0 || !IsIdentifierChar(s.folded[at - 1]))) return at;
    }
    return kNone;
}

// "SELECT" followed by a blank.
size_t FindSelect(const tScanned& s, size_t from) {
    for (size_t at = FindWord(s, from, "SELECT"); at != kNone; at = FindWord(s, at + 1, "SELECT")) {
        if (at + 6 < s.folded.size() && IsBlank(s.folded[at + 6])) return at;
    }
    return kNone;
}

enum class tFromSearch { Found, ListClosed, ParenthesisOpen };

// The blank before the "FROM" that closes the select list starting at from: the first one
// outside quotes and outside the list's parentheses. ListClosed: a parenthesis around the list
// closed first, or the text ended; ParenthesisOpen: the text ended inside the list's parentheses.
tFromSearch FindClosingFrom(const tScanned& s, size_t from, size_t& at) {
    int depth = 0;
    for (at = from; at < s.folded.size(); ++at) {
        if (s.quoted[at]) continue;
        const char c = s.folded[at];
        if (c == '(') ++depth;
        if (c == ')' && --depth < 0) return tFromSearch::ListClosed;
        if (depth == 0 && IsBlank(c) && IsWordAt(s, at + 1, "FROM") && at + 5 < s.folded.size() &&
            IsBlank(s.folded[at + 5])) {
            return tFromSearch::Found;
        }
    }
    return depth > 0 ? tFromSearch::ParenthesisOpen : tFromSearch::ListClosed;
}

size_t SkipBlanks(const tScanned& s, size_t at) {
    while (at < s.folded.size() && IsBlank(s.folded[at])) ++at;
    return at;
}

// ---- Aggregates

tPgRewrite CastAggregates(const std::string& query, std::string& out) {
    const tScanned s = Scan(query);
    out.clear();
    size_t pos = 0;
    for (;;) {
        const size_t sum = FindWord(s, pos, "SUM(");
        const size_t count = FindWord(s, pos, "COUNT(");
        if (sum == kNone && count == kNone) break;
        const size_t at = sum < count ? sum : count;
        const char* word = at == sum ? "SUM(" : "COUNT(";
        out.append(s.text, pos, at - pos);
        out += word;
        size_t p = at + std::strlen(word);
        int depth = 0;
        for (; p < s.folded.size(); ++p) {
            const char c = s.folded[p];
            if (!s.quoted[p] && c == ')' && depth-- == 0) break;
            if (!s.quoted[p] && c == '(') ++depth;
            out += c;
        }
        if (p >= s.folded.size()) return tPgRewrite::UnclosedAggregate;
        out += ")::float8";
        pos = p + 1;
    }
    out.append(s.text, pos, kNone);
    return tPgRewrite::Ok;
}

// ---- Select lists

// Words after which the next word is an operand, never an alias, and words that are never an
// alias themselves.
const char* const kOperandKeywords[] = {"AND",   "OR",       "NOT",    "IS",   "IN",   "LIKE",
                                        "ILIKE", "BETWEEN",  "CASE",   "WHEN", "THEN", "ELSE",
                                        "AS",    "DISTINCT", "SELECT", "ALL",  "ANY",  "SOME"};
const char* const kNoAliasWords[] = {"END", "NULL", "TRUE", "FALSE", "DESC", "ASC"};

bool IsOneOf(const std::string& word, const char* const* list, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (word == list[i]) return true;
    }
    return false;
}

// The identifier that ends text (after trailing blanks), or "" when text ends otherwise.
std::string LastWord(const std::string& text) {
    size_t end = text.size();
    while (end > 0 && IsBlank(text[end - 1])) --end;
    size_t start = end;
    while (start > 0 && IsIdentifierChar(text[start - 1])) --start;
    return text.substr(start, end - start);
}

// Whether word, standing after before, names the column: an identifier after a complete
// operand (not after an operator, a comma-less keyword, or nothing).
bool IsAlias(const std::string& before, const std::string& word) {
    if (word.empty() || std::isdigit(static_cast<unsigned char>(word[0]))) return false;
    for (char c : word) {
        if (!IsIdentifierChar(c)) return false;
    }
    if (IsOneOf(word, kNoAliasWords, std::size(kNoAliasWords))) return false;
    size_t end = before.size();
    while (end > 0 && IsBlank(before[end - 1])) --end;
    if (end == 0 || std::strchr("+-*/%^|&=<>~!:,.(", before[end - 1])) return false;
    return !IsOneOf(LastWord(before.substr(0, end)), kOperandKeywords, std::size(kOperandKeywords));
}

// Whether the column's text from start to q (both included) is one single-quoted literal.
bool IsOneLiteral(const std::string& column, size_t start, size_t q) {
    if (q <= start || column[start] != '\'' || column[q] != '\'') return false;
    for (size_t i = start + 1; i < q; ++i) {
        if (column[i] != '\'') continue;
        if (i + 1 >= q || column[i + 1] != '\'') return false;  // closes before q
        ++i;                                                    // a doubled quote
    }
    return true;
}

// Whether column[from, to) holds only blanks, or blanks around one AS.
bool IsBlankOrAs(const std::string& column, size_t from, size_t to) {
    std::string between = column.substr(from, to - from);
    const size_t first = between.find_first_not_of(" \t\r\n");
    if (first == kNone) return true;
    const size_t last = between.find_last_not_of(" \t\r\n");
    return first > 0 && between.compare(first, last + 1 - first, "AS") == 0;
}

void RewriteColumn(const std::string& column, std::string& out) {
    size_t start = 0;
    while (start < column.size() && IsBlank(column[start])) ++start;
    out.append(column, 0, start);
    size_t last = column.size();
    while (last > start && IsBlank(column[last - 1])) --last;
    if (last == start) return;  // a column of blanks
    // e: where the last word begins (the unquoted blank or ")", or the single quote, before it),
    // q: the last quote. A column starts outside quotes, so its own scan maps them; a blank
    // inside a quoted name is part of that name.
    const std::vector<bool> quoted = Scan(column).quoted;
    size_t e = last - 1;
    while (e > start && column[e] != '\'' &&
           (quoted[e] || (!IsBlank(column[e]) && column[e] != ')'))) {
        --e;
    }
    size_t q = e;
    while (q > start && column[q] != '\'') --q;
    if (IsOneLiteral(column, start, q) && (e == q || IsBlankOrAs(column, q + 1, e))) {
        // A literal, alone or with its alias, becomes text.
        out += "repeat(";
        out.append(column, start, q + 1 - start);
        out += ",1) ";
        if (e != q) out += " as ";
        out.append(column, e + 1, kNone);
        return;
    }
    const std::string before = column.substr(start, e - start);
    const std::string rest = column.substr(e);
    if (e > start && IsBlank(column[e]) && IsAlias(before, LastWord(rest))) {
        out += before;
        out += " as ";
        out += rest;
        return;
    }
    out.append(column, start, kNone);
}

// Rewrites the select list s.folded[from, to) into out; false when a parenthesis of the list
// does not match.
bool RewriteSelectList(const tScanned& s, size_t from, size_t to, std::string& out) {
    std::vector<std::string> columns(1);
    int depth = 0;
    for (size_t i = from; i < to; ++i) {
        const char c = s.folded[i];
        if (!s.quoted[i] && c == '(') ++depth;
        if (!s.quoted[i] && c == ')' && --depth < 0) return false;
        if (!s.quoted[i] && c == ',' && depth == 0) {
            columns.emplace_back();
            continue;
        }
        columns.back() += c;
    }
    if (depth != 0) return false;
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) out += ",";
        RewriteColumn(columns[i], out);
    }
    return true;
}

tPgRewrite RewriteSelectLists(const std::string& text, std::string& out) {
    const tScanned s = Scan(text);
    out.clear();
    size_t pos = 0;
    for (size_t select = FindSelect(s, 0); select != kNone; select = FindSelect(s, pos)) {
        size_t p = SkipBlanks(s, select + 6);
        if (IsWordAt(s, p, "DISTINCT") && p + 8 < s.folded.size() && IsBlank(s.folded[p + 8])) {
            p = SkipBlanks(s, p + 8);
        }
        out.append(s.text, pos, p - pos);
        size_t from = kNone;
        const tFromSearch found = FindClosingFrom(s, p, from);
        if (found == tFromSearch::ParenthesisOpen) return tPgRewrite::FieldSyntax;
        if (found == tFromSearch::ListClosed) return tPgRewrite::MissingFrom;
        if (!RewriteSelectList(s, p, from, out)) return tPgRewrite::FieldSyntax;
        pos = from;
    }
    out.append(s.text, pos, kNone);
    return tPgRewrite::Ok;
}

}  // namespace

tPgRewrite RewritePostgresQuery(const std::string& query, std::string& out) {
    // An open quote leaves no select list whose end could be told.
    if (Scan(query).open) return tPgRewrite::FieldSyntax;
    std::string cast;
    const tPgRewrite result = CastAggregates(query, cast);
    if (result != tPgRewrite::Ok) return result;
    return RewriteSelectLists(cast, out);
}

namespace {

constexpr const char* kQueryRoutine = "tPostgresConnection::GetQueryFile";
// How much of the client's query an error text repeats.
constexpr i32 kQuotedQueryLimit = 65536;

}  // namespace

void tPostgresConnection::RefuseQuery(const char* message, const tString& query) {
    tString text(message);
    text.Append(query, kQuotedQueryLimit);
    text += "\n";
    SetError(RC_FAILED, kQueryRoutine, text, nullptr);
}

tQueryFile* tPostgresConnection::GetQueryFile(tCommBuffer& reply, u32 lockOwner, tString& query) {
    if (!IsConnected()) return nullptr;
    std::unique_ptr<tStatement> stmt(NewStatement());
    std::string rewritten;
    switch (RewritePostgresQuery(query.GetText(), rewritten)) {
        case tPgRewrite::Ok:
            break;
        case tPgRewrite::UnclosedAggregate:
            return nullptr;
        case tPgRewrite::MissingFrom:
            RefuseQuery("Invalid Query ( missing FROM statement ).\nQuery : ", query);
            return nullptr;
        case tPgRewrite::FieldSyntax:
            RefuseQuery("Invalid Query Fields ( Syntax Error ).\nQuery : ", query);
            return nullptr;
    }
    // The query file keeps the text to run it again, in a string of bounded size.
    if (rewritten.size() >= tString::kMaxCapacity) {
        RefuseQuery("Invalid Query ( too long ).\nQuery : ", query);
        return nullptr;
    }
    if (!stmt->ExecDirect(rewritten.c_str(), kQueryRoutine, 1)) return nullptr;
    query = rewritten.c_str();
    const i16 count = stmt->GetColumnCount();
    if (count <= 0) {
        RefuseQuery("Query does not return any supported column.\nQuery : ", query);
        return nullptr;
    }
    auto def = std::make_unique<tTableDefinitionExclusive>("", GetAlias());
    def->SetFieldCapacity(count);
    const tColumnDesc* columns = stmt->GetColumns();
    for (i16 c = 0; c < count; ++c) {
        const tColumnDesc& d = columns[c];
        if (d.type == 'C')
            def->AddField(d.name, 'C', static_cast<i16>(d.bufferLength - 1), 0, true, true);
        if (d.type == 'N') def->AddField(d.name, 'N', 15, 8, true, true);
    }
    return new tQueryFile(this, std::move(def), reply, lockOwner, std::move(stmt), query);
}
