// Table structures changed while the real pellmar serves them, through the GM_ functions, on the
// private PostgreSQL and MariaDB: a refresh after changes made outside the gateway, a unique key
// under which deleted duplicates coexist with one live record, and an alteration of a table of
// 10,000 rows that keeps every row and logs its statements only while it runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/client/support/pellmarserved.h"
#include "tests/server/dispatch/support/structuretext.h"

namespace {

constexpr int16_t kNotFound = -11;
constexpr int16_t kNotExclusive = -12;
constexpr int16_t kNotOpen = -24;
constexpr int16_t kDuplicate = -37;
constexpr int kRows = 10000;

using gmtest::ErrorOf;
using gmtest::Structure;

// The work area's fields as "name type declared-length", D_E_L_E_T_ included.
std::string Fields(GM_HANDLE db, int16_t wa) {
    std::string fields;
    for (int16_t i = 0; i < GM_GetColCount(db, static_cast<uint16_t>(wa)); ++i) {
        char name[30] = "";
        uint8_t type = 0;
        uint32_t length = 0;
        uint16_t declared = 0;
        uint16_t decimals = 0;
        GM_GetFieldDesc(db, static_cast<uint16_t>(wa), i, name, &type, &length, &declared,
                        &decimals);
        if (!fields.empty()) fields += ", ";
        fields +=
            std::string(name) + " " + static_cast<char>(type) + " " + std::to_string(declared);
    }
    return fields;
}

template <class Database>
class TableDef : public gmtest::PellmarServed<Database> {
protected:
    TableDef() { this->moreGeneral = "AlterTraceLog=1\r\n"; }

    void CreateTable(GM_HANDLE db, const char* table,
                     const std::vector<std::vector<std::string>>& columns) {
        const GM_HANDLE fields = GM_GetCreateStruct(static_cast<int16_t>(columns.size()), 0, 0);
        ASSERT_NE(fields, 0u);
        for (size_t i = 0; i < columns.size(); ++i) {
            const auto& c = columns[i];
            const int16_t length = static_cast<int16_t>(std::stoi(c[2]));
            ASSERT_NE(GM_SetCreateField(fields, static_cast<int16_t>(i), c[0].c_str(), c[1][0],
                                        length, length, static_cast<int16_t>(std::stoi(c[3]))),
                      nullptr);
        }
        ASSERT_EQ(GM_CreateFile(db, table, fields), 0) << ErrorOf(db);
    }
    // Writes a record whose CODE is code; the write's status.
    int16_t WriteCode(GM_HANDLE db, int16_t wa, const std::string& code) {
        GM_InitRecord(db, static_cast<uint16_t>(wa), 0);
        GM_SetInternalFld(db, static_cast<uint16_t>(wa), "CODE", code.c_str());
        return GM_Write(db, static_cast<uint16_t>(wa), 0);
    }
    // Rows written past the gateway, in multi-row inserts.
    void InsertRows(const std::string& head, int rows, std::string (*row)(int)) {
        constexpr int kPerInsert = 1000;
        for (int from = 1; from <= rows; from += kPerInsert) {
            std::string sql = head;
            for (int n = from; n < from + kPerInsert && n <= rows; ++n) {
                sql += (n == from ? "" : ",") + row(n);
            }
            ASSERT_TRUE(this->Run(sql)) << sql.substr(0, 200);
        }
    }
};

using gmtest::DatabaseName;
using gmtest::Databases;
TYPED_TEST_SUITE(TableDef, Databases, DatabaseName);

TYPED_TEST(TableDef, RefreshBringsTablesChangedOutsideIntoTheCacheAndOut) {
    const GM_HANDLE db = this->Connected();
    ASSERT_TRUE(this->Run(
        "create table OUTSIDE (CODE char(8), D_E_L_E_T_ char(1), R_E_C_N_O_ integer not null)"));
    EXPECT_EQ(GM_Unique(db, "OUTSIDE", "CODE"), kNotFound);  // not cached
    EXPECT_EQ(GM_Refresh(db, "OUTSIDE"), 0);
    EXPECT_EQ(GM_Unique(db, "OUTSIDE", "CODE"), kNotOpen);  // cached now
    ASSERT_TRUE(this->Run("alter table OUTSIDE add NAME char(20)"));
    EXPECT_EQ(GM_Refresh(db, "outside"), 0);
    const int16_t wa = GM_Open(db, "OUTSIDE", 0, 0);
    ASSERT_GT(wa, 0) << ErrorOf(db);
    EXPECT_NE(Fields(db, wa).find("NAME C 20"), std::string::npos) << Fields(db, wa);
    ASSERT_EQ(GM_Close(db, static_cast<uint16_t>(wa)), 0);
    ASSERT_TRUE(this->Run("drop table OUTSIDE"));
    EXPECT_EQ(GM_Refresh(db, "OUTSIDE"), 0);
    EXPECT_EQ(GM_Unique(db, "OUTSIDE", "CODE"), kNotFound);
    EXPECT_EQ(GM_Refresh(db, "NEVERMADE"), 0);
    EXPECT_EQ(GM_Refresh(db, "NO'NAME"), 0);
}

TYPED_TEST(TableDef, UniqueKeyLetsDeletedDuplicatesCoexistWithOneLiveRecord) {
    const GM_HANDLE db = this->Connected();
    ASSERT_NO_FATAL_FAILURE(this->CreateTable(db, "KEYED", {{"CODE", "C", "8", "0"}}));
    int16_t wa = GM_Open(db, "KEYED", 0, 0);
    ASSERT_GT(wa, 0) << ErrorOf(db);
    ASSERT_EQ(this->WriteCode(db, wa, "A1"), 0) << ErrorOf(db);
    ASSERT_EQ(this->WriteCode(db, wa, "B1"), 0) << ErrorOf(db);
    EXPECT_EQ(GM_Unique(db, "KEYED", "CODE"), kNotExclusive);
    ASSERT_EQ(GM_Close(db, static_cast<uint16_t>(wa)), 0);
    EXPECT_EQ(GM_Unique(db, "KEYED", "CODE"), kNotOpen);

    wa = GM_Open(db, "KEYED", 0, 1);
    ASSERT_GT(wa, 0) << ErrorOf(db);
    ASSERT_EQ(GM_Unique(db, "KEYED", "CODE"), 0) << ErrorOf(db);
    // Through the same work area: the deleted A1 and a new live one, but never two live ones.
    ASSERT_EQ(GM_DeleteR(db, static_cast<uint16_t>(wa), 1), 0) << ErrorOf(db);
    EXPECT_EQ(this->WriteCode(db, wa, "A1"), 0) << ErrorOf(db);
    EXPECT_EQ(this->WriteCode(db, wa, "A1"), kDuplicate);
    EXPECT_EQ(this->WriteCode(db, wa, "C1"), 0) << ErrorOf(db);
    EXPECT_EQ(this->Value("select count(*) from KEYED where CODE = 'A1'"), "2");
    EXPECT_EQ(this->Value("select count(*) from KEYED where CODE = 'A1' and D_E_L_E_T_ = '*'"),
              "1");
    EXPECT_EQ(this->Value("select count(*) from KEYED"), "4");
}

std::string AlterRow(int n) {
    const std::string number = std::to_string(n);
    return "('C" + number + "', " + std::to_string(n / 4) + "." + std::to_string(n % 4 * 25) +
           ", " + std::to_string(n % 1000) + ", 'OLD', ' ', " + number + ")";
}

TYPED_TEST(TableDef, AlterationKeepsEveryRowAndRegistersTheNewStructure) {
    const GM_HANDLE db = this->Connected();
    const std::vector<std::vector<std::string>> columnsBefore = {{"CODE", "C", "8", "0"},
                                                                 {"PRICE", "N", "12", "2"},
                                                                 {"QTY", "N", "6", "0"},
                                                                 {"GONE", "C", "4", "0"}};
    ASSERT_NO_FATAL_FAILURE(this->CreateTable(db, "ALTERED", columnsBefore));
    ASSERT_NO_FATAL_FAILURE(this->InsertRows(
        "insert into ALTERED (CODE, PRICE, QTY, GONE, D_E_L_E_T_, R_E_C_N_O_) values ", kRows,
        AlterRow));
    const std::vector<std::vector<std::string>> after = {{"CODE", "C", "12", "0"},
                                                         {"PRICE", "N", "12", "2"},
                                                         {"QTY", "C", "6", "0"},
                                                         {"NOTE", "C", "5", "0"}};
    const size_t before = this->program->Output().size();
    ASSERT_EQ(
        GM_AlterFile(db, "altered", Structure(columnsBefore).c_str(), Structure(after).c_str()), 0)
        << ErrorOf(db) << this->program->Output();

    const std::string all = std::to_string(kRows);
    EXPECT_EQ(this->Value("select count(*) from ALTERED"), all);
    EXPECT_EQ(
        this->Value("select count(*) from ALTERED where trim(CODE) = concat('C', R_E_C_N_O_)"),
        all);
    EXPECT_EQ(this->Value("select count(*) from ALTERED where PRICE * 4 = R_E_C_N_O_"), all);
    EXPECT_EQ(this->Value("select count(*) from ALTERED where "
                          "trim(trailing '.' from trim(QTY)) = concat('', R_E_C_N_O_ % 1000)"),
              all);
    EXPECT_EQ(this->Value("select count(*) from ALTERED where coalesce(trim(NOTE), '') = ''"), all);
    EXPECT_EQ(this->Value("select count(*) from ALTERED where D_E_L_E_T_ = ' '"), all);
    EXPECT_EQ(this->Values("select concat(trim(FIELD_NAME), ' ', trim(FIELD_TYPE), ' ', "
                           "trim(FIELD_PREC), ' ', trim(FIELD_DEC)) from GML_FIELD order by 1"),
              std::vector<std::string>{"PRICE P 12 2"});

    const int16_t wa = GM_Open(db, "ALTERED", 0, 0);
    ASSERT_GT(wa, 0) << ErrorOf(db);
    // MariaDB moves a modified column to the end: the fields, in any order.
    std::string fields = Fields(db, wa) + ", ";
    for (const char* field :
         {"CODE C 12, ", "PRICE F 12, ", "QTY C 6, ", "NOTE C 5, ", "D_E_L_E_T_ C 1, "}) {
        EXPECT_NE(fields.find(field), std::string::npos) << fields;
    }
    EXPECT_EQ(GM_GetColCount(db, static_cast<uint16_t>(wa)), 5);
    EXPECT_EQ(GM_GetTotalRecs(db, static_cast<uint16_t>(wa)), kRows);
    EXPECT_EQ(GM_First(db, static_cast<uint16_t>(wa), 0, 0), 0);
    // Open here too: refused, and nothing changes.
    EXPECT_EQ(
        GM_AlterFile(db, "ALTERED", Structure(after).c_str(), Structure(columnsBefore).c_str()),
        -15);
    EXPECT_EQ(this->Values("select concat(trim(FIELD_NAME), ' ', trim(FIELD_TYPE)) from GML_FIELD"),
              std::vector<std::string>{"PRICE P"});
    EXPECT_EQ(this->Value("select count(*) from ALTERED where NOTE is not null and NOTE <> ''"),
              "0");

    // The alteration's statements were logged; the reads after it were not.
    ASSERT_EQ(GM_DisConnect(db), 0);
    ASSERT_TRUE(this->program->WaitFor("End GmlClient Thread", before)) << this->program->Output();
    const std::string logged = this->program->Output().substr(before);
    EXPECT_NE(logged.find("[OPLOG]"), std::string::npos) << logged;
    EXPECT_NE(logged.find("Routine: tDBServer::RegisterFields"), std::string::npos) << logged;
    EXPECT_EQ(logged.find("Routine: tISAMFile::"), std::string::npos) << logged;
}

}  // namespace
