// The audit client as a client connection sees it: the built-in handle of a build without an
// audit transport, the maker that tests replace, and the sorted custom audit columns.
#include "server/dispatch/auditclient.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib_common/retcodes.h"
#include "tests/server/support/testprocess.h"

namespace {

TEST(AuditClient, BuiltInHandleNeverConnectsAndSaysWhy) {
    gmtest::TestDBProcess process;
    std::unique_ptr<tAuditClient> client = NewAuditClient(7891);
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->Connect("audithost", "ERP\\PC01"), RC_NOT_CONNECTED);
    EXPECT_EQ(
        process.LogEntries(),
        std::vector<std::string>{"*** AUDIT SERVER (audithost) NOT AVAILABLE IN THIS BUILD ***"});
    EXPECT_EQ(client->Write("I", "SA1010", 1, "", "", "id", nullptr), RC_COMM_FAILURE);
}

TEST(AuditClient, ReplacedMakerIsAskedWithThePortUntilRemoved) {
    struct Fake : tAuditClient {
        i16 Connect(const char*, const char*) override { return 0; }
        i16 Write(const char*, const char*, f64, const char*, const char*, const char*,
                  const char*) override {
            return 0;
        }
    };
    std::vector<u16> ports;
    SetAuditClientMaker([&](u16 port) {
        ports.push_back(port);
        return std::make_unique<Fake>();
    });
    EXPECT_EQ(NewAuditClient(7000)->Connect("h", "c"), 0);
    SetAuditClientMaker(nullptr);
    EXPECT_EQ(ports, std::vector<u16>{7000});
    gmtest::TestDBProcess process;  // the built-in handle logs its refusal
    EXPECT_EQ(NewAuditClient(7000)->Connect("h", "c"), RC_NOT_CONNECTED);
    EXPECT_EQ(ports.size(), 1u);
}

std::string Columns(const tAuditCustomFieldList& list) {
    std::string text;
    for (i32 i = 0; i < list.Count(); ++i) {
        text += std::string(list.Get(i)->name.GetText()) + "=" + list.Get(i)->value.GetText() + ";";
    }
    return text;
}

TEST(AuditCustomFieldList, KeepsColumnsSortedByUnsignedBytes) {
    tAuditCustomFieldList list;
    for (const char* name : {"b", "\xE9x", "A", "a", "B"}) list.SetField(name, "1");
    EXPECT_EQ(Columns(list), "A=1;B=1;a=1;b=1;\xE9x=1;");
    list.SetField("a", "2");  // replaces, adds nothing
    EXPECT_EQ(Columns(list), "A=1;B=1;a=2;b=1;\xE9x=1;");

    const struct {
        const char* name;
        bool found;
        i32 pos;
    } cases[] = {{"A", true, 0},   {"\xE9x", true, 4}, {"", false, 0},
                 {"Ab", false, 1}, {"c", false, 4},    {"\xFF", false, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        i32 pos = -1;
        EXPECT_EQ(list.Find(c.name, pos), c.found);
        EXPECT_EQ(pos, c.pos);
    }

    EXPECT_TRUE(list.RemoveField("B"));
    EXPECT_FALSE(list.RemoveField("B"));
    EXPECT_EQ(Columns(list), "A=1;a=2;b=1;\xE9x=1;");
}

}  // namespace
