// Filters set on a table file: the plain filter's condition, "@" SQL and KEYFLD order, the
// extended levels, what a partial translation reports, and the client's text left as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "server/isam/gatemill.h"
#include "tests/server/support/testisam.h"
#include "tests/support/gmtest.h"

namespace {

class SetFilter : public ::testing::Test, public gmtest::IsamTestBed {
protected:
    // The filter conditions as the key cursors append them.
    std::string Where(gmtest::TestISAMFile& file) {
        conn.GetSqlBuffer() = "";
        file.AddFilterWhere(false);
        return conn.GetSqlBuffer().GetText();
    }
    // The custom order's fields, by name.
    std::string Order(tISAMFile& file) {
        const tIndexDefinition* index = file.GetOrder() == 0 ? file.GetCurrentIndex() : nullptr;
        if (!index) return "(none)";
        std::string names = std::string(index->GetName()) + ":";
        for (i32 i = 0; i < index->GetFieldCount(); ++i) {
            names += std::string(" ") + file.GetMirror().GetField(index->GetField(i))->GetName();
        }
        return names;
    }
    std::string LastError() {
        tString text;
        conn.GetLastErrorInfo(text);
        return text.GetText();
    }
};

TEST_F(SetFilter, TakesTheConditionTheOrderAndTheTranslatedFlag) {
    const struct {
        const char* expression;
        std::string where;
        bool translated;
        std::string order;
    } cases[] = {
        {"'VALOR *GT 10'", " WHERE (VALOR > 10)", true, "(none)"},
        {"@VALOR > 10 AND NOME = 'X'", " WHERE (VALOR > 10 AND NOME = 'X')", true, "(none)"},
        {"", "", true, "(none)"},
        {"'VALOR *GT 10' KEYFLD(NOME  CIDADE)", " WHERE (VALOR > 10)", true,
         "__CLIENTES__: NOME CIDADE R_E_C_N_O_"},
        // Only a KEYFLD clause: the order, no condition, and nothing translated.
        {"KEYFLD(CIDADE)", "", false, "__CLIENTES__: CIDADE R_E_C_N_O_"},
        {"no quote at all", "", false, "(none)"},
        // An unknown name ends the list; the names before it stay.
        {"'VALOR *GT 1' KEYFLD(CIDADE,NOPE NOME)", " WHERE (VALOR > 1)", true,
         "__CLIENTES__: CIDADE R_E_C_N_O_"},
        {"'VALOR *GT 1' KEYFLD(AAAAAAAAAABBBBBBBBBBCCCCCCCCCCDDDDDDDDDD)", " WHERE (VALOR > 1)",
         true, "__CLIENTES__: R_E_C_N_O_"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expression);
        auto file = MakeFile();
        bool translated = true;
        gmtest::ConsoleCapture console;
        // No current record: the file answers false and stands at the end.
        EXPECT_FALSE(file->SetFilter(c.expression, translated));
        EXPECT_TRUE(file->IsEof());
        EXPECT_EQ(Where(*file), c.where);
        EXPECT_EQ(translated, c.translated);
        EXPECT_EQ(Order(*file), c.order);
        const bool warned =
            console.Get().find("[WARNING] Invalid Field in SetOrderBy") != std::string::npos;
        EXPECT_EQ(warned, std::strstr(c.expression, "NOPE") || std::strstr(c.expression, "DDDD"));
    }
}

TEST_F(SetFilter, ReplacesTheLevelOnlyWhenTheConditionChanges) {
    auto file = MakeFile();
    file->AddFilter(2, "CIDADE = 'RIO'");
    bool translated = true;
    file->SetFilter("'VALOR *GT 10'", translated);
    EXPECT_TRUE(file->IsFilterChanged());
    file->SetFilterChanged(false);
    file->SetFilter("'VALOR *GT 10'", translated);
    EXPECT_FALSE(file->IsFilterChanged());
    file->SetFilter("'VALOR *LT 10'", translated);
    EXPECT_TRUE(file->IsFilterChanged());
    EXPECT_EQ(Where(*file), " WHERE (CIDADE = 'RIO') AND (VALOR < 10)");
    file->SetFilter("", translated);
    EXPECT_EQ(Where(*file), " WHERE (CIDADE = 'RIO')");
}

TEST_F(SetFilter, KeepsTheRecordItStandsOn) {
    auto file = MakeFile();
    file->GetCache().Reset(false);
    file->GetCache().SetCurrentRecno(77);
    ScriptRecnos({77});
    bool translated = true;
    EXPECT_TRUE(file->SetFilter("'VALOR *GT 10'", translated));
    EXPECT_FALSE(file->IsEof());
    EXPECT_EQ(file->GetRecno(), 77);
}

TEST_F(SetFilter, PartialTranslationWarnsWhenAskedAndTheClientTextStaysUnchanged) {
    process.SetIni("General", "WarningFilter", "1");
    const struct {
        const char* expression;
        std::string shown;  // the client text from its ninth character up to the last quote
    } cases[] = {
        {"'VALOR + 1 *GT 7'", " 1 *GT 7"}, {"'1+A'", ""},  // shorter than nine characters
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expression);
        auto file = MakeFile();
        const std::string given = c.expression;
        bool translated = true;
        file->SetFilter(given.c_str(), translated);
        EXPECT_EQ(given, c.expression);
        EXPECT_FALSE(translated);
        const std::string expected = "[WARNING] Filter expression not fully translated.\nFilter [" +
                                     c.shown + "] replaced as [";
        EXPECT_NE(LastError().find(expected), std::string::npos) << LastError();
        // The wider condition is kept.
        EXPECT_NE(Where(*file), "");
    }
}

TEST_F(SetFilter, ExtendedLevelsTranslateOrRefuseAndChangeNothing) {
    auto file = MakeFile();
    file->AddFilter(0, "VALOR > 10");
    file->AddFilter(2, "CIDADE = 'RIO'");
    const struct {
        i16 level;
        const char* expression;
        const char* error;
    } refused[] = {
        {1, "'NOME *EQ \"A\"' KEYFLD(NOME)", "Unsupported Key field in FilterEX."},
        {1, "@NOME = 'A'", "Invalid use of SQL expression in FilterEX."},
        {0, "", "Invalid level in FilterEX."},
        {2, "'VALOR > 1'", "[ERROR] Filter Extended Error.\nExpression ['VALOR > 1']"},
        {2, "'VALOR + 1 *GT 2'", "[ERROR] Filter Extended Error.\nExpression ['VALOR + 1 *GT 2']"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.expression);
        tString translated;
        EXPECT_EQ(file->SetFilterEx(c.level, c.expression, translated), -19);
        const std::string expected =
            std::string("GML Error -19 - ") + c.error + " ( From tISAMFile::SetFilterEx )";
        EXPECT_EQ(LastError().rfind(expected, 0), 0u) << LastError();
        EXPECT_EQ(translated, "");
        EXPECT_FALSE(file->IsFilterChanged());
    }
    tString translated;
    const std::string given = "'VALOR *LT 99'";
    EXPECT_EQ(file->SetFilterEx(1, given.c_str(), translated), 0);
    EXPECT_EQ(given, "'VALOR *LT 99'");
    EXPECT_EQ(translated, "VALOR < 99");
    EXPECT_TRUE(file->IsFilterChanged());
    EXPECT_EQ(Where(*file), " WHERE (VALOR > 10) AND (CIDADE = 'RIO') AND (VALOR < 99)");
    file->SetFilterChanged(false);
    EXPECT_EQ(file->SetFilterEx(3, "", translated), 0) << "no such level: nothing to remove";
    EXPECT_FALSE(file->IsFilterChanged());
    EXPECT_EQ(file->SetFilterEx(2, "", translated), 0);
    EXPECT_TRUE(file->IsFilterChanged());
    EXPECT_EQ(Where(*file), " WHERE (VALOR > 10) AND (VALOR < 99)");
}

}  // namespace
