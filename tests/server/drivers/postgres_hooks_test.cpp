// The PostgreSQL table file's filter hooks as golden texts, with operands made of filter nodes:
// containment, substrings, and the functions of client filters.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "server/drivers/postgres.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/testfilter.h"
#include "tests/server/support/testisam.h"

namespace {

using gmtest::Ident;
using gmtest::Literal;
using gmtest::NodePtr;
using gmtest::NoSql;
using gmtest::Number;

std::shared_ptr<tTableDefinitionShared> HooksDefinition() {
    auto def = std::make_shared<tTableDefinitionShared>("HOOKS", "PRODUCAO");
    def->AddField("FIELD", 'C', 10, 0, true, true);
    def->AddField("VALUE", 'N', 12, 2, true, true);
    def->AddField("NAME", 'C', 5, 0, true, true);
    def->AddField("DT", 'D', 8, 0, true, true);
    def->AddField("FLAG", 'L', 1, 0, true, true);
    def->AddField("OBS", 'M', 10, 0, true, true);
    def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
    def->AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    return def;
}

class PostgresHooks : public ::testing::Test, public gmtest::IsamTestBed {
protected:
    PostgresHooks() : file(&conn, HooksDefinition(), reply, session.threadId) {
        file.SetDBServer(&session);
    }

    tPostgresISAMFile file;
};

TEST_F(PostgresHooks, ContainsIsPositionWithACharacterFieldPadded) {
    const struct {
        NodePtr left;
        NodePtr right;
        const char* sql;
    } cases[] = {
        {Literal(file, "AB"), Ident(file, "FIELD"), "position( rpad ( FIELD,10)  in 'AB')>0"},
        {Literal(file, "12"), Ident(file, "VALUE"), "position(VALUE in '12')>0"},
        {Ident(file, "FIELD"), Literal(file, "AB"), "position('AB' in FIELD)>0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        tString out("X AND ");
        EXPECT_TRUE(file.ContainsExpr(out, *c.left, *c.right));
        EXPECT_EQ(std::string(out.GetText()), std::string("X AND ") + c.sql);
    }
}

TEST_F(PostgresHooks, ContainsWithAnOperandWithoutSqlWritesNothing) {
    for (bool leftTranslated : {false, true}) {
        NodePtr left = leftTranslated ? Ident(file, "FIELD") : NoSql(file);
        NodePtr right = leftTranslated ? NoSql(file) : Literal(file, "R");
        tString out("X");
        EXPECT_FALSE(file.ContainsExpr(out, *left, *right));
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
        {"2", "3", false, " substring(OTHER,2,3)"},
        {"3", nullptr, true, " substring(FIELD,3,8)"},
        {"1", nullptr, true, " substring(FIELD,1,10)"},
        {"10", nullptr, true, " substring(FIELD,10,1)"},
        {"11", nullptr, true, nullptr},
        {"0", nullptr, true, nullptr},
        {"A", nullptr, true, nullptr},
        {"3", nullptr, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.start) + (c.length ? c.length : "-") + (c.asField ? "F" : ""));
        NodePtr text = Ident(file, c.asField ? "FIELD" : "OTHER");  // OTHER is no field
        NodePtr start = c.start[0] == 'A' ? Ident(file, c.start) : Number(file, c.start);
        NodePtr length = Number(file, c.length ? c.length : "");
        tString out("X");
        EXPECT_EQ(file.SubstrFunc(out, *text, *start, c.length ? length.get() : nullptr),
                  c.sql != nullptr);
        EXPECT_EQ(std::string(out.GetText()), std::string("X") + (c.sql ? c.sql : ""));
    }
    NodePtr text = Ident(file, "FIELD");
    NodePtr start = Number(file, "2");
    NodePtr untranslated = NoSql(file);
    tString out("X");
    EXPECT_FALSE(file.SubstrFunc(out, *text, *start, untranslated.get()));
    EXPECT_FALSE(file.SubstrFunc(out, *untranslated, *start, nullptr));
    EXPECT_STREQ(out.GetText(), "X");
}

TEST_F(PostgresHooks, FunctionsMapByNameAndEmptyByTheFieldType) {
    const struct {
        const char* function;
        const char* field;  // the argument, a name of the table
        bool translated;
        const char* name;         // after the call
        const char* replacement;  // after the call
    } cases[] = {
        {"LOWER", nullptr, true, "LOWER", ""},
        {"upper", nullptr, true, "upper", ""},
        {"StrTran", nullptr, true, "REPLACE", ""},
        {"ROUND", "VALUE", false, "ROUND", ""},
        {"SUBSTR", nullptr, false, "SUBSTR", ""},
        {"EMPTY", "NAME", true, "EMPTY", "NAME = '     '"},
        {"empty", "DT", true, "empty", "DT = '        '"},
        {"EMPTY", "VALUE", true, "EMPTY", "ROUND(VALUE,2) = 0.0 "},
        {"EMPTY", "FLAG", true, "EMPTY", "FLAG = 'F'"},
        {"EMPTY", "OBS", false, "EMPTY", ""},
        {"EMPTY", nullptr, false, "EMPTY", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        NodePtr argument = gmtest::Argument(file, Ident(file, c.field ? c.field : "ARG"));
        tString function(c.function);
        tString replacement;
        tString suffix;
        EXPECT_EQ(file.MapFunction(function, argument.get(), replacement, suffix), c.translated);
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
