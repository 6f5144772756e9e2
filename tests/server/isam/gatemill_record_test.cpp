// The current record of a table file: the record fetch's text for whole, mapped and joined
// tables, and the record's transfer in both byte orders.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "server/isam/gatemill.h"
#include "tests/server/support/testisam.h"
#include "tests/server/support/wirebytes.h"
#include "tests/support/gmtest.h"

namespace {

class RecordFetch : public ::testing::Test, public gmtest::IsamTestBed {
protected:
    // A connection that fetches by a text of its own (no prepared statements).
    void SetUp() override {
        process.SetIni("MSSQL", "PreparedStmt", "0");
        direct = std::make_unique<gmtest::TestConnection>();
        direct->SetDBServer(&session);
        direct->fetchFails = true;  // only the texts matter here
    }
    // The text of the record fetch of record 5.
    std::string FetchText(gmtest::TestISAMFile& file) {
        direct->executed.clear();
        file.GoTo(5, false);
        return direct->executed.empty() ? "(none)" : direct->executed.back();
    }
    std::unique_ptr<gmtest::TestISAMFile> DirectFile(std::shared_ptr<tTableDefinitionShared> d) {
        auto file = std::make_unique<gmtest::TestISAMFile>(direct.get(), d, reply, 1);
        file->SetDBServer(&session);
        return file;
    }
    void AddToCache(const char* table, std::initializer_list<const char*> fields) {
        auto joined = std::make_unique<tTableDefinitionShared>(table, "PRODUCAO");
        for (const char* name : fields) joined->AddField(name, 'C', 6, 0, true, true);
        process.GetTableCache().Add(std::move(joined), "PRODUCAO");
    }

    std::unique_ptr<gmtest::TestConnection> direct;
};

TEST_F(RecordFetch, WholeTableSelectsEveryColumn) {
    auto file = DirectFile(def);
    EXPECT_EQ(FetchText(*file),
              "tISAMFile::OpenCurrentRecord: SELECT * FROM CLIENTES TBL WHERE TBL.R_E_C_N_O_ = 5");
}

TEST_F(RecordFetch, MemoFieldsAndTheFieldMapLeaveColumnsOut) {
    def->AddField("OBS", 'M', 10, 0, true, true);
    auto file = DirectFile(def);
    EXPECT_EQ(FetchText(*file),
              "tISAMFile::OpenCurrentRecord: SELECT NOME,CIDADE,VALOR,DATA,ATIVO,TBL.D_E_L_E_T_ "
              "FROM CLIENTES TBL WHERE TBL.R_E_C_N_O_ = 5");
    auto mapped = DirectFile(def);
    mapped->SetFieldRead(1, false);
    EXPECT_EQ(FetchText(*mapped),
              "tISAMFile::OpenCurrentRecord: SELECT NOME,VALOR,DATA,ATIVO,TBL.D_E_L_E_T_ "
              "FROM CLIENTES TBL WHERE TBL.R_E_C_N_O_ = 5");
}

TEST_F(RecordFetch, JoinedFieldsComeFromLeftJoinsOfLiveRows) {
    AddToCache("REGIAO", {"DESCR"});
    AddToCache("VENDEDOR", {"NOME", "COMISSAO"});
    auto joins = std::make_unique<tAutoArray<tJoinInfo>>();
    joins->Add(new tJoinInfo("REGIAO", "DESCR", "TBL0.COD = TBL.CIDADE", ""));
    joins->Add(new tJoinInfo("VENDEDOR", "NOME|VNOME,COMISSAO,FALTA", "V.COD = TBL.NOME", "V"));
    auto file = DirectFile(def);
    file->SetJoins(std::move(joins));
    {
        gmtest::ConsoleCapture quiet;
        file->Open(1);
    }
    EXPECT_EQ(FetchText(*file),
              "tISAMFile::OpenCurrentRecord: SELECT TBL.NOME,TBL.CIDADE,TBL.VALOR,TBL.DATA,"
              "TBL.ATIVO,TBL.D_E_L_E_T_, TBL0.DESCR,V.NOME AS VNOME,V.COMISSAO FROM CLIENTES TBL "
              "LEFT JOIN REGIAO TBL0 ON "
              "( TBL0.COD = TBL.CIDADE AND TBL0.D_E_L_E_T_ != '*' )  LEFT JOIN VENDEDOR V ON ( "
              "V.COD = TBL.NOME AND  V.D_E_L_E_T_ != '*' )  WHERE TBL.R_E_C_N_O_ = 5");
}

class RecordTransfer : public ::testing::Test, public gmtest::IsamTestBed {};

TEST_F(RecordTransfer, OnlyNumbersAndTheRecordNumberChangeByteOrder) {
    // The client's record in the other byte order: VALOR 12.5 reversed, the texts as they are.
    std::vector<char> client(36, 0);
    std::memcpy(client.data(), "0123456789", 10);
    std::memcpy(client.data() + 10, "RIO", 3);
    const f64 valor = 12.5;
    std::memcpy(client.data() + 18, &valor, sizeof valor);
    SwapBytes(client.data() + 18, 8);
    std::memcpy(client.data() + 26, "20110117T ", 10);
    reply.SetSwap(true);
    auto file = MakeFile();
    reply.PutBytes(client.data(), client.size());
    file->RecvRecord();
    EXPECT_FALSE(reply.IsMalformed());
    f64 received = 0;
    std::memcpy(&received, file->IncomingRecord() + 18, sizeof received);
    EXPECT_EQ(received, 12.5) << "in the server's order";
    EXPECT_EQ(std::string(file->IncomingRecord(), 10), "0123456789");

    file->AcceptIncoming();
    file->GetCache().Reset(false);
    file->GetCache().SetCurrentRecno(258.0);
    reply.Reset();
    file->SendRecord();
    const std::string sent = gmtest::Payload(reply);
    ASSERT_EQ(sent.size(), 8u + 36u);
    f64 recno = 0;
    std::memcpy(&recno, sent.data(), sizeof recno);
    SwapBytes(&recno, sizeof recno);
    EXPECT_EQ(recno, 258.0);
    EXPECT_EQ(sent.substr(8), std::string(client.data(), client.size()))
        << "the client gets its own bytes back";
    EXPECT_EQ(std::memcmp(file->CurrentRecord() + 18, &valor, sizeof valor), 0)
        << "the current record stays in the server's order";
}

TEST_F(RecordTransfer, NativeOrderSendsTheBufferAsItIs) {
    auto file = MakeFile();
    std::memcpy(file->CurrentRecord(), "ABC", 3);
    const f64 valor = -1.25;
    std::memcpy(file->CurrentRecord() + 18, &valor, sizeof valor);
    file->SendRecord();
    const std::string sent = gmtest::Payload(reply);
    EXPECT_EQ(sent.substr(0, 8), std::string(8, '\0')) << "no current record: number 0";
    EXPECT_EQ(sent.substr(8), std::string(file->CurrentRecord(), 36));
}

TEST_F(RecordTransfer, ShortRequestIsMarkedMalformedAndNeverReadPast) {
    auto file = MakeFile();
    std::memset(file->IncomingRecord(), 'x', 36);
    reply.PutBytes("0123456789", 10);
    file->RecvRecord();
    EXPECT_TRUE(reply.IsMalformed());
    EXPECT_EQ(std::string(file->IncomingRecord(), 36), std::string(36, '\0'));
}

}  // namespace
