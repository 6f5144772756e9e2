// The monitor connection's exports against the scripted fake server: the bytes each one sends and
// what it makes of its reply, password values enciphered and deciphered within the caller's
// buffer, the user list's cap, and short or garbage replies that drop the connection.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/gatemillapi.h"
#include "lib_common/cipher.h"
#include "tests/client/support/clienttest.h"

using gmtest::Reply;
using gmtest::Status;
using gmtest::tKind;
using gmtest::tKindSession;
using gmtest::tWire;

namespace {

// A call, with what it wrote into its out values as text.
struct tOutcome {
    int32_t result;
    std::string outs;
};

struct tManagerCase {
    const char* name;
    std::function<tOutcome(GM_HANDLE)> call;
    std::string reply;
    std::string request;  // the payload the server must receive
    tOutcome expected;
};

std::vector<tManagerCase> ManagerCases() {
    return {
        {"GM_InfoManager",
         [](GM_HANDLE h) {
             char text[64] = "untouched";
             int32_t count = -1;
             const int16_t r = GM_InfoManager(h, text, &count);
             return tOutcome{r, std::to_string(count) + "|" + text};
         },
         tWire().Long(3).Text("u1\tu2").Payload(),
         tWire().Short(64).Payload(),
         {0, "3|u1\tu2"}},
        {"GM_StartTraceManager",
         [](GM_HANDLE h) {
             return tOutcome{GM_StartTraceManager(h, "123"), ""};
         },
         tWire().Long(-19).Payload(),
         tWire().Short(66).Text("123").Payload(),
         {-19, ""}},
        {"GM_StopTraceManager with summary",
         [](GM_HANDLE h) {
             char text[64] = "untouched";
             return tOutcome{GM_StopTraceManager(h, "123", text), text};
         },
         tWire().Short(0).Text("summary").Payload(),
         tWire().Short(67).Text("123").Payload(),
         {0, "summary"}},
        {"GM_StopTraceManager without",
         [](GM_HANDLE h) {
             char text[64] = "untouched";
             return tOutcome{GM_StopTraceManager(h, "9", text), text};
         },
         Status(0),
         tWire().Short(67).Text("9").Payload(),
         {0, "untouched"}},
        {"GM_GetTraceCount",
         [](GM_HANDLE h) {
             return tOutcome{GM_GetTraceCount(h, "123"), ""};
         },
         Status(5),
         tWire().Short(68).Text("123").Payload(),
         {5, ""}},
        {"GM_GetTrace cut to number",
         [](GM_HANDLE h) {
             char text[8] = "xxxxxxx";
             double elapsed = 0;
             const int16_t r = GM_GetTrace(h, "123", text, 4, &elapsed);
             return tOutcome{r, std::string(text) + "|" + std::to_string(elapsed)};
         },
         tWire().Short(0).Double(1.5).Text("SELECT").Payload(),
         tWire().Short(69).Text("123").Long(4).Payload(),
         {0, "SELE|1.500000"}},
        {"GM_GetTrace refused",
         [](GM_HANDLE h) {
             char text[8] = "xxxxxxx";
             double elapsed = 7;
             const int16_t r = GM_GetTrace(h, "123", text, 4, &elapsed);
             return tOutcome{r, std::string(text) + "|" + std::to_string(elapsed)};
         },
         Status(-19),
         tWire().Short(69).Text("123").Long(4).Payload(),
         {-19, "xxxxxxx|7.000000"}},
        {"GM_KillUser",
         [](GM_HANDLE h) {
             return tOutcome{GM_KillUser(h, "77"), ""};
         },
         tWire().Long(0).Payload(),
         tWire().Short(70).Text("77").Payload(),
         {0, ""}},
        {"GM_ErrorLog",
         [](GM_HANDLE h) {
             auto text = std::make_unique<char[]>(GM_LOG_TEXT_SIZE);
             return tOutcome{GM_ErrorLog(h, text.get()), text.get()};
         },
         tWire().Short(0).Text("line 1\nline 2\n").Payload(),
         tWire().Short(71).Payload(),
         {0, "line 1\nline 2\n"}},
        {"GM_ClearLog",
         [](GM_HANDLE h) {
             return tOutcome{GM_ClearLog(h), ""};
         },
         Status(0),
         tWire().Short(72).Payload(),
         {0, ""}},
        {"GM_WriteIniString",
         [](GM_HANDLE h) {
             return tOutcome{GM_WriteIniString(h, "S", "password2", "pw"), ""};
         },
         Status(0),
         tWire().Short(74).Text("S").Text("password2").Text("pw").Payload(),
         {0, ""}},
        {"GM_DelSection",
         [](GM_HANDLE h) {
             return tOutcome{GM_DelSection(h, "S", ""), ""};
         },
         Status(-19),
         tWire().Short(77).Text("S").Text("").Payload(),
         {-19, ""}},
        {"GM_ReadIniInteger 0 gives the default",
         [](GM_HANDLE h) {
             uint32_t value = 1;
             const int16_t r = GM_ReadIniInteger(h, "S", "K", 9, &value);
             return tOutcome{r, std::to_string(value)};
         },
         tWire().Short(0).Long(0).Payload(),
         tWire().Short(78).Text("S").Text("K").Payload(),
         {0, "9"}},
        {"GM_ReadIniInteger",
         [](GM_HANDLE h) {
             uint32_t value = 1;
             const int16_t r = GM_ReadIniInteger(h, "S", "K", 9, &value);
             return tOutcome{r, std::to_string(value)};
         },
         tWire().Short(0).Long(42).Payload(),
         tWire().Short(78).Text("S").Text("K").Payload(),
         {0, "42"}},
        {"GM_WriteIniInteger",
         [](GM_HANDLE h) {
             return tOutcome{GM_WriteIniInteger(h, "S", "K", 5), ""};
         },
         Status(0),
         tWire().Short(79).Text("S").Text("K").Long(5).Payload(),
         {0, ""}},
        {"GM_GetLockInfo cut to max",
         [](GM_HANDLE h) {
             char text[8] = "xxxxxxx";
             const int16_t r = GM_GetLockInfo(h, text, 4);
             return tOutcome{r, std::string(text, 8)};
         },
         tWire().Short(0).Text("locks").Payload(),
         tWire().Short(81).Payload(),
         {0, std::string("lockxxx\0", 8)}},
        {"GM_SetConnectionEnable",
         [](GM_HANDLE h) {
             return tOutcome{GM_SetConnectionEnable(h, 1), ""};
         },
         Status(0),
         tWire().Short(82).Short(1).Payload(),
         {0, ""}},
        {"GM_IsConnectionEnabled",
         [](GM_HANDLE h) {
             uint8_t on = 9;
             const int16_t r = GM_IsConnectionEnabled(h, &on);
             return tOutcome{r, std::to_string(on)};
         },
         tWire().Short(0).Byte(0).Payload(),
         tWire().Short(83).Payload(),
         {0, "0"}},
        {"GM_DiagLog",
         [](GM_HANDLE h) {
             auto text = std::make_unique<char[]>(GM_INFO_TEXT_SIZE);
             return tOutcome{GM_DiagLog(h, text.get()), text.get()};
         },
         tWire().Short(0).Text("report").Payload(),
         tWire().Short(128).Payload(),
         {0, "report"}},
        {"GM_DiagFile after the last piece",
         [](GM_HANDLE h) {
             char text[8] = "xxxxxxx";
             return tOutcome{GM_DiagFile(h, "gatemill.log", text), text};
         },
         tWire().Short(-24).Text("").Payload(),
         tWire().Short(129).Text("gatemill.log").Payload(),
         {-24, "xxxxxxx"}},
        {"GM_DiagMiscInfo without the third value",
         [](GM_HANDLE h) {
             double memory = 0, processor = 0;
             int32_t third = 0;
             const int16_t r = GM_DiagMiscInfo(h, &memory, &processor, &third);
             return tOutcome{r, std::to_string(memory) + "|" + std::to_string(processor) + "|" +
                                    std::to_string(third)};
         },
         tWire().Short(0).Double(1024).Double(12.5).Payload(),
         tWire().Short(130).Payload(),
         {0, "1024.000000|12.500000|1"}},
        {"GM_DiagMiscInfo with it",
         [](GM_HANDLE h) {
             double memory = 0, processor = 0;
             int32_t third = 5;
             const int16_t r = GM_DiagMiscInfo(h, &memory, &processor, &third);
             return tOutcome{r, std::to_string(third)};
         },
         tWire().Short(0).Double(1).Double(2).Long(0).Payload(),
         tWire().Short(130).Payload(),
         {0, "0"}},
    };
}

TEST(ManagerExports, EachSendsItsRequestAndReadsItsReply) {
    for (const tManagerCase& c : ManagerCases()) {
        SCOPED_TRACE(c.name);
        tKindSession session(tKind::Manager, {Reply(c.reply)});
        ASSERT_EQ(session.connectStatus, 0);
        const tOutcome outcome = c.call(session.handle);
        EXPECT_EQ(outcome.result, c.expected.result);
        EXPECT_EQ(outcome.outs, c.expected.outs);
        EXPECT_EQ(GM_ManagerIsConnected(session.handle), 1);
        EXPECT_EQ(session.Requests(), std::vector<std::string>{c.request});
    }
}

// Replies that end early, or hold what no server sends, are communication failures: -88, the
// connection dropped, and the next call sends nothing.
TEST(ManagerExports, ShortOrGarbageRepliesDropTheConnection) {
    const struct {
        const char* name;
        std::function<int16_t(GM_HANDLE)> call;
        std::string reply;
    } cases[] = {
        {"info without its text",
         [](GM_HANDLE h) {
             char text[8];
             int32_t count = 0;
             return GM_InfoManager(h, text, &count);
         },
         tWire().Long(3).Payload()},
        {"misc info cut",
         [](GM_HANDLE h) {
             double a = 0, b = 0;
             int32_t c = 0;
             return GM_DiagMiscInfo(h, &a, &b, &c);
         },
         tWire().Short(0).Double(1).Payload()},
        {"integer missing",
         [](GM_HANDLE h) {
             uint32_t v = 0;
             return GM_ReadIniInteger(h, "S", "K", 1, &v);
         },
         Status(0)},
        {"log without its NUL",
         [](GM_HANDLE h) {
             auto text = std::make_unique<char[]>(GM_LOG_TEXT_SIZE);
             return GM_ErrorLog(h, text.get());
         },
         tWire().Short(0).Raw("no end").Payload()},
        {"echoed request",
         [](GM_HANDLE h) {
             uint8_t on = 0;
             return GM_IsConnectionEnabled(h, &on);
         },
         tWire().Short(83).Payload()},
        {"status cut to one byte", [](GM_HANDLE h) { return GM_ClearLog(h); },
         tWire().Byte(0).Payload()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tKindSession session(tKind::Manager, {Reply(c.reply)});
        ASSERT_EQ(session.connectStatus, 0);
        EXPECT_EQ(c.call(session.handle), -88);
        EXPECT_EQ(GM_ManagerIsConnected(session.handle), 0);
        EXPECT_EQ(GM_ClearLog(session.handle), -2);
        EXPECT_EQ(session.Requests().size(), 1u);
    }
}

TEST(ManagerExports, UserListAboveItsCapIsRefusedWithNothingCopied) {
    for (const size_t length : {size_t{786432}, size_t{786433}}) {
        SCOPED_TRACE(length);
        const std::string list(length, 'u');
        tKindSession session(tKind::Manager, {Reply(tWire().Long(2).Text(list.c_str()).Payload())});
        ASSERT_EQ(session.connectStatus, 0);
        auto text = std::make_unique<char[]>(GM_INFO_TEXT_SIZE);
        std::strcpy(text.get(), "untouched");
        int32_t count = 0;
        const int16_t result = GM_InfoManager(session.handle, text.get(), &count);
        EXPECT_EQ(count, 2);
        if (length == 786432) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(std::string(text.get()), list);
        } else {
            EXPECT_EQ(result, -40);
            EXPECT_STREQ(text.get(), "untouched");
            EXPECT_EQ(GM_ManagerIsConnected(session.handle), 1);  // the reply was read whole
        }
    }
}

std::string Enciphered(const char* plain) {
    std::string bytes(plain);
    tCryptor(kIniPasswordKeyLength, kIniPasswordKey).Encrypt(bytes.data(), bytes.size());
    return bytes;
}

// Only "password" and "guestpassword", in any case, are enciphered on the wire.
TEST(ManagerExports, PasswordValuesAreEncipheredOnWriteAndDecipheredOnRead) {
    const struct {
        const char* key;
        bool ciphered;
    } cases[] = {
        {"PASSWORD", true}, {"GuestPassword", true}, {"password2", false}, {"user", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const std::string wire = c.ciphered ? Enciphered("s3cret") : "s3cret";
        tKindSession session(
            tKind::Manager,
            {Reply(Status(0)), Reply(tWire().Short(0).Text(wire.c_str()).Payload())});
        ASSERT_EQ(session.connectStatus, 0);
        EXPECT_EQ(GM_WriteIniString(session.handle, "ERP", c.key, "s3cret"), 0);
        char out[32];
        EXPECT_EQ(GM_ReadIniString(session.handle, "ERP", c.key, "def", out, sizeof out), 0);
        EXPECT_STREQ(out, "s3cret");
        EXPECT_EQ(session.Requests(),
                  (std::vector<std::string>{
                      tWire().Short(74).Text("ERP").Text(c.key).Text(wire.c_str()).Payload(),
                      tWire().Short(73).Text("ERP").Text(c.key).Payload()}));
    }
}

// The out buffer is exactly max bytes here, so ASan sees any byte written or read past it.
TEST(ManagerExports, ReadIniStringStaysInsideMaxBytes) {
    const struct {
        const char* name;
        const char* key;
        std::string value;  // on the wire
        const char* def;
        int32_t max;
        std::string out;  // the max bytes after the call
    } cases[] = {
        {"empty value gives the default", "K", "", "dflt", 8, std::string("dflt\0\0\0\0", 8)},
        {"default cut to max", "K", "", "longdefault", 4, "long"},
        {"value filling max", "K", "abcdefgh", "d", 8, "abcdefgh"},
        {"value longer than max", "K", "abcdefghij", "d", 4, "abcd"},
        {"password filling max", "password", Enciphered("topsecret"), "d", 6, "topsec"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tKindSession session(tKind::Manager,
                             {Reply(tWire().Short(0).Text(c.value.c_str()).Payload())});
        ASSERT_EQ(session.connectStatus, 0);
        auto out = std::make_unique<char[]>(static_cast<size_t>(c.max));
        std::memset(out.get(), 'x', static_cast<size_t>(c.max));
        EXPECT_EQ(GM_ReadIniString(session.handle, "S", c.key, c.def, out.get(), c.max), 0);
        EXPECT_EQ(std::string(out.get(), static_cast<size_t>(c.max)), c.out);
    }
}

}  // namespace
