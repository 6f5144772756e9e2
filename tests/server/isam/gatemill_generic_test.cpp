// The generic file: the open reply and the status block byte for byte in both byte orders, the
// blob nodes of memo fields, the status text, the base answers and the file's description.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/isam/gatemill.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/testconn.h"
#include "tests/server/support/testfile.h"
#include "tests/server/support/testprocess.h"
#include "tests/server/support/testsession.h"
#include "tests/server/support/wirebytes.h"
#include "tests/support/gmtest.h"

namespace {

class GenericFile : public ::testing::Test {
protected:
    GenericFile() {
        def->AddField("NOME", 'C', 10, 0, true, true);
        def->AddField("VALOR", 'N', 15, 2, true, true);
        def->AddField("OBS", 'M', 10, 0, true, true);
        def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);  // not in the record
        def->AddField("ATIVO", 'L', 1, 0, true, true);
        def->AddField("HIST", 'M', 11, 0, true, true);
        def->AddField(kDeletedColumn, 'C', 1, 0, false, true);
    }
    std::unique_ptr<gmtest::TestFile> MakeFile() {
        auto file = std::make_unique<gmtest::TestFile>(&conn, def, reply, 4242);
        file->SetDBServer(&session);
        return file;
    }
    void SetCounter(f64 count) {
        session.lockServer.SetRecCount(static_cast<i32>(def->GetLockBucket()), def->GetFullName(),
                                       count);
    }

    gmtest::TestDBProcess process;
    gmtest::TestSession session;
    gmtest::TestConnection conn;
    tCommBuffer reply;
    std::shared_ptr<tTableDefinition> def =
        std::make_shared<tTableDefinitionExclusive>("SA1010", "PRODUCAO");
};

TEST_F(GenericFile, OpenReplyAndStatusBlockByteForByteInBothByteOrders) {
    for (bool swap : {false, true}) {
        SCOPED_TRACE(swap ? "swapped" : "native");
        reply.SetSwap(swap);
        reply.Reset();
        SetCounter(1234.0);
        auto file = MakeFile();
        file->Open(3);
        EXPECT_EQ(file->GetInternalID(), 3);
        gmtest::Bytes expected(swap);
        expected
            .Long(10 + 8 + 1)  // C 10, N 8, L 1; memo fields take no record bytes
            .Short(5)
            .Field("NOME", 'C', 10, 0)
            .Field("VALOR", 'N', 15, 2)
            .Field("OBS", 'M', 10, 0)
            .Field("ATIVO", 'L', 1, 0)
            .Field("HIST", 'M', 11, 0)
            .Byte(1)
            .Byte(1)
            .Byte(0)
            .Long(1234);
        EXPECT_EQ(gmtest::Payload(reply), expected.out);
    }
}

TEST_F(GenericFile, OneBlobNodePerMemoDataFieldNumberedAmongDataFields) {
    auto file = MakeFile();
    file->Open(1);
    ASSERT_EQ(file->Blobs().Count(), 2);
    const tBlobNode* first = file->Blobs().Get(0);
    const tBlobNode* second = file->Blobs().Get(1);
    EXPECT_EQ(first->dataFieldNo, 3);
    EXPECT_EQ(first->fieldIndex, 2);
    EXPECT_EQ(second->dataFieldNo, 5);  // R_E_C_N_O_ before it is not a data field
    EXPECT_EQ(second->fieldIndex, 5);
    EXPECT_TRUE(first->value.empty() && !first->dirty && first->mustRead);

    EXPECT_EQ(gmtest::AssertText([&] { file->SendStructure(nullptr); }),
              "blob list not empty when sending the structure");
}

TEST_F(GenericFile, StructureOfAnotherDefinitionWhenGiven) {
    tTableDefinitionExclusive other("SB1010", "PRODUCAO");
    other.AddField("B1_COD", 'C', 15, 0, true, true);
    auto file = MakeFile();
    file->SendStructure(&other);
    EXPECT_EQ(gmtest::Payload(reply),
              gmtest::Bytes(false).Short(1).Field("B1_COD", 'C', 15, 0).out);
    EXPECT_EQ(file->Blobs().Count(), 0);
}

TEST_F(GenericFile, StatusCountIsTheEnginesCounterTruncatedAndHeldInRange) {
    const struct {
        f64 counter;
        i32 sent;
    } cases[] = {
        {0.0, 0}, {1234.9, 1234}, {-5.7, -5}, {1e12, 2147483647}, {-1e12, -2147483647 - 1}};
    auto file = MakeFile();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.counter);
        SetCounter(c.counter);
        reply.Reset();
        file->SendStatus();
        EXPECT_EQ(gmtest::Payload(reply),
                  gmtest::Bytes(false).Byte(1).Byte(1).Byte(0).Long(c.sent).out);
    }
}

TEST_F(GenericFile, StatusTextNamesTheFlagsThatAreSet) {
    auto file = MakeFile();
    tString text("Skip");
    file->StatusText(text);
    EXPECT_STREQ(text, "Skip [BOF] [EOF]");
    file->SetFound(true);
    text = "";
    file->StatusText(text);
    EXPECT_STREQ(text, " [BOF] [EOF] [FOUND]");
    file->ResetBofEof();
    file->SetFound(false);
    text = "";
    file->StatusText(text);
    EXPECT_STREQ(text, "");
}

TEST_F(GenericFile, BaseOperationsAnswerNotAvailable) {
    auto file = MakeFile();
    tGenericFile& base = *file;
    i32 native = 0;
    EXPECT_FALSE(base.WriteRecord(native));
    EXPECT_FALSE(base.Write(native));
    EXPECT_EQ(base.UpdateRecord(1.0), -29);
    EXPECT_EQ(base.Update(1.0), -29);
    EXPECT_EQ(base.DeleteR(1.0), -30);
    EXPECT_EQ(base.RecallR(1.0), -29);
    EXPECT_EQ(base.SetDeletedFilter(1), 0);
    EXPECT_FALSE(base.CreateIndex("SA1010_IDX", "NOME"));
    EXPECT_EQ(base.SetOrder(2), 0);
    EXPECT_EQ(base.GetOrder(), 0);
    EXPECT_EQ(base.Lock(0, 1), -25);
    EXPECT_FALSE(base.Unlock(0, 1));
    bool translated = true;
    EXPECT_FALSE(base.SetFilter("NOME = 'A'", translated));
    EXPECT_EQ(base.Seek(1, 10, 0), -19);
    EXPECT_EQ(base.SrvMap("NOME"), -19);
    EXPECT_EQ(base.BlobWrite(1, "abc", 3), -19);
    EXPECT_FALSE(base.Clear());
    EXPECT_FALSE(base.Pack());
    EXPECT_FALSE(base.IsAuditable());
    EXPECT_STREQ(base.GetTableName(), "");
    EXPECT_FALSE(base.IsExclusive());
    EXPECT_FALSE(base.IsQueryFile());

    reply.Reset();
    base.SendIndexes();
    base.RecvRecord();
    base.BlobRead(1, 1, 100);
    EXPECT_EQ(gmtest::Payload(reply), gmtest::Bytes(false).Short(-19).out);
}

TEST_F(GenericFile, DescriptionOfTheFileAndItsDefinition) {
    auto index = std::make_unique<tIndexDefinition>("SA1010_IDX1", false);
    index->AddField(0);
    index->AddField(3);
    def->AddIndex(std::move(index));
    def->SetAuditable(true);
    auto file = MakeFile();
    file->SetInternalID(12);
    tString out("ERR");
    file->DumpInfo(out);
    EXPECT_EQ(std::string(out.GetText()),
              "ERR"
              "\n[GENERIC FILE INFORMATION]\n"
              "DBServer .................: OK\n"
              "DBConnection .............: OK\n"
              "Table Definition .........: OK\n"
              "Comm Buffer ..............: OK\n"
              "Blob Fields ..............: OK\n"
              "Table Internal ID ........: 12\n"
              "Table Owner ..............: 4242\n"
              "Table Status Flags .......: [BOF] [EOF] \n"
              "\n[TABLE DEFINITION PROPERTIES]\n"
              "Table Full Name ..........: " +
                  std::string(def->GetFullName()) +
                  "\n"
                  "Table HASH ID ............: " +
                  std::to_string(def->GetLockBucket()) +
                  "\n"
                  "Record Buffer Length .....: 19\n"
                  "MEMO Fields in Use .......: YES\n"
                  "FULL Mapped Table ........: YES\n"
                  "Table Auditable ..........: YES\n"
                  "Automatic RECNO Numbering : NO\n"
                  "\n[TABLE DEFINITION STRUCTURE]\n"
                  "Fld [  0] Name [                NOME] Type [C] Len [ 10] Dec [ 0] Reg [S]\n"
                  "Fld [  1] Name [               VALOR] Type [N] Len [ 15] Dec [ 2] Reg [S]\n"
                  "Fld [  2] Name [                 OBS] Type [M] Len [ 10] Dec [ 0] Reg [S]\n"
                  "Fld [  3] Name [          R_E_C_N_O_] Type [N] Len [ 15] Dec [ 0] Reg [N]\n"
                  "Fld [  4] Name [               ATIVO] Type [L] Len [  1] Dec [ 0] Reg [S]\n"
                  "Fld [  5] Name [                HIST] Type [M] Len [ 11] Dec [ 0] Reg [S]\n"
                  "Fld [  6] Name [          D_E_L_E_T_] Type [C] Len [  1] Dec [ 0] Reg [N]\n"
                  "\n[INDEX DEFINITION]\n"
                  "Idx [  0] Name [         SA1010_IDX1] Fields [NOME,R_E_C_N_O_]\n");
}

TEST_F(GenericFile, DescriptionWithoutIndexesOrSession) {
    auto file = std::make_unique<gmtest::TestFile>(&conn, def, reply, 1);
    tString out;
    file->DumpInfo(out);
    const std::string text = out.GetText();
    EXPECT_NE(text.find("DBServer .................: NULL\n"), std::string::npos);
    const std::string tail = "\n[INDEX DEFINITION]\n( no indexes found )\n";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

}  // namespace
