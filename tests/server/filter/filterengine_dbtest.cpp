// Filters translated through the real table files of PostgreSQL and MariaDB, each condition run
// as the WHERE clause of a query over a small table: the rows it selects, and the flag.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "server/filter/filterengine.h"
#include "server/filter/filterparser.h"
#include "tests/server/support/mariadatabase.h"
#include "tests/server/support/pgdatabase.h"

namespace {

using Rows = std::vector<std::string>;

const Rows kAll = {"1", "2", "3", "4", "5", "6"};

// The fixture table F: ID, NAME, QTY, NUM.
//   1 ANA 5 5 | 2 BIA 7 1 | 3 O'BRIEN 0 0 | 4 C:\DIR 5 9 | 5 ana 12 3 | 6 (blank) 0 7
const char* const kRows[] = {
    "('1', 'ANA', 5, 5)",      "('2', 'BIA', 7, 1)",
    "('3', 'O''BRIEN', 0, 0)", nullptr /* 4 holds a backslash, written per database */,
    "('5', 'ana', 12, 3)",     "('6', '', 0, 7)"};

std::shared_ptr<tTableDefinitionShared> FDefinition(const std::string& environment) {
    auto def = std::make_shared<tTableDefinitionShared>("F", environment.c_str());
    def->AddField("ID", 'C', 1, 0, true, true);
    def->AddField("NAME", 'C', 10, 0, true, true);
    def->AddField("QTY", 'N', 12, 2, true, true);
    def->AddField("NUM", 'N', 12, 2, true, true);
    def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
    return def;
}

// 200 relations that hold for every row, joined by *AND and *OR in turn.
std::string FlatList() {
    std::string filter;
    for (int i = 0; i < 200; ++i) {
        if (i > 0) filter += i % 2 ? " *AND " : " *OR ";
        filter += "QTY *NE " + std::to_string(1000 + i);
    }
    return filter;
}

struct FilterCase {
    std::string filter;
    Rows postgres;  // the rows selected on each database
    bool postgresTranslated;
    Rows maria;
    bool mariaTranslated;
};

std::vector<FilterCase> Cases() {
    return {
        {"NAME *EQ 'ANA'", {"1"}, true, {"1", "5"}, true},  // the MariaDB collation ignores case
        {"NAME *CT 'AN'", {"1"}, true, {"1", "5"}, true},
        {"%SST(NAME 1 2) *EQ 'BI'", {"2"}, true, {"2"}, true},
        {"%SST(NAME 2) *EQ 'NA'", {"1"}, true, {"1", "5"}, true},
        {"QTY *GE 5 *AND QTY *LE 5", {"1", "4"}, true, {"1", "4"}, true},
        {"QTY *GT 4 *AND *NOT ( NUM *EQ 5 )", {"2", "4", "5"}, true, {"2", "4", "5"}, true},
        {"QTY *EQ 0 *OR NUM *LT -1 *OR NUM *GT 8", {"3", "4", "6"}, true, {"3", "4", "6"}, true},
        {"UPPER(NAME) *EQ 'ANA'", {"1", "5"}, true, kAll, false},
        {"STRTRAN(NAME, 'A', 'X') *EQ 'XNX'", {"1"}, true, kAll, false},
        {"EMPTY(NAME)", {"6"}, true, kAll, false},
        {"EMPTY(QTY) *AND NUM *EQ 0", {"3"}, true, {"3"}, false},
        {"QTY + 1 *EQ 6 *AND NUM *GT 4", {"1", "4", "6"}, false, {"1", "4", "6"}, false},
        // A text holding an apostrophe or a backslash stays one literal.
        {"NAME *EQ \"O'BRIEN\"", {"3"}, true, {"3"}, true},
        {"NAME *EQ 'C:\\DIR'", {"4"}, true, {"4"}, true},
        {"NAME *EQ \"x' OR '1'='1\"", {}, true, {}, true},
        // Operands without a text of their own do not pair.
        {"(QTY) *GE 5 *AND (NUM) *LE 5", {"1", "2", "5"}, true, {"1", "2", "5"}, true},
        {"UPPER(NAME) *GE 'B' *AND UPPER(ID) *LE 'B'", {"2", "3", "4"}, true, kAll, false},
        // Calls without arguments, or with an empty one, fall back.
        {"UPPER() *EQ 'ANA'", kAll, false, kAll, false},
        {"UPPER(NAME,) *EQ 'ANA'", kAll, false, kAll, false},
        {"UPPER(,NAME) *EQ 'ANA'", kAll, false, kAll, false},
        {FlatList(), kAll, true, kAll, true},
    };
}

// Translates each case through file and runs its condition on the fixture.
template <class Database>
class FilteredTable : public Database {
protected:
    void CreateFixture(const char* backslashRow) {
        ASSERT_TRUE(
            this->Run("CREATE TABLE F (ID CHAR(1), NAME CHAR(10), QTY NUMERIC(12,2), "
                      "NUM NUMERIC(12,2))"));
        for (const char* row : kRows) {
            ASSERT_TRUE(
                this->Run(std::string("INSERT INTO F VALUES ") + (row ? row : backslashRow)));
        }
    }
    void ExpectSelections(tFilterOwner& file, bool postgres) {
        for (const FilterCase& c : Cases()) {
            SCOPED_TRACE(c.filter.substr(0, 60));
            std::string text = "'" + c.filter + "'";
            tFilterEngine engine(file, &text[0]);
            tString condition;
            engine.Translate(condition);
            EXPECT_EQ(engine.IsTranslated(), postgres ? c.postgresTranslated : c.mariaTranslated)
                << condition.GetText();
            EXPECT_EQ(this->Values(std::string("SELECT ID FROM F WHERE ") + condition.GetText() +
                                   " ORDER BY ID"),
                      postgres ? c.postgres : c.maria)
                << condition.GetText();
        }
    }
    void ExpectDeepNestingRefused(tFilterOwner& file) {
        std::string text = "'" + std::string(kFilterMaxDepth + 1, '(') + "QTY *EQ 5" +
                           std::string(kFilterMaxDepth + 1, ')') + "'";
        tFilterEngine engine(file, &text[0]);
        tString condition;
        engine.Translate(condition);
        EXPECT_STREQ(condition.GetText(), "");
        EXPECT_FALSE(engine.IsTranslated());
    }

    tCommBuffer reply;
};

class PostgresFilters : public FilteredTable<gmtest::PostgresDatabase> {};

TEST_F(PostgresFilters, ConditionsSelectTheRowsOfTheFilter) {
    CreateFixture("('4', 'C:\\DIR', 5, 9)");
    tPostgresISAMFile file(conn.get(), FDefinition(dsn), reply, 1);
    ExpectSelections(file, true);
    ExpectDeepNestingRefused(file);
}

class MariaFilters : public FilteredTable<gmtest::MariaDatabase> {};

TEST_F(MariaFilters, ConditionsSelectTheRowsOfTheFilter) {
    CreateFixture("('4', 'C:\\\\DIR', 5, 9)");
    tMySQLISAMFile file(conn.get(), FDefinition(dsn), reply, 1);
    ExpectSelections(file, false);
    ExpectDeepNestingRefused(file);
}

}  // namespace
