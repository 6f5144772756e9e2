// Opening and closing a table file: its buffers, the open reply with the index list, the status
// block, the simple answers, and the release of the owner's locks when the file goes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "server/isam/gatemill.h"
#include "tests/server/support/testisam.h"
#include "tests/server/support/wirebytes.h"
#include "tests/support/gmtest.h"

namespace {

class IsamOpen : public ::testing::Test, public gmtest::IsamTestBed {
protected:
    i32 Bucket() const { return static_cast<i32>(def->GetLockBucket()); }
};

// The open reply's record length, field count and CLIENTES's own fields.
gmtest::Bytes& TableStructure(gmtest::Bytes& bytes, i32 recLen = 36, i16 fields = 6) {
    return bytes.Long(recLen)
        .Short(fields)
        .Field("NOME", 'C', 10, 0)
        .Field("CIDADE", 'C', 8, 0)
        .Field("VALOR", 'N', 12, 2)
        .Field("DATA", 'D', 8, 0)
        .Field("ATIVO", 'L', 1, 0)
        .Field("D_E_L_E_T_", 'C', 1, 0);
}

TEST_F(IsamOpen, ReplyHoldsStructureStatusAndIndexList) {
    for (bool swap : {false, true}) {
        SCOPED_TRACE(swap ? "swapped" : "native");
        reply.SetSwap(swap);
        reply.Reset();
        session.lockServer.SetRecCount(Bucket(), def->GetFullName(), 321.0);
        auto file = MakeFile();
        EXPECT_TRUE(file->Open(4));
        EXPECT_EQ(file->GetInternalID(), 4);
        gmtest::Bytes expected(swap);
        TableStructure(expected)
            .Byte(1)
            .Byte(1)
            .Byte(0)
            .Long(321)
            .Text("CLI1,CLI2")
            .Text("001,002;003,006");
        EXPECT_EQ(gmtest::Payload(reply), expected.out);
    }
}

TEST_F(IsamOpen, FreshFileStandsNowhereWithZeroedBuffers) {
    auto file = MakeFile();
    EXPECT_EQ(file->GetRecno(), 0.0);
    EXPECT_EQ(file->GetOrder(), 0);
    EXPECT_FALSE(file->IsQuery());
    EXPECT_FALSE(file->IsExclusive());
    EXPECT_FALSE(file->IsAuditable());
    EXPECT_STREQ(file->GetTableName(), "CLIENTES");
    EXPECT_TRUE(file->Close());
    EXPECT_FALSE(file->HasFilter());
    EXPECT_EQ(file->GetCurrentIndex(), nullptr);
    ASSERT_EQ(file->CurrentRecordSize(), 36u);
    EXPECT_EQ(file->IncomingRecordSize(), 36u);
    EXPECT_EQ(std::string(file->CurrentRecord(), 36), std::string(36, '\0'));
    EXPECT_EQ(file->FieldMap(), std::vector<u8>(8, 1));
    tString status;
    file->StatusText(status);
    EXPECT_STREQ(status.GetText(), " [BOF] [EOF]");

    file->SetExclusive(true);
    EXPECT_TRUE(file->IsExclusive());
    def->SetAuditable(true);
    EXPECT_FALSE(file->IsAuditable()) << "the file answers from its own copy";
}

// The file gives back only what it locked itself (see the lock tests); locks its owner took
// through other files of the table stay.
TEST_F(IsamOpen, DestroyingTheFileLeavesLocksItDidNotTake) {
    const u32 owner = session.threadId;
    tRecordLockEngine& engine = session.lockServer;
    ASSERT_TRUE(engine.RLock(owner, Bucket(), def->GetFullName(), 12.0, 0));
    ASSERT_TRUE(engine.RLock(owner + 1, Bucket(), def->GetFullName(), 13.0, 0));
    auto file = MakeFile();
    file.reset();
    EXPECT_TRUE(engine.IsLocked(owner, Bucket(), def->GetFullName(), 12.0, 0));
    EXPECT_TRUE(engine.IsLocked(owner + 1, Bucket(), def->GetFullName(), 13.0, 0));
    EXPECT_EQ(conn.closes, 1u) << "the fetch statement is closed";
}

TEST_F(IsamOpen, JoinAddsTheAliasFieldsToTheFileOnly) {
    auto seller = std::make_unique<tTableDefinitionShared>("VENDEDOR", "PRODUCAO");
    seller->AddField("NOME", 'C', 20, 0, true, true);
    seller->AddField("COMISSAO", 'N', 8, 2, true, true);
    seller->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
    process.GetTableCache().Add(std::move(seller), "PRODUCAO");
    auto joins = std::make_unique<tAutoArray<tJoinInfo>>();
    joins->Add(
        new tJoinInfo("VENDEDOR", "NOME|vnome,COMISSAO,FALTA,|X", "TBL.CIDADE = V.CIDADE", "V"));
    auto file = MakeFile();
    file->SetJoins(std::move(joins));
    gmtest::ConsoleCapture console;
    file->Open(2);

    const std::string printed = console.Get();
    for (const char* line :
         {"[JOIN] Table [VENDEDOR] Prefix [V] Fields [NOME|vnome,COMISSAO,FALTA,|X] Join "
          "[TBL.CIDADE = V.CIDADE]\n",
          "ADD Field NOME AS VNOME ...\n", "ADD Field COMISSAO AS COMISSAO ...\n",
          "** ERRO : Field FALTA fot found on Join Table VENDEDOR\n",
          "** ERRO : Field |X fot found on Join Table VENDEDOR\n"}) {
        EXPECT_NE(printed.find(line), std::string::npos) << line;
    }
    gmtest::Bytes expected(false);
    TableStructure(expected, 64, 8)
        .Field("VNOME", 'C', 20, 0)
        .Field("COMISSAO", 'N', 8, 2)
        .Byte(1)
        .Byte(1)
        .Byte(0)
        .Long(0)
        .Text("CLI1,CLI2")
        .Text("001,002;003,006");
    EXPECT_EQ(gmtest::Payload(reply), expected.out);
    EXPECT_EQ(file->CurrentRecordSize(), 64u);
    EXPECT_EQ(file->IncomingRecordSize(), 64u);
    EXPECT_EQ(file->FieldMap(), std::vector<u8>(10, 1));
    const tField* joined = file->GetMirror().FindField("VNOME");
    ASSERT_NE(joined, nullptr);
    EXPECT_TRUE(joined->IsData());
    EXPECT_FALSE(joined->IsOwnColumn()) << "the joined table supplies it";
    EXPECT_EQ(def->GetFieldCount(), 8) << "the shared definition stays as cached";

    // A rebuilt mirror keeps the joined fields, so its record still fits the buffers.
    ASSERT_TRUE(file->CreateIndex("CLI3", "CIDADE"));
    EXPECT_EQ(file->GetMirror().GetRecLen(), 64u);
    EXPECT_NE(file->GetMirror().FindField("COMISSAO"), nullptr);
}

TEST_F(IsamOpen, JoinOfATableWithoutDefinitionIsAnAssertion) {
    auto joins = std::make_unique<tAutoArray<tJoinInfo>>();
    joins->Add(new tJoinInfo("NENHUMA", "A", "1 = 1", ""));
    auto file = MakeFile();
    file->SetJoins(std::move(joins));
    EXPECT_EQ(gmtest::AssertText([&] { file->Open(1); }),
              "*** FAILED TO OBTAIN JOIN TABLE DEFINITION ***");
}

}  // namespace
