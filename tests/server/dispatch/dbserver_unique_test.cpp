// The index services of a client connection over scripted connections: what they read of the
// table's cached definition.
#include <gtest/gtest.h>

#include <memory>

#include "server/dispatch/dbserver.h"
#include "server/isam/dbprocess.h"
#include "server/tables/dbtable.h"
#include "tests/server/dispatch/support/scriptedfile.h"

namespace {

class DBServerUnique : public gmtest::TableHandlerTest {};

TEST_F(DBServerUnique, IndexDirectionComesFromTheCachedDefinition) {
    auto def = std::make_unique<tTableDefinitionShared>("SB1010", "ERP");
    def->AddField("B1_COD", 'C', 6, 0, true, true);
    auto descending = std::make_unique<tIndexDefinition>("SB1010_DESC", true);
    descending->AddField(0);
    def->AddIndex(std::move(descending));
    DBProcess().GetTableCache().Add(std::move(def), "ERP");
    auto session = OpenConnected();
    session->Disconnect();  // the services run on the connection, between requests
    tDBServer& server = *session->server;
    EXPECT_TRUE(server.IsIndexReverse("sb1010.sb1010_desc"));
    EXPECT_FALSE(server.IsIndexReverse("SA1010.SA1010_NOME"));  // an ascending key
    EXPECT_FALSE(server.IsIndexReverse("SB1010.SB1010_NOSUCH"));
    session->End();
}

}  // namespace
