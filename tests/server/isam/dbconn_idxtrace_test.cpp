// The index-use trace and the virtual indexes of the connection base, as the SQL they run and
// the indexes a definition gains.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/catalogconn.h"
#include "tests/server/support/testprocess.h"
#include "tests/server/support/testsession.h"

namespace {

class IndexTrace : public ::testing::Test {
protected:
    void SetUp() override { tDBConnection::ForgetIndexTraceDefinition(); }
    void TearDown() override { tDBConnection::ForgetIndexTraceDefinition(); }

    // A table with fields A1_COD, A1_NOME, D_E_L_E_T_, R_E_C_N_O_ and the index named name over
    // A1_COD and A1_NOME.
    static tTableDefinition Table(const char* indexName) {
        tTableDefinition def("sa1010", "PRODUCAO");
        def.AddField("A1_COD", 'C', 6, 0, true, true);
        def.AddField("a1_nome", 'C', 40, 0, true, true);
        def.AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
        def.AddField("R_E_C_N_O_", 'N', 15, 6, false, true);
        std::unique_ptr<tIndexDefinition> index(new tIndexDefinition(indexName, false));
        index->AddField(0);
        index->AddField(1);
        def.AddIndex(std::move(index));
        return def;
    }

    gmtest::TestDBProcess process;
    gmtest::TestSession session;
};

TEST_F(IndexTrace, EveryUseAddsOneUpperCasedRowWithADrawnRecno) {
    process.SetIni("General", "TraceIndex", "1");
    const struct {
        const char* alias;
        std::string insert;
    } cases[] = {
        {"Producao",
         "tDBConnection::TraceIndex: INSERT INTO GML_IDXSTATS(IDX_ENV,IDX_TABLE,IDX_NAME,IDX_KEY,"
         "IDX_USE,R_E_C_N_O_) VALUES('PRODUCAO','SA1010','SA1010_1','A1_COD,A1_NOME',1,"},
        {"",
         "tDBConnection::TraceIndex: INSERT INTO GML_IDXSTATS(IDX_TABLE,IDX_NAME,IDX_KEY,IDX_USE,"
         "R_E_C_N_O_) VALUES('SA1010','SA1010_1','A1_COD,A1_NOME',1,"},
        {"o'neil",
         "tDBConnection::TraceIndex: INSERT INTO GML_IDXSTATS(IDX_ENV,IDX_TABLE,IDX_NAME,IDX_KEY,"
         "IDX_USE,R_E_C_N_O_) VALUES('O''NEIL','SA1010','SA1010_1','A1_COD,A1_NOME',1,"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.alias);
        tDBConnection::ForgetIndexTraceDefinition();
        gmtest::CatalogConnection conn("POSTGRES", c.alias);
        conn.SetDBServer(&session);
        conn.recCount = 40.0;
        const tTableDefinition def = Table("sa1010_1");
        conn.TraceIndex(def, *def.GetIndex(0));
        conn.TraceIndex(def, *def.GetIndex(0));
        EXPECT_EQ(conn.executed, (std::vector<std::string>{c.insert + "41)", c.insert + "42)"}));
        EXPECT_EQ(conn.described, std::vector<std::string>{"GML_IDXSTATS"});
    }
}

TEST_F(IndexTrace, NothingIsTracedWhileTheSwitchIsOffOrWithoutASession) {
    const tTableDefinition def = Table("SA1010_1");
    {
        gmtest::CatalogConnection conn;
        conn.SetDBServer(&session);
        conn.TraceIndex(def, *def.GetIndex(0));
        conn.PrepareTraceIndex(def);
        EXPECT_TRUE(conn.executed.empty());
    }
    process.SetIni("General", "TraceIndex", "1");
    gmtest::CatalogConnection conn;
    conn.TraceIndex(def, *def.GetIndex(0));
    EXPECT_TRUE(conn.executed.empty());
}

TEST_F(IndexTrace, PreparationAddsAZeroUseRowOnlyForIndexesWithoutOne) {
    process.SetIni("General", "TraceIndex", "1");
    gmtest::CatalogConnection conn("POSTGRES", "");
    conn.SetDBServer(&session);
    const tTableDefinition def = Table("SA1010_1");
    const std::string select =
        "tDBConnection::TraceIndex: SELECT R_E_C_N_O_ FROM GML_IDXSTATS WHERE IDX_ENV = ' ' AND "
        "IDX_NAME = 'SA1010_1' AND IDX_KEY ='A1_COD,A1_NOME'";
    conn.results.push_back({"SELECT R_E_C_N_O_ FROM GML_IDXSTATS", {}});
    conn.PrepareTraceIndex(def);
    conn.results.push_back({"SELECT R_E_C_N_O_ FROM GML_IDXSTATS", {{"1"}}});
    conn.PrepareTraceIndex(def);
    EXPECT_EQ(conn.executed,
              (std::vector<std::string>{
                  select,
                  "tDBConnection::PrepareTraceIndex: INSERT INTO GML_IDXSTATS(IDX_TABLE,IDX_NAME,"
                  "IDX_KEY,IDX_USE,R_E_C_N_O_) VALUES('SA1010','SA1010_1','A1_COD,A1_NOME',0,1)",
                  select}));
}

TEST_F(IndexTrace, VirtualIndexesJoinTheDefinitionUnlessTheyOrderByRecnoOrNameNoField) {
    gmtest::CatalogConnection conn("POSTGRES", "Producao");
    tTableDefinition def = Table("SA1010_1");
    conn.results.push_back({"SELECT IDX_NAME,IDX_KEY FROM GML_VIRTUALIDX",
                            {{"SA1010_V1  ", " A1_NOME , D_E_L_E_T_ "},
                             {"SA1010_V2", "R_E_C_N_O_"},
                             {"SA1010_V3", "R_E_C_N_O_,D_E_L_E_T_"},
                             {"SA1010_V4", "A1_COD,A1_GONE"},
                             {"SA1010_V5", "d_e_l_e_t_"},
                             {"SA1010_V6", "a1_cod,R_E_C_N_O_"}}});
    conn.LoadVirtualIndex(def);
    EXPECT_EQ(conn.executed,
              std::vector<std::string>{
                  "tDBConnection::LoadVirtualIndex: SELECT IDX_NAME,IDX_KEY FROM GML_VIRTUALIDX "
                  "WHERE IDX_ENV = 'PRODUCAO' AND IDX_TABLE = 'SA1010'"});
    ASSERT_EQ(def.GetIndexCount(), 3);
    EXPECT_STREQ(def.GetIndex(1)->GetName(), "SA1010_V1");
    ASSERT_EQ(def.GetIndex(1)->GetFieldCount(), 1);
    EXPECT_EQ(def.GetIndex(1)->GetField(0), 1);
    EXPECT_STREQ(def.GetIndex(2)->GetName(), "SA1010_V6");
    ASSERT_EQ(def.GetIndex(2)->GetFieldCount(), 2);
    EXPECT_EQ(def.GetIndex(2)->GetField(1), 3);
    EXPECT_EQ(process.LogEntries(),
              std::vector<std::string>{"[WARNING] Virtual index [SA1010_V4] of table [SA1010] "
                                       "skipped: no field [A1_GONE].\n"});

    conn.executed.clear();
    conn.failingExecs = {0};
    conn.LoadVirtualIndex(def);
    EXPECT_EQ(def.GetIndexCount(), 3);
}

TEST_F(IndexTrace, VirtualIndexProbeAnswersWhetherARowCameBack) {
    gmtest::CatalogConnection conn("POSTGRES", "");
    conn.results.push_back({"SELECT IDX_NAME FROM GML_VIRTUALIDX", {{"SA1010_V1"}}});
    EXPECT_TRUE(conn.IsVirtualIndex("sa1010_v1"));
    conn.results.push_back({"SELECT IDX_NAME FROM GML_VIRTUALIDX", {}});
    EXPECT_FALSE(conn.IsVirtualIndex("x' OR '1'='1"));
    conn.failingExecs = {2};
    EXPECT_FALSE(conn.IsVirtualIndex("SA1010_V1"));
    EXPECT_EQ(conn.executed[0],
              "tDBConnection::IsVirtualIndex: SELECT IDX_NAME FROM GML_VIRTUALIDX WHERE "
              "IDX_ENV=' ' AND IDX_NAME = 'SA1010_V1'");
    EXPECT_EQ(conn.executed[1],
              "tDBConnection::IsVirtualIndex: SELECT IDX_NAME FROM GML_VIRTUALIDX WHERE "
              "IDX_ENV=' ' AND IDX_NAME = 'X'' OR ''1''=''1'");
}

}  // namespace
