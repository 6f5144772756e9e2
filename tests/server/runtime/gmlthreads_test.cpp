#include "server/runtime/gmlthreads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "lib_common/commbuffer.h"
#include "tests/support/fixedclock.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::kFixedStamp;

std::string Text(const tString& s) { return std::string(s.GetText(), s.GetLength()); }

std::string UserInfo(tDBProperties& record) {
    tString out;
    record.GetUserInfo(out);
    return Text(out);
}

// Eleven fields, each closed by 0x02, the record by 0x01; field 5 is the status and comment,
// field 6 the procedure or a blank.
TEST(DBProperties, UserListRecordBytes) {
    gmtest::FixedClock clock;
    tDBCallInfo global;
    const std::string stamp = kFixedStamp;
    const struct {
        const char* status;
        const char* comment;
        const char* procedure;
        const char* user;
        std::string field5;
        std::string field6;
        std::string field2;
    } cases[] = {
        {nullptr, "posting", nullptr, "FINA040", "posting", " ", "FINA040"},
        {"IDLE", "posting", "SP_CALC", "FINA040", stamp + " IDLE - posting", "SP_CALC", "FINA040"},
        {"ROP_OPEN", "", "", "", stamp + " ROP_OPEN - ", " ", ""},
        // The framing bytes cannot come through a field from the client's texts.
        {nullptr,
         "a\x02"
         "b",
         nullptr, "x\x01y", "a b", " ", "x y"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field5);
        tDBProperties record(nullptr, &global);
        record.SetSID(4711);
        record.SetUser(c.user);
        record.AddIO();
        record.AddIO();
        record.AddTable();
        record.SetStatus(c.status);
        record.SetObs(c.comment);
        record.SetSP(c.procedure);
        record.SetDBEnv("MSSQL/DADOS");
        record.SetDBSID("53");
        record.SetStarted();
        record.SetIP("127.0.0.1");
        EXPECT_EQ(UserInfo(record), "4711\x02" + c.field2 +
                                        "\x02"
                                        "2\x02"
                                        "1\x02" +
                                        c.field5 + "\x02" + c.field6 +
                                        "\x02"
                                        "MSSQL/DADOS\x02"
                                        "53\x02" +
                                        stamp +
                                        "\x02"
                                        "127.0.0.1\x02"
                                        "\x02"
                                        "\x01");
    }
    tDBProperties fresh(nullptr, &global);
    EXPECT_EQ(UserInfo(fresh), std::string("0\x02\x02"
                                           "0\x02"
                                           "0\x02\x02 \x02\x02\x02\x02\x02\x02\x01"));
}

// Every field in order with its label; the statement only when asked; byte totals from the
// frame buffer.
TEST(DBProperties, DescribeThreadLabelsEveryField) {
    gmtest::FixedClock clock;
    tDBCallInfo global;
    tCommBuffer frame;
    frame.PutLong(7);
    frame.PutShort(1);
    i32 value = 0;
    frame.GetLong(value);  // 6 bytes written, 4 of them read
    tDBProperties record(&frame, &global);
    record.SetSID(12);
    record.SetUser("MATA010");
    record.AddIO();
    record.AddTable();
    record.AddTable();
    record.RemoveTable();
    record.SetObs("batch");
    record.SetStatus("IDLE");
    record.SetInTransaction(1);
    record.SetDBEnv("POSTGRES/ERP");
    record.SetDBSID("9041");
    record.SetStarted();
    record.SetIP("10.0.0.5");
    record.SetLastStatement("SELECT 1", "tDBServer::Query");
    const std::string stamp = kFixedStamp;
    const std::string fields =
        "Thread ID [12]\tUser [MATA010]\tIO [1]\tTables [1]\tMaxTables [2]\tComment [batch]\t"
        "Status [" +
        stamp +
        " IDLE]\tSP [ ]\tTraced [No]\tInTran [Yes]\tDBEnv [POSTGRES/ERP]\t"
        "DBThread [9041]\tStarted [" +
        stamp +
        "]\tLastIO []\tIP [10.0.0.5]\t"
        "RCV [4]\tSND [6]\t";
    tString out("> ");
    record.DescribeThread(out, false);
    EXPECT_EQ(Text(out), "> " + fields);
    out.Clear();
    record.DescribeThread(out, true);
    EXPECT_EQ(Text(out), fields + "Last/Run Stmt [tDBServer::Query - SELECT 1]\t");
    record.ClearLastStatement();
    record.SetSP("SP_X");
    out.Clear();
    record.DescribeThread(out, true);
    EXPECT_NE(Text(out).find("\tSP [SP_X]\t"), std::string::npos);
    EXPECT_NE(Text(out).find("\tRCV [4]\tSND [6]\tLast/Run Stmt []\t"), std::string::npos);
}

// Names padded with dots to 30, counts with blanks to 50, the total line; nothing when nothing
// was called; a reset dump leaves nothing behind; opcodes outside 0..255 are not counted.
TEST(DBCallInfo, DumpPadsLinesTotalsAndResets) {
    tDBCallInfo calls;
    tString out;
    calls.DumpCalls(out, false);
    EXPECT_EQ(Text(out), "");

    calls.AddCall(8, 0.25);
    calls.AddCall(255, 1.0);
    calls.AddCall(8, 0.25);
    for (int i = 0; i < 3; ++i) calls.AddCall(1, 0.0005);
    calls.AddCall(-1, 9.0);
    calls.AddCall(256, 9.0);
    const std::string dump =
        "OP_STRCMTCTL..................: 3                 ( 0.002 s.)\n"
        "OP_OPEN.......................: 2                 ( 0.500 s.)\n"
        "OP_NULL.......................: 1                 ( 1.000 s.)\n"
        "TOTAL I/O COUNT...............: 6\n";
    calls.DumpCalls(out, false);
    EXPECT_EQ(Text(out), dump);
    out.Clear();
    calls.DumpCalls(out, true);
    EXPECT_EQ(Text(out), dump);  // unchanged by the first dump
    out.Clear();
    calls.DumpCalls(out, true);
    EXPECT_EQ(Text(out), "");
}

// A record's calls count in its own statistics and the registry's; the record's dump resets
// only its own.
TEST(GmlThreads, CallsCountInTheRecordAndTheRegistry) {
    tGmlThreads registry;
    tDBProperties* a = registry.AddThread(nullptr);
    tDBProperties* b = registry.AddThread(nullptr);
    a->AddCall(8, 1.0);
    b->AddCall(8, 2.0);
    tString out;
    a->DumpOpCalls(out);
    EXPECT_EQ(Text(out),
              "[INFO] Operation Calls :\n"
              "OP_OPEN.......................: 1                 ( 1.000 s.)\n"
              "TOTAL I/O COUNT...............: 1\n");
    out.Clear();
    a->DumpOpCalls(out);
    EXPECT_EQ(Text(out), "[INFO] Operation Calls :\n");
    out.Clear();
    registry.GetCallInfo()->DumpCalls(out, false);
    EXPECT_EQ(Text(out),
              "OP_OPEN.......................: 2                 ( 3.000 s.)\n"
              "TOTAL I/O COUNT...............: 2\n");
}

// Lists follow the order of addition; an empty registry lists nothing; the added count never
// goes down; removing a record twice is an assertion.
TEST(GmlThreads, ListsFollowTheRegistryAndRemovalIsChecked) {
    tGmlThreads registry;
    tString out("x");
    EXPECT_EQ(registry.GetThreadList(out), 0);
    EXPECT_EQ(registry.GetThreadObs(out), 0);
    registry.GetUserInfo(out);
    EXPECT_EQ(Text(out), "x");

    tDBProperties* a = registry.AddThread(nullptr);
    tDBProperties* b = registry.AddThread(nullptr);
    tDBProperties* c = registry.AddThread(nullptr);
    a->SetSID(30);
    b->SetSID(10);
    c->SetSID(20);
    b->SetObs("night run");
    registry.RemoveThread(a);
    out.Clear();
    EXPECT_EQ(registry.GetThreadList(out), 2);
    EXPECT_EQ(Text(out), "10,20,");
    out.Clear();
    EXPECT_EQ(registry.GetThreadObs(out), 2);
    EXPECT_EQ(Text(out), "10|night run\n20|\n");
    out.Clear();
    registry.GetUserInfo(out);
    const std::string records = Text(out);
    EXPECT_EQ(records.substr(0, 3), "10\x02");
    EXPECT_EQ(std::count(records.begin(), records.end(), '\x01'), 2);
    EXPECT_EQ(registry.GetTotalAdded(), 3u);

    tDBProperties stranger(nullptr, registry.GetCallInfo());
    gmtest::ConsoleCapture console;
    EXPECT_EQ(gmtest::AssertText([&] { registry.RemoveThread(&stranger); }), "pos >= 0");
}

std::string TakeAll(tTraceServer& traces) {
    std::string all;
    f64 elapsed = 0;
    tString line;
    while (traces.Take(elapsed, line)) {
        all += Text(line) + "\n";
        line.Clear();
    }
    return all;
}

// Only the monitor that started a trace stops it; a second start is refused and keeps the lines;
// the stop text holds the reset statistics and the trace's seconds.
TEST(GmlThreads, TraceSwitchBelongsToTheMonitorThatStartedIt) {
    gmtest::FixedClock clock;
    tGmlThreads registry;
    tDBProperties* record = registry.AddThread(nullptr);
    record->SetSID(500);
    record->SetUser("FINA050");
    record->SetLastStatement("SELECT 2", "tDBServer::Query");
    tString out;
    EXPECT_FALSE(registry.SetThreadTrace(501, 1, true, out));  // no such thread
    ASSERT_TRUE(registry.SetThreadTrace(500, 1, true, out));
    EXPECT_TRUE(record->IsTraceOn());
    EXPECT_EQ(record->GetTraceFlag(), 1);
    EXPECT_EQ(record->GetTraceOwner(), 1u);
    record->GetTrace()->Add("tDBServer::Skip", 0.5, "-- Skip 1");

    EXPECT_FALSE(registry.SetThreadTrace(500, 2, true, out));   // already traced
    EXPECT_FALSE(registry.SetThreadTrace(500, 2, false, out));  // not its owner
    EXPECT_TRUE(record->IsTraceOn());
    EXPECT_FALSE(registry.WithTraceServer(500, 2, [](tTraceServer&) {}));
    std::string lines;
    EXPECT_TRUE(registry.WithTraceServer(500, 1, [&](tTraceServer& t) { lines = TakeAll(t); }));
    EXPECT_EQ(lines,
              "(SetThreadTrace) -- Running at Thread ID [500]\n(...) User [FINA050]\n"
              "(...) IO [0]\n(...) Tables [0]\n(...) MaxTables [0]\n(...) Comment []\n"
              "(...) Status []\n(...) SP [ ]\n(...) Traced [Yes]\n(...) InTran [No]\n"
              "(...) DBEnv []\n(...) DBThread []\n(...) Started []\n(...) LastIO []\n"
              "(...) IP []\n(...) RCV [0]\n(...) SND [0]\n"
              "(...) Last/Run Stmt [tDBServer::Query - SELECT 2]\n"
              "(tDBServer::Skip) -- Skip 1\n");
    EXPECT_EQ(Text(out), "");

    record->AddCall(22, 0.125);
    record->GetTrace()->Add("R", 0, "left over");
    ASSERT_TRUE(registry.SetThreadTrace(500, 1, false, out));
    // The seconds are whole: digits alone between the parentheses.
    const std::string head =
        "[INFO] Operation Calls :\n"
        "OP_UPDATE.....................: 1                 ( 0.125 s.)\n"
        "TOTAL I/O COUNT...............: 1\n"
        "[INFO] Trace Total Timer ( ";
    const std::string stop = Text(out);
    ASSERT_EQ(stop.substr(0, head.size()), head);
    const size_t digits = stop.find_first_not_of("0123456789", head.size());
    EXPECT_GT(digits, head.size());
    EXPECT_EQ(stop.substr(digits), ") s.\n");
    EXPECT_FALSE(record->IsTraceOn());
    EXPECT_EQ(record->GetTraceFlag(), 0);
    EXPECT_EQ(record->GetTrace()->Count(), 0);
    EXPECT_FALSE(registry.SetThreadTrace(500, 1, false, out));  // stopped already
    // The next start by another monitor is its own.
    EXPECT_TRUE(registry.SetThreadTrace(500, 2, true, out));
    EXPECT_TRUE(registry.WithTraceServer(500, 2, [](tTraceServer& t) { EXPECT_GT(t.Count(), 0); }));
}

}  // namespace
