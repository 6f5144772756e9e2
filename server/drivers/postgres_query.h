// The PostgreSQL form of a client's query: aggregates cast to float8 and select lists whose
// literals and aliases PostgreSQL reads as the client meant them.
#pragma once
#include <string>

// Why a query could not be rewritten.
enum class tPgRewrite {
    Ok,
    UnclosedAggregate,  // a SUM( or COUNT( without its closing parenthesis
    MissingFrom,        // a select list without its FROM
    FieldSyntax,        // a select list with an open quote or parenthesis
};

// Rewrites query into out: every SUM(...) and COUNT(...) gets "::float8"; in every select list
// (of the query, its unions and its sub-queries) unquoted text is upper-cased, a column that is
// a single-quoted literal becomes repeat(literal,1), and an alias after a complete column gets
// " as " before it. Quoted text ('...' and "...") is copied as the client wrote it, and no word
// inside it is searched for. Text outside aggregates and select lists keeps its case. out is
// only valid with Ok.
tPgRewrite RewritePostgresQuery(const std::string& query, std::string& out);
