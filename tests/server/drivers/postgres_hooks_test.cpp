// The PostgreSQL table file's filter hooks as golden texts, with test operands standing in for
// the filter translation's nodes: containment, substrings, and the functions of client filters.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "server/drivers/postgres.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/testfilter.h"
#include "tests/server/support/testisam.h"

namespace {

using gmtest::TestElement;

class PostgresHooks : public ::testing::Test, public gmtest::IsamTestBed {
protected:
    PostgresHooks() : file(&conn, def, reply, session.threadId) { file.SetDBServer(&session); }

    tField field{"FIELD", 'C', 10, 0, true, true};
    tField value{"VALUE", 'N', 12, 2, true, true};
    tPostgresISAMFile file;
};

TEST_F(PostgresHooks, ContainsIsPositionWithACharacterFieldPadded) {
    const struct {
        const char* left;
        const char* right;
        tField* rightField;
        const char* sql;
    } cases[] = {
        {"'AB'", "FIELD", &field, "position( rpad ( FIELD,10)  in 'AB')>0"},
        {"'12'", "VALUE", &value, "position(VALUE in '12')>0"},
        {"FIELD", "'AB'", nullptr, "position('AB' in FIELD)>0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        TestElement left(c.left);
        TestElement right(c.right);
        if (c.rightField) right.StandingFor(c.rightField);
        tString out("X AND ");
        EXPECT_TRUE(file.ContainsExpr(out, left, right));
        EXPECT_EQ(std::string(out.GetText()), std::string("X AND ") + c.sql);
    }
}

TEST_F(PostgresHooks, ContainsWithAnOperandWithoutSqlWritesNothing) {
    for (bool leftTranslated : {false, true}) {
        TestElement left("L", leftTranslated);
        TestElement right("R", !leftTranslated);
        tString out("X");
        EXPECT_FALSE(file.ContainsExpr(out, left, right));
        EXPECT_STREQ(out.GetText(), "X");
    }
}

TEST_F(PostgresHooks, SubstringWithoutLengthTakesTheRestOfTheField) {
    const struct {
        const char* start;
        const char* length;  // null: none
        bool asField;
        const char* sql;  // null: not translated
    } cases[] = {
        {"2", "3", true, " substring(FIELD,2,3)"},
        {"2", "3", false, " substring(FIELD,2,3)"},
        {"3", nullptr, true, " substring(FIELD,3,8)"},
        {"1", nullptr, true, " substring(FIELD,1,10)"},
        {"10", nullptr, true, " substring(FIELD,10,1)"},
        {"11", nullptr, true, nullptr},
        {"0", nullptr, true, nullptr},
        {"A+1", nullptr, true, nullptr},
        {"3", nullptr, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.start) + (c.length ? c.length : "-") + (c.asField ? "F" : ""));
        TestElement text("FIELD");
        if (c.asField) text.StandingFor(&field);
        TestElement start(c.start);
        TestElement length(c.length ? c.length : "");
        tString out("X");
        EXPECT_EQ(file.SubstrFunc(out, text, start, c.length ? &length : nullptr),
                  c.sql != nullptr);
        EXPECT_EQ(std::string(out.GetText()), std::string("X") + (c.sql ? c.sql : ""));
    }
    TestElement text("FIELD");
    TestElement start("2");
    TestElement untranslated("?", false);
    tString out("X");
    EXPECT_FALSE(file.SubstrFunc(out, text, start, &untranslated));
    EXPECT_FALSE(file.SubstrFunc(out, untranslated, start, nullptr));
    EXPECT_STREQ(out.GetText(), "X");
}

TEST_F(PostgresHooks, FunctionsMapByNameAndEmptyByTheFieldType) {
    tField name{"NAME", 'C', 5, 0, true, true};
    tField date{"DT", 'D', 8, 0, true, true};
    tField flag{"FLAG", 'L', 1, 0, true, true};
    tField memo{"OBS", 'M', 10, 0, true, true};
    const struct {
        const char* function;
        tField* field;  // the argument's
        bool translated;
        const char* name;         // after the call
        const char* replacement;  // after the call
    } cases[] = {
        {"LOWER", nullptr, true, "LOWER", ""},
        {"upper", nullptr, true, "upper", ""},
        {"StrTran", nullptr, true, "REPLACE", ""},
        {"ROUND", &value, false, "ROUND", ""},
        {"SUBSTR", nullptr, false, "SUBSTR", ""},
        {"EMPTY", &name, true, "EMPTY", "NAME = '     '"},
        {"empty", &date, true, "empty", "DT = '        '"},
        {"EMPTY", &value, true, "EMPTY", "ROUND(VALUE,2) = 0.0 "},
        {"EMPTY", &flag, true, "EMPTY", "FLAG = 'F'"},
        {"EMPTY", &memo, false, "EMPTY", ""},
        {"EMPTY", nullptr, false, "EMPTY", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        TestElement argument("ARG");
        if (c.field) argument.StandingFor(c.field);
        tString function(c.function);
        tString replacement;
        tString suffix;
        EXPECT_EQ(file.MapFunction(function, &argument, replacement, suffix), c.translated);
        EXPECT_STREQ(function.GetText(), c.name);
        EXPECT_STREQ(replacement.GetText(), c.replacement);
        EXPECT_STREQ(suffix.GetText(), "");
    }
    tString function("EMPTY");
    tString replacement;
    tString suffix;
    EXPECT_FALSE(file.MapFunction(function, nullptr, replacement, suffix));
}

}  // namespace
