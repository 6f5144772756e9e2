// Prepared statements, stored procedures and memo fields against the scripted server: the
// request bytes of the descriptor rules, the prepared work area's flags and its close, and
// procedure results written back within the caller's descriptors.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "client/gatemillapi.h"
#include "tests/client/support/clienttest.h"
#include "tests/client/support/fakeserver.h"
#include "tests/client/support/wirebytes.h"

using gmtest::Reply;
using gmtest::tTableSession;
using gmtest::tWire;

namespace {

constexpr uint16_t kWa = 3;

// A result of one field, N 8 bytes, then the status block.
tWire& PutStructure(tWire& w) {
    return w.Long(8)
        .Short(1)
        .Text("TOTAL")
        .Byte('N')
        .Short(15)
        .Short(2)
        .Byte(0)
        .Byte(0)
        .Byte(0)
        .Long(0);
}

std::string PrepareReply() {
    tWire w;
    w.Short(0).Short(kWa);
    return PutStructure(w).Payload();
}

std::string Status(i16 status) { return tWire().Short(status).Payload(); }

TEST(ClientStatements, BindWritesEachDescriptorByItsRule) {
    tWire structure;
    structure.Short(0);
    PutStructure(structure);
    tTableSession session(
        {Reply(PrepareReply()), Reply(structure.Payload()), Reply(Status(0)), Reply(Status(0))});
    ASSERT_EQ(GM_SqlPrepare(session.handle, "SELECT ?"), kWa);
    EXPECT_EQ(GM_GetColCount(session.handle, kWa), 1);

    // A four-digit A takes 9 bytes; X takes its value from the descriptor; T sends its text, a
    // NUL and two i32.
    const std::string text1000(1000, 'q');
    const i32 seven = 7;
    const f64 half = 0.5;
    const i32 units[2] = {4, 6};
    std::string data = text1000 + "ZZ";  // X: the data advances 2 whatever it holds
    data.append(reinterpret_cast<const char*>(&seven), 4);
    data.append(reinterpret_cast<const char*>(&half), 8);
    data += "12:30";
    data.append(reinterpret_cast<const char*>(units), 8);
    data += "T";
    data += "ab";
    const std::string descriptors =
        "A/1000/0/X/001/1/E/004/0/F/008/0/T/005/0/L/001/0/I/002/0/Q/000/0/";
    EXPECT_EQ(GM_SqlBind(session.handle, kWa, descriptors.c_str(), data.data()), 0);
    // Bound: a second bind reads no structure, the third one none either.
    EXPECT_EQ(GM_SqlBind(session.handle, kWa, "E/004/0/", &seven), 0);
    EXPECT_EQ(GM_SqlBind(session.handle, kWa, "", nullptr), 0);

    const auto requests = session.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0], tWire().Short(92).Text("SELECT ?").Frame());
    tWire bind;
    bind.Short(93).Short(kWa).Short(8);
    bind.Byte('A').Raw(text1000).Byte(0).Byte('X').Byte('1').Byte('E').Long(7);
    bind.Byte('F').Double(0.5).Byte('T').Text("12:30").Long(4).Long(6);
    bind.Byte('L').Byte('T').Byte('I').Long(2).Raw("ab").Byte('Q');
    EXPECT_EQ(requests[1], bind.Frame());
    EXPECT_EQ(requests[2], tWire().Short(93).Short(kWa).Short(0).Frame())
        << "eight bytes make no descriptor";
    EXPECT_EQ(requests[3], tWire().Short(93).Short(kWa).Short(0).Frame());
}

TEST(ClientStatements, ClosingAPreparedAreaKeepsItOnlyInConnectModeOne) {
    const struct {
        const char* name;
        bool m4gl;
        i16 opcode;
        bool kept;
    } cases[] = {{"GM_Connect", false, 63, true}, {"GM_m4GLConnect", true, 11, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tTableSession session({Reply(PrepareReply()), Reply(Status(0))}, c.m4gl);
        ASSERT_EQ(GM_SqlPrepare(session.handle, "SELECT 1"), kWa);
        EXPECT_EQ(GM_Close(session.handle, kWa), 0);
        EXPECT_EQ(GM_GetColCount(session.handle, kWa) == 1, c.kept);
        const auto requests = session.Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[1], tWire().Short(c.opcode).Short(kWa).Frame());
    }
}

TEST(ClientStatements, FreeKeepsTheAreaOnlyWhileItsCursorIsOpen) {
    tTableSession session({Reply(PrepareReply()), Reply(Status(-15)), Reply(Status(0))});
    ASSERT_EQ(GM_SqlPrepare(session.handle, "SELECT 1"), kWa);
    EXPECT_EQ(GM_SqlFree(session.handle, kWa), -15);
    EXPECT_EQ(GM_GetColCount(session.handle, kWa), 1);
    EXPECT_EQ(GM_SqlFree(session.handle, kWa), 0);
    EXPECT_EQ(GM_SqlFree(session.handle, kWa), -24);
    const auto requests = session.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2], tWire().Short(94).Short(kWa).Frame());
}

TEST(ClientProcedures, ResultsRewriteTheDescriptorsWithinTheirCount) {
    const std::string long1200(1200, 'w');
    const struct {
        const char* name;
        std::string reply;
        int16_t result;
        std::string descriptors;  // after the call, the first 26 bytes
    } cases[] = {
        {"text and number", tWire().Short(2).Byte('C').Text("ab").Byte('N').Double(3.5).Payload(),
         2, std::string("C/002/0/F/008/0/*\0", 18)},
        {"more results than descriptors",
         tWire()
             .Short(4)
             .Byte('I')
             .Double(-1)
             .Byte('C')
             .Text("x")
             .Byte('C')
             .Text("y")
             .Byte('C')
             .Text("z")
             .Payload(),
         3, "F/008/0/C/001/0/C/001/0/"},
        {"a text of 1200", tWire().Short(1).Byte('C').Text(long1200.c_str()).Payload(), 1,
         std::string("C/999/0/*\0", 10)},
        {"failure", Status(-21), -21, "A/004/0/F/008/0/X/001/0/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tTableSession session({Reply(c.reply)});
        char descriptors[25] = "A/004/0/F/008/0/X/001/0/";
        std::string data(1300, '\0');
        const f64 two = 2.0;
        std::memcpy(&data[0], "PROC", 4);
        std::memcpy(&data[4], &two, 8);
        EXPECT_EQ(GM_ProcExec(session.handle, descriptors, data.data(), 3), c.result);
        EXPECT_EQ(std::string(descriptors, c.descriptors.size()), c.descriptors);
        if (c.result == 2) {
            f64 value = 0;
            std::memcpy(&value, &data[2], 8);
            EXPECT_EQ(data.substr(0, 2), "ab");
            EXPECT_EQ(value, 3.5);
        }
        if (c.result == 1) {
            EXPECT_EQ(data.substr(0, 999), long1200.substr(0, 999));
            EXPECT_EQ(data[999], 0) << "written past the cut";
        }
        const auto requests = session.Requests();
        ASSERT_EQ(requests.size(), 1u);
        // The X parameter sends its letter only; the F before it its double.
        EXPECT_EQ(requests[0],
                  tWire().Short(46).Text("PROC").Short(2).Byte('F').Double(2.0).Byte('X').Frame());
    }
}

TEST(ClientMemos, RequestsAndRepliesStayWithinTheirBytes) {
    tTableSession session({Reply(PrepareReply()), Reply(tWire().Long(5).Payload()),
                           Reply(tWire().Long(0).Raw("hello").Payload()),
                           Reply(tWire().Long(0).Raw("hi").Payload()), Reply(Status(-10)),
                           Reply(Status(0)), Reply(Status(0))});
    ASSERT_EQ(GM_SqlPrepare(session.handle, "SELECT 1"), kWa);
    EXPECT_EQ(GM_Blob_Length(session.handle, kWa, 2, 9), 5);
    char out[8] = "#######";
    EXPECT_EQ(GM_Blob_Read(session.handle, kWa, 2, 9, out, 3), 0);
    EXPECT_STREQ(out, "hel####");
    EXPECT_EQ(GM_Blob_Read(session.handle, kWa, 2, 9, out, 7), 0) << "a shorter reply";
    EXPECT_STREQ(out, "hil####");
    EXPECT_EQ(GM_Blob_Length(session.handle, kWa, 2, 9), -10) << "a lone code";
    EXPECT_EQ(GM_Blob_Write(session.handle, kWa, 2, "abc", 3), 0);
    EXPECT_EQ(GM_Blob_Write(session.handle, kWa, 2, nullptr, 40), 0);
    const auto requests = session.Requests();
    ASSERT_EQ(requests.size(), 7u);
    EXPECT_EQ(requests[1], tWire().Short(35).Short(kWa).Short(2).Long(9).Long(0).Frame());
    EXPECT_EQ(requests[2], tWire().Short(35).Short(kWa).Short(2).Long(9).Long(3).Frame());
    EXPECT_EQ(requests[5], tWire().Short(36).Short(kWa).Short(2).Long(3).Raw("abc").Frame());
    EXPECT_EQ(requests[6], tWire().Short(36).Short(kWa).Short(2).Long(0).Byte(0).Frame());
}

TEST(ClientEmbedded, EachExportSendsItsRequestBytes) {
    const i32 seven = 7;
    const i32 values[3] = {2, 10, 20};
    const struct {
        const char* name;
        std::function<int32_t(GM_HANDLE)> call;
        std::string reply;
        std::string request;
        int32_t result;
    } cases[] = {
        {"GM_PrepareStmt", [](GM_HANDLE h) { return GM_PrepareStmt(h, "SELECT 1", nullptr); },
         PrepareReply(), tWire().Short(60).Text("SELECT 1").Payload(), kWa},
        {"GM_PrepareUnload", [](GM_HANDLE h) { return GM_PrepareUnload(h, "SELECT 2", nullptr); },
         Status(-19), tWire().Short(85).Text("SELECT 2").Payload(), -19},
        {"GM_FieldCount", [](GM_HANDLE h) { return GM_FieldCount(h, kWa); }, Status(4),
         tWire().Short(84).Short(kWa).Payload(), 4},
        {"GM_ExecEmbeddedNoReturn",
         [&](GM_HANDLE h) {
             return GM_ExecEmbeddedNoReturn(h, "DELETE", "E/004/0/*", &seven, nullptr);
         },
         Status(0), tWire().Short(88).Text("DELETE").Short(1).Byte('E').Long(7).Payload(), 0},
        {"GM_ExecStmt", [](GM_HANDLE h) { return GM_ExecStmt(h, kWa, 1, "go", 2, 3, nullptr); },
         Status(-25), tWire().Short(62).Short(kWa).Short(1).Text("go").Short(2).Short(3).Payload(),
         -25},
        {"GM_BindParam",
         [&](GM_HANDLE h) { return GM_BindParam(h, kWa, "E/004/0/*", &seven, "t", 4, 5, nullptr); },
         Status(-19),
         tWire()
             .Short(61)
             .Short(kWa)
             .Text("t")
             .Byte(4)
             .Byte(5)
             .Short(1)
             .Byte('E')
             .Long(7)
             .Payload(),
         -19},
        {"GM_ExecProcedure",
         [&](GM_HANDLE h) { return GM_ExecProcedure(h, "P", nullptr, nullptr, values, nullptr); },
         Status(-3), tWire().Short(91).Text("P").Short(0).Long(2).Long(10).Long(20).Payload(), -25},
        {"GM_ExecProcedure without values",
         [](GM_HANDLE h) { return GM_ExecProcedure(h, "P", nullptr, nullptr, nullptr, nullptr); },
         Status(-19), tWire().Short(91).Text("P").Short(0).Long(0).Payload(), -25},
        {"GM_GetQryDescription status out of range",
         [](GM_HANDLE h) {
             char types[4] = "---";
             return GM_GetQryDescription(h, "SELECT", types, nullptr) + (types[0] == '-' ? 0 : 1);
         },
         Status(100), tWire().Short(90).Text("SELECT").Payload(), 0},
        {"GM_FetchScroll", [](GM_HANDLE h) { return GM_FetchScroll(h, kWa, 9, 2, nullptr); },
         tWire().Short(-25).Byte(0).Byte(1).Byte(0).Long(0).Payload(),
         tWire().Short(59).Short(kWa).Long(9).Short(2).Payload(), -25},
        {"GM_IsEofEmbedded", [](GM_HANDLE h) { return GM_IsEofEmbedded(h, kWa); },
         tWire()
             .Short(0)
             .Double(1)
             .Raw(std::string(8, 'x'))
             .Byte(0)
             .Byte(0)
             .Byte(0)
             .Long(1)
             .Payload(),
         tWire().Short(59).Short(kWa).Long(1).Short(1).Payload(), 0},
    };
    std::vector<gmtest::tFakeAnswer> answers;
    for (const auto& c : cases) answers.push_back(Reply(c.reply));
    tTableSession session(answers);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(session.handle), c.result);
    }
    const auto requests = session.Requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    for (size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(requests[i], tWire().Raw(cases[i].request).Frame());
    }
}

TEST(ClientEmbedded, DescriptionStoresOneTypePerColumn) {
    tWire reply;
    reply.Long(1).Long(2).Long(3).Short(0).Short(2);
    reply.Text("A").Byte('C').Short(3).Short(0).Text("B").Byte('N').Short(9).Short(2);
    tTableSession session({Reply(reply.Payload())}, true);
    char types[4] = "---";
    std::vector<u8> block(96, 0);
    EXPECT_EQ(GM_GetQryDescription(session.handle, "SELECT A, B", types, block.data()), 0);
    EXPECT_STREQ(types, "CN-");
    i32 words[3];
    std::memcpy(&words[0], &block[0], 4);
    std::memcpy(&words[1], &block[88], 4);
    std::memcpy(&words[2], &block[92], 4);
    EXPECT_EQ(words[0], 1);
    EXPECT_EQ(words[1], 2);
    EXPECT_EQ(words[2], 3);
}

TEST(ClientEmbedded, EchoedRequestsFailAndMakeNoWorkArea) {
    const struct {
        const char* name;
        std::function<int32_t(GM_HANDLE)> call;
    } cases[] = {
        {"GM_PrepareStmt", [](GM_HANDLE h) { return GM_PrepareStmt(h, "SELECT 1", nullptr); }},
        {"GM_PrepareUnload", [](GM_HANDLE h) { return GM_PrepareUnload(h, "SELECT 1", nullptr); }},
        {"GM_FieldCount", [](GM_HANDLE h) { return GM_FieldCount(h, 2); }},
        {"GM_ExecProcedure",
         [](GM_HANDLE h) { return GM_ExecProcedure(h, "P", nullptr, nullptr, nullptr, nullptr); }},
        {"GM_ExecEmbeddedNoReturn",
         [](GM_HANDLE h) { return GM_ExecEmbeddedNoReturn(h, "X", "", nullptr, nullptr); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tTableSession session({gmtest::Echo()});
        EXPECT_LT(c.call(session.handle), 0);
        for (uint16_t wa : {2, 60, 84, 85, 88, 91}) {
            EXPECT_EQ(GM_GetColCount(session.handle, wa) > 0, false) << wa;
        }
    }
}

}  // namespace
