// Table files on the private PostgreSQL: a table of 1,000 rows read through key cursors in
// record-number order and in a two-field index order, forwards and backwards, every record read
// with its own values; the number of key cursors and record fetches that the moves cost; an
// index created through the file.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "server/drivers/postgres.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/pgdatabase.h"
#include "tests/server/support/tablewalk.h"
#include "tests/support/gmtest.h"

namespace {

constexpr int kRows = 1000;

class PostgresTableFile : public gmtest::PostgresDatabase {
protected:
    void SetUp() override {
        PostgresDatabase::SetUp();
        if (HasFatalFailure()) return;
        tTableDefinition made("CLIENTES", dsn.c_str());
        made.AddField("NOME", 'C', 10, 0, true, true);
        made.AddField("CIDADE", 'C', 8, 0, true, true);
        made.AddField("VALOR", 'N', 15, 6, true, true);
        made.AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
        made.AddField("R_E_C_N_O_", 'R', 4, 0, false, true);
        CheckUpAndCreate(made);
        if (HasFatalFailure()) return;
        // 100 names of 10 rows each, their cities and record numbers in other orders.
        ASSERT_TRUE(
            Run("insert into clientes select 'N' || lpad(((g * 37) % 100)::text, 3, '0'), "
                "'C' || lpad(((g * 13) % 1000)::text, 4, '0'), g * 1.5, ' ', g "
                "from generate_series(1, 1000) g"));
        ASSERT_TRUE(Run("alter table clientes add primary key (r_e_c_n_o_)"));
        ASSERT_TRUE(
            Run("create index clientes1 on clientes (nome, cidade, r_e_c_n_o_, d_e_l_e_t_)"));
        def = conn->GetTableDef("CLIENTES", dsn.c_str(), true);
        ASSERT_NE(def, nullptr);
        ASSERT_EQ(def->GetIndexCount(), 1);
        file.reset(static_cast<tISAMFile*>(conn->NewISAMFile(reply, def, session.threadId)));
        file->SetDBServer(&session);
        for (const auto& [recno, name] : Pairs("select r_e_c_n_o_, nome from clientes")) {
            names[recno] = name.substr(0, 4);  // "N037", without the column's padding
        }
    }
    void TearDown() override {
        file.reset();
        PostgresDatabase::TearDown();
    }

    // The rows of a two-column query: the first column as a record number, the second as text.
    std::vector<std::pair<int, std::string>> Pairs(const std::string& sql) {
        std::unique_ptr<tStatement> stmt(conn->NewStatement());
        std::vector<std::pair<int, std::string>> rows;
        EXPECT_TRUE(stmt->ExecDirect(sql.c_str(), "test", 1));
        while (stmt->Fetch()) {
            tString text;
            rows.emplace_back(static_cast<int>(stmt->FieldAsDouble(0)),
                              stmt->FieldAsString(text, 1).GetText());
        }
        return rows;
    }
    std::vector<int> Recnos(const std::string& sql) {
        std::vector<int> recnos;
        for (const auto& row : Pairs(sql)) recnos.push_back(row.first);
        return recnos;
    }
    // The record numbers of the key cursor just built, as the file runs it.
    std::vector<int> Cursor() {
        file->AddRowLimit();
        tStatement& cursor = file->GetStatement();
        std::vector<int> recnos;
        EXPECT_TRUE(cursor.ExecDirect(conn->GetSqlBuffer(), "test", 1));
        while (cursor.Fetch()) recnos.push_back(static_cast<int>(cursor.FieldAsDouble(0)));
        cursor.Close();
        return recnos;
    }
    // The record that the file sends the client: its number, after checking that the record
    // carries that row's name.
    void CheckName(const gmtest::SentRecord& sent) {
        EXPECT_EQ(sent.record.substr(0, 4), names[sent.recno]) << "record " << sent.recno;
    }
    int Sent() {
        const gmtest::SentRecord sent = gmtest::Send(*file, reply);
        CheckName(sent);
        return sent.recno;
    }
    // Every record from the top forwards, then from the bottom backwards (as read).
    void WalkBothWays(std::vector<int>& forward, std::vector<int>& backward) {
        gmtest::WalkBothWays(
            *file, reply, [this](const gmtest::SentRecord& sent) { CheckName(sent); }, forward,
            backward);
    }
    size_t Traced(const std::string& routine, const std::string& start) {
        size_t n = 0;
        for (const auto& entry : session.traces) {
            if (entry.label == routine && entry.text.compare(0, start.size(), start) == 0) ++n;
        }
        return n;
    }

    std::shared_ptr<tTableDefinitionShared> def;
    tCommBuffer reply;
    std::unique_ptr<tISAMFile> file;
    std::map<int, std::string> names;
};

using gmtest::Reversed;

TEST_F(PostgresTableFile, KeyCursorsReturnTheIndexOrderFromEveryKeyPrefix) {
    const std::vector<int> order =
        Recnos("select r_e_c_n_o_, nome from clientes order by nome, cidade, r_e_c_n_o_");
    ASSERT_EQ(order.size(), static_cast<size_t>(kRows));
    ASSERT_EQ(file->SetOrder(1), 0);
    ASSERT_TRUE(file->GoTo(order[500], true));
    const std::string name = names[order[500]];
    const struct {
        i32 keyFields;
        std::string expected;  // the query that gives the rows the cursor must return
    } cases[] = {
        {-1, "select r_e_c_n_o_, nome from clientes order by nome, cidade, r_e_c_n_o_ limit 40"},
        {3, "select r_e_c_n_o_, nome from clientes where false"},
        {2, "select r_e_c_n_o_, nome from clientes where nome = '" + name +
                "' and cidade > (select cidade from clientes where r_e_c_n_o_ = " +
                std::to_string(order[500]) + ") order by cidade limit 40"},
        {1, "select r_e_c_n_o_, nome from clientes where nome > '" + name +
                "' order by nome, cidade, r_e_c_n_o_ limit 40"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keyFields);
        file->BuildNextSelect(c.keyFields);
        EXPECT_EQ(Cursor(), Recnos(c.expected));
    }
    file->BuildPrevSelect(1);
    EXPECT_EQ(Cursor(), Recnos("select r_e_c_n_o_, nome from clientes where nome < '" + name +
                               "' order by nome desc, cidade desc, r_e_c_n_o_ desc limit 40"));
}

TEST_F(PostgresTableFile, EveryRecordInRecordOrderBothWays) {
    std::vector<int> forward, backward;
    WalkBothWays(forward, backward);
    const std::vector<int> order = Recnos("select r_e_c_n_o_, nome from clientes order by 1");
    EXPECT_EQ(forward, order);
    EXPECT_EQ(backward, Reversed(order));
}

TEST_F(PostgresTableFile, EveryRecordInIndexOrderBothWays) {
    ASSERT_EQ(file->SetOrder(1), 0);
    std::vector<int> forward, backward;
    WalkBothWays(forward, backward);
    const std::vector<int> order =
        Recnos("select r_e_c_n_o_, nome from clientes order by nome, cidade, r_e_c_n_o_");
    EXPECT_EQ(forward, order);
    EXPECT_EQ(backward, Reversed(order));
}

TEST_F(PostgresTableFile, SkippingThroughAnIndexOrderCostsAWindowRefillPerFortyRows) {
    ASSERT_EQ(file->SetOrder(1), 0);
    session.traces.clear();
    ASSERT_TRUE(file->GoTop());
    int positions = 1;
    while (file->Skip(1)) ++positions;
    EXPECT_EQ(positions, kRows);
    // A refill runs at most one cursor per key field of CLIENTES1 (NOME, CIDADE, R_E_C_N_O_);
    // the record fetch is prepared once and run once per position.
    const size_t refills = Traced("tISAMFile::GetSelect", "-- Load [");
    EXPECT_GE(refills, static_cast<size_t>(kRows / 40 - 1));
    EXPECT_LE(refills, static_cast<size_t>(kRows / 40 + 1));
    EXPECT_LE(Traced("tISAMFile::GetSelect", "SELECT"), 3 * refills);
    EXPECT_EQ(Traced("tISAMFile::GoTop", "SELECT"), 1u);
    EXPECT_EQ(Traced("tISAMFile::OpenCurrentRecord", "SELECT"), 1u + kRows);
}

TEST_F(PostgresTableFile, CreatedIndexOrdersTheFile) {
    ASSERT_TRUE(file->CreateIndex("CLIENTES2", "STR(X->VALOR,12)+NOME"));
    ASSERT_EQ(file->SetOrder(2), 0);
    ASSERT_TRUE(file->GoBottom());
    EXPECT_EQ(Sent(), kRows) << "the largest VALOR is the last record's";
    EXPECT_EQ(Recnos("select 0, indexdef from pg_indexes where indexname = 'clientes2'").size(),
              1u);
}

TEST_F(PostgresTableFile, JoinedFieldReadsTheJoinedRowOrNothing) {
    ASSERT_TRUE(
        Run("create table vendedor (nome char(10) not null, comissao float8 not null, "
            "d_e_l_e_t_ char(1) not null, r_e_c_n_o_ int4 primary key)"));
    ASSERT_TRUE(Run("insert into vendedor values ('" + names[7] + "', 2.5, ' ', 1), ('" + names[8] +
                    "', 9.0, '*', 2)"));
    auto joins = std::make_unique<tAutoArray<tJoinInfo>>();
    joins->Add(new tJoinInfo("VENDEDOR", "COMISSAO|comis", "V.NOME = TBL.NOME", "V"));
    file->SetJoinInfo(std::move(joins));
    {
        gmtest::ConsoleCapture quiet;
        file->Open(1);
    }
    const u32 offset = file->GetMirror().FindField("COMIS")->GetOffset();
    const struct {
        int recno;
        f64 comis;  // 0 when no live row of VENDEDOR joins
    } cases[] = {{7, 2.5}, {8, 0.0}, {9, 0.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.recno);
        ASSERT_TRUE(file->GoTo(c.recno, true));
        const std::string record = gmtest::Send(*file, reply).record;
        f64 comis = -1;
        std::memcpy(&comis, record.data() + offset, sizeof comis);
        EXPECT_EQ(comis, c.comis);
    }
}

}  // namespace
