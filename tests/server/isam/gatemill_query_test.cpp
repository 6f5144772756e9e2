// The query file: runs and re-runs of its query through an ODBC statement over the recording
// driver, forward moves and EOF, the record sent in both byte orders, the structure of a result
// by column type, rows copied into the record layout, prepared files closed and bound again,
// the refusals and the file's description.
#include "server/isam/gatemill_query.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "server/drivers/odbc.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/recodbc_fixture.h"
#include "tests/server/support/testconn.h"
#include "tests/server/support/testprocess.h"
#include "tests/server/support/testsession.h"
#include "tests/server/support/wirebytes.h"

namespace {

constexpr const char* kQuery = "SELECT NOME, VALOR FROM T";
constexpr const char* kPrepared = "SELECT NOME FROM T WHERE X = ?";

// A statement whose result columns and rows the test sets by hand.
class HandStatement : public tStatement {
public:
    HandStatement() : tStatement(nullptr) {}
    // type 'N' columns hold numbers, every other type text.
    void SetColumns(const std::vector<tColumnDesc>& described) {
        AllocColumns(static_cast<i16>(described.size()));
        columnCount = static_cast<i16>(described.size());
        for (size_t i = 0; i < described.size(); ++i) GetColumns()[i] = described[i];
    }
    void AddRow(std::vector<std::string> values) { rows.push_back(std::move(values)); }
    bool Fetch() override {
        if (next >= rows.size()) return false;
        const std::vector<std::string>& row = rows[next++];
        for (i16 c = 0; c < columnCount; ++c) {
            tColumnDesc& d = GetColumns()[c];
            d.returnedLength = static_cast<i64>(row[c].size());
            if (d.type == 'N') {
                d.value.number = std::strtod(row[c].c_str(), nullptr);
            } else {
                // Room for the whole buffer, which a reader zeroes for an empty value.
                texts[c] = row[c];
                texts[c].resize(std::max<size_t>(row[c].size(), d.bufferLength) + 1, '\0');
                d.value.text = texts[c].data();
            }
        }
        return true;
    }

private:
    std::vector<std::vector<std::string>> rows;
    size_t next = 0;
    std::string texts[16];
};

tColumnDesc Column(const char* name, u8 type, i16 bufferLength, i16 decimals = 0) {
    tColumnDesc d{};
    std::strncpy(d.name, name, sizeof d.name - 1);
    d.type = type;
    d.bufferLength = bufferLength;
    d.decimals = decimals;
    return d;
}

class QueryFile : public gmtest::RecordedODBC {
protected:
    void SetUp() override {
        gmtest::RecordedODBC::SetUp();
        conn = MakeConnection();
        conn->SetDBServer(&session);
    }

    // The query's next run gives NOME CHAR(10) and VALOR DOUBLE with the rows given.
    void ScriptRows(const char* sql, std::vector<std::pair<const char*, const char*>> rows) {
        rec.AddResult(sql);
        rec.AddColumn("NOME", SQL_CHAR, 10, 0, SQL_NULLABLE);
        rec.AddColumn("VALOR", SQL_DOUBLE, 15, 2, SQL_NULLABLE);
        for (const auto& [nome, valor] : rows) {
            rec.AddRow();
            rec.AddValue(nome);
            rec.AddValue(valor);
        }
    }

    // A query file over the query, run once as the connection runs it before making the file.
    std::unique_ptr<tQueryFile> RunQuery() {
        auto stmt = std::make_unique<tODBCStatement>(conn.get());
        EXPECT_TRUE(stmt->ExecDirect(kQuery, "tTest::Query", 1)) << LastError(*conn);
        auto def = std::make_unique<tTableDefinitionExclusive>("", "ENV");
        auto file = std::make_unique<tQueryFile>(conn.get(), std::move(def), reply, 7,
                                                 std::move(stmt), kQuery);
        file->SetDBServer(&session);
        EXPECT_TRUE(file->DescribeResult());
        return file;
    }

    // The record the file sends: the row counter, then the record buffer.
    std::string Sent(tQueryFile& file) {
        reply.Reset();
        file.SendRecord();
        return gmtest::Payload(reply);
    }
    static std::string Record(f64 counter, const char* nome, f64 valor) {
        std::string out(reinterpret_cast<const char*>(&counter), 8);
        std::string name(10, '\0');
        std::memcpy(&name[0], nome, std::strlen(nome));
        out += name;
        out.append(reinterpret_cast<const char*>(&valor), 8);
        return out;
    }

    gmtest::TestSession session;
    tCommBuffer reply;
    std::unique_ptr<tODBCConnection> conn;
};

TEST_P(QueryFile, FirstGoTopReadsTheRunThatMadeItAndLaterOnesRunAgain) {
    ScriptRows(kQuery, {{"ANA", "1.5"}, {"BIA", "2"}, {"CAIO", "3"}});
    auto file = RunQuery();
    EXPECT_FALSE(file->GoBottom());
    EXPECT_FALSE(file->GoTo(1.0, true));
    ASSERT_TRUE(file->GoTop());
    EXPECT_EQ(Sent(*file), Record(1, "ANA", 1.5));
    ASSERT_TRUE(file->GoTop());  // still on the first row: nothing runs, nothing moves
    EXPECT_EQ(rec.CountCalls("SQLExecDirect"), 1);
    EXPECT_EQ(Sent(*file), Record(1, "ANA", 1.5));
    ASSERT_TRUE(file->Skip(-1));  // backward counts move forward too
    EXPECT_EQ(Sent(*file), Record(2, "BIA", 2.0));
    ASSERT_TRUE(file->Skip(1));
    EXPECT_EQ(file->GetRecno(), 3.0);
    EXPECT_FALSE(file->Skip(1));
    EXPECT_EQ(file->GetRecno(), 4.0);  // the step past the last row counts once
    EXPECT_FALSE(file->Skip(2));
    EXPECT_EQ(file->GetRecno(), 4.0);
    reply.Reset();
    file->SendStatus();
    EXPECT_EQ(gmtest::Payload(reply), gmtest::Bytes(false).Byte(0).Byte(1).Byte(0).Long(0).out);
    ScriptRows(kQuery, {{"DORA", "4"}});
    ASSERT_TRUE(file->GoTop());
    EXPECT_EQ(rec.CountCalls("SQLExecDirect"), 2);
    EXPECT_EQ(Sent(*file), Record(1, "DORA", 4.0));
    EXPECT_FALSE(file->Skip(1));
    ScriptRows(kQuery, {});
    EXPECT_FALSE(file->GoTop());  // a run without rows stands at BOF and EOF
    reply.Reset();
    file->SendStatus();
    EXPECT_EQ(gmtest::Payload(reply), gmtest::Bytes(false).Byte(1).Byte(1).Byte(0).Long(0).out);
}

TEST_P(QueryFile, SwappedRecordReversesOnlyTheNumbers) {
    ScriptRows(kQuery, {{"ANA", "1.5"}});
    auto file = RunQuery();
    ASSERT_TRUE(file->GoTop());
    reply.SetSwap(true);
    const std::string sent = Sent(*file);
    std::string want = Record(1, "ANA", 1.5);
    std::reverse(want.begin(), want.begin() + 8);
    std::reverse(want.begin() + 18, want.begin() + 26);
    EXPECT_EQ(sent, want);
}

TEST_P(QueryFile, PreparedFileIsBoundClosedAndBoundAgain) {
    auto stmt = std::make_unique<tODBCStatement>(conn.get());
    ASSERT_TRUE(stmt->Prepare(kPrepared, "tTest::Prepare"));
    auto file = std::make_unique<tQueryFile>(conn.get(),
                                             std::make_unique<tTableDefinitionExclusive>("", "ENV"),
                                             reply, 7, std::move(stmt), kPrepared);
    file->SetPrepared();
    EXPECT_TRUE(file->IsQueryFile());
    EXPECT_FALSE(file->GoTop());  // nothing bound: nothing to read, nothing fetched
    EXPECT_EQ(rec.CountCalls("SQLFetch"), 0);

    auto bind = [&](const char* value, std::vector<std::pair<const char*, const char*>> rows) {
        ScriptRows(kPrepared, rows);
        auto values = std::make_unique<tAutoArray<tDATAField>>();
        auto f = std::make_unique<tCharField>("", 'C', static_cast<i16>(std::strlen(value)), 0);
        f->SetData(value, std::strlen(value));
        values->Add(f.release());
        return file->BindQueryParam(std::move(values));
    };
    ASSERT_TRUE(bind("a", {{"ANA", "1"}, {"BIA", "2"}})) << LastError(*conn);
    EXPECT_TRUE(file->HasOpenStatement());
    EXPECT_TRUE(file->IsStructurePending());
    ASSERT_EQ(file->GetTableDef()->GetFieldCount(), 2);
    EXPECT_EQ(file->GetTableDef()->GetRecLen(), 18u);
    ASSERT_TRUE(file->GoTop());
    EXPECT_EQ(Sent(*file), Record(1, "ANA", 1.0));
    ASSERT_TRUE(file->Skip(1));
    // Back to the top: the cursor is let go and the statement runs again with its values.
    ScriptRows(kPrepared, {{"CAIO", "3"}});
    ASSERT_TRUE(file->GoTop());
    EXPECT_EQ(Sent(*file), Record(1, "CAIO", 3.0));
    EXPECT_STREQ(rec.LastExecutedParams().at(0).text, "'a'");

    EXPECT_TRUE(file->Close());
    EXPECT_FALSE(file->HasOpenStatement());
    tString status;
    file->StatusText(status);
    EXPECT_STREQ(status, " [BOF] [EOF]");
    ASSERT_TRUE(bind("b", {{"DORA", "4"}})) << LastError(*conn);
    EXPECT_STREQ(rec.LastExecutedParams().at(0).text, "'b'");
    const int executions = rec.CountCalls("SQLExecute");
    ASSERT_TRUE(file->GoTop());  // the bind's own run
    EXPECT_EQ(rec.CountCalls("SQLExecute"), executions);
    EXPECT_EQ(Sent(*file), Record(1, "DORA", 4.0));
}

TEST_P(QueryFile, RefusesFiltersWithTheConnectionError) {
    ScriptRows(kQuery, {});
    auto file = RunQuery();
    tString message;
    EXPECT_EQ(file->SetFilterEx(1, "A > 1", message), -13);
    EXPECT_EQ(LastError(*conn).rfind("GML Error -13 - Invalid Operation in Query. ( From "
                                     "tQueryFile::SetFilterEx )",
                                     0),
              0u)
        << LastError(*conn);
    EXPECT_TRUE(file->IsQuery());
    EXPECT_FALSE(file->PrepareCatalogQuery());
}

TEST_P(QueryFile, DescribesItselfAndThenAsAGenericFile) {
    ScriptRows(kQuery, {{"ANA", "1.5"}});
    auto file = RunQuery();
    file->SetInternalID(3);
    ASSERT_TRUE(file->GoTop());
    tString out;
    file->DumpInfo(out);
    EXPECT_EQ(std::string(out.GetText()),
              "\n[QUERY FILE INFORMATION]\n"
              "Query still on Begin .....: YES\n"
              "Query Begin Read Op ......: YES\n"
              "Current Record ...........: 1\n"
              "Query Statement ..........: SELECT NOME, VALOR FROM T\n"
              "\n[GENERIC FILE INFORMATION]\n"
              "DBServer .................: OK\n"
              "DBConnection .............: OK\n"
              "Table Definition .........: OK\n"
              "Comm Buffer ..............: OK\n"
              "Blob Fields ..............: OK\n"
              "Table Internal ID ........: 3\n"
              "Table Owner ..............: 7\n"
              "Table Status Flags .......: \n"
              "\n[TABLE DEFINITION PROPERTIES]\n"
              "Table Full Name ..........: ENV|\n"
              "Table HASH ID ............: " +
                  std::to_string(file->GetTableDef()->GetLockBucket()) +
                  "\n"
                  "Record Buffer Length .....: 18\n"
                  "MEMO Fields in Use .......: NO\n"
                  "FULL Mapped Table ........: YES\n"
                  "Table Auditable ..........: NO\n"
                  "Automatic RECNO Numbering : NO\n"
                  "\n[TABLE DEFINITION STRUCTURE]\n"
                  "Fld [  0] Name [                NOME] Type [C] Len [ 10] Dec [ 0] Reg [S]\n"
                  "Fld [  1] Name [               VALOR] Type [N] Len [ 15] Dec [ 2] Reg [S]\n"
                  "\n[INDEX DEFINITION]\n"
                  "( no indexes found )\n");
}

INSTANTIATE_TEST_SUITE_P(Modes, QueryFile, ::testing::Bool(), gmtest::ODBCModeName);

class QueryLayout : public ::testing::Test {
protected:
    std::unique_ptr<tQueryFile> MakeFile(std::unique_ptr<tTableDefinition> def,
                                         std::unique_ptr<HandStatement> stmt) {
        hand = stmt.get();
        return std::make_unique<tQueryFile>(&conn, std::move(def), reply, 7, std::move(stmt), "Q");
    }
    gmtest::TestDBProcess process;
    gmtest::TestConnection conn;
    tCommBuffer reply;
    HandStatement* hand = nullptr;
};

TEST_F(QueryLayout, ResultColumnsBecomeFieldsByTheirTypeLetter) {
    auto stmt = std::make_unique<HandStatement>();
    stmt->SetColumns({Column("B1", 'B', 6), Column("C1", 'C', 11), Column("E1", 'E', 5),
                      Column("H1", 'H', 9), Column("Y1", 'Y', 4), Column("G1", 'G', 8),
                      Column("J1", 'J', 8), Column("K1", 'K', 8), Column("N1", 'N', 8, 3),
                      Column("X1", 'X', 8), Column("D1", 'D', 8)});
    auto file = MakeFile(std::make_unique<tTableDefinitionExclusive>("", "ENV"), std::move(stmt));
    ASSERT_TRUE(file->DescribeResult());
    const struct {
        const char* name;
        u8 type;
        i16 length;
        u16 decimals;
    } want[] = {{"B1", 'B', 5, 0}, {"C1", 'C', 10, 0}, {"E1", 'E', 4, 0},
                {"H1", 'H', 8, 0}, {"Y1", 'Y', 3, 0},  {"G1", 'G', 8, 0},
                {"J1", 'J', 8, 0}, {"K1", 'K', 8, 0},  {"N1", 'N', 15, 3}};
    const tTableDefinition& def = *file->GetTableDef();
    ASSERT_EQ(def.GetFieldCount(), static_cast<i32>(std::size(want)));
    for (size_t i = 0; i < std::size(want); ++i) {
        SCOPED_TRACE(want[i].name);
        const tField* f = def.GetField(static_cast<i32>(i));
        EXPECT_STREQ(f->GetName(), want[i].name);
        EXPECT_EQ(f->GetType(), want[i].type);
        EXPECT_EQ(f->GetLen(), want[i].length);
        EXPECT_EQ(f->GetDecimals(), want[i].decimals);
    }
    // B 5 + C 10 + E 4 + H 0 + Y 3 + G, J, K, N 8 each: the client's size table.
    EXPECT_EQ(def.GetRecLen(), 5u + 10 + 4 + 0 + 3 + 32);
    EXPECT_TRUE(file->DescribeResult());  // a structure is described once
    EXPECT_EQ(file->GetTableDef()->GetFieldCount(), static_cast<i32>(std::size(want)));
}

TEST_F(QueryLayout, ResultWithoutColumnsHasNoStructure) {
    auto file = MakeFile(std::make_unique<tTableDefinitionExclusive>("", "ENV"),
                         std::make_unique<HandStatement>());
    EXPECT_FALSE(file->DescribeResult());
}

TEST_F(QueryLayout, RowsFillTheRecordLayoutOfTheSizeTable) {
    auto def = std::make_unique<tTableDefinitionExclusive>("", "ENV");
    def->AddField("NOME", 'C', 4, 0, true, true);
    def->AddField("OBS", 'M', 10, 0, true, true);  // no room, no column
    def->AddField("QTD", 'N', 15, 2, true, true);
    def->AddField("OK", 'L', 1, 0, true, true);
    def->AddField("DT", 'D', 8, 0, true, true);
    def->AddField("H1", 'H', 5, 0, true, true);  // no room, but a column
    def->AddField("E1", 'E', 3, 0, true, true);  // zero-filled
    def->AddField("FIM", 'C', 2, 0, true, true);
    auto stmt = std::make_unique<HandStatement>();
    stmt->SetColumns({Column("NOME", 'C', 5), Column("QTD", 'N', 8), Column("OK", 'C', 2),
                      Column("DT", 'C', 9), Column("H1", 'C', 6), Column("E1", 'C', 4),
                      Column("FIM", 'C', 3)});
    const struct {
        const char* ok;
        char mapped;
    } logicals[] = {{"T", 'T'}, {"t", 'F'}, {"Y", 'F'}, {"", 'F'}};
    for (const auto& l : logicals)
        stmt->AddRow({"ABCDEF", "2.5", l.ok, "20240131X", "h", "e", "ZZ"});
    auto file = MakeFile(std::move(def), std::move(stmt));
    ASSERT_EQ(file->GetTableDef()->GetRecLen(), 4u + 8 + 1 + 8 + 3 + 2);
    for (const auto& l : logicals) {
        SCOPED_TRACE(l.ok);
        ASSERT_TRUE(&l == &logicals[0] ? file->GoTop() : file->Skip(1));
        const std::string sent = [&] {
            reply.Reset();
            file->SendRecord();
            return gmtest::Payload(reply).substr(8);
        }();
        const f64 qtd = 2.5;
        std::string want = "ABCD" + std::string(reinterpret_cast<const char*>(&qtd), 8);
        want += l.mapped;
        want += "20240131";
        want += std::string(3, '\0');
        want += "ZZ";
        EXPECT_EQ(sent, want);
    }
}

}  // namespace
