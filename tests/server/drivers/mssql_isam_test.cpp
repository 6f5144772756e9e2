// The SQL Server table file: whole client filters translated through its hooks (CHAR() codes,
// CHARINDEX, SUBSTRING and the function names), and the prepared record fetch.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/registry.h"
#include "server/drivers/mssql.h"
#include "tests/server/support/recodbc_fixture.h"
#include "tests/server/support/testisam.h"
#include "tests/support/tempdir.h"

namespace {

// F1 C 10, A N 10,2, NAME C 20, D1 D 8, OK L 1, TWO C 2.
std::shared_ptr<tTableDefinitionShared> FilteredDefinition() {
    auto def = std::make_shared<tTableDefinitionShared>("FILTRADA", "PRODUCAO");
    def->AddField("F1", 'C', 10, 0, true, true);
    def->AddField("A", 'N', 10, 2, true, true);
    def->AddField("NAME", 'C', 20, 0, true, true);
    def->AddField("D1", 'D', 8, 0, true, true);
    def->AddField("OK", 'L', 1, 0, true, true);
    def->AddField("TWO", 'C', 2, 0, true, true);
    def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
    def->AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    return def;
}

class MSSQLFilter : public ::testing::Test, public gmtest::IsamTestBed {
protected:
    MSSQLFilter() : file(&conn, FilteredDefinition(), reply, session.threadId) {}

    std::string Translate(const std::string& filter) {
        return gmtest::TranslateFilter(file, filter);
    }

    tMSSQLISAMFile file;
};

TEST_F(MSSQLFilter, WholeFiltersUseTheDialectsForms) {
    const struct {
        const char* filter;
        std::string sql;
    } cases[] = {
        // Control characters first, inside and last in a literal.
        {"NAME *EQ \"\x01"
         "ab\"",
         "NAME = CHAR(1) + 'ab'"},
        {"NAME *EQ \"a\x02"
         "b\"",
         "NAME = 'a' +CHAR(2) + 'b'"},
        {"NAME *EQ \"ab\x03\"", "NAME = 'ab' +CHAR(3)"},
        {"NAME *EQ \"it's\"", "NAME = 'it' +CHAR(39) + 's'"},
        // Containment: character fields longer than 2 at their full width.
        {"NAME *CT 'ab'", "CHARINDEX('ab',CONVERT(CHAR(20),NAME))>0 "},
        {"'ab' *CT F1", "CHARINDEX(CONVERT(CHAR(10),F1),'ab')>0 "},
        {"TWO *CT 'a'", "CHARINDEX('a',TWO)>0 "},
        // Substrings; without a length the rest of the field.
        {"%SST(NAME 2 3) *EQ 'abc'", " SUBSTRING(NAME,2,3) = 'abc'"},
        {"%SST(F1 3) *EQ 'ab'", " SUBSTRING(F1,3,8) = 'ab'"},
        {"%SST(F1 11) *EQ 'ab'", "(fallback)"},
        {"%SST(F1 0) *EQ 'ab'", "(fallback)"},
        // Function names.
        {"trim(NAME) *EQ 'x'", "RTRIM(LTRIM(NAME)) = 'x'"},
        {"LOWER(NAME) *EQ 'x'", "LOWER(NAME) = 'x'"},
        {"CHR(A) *EQ 'x'", "CHAR(A) = 'x'"},
        {"ASC(NAME) *EQ 65", "ASCII(NAME) = 65"},
        {"STRTRAN(NAME, 'a', 'b') *EQ 'x'", "REPLACE(NAME,'a','b') = 'x'"},
        {"ROUND(A, 2) *EQ 1", "(fallback)"},
        {"LEN(NAME) *EQ 1", "(fallback)"},
        {"VAL(NAME) *EQ 1", "(fallback)"},
        {"DTOS(D1) *EQ 'x'", "(fallback)"},
        // EMPTY by the field's type.
        {"EMPTY(F1)", "F1 = '          '"},
        {"EMPTY(D1)", "D1 = '        '"},
        {"EMPTY(A)", "ROUND(A,2) = 0.0 "},
        {"EMPTY(OK)", "OK = 'F'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter);
        EXPECT_EQ(Translate(c.filter), c.sql);
    }
}

// A file whose order hook leaves a mark, to show where the record fetch applies it.
class MarkedFile : public tMSSQLISAMFile {
public:
    using tMSSQLISAMFile::tMSSQLISAMFile;
    void AddAfterOrder() override { sql += " OPTION (FAST 1)"; }
};

class MSSQLFetch : public gmtest::RecordedODBC {
protected:
    void SetUp() override {
        RecordedODBC::SetUp();
        plat::SetRegistryFile(dir.File("registry.ini"));
    }
    void TearDown() override { plat::SetRegistryFile(""); }
    gmtest::TempDir dir;
};

TEST_P(MSSQLFetch, RecordFetchIsPreparedWithTheMarkerBeforeTheOrderHook) {
    for (const char* prepared : {"1", "0"}) {
        SCOPED_TRACE(prepared);
        process.SetIni("MSSQL", "PreparedStmt", prepared);
        rec.AddResult("select substring(@@version,charindex('-',@@version)+2,2)");
        rec.AddColumn("V", SQL_VARCHAR, 10, 0, SQL_NULLABLE);
        rec.AddRow();
        rec.AddValue("8.");
        rec.AddResult("SELECT @@SPID AS PARAM_SESSION");
        rec.AddColumn("S", SQL_INTEGER, 10, 0, SQL_NULLABLE);
        rec.AddRow();
        rec.AddValue("53");
        tMSSQLConnection conn("MSSQL", tString("RECDSN"), tString("gm"), tString("pw"), loader);
        ASSERT_TRUE(conn.Connect());
        tCommBuffer reply;
        MarkedFile file(&conn, gmtest::ClientesDefinition(), reply, 1);
        rec.ClearLog();
        file.GoTo(12, false);
        EXPECT_EQ(std::string(rec.Statements()),
                  *prepared == '1'
                      ? "SELECT * FROM dbo.CLIENTES TBL WHERE TBL.R_E_C_N_O_ = ? OPTION (FAST 1) "
                        "[1='12']\n"
                      : "SELECT * FROM dbo.CLIENTES TBL WHERE TBL.R_E_C_N_O_ = 12 OPTION (FAST "
                        "1)\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, MSSQLFetch, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
