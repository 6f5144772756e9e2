// On the private PostgreSQL: memos written and read back through a table file (empty, escaped,
// just under the read buffer and cut above it; one written before an append lands in the new
// record), queries rewritten and run as query files, and the filter hooks' texts run as
// conditions.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "server/drivers/postgres.h"
#include "server/isam/gatemill_query.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/memoread.h"
#include "tests/server/support/pgdatabase.h"
#include "tests/server/support/testfilter.h"
#include "tests/server/support/wirebytes.h"

namespace {

constexpr i32 kReadBuffer = 1048576;

// A PostgreSQL database whose catalogue is checked (so ROUND(float8, integer) exists).
class CheckedDatabase : public gmtest::PostgresDatabase {
protected:
    void SetUp() override {
        PostgresDatabase::SetUp();
        if (HasFatalFailure()) return;
        tString report;
        ASSERT_TRUE(conn->InitialCheckUp(report)) << report.GetText();
    }
    std::string LastError() {
        tString text;
        conn->GetLastErrorInfo(text);
        return text.GetText();
    }
    // A count query's answer; -1 when it did not run.
    i32 Count(const std::string& sql) {
        const std::string value = Value(sql);
        return !value.empty() && std::isdigit(static_cast<unsigned char>(value[0]))
                   ? std::stoi(value)
                   : -1;
    }

    tCommBuffer reply;
};

// ---- Memos

class PostgresMemos : public CheckedDatabase {
protected:
    void SetUp() override {
        CheckedDatabase::SetUp();
        if (HasFatalFailure()) return;
        tTableDefinition made("MEMOS", dsn.c_str());
        made.AddField("NOME", 'C', 10, 0, true, true);
        made.AddField("OBS", 'M', 10, 0, true, true);
        made.AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
        made.AddField("R_E_C_N_O_", 'R', 4, 0, false, true);
        tString create;
        conn->CreateTable(made, create);
        ASSERT_TRUE(Run(create.GetText()));
        ASSERT_TRUE(Run("insert into memos (nome, r_e_c_n_o_) values ('ANA', 1), ('BIA', 2)"));
        def = conn->GetTableDef("MEMOS", dsn.c_str(), true);
        ASSERT_NE(def, nullptr);
        ASSERT_EQ(def->GetField(1)->GetType(), 'M');
        file.reset(static_cast<tISAMFile*>(conn->NewISAMFile(reply, def, session.threadId)));
        file->SetDBServer(&session);
        file->Open(1);  // the memo OBS is memo 2
        ASSERT_TRUE(file->GoTo(1, false));
    }
    void TearDown() override {
        file.reset();
        PostgresDatabase::TearDown();
    }

    // Writes the memo of the current record and stores it into recno.
    void Store(const std::string& memo, f64 recno) {
        ASSERT_EQ(file->BlobWrite(2, memo.data(), static_cast<i32>(memo.size())), 0);
        i32 code = 0;
        ASSERT_TRUE(file->BlobWriteSql(code, recno)) << LastError();
    }
    // The memo of recno as the database holds it.
    std::string Read(i32 recno) { return gmtest::ReadMemo(*file, reply, 2, recno); }

    std::shared_ptr<tTableDefinitionShared> def;
    std::unique_ptr<tISAMFile> file;
};

TEST_F(PostgresMemos, MemosComeBackAsWrittenWithTheReadsTerminator) {
    std::string large(kReadBuffer - 1, 'x');
    for (size_t i = 0; i < large.size(); i += 7) large[i] = static_cast<char>('a' + i % 26);
    large[100] = '\xe7';  // 8-bit bytes pass unchanged
    const struct {
        const char* name;
        std::string written;
        std::string read;
    } cases[] = {
        {"empty", "", ""},
        {"text", "Linha 1\r\nA\xe7\xe3o 'x' \\y",
         std::string("Linha 1\r\nA\xe7\xe3o 'x' \\y") + '\0'},
        {"escaped octets", "AB\\376\\000", std::string("AB'") + '\0'},
        {"just under the buffer", large, large + '\0'},
        {"above the buffer", large + "0123456789", large + '\0'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Store(c.written, 1);
        EXPECT_EQ(Value("select length(obs) from memos where r_e_c_n_o_ = 1"),
                  std::to_string(c.written.size()));
        const std::string read = Read(1);
        EXPECT_EQ(read.size(), c.read.size());
        EXPECT_TRUE(read == c.read);
    }
}

TEST_F(PostgresMemos, MemosWrittenBeforeAnAppendOrAnUpdateLandInThatRecord) {
    Store("first", 1);
    // The engine hands out 3 next, as after the open of a table of two records.
    session.lockServer.SetRecCount(static_cast<i32>(def->GetLockBucket()), def->GetFullName(), 2);
    ASSERT_EQ(file->BlobWrite(2, "for the new one", 15), 0);
    reply.Reset();
    reply.PutBytes("CAIO       ", 11);  // NOME, D_E_L_E_T_
    file->RecvRecord();
    i32 code = 0;
    ASSERT_TRUE(file->WriteRecord(code)) << LastError();
    EXPECT_EQ(file->GetRecno(), 3.0);
    EXPECT_EQ(Value("select nome || obs from memos where r_e_c_n_o_ = 3"), "CAIOfor the new one");
    EXPECT_EQ(Value("select obs from memos where r_e_c_n_o_ = 1"), "first");
    // An update that changes only the memo stores it.
    ASSERT_EQ(file->BlobWrite(2, "changed", 7), 0);
    reply.Reset();
    reply.PutBytes("CAIO       ", 11);
    file->RecvRecord();
    EXPECT_EQ(file->UpdateRecord(3), 0) << LastError();
    EXPECT_EQ(Value("select obs from memos where r_e_c_n_o_ = 3"), "changed");
    // A memo written on record 3 goes with an update of record 1, which the file moves to.
    ASSERT_EQ(file->BlobWrite(2, "moved", 5), 0);
    reply.Reset();
    reply.PutBytes("ANA        ", 11);
    file->RecvRecord();
    EXPECT_EQ(file->UpdateRecord(1), 0) << LastError();
    EXPECT_EQ(file->GetRecno(), 1.0);
    EXPECT_EQ(Value("select obs from memos where r_e_c_n_o_ = 1"), "moved");
    EXPECT_EQ(Value("select obs from memos where r_e_c_n_o_ = 3"), "changed");
}

// ---- Query files

class PostgresQueries : public CheckedDatabase {
protected:
    void SetUp() override {
        CheckedDatabase::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(Run("create table t (code char(6), valor float8, qtd int4, nome varchar(20))"));
        ASSERT_TRUE(
            Run("insert into t values ('A1', 1.5, 1, 'abc'), ('A2', 2.5, 2, 'ABC'), "
                "('B1', 4, 3, 'it''s')"));
    }
    // The query's rows, each field as text, through a query file; the query as it ran.
    std::vector<std::vector<std::string>> Rows(const std::string& query,
                                               std::string* ran = nullptr) {
        tString text(query.c_str());
        std::unique_ptr<tQueryFile> file(conn->GetQueryFile(reply, 1, text));
        EXPECT_NE(file, nullptr) << LastError();
        if (!file) return {};
        if (ran) *ran = text.GetText();
        file->SetDBServer(&session);
        std::vector<std::vector<std::string>> rows;
        const tTableDefinition& def = *file->GetTableDef();
        for (bool more = file->GoTop(); more; more = file->Skip(1)) {
            reply.Reset();
            file->SendRecord();
            const std::string record = gmtest::Payload(reply).substr(8);
            std::vector<std::string> row;
            for (i32 i = 0; i < def.GetFieldCount(); ++i) {
                const tField* f = def.GetField(i);
                if (f->GetType() == 'N') {
                    f64 n = 0;
                    std::memcpy(&n, record.data() + f->GetOffset(), sizeof n);
                    char number[32];
                    std::snprintf(number, sizeof number, "%g", n);
                    row.push_back(number);
                } else {
                    const std::string bytes = record.substr(f->GetOffset(), f->GetLen());
                    row.push_back(
                        bytes.substr(0, bytes.find_last_not_of(std::string(" \0", 2)) + 1));
                }
            }
            rows.push_back(row);
        }
        return rows;
    }
    using Table = std::vector<std::vector<std::string>>;
};

TEST_F(PostgresQueries, RewrittenQueriesRunAndGiveTheirRows) {
    std::string ran;
    EXPECT_EQ(Rows("select sum(valor) total from t", &ran), Table({{"8"}}));
    EXPECT_EQ(ran, "select SUM(VALOR)::FLOAT8 as  TOTAL from t");
    EXPECT_EQ(Rows("select count(*) from t"), Table({{"3"}}));
    EXPECT_EQ(Rows("select sum(qtd) q, code from t group by code order by code"),
              Table({{"1", "A1"}, {"2", "A2"}, {"3", "B1"}}));
    EXPECT_EQ(Rows("SELECT DISTINCT substr(code, 1, 1) c, 'X' FROM T ORDER BY 1"),
              Table({{"A", "X"}, {"B", "X"}}));
    EXPECT_EQ(Rows("SELECT code, (SELECT MAX(valor) FROM t) m FROM t WHERE code = 'A1'"),
              Table({{"A1", "4"}}));
    EXPECT_EQ(Rows("select code from t where nome = 'abc' union select code from t where qtd = 3 "
                   "order by 1"),
              Table({{"A1"}, {"B1"}}));
    EXPECT_EQ(Rows("select 'it''s' || nome n from t where nome = 'it''s'"), Table({{"it'sit's"}}));
    EXPECT_EQ(Rows("select count(case when nome = 'abc' then 1 end) from t"), Table({{"1"}}));
    EXPECT_EQ(Rows("select code, valor + qtd from t where code = 'B1'"), Table({{"B1", "7"}}));
}

TEST_F(PostgresQueries, QueryLongerThan64KiBRuns) {
    std::string query = "select code from t where code in ('A1'";
    for (int i = 0; i < 12000; ++i) query += ",'Z" + std::to_string(i) + "'";
    query += ") order by code";
    ASSERT_GT(query.size(), 65536u);
    EXPECT_EQ(Rows(query), Table({{"A1"}}));
}

TEST_F(PostgresQueries, RefusalsSetTheConnectionsError) {
    const struct {
        const char* query;
        const char* message;  // null: no message of its own
    } cases[] = {
        {"select 1", "Invalid Query ( missing FROM statement ).\nQuery : select 1\n"},
        {"select 'abc from t",
         "Invalid Query Fields ( Syntax Error ).\nQuery : select 'abc from t\n"},
        {"select (code from t",
         "Invalid Query Fields ( Syntax Error ).\nQuery : select (code from t\n"},
        {"select sum(valor from t", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        conn->ClearError();
        tString text(c.query);
        EXPECT_EQ(conn->GetQueryFile(reply, 1, text), nullptr);
        tString error;
        if (c.message) {
            EXPECT_EQ(conn->GetLastErrorInfo(error), -19);
            EXPECT_EQ(
                std::string(error.GetText()).rfind(std::string("GML Error -19 - ") + c.message, 0),
                0u)
                << error.GetText();
        } else {
            EXPECT_EQ(conn->GetLastErrorInfo(error), 0);
        }
    }
    tString dates("select current_date d from t");
    EXPECT_EQ(conn->GetQueryFile(reply, 1, dates), nullptr);
    EXPECT_NE(LastError().find("Query does not return any supported column."), std::string::npos)
        << LastError();
}

// ---- Filter hooks as conditions

class PostgresFilterHooks : public CheckedDatabase {
protected:
    void SetUp() override {
        CheckedDatabase::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(
            Run("create table h (field char(10), name char(5), value float8, flag char(1))"));
        ASSERT_TRUE(
            Run("insert into h values ('ABC', '', 0.001, 'F'), ('XABCY', 'ANA', 0, 'T'), "
                "('Q', ' ', 2.5, 'F')"));
        auto def = std::make_shared<tTableDefinitionShared>("H", dsn.c_str());
        def->AddField("FIELD", 'C', 10, 0, true, true);
        def->AddField("NAME", 'C', 5, 0, true, true);
        def->AddField("VALUE", 'N', 12, 2, true, true);
        def->AddField("FLAG", 'L', 1, 0, true, true);
        def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
        file = std::make_unique<tPostgresISAMFile>(conn.get(), def, reply, 1);
    }
    // The rows of h that the condition keeps.
    i32 Kept(const tString& condition) {
        return Count(std::string("select count(*) from h where ") + condition.GetText());
    }

    std::unique_ptr<tPostgresISAMFile> file;
};

TEST_F(PostgresFilterHooks, HookTextsRunAsConditions) {
    {
        gmtest::NodePtr left = gmtest::Literal(*file, "ZZABC       ZZ");
        gmtest::NodePtr right = gmtest::Ident(*file, "FIELD");
        tString sql;
        ASSERT_TRUE(file->ContainsExpr(sql, *left, *right));
        EXPECT_STREQ(sql.GetText(), "position( rpad ( FIELD,10)  in 'ZZABC       ZZ')>0");
        EXPECT_EQ(Kept(sql), 1);
    }
    {
        gmtest::NodePtr left = gmtest::Ident(*file, "FIELD");
        gmtest::NodePtr right = gmtest::Literal(*file, "ABC");
        tString sql;
        ASSERT_TRUE(file->ContainsExpr(sql, *left, *right));
        EXPECT_EQ(Kept(sql), 2);
    }
    {
        gmtest::NodePtr text = gmtest::Ident(*file, "FIELD");
        gmtest::NodePtr start = gmtest::Number(*file, "2");
        tString sql;
        ASSERT_TRUE(file->SubstrFunc(sql, *text, *start, nullptr));
        EXPECT_STREQ(sql.GetText(), " substring(FIELD,2,9)");
        sql += " = 'BC'";
        EXPECT_EQ(Kept(sql), 1);
    }
    const struct {
        const char* field;
        const char* sql;
        i32 kept;
    } empties[] = {
        {"NAME", "NAME = '     '", 2},
        {"VALUE", "ROUND(VALUE,2) = 0.0 ", 2},
        {"FLAG", "FLAG = 'F'", 2},
    };
    for (const auto& c : empties) {
        SCOPED_TRACE(c.field);
        gmtest::NodePtr argument = gmtest::Argument(*file, gmtest::Ident(*file, c.field));
        tString name("EMPTY");
        tString sql;
        tString suffix;
        ASSERT_TRUE(file->MapFunction(name, argument.get(), sql, suffix));
        EXPECT_STREQ(sql.GetText(), c.sql);
        EXPECT_EQ(Kept(sql), c.kept);
    }
    tString name("STRTRAN");
    tString replacement;
    tString suffix;
    ASSERT_TRUE(file->MapFunction(name, nullptr, replacement, suffix));
    tString call(name);
    call += "(FIELD, 'ABC', 'X') = 'XXY'";
    EXPECT_EQ(Kept(call), 1);
}

}  // namespace
