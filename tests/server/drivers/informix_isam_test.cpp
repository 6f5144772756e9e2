// The Informix statement and table file: character values padded to their column size, stored
// procedures through the call escape with their result row as outputs, and the table file's
// hooks: literals, the key cursor's columns, the bound record fetch, the index space and whole
// client filters.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "server/drivers/informix.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/informixconn.h"
#include "tests/server/support/odbcdialect.h"
#include "tests/server/support/recodbc_fixture.h"
#include "tests/server/support/testisam.h"

namespace {

using tValues = tAutoArray<tDATAField>;

void AddText(tValues& values, const char* text) {
    auto f = std::make_unique<tCharField>("", 'C', static_cast<i16>(std::strlen(text)), 0);
    f->SetData(text, std::strlen(text));
    values.Add(f.release());
}

void AddNumber(tValues& values, f64 value) {
    auto f = std::make_unique<tNumericField>("", 'N', 15, 0);
    f->SetData(&value, sizeof value);
    values.Add(f.release());
}

class InformixODBC : public gmtest::RecordedODBC {
protected:
    void SetUp() override {
        gmtest::RecordedODBC::SetUp();
        conn = gmtest::ConnectedInformix(rec, loader);
        stmt.reset(static_cast<tODBCStatement*>(conn->NewStatement()));
    }
    void ScriptProcedure(const std::vector<std::tuple<const char*, int, int, int>>& rows) {
        gmtest::ScriptProcedureColumns(rec, "SQLProcedureColumns(,,P,)", rows);
    }
    std::string Error(i32& code) {
        tString text;
        code = conn->GetLastErrorInfo(text);
        return text.GetText();
    }

    std::unique_ptr<tInformixConnection> conn;
    std::unique_ptr<tODBCStatement> stmt;
    tCommBuffer reply;
};

TEST_P(InformixODBC, CharacterValuesArriveBlankPadded) {
    rec.AddResult("SELECT A, N FROM T");
    rec.AddColumn("A", SQL_VARCHAR, 10, 0, SQL_NULLABLE);
    rec.AddColumn("N", SQL_DOUBLE, 15, 0, SQL_NULLABLE);
    rec.AddRow();
    rec.AddValue("abc");
    rec.AddValue("1.5");
    rec.AddRow();
    rec.AddValue(nullptr);
    rec.AddValue("2");
    ASSERT_TRUE(stmt->ExecDirect("SELECT A, N FROM T", "test", 1));
    ASSERT_TRUE(stmt->Fetch());
    EXPECT_STREQ(stmt->FieldAsPChar(0), "abc       ");
    EXPECT_EQ(stmt->FieldAsDouble(1), 1.5);
    ASSERT_TRUE(stmt->Fetch());
    EXPECT_STREQ(stmt->GetColumns()[0].value.text, "          ");  // NULL
    EXPECT_FALSE(stmt->Fetch());
}

TEST_P(InformixODBC, ProcedureCallMarksEveryBoundParameterAndReadsTheResultRow) {
    ScriptProcedure({{"RETURN_VALUE", SQL_RETURN_VALUE, SQL_INTEGER, 4},
                     {"A", SQL_PARAM_INPUT, SQL_VARCHAR, 20},
                     {"B", SQL_PARAM_INPUT, SQL_DOUBLE, 8}});
    const char* call = "{  ?= call P(?,?)}";
    rec.AddResult(call);
    rec.AddColumn("TOTAL", SQL_INTEGER, 10, 0, SQL_NULLABLE);
    rec.AddColumn("NAME", SQL_VARCHAR, 5, 0, SQL_NULLABLE);
    rec.AddRow();
    rec.AddValue("7");
    rec.AddValue("ab");
    tValues inputs;
    AddText(inputs, "xy");
    AddNumber(inputs, 2.5);
    tValues outputs;
    i32 code = 0;
    ASSERT_EQ(stmt->SPExec("P", "infx.", inputs, outputs), 0) << Error(code);
    EXPECT_NE(std::string(rec.Statements()).find(call), std::string::npos) << rec.Statements();
    const std::vector<RecOdbcParam> got = rec.LastExecutedParams();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].number, 2);  // after the return value's marker
    EXPECT_STREQ(got[0].text, "'xy'");
    EXPECT_EQ(got[0].columnSize, 2u);
    EXPECT_EQ(got[1].number, 3);
    EXPECT_STREQ(got[1].text, "2.5");
    ASSERT_EQ(outputs.Count(), 2);
    EXPECT_STREQ(outputs.Get(0)->GetName(), "TOTAL");
    EXPECT_EQ(outputs.Get(0)->GetType(), 'N');
    EXPECT_EQ(*static_cast<f64*>(outputs.Get(0)->GetData()), 7.0);
    EXPECT_STREQ(outputs.Get(1)->GetName(), "NAME");
    EXPECT_EQ(outputs.Get(1)->GetType(), 'C');
    EXPECT_EQ(outputs.Get(1)->GetLen(), 5);
    EXPECT_EQ(std::string(static_cast<const char*>(outputs.Get(1)->GetData()), 5), "ab   ");
}

TEST_P(InformixODBC, AnInputOutputParameterIsMarkedAndBoundAtItsPlace) {
    ScriptProcedure({{"A", SQL_PARAM_INPUT_OUTPUT, SQL_VARCHAR, 20},
                     {"B", SQL_PARAM_OUTPUT, SQL_VARCHAR, 20},
                     {"C", SQL_PARAM_INPUT, SQL_VARCHAR, 20}});
    const char* call = "{ call P(?,?)}";
    rec.AddResult(call);
    rec.AddColumn("R", SQL_INTEGER, 10, 0, SQL_NULLABLE);
    tValues inputs;
    AddText(inputs, "io");
    AddText(inputs, "in");
    tValues outputs;
    i32 code = 0;
    ASSERT_EQ(stmt->SPExec("P", "", inputs, outputs), 0) << Error(code);
    const std::vector<RecOdbcParam> got = rec.LastExecutedParams();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].number, 1);
    EXPECT_EQ(got[0].ioType, SQL_PARAM_INPUT_OUTPUT);
    EXPECT_EQ(got[1].number, 2);
    EXPECT_STREQ(got[1].text, "'in'");
    EXPECT_EQ(outputs.Count(), 0);  // no row
}

TEST_P(InformixODBC, ProcedureCallsThatCannotRunAnswerMinus21) {
    const struct {
        const char* name;
        std::vector<std::tuple<const char*, int, int, int>> rows;
        bool withInput;
        i32 code;
        const char* message;
    } cases[] = {
        {"a missing input",
         {{"A", SQL_PARAM_INPUT, SQL_VARCHAR, 20}, {"B", SQL_PARAM_INPUT, SQL_VARCHAR, 20}},
         true,
         -19,
         "Insufficient number of parameters."},
        {"a number for a text",
         {{"A", SQL_PARAM_INPUT, SQL_DOUBLE, 8}},
         true,
         -19,
         "Invalid parameter type."},
        {"no result set",
         {{"A", SQL_PARAM_INPUT, SQL_VARCHAR, 20}},
         true,
         -21,
         "Failed to retrieve _SQLNumResultCols"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptProcedure(c.rows);
        tValues inputs;
        if (c.withInput) AddText(inputs, "xy");
        tValues outputs;
        EXPECT_EQ(stmt->SPExec("P", "", inputs, outputs), -21);
        i32 code = 0;
        const std::string text = Error(code);
        EXPECT_EQ(code, c.code);
        EXPECT_NE(text.find(c.message), std::string::npos) << text;
        EXPECT_EQ(outputs.Count(), 0);
    }
}

TEST_P(InformixODBC, AFailedParameterListNamesTheInformixRoutine) {
    rec.ClearLog();
    rec.FailNext("SQLProcedureColumns(,,P,)", "HY000", 1, "no catalogue");
    tValues none;
    EXPECT_EQ(stmt->SPExec("P", "infx.", none, none), -21);
    EXPECT_EQ(stmt->GetHandle(), nullptr);
    EXPECT_EQ(rec.CountCalls("SQLExecDirect"), 0);
    i32 code = 0;
    const std::string text = Error(code);
    EXPECT_NE(text.find("( From tInformixStmt::SPExec (_SQLProcedureColumns) )"), std::string::npos)
        << text;
}

TEST_P(InformixODBC, TableFileFetchesByMarkerAndSelectsTheKeyFields) {
    process.SetIni("INFORMIX", "CLIENTES_def", "1,2,dbs,idx1");
    tInformixISAMFile file(conn.get(), gmtest::ClientesDefinition(), reply, 1);
    file.GoTo(12, false);
    ASSERT_EQ(file.SetOrder(1), 0);
    file.GoTop();
    ASSERT_TRUE(file.CreateIndex("CLIENTES_3", "CIDADE"));
    const std::string ran = rec.Statements();
    EXPECT_EQ(ran.rfind("SELECT * FROM infx.CLIENTES TBL WHERE TBL.R_E_C_N_O_ = ? [1='12']\n", 0),
              0u)
        << ran;
    EXPECT_NE(ran.find("SELECT R_E_C_N_O_ ,NOME ,CIDADE FROM infx.CLIENTES"), std::string::npos)
        << ran;
    EXPECT_NE(ran.find("CLIENTES_3 ON infx.CLIENTES"), std::string::npos) << ran;
    EXPECT_NE(ran.find(" IN idx1\n"), std::string::npos) << ran;
}

INSTANTIATE_TEST_SUITE_P(Modes, InformixODBC, ::testing::Bool(), gmtest::ODBCModeName);

// NAME C 10, NOTE M, VALOR N 12,2, DT D 8, OK L 1, R_E_C_N_O_, D_E_L_E_T_.
std::shared_ptr<tTableDefinitionShared> FilteredDefinition() {
    auto def = std::make_shared<tTableDefinitionShared>("FILTRADA", "PRODUCAO");
    def->AddField("NAME", 'C', 10, 0, true, true);
    def->AddField("NOTE", 'M', 10, 0, true, true);
    def->AddField("VALOR", 'N', 12, 2, true, true);
    def->AddField("DT", 'D', 8, 0, true, true);
    def->AddField("OK", 'L', 1, 0, true, true);
    def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
    def->AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    return def;
}

class InformixFilter : public ::testing::Test, public gmtest::IsamTestBed {
protected:
    InformixFilter() : file(&conn, FilteredDefinition(), reply, session.threadId) {}
    tInformixISAMFile file;
};

TEST_F(InformixFilter, WholeFiltersUseTheDialectsForms) {
    const struct {
        const char* filter;
        std::string sql;
    } cases[] = {
        {"NAME *EQ \"O'Brien\"", "NAME = 'O\"Brien'"},
        {"NAME *CT 'ab'", " MSCHARINDEX('ab',NAME,1)>0 "},
        {"%SST(NAME 2 3) *EQ 'abc'", " SUBSTR(NAME,2,3) = 'abc'"},
        {"%SST(NAME 5) *EQ 'ab'", " SUBSTR(NAME,5,6) = 'ab'"},  // the rest of the field
        {"%SST(NAME 11) *EQ 'ab'", "(fallback)"},
        {"len(NAME) *EQ 1", "LENGTH(NAME) = 1"},
        {"TRIM(NAME) *EQ 'x'", "TRIM(NAME) = 'x'"},
        {"UPPER(NAME) *EQ 'X'", "UPPER(NAME) = 'X'"},
        {"STRTRAN(NAME, 'a', 'b') *EQ 'x'", "REPLACE(NAME,'a','b') = 'x'"},
        {"ROUND(VALOR, 2) *EQ 1", "(fallback)"},
        {"CHR(VALOR) *EQ 'x'", "(fallback)"},
        {"EMPTY(NAME)", "NAME = '          '"},
        {"EMPTY(DT)", "DT = '        '"},
        {"EMPTY(VALOR)", "ROUND(VALOR,2) = 0.0 "},
        {"EMPTY(OK)", "OK = 'F'"},
        {"EMPTY(NOTE)", "(fallback)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter);
        EXPECT_EQ(gmtest::TranslateFilter(file, c.filter), c.sql);
    }
}

TEST_F(InformixFilter, LiteralsStopAtTheirMaximum) {
    tString out;
    i32 written = 0;
    EXPECT_TRUE(file.AppendLiteral(out, "O'Brien", 3, written));
    EXPECT_STREQ(out.GetText(), "O\"B");
    EXPECT_EQ(written, 3);
    EXPECT_FALSE(file.NeedsCharFunc('\''));
    EXPECT_FALSE(file.NeedsCharFunc('\x01'));
}

}  // namespace
