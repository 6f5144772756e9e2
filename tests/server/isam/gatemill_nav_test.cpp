// Navigation and the current record of a table file over the recording ODBC driver: the SQL that
// each move runs (key cursors, prepared record fetches), BOF and EOF after every move, positioning
// by record number, and the copy of fetched columns into the record buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "server/isam/gatemill.h"
#include "tests/server/support/recordedisam.h"

namespace {

constexpr const char* kTop =
    "SELECT R_E_C_N_O_ FROM CLIENTES WHERE R_E_C_N_O_  > 0 ORDER BY R_E_C_N_O_";
constexpr const char* kFetch = gmtest::kRecordFetch;

class Navigation : public gmtest::RecordedTableFile {
protected:
    // The session's trace entries of key-cursor loads, as "routine: text".
    std::vector<std::string> Loads() {
        std::vector<std::string> loads;
        for (const auto& t : session.traces) {
            if (t.text.rfind("-- Load [", 0) == 0) loads.push_back(t.label + ": " + t.text);
        }
        session.traces.clear();
        return loads;
    }
};

TEST_P(Navigation, TenRowsAreLoadedOnceAndMovesInsideTheWindowRunNoKeyCursor) {
    ScriptKeys(kTop, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    ScriptRecord(1);
    ASSERT_TRUE(file->GoTop());
    EXPECT_EQ(Ran(), (std::vector<std::string>{kTop, Fetched(1)}));
    EXPECT_EQ(Name(), "C1");
    EXPECT_EQ(file->GetRecno(), 1.0);
    EXPECT_TRUE(file->GetCache().IsBackwardComplete()) << "fewer rows than the row count";

    EXPECT_FALSE(file->Skip(20));
    EXPECT_EQ(Ran(), std::vector<std::string>{});
    EXPECT_TRUE(Eof());
    EXPECT_EQ(file->GetRecno(), 1.0) << "back on the record where the skip began";
    EXPECT_EQ(Name(), "C1");

    ScriptRecord(10);
    EXPECT_TRUE(file->Skip(-1));
    EXPECT_EQ(Ran(), std::vector<std::string>{Fetched(10)});
    EXPECT_EQ(file->GetRecno(), 10.0);
    EXPECT_EQ(Name(), "C10");
    EXPECT_FALSE(Bof() || Eof());

    ScriptRecord(1);
    EXPECT_TRUE(file->GoTop());
    EXPECT_EQ(Ran(), std::vector<std::string>{Fetched(1)}) << "no second key cursor";

    EXPECT_TRUE(file->Skip(0));
    EXPECT_EQ(Ran(), std::vector<std::string>{}) << "the record is held already";
    EXPECT_EQ(rec.CountCalls("SQLPrepare"), 0) << "prepared once, on the first fetch";
    EXPECT_EQ(rec.Pending(), 0);
}

TEST_P(Navigation, BofAndEofAfterEveryMove) {
    const struct {
        const char* move;
        std::function<void()> script;
        std::function<bool()> run;
        bool result, bof, eof;
        f64 recno;
        std::vector<std::string> ran;
    } steps[] = {
        {"GoTop on no rows",
         [&] { ScriptKeys(kTop, {}); },
         [&] { return file->GoTop(); },
         false,
         true,
         true,
         0,
         {kTop}},
        {"GoBottom on no rows: the window holds both ends already",
         [] {},
         [&] { return file->GoBottom(); },
         false,
         true,
         true,
         0,
         {}},
        {"GoTop whose query fails",
         [&] { rec.FailNext(kTop, "42P01", 7, "no such table"); },
         [&] { return file->GoTop(); },
         false,
         false,
         true,
         0,
         {kTop}},
        {"GoTop positioned",
         [&] {
             ScriptKeys(kTop, {1, 2, 3});
             ScriptRecord(1);
         },
         [&] { return file->GoTop(); },
         true,
         false,
         false,
         1,
         {kTop, Fetched(1)}},
        {"Skip backward before the first row",
         [] {},
         [&] { return file->Skip(-1); },
         false,
         true,
         false,
         1,
         {}},
        {"Skip forward past the last row keeps BOF",
         [] {},
         [&] { return file->Skip(5); },
         false,
         true,
         true,
         1,
         {}},
        {"Skip backward while EOF lands on the last row",
         [&] { ScriptRecord(3); },
         [&] { return file->Skip(-1); },
         true,
         false,
         false,
         3,
         {Fetched(3)}},
        {"Skip completed",
         [&] { ScriptRecord(1); },
         [&] { return file->Skip(-2); },
         true,
         false,
         false,
         1,
         {Fetched(1)}},
        {"GoBottom positioned",
         [&] { ScriptRecord(3); },
         [&] { return file->GoBottom(); },
         true,
         false,
         false,
         3,
         {Fetched(3)}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.move);
        s.script();
        EXPECT_EQ(s.run(), s.result);
        EXPECT_EQ(Bof(), s.bof);
        EXPECT_EQ(Eof(), s.eof);
        EXPECT_EQ(file->GetRecno(), s.recno);
        EXPECT_EQ(Ran(), s.ran);
    }
    EXPECT_EQ(rec.Pending(), 0);
}

TEST_P(Navigation, BottomOfAFreshFileRunsTheBackwardCursorAndEachLoadIsTraced) {
    const std::string bottom = "SELECT R_E_C_N_O_ FROM CLIENTES ORDER BY R_E_C_N_O_ DESC";
    ScriptKeys(bottom, {9, 7, 4});  // the cursor gives them highest first
    ScriptRecord(9);
    session.traces.clear();
    ASSERT_TRUE(file->GoBottom());
    EXPECT_EQ(Ran(), (std::vector<std::string>{bottom, Fetched(9)}));
    EXPECT_EQ(file->GetRecno(), 9.0);
    EXPECT_FALSE(Bof() || Eof());
    EXPECT_EQ(file->GetCache().GetCurrent(), tCache::kSlots - 1);
    EXPECT_TRUE(file->GetCache().HasFirstRow()) << "fewer rows than the row count";
    EXPECT_EQ(Loads(),
              std::vector<std::string>{"tISAMFile::GoBottom: -- Load [3] record(s) to IsamCache"});

    ScriptRecord(4);
    EXPECT_TRUE(file->GoTop());
    EXPECT_EQ(Ran(), std::vector<std::string>{Fetched(4)}) << "the window holds the first row";
    EXPECT_EQ(Loads(), std::vector<std::string>{});

    file = MakeFile(def);
    ScriptKeys(kTop, {2, 6});
    ScriptRecord(2);
    ASSERT_TRUE(file->GoTop());
    EXPECT_EQ(Loads(),
              std::vector<std::string>{"tISAMFile::GoTop: -- Load [2] record(s) to IsamCache"});
    EXPECT_EQ(rec.Pending(), 0);
}

TEST_P(Navigation, BackwardRefillRunsWiderCursorsUntilOneReturnsRows) {
    ASSERT_EQ(file->SetOrder(1), 0);
    ScriptRecord(9);
    ASSERT_TRUE(file->GoTo(9, false));  // not in the window: the window restarts around it
    EXPECT_EQ(Ran(), std::vector<std::string>{Fetched(9)});
    // C9 RIO 9: no other row with that name and city before it, none with that name and a
    // smaller city; the widest cursor finds the row before.
    const std::string head = "SELECT R_E_C_N_O_ FROM CLIENTES WHERE  NOME ";
    const std::string desc = " ORDER BY NOME DESC ,CIDADE DESC ,R_E_C_N_O_ DESC ";
    const std::vector<std::string> cursors = {
        head + "= 'C9        ' AND CIDADE = 'RIO     ' AND R_E_C_N_O_  < 9" + desc,
        head + "= 'C9        ' AND CIDADE  < 'RIO'" + desc, head + " < 'C9'" + desc};
    ScriptKeys(cursors[0], {});
    ScriptKeys(cursors[1], {});
    ScriptKeys(cursors[2], {4});
    ScriptRecord(4);
    EXPECT_TRUE(file->Skip(-1));
    EXPECT_EQ(Ran(), (std::vector<std::string>{cursors[0], cursors[1], cursors[2], Fetched(4)}));
    EXPECT_EQ(file->GetRecno(), 4.0);
    EXPECT_EQ(Name(), "C4");
    EXPECT_TRUE(file->GetCache().HasFirstRow()) << "the widest cursor returned a short page";
    EXPECT_EQ(rec.Pending(), 0);
}

TEST_P(Navigation, GoToInsideTheWindowOrByReadingTheRecord) {
    ScriptKeys(kTop, {3, 5, 8});
    ScriptRecord(3);
    ASSERT_TRUE(file->GoTop());
    Ran();
    const struct {
        const char* name;
        f64 recno;
        bool reread;
        std::vector<int> rows;  // records the database answers
        bool result;
        f64 after;
        bool ends;  // BOF and EOF
        std::vector<std::string> ran;
    } cases[] = {
        {"in the window, not read", 5, false, {}, true, 5, false, {}},
        {"in the window, read again", 8, true, {8}, true, 8, false, {Fetched(8)}},
        {"outside the window", 42, false, {42}, true, 42, false, {Fetched(42)}},
        {"a number without a row", 77, false, {}, false, 0, true, {Fetched(77)}},
        {"zero", 0, true, {}, false, 0, true, {}},
        {"below zero", -3, true, {}, false, 0, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (int recno : c.rows) ScriptRecord(recno);
        EXPECT_EQ(file->GoTo(c.recno, c.reread), c.result);
        EXPECT_EQ(file->GetRecno(), c.after);
        EXPECT_EQ(Bof(), c.ends);
        EXPECT_EQ(Eof(), c.ends);
        EXPECT_EQ(Ran(), c.ran);
    }
    EXPECT_EQ(rec.Pending(), 0);
}

// A record deleted by another session between the key cursor and its fetch: the move lands on
// its number, and the buffer shows no record rather than the one held before.
TEST_P(Navigation, ARecordGoneBeforeItsFetchShowsNoOtherRecordsData) {
    ScriptKeys(kTop, {1, 2, 3});
    ScriptRecord(1);
    ASSERT_TRUE(file->GoTop());
    ASSERT_EQ(Name(), "C1");
    file->Skip(1);  // record 2's fetch finds no row
    EXPECT_EQ(file->GetRecno(), 2.0);
    EXPECT_EQ(Name(), "");
    ScriptRecord(3);
    EXPECT_TRUE(file->Skip(1));
    EXPECT_EQ(Name(), "C3");
}

TEST_P(Navigation, PreparedOncePerSelectTextUntilReleased) {
    for (int recno : {4, 6}) {
        ScriptRecord(recno);
        ASSERT_TRUE(file->GoTo(recno, false));
    }
    EXPECT_EQ(rec.CountCalls("SQLPrepare"), 1);
    EXPECT_EQ(rec.CountCalls("SQLExecute"), 2);
    file->ReleaseRecnoStmt();
    ScriptRecord(7);
    ASSERT_TRUE(file->GoTo(7, false));
    EXPECT_EQ(rec.CountCalls("SQLPrepare"), 2) << "a new statement prepares again";
    EXPECT_EQ(Name(), "C7");
}

TEST_P(Navigation, ColumnsAreCopiedByNameAndKind) {
    rec.AddResult(kFetch);
    rec.AddColumn("NOME", SQL_DOUBLE, 15, 0, SQL_NULLABLE);  // a number into a character field
    rec.AddColumn("VALOR", SQL_CHAR, 20, 0, SQL_NULLABLE);   // a text into a number field
    rec.AddColumn("CIDADE", SQL_CHAR, 20, 0, SQL_NULLABLE);  // longer than the field
    rec.AddColumn("ATIVO", SQL_CHAR, 1, 0, SQL_NULLABLE);
    rec.AddColumn("DATA", SQL_CHAR, 8, 0, SQL_NULLABLE);
    rec.AddColumn("D_E_L_E_T_", SQL_CHAR, 1, 0, SQL_NULLABLE);
    rec.AddColumn("R_E_C_N_O_", SQL_DOUBLE, 15, 0, SQL_NULLABLE);
    rec.AddRow();
    const char* const values[] = {"42", "12.25", "SAO PAULO CAPITAL", " ", nullptr, "*", "5"};
    for (const char* value : values) {
        rec.AddValue(value);
    }
    ASSERT_TRUE(file->GoTo(5, false));
    const char* record = file->CurrentRecord();
    EXPECT_EQ(std::string(record, 10), std::string("42") + std::string(8, '\0'));
    f64 valor = 0;
    std::memcpy(&valor, record + 18, sizeof valor);
    EXPECT_EQ(valor, 12.25);
    EXPECT_EQ(std::string(record + 10, 8), "SAO PAUL");
    EXPECT_EQ(std::string(record + 26, 8), std::string(8, '\0')) << "a NULL date stays zero";
    EXPECT_EQ(record[34], 'F') << "a blank logical reads F";
    EXPECT_EQ(record[35], '*');

    file->ReleaseRecnoStmt();  // a result of another shape needs a statement of its own
    rec.AddResult(kFetch);
    rec.AddColumn("ATIVO", SQL_CHAR, 1, 0, SQL_NULLABLE);
    rec.AddColumn("VALOR", SQL_DOUBLE, 15, 0, SQL_NULLABLE);
    rec.AddRow();
    rec.AddValue(nullptr);
    rec.AddValue(nullptr);
    ASSERT_TRUE(file->GoTo(6, false));
    EXPECT_EQ(file->CurrentRecord()[34], 'F') << "a NULL logical reads F";
    EXPECT_EQ(std::string(file->CurrentRecord(), 36).find_first_not_of('\0'), 34u)
        << "everything else zeroed";

    file->ReleaseRecnoStmt();
    rec.AddResult(kFetch);
    rec.AddColumn("BAIRRO", SQL_CHAR, 10, 0, SQL_NULLABLE);
    rec.AddRow();
    rec.AddValue("CENTRO");
    EXPECT_EQ(gmtest::AssertText([&] { file->GoTo(7, false); }),
              "[ERROR] (tISAMFile::MapToClient) Table PRODUCAO|CLIENTES Field BAIRRO not found "
              "in mirror.");
}

TEST_P(Navigation, LeavingAHiddenDeletedRecordRestartsTheWindowAroundTheNext) {
    ScriptKeys(kTop, {1, 2, 3});
    ScriptRecord(1, "*");  // deleted by another session since the window was filled
    ASSERT_TRUE(file->GoTop());
    file->SetDeletedHidden(true);
    ScriptRecord(2);
    ASSERT_TRUE(file->Skip(1));
    EXPECT_EQ(file->GetCache().GetCurrent(), tCache::kMiddleSlot);
    EXPECT_EQ(file->GetRecno(), 2.0);
    EXPECT_FALSE(file->GetCache().IsFilled(tCache::kMiddleSlot + 1));
    Ran();
    const std::string next =
        "SELECT R_E_C_N_O_ FROM CLIENTES WHERE R_E_C_N_O_  > 2 AND D_E_L_E_T_ = ' ' ORDER BY "
        "R_E_C_N_O_";
    ScriptKeys(next, {3});
    ScriptRecord(3);
    ASSERT_TRUE(file->Skip(1));
    EXPECT_EQ(Ran(), (std::vector<std::string>{next, Fetched(3)}));
    EXPECT_EQ(Name(), "C3");
}

INSTANTIATE_TEST_SUITE_P(BothModes, Navigation, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
