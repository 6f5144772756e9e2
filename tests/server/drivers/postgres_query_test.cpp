// The PostgreSQL rewrite of a client's query as a pure function: aggregates, select lists of
// queries, unions and sub-queries, literals and aliases, quoted text left as written, the
// refusals, and texts longer than 64 KiB.
#include "server/drivers/postgres_query.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PostgresRewrite, RewritesAggregatesAndSelectLists) {
    const struct {
        const char* query;
        const char* rewritten;
    } cases[] = {
        {"select sum(valor) total from t", "select SUM(VALOR)::FLOAT8 as  TOTAL from t"},
        {"select count(*) from t", "select COUNT(*)::FLOAT8 from t"},
        {"SELECT DISTINCT A, 'X' FROM T", "SELECT DISTINCT A, repeat('X',1)  FROM T"},
        {"SELECT A, (SELECT MAX(B) FROM U) M FROM T",
         "SELECT A, (SELECT MAX(B) FROM U) as  M FROM T"},
        {"select a.code name from t where x = 1", "select A.CODE as  NAME from t where x = 1"},
        {"select code as name from t", "select CODE AS NAME from t"},
        {"select 'abc' title from t", "select repeat('abc',1)  as TITLE from t"},
        {"select 'abc' as title from t", "select repeat('abc',1)  as TITLE from t"},
        {"select a from t union select b c from u", "select A from t union select B as  C from u"},
        {"select x from (select a x from t) q", "select X from (select A as  X from t) q"},
        {"select sum(a), count(b) n from t group by c",
         "select SUM(A)::FLOAT8, COUNT(B)::FLOAT8 as  N from t group by c"},
        {"select\ta\nfrom t", "select\tA\nfrom t"},
        // Expressions keep their last operand: no alias is made of it.
        {"select a + b from t", "select A + B from t"},
        {"select a || 'x' from t", "select A || 'x' from t"},
        {"select 'a' || b from t", "select 'a' || B from t"},
        {"select case when a = 1 then 'x' else 'y' end from t",
         "select CASE WHEN A = 1 THEN 'x' ELSE 'y' END from t"},
        {"select case when a = 1 then 'x' else 'y' end flag from t",
         "select CASE WHEN A = 1 THEN 'x' ELSE 'y' END as  FLAG from t"},
        {"select a is null from t", "select A IS NULL from t"},
        // Not aggregates: the word is part of another name.
        {"select account(x), checksum(y) from t", "select ACCOUNT(X), CHECKSUM(Y) from t"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        std::string out;
        ASSERT_EQ(RewritePostgresQuery(c.query, out), tPgRewrite::Ok);
        EXPECT_EQ(out, c.rewritten);
    }
}

TEST(PostgresRewrite, QuotedTextStaysAsWrittenAndIsNeverSearched) {
    const struct {
        const char* query;
        const char* rewritten;
    } cases[] = {
        {"select 'it''s sum(x) from' a, \"Mixed\" from t",
         "select repeat('it''s sum(x) from',1)  as A, \"Mixed\" from t"},
        {"select sum(case when b = 'abc' then 1 else 0 end) from t",
         "select SUM(CASE WHEN B = 'abc' THEN 1 ELSE 0 END)::FLOAT8 from t"},
        {"select a from t where b = 'count(1) select x'",
         "select A from t where b = 'count(1) select x'"},
        {"select \"select \" from t", "select \"select \" from t"},
        {"select a, '(' from t", "select A, repeat('(',1)  from t"},
        // A blank inside a quoted name is no place for an alias.
        {"select \"a b\"x from t", "select \"a b\"X from t"},
        {"select \"a b c\" x, 'l' \"m n\" from t",
         "select \"a b c\" as  X, repeat('l',1)  as \"m n\" from t"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        std::string out;
        ASSERT_EQ(RewritePostgresQuery(c.query, out), tPgRewrite::Ok);
        EXPECT_EQ(out, c.rewritten);
    }
}

TEST(PostgresRewrite, RefusesWhatHasNoSoundRewrite) {
    const struct {
        const char* query;
        tPgRewrite result;
    } cases[] = {
        {"select 1", tPgRewrite::MissingFrom},
        {"select a,b", tPgRewrite::MissingFrom},
        {"select a from t where b in (select 1)", tPgRewrite::MissingFrom},
        {"select sum(a from t", tPgRewrite::UnclosedAggregate},
        {"select 'abc from t", tPgRewrite::FieldSyntax},
        {"select a from t where b = 'x", tPgRewrite::FieldSyntax},
        {"select (a from t", tPgRewrite::FieldSyntax},
        {"select a) from t", tPgRewrite::MissingFrom},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        std::string out;
        EXPECT_EQ(RewritePostgresQuery(c.query, out), c.result);
    }
}

TEST(PostgresRewrite, TextsBeyond64KiBAreRewrittenWhole) {
    const std::string literal(70000, 'x');
    std::string columns;
    for (int i = 0; i < 9000; ++i)
        columns += (i ? ", c" : "c") + std::to_string(i) + " n" + std::to_string(i);
    const std::string query = "select sum(a) s, '" + literal + "' l, " + columns + " from t";
    ASSERT_GT(query.size(), 65536u * 2);
    std::string out;
    ASSERT_EQ(RewritePostgresQuery(query, out), tPgRewrite::Ok);
    EXPECT_EQ(out.compare(0, 29, "select SUM(A)::FLOAT8 as  S, "), 0) << out.substr(0, 40);
    EXPECT_NE(out.find("repeat('" + literal + "',1)  as L"), std::string::npos);
    EXPECT_NE(out.find("C8999 as  N8999 from t"), std::string::npos);
    // "::float8", " as ", "repeat(" ",1) " " as " less a blank, and " as " per column.
    EXPECT_EQ(out.size(), query.size() + 8 + 4 + 14 + 9000 * 4);
}

}  // namespace
