// Seek of a table file over the recording ODBC driver: the key queries of exact and soft seeks,
// how much of the key a length covers, the server-side comparison of the first row, and where
// the file stands afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "lib_common/retcodes.h"
#include "server/isam/gatemill.h"
#include "tests/server/support/recordedisam.h"

namespace {

constexpr const char* kByName = " ORDER BY NOME,CIDADE,R_E_C_N_O_";

class Seek : public gmtest::RecordedTableFile {
protected:
    // The key NOME, CIDADE (and VALOR) laid out in the incoming record.
    void Key(const char* nome, const char* cidade, f64 valor = 0.0) {
        char* record = file->IncomingRecord();
        std::memset(record, 0, 36);
        std::memcpy(record, nome, std::strlen(nome));
        std::memcpy(record + 10, cidade, std::strlen(cidade));
        std::memcpy(record + 18, &valor, sizeof valor);
    }
    // A seek query's rows: record number, mark and the key columns given.
    void ScriptSeek(const std::string& sql, const std::vector<std::vector<const char*>>& rows,
                    const std::vector<const char*>& keys = {"NOME", "CIDADE"}) {
        rec.AddResult(sql.c_str());
        rec.AddColumn("R_E_C_N_O_", SQL_DOUBLE, 15, 0, SQL_NULLABLE);
        rec.AddColumn("D_E_L_E_T_", SQL_CHAR, 1, 0, SQL_NULLABLE);
        for (const char* key : keys) {
            rec.AddColumn(key, std::strcmp(key, "VALOR") ? SQL_CHAR : SQL_DOUBLE, 10, 0,
                          SQL_NULLABLE);
        }
        for (const auto& row : rows) {
            rec.AddRow();
            for (const char* value : row) rec.AddValue(value);
        }
    }
};

TEST_P(Seek, KeyLengthCoversLeadingFieldsButNeverTheRecordNumber) {
    bool exact = true;
    EXPECT_EQ(file->KeyFieldsCovered(2, 0, exact), 0) << "record-number order";
    EXPECT_FALSE(exact);
    EXPECT_EQ(file->TotalKeyLength(), 0);
    ASSERT_EQ(file->SetOrder(1), RC_OK);
    EXPECT_EQ(file->TotalKeyLength(), 18);
    const struct {
        i16 keyFields, keyLength, covered;
        bool exact;
    } cases[] = {
        {2, 0, 2, false},  // the whole key is compared field by field, never exact
        {1, 10, 1, true},
        {1, 4, 1, false},
        // the key reaches into the next field
        {1, 12, 2, false},
        {5, 0, 2, false},
        {2, 18, 2, true},
        {5, 40, 2, false},
        {0, 18, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.keyFields) + "/" + std::to_string(c.keyLength));
        EXPECT_EQ(file->KeyFieldsCovered(c.keyFields, c.keyLength, exact), c.covered);
        EXPECT_EQ(exact, c.exact);
    }
    ASSERT_EQ(file->SetOrder(2), RC_OK);
    EXPECT_EQ(file->TotalKeyLength(), 9) << "a number takes its 8 record bytes";
}

TEST_P(Seek, ExactSeekFindsTheRowAndSkipsGoOnFromIt) {
    ASSERT_EQ(file->SetOrder(1), RC_OK);
    const std::string head =
        "SELECT R_E_C_N_O_, D_E_L_E_T_, NOME, CIDADE FROM CLIENTES WHERE  NOME = 'C5        ' "
        "AND CIDADE  ";
    const std::string exact = head + "= 'RIO     '" + kByName;
    const std::string whole = head + ">= 'RIO     '" + kByName;
    const struct {
        i16 keyFields, keyLength;  // a third key field would be the record number
        const std::string& query;
    } cases[] = {{2, 18, exact}, {3, 18, exact}, {2, 0, whole}, {3, 0, whole}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.keyFields) + "/" + std::to_string(c.keyLength));
        const std::string& query = c.query;
        file = MakeFile(def);
        ASSERT_EQ(file->SetOrder(1), RC_OK);
        Key("C5", "RIO");
        ScriptSeek(query, {{"5", " ", "C5", "RIO"}, {"8", " ", "C5        ", "RIO"}});
        ScriptRecord(5);
        EXPECT_EQ(file->Seek(c.keyFields, c.keyLength, 0), RC_OK);
        EXPECT_EQ(Ran(), (std::vector<std::string>{query, Fetched(5)}));
        EXPECT_EQ(file->GetRecno(), 5.0);
        EXPECT_TRUE(Found());
        EXPECT_FALSE(Bof() || Eof());
    }
    const auto& last = session.traces;
    const bool traced = std::any_of(last.begin(), last.end(), [](const auto& t) {
        return t.label == "tISAMFile::Seek" && t.text == "-- Load [1] record(s) to IsamCache";
    });
    EXPECT_TRUE(traced) << "the row after the found one is loaded under the seek";
    ScriptRecord(8);
    EXPECT_TRUE(file->Skip(1));
    EXPECT_EQ(Ran(), std::vector<std::string>{Fetched(8)}) << "the rest of the query is loaded";
}

TEST_P(Seek, SeekThatIsNotSoftFindsNothingElse) {
    ASSERT_EQ(file->SetOrder(1), RC_OK);
    const struct {
        const char* name;
        i16 keyFields, keyLength;
        std::string query;
        std::vector<std::vector<const char*>> rows;
    } cases[] = {
        {"no row",
         1,
         10,
         "SELECT R_E_C_N_O_, D_E_L_E_T_, NOME FROM CLIENTES WHERE  NOME  = 'C6        '" +
             std::string(kByName),
         {}},
        {"the first row has another key",
         1,
         4,
         "SELECT R_E_C_N_O_, D_E_L_E_T_, NOME FROM CLIENTES WHERE  NOME  >= 'C6        '" +
             std::string(kByName),
         {{"7", " ", "C7"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Key("C6", "");
        ScriptSeek(c.query, c.rows, {"NOME"});
        EXPECT_EQ(file->Seek(c.keyFields, c.keyLength, 0), RC_NO_RECORD);
        EXPECT_EQ(Ran(), std::vector<std::string>{c.query});
        EXPECT_TRUE(Eof());
        EXPECT_FALSE(Found());
    }
}

TEST_P(Seek, FailedQueryEndsASeekThatIsNotSoft) {
    ASSERT_EQ(file->SetOrder(1), RC_OK);
    const std::string both =
        "SELECT R_E_C_N_O_, D_E_L_E_T_, NOME, CIDADE FROM CLIENTES WHERE  NOME = 'C5        ' "
        "AND CIDADE  >= 'SAO PAUL'" +
        std::string(kByName);
    const std::string nameOnly =
        "SELECT R_E_C_N_O_, D_E_L_E_T_, NOME FROM CLIENTES WHERE  NOME  = 'C5        '" +
        std::string(kByName);
    // The query on the name alone would find a row of any city: answering it found would be a
    // row with another key than the one asked for.
    Key("C5", "SAO PAULO");
    rec.FailNext(both.c_str(), "54001", 1, "ERROR: stack depth limit exceeded");
    ScriptSeek(nameOnly, {{"5", " ", "C5"}}, {"NOME"});
    ScriptRecord(5);
    EXPECT_EQ(file->Seek(2, 0, 0), RC_NO_RECORD);
    EXPECT_EQ(Ran(), std::vector<std::string>{both});
    EXPECT_TRUE(Eof());
    EXPECT_FALSE(Found());
}

TEST_P(Seek, SoftSeekStandsOnTheNextGreaterKeyOrPastTheEnd) {
    ASSERT_EQ(file->SetOrder(1), RC_OK);
    const std::string wide =
        "SELECT R_E_C_N_O_, D_E_L_E_T_, NOME, CIDADE FROM CLIENTES WHERE  NOME = 'C6        ' "
        "AND CIDADE  >= 'RIO     '" +
        std::string(kByName);
    const std::string narrow =
        "SELECT R_E_C_N_O_, D_E_L_E_T_, NOME FROM CLIENTES WHERE  NOME  >  'C6        '" +
        std::string(kByName);
    Key("C6", "RIO");
    ScriptSeek(wide, {});
    ScriptSeek(narrow, {{"7", " ", "C7"}, {"9", " ", "C8"}}, {"NOME"});
    ScriptRecord(7);
    EXPECT_EQ(file->Seek(2, 0, 1), RC_SOFT_SEEK_GREATER);
    EXPECT_EQ(Ran(), (std::vector<std::string>{wide, narrow, Fetched(7)}));
    EXPECT_EQ(file->GetRecno(), 7.0);
    EXPECT_FALSE(Eof() || Found());

    ScriptSeek(wide, {{"6", " ", "C6", "RIO"}});
    ScriptRecord(6);
    EXPECT_EQ(file->Seek(2, 0, 1), RC_OK);
    EXPECT_EQ(file->GetRecno(), 6.0);
    EXPECT_FALSE(Found()) << "a soft seek leaves FOUND clear";
    Ran();

    ScriptSeek(wide, {});
    ScriptSeek(narrow, {}, {"NOME"});
    EXPECT_EQ(file->Seek(2, 0, 1), RC_NO_RECORD);
    EXPECT_EQ(Ran(), (std::vector<std::string>{wide, narrow}));
    EXPECT_TRUE(Eof());
}

TEST_P(Seek, NumberKeyMatchesWithinItsDecimals) {
    const std::string query =
        "SELECT R_E_C_N_O_, D_E_L_E_T_, VALOR FROM CLIENTES WHERE  VALOR  = 7.5000000000 "
        "ORDER BY VALOR,D_E_L_E_T_,R_E_C_N_O_";
    const struct {
        const char* fetched;
        i16 code;
    } cases[] = {{"7.5004", RC_OK}, {"7.4996", RC_OK}, {"7.502", RC_NO_RECORD}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fetched);
        file = MakeFile(def);
        ASSERT_EQ(file->SetOrder(2), RC_OK);
        Key("", "", 7.5);
        ScriptSeek(query, {{"5", " ", c.fetched}}, {"VALOR"});
        if (c.code == RC_OK) ScriptRecord(5);
        EXPECT_EQ(file->Seek(1, 8, 0), c.code);
        EXPECT_EQ(Ran().front(), query);
    }
}

TEST_P(Seek, RecordNumberOrderAnswersNotFoundWithoutSql) {
    Key("C5", "RIO");
    EXPECT_EQ(file->Seek(2, 0, 0), RC_NO_RECORD);
    EXPECT_EQ(file->Seek(2, 0, 1), RC_NO_RECORD);
    EXPECT_EQ(Ran(), std::vector<std::string>{});
    EXPECT_TRUE(Eof());
}

INSTANTIATE_TEST_SUITE_P(BothModes, Seek, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
