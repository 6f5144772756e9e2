// Informix column changes over the recording driver: the choice between the change in place and
// the rebuild, the four steps in place with their golden texts, the rebuild through <table>_BKP,
// its backup guard, and a record count that fails before anything changes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "server/drivers/informix.h"
#include "tests/server/support/informixconn.h"
#include "tests/server/support/odbcdialect.h"
#include "tests/server/support/recodbc_fixture.h"

namespace {

using gmtest::ActionSpec;
using gmtest::Lines;

constexpr const char* kCount = "SELECT MAX(R_E_C_N_O_) FROM infx.T1";
constexpr const char* kBackupProbe =
    "select tabname from systables where tabname = 't1_bkp' and owner = 'infx'";
constexpr u16 kAdd = tActionField::kAdd;
constexpr u16 kDrop = tActionField::kDrop;
constexpr u16 kType = tActionField::kTypeChange;
constexpr u16 kLength = tActionField::kLengthChange;
constexpr u16 kDecimals = tActionField::kDecimalsChange;

std::string Blanks(size_t n) { return std::string(n, ' '); }

// The statement in its two record-number blocks up to 5000.
std::vector<std::string> InBlocks(const std::string& sql) {
    return {sql + " WHERE R_E_C_N_O_ > 0 AND R_E_C_N_O_ <= 4096",
            sql + " WHERE R_E_C_N_O_ > 4096 AND R_E_C_N_O_ <= 8192"};
}

std::string Joined(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return Lines(all);
}

class InformixAlter : public gmtest::RecordedODBC {
protected:
    void SetUp() override {
        gmtest::RecordedODBC::SetUp();
        conn = gmtest::ConnectedInformix(rec, loader);
    }
    void Count(const char* highest) { gmtest::ScriptRows(rec, kCount, {"m"}, {{highest}}); }
    bool Alter(const std::vector<ActionSpec>& specs, u8 hasRecDel = 0) {
        actions = std::make_unique<tAutoArray<tActionField>>();
        gmtest::FillActions(*actions, specs);
        return conn->AlterTable("T1", *actions, hasRecDel);
    }

    std::unique_ptr<tInformixConnection> conn;
    std::unique_ptr<tAutoArray<tActionField>> actions;
};

TEST_P(InformixAlter, WithoutForceAddsTypesAndTextLengthsRebuild) {
    const struct {
        const char* name;
        ActionSpec action;
        std::string inPlace;  // "": rebuilt
    } cases[] = {
        {"an added field", {"NEW", 'C', 3, 0, 'C', 3, 0, kAdd}, ""},
        {"a type change", {"QTY", 'N', 10, 0, 'C', 10, 0, kType}, ""},
        {"a text length", {"NAME", 'C', 8, 0, 'C', 9, 0, kLength}, ""},
        {"a dropped field",
         {"OLD", 'C', 2, 0, 'C', 2, 0, kDrop},
         "ALTER TABLE infx.T1 DROP ( OLD)"},
        {"a numeric length and decimals",
         {"QTY", 'N', 10, 0, 'N', 12, 2, kLength | kDecimals},
         "-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.ClearLog();
        Count("5");
        Count("5");  // a rebuild counts again
        Alter({c.action});
        const std::string ran = rec.Statements();
        if (c.inPlace.empty()) {
            EXPECT_EQ(ran.rfind(Lines({kCount, kCount, kBackupProbe}), 0), 0u) << ran;
        } else if (c.inPlace == "-") {
            EXPECT_EQ(ran, Lines({kCount}));  // FLOAT has no length: nothing to run
        } else {
            EXPECT_EQ(ran, Lines({kCount, c.inPlace}));
        }
    }
}

TEST_P(InformixAlter, ForcedChangesRunInFourSteps) {
    process.SetIni("INFORMIX", "ForceAlterTable", "1");
    process.SetIni("INFORMIX", "CleanAddFields", "1");
    Count("5000");
    ASSERT_TRUE(Alter({{"PRICE", 'N', 10, 2, 'C', 20, 2, kType},
                       {"NAME", 'C', 30, 0, 'C', 8, 0, kLength},
                       {"WIDE", 'C', 5, 0, 'C', 10, 0, kLength},
                       {"OLD", 'C', 2, 0, 'C', 2, 0, kDrop},
                       {"NEW", 'C', 3, 0, 'C', 3, 0, kAdd}}));
    EXPECT_EQ(std::string(rec.Statements()),
              Joined({{kCount, "RENAME COLUMN infx.T1.PRICE TO TMPC0",
                       "ALTER TABLE infx.T1 DROP ( OLD) ,  ADD ( PRICE VARCHAR(20) DEFAULT '" +
                           Blanks(20) + "' NOT NULL,NEW VARCHAR(3) DEFAULT '   ' NOT NULL)"},
                      InBlocks("UPDATE infx.T1 SET PRICE = cast(round( TMPC0,2) as "
                               "varchar(20)),NAME = nvl(substr(NAME,1,8), '" +
                               Blanks(8) + "'),NEW = '   '"),
                      {"ALTER TABLE infx.T1 DROP ( TMPC0) ,  MODIFY (NAME VARCHAR(8) DEFAULT '" +
                       Blanks(8) + "' NOT NULL,WIDE VARCHAR(10) DEFAULT '" + Blanks(10) +
                       "' NOT NULL)"}}));
    // The caller's list comes back with the working codes.
    const std::vector<u16> codes = {0x0200, 0x1000, 0x0800, kDrop, kAdd};
    for (i32 i = 0; i < actions->Count(); ++i) EXPECT_EQ(actions->Get(i)->actions, codes[i]) << i;

    // On an empty table the converted column is dropped and added again, and nothing is filled.
    process.SetIni("INFORMIX", "CleanAddFields", "0");
    rec.ClearLog();
    gmtest::ScriptRows(rec, kCount, {"m"}, {{nullptr}});
    ASSERT_TRUE(Alter({{"PRICE", 'N', 10, 2, 'C', 20, 2, kType}}));
    EXPECT_EQ(
        std::string(rec.Statements()),
        Lines({kCount, "ALTER TABLE infx.T1 DROP ( PRICE) ,  ADD ( PRICE VARCHAR(20) DEFAULT '" +
                           Blanks(20) + "' NOT NULL)"}));
}

TEST_P(InformixAlter, AFailedStepOrCountStopsAtOnce) {
    process.SetIni("INFORMIX", "ForceAlterTable", "1");
    rec.FailNext(kCount, "42S02", -206, "not found");
    EXPECT_FALSE(Alter({{"PRICE", 'N', 10, 2, 'C', 20, 2, kType}}));
    rec.FailNext(kCount, "42S02", -206, "not found");
    EXPECT_FALSE(conn->AlterStructure("T1", *actions, 0));
    EXPECT_EQ(std::string(rec.Statements()), Lines({kCount, kCount}));  // nothing changed

    rec.ClearLog();
    Count("5");
    rec.FailNext("RENAME COLUMN*", "42000", -217, "no column");
    EXPECT_FALSE(Alter({{"PRICE", 'N', 10, 2, 'C', 20, 2, kType}}));
    EXPECT_EQ(std::string(rec.Statements()),
              Lines({kCount, "RENAME COLUMN infx.T1.PRICE TO TMPC0"}));
}

TEST_P(InformixAlter, RebuildCopiesThroughTheBackup) {
    gmtest::ScriptRows(rec, kCount, {"m"}, {{"5000"}});
    gmtest::ScriptRows(rec, kBackupProbe, {"tabname"}, {{"t1_bkp"}});
    gmtest::ScriptRows(rec, "SELECT COUNT(*) AS TOTAL FROM infx.T1", {"n"}, {{"3"}});
    gmtest::ScriptRows(rec, "SELECT COUNT(*) AS TOTAL FROM infx.T1_BKP", {"n"}, {{"2"}});
    actions = std::make_unique<tAutoArray<tActionField>>();
    gmtest::FillActions(*actions, {{"PRICE", 'N', 10, 2, 'C', 5, 0, kType},
                                   {"NAME", 'C', 8, 0, 'C', 4, 0, kLength},
                                   {"OLD", 'C', 2, 0, 'C', 2, 0, kDrop},
                                   {"NEW", 'C', 3, 0, 'C', 3, 0, kAdd},
                                   {"MEMO", 'M', 10, 0, 'C', 2, 0, kType}});
    ASSERT_TRUE(conn->AlterStructure("T1", *actions, 1));
    const std::string recordColumns =
        "D_E_L_E_T_ VARCHAR(1) DEFAULT ' ' NOT NULL,R_E_C_N_O_ INTEGER DEFAULT 0 NOT "
        "NULL,R_E_C_D_E_L_ INTEGER DEFAULT 0 NOT NULL) LOCK MODE ROW";
    EXPECT_EQ(
        gmtest::StatementsWithout(rec, {"SELECT COUNT(*)"}),
        Joined({{kCount, kBackupProbe, "DROP TABLE infx.T1_BKP",
                 "CREATE TABLE infx.T1_BKP(PRICE FLOAT DEFAULT 0.0 NOT NULL,NAME VARCHAR(8) "
                 "DEFAULT '" +
                     Blanks(8) + "' NOT NULL,OLD VARCHAR(2) DEFAULT '  ' NOT NULL,MEMO TEXT," +
                     recordColumns,
                 "CREATE INDEX T1_BKPIDX ON T1_BKP(R_E_C_N_O_)"},
                InBlocks("INSERT INTO T1_BKP(PRICE,NAME,OLD,MEMO,D_E_L_E_T_,R_E_C_N_O_,R_E_"
                         "C_D_E_L_) SELECT PRICE,NAME,OLD,MEMO,D_E_L_E_T_,R_E_C_N_O_,R_E_C_D_"
                         "E_L_ FROM T1"),
                {"DROP TABLE infx.T1",
                 "CREATE TABLE infx.T1(PRICE VARCHAR(5) DEFAULT '     ' NOT NULL,NAME "
                 "VARCHAR(4) DEFAULT '    ' NOT NULL,NEW VARCHAR(3) DEFAULT '   ' NOT "
                 "NULL,MEMO VARCHAR(2) DEFAULT '  ' NOT NULL," +
                     recordColumns},
                InBlocks("INSERT INTO T1(PRICE,NAME,D_E_L_E_T_,R_E_C_N_O_,R_E_C_D_E_L_) "
                         "SELECT PRICE,substr(NAME,1,4),D_E_L_E_T_,R_E_C_N_O_,R_E_C_D_E_L_ "
                         "FROM T1_BKP ")}));
}

TEST_P(InformixAlter, BackupWithMoreRowsThanTheTableIsKept) {
    Count("5");
    gmtest::ScriptRows(rec, kBackupProbe, {"tabname"}, {{"t1_bkp"}});
    gmtest::ScriptRows(rec, "SELECT COUNT(*) AS TOTAL FROM infx.T1", {"n"}, {{"3"}});
    gmtest::ScriptRows(rec, "SELECT COUNT(*) AS TOTAL FROM infx.T1_BKP", {"n"}, {{"5"}});
    actions = std::make_unique<tAutoArray<tActionField>>();
    gmtest::FillActions(*actions, {{"OLD", 'C', 5, 0, 'C', 5, 0, kDrop}});
    EXPECT_FALSE(conn->AlterStructure("T1", *actions, 0));
    EXPECT_EQ(gmtest::StatementsWithout(rec, {"SELECT COUNT(*)"}), Lines({kCount, kBackupProbe}));
    tString text;
    EXPECT_EQ(conn->GetLastErrorInfo(text), -19);
    EXPECT_NE(std::string(text.GetText()).find("Backup table [T1_BKP] kept"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Modes, InformixAlter, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
