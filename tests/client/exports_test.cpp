// The request exports: the bytes each one sends, how each reads its reply into the work area,
// and that garbage, short or echoed replies end in a failure code and never in a work area.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "client/gatemillapi.h"
#include "tests/client/support/clienttest.h"
#include "tests/client/support/fakeserver.h"
#include "tests/client/support/wirebytes.h"

using gmtest::Reply;
using gmtest::tFakeAnswer;
using gmtest::tTableSession;
using gmtest::tWire;

namespace {

constexpr uint16_t kWa = 1;
constexpr i32 kRecordSize = 16;

// The structure of the test table: CODE C(6), VALUE N(15,2), ACTIVE L, D_E_L_E_T_ C(1); 16
// record bytes, offsets 0, 6, 14, 15.
tWire& PutStructure(tWire& w) {
    return w.Long(kRecordSize)
        .Short(4)
        .Text("CODE")
        .Byte('C')
        .Short(6)
        .Short(0)
        .Text("VALUE")
        .Byte('N')
        .Short(15)
        .Short(2)
        .Text("ACTIVE")
        .Byte('L')
        .Short(1)
        .Short(0)
        .Text("D_E_L_E_T_")
        .Byte('C')
        .Short(1)
        .Short(0);
}

tWire& PutStatus(tWire& w, u8 bof, u8 eof, i32 count) {
    return w.Byte(bof).Byte(eof).Byte(0).Long(count);
}

std::string OpenReply() {
    tWire w;
    w.Short(0).Short(kWa);
    PutStructure(w);
    PutStatus(w, 1, 0, 3);
    return w.Text("IDX1,IDX2").Text("CODE;VALUE+CODE").Payload();
}

// A record: CODE, VALUE, ACTIVE, D_E_L_E_T_.
std::string Record(const char* code, f64 value, char active, char deleted) {
    std::string bytes(kRecordSize, '\0');
    std::memcpy(&bytes[0], code, std::min<size_t>(std::strlen(code), 6));
    std::memcpy(&bytes[6], &value, 8);
    bytes[14] = active;
    bytes[15] = deleted;
    return bytes;
}

std::string MoveReply(f64 recno, const std::string& record, i32 count = 3) {
    tWire w;
    w.Short(0).Double(recno).Raw(record);
    return PutStatus(w, 0, 0, count).Payload();
}

std::string StatusOnly(i16 status) { return tWire().Short(status).Payload(); }

std::string Current(GM_HANDLE h) { return std::string(GM_GetInternalRec(h, kWa), kRecordSize); }

struct tRequestCase {
    const char* name;
    std::function<int32_t(GM_HANDLE)> call;
    std::vector<std::string> replies;
    std::vector<std::string> requests;  // payloads the server must receive
    int32_t result;
};

std::vector<tRequestCase> RequestCases() {
    const std::string zero(kRecordSize, '\0');
    const std::string abc = Record("ABC", 0, 0, 0);
    return {
        {"GM_StrCmtCtl", GM_StrCmtCtl, {StatusOnly(0)}, {tWire().Short(1).Payload()}, 0},
        {"GM_EndCmtCtl", GM_EndCmtCtl, {StatusOnly(0)}, {tWire().Short(2).Payload()}, 0},
        {"GM_Commit",
         [](GM_HANDLE h) { return GM_Commit(h, 77); },
         {StatusOnly(0)},
         {tWire().Short(3).Payload()},
         0},
        {"GM_Rollbk", GM_Rollbk, {StatusOnly(-13)}, {tWire().Short(4).Payload()}, -13},
        {"GM_DeleteFile",
         [](GM_HANDLE h) { return GM_DeleteFile(h, "ORDERS"); },
         {StatusOnly(0)},
         {tWire().Short(6).Text("ORDERS").Payload()},
         0},
        {"GM_CanOpen",
         [](GM_HANDLE h) { return GM_CanOpen(h, "ORDERS", "IDX"); },
         {StatusOnly(-11)},
         {tWire().Short(7).Text("ORDERS").Text("IDX").Payload()},
         -11},
        {"GM_CanOpen null",
         [](GM_HANDLE h) { return GM_CanOpen(h, "ORDERS", nullptr); },
         {StatusOnly(0)},
         {tWire().Short(7).Text("ORDERS").Byte(0).Payload()},
         0},
        {"GM_Refresh",
         [](GM_HANDLE h) { return GM_Refresh(h, "ORDERS"); },
         {StatusOnly(0)},
         {tWire().Short(37).Text("ORDERS").Payload()},
         0},
        {"GM_SPExist",
         [](GM_HANDLE h) { return GM_SPExist(h, "SP1"); },
         {StatusOnly(-11)},
         {tWire().Short(38).Text("SP1").Payload()},
         -11},
        {"GM_DummyMode on",
         [](GM_HANDLE h) { return GM_DummyMode(h, 2); },
         {StatusOnly(0)},
         {tWire().Short(40).Text("*ON").Payload()},
         0},
        {"GM_DummyMode off",
         [](GM_HANDLE h) { return GM_DummyMode(h, 0); },
         {StatusOnly(0)},
         {tWire().Short(40).Text("*OFF").Payload()},
         0},
        {"GM_AlterFile",
         [](GM_HANDLE h) { return GM_AlterFile(h, "A", "B", "C"); },
         {StatusOnly(0)},
         {tWire().Short(47).Text("A").Text("B").Text("C").Payload()},
         0},
        {"GM_SetParam",
         [](GM_HANDLE h) { return GM_SetParam(h, "P", "V"); },
         {StatusOnly(0)},
         {tWire().Short(48).Text("P").Text("V").Payload()},
         0},
        {"GM_Unique",
         [](GM_HANDLE h) { return GM_Unique(h, "T", "K"); },
         {StatusOnly(0)},
         {tWire().Short(49).Text("T").Text("K").Payload()},
         0},
        {"GM_GetNativeError",
         [](GM_HANDLE h) {
             char text[16];
             return GM_GetNativeError(h, text, sizeof text);
         },
         {StatusOnly(0)},
         {tWire().Short(86).Payload()},
         0},
        {"GM_GetSID",
         GM_GetSID,
         {tWire().Long(4321).Payload()},
         {tWire().Short(87).Payload()},
         4321},
        {"GM_GetDBSID",
         [](GM_HANDLE h) {
             char text[16];
             return GM_GetDBSID(h, text, sizeof text);
         },
         {tWire().Text("pg-77").Payload()},
         {tWire().Short(95).Payload()},
         6},
        {"GM_JustClose",
         [](GM_HANDLE h) { return GM_JustClose(h, kWa); },
         {StatusOnly(0)},
         {tWire().Short(63).Short(kWa).Payload()},
         0},
        {"GM_SrvMap",
         [](GM_HANDLE h) { return GM_SrvMap(h, kWa, "CODE,VALUE"); },
         {StatusOnly(0)},
         {tWire().Short(34).Short(kWa).Text("CODE,VALUE").Payload()},
         0},
        {"GM_SetKey",
         [](GM_HANDLE h) { return GM_SetKey(h, kWa, 3); },
         {StatusOnly(0)},
         {tWire().Short(13).Short(kWa).Short(2).Payload()},
         0},
        {"GM_SetKeyC",
         [](GM_HANDLE h) { return GM_SetKeyC(h, kWa, "idx1"); },
         {StatusOnly(0)},
         {tWire().Short(13).Short(kWa).Short(1).Payload()},
         0},
        {"GM_SetDeleted",
         [](GM_HANDLE h) { return GM_SetDeleted(h, kWa, 5); },
         {StatusOnly(0)},
         {tWire().Short(44).Short(kWa).Byte(1).Payload()},
         0},
        {"GM_First",
         [](GM_HANDLE h) { return GM_First(h, kWa, 8, 9); },
         {MoveReply(1, zero)},
         {tWire().Short(31).Short(kWa).Payload()},
         0},
        {"GM_Last",
         [](GM_HANDLE h) { return GM_Last(h, kWa, 8, 9); },
         {MoveReply(3, zero)},
         {tWire().Short(32).Short(kWa).Payload()},
         0},
        {"GM_Skip",
         [](GM_HANDLE h) { return GM_Skip(h, kWa, 8, -3, 9); },
         {MoveReply(1, zero)},
         {tWire().Short(30).Short(kWa).Long(-3).Payload()},
         0},
        {"GM_ChainR",
         [](GM_HANDLE h) { return GM_ChainR(h, kWa, 8, 7, 9); },
         {MoveReply(7, zero)},
         {tWire().Short(29).Short(kWa).Long(7).Payload()},
         0},
        {"GM_Seek",
         [](GM_HANDLE h) {
             GM_SetInternalFld(h, kWa, "CODE", "ABC");
             return GM_Seek(h, kWa, 8, 1, 1, 0, 6, 9);
         },
         {MoveReply(2, zero)},
         {tWire().Short(28).Short(kWa).Short(1).Short(6).Byte(1).Byte(0).Raw(abc).Payload()},
         0},
        {"GM_Lock",
         [](GM_HANDLE h) { return GM_Lock(h, kWa, 5); },
         {MoveReply(5, zero)},
         {tWire().Short(19).Short(kWa).Byte(0).Long(5).Payload()},
         0},
        {"GM_UnLock",
         [](GM_HANDLE h) { return GM_UnLock(h, kWa, 5); },
         {StatusOnly(0)},
         {tWire().Short(20).Short(kWa).Byte(0).Long(5).Payload()},
         0},
        {"GM_FLock",
         [](GM_HANDLE h) { return GM_FLock(h, kWa, 9); },
         {MoveReply(5, zero)},
         {tWire().Short(19).Short(kWa).Byte(1).Long(0).Payload()},
         0},
        {"GM_FUnLock",
         [](GM_HANDLE h) { return GM_FUnLock(h, kWa); },
         {StatusOnly(0)},
         {tWire().Short(20).Short(kWa).Byte(1).Long(0).Payload()},
         0},
        {"GM_Write",
         [](GM_HANDLE h) {
             GM_SetInternalFld(h, kWa, "CODE", "ABC");
             return GM_Write(h, kWa, 9);
         },
         {PutStatus(tWire().Short(0).Double(4), 0, 0, 4).Payload()},
         {tWire().Short(21).Short(kWa).Raw(abc).Payload()},
         0},
        {"GM_UpdateR",
         [](GM_HANDLE h) { return GM_UpdateR(h, kWa, 8, 4); },
         {StatusOnly(0)},
         {tWire().Short(22).Short(kWa).Long(4).Raw(abc).Payload()},
         0},
        {"GM_DeleteR",
         [](GM_HANDLE h) { return GM_DeleteR(h, kWa, 4); },
         {StatusOnly(0)},
         {tWire().Short(23).Short(kWa).Long(4).Payload()},
         0},
        {"GM_RecallR",
         [](GM_HANDLE h) { return GM_RecallR(h, kWa, 4, 9); },
         {StatusOnly(0)},
         {tWire().Short(24).Short(kWa).Long(4).Payload()},
         0},
        {"GM_Pack",
         [](GM_HANDLE h) { return GM_Pack(h, kWa); },
         {StatusOnly(0), MoveReply(4, abc)},
         {tWire().Short(25).Short(kWa).Payload(), tWire().Short(29).Short(kWa).Long(4).Payload()},
         0},
        {"GM_Clear",
         [](GM_HANDLE h) { return GM_Clear(h, kWa); },
         {PutStatus(tWire().Short(0), 1, 1, 0).Payload()},
         {tWire().Short(26).Short(kWa).Payload()},
         0},
        {"GM_CreateIndex",
         [](GM_HANDLE h) { return GM_CreateIndex(h, kWa, "IDX3", "VALUE"); },
         {tWire().Short(0).Text("IDX1,IDX2,IDX3").Text("CODE;VALUE+CODE;VALUE").Payload()},
         {tWire().Short(10).Short(kWa).Text("IDX3").Text("VALUE").Payload()},
         0},
        {"GM_Execute whole",
         [](GM_HANDLE h) { return GM_Execute(h, "DELETE FROM T", 0); },
         {StatusOnly(0)},
         {tWire().Short(45).Text("DELETE FROM T").Payload()},
         0},
        {"GM_Execute first 6",
         [](GM_HANDLE h) { return GM_Execute(h, "DELETE FROM T", 6); },
         {StatusOnly(0)},
         {tWire().Short(45).Text("DELETE").Payload()},
         0},
        {"GM_Execute longer than the text",
         [](GM_HANDLE h) { return GM_Execute(h, "COMMIT", 100); },
         {StatusOnly(0)},
         {tWire().Short(45).Text("COMMIT").Payload()},
         0},
        {"GM_ExecuteEx",
         [](GM_HANDLE h) { return GM_ExecuteEx(h, "COMMIT", 0, nullptr); },
         {StatusOnly(-19)},
         {tWire().Short(45).Text("COMMIT").Payload()},
         -19},
        {"GM_Query",
         [](GM_HANDLE h) { return GM_Query(h, "SELECT A FROM T"); },
         {StatusOnly(-19)},
         {tWire().Short(9).Text("SELECT A FROM T").Payload()},
         -19},
        {"GM_QueryEx",
         [](GM_HANDLE h) { return GM_QueryEx(h, "SELECT A FROM T", "X", 3, 4, nullptr); },
         {StatusOnly(-19)},
         {tWire().Short(58).Text("SELECT A FROM T").Text("X").Byte(3).Byte(4).Payload()},
         -19},
        {"GM_InternalF",
         [](GM_HANDLE h) {
             char buffer[8] = "AB";
             return GM_InternalF(h, 3, buffer, 2, sizeof buffer);
         },
         {tWire().Text("OK").Payload()},
         {tWire().Short(42).Byte(3).Short(2).Raw("AB").Payload()},
         3},
        {"GM_GetBuild",
         [](GM_HANDLE h) {
             char text[256];
             return GM_GetBuild(h, text);
         },
         {tWire().Text("20110117").Payload()},
         {tWire().Short(240).Payload()},
         0},
        {"GM_CreateFile",
         [](GM_HANDLE h) {
             const GM_HANDLE fields = GM_GetCreateStruct(2, 0, 0);
             GM_SetCreateField(fields, 0, "CODE", 'C', 6, 0, 0);
             GM_SetCreateField(fields, 1, "VALUE", 'N', 15, 15, 2);
             return GM_CreateFile(h, "ORDERS", fields);
         },
         {StatusOnly(0)},
         {tWire()
              .Short(5)
              .Text("ORDERS")
              .Short(2)
              .Text("CODE")
              .Byte('C')
              .Short(6)
              .Short(0)
              .Short(0)
              .Text("VALUE")
              .Byte('N')
              .Short(15)
              .Short(15)
              .Short(2)
              .Payload()},
         0},
        {"GM_Close",
         [](GM_HANDLE h) { return GM_Close(h, kWa); },
         {StatusOnly(0)},
         {tWire().Short(11).Short(kWa).Payload()},
         0},
    };
}

}  // namespace

TEST(ClientRequests, EachExportSendsItsRequestBytes) {
    const std::vector<tRequestCase> cases = RequestCases();
    std::vector<tFakeAnswer> answers{Reply(OpenReply())};
    for (const auto& c : cases) {
        for (const auto& reply : c.replies) answers.push_back(Reply(reply));
    }
    tTableSession session(answers);
    ASSERT_EQ(session.connectStatus, 0);
    ASSERT_EQ(GM_Open(session.handle, "ORDERS", 1, 0), kWa);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(session.handle), c.result);
    }
    const std::vector<std::string> requests = session.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0], tWire().Short(8).Text("ORDERS").Byte(1).Byte(0).Frame());
    size_t next = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& payload : c.requests) {
            ASSERT_LT(next, requests.size());
            EXPECT_EQ(requests[next++], tWire().Raw(payload).Frame());
        }
    }
    EXPECT_EQ(next, requests.size());
}

TEST(ClientMoves, ReplyStatusDecidesWhatIsRead) {
    const std::string abc = Record("ABC", 2.5, 'T', ' ');
    tTableSession session({
        Reply(OpenReply()), Reply(MoveReply(2, abc, 9)),          // First: found
        Reply(PutStatus(tWire().Short(-25), 0, 1, 9).Payload()),  // Skip past the end
        Reply(StatusOnly(-25)),                                   // dummy mode: code alone
        Reply(StatusOnly(-10)),                                   // no such file
        Reply(PutStatus(tWire().Short(-31), 0, 0, 9).Payload()),  // lock refused
        Reply(tWire().Short(-28).Double(3).Raw(abc).Byte(0).Byte(0).Byte(0).Long(9).Payload()),
        Reply(PutStatus(tWire().Short(-25), 0, 1, 9).Payload()),  // Seek not found
        Reply(StatusOnly(-10)),                                   // Seek on a closed file
    });
    ASSERT_EQ(GM_Open(session.handle, "T", 0, 0), kWa);
    EXPECT_EQ(GM_Bof(session.handle, kWa), 1);
    EXPECT_EQ(GM_GetTotalRecs(session.handle, kWa), 3);

    EXPECT_EQ(GM_First(session.handle, kWa, 0, 0), 0);
    EXPECT_EQ(Current(session.handle), abc);
    EXPECT_EQ(GM_RecNo(session.handle, kWa), 2);
    EXPECT_EQ(GM_Bof(session.handle, kWa), 0);
    EXPECT_EQ(GM_GetTotalRecs(session.handle, kWa), 9);

    EXPECT_EQ(GM_Skip(session.handle, kWa, 0, 100, 0), -25);
    EXPECT_EQ(Current(session.handle), std::string(kRecordSize, '\0'));
    EXPECT_EQ(GM_Eof(session.handle, kWa), 1);
    EXPECT_EQ(GM_RecNo(session.handle, kWa), 10);  // the count + 1 at end of file

    EXPECT_EQ(GM_Skip(session.handle, kWa, 0, 1, 0), -25);
    EXPECT_EQ(GM_First(session.handle, kWa, 0, 0), -10);
    EXPECT_EQ(GM_Lock(session.handle, kWa, 0), -31);
    EXPECT_EQ(GM_IsConnected(session.handle), 1);

    EXPECT_EQ(GM_Seek(session.handle, kWa, 0, 1, 0, 1, 6, 0), -28);
    EXPECT_EQ(Current(session.handle), abc);  // the next greater key
    EXPECT_EQ(GM_RecNo(session.handle, kWa), 3);
    EXPECT_EQ(GM_Seek(session.handle, kWa, 0, 1, 0, 0, 6, 0), -25);
    EXPECT_EQ(GM_Eof(session.handle, kWa), 1);
    EXPECT_EQ(GM_Seek(session.handle, kWa, 0, 1, 0, 0, 6, 0), -10);
    EXPECT_EQ(GM_IsConnected(session.handle), 1);
}

TEST(ClientMoves, LockOfRecordZeroSendsTheCurrentRecord) {
    const std::string zero(kRecordSize, '\0');
    tTableSession session(
        {Reply(OpenReply()), Reply(MoveReply(7, zero)), Reply(MoveReply(7, zero))});
    ASSERT_EQ(GM_Open(session.handle, "T", 0, 0), kWa);
    EXPECT_EQ(GM_ChainR(session.handle, kWa, 0, 7, 0), 0);
    EXPECT_EQ(GM_Lock(session.handle, kWa, 0), 0);
    const auto requests = session.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2], tWire().Short(19).Short(kWa).Byte(0).Long(7).Frame());
}

TEST(ClientRecords, WritesKeepTheWorkAreaInStep) {
    tTableSession session({
        Reply(OpenReply()),
        Reply(PutStatus(tWire().Short(0).Double(12), 0, 0, 12).Payload()),  // Write
        Reply(StatusOnly(0)),                                               // UpdateR
        Reply(StatusOnly(0)),                                               // DeleteR
        Reply(StatusOnly(0)),                                               // RecallR
        Reply(StatusOnly(-30)),                                             // DeleteR refused
        Reply(StatusOnly(-27)),                                             // Write refused
    });
    ASSERT_EQ(GM_Open(session.handle, "T", 0, 0), kWa);
    EXPECT_EQ(GM_Write(session.handle, kWa, 0), 0);
    EXPECT_EQ(GM_RecNo(session.handle, kWa), 12);
    EXPECT_EQ(GM_GetTotalRecs(session.handle, kWa), 12);
    EXPECT_EQ(GM_Bof(session.handle, kWa), 0);
    char* deleted = GM_GetInternalFld(session.handle, kWa, "d_e_l_e_t_");
    ASSERT_NE(deleted, nullptr);
    EXPECT_EQ(GM_UpdateR(session.handle, kWa, 0, 12), 0);
    EXPECT_EQ(GM_Eof(session.handle, kWa), 0);
    EXPECT_EQ(GM_DeleteR(session.handle, kWa, 12), 0);
    EXPECT_EQ(*deleted, '*');
    EXPECT_EQ(GM_RecallR(session.handle, kWa, 12, 0), 0);
    EXPECT_EQ(*deleted, ' ');
    EXPECT_EQ(GM_DeleteR(session.handle, kWa, 12), -30);
    EXPECT_EQ(*deleted, ' ');
    EXPECT_EQ(GM_Write(session.handle, kWa, 0), -27);
    EXPECT_EQ(GM_RecNo(session.handle, kWa), 12);
}

TEST(ClientSettings, RepeatedSettingsSendNothingUntilTheServerAcceptsAnother) {
    tTableSession session({
        Reply(OpenReply()),
        Reply(StatusOnly(0)),    // SetKey(1): index 0
        Reply(StatusOnly(-14)),  // SetKey(5): refused
        Reply(StatusOnly(-14)),  // SetKey(5) again: asked again
        Reply(StatusOnly(0)),    // SetKeyC("IDX2"): 2
        Reply(StatusOnly(0)),    // SetDeleted(1)
        Reply(StatusOnly(0)),    // SetDeleted(0)
    });
    ASSERT_EQ(GM_Open(session.handle, "T", 0, 0), kWa);
    EXPECT_EQ(GM_SetKey(session.handle, kWa, 0), 0);  // 0 - 1 is the initial setting
    EXPECT_EQ(GM_SetKey(session.handle, kWa, 1), 0);
    EXPECT_EQ(GM_SetKey(session.handle, kWa, 1), 0);
    EXPECT_EQ(GM_SetKey(session.handle, kWa, 5), -14);
    EXPECT_EQ(GM_SetKey(session.handle, kWa, 5), -14);
    EXPECT_EQ(GM_SetKeyC(session.handle, kWa, "Idx2"), 0);
    EXPECT_EQ(GM_SetKey(session.handle, kWa, 3), 0);  // the same index as IDX2
    EXPECT_EQ(GM_SetKeyC(session.handle, kWa, "IDX9"), RC_BAD_INDEX);
    EXPECT_EQ(GM_SetKeyC(session.handle, kWa, nullptr), RC_BAD_INDEX);
    EXPECT_EQ(GM_SetDeleted(session.handle, kWa, 0), 0);  // shown at first
    EXPECT_EQ(GM_SetDeleted(session.handle, kWa, 1), 0);
    EXPECT_EQ(GM_SetDeleted(session.handle, kWa, -4), 0);
    EXPECT_EQ(GM_SetDeleted(session.handle, kWa, 0), 0);
    const auto requests = session.Requests();
    const std::vector<std::string> expected = {
        tWire().Short(13).Short(kWa).Short(0).Frame(),
        tWire().Short(13).Short(kWa).Short(4).Frame(),
        tWire().Short(13).Short(kWa).Short(4).Frame(),
        tWire().Short(13).Short(kWa).Short(2).Frame(),
        tWire().Short(44).Short(kWa).Byte(1).Frame(),
        tWire().Short(44).Short(kWa).Byte(0).Frame(),
    };
    ASSERT_EQ(requests.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(requests[i + 1], expected[i]);
}

TEST(ClientTexts, TextRepliesAreCopiedWithinTheCallersSize) {
    tTableSession session({
        Reply(tWire().Short(19).Text("ABCDEF").Payload()),  // GetError, max 4
        Reply(tWire().Short(19).Text("ABCDEF").Payload()),  // GetError, max 10
        Reply(StatusOnly(-19)),                             // GetError without a text
        Reply(tWire().Text("ABCDEF").Payload()),            // InternalF, max 4
        Reply(tWire().Text("").Payload()),                  // InternalF, empty answer
        Reply(tWire().Text("ABCDEF").Payload()),            // GetDBSID, max 3
    });
    char text[16];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(GM_GetError(session.handle, text, 4), 19);
    EXPECT_EQ(std::string(text, 5), "ABCD#");  // no NUL when the text fills max
    EXPECT_EQ(GM_GetError(session.handle, text, 10), 19);
    EXPECT_STREQ(text, "ABCDEF");
    EXPECT_EQ(GM_GetError(session.handle, text, 10), -19);
    EXPECT_STREQ(text, "");
    std::memset(text, '#', sizeof text);
    std::memcpy(text, "xy", 2);
    EXPECT_EQ(GM_InternalF(session.handle, 9, text, 2, 4), 7);
    EXPECT_EQ(std::string(text, 5), "ABCD#");
    EXPECT_EQ(GM_InternalF(session.handle, 9, text, 0, 4), 1);
    EXPECT_EQ(std::string(text, 5), "ABCD#");  // an empty answer copies nothing
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(GM_GetDBSID(session.handle, text, 3), 7);
    EXPECT_EQ(std::string(text, 4), "ABC#");
}

TEST(ClientTables, PackReturnsItsFailureAndRereadsTheRecord) {
    const std::string abc = Record("ABC", 0, 0, 0);
    tTableSession session({
        Reply(OpenReply()),
        Reply(MoveReply(2, abc)),  // ChainR 2
        Reply(StatusOnly(-19)),
        Reply(MoveReply(2, abc)),  // Pack fails
        Reply(StatusOnly(0)),
        Reply(PutStatus(tWire().Short(-25), 0, 1, 1).Payload()),
    });
    ASSERT_EQ(GM_Open(session.handle, "T", 0, 0), kWa);
    ASSERT_EQ(GM_ChainR(session.handle, kWa, 0, 2, 0), 0);
    EXPECT_EQ(GM_Pack(session.handle, kWa), -19);
    EXPECT_EQ(GM_Pack(session.handle, kWa), 0);  // the record is gone: still 0
    EXPECT_EQ(GM_Eof(session.handle, kWa), 1);
    const auto requests = session.Requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[3], tWire().Short(29).Short(kWa).Long(2).Frame());
    EXPECT_EQ(requests[5], tWire().Short(29).Short(kWa).Long(2).Frame());
}

TEST(ClientTables, DescriptorIsFreedOnceAnsweredAndKeptAfterAFailure) {
    tTableSession session({Reply(StatusOnly(-19)), gmtest::Hangup()});
    const GM_HANDLE answered = GM_GetCreateStruct(1, 0, 0);
    const GM_HANDLE lost = GM_GetCreateStruct(1, 0, 0);
    EXPECT_EQ(GM_CreateFile(session.handle, "T", 0), RC_NOT_CONNECTED);
    EXPECT_EQ(GM_CreateFile(session.handle, "T", answered), -19);
    EXPECT_EQ(GM_SetCreateField(answered, 0, "A", 'C', 1, 0, 0), nullptr);
    EXPECT_EQ(GM_CreateFile(session.handle, "T", lost), RC_COMM_FAILURE);
    EXPECT_NE(GM_SetCreateField(lost, 0, "A", 'C', 1, 0, 0), nullptr);
}

TEST(ClientTables, CloseDropsTheWorkAreaEvenWhenTheReplyIsLost) {
    tTableSession session({Reply(OpenReply()), gmtest::Hangup()});
    ASSERT_EQ(GM_Open(session.handle, "T", 0, 0), kWa);
    EXPECT_EQ(GM_Close(session.handle, kWa), RC_COMM_FAILURE);
    EXPECT_EQ(gmtest::TableOf(session.handle).FindWorkArea(kWa), nullptr);
}

TEST(ClientTables, UnknownWorkAreaSendsNothing) {
    tTableSession session({});
    EXPECT_EQ(GM_First(session.handle, 5, 0, 0), RC_NOT_OPEN);
    EXPECT_EQ(GM_Close(session.handle, 5), RC_NOT_OPEN);
    EXPECT_EQ(GM_SetKeyC(session.handle, 5, "X"), RC_NOT_OPEN);
    EXPECT_EQ(GM_Write(session.handle, 5, 0), RC_NOT_OPEN);
    EXPECT_TRUE(session.Requests().empty());
}

// A query, and an open answered as a query file (the table list): no index texts follow.
TEST(ClientQueries, QueryShapedRepliesMakeAWorkAreaWithoutIndexLists) {
    const struct {
        const char* name;
        std::function<int32_t(GM_HANDLE)> call;
    } cases[] = {
        {"query", [](GM_HANDLE h) { return GM_Query(h, "SELECT * FROM T"); }},
        {"open of the table list", [](GM_HANDLE h) { return GM_Open(h, "GML_FILES", 0, 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tWire reply;
        reply.Short(0).Short(3);
        PutStructure(reply);
        PutStatus(reply, 1, 0, 0);
        tTableSession session({Reply(reply.Payload()), Reply(StatusOnly(0))});
        EXPECT_EQ(c.call(session.handle), 3);
        EXPECT_EQ(GM_GetColCount(session.handle, 3), 4);
        char names[32] = "x";
        EXPECT_EQ(GM_GetKeyNames(session.handle, 3, names), 0);
        EXPECT_STREQ(names, "");
        EXPECT_EQ(GM_GetKeys(session.handle, 3, names, 2), RC_BAD_INDEX);
        EXPECT_EQ(GM_StrCmtCtl(session.handle), 0);  // the connection stays
    }
}

// ---- m4GL connections ---------------------------------------------------------------------------

TEST(ClientM4gl, RecordRepliesCarryChangedStructureAndNullFlags) {
    // First: nothing changed; Next: field 0 grows from 6 to 10, so every later field moves by 4.
    std::string record(kRecordSize, 'r');
    std::string bigger(20, 's');
    tWire first;
    first.Short(0).Short(0).Double(1).Raw(record).Raw(std::string("\x01\x00\x01\x00\x00", 5));
    PutStatus(first, 0, 0, 2);
    tWire next;
    next.Short(0).Short(1).Long(20).Short(1).Short(0).Long(10).Double(2).Raw(bigger).Zeros(5);
    PutStatus(next, 0, 0, 2);
    tTableSession session({Reply(OpenReply()), Reply(first.Payload()), Reply(next.Payload())},
                          true);
    ASSERT_EQ(session.connectStatus, 0);
    ASSERT_EQ(GM_Open(session.handle, "T", 0, 0), kWa);
    EXPECT_EQ(GM_First(session.handle, kWa, 0, 0), 0);
    EXPECT_EQ(Current(session.handle), record);
    EXPECT_EQ(*GM_GetIsNull(session.handle, kWa, 1), 1);
    EXPECT_EQ(*GM_GetIsNull(session.handle, kWa, 2), 0);
    EXPECT_EQ(*GM_GetIsNull(session.handle, kWa, 3), 1);
    EXPECT_EQ(GM_Skip(session.handle, kWa, 0, 1, 0), 0);
    char* start = GM_GetInternalRec(session.handle, kWa);
    EXPECT_EQ(std::string(start, 20), bigger);
    EXPECT_EQ(GM_GetInternalFldN(session.handle, kWa, 2) - start, 10);
    EXPECT_EQ(GM_GetInternalFldN(session.handle, kWa, 3) - start, 18);
    EXPECT_EQ(GM_GetInternalFldN(session.handle, kWa, 4) - start, 19);
    EXPECT_EQ(GM_SetInternalFldN(session.handle, kWa, 1, "0123456789AB"), 10);
}

TEST(ClientM4gl, StatementWordsReachTheCallersBlock) {
    const struct {
        bool m4gl;
        std::string reply;
        i32 words[3];
    } cases[] = {
        {true, tWire().Long(11).Long(22).Long(33).Short(0).Payload(), {11, 22, 33}},
        {false, tWire().Short(0).Payload(), {0, 0, 0}},  // the stored words: none yet
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m4gl);
        tTableSession session({Reply(c.reply)}, c.m4gl);
        std::vector<u8> block(96, 0xEE);
        EXPECT_EQ(GM_ExecuteEx(session.handle, "COMMIT", 0, block.data()), 0);
        i32 words[3];
        std::memcpy(&words[0], &block[0], 4);
        std::memcpy(&words[1], &block[88], 4);
        std::memcpy(&words[2], &block[92], 4);
        EXPECT_EQ(words[0], c.words[0]);
        EXPECT_EQ(words[1], c.words[1]);
        EXPECT_EQ(words[2], c.words[2]);
        EXPECT_EQ(block[4], 0xEE);  // nothing else is written
    }
}

// ---- bad replies --------------------------------------------------------------------------------

namespace {

struct tBadReplyCase {
    const char* name;
    std::function<int32_t(GM_HANDLE)> call;
    tFakeAnswer answer;
};

tWire OpenHead(i32 recordSize, i16 fields) {
    return tWire().Short(0).Short(2).Long(recordSize).Short(fields);
}

std::vector<tBadReplyCase> BadReplyCases() {
    auto open = [](GM_HANDLE h) { return GM_Open(h, "T", 0, 0); };
    auto query = [](GM_HANDLE h) { return GM_Query(h, "SELECT A FROM T"); };
    auto first = [](GM_HANDLE h) { return GM_First(h, kWa, 0, 0); };
    auto raw = [](const std::string& bytes) { return gmtest::RawThenClose(bytes); };
    const std::string field = tWire().Text("F").Byte('C').Short(10).Short(0).Payload();
    const std::string status = tWire().Byte(0).Byte(0).Byte(0).Long(0).Payload();
    return {
        {"open echoed", open, gmtest::Echo()},
        {"query echoed", query, gmtest::Echo()},
        {"queryex echoed", [](GM_HANDLE h) { return GM_QueryEx(h, "SELECT A", "", 0, 0, nullptr); },
         gmtest::Echo()},
        {"first echoed", first, gmtest::Echo()},
        {"seek echoed", [](GM_HANDLE h) { return GM_Seek(h, kWa, 0, 1, 0, 0, 6, 0); },
         gmtest::Echo()},
        {"write echoed", [](GM_HANDLE h) { return GM_Write(h, kWa, 0); }, gmtest::Echo()},
        {"clear echoed", [](GM_HANDLE h) { return GM_Clear(h, kWa); }, gmtest::Echo()},
        {"create index echoed", [](GM_HANDLE h) { return GM_CreateIndex(h, kWa, "I", "K"); },
         gmtest::Echo()},
        {"sid echoed", GM_GetSID, gmtest::Echo()},
        {"status echoed", GM_StrCmtCtl, gmtest::Echo()},
        {"status cut to one byte", GM_StrCmtCtl, Reply(tWire().Byte(0).Payload())},
        {"library's own code", GM_StrCmtCtl, Reply(StatusOnly(-88))},
        {"frame cut short", GM_StrCmtCtl, raw(tWire().Long(50).Short(0).Payload())},
        {"header of 2", GM_StrCmtCtl, raw(tWire().Long(2).Short(0).Payload())},
        {"header of 4 GiB", GM_StrCmtCtl, raw(tWire().Long(-1).Short(0).Payload())},
        {"nothing at all", GM_StrCmtCtl, gmtest::Hangup()},
        {"fields past the record size", open,
         Reply(OpenHead(9, 1).Raw(field).Raw(status).Text("").Text("").Payload())},
        {"negative record size", open,
         Reply(OpenHead(-1, 1).Raw(field).Raw(status).Text("").Text("").Payload())},
        {"record size beyond any frame", open,
         Reply(OpenHead(0x7FFFFFFF, 1).Raw(field).Raw(status).Text("").Text("").Payload())},
        {"negative field count", open, Reply(OpenHead(10, -1).Raw(status).Payload())},
        {"more fields than bytes", open,
         Reply(OpenHead(10, 30000).Raw(field).Raw(status).Payload())},
        {"field name without its end", open, Reply(OpenHead(10, 1).Raw("F").Payload())},
        {"status block cut", open, Reply(OpenHead(10, 1).Raw(field).Byte(0).Payload())},
        {"index keys missing", open,
         Reply(OpenHead(10, 1).Raw(field).Raw(status).Text("I1").Payload())},
        {"record cut", first, Reply(tWire().Short(0).Double(1).Raw("abc").Payload())},
        {"status after record missing", first,
         Reply(tWire().Short(0).Double(1).Zeros(kRecordSize).Payload())},
        {"status after -25 cut", first, Reply(tWire().Short(-25).Byte(1).Payload())},
    };
}

}  // namespace

TEST(ClientBadReplies, EndInAFailureCodeAndNeverInAWorkArea) {
    for (const auto& c : BadReplyCases()) {
        SCOPED_TRACE(c.name);
        tTableSession session({Reply(OpenReply()), c.answer});
        ASSERT_EQ(GM_Open(session.handle, "T", 0, 0), kWa);
        const int32_t result = c.call(session.handle);
        EXPECT_NE(result, 0);
        tGMLClient& client = gmtest::TableOf(session.handle);
        // Only the table opened first is there, whatever handle the garbage named.
        for (u32 wa = 0; wa <= 0xFFFF; ++wa) {
            if (wa != kWa && client.FindWorkArea(static_cast<u16>(wa))) {
                ADD_FAILURE() << "work area " << wa;
                break;
            }
        }
        if (result == RC_COMM_FAILURE) {
            EXPECT_EQ(GM_IsConnected(session.handle), 0);
            EXPECT_EQ(GM_StrCmtCtl(session.handle), RC_NOT_CONNECTED);
        }
        // The open table keeps its layout.
        const tClientWorkArea* area = client.FindWorkArea(kWa);
        ASSERT_NE(area, nullptr);
        EXPECT_EQ(area->GetRecordSize(), kRecordSize);
        EXPECT_EQ(area->GetFieldCount(), 4);
    }
}

namespace {

TEST(ClientFilters, RepliesMapToTheCallersCodes) {
    const std::string abc = Record("ABC", 2.5, 'T', ' ');
    const std::string zero(kRecordSize, '\0');
    tTableSession session({
        Reply(OpenReply()),
        Reply(PutStatus(tWire().Short(0).Double(2).Raw(abc), 0, 0, 9).Byte(1).Payload()),
        Reply(PutStatus(tWire().Short(-25), 0, 1, 9).Byte(0).Payload()),  // partial, no record
        Reply(StatusOnly(-10)),                                           // no such file
        Reply(PutStatus(tWire().Short(-14), 0, 0, 9).Byte(1).Payload()),
        Reply(PutStatus(tWire().Short(-19), 0, 0, 9).Byte(1).Payload()),
        Reply(StatusOnly(-19)),  // GM_FilterEx refused
    });
    ASSERT_EQ(GM_Open(session.handle, "T", 0, 0), kWa);
    uint16_t partial = 99;
    EXPECT_EQ(GM_ChgQueryEx(session.handle, kWa, "'CODE *EQ \"ABC\"'", &partial), 0);
    EXPECT_EQ(partial, 0);
    EXPECT_EQ(Current(session.handle), abc);
    EXPECT_EQ(GM_RecNo(session.handle, kWa), 2);
    EXPECT_EQ(GM_ChgQueryEx(session.handle, kWa, "'X'", &partial), 0);
    EXPECT_EQ(partial, 1);
    EXPECT_EQ(Current(session.handle), zero);
    EXPECT_EQ(GM_Eof(session.handle, kWa), 1);
    EXPECT_EQ(GM_ChgQueryEx(session.handle, kWa, "'X'", &partial), 0);
    EXPECT_EQ(partial, 2);
    EXPECT_EQ(GM_IsConnected(session.handle), 1);
    EXPECT_EQ(GM_ChgQuery(session.handle, kWa, "'X'"), 0);
    EXPECT_EQ(GM_ChgQuery(session.handle, kWa, "'X'"), -19);
    EXPECT_EQ(GM_FilterEx(session.handle, kWa, 3, "'A *EQ 1'"), -19);
    EXPECT_EQ(GM_IsConnected(session.handle), 1);
    const auto requests = session.Requests();
    ASSERT_EQ(requests.size(), 7u);
    EXPECT_EQ(requests[1], tWire().Short(33).Short(kWa).Text("'CODE *EQ \"ABC\"'").Frame());
    EXPECT_EQ(requests[6], tWire().Short(89).Short(kWa).Short(3).Text("'A *EQ 1'").Frame());
}

}  // namespace
