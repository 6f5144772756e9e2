// The MySQL table file's hooks without a server: which characters need CHAR(), the CONCAT
// literals, the row limit and the parameter marker, and the containment and substring forms
// that filters get, with test operands standing in for the filter translation.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "lib_common/commbuffer.h"
#include "server/dispatch/dbtable.h"
#include "server/drivers/mysql.h"
#include "tests/server/support/testfilter.h"
#include "tests/server/support/testprocess.h"

namespace {

using gmtest::TestElement;

std::string Text(const tString& s) { return s.GetText(); }

class MySQLFile : public ::testing::Test {
protected:
    MySQLFile() {
        def->AddField("CODE", 'C', 10, 0, true, true);   // offset 0
        def->AddField("SHORT", 'C', 5, 0, true, true);   // 10
        def->AddField("BORN", 'D', 8, 0, true, true);    // 15
        def->AddField("ACTIVE", 'L', 1, 0, true, true);  // 23
        def->AddField("VALOR", 'N', 12, 2, true, true);  // 24
        def->AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
        def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
        conn.SetRowCount(0);
        file = std::make_unique<tMySQLISAMFile>(&conn, def, reply, 7);
        record.assign(def->GetRecLen(), 0);
    }

    // The literal of the field holding value (cut to the field's length).
    std::string Literal(i16 fieldNo, const std::string& value, bool charFunctions = true) {
        const tField& field = *def->GetField(fieldNo);
        std::fill(record.begin(), record.end(), 0);
        std::memcpy(record.data() + field.GetOffset(), value.data(),
                    std::min<size_t>(value.size(), static_cast<size_t>(field.GetDataSize())));
        tString out;
        EXPECT_TRUE(file->ValueToSql(fieldNo, out, record.data(), true, true, charFunctions));
        return Text(out);
    }

    gmtest::TestDBProcess process;
    tMySQLConnection conn{"MYSQL", "nowhere", "user", "secret"};
    std::shared_ptr<tTableDefinitionShared> def =
        std::make_shared<tTableDefinitionShared>("SA1010", "nowhere");
    tCommBuffer reply;
    std::unique_ptr<tMySQLISAMFile> file;
    std::vector<char> record;
};

TEST_F(MySQLFile, CharactersThatNeedCharAreControlsHighBytesQuoteAndBackslash) {
    for (int c = 0; c < 256; ++c) {
        SCOPED_TRACE(c);
        const bool expected = c < 32 || c > 125 || c == '\'' || c == '\\';
        EXPECT_EQ(file->NeedsCharFunc(static_cast<char>(c)), expected);
    }
}

TEST_F(MySQLFile, ValuesWithSuchCharactersBecomeConcatLiterals) {
    const struct {
        i16 field;
        std::string value;
        bool charFunctions;
        std::string literal;
    } cases[] = {
        {0, "AB'C", true, "CONCAT('AB',CHAR(39),'C','      ')"},
        {0,
         "\x01"
         "AB",
         true, "CONCAT(CHAR(1),'AB','       ')"},
        {1, "AB\nDE", true, "CONCAT('AB',CHAR(10),'DE')"},  // a full field: no blank run
        {1, "caf\xc8", true, "CONCAT('caf',CHAR(200),'',' ')"},
        {1, "AB\x01", true, "CONCAT('AB',CHAR(1),'','  ')"},
        {1, "\x01\x02", true, "CONCAT(CHAR(1),'',CHAR(2),'','   ')"},
        {1, "a\\b", true, "CONCAT('a',CHAR(92),'b','  ')"},
        {0, "PLAIN", true, "'PLAIN     '"},
        {0, "", true, "'          '"},
        {0, "AB'C", false, "'AB''C      '"},
        {1, "a\\b", false, "CONCAT('a',CHAR(92),'b','  ')"},  // never a bare backslash
        {2, "2024\\131", true, "CONCAT('2024',CHAR(92),'131')"},
        {2, "20240131", true, "'20240131'"},
        {3, " ", true, "'F'"},
        {3, "\\", true, "CONCAT(CHAR(92),'')"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.literal);
        EXPECT_EQ(Literal(c.field, c.value, c.charFunctions), c.literal);
    }
}

TEST_F(MySQLFile, NumbersAreWrittenByTheBase) {
    const f64 value = 12.345;
    std::memcpy(record.data() + def->GetField(4)->GetOffset(), &value, sizeof value);
    tString out;
    ASSERT_TRUE(file->ValueToSql(4, out, record.data(), true, true, true));
    EXPECT_EQ(Text(out), "12.3500000000");
}

TEST_F(MySQLFile, OpeningSetsTheRowLimitThatKeyCursorsUse) {
    EXPECT_EQ(conn.GetRowCount(), 40);
    tString& sql = conn.GetSqlBuffer();
    sql = "SELECT R_E_C_N_O_ FROM SA1010";
    file->AddRowLimit();
    EXPECT_EQ(Text(sql), "SELECT R_E_C_N_O_ FROM SA1010 LIMIT 40");
    conn.SetRowCount(250);
    sql = "SELECT * FROM SA1010 TBL WHERE TBL.R_E_C_N_O_";
    file->RecnoParamMarker();
    EXPECT_EQ(Text(sql), "SELECT * FROM SA1010 TBL WHERE TBL.R_E_C_N_O_ = ?");
    file->AddRowLimit();
    EXPECT_EQ(Text(sql), "SELECT * FROM SA1010 TBL WHERE TBL.R_E_C_N_O_ = ? LIMIT 250");
}

TEST_F(MySQLFile, ContainsLocatesTheRightOperandInTheLeft) {
    const struct {
        bool leftFunction, rightFunction, leftTranslated, rightTranslated;
        const char* expected;  // null: not translated
    } cases[] = {
        {false, false, true, true, " LOCATE('AB',CODE)>0"},
        {true, false, true, true, " LOCATE('AB',TRIM(CODE))>0 AND LENGTH(TRIM(CODE))>0"},
        {false, true, true, true, " LOCATE('AB',CODE)>0 AND LENGTH('AB')>0"},
        {true, true, true, true,
         " LOCATE('AB',TRIM(CODE))>0 AND LENGTH('AB')>0 AND LENGTH(TRIM(CODE))>0"},
        {false, false, false, true, nullptr},
        {false, false, true, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected ? c.expected : "(not translated)");
        TestElement left(c.leftFunction ? "TRIM(CODE)" : "CODE", c.leftTranslated);
        TestElement right("'AB'", c.rightTranslated);
        if (c.leftFunction) left.AsFunction();
        if (c.rightFunction) right.AsFunction();
        tString out("X");
        EXPECT_EQ(file->ContainsExpr(out, left, right), c.expected != nullptr);
        EXPECT_EQ(Text(out), std::string("X") + (c.expected ? c.expected : ""));
    }
}

TEST_F(MySQLFile, SubstringWithoutLengthTakesTheRestOfTheField) {
    tField* code = def->GetField(0);  // C 10
    const struct {
        const char* start;
        const char* length;  // null: none given
        bool field;
        const char* expected;  // null: not translated
    } cases[] = {
        {"3", nullptr, true, " SUBSTRING(CODE,3,8)"},
        {"1", nullptr, true, " SUBSTRING(CODE,1,10)"},
        {"10", nullptr, true, " SUBSTRING(CODE,10,1)"},
        {"3", "2", true, " SUBSTRING(CODE,3,2)"},
        {"3", "2", false, " SUBSTRING(CODE,3,2)"},
        {"11", nullptr, true, nullptr},
        {"0", nullptr, true, nullptr},
        {"VALOR", nullptr, true, nullptr},
        {"1+2", nullptr, true, nullptr},
        {"3", nullptr, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.start) + "/" + (c.length ? c.length : "-"));
        TestElement text("CODE");
        if (c.field) text.StandingFor(code);
        TestElement start(c.start);
        std::unique_ptr<TestElement> length(c.length ? new TestElement(c.length) : nullptr);
        tString out;
        EXPECT_EQ(file->SubstrFunc(out, text, start, length.get()), c.expected != nullptr);
        EXPECT_EQ(Text(out), c.expected ? c.expected : "");
    }
    TestElement text("CODE");
    TestElement start("3");
    TestElement untranslated("X", false);
    tString out;
    EXPECT_FALSE(file->SubstrFunc(out, text, start, &untranslated));
    EXPECT_FALSE(file->SubstrFunc(out, untranslated, start, nullptr));
    EXPECT_EQ(Text(out), "");
}

}  // namespace
