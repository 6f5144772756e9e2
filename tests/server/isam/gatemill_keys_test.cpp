// The key cursors of a table file, text for text: record-number and index order, forward and
// backward, whole and partial keys, the deleted and filter conditions and the row counts; and
// field values written as SQL literals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "server/isam/gatemill.h"
#include "tests/server/support/testisam.h"

namespace {

// A dialect that writes every character it asks for as <code:afterFunction:first:last> and
// notes what the key conditions handed to AddKeyBounds.
class MarkingFile : public gmtest::TestISAMFile {
public:
    using gmtest::TestISAMFile::TestISAMFile;
    bool NeedsCharFunc(char c) override { return c == '\'' || c == '\n'; }
    bool CharFunc(tString& out, u8 c, bool afterFunction, bool first, bool last) override {
        out += ("<" + std::to_string(c) + ":" + std::to_string(afterFunction) + ":" +
                std::to_string(first) + ":" + std::to_string(last) + ">")
                   .c_str();
        return true;
    }
    bool AddKeyBounds(i32 keyFields, const tIndexDefinition*, i32 conditions, bool,
                      bool whereOpen) override {
        boundsKeyFields = keyFields;
        boundsConditions = conditions;
        return whereOpen;
    }
    i32 boundsKeyFields = -99;
    i32 boundsConditions = -99;
};

class KeyCursor : public ::testing::Test, public gmtest::IsamTestBed {
protected:
    // The current record: NOME "SILVA", CIDADE "RIO", VALOR 12.5, record number 77 (or none).
    void Position(tISAMFile& file, f64 recno) {
        auto& test = static_cast<gmtest::TestISAMFile&>(file);
        char* record = test.CurrentRecord();
        std::memcpy(record + 0, "SILVA", 5);
        std::memcpy(record + 10, "RIO", 3);
        const f64 valor = 12.5;
        std::memcpy(record + 18, &valor, sizeof valor);
        tCache& cache = file.GetCache();
        cache.Reset(false);
        cache.SetCurrentRecno(recno);
    }
    std::string Sql() { return conn.GetSqlBuffer().GetText(); }
};

TEST_F(KeyCursor, TextsForEveryOrderDirectionAndKeyPrefix) {
    const char* byNameAsc = " ORDER BY NOME,CIDADE,R_E_C_N_O_";
    const char* byNameDesc = " ORDER BY NOME DESC ,CIDADE DESC ,R_E_C_N_O_ DESC ";
    const struct {
        const char* name;
        i16 order;
        bool forward;
        i32 keyFields;
        f64 recno;  // 0: the current slot is empty
        bool hideDeleted;
        bool filtered;
        std::string sql;
    } cases[] = {
        {"record order from the top", 0, true, -1, 0, false, false,
         "SELECT R_E_C_N_O_ FROM CLIENTES WHERE R_E_C_N_O_  > 0 ORDER BY R_E_C_N_O_"},
        {"record order after the current record", 0, true, 1, 77, false, false,
         "SELECT R_E_C_N_O_ FROM CLIENTES WHERE R_E_C_N_O_  > 77 ORDER BY R_E_C_N_O_"},
        {"record order from the bottom", 0, false, -1, 77, false, false,
         "SELECT R_E_C_N_O_ FROM CLIENTES ORDER BY R_E_C_N_O_ DESC"},
        {"record order before the current record", 0, false, 1, 77, false, false,
         "SELECT R_E_C_N_O_ FROM CLIENTES WHERE R_E_C_N_O_  < 77 ORDER BY R_E_C_N_O_ DESC"},
        {"record order backward from an empty slot", 0, false, 1, 0, false, false,
         "SELECT R_E_C_N_O_ FROM CLIENTES WHERE R_E_C_N_O_  < 4294967295 ORDER BY R_E_C_N_O_ "
         "DESC"},
        {"index order from the top", 1, true, -1, 77, false, false,
         std::string("SELECT R_E_C_N_O_ FROM CLIENTES") + byNameAsc},
        {"index order from the bottom", 1, false, -1, 77, false, false,
         std::string("SELECT R_E_C_N_O_ FROM CLIENTES") + byNameDesc},
        {"index order, whole key", 1, true, 3, 77, false, false,
         std::string("SELECT R_E_C_N_O_ FROM CLIENTES WHERE  NOME = 'SILVA     ' AND CIDADE = "
                     "'RIO     ' AND R_E_C_N_O_  > 77") +
             byNameAsc},
        {"index order, two key fields", 1, true, 2, 77, false, false,
         std::string("SELECT R_E_C_N_O_ FROM CLIENTES WHERE  NOME = 'SILVA     ' AND CIDADE  > "
                     "'RIO     '") +
             byNameAsc},
        {"index order, one key field", 1, true, 1, 77, false, false,
         std::string("SELECT R_E_C_N_O_ FROM CLIENTES WHERE  NOME  > 'SILVA     '") + byNameAsc},
        {"index order backward: the compared value is not padded", 1, false, 2, 77, false, false,
         std::string("SELECT R_E_C_N_O_ FROM CLIENTES WHERE  NOME = 'SILVA     ' AND CIDADE  < "
                     "'RIO'") +
             byNameDesc},
        {"D_E_L_E_T_ at the last key position gives only equalities", 2, true, 2, 77, false, false,
         "SELECT R_E_C_N_O_ FROM CLIENTES WHERE  VALOR = 12.5000000000 ORDER BY "
         "VALOR,D_E_L_E_T_,R_E_C_N_O_"},
        {"deleted hidden after the key", 0, true, 1, 77, true, false,
         "SELECT R_E_C_N_O_ FROM CLIENTES WHERE R_E_C_N_O_  > 77 AND D_E_L_E_T_ = ' ' ORDER BY "
         "R_E_C_N_O_"},
        {"deleted hidden without a key", 0, false, -1, 77, true, false,
         "SELECT R_E_C_N_O_ FROM CLIENTES WHERE D_E_L_E_T_ = ' ' ORDER BY R_E_C_N_O_ DESC"},
        {"filters after the deleted condition", 1, true, 1, 77, true, true,
         std::string("SELECT R_E_C_N_O_ FROM CLIENTES WHERE  NOME  > 'SILVA     ' AND D_E_L_E_T_ "
                     "= ' ' AND (VALOR > 10) AND (CIDADE = 'RIO')") +
             byNameAsc},
        {"filters alone open the WHERE", 0, false, -1, 77, false, true,
         "SELECT R_E_C_N_O_ FROM CLIENTES WHERE (VALOR > 10) AND (CIDADE = 'RIO') ORDER BY "
         "R_E_C_N_O_ DESC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto file = MakeFile();
        ASSERT_EQ(file->SetOrder(c.order), 0);
        Position(*file, c.recno);
        file->SetDeletedHidden(c.hideDeleted);
        if (c.filtered) {
            file->AddFilter(0, "VALOR > 10");
            file->AddFilter(1, "CIDADE = 'RIO'");
        }
        conn.SetRowCount(7);
        EXPECT_TRUE(c.forward ? file->BuildNextSelect(c.keyFields)
                              : file->BuildPrevSelect(c.keyFields));
        EXPECT_EQ(Sql(), c.sql);
        EXPECT_EQ(conn.GetRowCount(), c.filtered ? 250 : 40);
    }
}

TEST_F(KeyCursor, OwnerPrefixAndFilterIndexInRecordOrder) {
    conn.owner = "dbo.";
    auto file = MakeFile();
    Position(*file, 5);
    file->SetFilterIndex(gmtest::MakeIndex("__CLIENTES__", {1, 5}));
    file->BuildNextSelect(2);
    EXPECT_EQ(Sql(),
              "SELECT R_E_C_N_O_ FROM dbo.CLIENTES WHERE  CIDADE = 'RIO     ' AND R_E_C_N_O_  > 5 "
              "ORDER BY CIDADE,R_E_C_N_O_");
    ASSERT_EQ(file->SetOrder(1), 0);
    EXPECT_STREQ(file->GetCurrentIndex()->GetName(), "CLI1") << "an index order wins";
}

TEST_F(KeyCursor, AlwaysTrueLastConditionIsLeftOut) {
    MarkingFile file(&conn, def, reply, session.threadId);
    file.SetDBServer(&session);
    ASSERT_EQ(file.SetOrder(1), 0);
    const std::string head = "SELECT R_E_C_N_O_ FROM CLIENTES";
    const struct {
        const char* name;
        const char* nome;
        const char* cidade;
        i32 keyFields;
        std::string sql;
        i32 kept;
        i32 conditions;
    } cases[] = {
        {"empty text at the last position", "SILVA", "", 2, head + " WHERE  NOME = 'SILVA     '", 1,
         1},
        {"the only condition drops out: no WHERE at all", "", "", 1, head, 0, 0},
        {"a text that is not empty stays", "SILVA", "RIO", 2,
         head + " WHERE  NOME = 'SILVA     ' AND CIDADE  >= 'RIO     '", 2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char* record = file.CurrentRecord();
        std::memset(record, 0, file.CurrentRecordSize());
        std::memcpy(record, c.nome, std::strlen(c.nome));
        std::memcpy(record + 10, c.cidade, std::strlen(c.cidade));
        file.AddSelectFrom(true, true);
        EXPECT_EQ(file.AddKeyWhere(record, c.keyFields, " >= ", false), c.conditions > 0);
        EXPECT_EQ(Sql(), c.sql);
        EXPECT_EQ(file.boundsKeyFields, c.kept);
        EXPECT_EQ(file.boundsConditions, c.conditions);
    }
}

class Literal : public ::testing::Test, public gmtest::IsamTestBed {};

TEST_F(Literal, FieldValuesWithTheBaseHooks) {
    const f64 nan = std::numeric_limits<f64>::quiet_NaN();
    const f64 inf = std::numeric_limits<f64>::infinity();
    const struct {
        const char* name;
        i16 field;
        std::string bytes;  // at the field's offset
        f64 number;
        bool pad, quote, charFunctions;
        bool ok;
        std::string sql;
    } cases[] = {
        {"C padded", 0, "ABC", 0, true, true, true, true, "'ABC       '"},
        {"C not padded", 0, "ABC", 0, false, true, true, true, "'ABC'"},
        {"C empty padded", 0, "", 0, true, true, true, true, "'          '"},
        {"C empty", 0, "", 0, false, true, true, true, "''"},
        {"C filling its length", 0, "ABCDEFGHIJ", 0, true, true, true, true, "'ABCDEFGHIJ'"},
        {"C quote doubled", 0, "D'AVILA", 0, false, true, true, true, "'D''AVILA'"},
        {"C quote doubled without functions", 0, "D'AVILA", 0, false, true, false, true,
         "'D''AVILA'"},
        {"C control byte stays inside", 0, "A\nB", 0, false, true, true, true, "'A\nB'"},
        {"C high byte stays inside", 0, "S\xC3O", 0, false, true, true, true, "'S\xC3O'"},
        {"C raw text for the audit", 0, "D'AVILA", 0, false, false, false, true, "D'AVILA"},
        {"D", 3, "20110117", 0, false, true, true, true, "'20110117'"},
        {"D empty is blanks", 3, "", 0, false, true, true, true, "'        '"},
        {"D quote doubled", 3, "2011'117", 0, false, true, true, true, "'2011''117'"},
        {"L", 4, "T", 0, true, true, true, true, "'T'"},
        {"L blank is F", 4, " ", 0, true, true, true, true, "'F'"},
        {"L empty", 4, "", 0, true, true, true, true, "''"},
        {"L quote doubled", 4, "'", 0, true, true, true, true, "''''"},
        {"N rounds half up", 2, "", 0.125, true, true, true, true, "0.1300000000"},
        {"N rounds half away from zero", 2, "", -0.125, true, true, true, true, "-0.1300000000"},
        {"N rounds down", 2, "", 0.124, true, true, true, true, "0.1200000000"},
        {"N not a number", 2, "", nan, true, true, true, false, ""},
        {"N infinite", 2, "", inf, true, true, true, false, ""},
        {"field outside the record", 5, "", 0, true, true, true, false, ""},
    };
    auto file = MakeFile();
    const tTableDefinitionExclusive& mirror = file->GetMirror();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> record(36, 0);
        const tField* field = mirror.GetField(c.field);
        const u32 offset = field->GetOffset();
        if (field->IsData() && field->GetType() == 'N') {
            std::memcpy(record.data() + offset, &c.number, sizeof c.number);
        } else if (field->IsData()) {
            std::memcpy(record.data() + offset, c.bytes.data(), c.bytes.size());
        }
        tString out("x=");
        EXPECT_EQ(file->ValueToSql(c.field, out, record.data(), c.pad, c.quote, c.charFunctions),
                  c.ok);
        EXPECT_EQ(std::string(out.GetText()), "x=" + c.sql);
    }
}

TEST_F(Literal, DialectFunctionsSplitTheQuotedRuns) {
    MarkingFile file(&conn, def, reply, session.threadId);
    const struct {
        const char* name;
        std::string value;  // NOME, C 10
        bool pad;
        std::string sql;
    } cases[] = {
        {"inside", "A'B", false, "'A'<39:0:0:0>'B'"},
        {"first", "'AB", false, "<39:0:1:0>'AB'"},
        {"two in a row", "A'\nB", false, "'A'<39:0:0:0><10:1:0:0>'B'"},
        {"last written character", "AB'", false, "'AB'<39:0:0:1>"},
        {"padding follows", "AB'", true, "'AB'<39:0:0:0>'       '"},
        {"the field's last position", "ABCDEFGHI'", true, "'ABCDEFGHI'<39:0:0:1>"},
        {"alone", "'", false, "<39:0:1:1>"},
        {"no function needed", "ABC", false, "'ABC'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> record(36, 0);
        std::memcpy(record.data(), c.value.data(), c.value.size());
        tString out;
        EXPECT_TRUE(file.ValueToSql(0, out, record.data(), c.pad, true, true));
        EXPECT_EQ(std::string(out.GetText()), c.sql);
    }
}

TEST(RoundDouble, HalfAwayFromZeroJustBelowOneHalf) {
    const struct {
        f64 value;
        i32 decimals;
        f64 rounded;
    } cases[] = {{0.125, 2, 0.13},
                 {-0.125, 2, -0.13},
                 {0.124, 2, 0.12},
                 {2.5, 0, 3.0},
                 {-2.5, 0, -3.0},
                 {2.4999, 0, 2.0},
                 {1234.5, -2, 1200.0},
                 {1e-40, 40, 1e-40},
                 {0.0, 2, 0.0},
                 // Scaled beyond the largest double: such a number has no decimals to round.
                 {1e307, 2, 1e307},
                 {-1e307, 2, -1e307},
                 {1e300, 32, 1e300}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_DOUBLE_EQ(RoundDouble(c.value, c.decimals), c.rounded);
    }
    EXPECT_DOUBLE_EQ(PowInt(10.0, 3), 1000.0);
    EXPECT_DOUBLE_EQ(PowInt(2.0, -2), 0.25);
}

}  // namespace
