// ODBC parameters over the recording driver, in both ODBC modes: a client's typed values bound by
// their letters (as the driver saw them at execution), refusals of values that are not what
// their letter says, runs again with the values bound before, one long value with a text, the
// procedure parameters the catalogue describes, and stored-procedure calls with their outputs.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "server/drivers/odbc.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/odbcdialect.h"
#include "tests/server/support/recodbc_fixture.h"
#include "tests/support/fixedclock.h"

namespace {

constexpr const char* kQuery = "SELECT A FROM T WHERE B = ?";

using tValues = tAutoArray<tDATAField>;

std::unique_ptr<tDATAField> Text(u8 type, const char* text, i16 length = -1) {
    const i16 n = length >= 0 ? length : static_cast<i16>(std::strlen(text));
    std::unique_ptr<tDATAField> f;
    if (type == 'D') {
        f = std::make_unique<tDateField>("", 'D', n, 0);
    } else if (type == 'T') {
        f = std::make_unique<tDateTimeField>("", 'T', n, 0);
    } else {
        f = std::make_unique<tCharField>("", type, n, 0);
    }
    f->SetData(text, std::strlen(text));
    return f;
}

std::unique_ptr<tDATAField> Stamp(const char* text, i32 first, i32 last) {
    auto f = Text('T', text, 24);
    f->SetFirstUnit(first);
    f->SetLastUnit(last);
    return f;
}

std::unique_ptr<tDATAField> Number(f64 value) {
    auto f = std::make_unique<tNumericField>("", 'N', 15, 0);
    f->SetData(&value, sizeof value);
    return f;
}

std::unique_ptr<tDATAField> Integer(i32 value) {
    auto f = std::make_unique<tNumericField>("", 'E', 4, 0);
    f->SetData(&value, sizeof value);
    return f;
}

std::unique_ptr<tDATAField> Image(const std::string& bytes) {
    auto f = std::make_unique<tImageField>("", 'I', static_cast<u32>(bytes.size()), 0);
    f->SetData(bytes.data(), bytes.size());
    return f;
}

std::unique_ptr<tValues> List(std::vector<std::unique_ptr<tDATAField>> fields) {
    auto list = std::make_unique<tValues>();
    for (auto& f : fields) list->Add(f.release());
    return list;
}

std::unique_ptr<tValues> One(std::unique_ptr<tDATAField> field) {
    std::vector<std::unique_ptr<tDATAField>> v;
    v.push_back(std::move(field));
    return List(std::move(v));
}

class ODBCParams : public gmtest::RecordedODBC {
protected:
    void SetUp() override {
        gmtest::RecordedODBC::SetUp();
        conn = MakeConnection();
        stmt = std::make_unique<tODBCStatement>(conn.get());
    }

    // Prepares the query; its next run gives one column A and one row.
    void PrepareQuery() {
        ASSERT_TRUE(stmt->Prepare(kQuery, "tTest::Prepare"));
        ScriptResult();
    }
    void ScriptResult() {
        rec.AddResult(kQuery);
        rec.AddColumn("A", SQL_CHAR, 5, 0, SQL_NULLABLE);
        rec.AddRow();
        rec.AddValue("x");
    }

    i32 ErrorCode(std::string* text = nullptr) {
        tString out;
        const i32 code = conn->GetLastErrorInfo(out);
        if (text) *text = out.GetText();
        return code;
    }

    std::unique_ptr<tODBCConnection> conn;
    std::unique_ptr<tODBCStatement> stmt;
};

TEST_P(ODBCParams, EveryLetterIsBoundByItsTypes) {
    gmtest::FixedClock clock;  // 14/11/2023: the date of a time-only value
    std::vector<std::unique_ptr<tDATAField>> v;
    v.push_back(Text('C', "abc"));
    v.push_back(Text('A', "it's"));
    v.push_back(Text('B', "12.50"));
    v.push_back(Integer(7));
    v.push_back(Number(2.5));
    v.push_back(Text('D', "25/12/2010", 24));
    v.push_back(Stamp("10:20:30", 4, 6));
    v.push_back(Image(std::string("\x00\x0a\xff", 3)));
    v.push_back(Image(""));
    v.push_back(Text('X', "1"));
    v.push_back(Text('X', "2"));
    v.push_back(Text('C', ""));
    PrepareQuery();
    ASSERT_TRUE(stmt->BindParam(List(std::move(v)))) << LastError(*conn);
    const struct {
        SQLSMALLINT cType, sqlType;
        SQLULEN columnSize;
        SQLSMALLINT decimals;
        const char* text;
    } want[] = {
        {SQL_C_CHAR, SQL_CHAR, 3, 0, "'abc'"},
        {SQL_C_CHAR, SQL_CHAR, 4, 0, "'it''s'"},
        {SQL_C_CHAR, SQL_DECIMAL, 5, 0, "'12.50'"},
        {SQL_C_LONG, SQL_INTEGER, 4, 0, "7"},
        {SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, "2.5"},
        {SQL_C_TYPE_DATE, SQL_TYPE_DATE, 6, 6, "{d '2010-12-25'}"},
        {SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 16, 16, "{ts '2023-11-14 10:20:30.000000000'}"},
        {SQL_C_BINARY, SQL_LONGVARBINARY, 3, 0, "0x000aff"},
        {SQL_C_BINARY, SQL_LONGVARBINARY, 0, 0, "NULL"},
        {SQL_C_CHAR, SQL_CHAR, 0, 0, "NULL"},
        {SQL_C_FLOAT, SQL_DOUBLE, 0, 0, "NULL"},
        {SQL_C_CHAR, SQL_CHAR, 1, 0, "''"},
    };
    const std::vector<RecOdbcParam> got = rec.LastExecutedParams();
    ASSERT_EQ(got.size(), std::size(want));
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(got[i].number, i + 1);
        EXPECT_EQ(got[i].ioType, SQL_PARAM_INPUT);
        EXPECT_EQ(got[i].cType, want[i].cType);
        EXPECT_EQ(got[i].sqlType, want[i].sqlType);
        EXPECT_EQ(got[i].columnSize, want[i].columnSize);
        EXPECT_EQ(got[i].decimals, want[i].decimals);
        EXPECT_STREQ(got[i].text, want[i].text);
    }
    // A query's columns are bound by its first run.
    ASSERT_TRUE(stmt->Fetch());
    EXPECT_STREQ(stmt->FieldAsPChar(0), "x");
}

TEST_P(ODBCParams, DateTimesReadTheUnitsOfTheirQualifiers) {
    gmtest::FixedClock clock;
    const struct {
        const char* text;
        i32 first, last;
        const char* bound;
    } cases[] = {
        {"2010-12-25 10:20:30.123", 1, 7, "{ts '2010-12-25 10:20:30.123000000'}"},
        {"2010-12-25", 1, 3, "{ts '2010-12-25 00:00:00.000000000'}"},
        {"2010-12", 1, 2, "{ts '2010-12-01 00:00:00.000000000'}"},
        {"2010", 1, 1, "{ts '2010-01-01 00:00:00.000000000'}"},
        {"25 08", 3, 4, "{ts '2023-11-25 08:00:00.000000000'}"},
        {"2010-12-25 10", 1, 6, "{ts '2010-12-25 10:00:00.000000000'}"},  // the text ends early
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        PrepareQuery();
        ASSERT_TRUE(stmt->BindParam(One(Stamp(c.text, c.first, c.last)))) << LastError(*conn);
        const std::vector<RecOdbcParam> got = rec.LastExecutedParams();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_STREQ(got[0].text, c.bound);
    }
}

TEST_P(ODBCParams, ValuesThatAreNotWhatTheirLetterSaysAreRefusedBeforeAnyRun) {
    const struct {
        std::unique_ptr<tDATAField> (*make)();
        const char* message;
    } cases[] = {
        {[] { return Text('D', "32/12/2010", 24); }, "Invalid date in parameter 1 [32/12/2010]."},
        {[] { return Text('D', "25/13/2010", 24); }, "Invalid date in parameter 1 [25/13/2010]."},
        {[] { return Text('D', "29/02/2011", 24); }, "Invalid date in parameter 1 [29/02/2011]."},
        {[] { return Text('D', "20110117", 24); }, "Invalid date in parameter 1 [20110117]."},
        {[] { return Text('D', "  /  /    ", 24); }, "Invalid date in parameter 1 [  /  /    ]."},
        {[] { return Text('D', "25/12/2010", 3); }, "Invalid date in parameter 1 [25/]."},
        {[] { return Stamp("2010-12-32", 1, 3); },
         "Invalid date-time in parameter 1 [2010-12-32]."},
        {[] { return Stamp("24:00", 4, 5); }, "Invalid date-time in parameter 1 [24:00]."},
        {[] { return Stamp("2010", 2, 1); }, "Invalid date-time in parameter 1 [2010]."},
        {[] { return Stamp("2010", 0, 1); }, "Invalid date-time in parameter 1 [2010]."},
        {[] { return Text('R', "1"); }, "Unsupported parameter type in parameter 1 [R]."},
        {[] { return Text('X', "3"); }, "Invalid NULL parameter type in parameter 1 [3]."},
        {[] { return Text('Q', "1"); }, "Unsupported parameter type in parameter 1 [Q]."},
    };
    PrepareQuery();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        rec.ClearLog();
        EXPECT_FALSE(stmt->BindParam(One(c.make())));
        std::string text;
        EXPECT_EQ(ErrorCode(&text), -19);
        EXPECT_EQ(text.rfind(std::string("GML Error -19 - ") + c.message +
                                 " ( From ODBCStatement::BindParam )",
                             0),
                  0u)
            << text;
        EXPECT_EQ(stmt->GetRetCode(), -19);
        EXPECT_EQ(rec.CountCalls("SQLExecute"), 0);
    }
    // The statement stays prepared: good values still run.
    EXPECT_TRUE(stmt->BindParam(One(Text('D', "29/02/2012", 24)))) << LastError(*conn);
    EXPECT_STREQ(rec.LastExecutedParams().at(0).text, "{d '2012-02-29'}");
}

TEST_P(ODBCParams, NoValuesRunAgainWithThoseBoundBeforeAndOtherValuesReplaceThem) {
    PrepareQuery();
    std::vector<std::unique_ptr<tDATAField>> two;
    two.push_back(Text('C', "first"));
    two.push_back(Number(1.0));
    ASSERT_TRUE(stmt->BindParam(List(std::move(two))));
    ASSERT_TRUE(stmt->ReleasePreparedStmt());
    ScriptResult();
    ASSERT_TRUE(stmt->BindParam(nullptr)) << LastError(*conn);
    EXPECT_EQ(rec.LastExecutedParams().size(), 2u);
    EXPECT_STREQ(rec.LastExecutedParams().at(0).text, "'first'");
    // Fewer values: the parameter bound before is not left pointing into the old list.
    ASSERT_TRUE(stmt->ReleasePreparedStmt());
    ScriptResult();
    ASSERT_TRUE(stmt->BindParam(One(Text('C', "second"))));
    const std::vector<RecOdbcParam> got = rec.LastExecutedParams();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_STREQ(got[0].text, "'second'");
}

TEST_P(ODBCParams, BindingNeedsAPreparedStatementAndValues) {
    EXPECT_FALSE(stmt->BindParam(One(Text('C', "a"))));
    EXPECT_NE(console->Get().find("tODBCStatement::SqlBind ERROR : Cannot execute non-prepared "
                                  "Statement\n"),
              std::string::npos);
    ASSERT_TRUE(stmt->Prepare(kQuery, "tTest::Prepare"));
    EXPECT_FALSE(stmt->BindParam(nullptr));
    EXPECT_EQ(ErrorCode(), -19);
    EXPECT_EQ(rec.CountCalls("SQLExecute"), 0);
}

TEST_P(ODBCParams, FailedRunIsReportedAsSqlBindAndEndsThePreparedStatement) {
    PrepareQuery();
    rec.FailNext(kQuery, "42P01", 7, "relation missing");
    EXPECT_FALSE(stmt->BindParam(One(Text('C', "a"))));
    std::string text;
    ErrorCode(&text);
    EXPECT_NE(text.find("relation missing"), std::string::npos) << text;
    EXPECT_NE(text.find("( From tODBCStatement::SqlBind )"), std::string::npos) << text;
    EXPECT_FALSE(stmt->IsOpened());
    EXPECT_EQ(stmt->GetHandle(), nullptr);
}

TEST_P(ODBCParams, ExecParamBindsTheLongValueByItsKind) {
    const std::string bytes("a\0b'c", 5);
    const struct {
        i16 kind;
        SQLSMALLINT sqlType;
    } cases[] = {{10, SQL_LONGVARBINARY}, {11, SQL_LONGVARCHAR}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        rec.ClearLog();
        ASSERT_TRUE(stmt->ExecParam("UPDATE T SET M = ? WHERE R_E_C_N_O_ = 3", bytes.data(),
                                    static_cast<i32>(bytes.size()), c.kind))
            << LastError(*conn);
        const std::vector<RecOdbcParam> got = rec.LastExecutedParams();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].cType, SQL_C_BINARY);
        EXPECT_EQ(got[0].sqlType, c.sqlType);
        EXPECT_EQ(got[0].columnSize, bytes.size());
        EXPECT_EQ(got[0].bufferLength, static_cast<SQLLEN>(bytes.size()));
        EXPECT_EQ(std::string(got[0].bytes, static_cast<size_t>(got[0].byteCount)), bytes);
    }
    EXPECT_EQ(gmtest::AssertText([&] { stmt->ExecParam("UPDATE T SET M = ?", "x", 1, 12); }),
              "*** INVALID EXECPARAM TYPE ***");
    rec.FailNext("UPDATE T SET M = ?", "22001", 1, "too long");
    EXPECT_FALSE(stmt->ExecParam("UPDATE T SET M = ?", "x", 1, 11));
    EXPECT_EQ(stmt->GetHandle(), nullptr);
}

// A warning that says a value was cut fails the write, with the diagnostic as the last error;
// any other warning is a success. A long value that no row took fails with a reason.
TEST_P(ODBCParams, CutDataFailsTheWriteAndOtherWarningsDoNot) {
    const char* kMemo = "UPDATE T SET M = ? WHERE R_E_C_N_O_ = 3";
    const struct {
        const char* name;
        const char* target;  // where the warning comes from
        std::function<bool()> write;
    } writes[] = {
        {"memo", kMemo, [&] { return stmt->ExecParam(kMemo, "abc", 3, 11); }},
        {"memo bind", "SQLBindParameter", [&] { return stmt->ExecParam(kMemo, "abc", 3, 10); }},
        {"bound values", kQuery,
         [&] {
             PrepareQuery();
             return stmt->BindParam(One(Text('C', "abc")));
         }},
        {"value bind", "SQLBindParameter",
         [&] {
             PrepareQuery();
             return stmt->BindParam(One(Text('C', "abc")));
         }},
    };
    const struct {
        const char* state;
        bool stored;
    } warnings[] = {{"01004", false}, {"22001", false}, {"01000", true}, {"01S02", true}};
    for (const auto& w : writes) {
        for (const auto& c : warnings) {
            SCOPED_TRACE(std::string(w.name) + " " + c.state);
            conn->SetError(0, "", "", nullptr);
            rec.WarnNext(w.target, c.state, 7, "String data, right truncated");
            EXPECT_EQ(w.write(), c.stored);
            const std::string error = LastError(*conn);
            if (c.stored) {
                EXPECT_EQ(rec.Pending(), 0);  // the warning and the result were taken
                EXPECT_EQ(error.find(c.state), std::string::npos) << error;
            } else {
                rec.Reset();  // a result that a failed bind never ran for
                EXPECT_NE(error.find(std::string("(") + c.state + ")"), std::string::npos) << error;
                EXPECT_NE(error.find("String data, right truncated"), std::string::npos) << error;
                EXPECT_EQ(stmt->GetHandle(), nullptr);
            }
        }
    }
    rec.NoRowsNext(kMemo);
    EXPECT_FALSE(stmt->ExecParam(kMemo, "abc", 3, 11));
    EXPECT_NE(LastError(*conn).find("No row took the value."), std::string::npos)
        << LastError(*conn);
}

TEST(ODBCParam, CatalogueRowGivesDirectionKindAndSizes) {
    const struct {
        const char* name;
        f64 columnType, dataType, bufferLength;
        const char* wantName;
        i16 direction;
        u8 letter;
        i32 size, outLength;
        i16 cType;
        bool returnValue;
    } cases[] = {
        {"@IN_CODE", SQL_PARAM_TYPE_UNKNOWN, SQL_VARCHAR, 20, "@IN_CODE", 1, 'C', 20, 0, SQL_C_CHAR,
         false},
        {"@OUT_TOTAL", SQL_PARAM_TYPE_UNKNOWN, SQL_INTEGER, 4, "@OUT_TOTAL", 4, 'I', 4, 4,
         SQL_C_LONG, false},
        {"IN_X", SQL_PARAM_TYPE_UNKNOWN, SQL_DOUBLE, 8, "IN_X", 1, 'N', 8, 0, SQL_C_DOUBLE, false},
        {"in_x", SQL_PARAM_TYPE_UNKNOWN, SQL_DOUBLE, 8, "in_x", 4, 'N', 8, 8, SQL_C_DOUBLE, false},
        {"COUNT", SQL_PARAM_INPUT, SQL_INTEGER, 4, "COUNT", 1, 'N', 8, 0, SQL_C_DOUBLE, false},
        {"NAME", SQL_PARAM_OUTPUT, SQL_VARCHAR, 20, "NAME", 4, 'C', 20, 21, SQL_C_CHAR, false},
        {"BOTH", SQL_PARAM_INPUT_OUTPUT, SQL_SMALLINT, 2, "BOTH", 2, 'I', 4, 4, SQL_C_LONG, false},
        {"", SQL_RETURN_VALUE, SQL_INTEGER, 4, "Result", 4, 'I', 0, 4, SQL_C_LONG, true},
        {"COL", SQL_RESULT_COL, SQL_NUMERIC, 17, "COL", 4, 'N', 8, 8, SQL_C_DOUBLE, false},
        {"WHEN", SQL_PARAM_INPUT, SQL_TYPE_DATE, 6, "WHEN", 1, 0, 6, 0, 0, false},
        {"BIG", SQL_PARAM_OUTPUT, SQL_LONGVARCHAR, 2147483647.0, "BIG", 4, 'C', 32766, 32767,
         SQL_C_CHAR, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tODBCParam p(c.name, c.columnType, c.dataType, c.bufferLength);
        EXPECT_STREQ(p.GetName(), c.wantName);
        EXPECT_EQ(p.GetIOType(), c.direction);
        EXPECT_EQ(p.GetTypeLetter(), c.letter);
        EXPECT_EQ(p.GetSQLType(), static_cast<i16>(c.dataType));
        EXPECT_EQ(p.GetSize(), c.size);
        EXPECT_EQ(p.GetOutLength(), c.outLength);
        EXPECT_EQ(p.GetCType(), c.cType);
        EXPECT_EQ(p.IsReturnValue(), c.returnValue);
        EXPECT_EQ(*p.GetIndicator(), c.returnValue ? 4 : c.size);
    }
}

class ODBCStoredProc : public ODBCParams {
protected:
    // The catalogue's rows for the procedure, as (COLUMN_NAME, COLUMN_TYPE, DATA_TYPE,
    // BUFFER_LENGTH); the other columns hold what the catalogue gives.
    void ScriptCatalogue(const char* call,
                         std::vector<std::tuple<const char*, int, int, int>> rows) {
        gmtest::ScriptProcedureColumns(rec, call, rows);
    }
};

TEST_P(ODBCStoredProc, CallsWithTheCatalogueParametersAndReturnsTheOutputs) {
    ScriptCatalogue("SQLProcedureColumns(,dbo,P,)",
                    {{"@RETURN_VALUE", SQL_RETURN_VALUE, SQL_INTEGER, 4},
                     {"@IN_CODE", SQL_PARAM_TYPE_UNKNOWN, SQL_VARCHAR, 20},
                     {"@OUT_TOTAL", SQL_PARAM_TYPE_UNKNOWN, SQL_INTEGER, 4},
                     {"@NAME", SQL_PARAM_OUTPUT, SQL_VARCHAR, 20},
                     {"@RATE", SQL_PARAM_INPUT, SQL_DECIMAL, 10}});
    rec.AddResult("{ call dbo.P(?,?,?,?) }");
    rec.SetOutput(2, "42");
    rec.SetOutput(3, "Maria");
    tValues inputs;
    inputs.Add(Text('C', "AB").release());
    inputs.Add(Number(1.5).release());
    tValues outputs;
    ASSERT_EQ(stmt->SPExec("P", "dbo.", inputs, outputs), 0) << LastError(*conn);
    const std::vector<RecOdbcParam> got = rec.LastExecutedParams();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].ioType, SQL_PARAM_INPUT);
    EXPECT_EQ(got[0].columnSize, 2u);  // the text's own length
    EXPECT_STREQ(got[0].text, "'AB'");
    EXPECT_EQ(got[1].ioType, SQL_PARAM_OUTPUT);
    EXPECT_EQ(got[1].cType, SQL_C_LONG);
    EXPECT_EQ(got[2].bufferLength, 21);
    EXPECT_STREQ(got[3].text, "1.5");
    ASSERT_EQ(outputs.Count(), 2);
    EXPECT_STREQ(outputs.Get(0)->GetName(), "@OUT_TOTAL");
    EXPECT_EQ(outputs.Get(0)->GetType(), 'I');
    EXPECT_EQ(*static_cast<i32*>(outputs.Get(0)->GetData()), 42);
    EXPECT_STREQ(outputs.Get(1)->GetName(), "@NAME");
    EXPECT_EQ(outputs.Get(1)->GetLen(), 21);
    EXPECT_STREQ(static_cast<const char*>(outputs.Get(1)->GetData()), "Maria");
}

TEST_P(ODBCStoredProc, WithoutOwnerOrParametersTheCallHasNeither) {
    ScriptCatalogue("SQLProcedureColumns(,,P,)", {});
    tValues none;
    ASSERT_EQ(stmt->SPExec("P", "", none, none), 0) << LastError(*conn);
    EXPECT_NE(std::string(rec.Statements()).find("{ call P }"), std::string::npos)
        << rec.Statements();
}

TEST_P(ODBCStoredProc, NoCatalogueColumnsCallsNothing) {
    tValues none;
    EXPECT_EQ(stmt->SPExec("P", "dbo.", none, none), 0);
    EXPECT_EQ(rec.CountCalls("SQLPrepare"), 0);
    EXPECT_EQ(rec.CountCalls("SQLExecute"), 0);
}

TEST_P(ODBCStoredProc, ParametersThatDoNotMatchAreRefused) {
    const struct {
        const char* name;
        std::vector<std::tuple<const char*, int, int, int>> rows;
        bool withInput;
        const char* message;
    } cases[] = {
        {"too few",
         {{"@IN_A", SQL_PARAM_INPUT, SQL_VARCHAR, 5}},
         false,
         "Insufficient number of parameters."},
        {"number for text",
         {{"@IN_A", SQL_PARAM_INPUT, SQL_INTEGER, 4}},
         true,
         "Invalid parameter type."},
        {"output without kind",
         {{"@D", SQL_PARAM_OUTPUT, SQL_TYPE_DATE, 6}},
         false,
         "Unsupported output parameter type."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptCatalogue("SQLProcedureColumns(,dbo,P,)", c.rows);
        rec.ClearLog();
        tValues inputs;
        if (c.withInput) inputs.Add(Text('C', "AB").release());
        tValues outputs;
        EXPECT_EQ(stmt->SPExec("P", "dbo.", inputs, outputs), -21);
        std::string text;
        EXPECT_EQ(ErrorCode(&text), -19);
        EXPECT_NE(text.find(c.message), std::string::npos) << text;
        EXPECT_EQ(rec.CountCalls("SQLExecute"), 0);
    }
}

TEST_P(ODBCStoredProc, CatalogueOrExecutionFailureRefusesTheCall) {
    rec.FailNext("SQLProcedureColumns(,dbo,P,)", "HY000", 1, "no catalogue");
    tValues none;
    EXPECT_EQ(stmt->SPExec("P", "dbo.", none, none), -21);
    EXPECT_EQ(stmt->GetHandle(), nullptr);
    ScriptCatalogue("SQLProcedureColumns(,dbo,P,)", {});
    rec.FailNext("{ call dbo.P }", "42000", 2812, "Could not find stored procedure");
    EXPECT_EQ(stmt->SPExec("P", "dbo.", none, none), -21);
    std::string text;
    ErrorCode(&text);
    EXPECT_NE(text.find("( From tODBCStatement::SPExec (Execute) )"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(Modes, ODBCParams, ::testing::Bool(), gmtest::ODBCModeName);
INSTANTIATE_TEST_SUITE_P(Modes, ODBCStoredProc, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
