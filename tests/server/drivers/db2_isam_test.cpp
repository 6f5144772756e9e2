// The DB2 table file: whole client filters through its hooks (CHR() codes, LOCATE with its
// length guards, SUBSTR and the DB2 function names), the row limit and read-only clause after
// the key cursor's ORDER BY, the sentinel bounds of a cursor without key conditions, and the key
// cursor and prepared record fetch over the recording driver.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "lib_common/commbuffer.h"
#include "server/drivers/db2.h"
#include "tests/server/support/db2conn.h"
#include "tests/server/support/testisam.h"

namespace {

using gmtest::Lines;

// NAME C 10, PRICE N 12,2, DT D 8, OK L 1, NOTE M 10.
std::shared_ptr<tTableDefinitionShared> Db2Definition() {
    auto def = std::make_shared<tTableDefinitionShared>("ITEMS", "PRODUCAO");
    def->AddField("NAME", 'C', 10, 0, true, true);
    def->AddField("PRICE", 'N', 12, 2, true, true);
    def->AddField("DT", 'D', 8, 0, true, true);
    def->AddField("OK", 'L', 1, 0, true, true);
    def->AddField("NOTE", 'M', 10, 0, true, true);
    def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
    def->AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    return def;
}

// The file with its statement text open to the test.
class OpenDB2File : public tDB2ISAMFile {
public:
    using tDB2ISAMFile::tDB2ISAMFile;
    std::string AfterOrder() {
        sql = "";
        AddAfterOrder();
        return sql.GetText();
    }
    std::string Bounds(i32 keyFields, const tIndexDefinition* index, bool backward, bool whereOpen,
                       bool& where) {
        sql = "";
        where = AddKeyBounds(keyFields, index, 0, backward, whereOpen);
        return sql.GetText();
    }
};

class DB2File : public ::testing::Test, public gmtest::IsamTestBed {
protected:
    DB2File() : file(&conn, Db2Definition(), reply, session.threadId) {}
    OpenDB2File file;
};

TEST_F(DB2File, WholeFiltersUseTheDialectsForms) {
    const struct {
        const char* filter;
        std::string sql;
    } cases[] = {
        // Characters that cannot stand in a literal, the quote included.
        {"NAME *EQ \"ab\x01"
         "c\"",
         "NAME = 'ab' || CHR(1) || 'c'"},
        {"NAME *EQ \"it's\"", "NAME = 'it' || CHR(39) || 's'"},
        {"NAME *EQ \"\x01\x02\"", "NAME =  CHR(1) ||  CHR(2)"},
        {"NAME *EQ \"a\xe9\"", "NAME = 'a' || CHR(233)"},
        // Containment, with the length of a function operand above 0.
        {"NAME *CT 'ab'", "LOCATE('ab',NAME)>0"},
        {"'ab' *CT NAME", "LOCATE(NAME,'ab')>0"},
        {"TRIM(NAME) *CT 'ab'",
         "LOCATE('ab',RTRIM(LTRIM(NAME)))>0 AND LENGTH(RTRIM(LTRIM(NAME)))>0"},
        {"NAME *CT LOWER(DT)", "LOCATE(LCASE(DT),NAME)>0 AND LENGTH(LCASE(DT))>0"},
        // Substrings; without a length the rest of the field.
        {"%SST(NAME 2 3) *EQ 'abc'", " SUBSTR(NAME,2,3) = 'abc'"},
        {"%SST(NAME 3) *EQ 'ab'", " SUBSTR(NAME,3,8) = 'ab'"},
        {"%SST(NAME 11) *EQ 'ab'", "(fallback)"},
        // Function names.
        {"LOWER(NAME) *EQ 'x'", "LCASE(NAME) = 'x'"},
        {"upper(NAME) *EQ 'X'", "UCASE(NAME) = 'X'"},
        {"TRIM(NAME) *EQ 'x'", "RTRIM(LTRIM(NAME)) = 'x'"},
        {"LEN(NAME) *EQ 1", "LENGTH(NAME) = 1"},
        {"ASC(NAME) *EQ 65", "ASCII(NAME) = 65"},
        {"STRTRAN(NAME, 'a', 'b') *EQ 'x'", "REPLACE(NAME,'a','b') = 'x'"},
        {"ROUND(PRICE, 2) *EQ 1", "(fallback)"},
        {"CHR(PRICE) *EQ 'x'", "(fallback)"},
        {"VAL(NAME) *EQ 1", "(fallback)"},
        // EMPTY by the field's type.
        {"EMPTY(NAME)", "NAME = '          '"},
        {"EMPTY(PRICE)", "ROUND(PRICE,2) = 0.0 "},
        {"EMPTY(OK)", "OK = 'F'"},
        {"EMPTY(NOTE)", "(fallback)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter);
        EXPECT_EQ(gmtest::TranslateFilter(file, c.filter), c.sql);
    }
}

TEST_F(DB2File, RowLimitAndReadOnlyFollowTheOrder) {
    EXPECT_EQ(conn.GetRowCount(), 40);  // set by the file
    EXPECT_EQ(file.AfterOrder(), " FETCH FIRST 40 ROWS ONLY OPTIMIZE FOR 40 ROWS FOR READ ONLY");
    conn.SetRowCount(250);
    EXPECT_EQ(file.AfterOrder(), " FETCH FIRST 250 ROWS ONLY OPTIMIZE FOR 250 ROWS FOR READ ONLY");
    conn.SetRowCount(0);
    EXPECT_EQ(file.AfterOrder(), " FOR READ ONLY");
}

TEST_F(DB2File, KeyBoundsSpanTheFirstKeyFieldsValues) {
    const struct {
        i16 field;
        bool backward;
        std::string sql;
    } cases[] = {
        {1, true, " WHERE  PRICE <= 999999999999999"},
        {1, false, " WHERE  PRICE >= -999999999999999"},
        {0, true, " WHERE  NAME <= chr(255)"},
        {0, false, " WHERE  NAME >= chr(0)"},
        {2, true, " WHERE  DT <= chr(255)"},
        {3, false, " WHERE  OK >= chr(0)"},
    };
    bool where = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        const auto index = gmtest::MakeIndex("I", {c.field, 5});
        EXPECT_EQ(file.Bounds(0, index.get(), c.backward, false, where), c.sql);
        EXPECT_TRUE(where);
    }
    // With key conditions nothing is added.
    const auto index = gmtest::MakeIndex("I", {0, 5});
    EXPECT_EQ(file.Bounds(1, index.get(), true, true, where), "");
    EXPECT_TRUE(where);
    EXPECT_EQ(file.Bounds(2, index.get(), false, false, where), "");
    EXPECT_FALSE(where);
}

class DB2Cursor : public gmtest::RecordedDB2 {
protected:
    tCommBuffer reply;
};

TEST_P(DB2Cursor, KeyCursorsStopEarlyAndTheRecordFetchBindsItsNumber) {
    auto conn = Connected();
    OpenDB2File file(conn.get(), gmtest::ClientesDefinition(), reply, 1);
    file.GoTo(12, false);
    file.GoTop();
    ASSERT_EQ(file.SetOrder(2), 0);  // CLI2: VALOR, D_E_L_E_T_, R_E_C_N_O_
    file.GoBottom();
    EXPECT_EQ(rec.Statements(),
              Lines({"SELECT * FROM ADMIN.CLIENTES TBL WHERE TBL.R_E_C_N_O_ = ? [1='12']",
                     "SELECT R_E_C_N_O_ FROM ADMIN.CLIENTES WHERE R_E_C_N_O_  > 0 ORDER BY "
                     "R_E_C_N_O_ FETCH FIRST 40 ROWS ONLY OPTIMIZE FOR 40 ROWS FOR READ ONLY",
                     "SELECT R_E_C_N_O_ FROM ADMIN.CLIENTES WHERE  VALOR <= 999999999999999 "
                     "ORDER BY VALOR DESC ,D_E_L_E_T_ DESC ,R_E_C_N_O_ DESC  FETCH FIRST 40 ROWS "
                     "ONLY OPTIMIZE FOR 40 ROWS FOR READ ONLY"}));
}

INSTANTIATE_TEST_SUITE_P(Modes, DB2Cursor, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
