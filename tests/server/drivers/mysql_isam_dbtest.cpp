// Table files on the private MariaDB: literals written with CONCAT and CHAR() store exactly the
// bytes of the record; a table whose keys hold quotes, backslashes, control characters and
// accented letters is read whole in index order both ways through key cursors built from those
// literals, and in record-number order; the record fetch is prepared with its parameter marker
// and the key cursors carry the row limit; the filter hooks' texts run as conditions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "server/drivers/mysql.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/mariadatabase.h"
#include "tests/server/support/tablewalk.h"
#include "tests/server/support/testfilter.h"

namespace {

constexpr int kRows = 300;

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

// Name prefixes that no plain literal may carry, mixed with their plain neighbours in the
// collation's order.
const char* const kPrefixes[] = {"O'N",  "A\\B", "\x01X", "caf\xe9", "CAFE", "Caf\xc8",
                                 "z\"q", "Z",    "\xe9t", "x\ny",    "x y",  "'",
                                 "\\",   "a",    "A\tB",  "\xff"};

class MySQLTableFile : public gmtest::MariaDatabase {
protected:
    void SetUp() override {
        MariaDatabase::SetUp();
        if (HasFatalFailure()) return;
        tTableDefinition made("CLIENTES", dsn.c_str());
        made.AddField("NOME", 'C', 10, 0, true, true);
        made.AddField("VALOR", 'N', 15, 6, true, true);
        made.AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
        made.AddField("R_E_C_N_O_", 'R', 4, 0, false, true);
        CheckUpAndCreate(made);
        if (HasFatalFailure()) return;
        // Each name is written through the file's own literals, so the table holds what they
        // store; the record numbers run in another order than the names.
        std::unique_ptr<tISAMFile> writer = Open();
        for (int g = 1; g <= kRows; ++g) {
            const int recno = (g * 7) % kRows + 1;
            std::string name = kPrefixes[g % std::size(kPrefixes)] + std::to_string(g % 23);
            names[recno] = name.substr(0, 10);
            ASSERT_TRUE(Run("INSERT INTO CLIENTES (NOME, VALOR, R_E_C_N_O_) VALUES (" +
                            Literal(*writer, name) + ", " + std::to_string(g) + ", " +
                            std::to_string(recno) + ")"));
        }
        ASSERT_TRUE(Run("ALTER TABLE CLIENTES ADD PRIMARY KEY (R_E_C_N_O_)"));
        ASSERT_TRUE(Run("CREATE INDEX CLIENTES1 ON CLIENTES (NOME, R_E_C_N_O_, D_E_L_E_T_)"));
        writer.reset();
        def = conn->GetTableDef("CLIENTES", dsn.c_str(), true);
        ASSERT_NE(def, nullptr);
        ASSERT_EQ(def->GetIndexCount(), 1);
        file = Open();
    }
    void TearDown() override {
        file.reset();
        MariaDatabase::TearDown();
    }

    std::unique_ptr<tISAMFile> Open() {
        std::shared_ptr<tTableDefinitionShared> of = def;
        if (!of) {  // before the table is described: the fields that the literals need
            of = std::make_shared<tTableDefinitionShared>("CLIENTES", dsn.c_str());
            of->AddField("NOME", 'C', 10, 0, true, true);
        }
        std::unique_ptr<tISAMFile> opened(
            static_cast<tISAMFile*>(conn->NewISAMFile(reply, of, session.threadId)));
        opened->SetDBServer(&session);
        return opened;
    }

    // The literal that the file writes for NOME holding value.
    static std::string Literal(tISAMFile& on, const std::string& value) {
        const tTableDefinition& layout = on.GetMirror();
        const i16 nome = layout.GetFieldNo("NOME");
        std::vector<char> record(layout.GetRecLen(), 0);
        std::memcpy(record.data() + layout.GetField(nome)->GetOffset(), value.data(),
                    std::min<size_t>(value.size(), 10));
        tString out;
        EXPECT_TRUE(on.ValueToSql(nome, out, record.data(), true, true, true));
        return out.GetText();
    }

    std::vector<int> Recnos(const std::string& sql) {
        std::vector<int> recnos;
        for (const std::string& v : Values(sql)) recnos.push_back(std::stoi(v));
        return recnos;
    }

    // The record that the file sends the client: its number, after checking that the record
    // carries that row's name, padded as the client reads it.
    void CheckName(const gmtest::SentRecord& sent) {
        std::string name = sent.record.substr(0, 10);
        name = name.substr(0, name.find('\0'));
        const std::string& stored = names[sent.recno];
        EXPECT_EQ(Hex(name.substr(0, stored.size())), Hex(stored)) << "record " << sent.recno;
    }
    int Sent() {
        const gmtest::SentRecord sent = gmtest::Send(*file, reply);
        CheckName(sent);
        return sent.recno;
    }
    void WalkBothWays(std::vector<int>& forward, std::vector<int>& backward) {
        gmtest::WalkBothWays(
            *file, reply, [this](const gmtest::SentRecord& sent) { CheckName(sent); }, forward,
            backward);
    }

    size_t Traced(const std::string& routine, const std::string& part) {
        size_t n = 0;
        for (const auto& entry : session.traces) {
            if (entry.label == routine && entry.text.find(part) != std::string::npos) ++n;
        }
        return n;
    }

    std::shared_ptr<tTableDefinitionShared> def;
    tCommBuffer reply;
    std::unique_ptr<tISAMFile> file;
    std::map<int, std::string> names;
};

using gmtest::Reversed;

TEST_F(MySQLTableFile, LiteralsStoreTheRecordsBytes) {
    ASSERT_TRUE(Run("CREATE TABLE T1 (K INT, V VARCHAR(10))"));
    const struct {
        std::string value;
        std::string literal;
    } cases[] = {
        {"AB'C", "CONCAT('AB',CHAR(39),'C','      ')"},
        {"\x01"
         "AB",
         "CONCAT(CHAR(1),'AB','       ')"},
        {"ABCDEFGH\\\n", "CONCAT('ABCDEFGH',CHAR(92),'',CHAR(10),'')"},  // the whole field
        {"caf\xc8", "CONCAT('caf',CHAR(200),'','      ')"},
    };
    int k = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.literal);
        const std::string literal = Literal(*file, c.value);
        EXPECT_EQ(literal, c.literal);
        const std::string key = std::to_string(++k);
        ASSERT_TRUE(Run("INSERT INTO T1 VALUES (" + key + ", " + literal + ")"));
        const std::string stored = c.value + std::string(10 - c.value.size(), ' ');
        EXPECT_EQ(Value("SELECT HEX(V) FROM T1 WHERE K = " + key), Hex(stored));
        EXPECT_EQ(Value("SELECT K FROM T1 WHERE V = " + literal), key);
    }
}

TEST_F(MySQLTableFile, EveryRecordInIndexOrderBothWays) {
    ASSERT_EQ(file->SetOrder(1), 0);
    std::vector<int> forward, backward;
    WalkBothWays(forward, backward);
    const std::vector<int> order =
        Recnos("SELECT R_E_C_N_O_ FROM CLIENTES ORDER BY NOME, R_E_C_N_O_");
    ASSERT_EQ(order.size(), static_cast<size_t>(kRows));
    EXPECT_EQ(forward, order);
    EXPECT_EQ(backward, Reversed(order));
    // The refills started from keys that only CONCAT could write.
    EXPECT_GT(Traced("tISAMFile::GetSelect", "CHAR("), 0u);
    EXPECT_GT(Traced("tISAMFile::GetSelect", " LIMIT 40"), 0u);
}

TEST_F(MySQLTableFile, EveryRecordInRecordOrderWithThePreparedFetch) {
    session.traces.clear();
    std::vector<int> forward, backward;
    WalkBothWays(forward, backward);
    const std::vector<int> order = Recnos("SELECT R_E_C_N_O_ FROM CLIENTES ORDER BY 1");
    EXPECT_EQ(forward, order);
    EXPECT_EQ(backward, Reversed(order));
    // Prepared once, run once per position with the record number bound to its marker.
    EXPECT_EQ(Traced("tISAMFile::OpenCurrentRecord", "WHERE TBL.R_E_C_N_O_ = ?"), 2u * kRows);
    EXPECT_EQ(Traced("tISAMFile::OpenCurrentRecord", "WHERE TBL.R_E_C_N_O_ = ? -- ( R = "),
              2u * kRows - 1);
    ASSERT_TRUE(file->GoTo(123, true));
    EXPECT_EQ(Sent(), 123);
}

TEST_F(MySQLTableFile, OpeningAFileSetsTheConnectionsRowCount) {
    conn->SetRowCount(7);
    std::unique_ptr<tISAMFile> another = Open();
    EXPECT_EQ(conn->GetRowCount(), 40);
}

// The filter hooks' texts run as conditions on the server: containment in both operand orders,
// with a function operand, and a substring without a length.
class MySQLFilterHooks : public gmtest::MariaDatabase {
protected:
    void SetUp() override {
        MariaDatabase::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(Run("CREATE TABLE H (FIELD CHAR(10), NAME CHAR(5))"));
        ASSERT_TRUE(Run("INSERT INTO H VALUES ('ABC', ''), ('XABCY', 'ANA'), ('Q', ' ')"));
        def->AddField("FIELD", 'C', 10, 0, true, true);
        def->AddField("NAME", 'C', 5, 0, true, true);
        def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
        file = std::make_unique<gmtest::TrimmingMySQLFile>(conn.get(), def, reply, 1);
    }
    // The rows of H that the condition keeps.
    std::string Kept(const tString& condition) {
        return Value(std::string("SELECT COUNT(*) FROM H WHERE ") + condition.GetText());
    }

    std::shared_ptr<tTableDefinitionShared> def = std::make_shared<tTableDefinitionShared>("H", "");
    tCommBuffer reply;
    std::unique_ptr<tMySQLISAMFile> file;
};

TEST_F(MySQLFilterHooks, HookTextsRunAsConditions) {
    using gmtest::Ident;
    using gmtest::Literal;
    const struct {
        gmtest::NodePtr left;
        gmtest::NodePtr right;
        const char* sql;
        const char* kept;
    } contains[] = {
        {Ident(*file, "FIELD"), Literal(*file, "ABC"), " LOCATE('ABC',FIELD)>0", "2"},
        {Literal(*file, "ZZABCYZZ"), Ident(*file, "FIELD"), " LOCATE(FIELD,'ZZABCYZZ')>0", "1"},
        {gmtest::Call(*file, "TRIM", Ident(*file, "NAME")), Literal(*file, "N"),
         " LOCATE('N',TRIM(NAME))>0 AND LENGTH(TRIM(NAME))>0", "1"},
        {Ident(*file, "FIELD"), Literal(*file, "abc"), " LOCATE('abc',FIELD)>0",
         "2"},  // the collation ignores case
    };
    for (const auto& c : contains) {
        SCOPED_TRACE(c.sql);
        tString sql;
        ASSERT_TRUE(file->ContainsExpr(sql, *c.left, *c.right));
        EXPECT_STREQ(sql.GetText(), c.sql);
        EXPECT_EQ(Kept(sql), c.kept);
    }
    gmtest::NodePtr text = Ident(*file, "FIELD");
    gmtest::NodePtr start = gmtest::Number(*file, "2");
    tString sql;
    ASSERT_TRUE(file->SubstrFunc(sql, *text, *start, nullptr));
    EXPECT_STREQ(sql.GetText(), " SUBSTRING(FIELD,2,9)");
    sql += " = 'ABCY'";
    EXPECT_EQ(Kept(sql), "1");
}

}  // namespace
