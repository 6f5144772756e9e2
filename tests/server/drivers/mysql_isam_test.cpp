// The MySQL table file's hooks without a server: which characters need CHAR(), the CONCAT
// literals, the row limit and the parameter marker, and the containment and substring forms
// that filters get, with operands made of filter nodes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "lib_common/commbuffer.h"
#include "server/drivers/mysql.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/recodbc_fixture.h"
#include "tests/server/support/testfilter.h"
#include "tests/server/support/testisam.h"
#include "tests/server/support/testprocess.h"

namespace {

using gmtest::Call;
using gmtest::Ident;
using gmtest::NodePtr;
using gmtest::NoSql;
using gmtest::Number;

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
        file = std::make_unique<gmtest::TrimmingMySQLFile>(&conn, def, reply, 7);
        record.assign(def->GetRecLen(), 0);
    }

    // The literal of the field holding value (cut to the field's length).
    // Unquoted, it is the plain text that an audit gets.
    std::string Literal(i16 fieldNo, const std::string& value, bool charFunctions = true,
                        bool quote = true) {
        const tField& field = *def->GetField(fieldNo);
        std::fill(record.begin(), record.end(), 0);
        std::memcpy(record.data() + field.GetOffset(), value.data(),
                    std::min<size_t>(value.size(), static_cast<size_t>(field.GetDataSize())));
        tString out;
        EXPECT_TRUE(file->ValueToSql(fieldNo, out, record.data(), quote, quote, charFunctions));
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
    EXPECT_EQ(Literal(1, "a\\b", false, false), "a\\b");
    EXPECT_EQ(Literal(0, "C:\\TEMP", false, false), "C:\\TEMP");
    EXPECT_EQ(Literal(3, "\\", false, false), "\\");
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
        {false, true, true, true, " LOCATE(TRIM('AB'),CODE)>0 AND LENGTH(TRIM('AB'))>0"},
        {true, true, true, true,
         " LOCATE(TRIM('AB'),TRIM(CODE))>0 AND LENGTH(TRIM('AB'))>0 AND LENGTH(TRIM(CODE))>0"},
        {false, false, false, true, nullptr},
        {false, false, true, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected ? c.expected : "(not translated)");
        NodePtr left = !c.leftTranslated ? NoSql(*file)
                       : c.leftFunction  ? Call(*file, "TRIM", Ident(*file, "CODE"))
                                         : Ident(*file, "CODE");
        NodePtr right = !c.rightTranslated ? NoSql(*file)
                        : c.rightFunction  ? Call(*file, "TRIM", gmtest::Literal(*file, "AB"))
                                           : gmtest::Literal(*file, "AB");
        tString out("X");
        EXPECT_EQ(file->ContainsExpr(out, *left, *right), c.expected != nullptr);
        EXPECT_EQ(Text(out), std::string("X") + (c.expected ? c.expected : ""));
    }
}

TEST_F(MySQLFile, SubstringWithoutLengthTakesTheRestOfTheField) {
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
        {"3", "2", false, " SUBSTRING(OTHER,3,2)"},
        {"11", nullptr, true, nullptr},
        {"0", nullptr, true, nullptr},
        {"VALOR", nullptr, true, nullptr},
        {"3", nullptr, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.start) + "/" + (c.length ? c.length : "-"));
        NodePtr text = Ident(*file, c.field ? "CODE" : "OTHER");  // OTHER is no field
        NodePtr start = c.start[0] == 'V' ? Ident(*file, c.start) : Number(*file, c.start);
        NodePtr length = c.length ? Number(*file, c.length) : nullptr;
        tString out;
        EXPECT_EQ(file->SubstrFunc(out, *text, *start, length.get()), c.expected != nullptr);
        EXPECT_EQ(Text(out), c.expected ? c.expected : "");
    }
    NodePtr text = Ident(*file, "CODE");
    NodePtr start = Number(*file, "3");
    NodePtr untranslated = NoSql(*file);
    tString out;
    EXPECT_FALSE(file->SubstrFunc(out, *text, *start, untranslated.get()));
    EXPECT_FALSE(file->SubstrFunc(out, *untranslated, *start, nullptr));
    EXPECT_EQ(Text(out), "");
}

// The connection's session start over the recording driver, where the probe for mscharindex can
// be answered either way, and what files of that connection then write.
class MySQLRecorded : public gmtest::RecordedODBC {
protected:
    static constexpr const char* kProbe =
        "select name from mysql.func where name ='mscharindex' and type = 'function'";

    std::unique_ptr<tMySQLConnection> Connected() {
        auto conn = std::make_unique<tMySQLConnection>("MYSQL", tString("RECDSN"), tString("gm"),
                                                       tString("pw"), loader);
        EXPECT_TRUE(conn->Connect());
        return conn;
    }
    // The contains form that a file of conn writes for TRIM(NOME) holding 'AB'.
    static std::string Contains(tMySQLConnection& conn, bool leftFunction) {
        tCommBuffer reply;
        std::unique_ptr<tGenericFile> file(
            conn.NewISAMFile(reply, gmtest::ClientesDefinition(), 1));
        auto& mysqlFile = static_cast<tMySQLISAMFile&>(*file);
        // The call's node asks a file that maps TRIM, which no MySQL file does by itself.
        gmtest::TrimmingMySQLFile trimming(&conn, gmtest::ClientesDefinition(), reply, 1);
        NodePtr left = leftFunction ? Call(trimming, "TRIM", Ident(trimming, "NOME"))
                                    : Ident(mysqlFile, "NOME");
        NodePtr right = gmtest::Literal(mysqlFile, "AB");
        tString out;
        EXPECT_TRUE(mysqlFile.ContainsExpr(out, *left, *right));
        return Text(out);
    }
};

TEST_P(MySQLRecorded, ContainsUsesMscharindexWhereTheServerHasIt) {
    rec.AddResult(kProbe);
    rec.AddColumn("name", SQL_VARCHAR, 64, 0, SQL_NO_NULLS);
    rec.AddRow();
    rec.AddValue("mscharindex");
    std::unique_ptr<tMySQLConnection> with = Connected();
    EXPECT_TRUE(with->HasCharIndex());
    EXPECT_EQ(Contains(*with, false), " mscharindex('AB',NOME)>0");
    EXPECT_EQ(Contains(*with, true), " mscharindex('AB',TRIM(NOME))>0 AND LENGTH(TRIM(NOME))>0");

    rec.AddResult(kProbe);  // no row: no such function
    rec.AddColumn("name", SQL_VARCHAR, 64, 0, SQL_NO_NULLS);
    std::unique_ptr<tMySQLConnection> without = Connected();
    EXPECT_FALSE(without->HasCharIndex());
    EXPECT_EQ(Contains(*without, false), " LOCATE('AB',NOME)>0");
}

TEST_P(MySQLRecorded, FailedProbeIsQuietAndTheConnectStands) {
    rec.FailNext(kProbe, "42000", 1142, "SELECT command denied to user 'gm' for table 'func'");
    std::unique_ptr<tMySQLConnection> conn = Connected();
    EXPECT_TRUE(conn->IsConnected());
    EXPECT_FALSE(conn->HasCharIndex());
    EXPECT_TRUE(process.LogEntries().empty());
    EXPECT_EQ(Text(conn->GetMemoType()), "text");
}

TEST_P(MySQLRecorded, MemoTypeFollowsTheEnvironmentsOwnSectionFirst) {
    const struct {
        const char* own;      // [MYSQL/RECDSN]
        const char* dbType;   // [MYSQL]
        const char* general;  // [General]
        const char* memoType;
    } cases[] = {
        {nullptr, nullptr, nullptr, "text"}, {nullptr, nullptr, "1", "longblob"},
        {nullptr, "1", "0", "longblob"},     {"0", "1", "1", "text"},
        {"1", "0", nullptr, "longblob"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.own ? c.own : "-") + (c.dbType ? c.dbType : "-") +
                     (c.general ? c.general : "-"));
        process.SetIni("MYSQL/RECDSN", "MemoAsBlob", c.own ? c.own : "");
        process.SetIni("MYSQL", "MemoAsBlob", c.dbType ? c.dbType : "");
        process.SetIni("General", "MemoAsBlob", c.general ? c.general : "");
        EXPECT_EQ(Text(Connected()->GetMemoType()), c.memoType);
    }
}

TEST_P(MySQLRecorded, RecordFetchIsPreparedWithAMarkerOnlyWhenTheConnectionPrepares) {
    for (const char* prepared : {"1", "0"}) {
        SCOPED_TRACE(prepared);
        process.SetIni("MYSQL", "PreparedStmt", prepared);
        std::unique_ptr<tMySQLConnection> conn = Connected();
        tCommBuffer reply;
        std::unique_ptr<tGenericFile> file(
            conn->NewISAMFile(reply, gmtest::ClientesDefinition(), 1));
        rec.ClearLog();
        file->GoTo(12, false);
        EXPECT_EQ(std::string(rec.Statements()),
                  *prepared == '1'
                      ? "SELECT * FROM CLIENTES TBL WHERE TBL.R_E_C_N_O_ = ? [1='12']\n"
                      : "SELECT * FROM CLIENTES TBL WHERE TBL.R_E_C_N_O_ = 12\n");
    }
}

INSTANTIATE_TEST_SUITE_P(BothModes, MySQLRecorded, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
