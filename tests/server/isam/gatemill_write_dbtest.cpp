// Writes, deletion marks and seeks of a table file on the private PostgreSQL and MariaDB: appends
// past a record-number counter that lags behind the table, failures that must not retry, values
// that would break a plain literal, only changed fields rewritten, deleted and live rows side by
// side under a unique key, seeks by whole and partial keys, and two connections appending at
// once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/locks/lockengine.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/mariadatabase.h"
#include "tests/server/support/pgdatabase.h"
#include "tests/server/support/recordingaudit.h"
#include "tests/server/support/tablewalk.h"
#include "tests/support/gmtest.h"

namespace {

// The fields of a CLIENTES record: NOME C 10, CIDADE C 8, VALOR N, DATA D, ATIVO L, D_E_L_E_T_.
struct Fields {
    std::string nome, cidade;
    f64 valor = 0.0;
    std::string data, ativo, deleted;
};

// A session of another client of the same server: it locks through the given engine.
class NeighbourSession : public gmtest::TestSession {
public:
    explicit NeighbourSession(tRecordLockEngine& engine) : engine(engine) { threadId = 5151; }
    tRecordLockEngine* GetRecordLockEngine() override { return &engine; }

private:
    tRecordLockEngine& engine;
};

// What sets the two servers apart in these tests.
struct OnPostgres : gmtest::PostgresDatabase {
    static constexpr const char* kName = "Postgres";
    // A violated check constraint is of the integrity class, as a duplicate key is (-37).
    static constexpr bool kCheckIsDuplicate = true;
};
struct OnMariaDB : gmtest::MariaDatabase {
    static constexpr const char* kName = "MariaDB";
    static constexpr bool kCheckIsDuplicate = false;  // error 4025, not 1062 (-27)
};

struct DatabaseName {
    template <class T>
    static std::string GetName(int) {
        return T::kName;
    }
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The SQL of these tests runs on both servers: the table's name upper-case (PostgreSQL folds
// it, MariaDB keeps it), CONCAT for joined texts, and RTRIM of the text columns, which MariaDB
// keeps blank-padded.
template <class Database>
class TableWrites : public Database {
protected:
    using Database::conn;
    using Database::Run;
    using Database::session;
    using Database::Value;

    void SetUp() override {
        Database::SetUp();
        if (this->HasFatalFailure()) return;
        tTableDefinition made("CLIENTES", this->dsn.c_str());
        made.AddField("NOME", 'C', 10, 0, true, true);
        made.AddField("CIDADE", 'C', 8, 0, true, true);
        made.AddField("VALOR", 'N', 15, 6, true, true);
        made.AddField("DATA", 'D', 8, 0, true, true);
        made.AddField("ATIVO", 'L', 1, 0, true, true);
        made.AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
        made.AddField("R_E_C_N_O_", 'R', 4, 0, false, true);
        made.AddField("R_E_C_D_E_L_", 'R', 4, 0, false, true);
        this->CheckUpAndCreate(made);
        if (this->HasFatalFailure()) return;
        ASSERT_TRUE(Run("alter table CLIENTES add primary key (R_E_C_N_O_)"));
        ASSERT_TRUE(Run("create index CLIENTES1 on CLIENTES (NOME, CIDADE, R_E_C_N_O_)"));
    }
    void TearDown() override {
        files.clear();
        buffers.clear();
        Database::TearDown();
    }

    // Rows 1..n: names N001.., cities by record number, live.
    void Fill(int n) {
        std::string sql =
            "insert into CLIENTES (NOME, CIDADE, VALOR, DATA, ATIVO, D_E_L_E_T_, R_E_C_N_O_, "
            "R_E_C_D_E_L_) values ";
        for (int g = 1; g <= n; ++g) {
            char row[80];
            std::snprintf(row, sizeof row, "%s('N%03d', 'C%02d', %d, '20110117', 'T', ' ', %d, 0)",
                          g > 1 ? "," : "", g, (g * 7) % 20, g, g);
            sql += row;
        }
        ASSERT_TRUE(Run(sql));
    }
    // A table file of the connection with a reply buffer of its own, made after the table
    // holds what the test needs, so that the engine's counter starts after its highest record
    // number.
    tISAMFile& Open(tDBConnection& c, gmtest::TestSession& s) {
        def = c.GetTableDef("CLIENTES", c.GetAlias(), true);
        EXPECT_NE(def, nullptr);
        buffers.push_back(std::make_unique<tCommBuffer>());
        files.emplace_back(
            static_cast<tISAMFile*>(c.NewISAMFile(*buffers.back(), def, s.threadId)));
        files.back()->SetDBServer(&s);
        return *files.back();
    }
    tISAMFile& Open() { return Open(*conn, session); }
    tRecordLockEngine& Engine() { return *session.GetRecordLockEngine(); }
    i32 Bucket() const { return static_cast<i32>(def->GetLockBucket()); }
    void SetCounter(f64 count) { Engine().SetRecCount(Bucket(), def->GetFullName(), count); }
    f64 Counter() { return Engine().RecCount(Bucket(), def->GetFullName()); }
    // Lays the values out as the client's record and lets the file receive it.
    static void Give(tISAMFile& file, const Fields& v) {
        const tTableDefinitionExclusive& m = file.GetMirror();
        std::vector<char> record(m.GetRecLen(), 0);
        auto put = [&](const char* name, const void* bytes, size_t n) {
            std::memcpy(record.data() + m.FindField(name)->GetOffset(), bytes, n);
        };
        put("NOME", v.nome.data(), v.nome.size());
        put("CIDADE", v.cidade.data(), v.cidade.size());
        put("VALOR", &v.valor, sizeof v.valor);
        put("DATA", v.data.data(), v.data.size());
        put("ATIVO", v.ativo.data(), v.ativo.size());
        put("D_E_L_E_T_", v.deleted.data(), v.deleted.size());
        Receive(file, std::string(record.data(), record.size()));
    }
    // The current record as the client receives it.
    static std::string Record(tISAMFile& file) {
        return gmtest::Send(file, file.GetCommBuffer()).record;
    }
    // A text field of a record the client changes, blank-padded as the client keeps it.
    static void Set(tISAMFile& file, std::string& record, const char* name,
                    const std::string& text) {
        const tField& field = *file.GetMirror().FindField(name);
        record.replace(field.GetOffset(), static_cast<size_t>(field.GetLen()),
                       text + std::string(static_cast<size_t>(field.GetLen()) - text.size(), ' '));
    }
    static void Receive(tISAMFile& file, const std::string& record) {
        tCommBuffer& in = file.GetCommBuffer();
        in.Reset();
        in.PutBytes(record.data(), record.size());
        file.RecvRecord();
    }
    static bool Append(tISAMFile& file, const Fields& v, i32& nativeError) {
        Give(file, v);
        nativeError = 0;
        return file.WriteRecord(nativeError);
    }
    bool Append(tISAMFile& file, const Fields& v) {
        i32 nativeError = 0;
        return Append(file, v, nativeError);
    }
    // NOME, D_E_L_E_T_ and R_E_C_D_E_L_ of a row, "(none)" without one; a live mark shows as
    // "-".
    std::string Row(f64 recno) {
        return Value(
            "select concat(rtrim(NOME), '|', case D_E_L_E_T_ when '*' then '*' else '-' end, "
            "'|', R_E_C_D_E_L_) from CLIENTES where R_E_C_N_O_ = " +
            std::to_string(static_cast<int>(recno)));
    }
    std::string LastError() const { return Database::LastError(); }
    std::vector<std::string> Ran(const std::string& routine) const {
        return Database::Ran(routine);
    }

    std::shared_ptr<tTableDefinitionShared> def;
    std::unique_ptr<NeighbourSession> neighbour;  // outlives the connections and files it serves
    std::vector<std::unique_ptr<tCommBuffer>> buffers;
    std::vector<std::unique_ptr<tISAMFile>> files;
};

using Databases = ::testing::Types<OnPostgres, OnMariaDB>;
TYPED_TEST_SUITE(TableWrites, Databases, DatabaseName);

TYPED_TEST(TableWrites, AppendPastALaggingCounterLandsOnTheNextFreeNumber) {
    this->Fill(20);
    tISAMFile& file = this->Open();
    ASSERT_EQ(this->Counter(), 20.0) << "loading the table set the counter";
    const struct {
        const char* name;
        f64 seed;
        f64 recno;
    } cases[] = {
        {"three numbers taken", 17, 21},
        {"far behind: the counter is set from the table after ten clashes", 3, 22},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        this->SetCounter(c.seed);
        ASSERT_TRUE(this->Append(file, {"NOVO", "C99", 1.5, "20240229", "T", " "}))
            << this->LastError();
        EXPECT_EQ(file.GetRecno(), c.recno);
        EXPECT_EQ(this->Row(c.recno), "NOVO|-|0");
    }
    EXPECT_EQ(this->Value("select count(*) from CLIENTES"), "22");
    EXPECT_EQ(this->Value("select count(*) from CLIENTES where NOME like 'N0%'"), "20")
        << "no row was touched by the clashes";
}

TYPED_TEST(TableWrites, FailuresOtherThanARecnoClashEndTheAppendAtOnce) {
    this->Fill(3);
    tISAMFile& file = this->Open();
    ASSERT_EQ(this->conn->UniqueKey("CLIENTES", "NOME"), RC_OK) << this->LastError();
    ASSERT_TRUE(this->Run("alter table CLIENTES add constraint clientes_valor check (VALOR >= 0)"));
    const struct {
        const char* name;
        Fields values;
        bool duplicate;  // the handler answers -37, else -27
        const char* text;
    } cases[] = {
        {"a live duplicate under the unique key",
         {"N002", "", 1, "", "T", " "},
         true,
         "clientes_unq"},
        {"a check constraint",
         {"OUTRO", "", -1, "", "T", " "},
         TypeParam::kCheckIsDuplicate,
         "clientes_valor"},
        {"a column the table no longer has", {"OUTRO", "C1", 1, "", "T", " "}, false, "cidade"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.text) == "cidade") {
            ASSERT_TRUE(this->Run("alter table CLIENTES drop column CIDADE"));
        }
        const f64 before = this->Counter();
        i32 nativeError = 0;
        EXPECT_FALSE(this->Append(file, c.values, nativeError));
        EXPECT_EQ(this->Counter(), before + 1) << "one record number, one INSERT";
        EXPECT_EQ(this->conn->IsDuplicateKey(nativeError), c.duplicate);
        EXPECT_FALSE(this->conn->IsUserError(nativeError));
        const std::string error = this->LastError();
        EXPECT_NE(Lower(error).find(c.text), std::string::npos) << error;
        EXPECT_NE(error.find("( SQL Statement : INSERT INTO CLIENTES("), std::string::npos)
            << error;
    }
    EXPECT_EQ(this->Value("select count(*) from CLIENTES"), "3");
}

TYPED_TEST(TableWrites, ValuesThatWouldEndALiteralAreStoredAsTheyAre) {
    tISAMFile& file = this->Open();
    const struct {
        Fields values;
        const char* stored;  // nome|cidade|data|ativo, without trailing blanks
    } cases[] = {
        {{"'--", "x');--", 0, "2011'117", "T", " "}, "'--|x');--|2011'117|T"},
        {{"O'BRIEN", "a\\b", 0, "20110117", "'", " "}, "O'BRIEN|a\\b|20110117|'"},
        {{"S\xC3O JO\xC3O", "''", 0, "", "", " "}, "S\xC3O JO\xC3O|''||F"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        ASSERT_TRUE(this->Append(file, c.values)) << this->LastError();
        const std::string recno = std::to_string(static_cast<int>(file.GetRecno()));
        EXPECT_EQ(
            this->Value("select concat(rtrim(NOME), '|', rtrim(CIDADE), '|', rtrim(DATA), '|', "
                        "ATIVO) from CLIENTES where R_E_C_N_O_ = " +
                        recno),
            c.stored);
    }
    // Read back through the file, the record holds the same bytes.
    ASSERT_TRUE(file.GoTo(1, true));
    EXPECT_EQ(this->Record(file).substr(0, 18), "'--       x');--  ");
}

TYPED_TEST(TableWrites, UpdateRewritesOnlyTheFieldsThatChanged) {
    this->Fill(5);
    tISAMFile& file = this->Open();
    ASSERT_TRUE(file.GoTo(4, true));
    std::string four = this->Record(file);
    ASSERT_TRUE(file.GoTo(3, true));
    std::string three = this->Record(file);
    // Another client changes the city meanwhile; this one changes the name only.
    ASSERT_TRUE(this->Run("update CLIENTES set CIDADE = 'LONGE' where R_E_C_N_O_ = 3"));
    this->Set(file, three, "NOME", "MUDADO");
    this->Receive(file, three);
    EXPECT_EQ(file.UpdateRecord(3), RC_OK) << this->LastError();
    EXPECT_EQ(
        this->Value(
            "select concat(rtrim(NOME), '|', rtrim(CIDADE)) from CLIENTES where R_E_C_N_O_ = 3"),
        "MUDADO|LONGE");
    this->session.traces.clear();
    this->Receive(file, three);
    EXPECT_EQ(file.UpdateRecord(3), RC_OK);
    EXPECT_EQ(this->Ran("tISAMFile::Update"), std::vector<std::string>{}) << "nothing changed";

    // A record that is not the current one is compared with its own row.
    const f64 valor = 44;
    std::memcpy(&four[file.GetMirror().FindField("VALOR")->GetOffset()], &valor, sizeof valor);
    this->Receive(file, four);
    EXPECT_EQ(file.UpdateRecord(4), RC_OK);
    EXPECT_EQ(
        this->Ran("tISAMFile::Update"),
        std::vector<std::string>{"UPDATE CLIENTES SET VALOR = 44.0000000000 WHERE R_E_C_N_O_ = 4"});
    EXPECT_EQ(
        this->Value("select concat(rtrim(NOME), '|', VALOR) from CLIENTES where R_E_C_N_O_ = 4"),
        "N004|44");
}

// The audit of an update gets the changed field's old and new values as plain text, a
// backslash as it stands, while the UPDATE stores the value whole.
TYPED_TEST(TableWrites, AuditOfAnUpdateCarriesThePlainValues) {
    this->Fill(2);
    auto audited = this->conn->GetTableDef("CLIENTES", this->conn->GetAlias(), true);
    ASSERT_NE(audited, nullptr);
    audited->SetAuditable(true);
    tISAMFile& file = this->Open();
    gmtest::AuditRecorder recorder;
    gmtest::RecordingAudit handle(recorder);
    file.SetAuditHandle(&handle);
    ASSERT_TRUE(file.GoTo(2, true));
    std::string two = this->Record(file);
    for (const char* city : {"C:\\TEMP1", "D:\\A'B12"}) {
        SCOPED_TRACE(city);
        this->Set(file, two, "CIDADE", city);
        this->Receive(file, two);
        ASSERT_EQ(file.UpdateRecord(2), RC_OK) << this->LastError();
        EXPECT_EQ(this->Value("select CIDADE from CLIENTES where R_E_C_N_O_ = 2"), city);
    }
    std::vector<std::string> audits;
    for (const auto& a : this->session.audits) {
        audits.push_back(a.action + "|" + a.detail1 + "|" + a.detail2 + "|" + a.extra);
    }
    ASSERT_EQ(audits.size(), 2u);
    EXPECT_EQ(audits[0].substr(audits[0].rfind('|')), "|C:\\TEMP1");
    EXPECT_EQ(audits[1], "U|CIDADE|C:\\TEMP1|D:\\A'B12");
}

TYPED_TEST(TableWrites, DeletedDuplicateCoexistsWithLiveRecordUnderUniqueIndex) {
    this->Fill(2);
    tISAMFile& file = this->Open();
    ASSERT_EQ(this->conn->UniqueKey("CLIENTES", "NOME"), RC_OK) << this->LastError();
    ASSERT_TRUE(this->Append(file, {"ANA", "", 0, "", "T", " "}));
    const f64 first = file.GetRecno();
    EXPECT_EQ(file.DeleteR(first), RC_OK);
    EXPECT_EQ(this->Row(first), "ANA|*|" + std::to_string(static_cast<int>(first)));

    ASSERT_TRUE(this->Append(file, {"ANA", "", 0, "", "T", " "})) << this->LastError();
    const f64 second = file.GetRecno();
    EXPECT_EQ(this->Row(second), "ANA|-|0");
    EXPECT_EQ(file.RecallR(first), RC_NO_UPDATE) << "two live ANA rows would break the key";
    EXPECT_EQ(this->Row(first), "ANA|*|" + std::to_string(static_cast<int>(first)));

    // A record appended already deleted, and one deleted through an update, stay out of the way.
    ASSERT_TRUE(this->Append(file, {"ANA", "", 0, "", "T", "*"})) << this->LastError();
    const f64 third = file.GetRecno();
    EXPECT_EQ(this->Row(third), "ANA|*|" + std::to_string(static_cast<int>(third)));
    ASSERT_TRUE(file.GoTo(second, true));
    std::string record = this->Record(file);
    this->Set(file, record, "D_E_L_E_T_", "*");
    this->Receive(file, record);
    EXPECT_EQ(file.UpdateRecord(second), RC_OK) << this->LastError();
    EXPECT_EQ(this->Row(second), "ANA|*|" + std::to_string(static_cast<int>(second)));

    EXPECT_EQ(file.RecallR(first), RC_OK) << this->LastError();
    EXPECT_EQ(this->Row(first), "ANA|-|0");
    EXPECT_EQ(this->Value("select count(*) from CLIENTES where NOME = 'ANA'"), "3");
}

// Each seek runs twice: with key length 0 (every key field before the record number, never an
// exact match: the first row at or after the key is compared field by field) and with the
// length of the key bytes given.
TYPED_TEST(TableWrites, SeekComparesTheKeyPartsGivenFieldByField) {
    this->Fill(40);  // names N001..N040, cities C00..C19, VALOR the record number
    ASSERT_TRUE(this->Run("create index CLIENTES2 on CLIENTES (CIDADE, R_E_C_N_O_)"));
    ASSERT_TRUE(this->Run("create index CLIENTES3 on CLIENTES (VALOR, R_E_C_N_O_)"));
    tISAMFile& file = this->Open();
    auto orderOf = [&](const std::string& name) {
        const tTableDefinitionExclusive& m = file.GetMirror();
        for (i32 i = 0; i < m.GetIndexCount(); ++i) {
            if (Lower(m.GetIndex(i)->GetName()) == Lower(name)) return static_cast<i16>(i + 1);
        }
        ADD_FAILURE() << "no index " << name;
        return static_cast<i16>(0);
    };
    auto first = [&](const std::string& condition, const char* order = "NOME, CIDADE") {
        return this->Value("select R_E_C_N_O_ from CLIENTES where " + condition + " order by " +
                           order + ", R_E_C_N_O_ limit 1");
    };
    const std::string n017 = first("NOME = 'N017'");
    const std::string n018 = first("NOME = 'N018'");
    const std::string city = this->Value("select rtrim(CIDADE) from CLIENTES where NOME = 'N017'");
    ASSERT_EQ(city.substr(0, 2), "C1") << "the short second part below is a prefix of it";
    const struct {
        const char* name;
        const char* index;
        Fields key;
        i16 keyFields, keyLength;  // the explicit length of the key bytes
        u8 soft;
        i16 code;
        std::string recno;  // empty: not positioned
    } cases[] = {
        {"full key", "CLIENTES1", {"N017", city, 0, "", "", ""}, 2, 18, 0, RC_OK, n017},
        {"the name alone", "CLIENTES1", {"N017", "", 0, "", "", ""}, 1, 10, 0, RC_OK, n017},
        {"short text key",
         "CLIENTES2",
         {"", "C1", 0, "", "", ""},
         1,
         2,
         0,
         RC_OK,
         first("CIDADE like 'C1%'", "CIDADE")},
        {"two fields, a short second part",
         "CLIENTES1",
         {"N017", "C1", 0, "", "", ""},
         2,
         12,
         0,
         RC_OK,
         n017},
        {"a city that name lacks",
         "CLIENTES1",
         {"N017", "ZZ", 0, "", "", ""},
         2,
         12,
         0,
         RC_NO_RECORD,
         ""},
        {"number within its decimals",
         "CLIENTES3",
         {"", "", 17.00000004, "", "", ""},
         1,
         8,
         0,
         RC_OK,
         first("VALOR = 17", "VALOR")},
        {"number outside its decimals",
         "CLIENTES3",
         {"", "", 17.0000004, "", "", ""},
         1,
         8,
         0,
         RC_NO_RECORD,
         ""},
        {"soft: the next name",
         "CLIENTES1",
         {"N017", "ZZ", 0, "", "", ""},
         2,
         12,
         1,
         RC_SOFT_SEEK_GREATER,
         n018},
        {"soft: between two names",
         "CLIENTES1",
         {"N0175", "", 0, "", "", ""},
         1,
         10,
         1,
         RC_SOFT_SEEK_GREATER,
         n018},
        {"soft: past the last key",
         "CLIENTES1",
         {"Z", "", 0, "", "", ""},
         1,
         10,
         1,
         RC_NO_RECORD,
         ""},
    };
    for (const auto& c : cases) {
        for (const i16 keyLength : {static_cast<i16>(0), c.keyLength}) {
            SCOPED_TRACE(std::string(c.name) + ", key length " + std::to_string(keyLength));
            ASSERT_EQ(file.SetOrder(orderOf(c.index)), RC_OK);
            this->Give(file, c.key);
            EXPECT_EQ(file.Seek(c.keyFields, keyLength, c.soft), c.code) << this->LastError();
            if (!c.recno.empty()) {
                EXPECT_EQ(std::to_string(static_cast<int>(file.GetRecno())), c.recno);
            }
        }
    }
    // After a found seek, skips go on in key order.
    ASSERT_EQ(file.SetOrder(orderOf("CLIENTES1")), RC_OK);
    this->Give(file, {"N017", city, 0, "", "", ""});
    ASSERT_EQ(file.Seek(2, 0, 0), RC_OK);
    ASSERT_TRUE(file.Skip(1));
    EXPECT_EQ(std::to_string(static_cast<int>(file.GetRecno())), n018);
}

TYPED_TEST(TableWrites, TwoConnectionsAppendingAtOnceLoseNoRowAndShareNoNumber) {
    constexpr int kEach = 1000;
    this->Fill(50);
    this->neighbour = std::make_unique<NeighbourSession>(this->Engine());
    tDBConnection& second = this->Other();
    second.SetDBServer(this->neighbour.get());
    this->session.traceOn = false;
    this->neighbour->traceOn = false;
    tISAMFile& mine = this->Open();
    tISAMFile& theirs = this->Open(second, *this->neighbour);
    this->SetCounter(0);  // behind the table: both connections meet clashes at the start
    struct Result {
        std::map<int, std::string> recnos;  // the number the file stood on, the name written
        int failures = 0;
    };
    auto run = [](tISAMFile* file, char prefix, Result* result) {
        for (int i = 0; i < kEach; ++i) {
            char name[8];
            std::snprintf(name, sizeof name, "%c%04d", prefix, i);
            i32 nativeError = 0;
            if (!TestFixture::Append(*file, {name, "", 0, "", "T", " "}, nativeError)) {
                ++result->failures;
                continue;
            }
            result->recnos[static_cast<int>(file->GetRecno())] = name;
        }
    };
    Result a;
    Result b;
    {
        gmtest::ConsoleCapture quiet;
        std::thread first(run, &mine, 'A', &a);
        std::thread other(run, &theirs, 'B', &b);
        first.join();
        other.join();
    }
    EXPECT_EQ(a.failures, 0);
    EXPECT_EQ(b.failures, 0);
    EXPECT_EQ(a.recnos.size() + b.recnos.size(), 2u * kEach) << "a number reported twice";
    for (const auto& [recno, name] : a.recnos) {
        EXPECT_EQ(b.recnos.count(recno), 0u) << recno;
    }
    EXPECT_EQ(this->Value("select count(*) from CLIENTES"), std::to_string(50 + 2 * kEach));
    EXPECT_EQ(this->Value("select count(distinct NOME) from CLIENTES"),
              std::to_string(50 + 2 * kEach));
    // Every number a file reported holds the row it wrote.
    std::unique_ptr<tStatement> stmt(this->conn->NewStatement());
    ASSERT_TRUE(
        stmt->ExecDirect("select R_E_C_N_O_, rtrim(NOME) from CLIENTES where R_E_C_N_O_ "
                         "> 50 or NOME not like 'N%'",
                         "test", 1));
    int checked = 0;
    while (stmt->Fetch()) {
        const int recno = static_cast<int>(stmt->FieldAsDouble(0));
        tString name;
        stmt->FieldAsString(name, 1);
        const std::map<int, std::string>& owner = name.GetText()[0] == 'A' ? a.recnos : b.recnos;
        const auto it = owner.find(recno);
        ASSERT_NE(it, owner.end()) << recno;
        EXPECT_EQ(it->second, name.GetText());
        ++checked;
    }
    EXPECT_EQ(checked, 2 * kEach);
}

}  // namespace
