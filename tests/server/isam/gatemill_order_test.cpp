// Orders and indexes of a table file: the order bounds, index creation from dBASE-style keys,
// the rebuilt mirror, and the index list of the reply.
#include <gtest/gtest.h>

#include <string>

#include "lib_common/retcodes.h"
#include "server/isam/gatemill.h"
#include "tests/server/support/testisam.h"
#include "tests/server/support/wirebytes.h"
#include "tests/support/gmtest.h"

namespace {

class Order : public ::testing::Test, public gmtest::IsamTestBed {
protected:
    std::string LastError() {
        tString text;
        conn.GetLastErrorInfo(text);
        return text.GetText();
    }
};

TEST_F(Order, SetOrderAcceptsZeroUpToTheIndexCount) {
    auto file = MakeFile();
    const struct {
        i16 order;
        i16 code;
        i32 after;  // the order afterwards, starting from 1
    } cases[] = {{0, RC_OK, 0}, {2, RC_OK, 2}, {3, RC_BAD_INDEX, 1}, {-1, RC_BAD_INDEX, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.order);
        ASSERT_EQ(file->SetOrder(1), RC_OK);
        EXPECT_EQ(file->SetOrder(c.order), c.code);
        EXPECT_EQ(file->GetOrder(), c.after);
    }
    EXPECT_EQ(conn.executed.size(), 0u) << "a new order runs no SQL by itself";
}

TEST_F(Order, IndexListGivesClientPositionsWithoutRecnoAndRecDel) {
    auto shared = std::make_shared<tTableDefinitionShared>("T", "PRODUCAO");
    for (const char* name : {"A", "B", "R_E_C_N_O_", "D_E_L_E_T_", "R_E_C_D_E_L_", "E"}) {
        const bool data = std::string(name) != "R_E_C_N_O_" && std::string(name) != "R_E_C_D_E_L_";
        shared->AddField(name, 'C', 4, 0, data, true);
    }
    shared->AddIndex(gmtest::MakeIndex("X", {0, 5, 2}));
    shared->AddIndex(gmtest::MakeIndex("Y", {1, 2}));
    gmtest::TestISAMFile file(&conn, shared, reply, 1);
    file.SendIndexes();
    EXPECT_EQ(gmtest::Payload(reply), gmtest::Bytes(false).Text("X,Y").Text("001,004;002").out);

    reply.Reset();
    auto bare = std::make_shared<tTableDefinitionShared>("U", "PRODUCAO");
    bare->AddField("A", 'C', 4, 0, true, true);
    gmtest::TestISAMFile none(&conn, bare, reply, 1);
    none.SendIndexes();
    EXPECT_EQ(gmtest::Payload(reply), gmtest::Bytes(false).Text("").Text("").out);
}

TEST_F(Order, CreateIndexOfAMissingFieldOrABadNameIsRefusedBeforeAnySql) {
    auto file = MakeFile();
    const struct {
        const char* name;
        const char* key;
        const char* error;
    } cases[] = {
        {"CLI3", "NOME+BAIRRO", "Field [BAIRRO] not found."},
        {"CLI3", "NOME+", "Field [] not found."},
        {"CLI3", "DTOS(X->NADA,8)", "Field [NADA] not found."},
        {"CLI3 ON X;DROP TABLE Y", "NOME", "Invalid index name [CLI3 ON X;DROP TABLE Y]."},
        {"", "NOME", "Invalid index name []."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_FALSE(file->CreateIndex(c.name, c.key));
        EXPECT_EQ(conn.executed.size(), 0u);
        EXPECT_EQ(def->GetIndexCount(), 2);
        EXPECT_EQ(file->GetMirror().GetIndexCount(), 2);
        const std::string expected =
            std::string("GML Error -19 - ") + c.error + " ( From tISAMFile::CreateIndex )";
        EXPECT_EQ(LastError().rfind(expected, 0), 0u) << LastError();
    }
}

TEST_F(Order, CreateIndexTakesTheColumnOfEachKeyTermAndListsTheIndexLast) {
    conn.owner = "dbo.";
    auto file = MakeFile();
    ASSERT_TRUE(file->CreateIndex("CLI3", "CIDADE+DTOS(A->DATA,8)+STR(X->VALOR,10)"));
    ASSERT_EQ(conn.executed.size(), 1u);
    EXPECT_EQ(conn.executed[0],
              "tISAMFile::CreateIndex: CREATE INDEX CLI3 ON dbo.CLIENTES(CIDADE,DATA,VALOR,"
              "R_E_C_N_O_,D_E_L_E_T_)");
    EXPECT_EQ(conn.closes, 1u);
    ASSERT_EQ(def->GetIndexCount(), 3);
    const tIndexDefinition* made = def->GetIndex(2);
    EXPECT_STREQ(made->GetName(), "CLI3");
    ASSERT_EQ(made->GetFieldCount(), 4);
    EXPECT_EQ(made->GetField(0), 1);
    EXPECT_EQ(made->GetField(1), 3);
    EXPECT_EQ(made->GetField(2), 2);
    EXPECT_EQ(made->GetField(3), 5) << "R_E_C_N_O_ closes every index";
    EXPECT_EQ(file->GetMirror().GetIndexCount(), 3) << "the mirror was rebuilt";
    EXPECT_EQ(file->SetOrder(3), RC_OK);

    file->SendIndexes();
    EXPECT_EQ(gmtest::Payload(reply),
              gmtest::Bytes(false).Text("CLI1,CLI2,CLI3").Text("001,002;003,006;002,004,003").out);
}

TEST_F(Order, FailedCreateIndexChangesNoDefinition) {
    conn.failingExecs.insert(0);
    auto file = MakeFile();
    EXPECT_FALSE(file->CreateIndex("CLI3", "CIDADE"));
    EXPECT_EQ(conn.closes, 1u);
    EXPECT_EQ(def->GetIndexCount(), 2);
    EXPECT_EQ(file->GetMirror().GetIndexCount(), 2);
}

TEST_F(Order, ResetMirrorRefusesALongerRecordAndKeepsTheMirror) {
    auto file = MakeFile();
    def->AddField("NOVO", 'C', 5, 0, true, true);
    EXPECT_EQ(gmtest::AssertText([&] { file->ResetMirror(); }),
              "ERROR : Reset Mirror RecLen increase from 36 to 41");
    EXPECT_EQ(file->GetMirror().GetRecLen(), 36u);
    EXPECT_EQ(file->GetMirror().GetFieldCount(), 8);
}

TEST_F(Order, CheckKeyPrefixRefusesOnlyTheLessThanOperator) {
    auto file = MakeFile();
    EXPECT_FALSE(file->CheckKeyPrefix("< "));
    EXPECT_TRUE(file->CheckKeyPrefix("<= "));
    EXPECT_TRUE(file->CheckKeyPrefix("> "));
    EXPECT_TRUE(file->CheckKeyPrefix("= "));
}

}  // namespace
