// Appends and updates of a table file over the recording ODBC driver: the INSERT and UPDATE
// texts, the record numbers an append goes through when they clash, the codes and error texts
// of every refusal, the lock an append leaves and the audit of changed fields.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "lib_common/retcodes.h"
#include "server/dispatch/auditclient.h"
#include "server/isam/gatemill.h"
#include "server/locks/lockengine.h"
#include "tests/server/support/recordedisam.h"
#include "tests/support/gmtest.h"

namespace {

constexpr const char* kTable = "PRODUCAO|CLIENTES";
constexpr u32 kOtherOwner = 777;

// The fields of a CLIENTES record, laid out at their offsets.
struct Values {
    std::string nome, cidade;
    f64 valor = 0.0;
    std::string data, ativo, deleted;
};

void Lay(char* record, const Values& v) {
    std::memset(record, 0, 36);
    std::memcpy(record, v.nome.data(), v.nome.size());
    std::memcpy(record + 10, v.cidade.data(), v.cidade.size());
    std::memcpy(record + 18, &v.valor, sizeof v.valor);
    std::memcpy(record + 26, v.data.data(), v.data.size());
    std::memcpy(record + 34, v.ativo.data(), v.ativo.size());
    std::memcpy(record + 35, v.deleted.data(), v.deleted.size());
}

// A handle that stands for field-level audit being on; the file never calls it.
class SilentAudit : public tAuditClient {
public:
    i16 Connect(const char*, const char*) override { return 0; }
    i16 Write(const char*, const char*, f64, const char*, const char*, const char*,
              const char*) override {
        return 0;
    }
    i16 AuditUser(const char*) override { return 0; }
    i16 WriteCustom(const char*, const char*) override { return 0; }
};

class Writes : public gmtest::RecordedTableFile {
protected:
    tRecordLockEngine& Engine() { return *session.GetRecordLockEngine(); }
    i32 Bucket() const { return static_cast<i32>(def->GetLockBucket()); }
    std::string LastError() { return RecordedODBC::LastError(*conn); }
    // A clash on the record-number key, as PostgreSQL words it.
    void ClashOnRecno(int times) {
        for (int i = 0; i < times; ++i) {
            rec.FailNext("INSERT*", "23505", 1,
                         "ERROR: duplicate key value violates unique constraint \"clientes_pkey\"");
        }
    }
    // Appends the record; the file's answer, with the native code in nativeError.
    bool Append(const Values& v) {
        Lay(file->IncomingRecord(), v);
        nativeError = 0;
        return file->WriteRecord(nativeError);
    }
    // Stands on record 5 (read) with the incoming record equal to it.
    void StandOnFive() {
        ScriptRecord(5);
        ASSERT_TRUE(file->GoTo(5, false));
        std::memcpy(file->IncomingRecord(), file->CurrentRecord(), 36);
        Ran();
    }
    i16 UpdateWith(f64 recno, const Values& v) {
        Lay(file->IncomingRecord(), v);
        return file->UpdateRecord(recno);
    }

    i32 nativeError = 0;
    // The values of record 5 as ScriptRecord writes them.
    const Values five{"C5", "RIO", 7.5, "20110117", "T", " "};
};

TEST_P(Writes, InsertTextsCarryOnlyFieldsWithAValue) {
    auto plain = std::make_shared<tTableDefinitionShared>("NOTAS", "PRODUCAO");
    plain->AddField("TEXTO", 'C', 6, 0, true, true);
    plain->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
    plain->AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    const struct {
        const char* name;
        Values values;
        std::string sql;
    } cases[] = {
        {"only the logical field", {}, "INSERT INTO CLIENTES(ATIVO,R_E_C_N_O_) VALUES ( 'F',1)"},
        {"every field, a live record",
         {"D'AVILA", "RIO", 0.125, "20110117", "T", " "},
         "INSERT INTO CLIENTES(NOME,CIDADE,VALOR,DATA,ATIVO,D_E_L_E_T_,R_E_C_D_E_L_,R_E_C_N_O_) "
         "VALUES ( 'D''AVILA   ','RIO     ',0.1300000000,'20110117','T',' ',0,2)"},
        {"a deleted record keeps its number in R_E_C_D_E_L_",
         {"ANA", "", -0.125, "", "F", "*"},
         "INSERT INTO CLIENTES(NOME,VALOR,ATIVO,D_E_L_E_T_,R_E_C_D_E_L_,R_E_C_N_O_) VALUES ( "
         "'ANA       ',-0.1300000000,'F','*',3,3)"},
        {"a text that would end the statement",
         {"'--", "", 0, "", "T", ""},
         "INSERT INTO CLIENTES(NOME,ATIVO,R_E_C_N_O_) VALUES ( '''--       ','T',4)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Append(c.values));
        EXPECT_EQ(Ran(), std::vector<std::string>{c.sql});
    }
    file = MakeFile(plain);
    std::memset(file->IncomingRecord(), 0, 7);
    ASSERT_TRUE(file->WriteRecord(nativeError));
    EXPECT_EQ(Ran(), std::vector<std::string>{"INSERT INTO NOTAS(R_E_C_N_O_) VALUES ( 1)"});
}

TEST_P(Writes, AppendStandsOnTheNewRecordAndHoldsItsLock) {
    ASSERT_TRUE(Append({"ANA", "", 0, "", "T", " "}));
    EXPECT_EQ(file->GetRecno(), 1.0);
    EXPECT_FALSE(Bof() || Eof());
    EXPECT_EQ(Name(), "ANA");
    EXPECT_TRUE(file->LockedList().Find(1.0));
    EXPECT_TRUE(Engine().IsLocked(session.threadId, Bucket(), kTable, 1.0, 0));
    EXPECT_FALSE(Engine().RLock(kOtherOwner, Bucket(), kTable, 1.0, 0));
    EXPECT_EQ(Engine().RecCount(Bucket(), kTable), 1.0);

    // The next number held by another owner: the append succeeds without the lock.
    ASSERT_TRUE(Engine().RLock(kOtherOwner, Bucket(), kTable, 2.0, 0));
    ASSERT_TRUE(Append({"BIA", "", 0, "", "T", " "}));
    EXPECT_NE(console->Get().find("[WARNING] OP_INSERT Lock Failed in Table [PRODUCAO|CLIENTES] "
                                  "Recno [2]"),
              std::string::npos);
    EXPECT_FALSE(file->LockedList().Find(2.0));

    // An exclusive file locks nothing.
    file->SetExclusive(true);
    ASSERT_TRUE(Append({"CAIO", "", 0, "", "T", " "}));
    EXPECT_FALSE(Engine().IsLocked(session.threadId, Bucket(), kTable, 3.0, 0));
}

TEST_P(Writes, RecnoClashTakesTheNextNumberAndOtherFailuresStopAtOnce) {
    const std::string head =
        "INSERT INTO CLIENTES(NOME,ATIVO,D_E_L_E_T_,R_E_C_D_E_L_,R_E_C_N_O_) VALUES ( "
        "'ANA       ','T',' ',0,";
    ClashOnRecno(2);
    ASSERT_TRUE(Append({"ANA", "", 0, "", "T", " "}));
    EXPECT_EQ(Ran(), (std::vector<std::string>{head + "1)", head + "2)", head + "3)"}));
    EXPECT_EQ(file->GetRecno(), 3.0);

    rec.FailNext("INSERT*", "23505", 1,
                 "ERROR: duplicate key value violates unique constraint \"clientes_unq\"");
    EXPECT_FALSE(Append({"ANA", "", 0, "", "T", " "}));
    EXPECT_EQ(Ran(), std::vector<std::string>{head + "4)"}) << "another unique key: no retry";
    EXPECT_EQ(nativeError, 1);
    EXPECT_TRUE(conn->IsDuplicateKey(nativeError)) << "the handler answers -37";
    EXPECT_NE(LastError().find("clientes_unq\"( SQL Statement : " + head + "4) )"),
              std::string::npos)
        << LastError();

    rec.FailNext("INSERT*", "42703", 1, "ERROR: column \"nome\" does not exist");
    EXPECT_FALSE(Append({"ANA", "", 0, "", "T", " "}));
    EXPECT_EQ(Ran().size(), 1u);
    EXPECT_FALSE(conn->IsDuplicateKey(nativeError)) << "the handler answers -27";
    EXPECT_EQ(file->GetRecno(), 3.0) << "a failed append leaves the file where it was";
}

TEST_P(Writes, LaggingCounterIsSetFromTheTableAfterTenClashes) {
    conn->highestRecno = 500;
    ClashOnRecno(10);
    ASSERT_TRUE(Append({"ANA", "", 0, "", "", ""}));
    const std::vector<std::string> ran = Ran();
    ASSERT_EQ(ran.size(), 11u);
    EXPECT_EQ(ran[9], "INSERT INTO CLIENTES(NOME,ATIVO,R_E_C_N_O_) VALUES ( 'ANA       ','F',10)");
    EXPECT_EQ(ran[10],
              "INSERT INTO CLIENTES(NOME,ATIVO,R_E_C_N_O_) VALUES ( 'ANA       ','F',501)");
    EXPECT_EQ(file->GetRecno(), 501.0);

    // A counter ahead of the table is never moved back.
    conn->highestRecno = 5;
    ClashOnRecno(10);
    ASSERT_TRUE(Append({"ANA", "", 0, "", "", ""}));
    EXPECT_EQ(file->GetRecno(), 512.0);
}

TEST_P(Writes, EndlessClashesGiveUpAfterAThousandNumbers) {
    ClashOnRecno(1000);
    EXPECT_FALSE(Append({"ANA", "", 0, "", "", ""}));
    EXPECT_EQ(Ran().size(), 1000u);
    EXPECT_EQ(nativeError, 1);
    EXPECT_NE(LastError().find("clientes_pkey\"( SQL Statement : "), std::string::npos);
    EXPECT_EQ(rec.Pending(), 0);
}

TEST_P(Writes, AppendsRefusedBeforeAnySql) {
    const f64 nan = std::numeric_limits<f64>::quiet_NaN();
    ASSERT_TRUE(Engine().FLock(kOtherOwner, Bucket(), kTable, 0));
    EXPECT_FALSE(Append({"ANA", "", 0, "", "T", " "}));
    EXPECT_EQ(nativeError, -15);
    EXPECT_EQ(
        LastError().rfind("GML Error -15 - GetNextRecno FAILED. ( From tISAMFile::Write )", 0), 0u);
    ASSERT_TRUE(Engine().FUnLock(kOtherOwner, Bucket(), kTable, 0));

    EXPECT_FALSE(Append({"ANA", "", nan, "", "T", " "}));
    EXPECT_EQ(nativeError, 0);
    EXPECT_EQ(LastError().rfind("GML Error -19 - Invalid value in field [VALOR].", 0), 0u);

    file->SetReadOnly(true);
    EXPECT_FALSE(Append({"ANA", "", 0, "", "T", " "}));
    EXPECT_EQ(nativeError, 0);
    EXPECT_EQ(LastError().rfind("GML Error -27 - Invalid Insert on READONLY Table", 0), 0u);
    EXPECT_EQ(Ran(), std::vector<std::string>{});
    EXPECT_EQ(file->GetRecno(), 0.0);
}

TEST_P(Writes, IdentityTableTakesTheDatabasesNumber) {
    def->SetAutoRecno(true);
    file = MakeFile(def);
    conn->insertedRecno = 41;
    ASSERT_TRUE(Append({"ANA", "", 0, "", "T", ""}));
    EXPECT_EQ(Ran(), std::vector<std::string>{
                         "INSERT INTO CLIENTES(NOME,ATIVO) VALUES ( 'ANA       ','T')"});
    EXPECT_EQ(file->GetRecno(), 41.0);
    EXPECT_EQ(Engine().RecCount(Bucket(), kTable), 41.0) << "the counter follows the column";

    conn->insertedRecno = 42;
    ASSERT_TRUE(Append({"ANA", "", 0, "", "T", "*"}));
    EXPECT_EQ(Ran(), std::vector<std::string>{
                         "INSERT INTO CLIENTES(NOME,ATIVO,D_E_L_E_T_,R_E_C_D_E_L_) VALUES ( "
                         "'ANA       ','T','*','42')"});

    auto bare = std::make_shared<tTableDefinitionShared>("NOTAS", "PRODUCAO");
    bare->AddField("TEXTO", 'C', 6, 0, true, true);
    bare->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
    bare->SetAutoRecno(true);
    file = MakeFile(bare);
    std::memset(file->IncomingRecord(), 0, 6);
    ASSERT_TRUE(file->WriteRecord(nativeError));
    EXPECT_EQ(Ran(), std::vector<std::string>{"INSERT INTO NOTAS DEFAULT VALUES"});

    conn->insertedRecno = -1;
    EXPECT_FALSE(file->WriteRecord(nativeError));
    EXPECT_EQ(nativeError, RC_FAILED);
    EXPECT_EQ(LastError().rfind("GML Error -19 - dbConn()->GetInsertedRecno() FAILED.", 0), 0u);
}

TEST_P(Writes, UpdateSendsOnlyTheChangedFields) {
    StandOnFive();
    const struct {
        const char* name;
        Values values;
        std::vector<std::string> ran;
    } cases[] = {
        {"nothing changed", five, {}},
        {"two fields",
         {"ANA", "RIO", 9.25, "20110117", "T", " "},
         {"UPDATE CLIENTES SET NOME = 'ANA       ',VALOR = 9.2500000000 WHERE R_E_C_N_O_ = 5"}},
        {"the deletion mark",
         {"ANA", "RIO", 9.25, "20110117", "T", "*"},
         {"UPDATE CLIENTES SET D_E_L_E_T_ = '*',R_E_C_D_E_L_ = 5 WHERE R_E_C_N_O_ = 5"}},
        {"the mark taken away",
         {"ANA", "RIO", 9.25, "20110117", "T", " "},
         {"UPDATE CLIENTES SET D_E_L_E_T_ = ' ',R_E_C_D_E_L_ = 0 WHERE R_E_C_N_O_ = 5"}},
        {"a quote and a date",
         {"O'HARA", "RIO", 9.25, "2012'101", "T", " "},
         {"UPDATE CLIENTES SET NOME = 'O''HARA    ',DATA = '2012''101' WHERE R_E_C_N_O_ = 5"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(UpdateWith(5, c.values), RC_OK);
        EXPECT_EQ(Ran(), c.ran);
        EXPECT_EQ(std::memcmp(file->CurrentRecord(), file->IncomingRecord(), 36), 0)
            << "the current record holds what was written";
    }
    EXPECT_EQ(Engine().IsLocked(session.threadId, Bucket(), kTable, 5.0, 0), false)
        << "the lock taken for the update is given back";
}

TEST_P(Writes, UpdateCodes) {
    StandOnFive();
    const f64 nan = std::numeric_limits<f64>::quiet_NaN();
    Values changed = five;
    changed.nome = "ANA";
    ASSERT_TRUE(Engine().RLock(kOtherOwner, Bucket(), kTable, 5.0, 0));
    EXPECT_EQ(UpdateWith(5, changed), RC_LOCKED);
    ASSERT_TRUE(Engine().RUnLock(kOtherOwner, Bucket(), kTable, 5.0, 0));

    rec.FailNext("UPDATE*", "23000", 50000, "user error");
    EXPECT_EQ(UpdateWith(5, changed), RC_DUPLICATE_KEY);
    rec.FailNext("UPDATE*", "42P01", 1, "no such table");
    EXPECT_EQ(UpdateWith(5, changed), RC_NO_UPDATE);
    EXPECT_EQ(Ran().size(), 2u);

    changed.valor = nan;
    EXPECT_EQ(UpdateWith(5, changed), RC_FAILED);
    EXPECT_EQ(LastError().rfind("GML Error -19 - Invalid value in field [VALOR].", 0), 0u);

    ScriptKeys(gmtest::kRecordFetch, {});  // no row 9
    EXPECT_EQ(UpdateWith(9, five), RC_NO_UPDATE);
    EXPECT_EQ(LastError().rfind("GML Error -29 - Update failed to retrieve / GO Record 9", 0), 0u);

    Ran();
    file->SetReadOnly(true);
    EXPECT_EQ(UpdateWith(5, changed), RC_NO_UPDATE);
    EXPECT_EQ(LastError().rfind("GML Error -29 - Invalid Update on READONLY Table.", 0), 0u);
    EXPECT_EQ(Ran(), std::vector<std::string>{});
}

TEST_P(Writes, UpdateOfAnotherRecordComparesWithThatRecordsRow) {
    ScriptKeys("SELECT R_E_C_N_O_ FROM CLIENTES WHERE R_E_C_N_O_  > 0 ORDER BY R_E_C_N_O_", {5, 7});
    ScriptRecord(5);
    ASSERT_TRUE(file->GoTop());
    Ran();
    ScriptRecord(7);
    // Record 7 as it is stored, with only the name changed.
    EXPECT_EQ(UpdateWith(7, {"ANA", "RIO", 10.5, "20110117", "T", " "}), RC_OK);
    EXPECT_EQ(Ran(),
              (std::vector<std::string>{
                  Fetched(7), "UPDATE CLIENTES SET NOME = 'ANA       ' WHERE R_E_C_N_O_ = 7"}));
    EXPECT_EQ(file->GetRecno(), 7.0);

    // Record 0 is the current one.
    EXPECT_EQ(UpdateWith(0, {"BIA", "RIO", 10.5, "20110117", "T", " "}), RC_OK);
    EXPECT_EQ(Ran(), std::vector<std::string>{
                         "UPDATE CLIENTES SET NOME = 'BIA       ' WHERE R_E_C_N_O_ = 7"});
}

// A skip that reads the next record, then fails to refill the window at its edge, goes back to
// where it began: the update that follows compares with that record's row, not the one read last.
TEST_P(Writes, UpdateAfterAFailedSkipComparesWithTheRecordItStandsOn) {
    ASSERT_EQ(file->SetOrder(1), RC_OK);
    ScriptRecord(5);
    ASSERT_TRUE(file->GoTo(5, false));  // the window holds record 5 alone
    const std::string after = "SELECT R_E_C_N_O_ FROM CLIENTES WHERE  NOME = ";
    const std::string byName = " ORDER BY NOME,CIDADE,R_E_C_N_O_";
    ScriptKeys(after + "'C5        ' AND CIDADE = 'RIO     ' AND R_E_C_N_O_  > 5" + byName, {7});
    ScriptRecord(7);
    rec.FailNext((after + "'C7        ' AND CIDADE = 'RIO     ' AND R_E_C_N_O_  > 7*").c_str(),
                 "08S01", 1, "connection lost");
    Ran();
    EXPECT_FALSE(file->Skip(2));
    EXPECT_EQ(Ran().size(), 3u) << "two key cursors and the record between them";
    ASSERT_EQ(file->GetRecno(), 5.0);

    // Record 7's values written over record 5.
    ScriptRecord(5);
    EXPECT_EQ(UpdateWith(5, {"C7", "RIO", 10.5, "20110117", "T", " "}), RC_OK);
    EXPECT_EQ(Ran(), (std::vector<std::string>{
                         Fetched(5),
                         "UPDATE CLIENTES SET NOME = 'C7        ',VALOR = 10.5000000000 WHERE "
                         "R_E_C_N_O_ = 5"}));
    EXPECT_EQ(rec.Pending(), 0);
}

TEST_P(Writes, AuditedUpdateSendsEachChangedFieldButTheMark) {
    def->SetAuditable(true);
    file = MakeFile(def);
    SilentAudit handle;
    file->SetAuditHandle(&handle);
    StandOnFive();
    EXPECT_EQ(UpdateWith(5, {"ANA", "RIO", 9.25, "20110117", "T", "*"}), RC_OK);
    ASSERT_EQ(session.audits.size(), 2u);
    const struct {
        std::string field, before, after;
    } expected[] = {{"NOME", "C5", "ANA"}, {"VALOR", "7.5000000000", "9.2500000000"}};
    for (size_t i = 0; i < 2; ++i) {
        const auto& audit = session.audits[i];
        EXPECT_EQ(audit.action, "U");
        EXPECT_EQ(audit.table, "CLIENTES");
        EXPECT_EQ(audit.recno, 5.0);
        EXPECT_EQ(audit.detail1, expected[i].field);
        EXPECT_EQ(audit.detail2, expected[i].before);
        EXPECT_TRUE(audit.hasExtra);
        EXPECT_EQ(audit.extra, expected[i].after);
    }
    Ran();
    session.auditResult = -50;
    EXPECT_EQ(UpdateWith(5, {"BIA", "RIO", 9.25, "20110117", "T", "*"}), RC_NO_UPDATE);
    EXPECT_EQ(Ran(), std::vector<std::string>{}) << "a refused audit writes nothing";
}

INSTANTIATE_TEST_SUITE_P(BothModes, Writes, ::testing::Bool(), gmtest::ODBCModeName);

}  // namespace
