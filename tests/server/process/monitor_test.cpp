// The monitor's operations, run on a monitor without a socket: the opcode table, the user list,
// connection switches, locks, traces, the log, diagnostic files in pieces, the ini file whole
// and value by value, and the diagnostic reports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>

#include "lib_common/configcache.h"
#include "lib_common/opcodes.h"
#include "platform/procinfo.h"
#include "server/locks/lockengine.h"
#include "server/runtime/gmlthreads.h"
#include "tests/lib_common/support/inipassword.h"
#include "tests/server/process/support/monitortest.h"
#include "tests/server/support/fixedmemory.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::ReadFileText;
using gmtest::TakeText;
using gmtest::WriteFileText;
using tResult = tMonitor::tRequestResult;

// A file of the program's directory (or below or above it), named for this process; removed at
// the end with the directory made for it.
class ProgramFile {
public:
    explicit ProgramFile(const std::string& stem, const std::string& where = "")
        : name(where + "monitor_" + stem + "_" + std::to_string(getpid()) + ".log"),
          path(plat::ProgramDirectory() + name),
          made(where.empty() || where == "../" ? "" : plat::ProgramDirectory() + where) {
        if (!made.empty()) std::filesystem::create_directory(made);
    }
    ~ProgramFile() {
        std::remove(path.c_str());
        if (!made.empty()) std::filesystem::remove(made);
    }
    const std::string name;  // relative to the program's directory
    const std::string path;

private:
    const std::string made;
};

class Monitor : public gmtest::MonitorOps {
protected:
    // A client connection's record in the registry, owned by it.
    tDBProperties* AddRecord(u32 threadId, const char* user) {
        tDBProperties* record = globals->GetThreads()->AddThread(nullptr);
        record->SetSID(threadId);
        record->SetUser(user);
        return record;
    }
    i16 Code() {
        i16 code = 1;
        reply.GetShort(code);
        return code;
    }
    // A request with one text argument, run; the reply.
    tCommBuffer& RunWithText(i16 opcode, const char* text) {
        Request(opcode).PutString(text);
        return Run();
    }
    i16 TraceCode(i16 opcode, const char* threadId) {
        RunWithText(opcode, threadId);
        if (opcode == OP_STARTTRACE) {
            i32 code = 1;
            reply.GetLong(code);
            return static_cast<i16>(code);
        }
        return Code();
    }
};

// ---- the opcode table -----------------------------------------------------------------------

TEST_F(Monitor, BuildIsTheOnlyThingInItsReply) {
    Request(OP_BUILD);
    Run();
    EXPECT_EQ(result, tResult::Reply);
    EXPECT_EQ(ReplyBytes(), std::string("\x0D\0\0\0"
                                        "20110117\0",
                                        13));
}

TEST_F(Monitor, OpcodesWithoutOperationAreWarnedAboutAndEchoed) {
    const struct {
        i16 opcode;
        const char* hex;
    } cases[] = {{OP_ERRORCNT, "41"}, {OP_OPEN, "8"}, {300, "12C"}, {-2, "FFFE"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.opcode);
        Request(c.opcode).PutString("payload");
        const std::string sent(reinterpret_cast<const char*>(request.GetFrame()),
                               request.GetFrameLength());
        gmtest::ConsoleCapture console;
        Run();
        EXPECT_EQ(result, tResult::Reply);
        EXPECT_EQ(ReplyBytes(), sent);
        EXPECT_EQ(console.Get(), "[WARNING] (tMonitor) Operation (" + std::string(c.hex) +
                                     ") IGNORED - Thread (9001)\n");
    }
}

TEST_F(Monitor, DisconnectEndsWithoutReply) {
    Request(OP_DISCONNECT);
    Run();
    EXPECT_EQ(result, tResult::Disconnect);
}

TEST_F(Monitor, RequestsCutShortEndTheConnectionBeforeAnyEffect) {
    AddRecord(777, "alice");
    const struct {
        const char* name;
        i16 opcode;
        std::string arguments;  // raw bytes after the opcode
    } cases[] = {
        {"thread id without its NUL", OP_STARTTRACE, "777"},
        {"maximum missing", OP_GETTRACE, std::string("777\0", 4)},
        {"flag cut short", OP_SET_CONNECTION_ENABLE, std::string("\0", 1)},
        {"value missing", OP_WRITEINISTR, std::string("General\0Key\0", 12)},
        {"integer cut short", OP_WRITEINIINT, std::string("General\0Key\0\1\0", 14)},
        {"file name without its NUL", OP_GETDIAGLOG, "x.log"},
        {"ini text without its NUL", OP_SETINIFILE, "[General]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Request(c.opcode).PutBytes(c.arguments.data(), c.arguments.size());
        Run();
        EXPECT_EQ(result, tResult::Malformed);
    }
    EXPECT_TRUE(globals->IsConnectionEnabled());
    EXPECT_EQ(ReadFileText(IniPath()), "[General]\n");
    tString text;
    EXPECT_FALSE(globals->GetThreads()->SetThreadTrace(777, 1, false, text));  // never switched on
}

// ---- users and connections ------------------------------------------------------------------

TEST_F(Monitor, InfoCountsUsersOrAllConnectionsAndListsTheRecords) {
    tDBProperties* record = AddRecord(777, "alice");
    record->SetDBEnv("PGSQL/shop");
    record->SetIP("10.0.0.9");
    globals->ConnectUser(true);
    globals->ConnectUser(true);
    globals->ConnectUser(false);
    const std::string records =
        "777\x02"
        "alice\x02"
        "0\x02"
        "0\x02"
        "\x02"
        " \x02"
        "PGSQL/shop\x02"
        "\x02"
        "\x02"
        "10.0.0.9\x02"
        "\x02"
        "\x01";
    for (const auto& [ini, count] : {std::pair<const char*, i32>{"[General]\n", 2},
                                     {"[General]\nCountAllConnections=1\n", 3}}) {
        SCOPED_TRACE(ini);
        WriteFileText(IniPath(), ini);
        globals->GetConfig()->Flush();
        Request(OP_INFO);
        Run();
        i32 listed = -1;
        reply.GetLong(listed);
        EXPECT_EQ(listed, count);
        EXPECT_EQ(TakeText(reply), records);
    }
}

TEST_F(Monitor, KillUserWithoutSuchThreadRepliesZeroAndSaysSo) {
    for (const auto& [text, id] : {std::pair<const char*, const char*>{"  4242 ", "4242"},
                                   {"abc", "0"},
                                   {"", "0"},
                                   {"99999999999", "0"}}) {
        SCOPED_TRACE(text);
        gmtest::ConsoleCapture console;
        RunWithText(OP_KILLUSER, text);
        i32 code = 1;
        reply.GetLong(code);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(console.Get(),
                  "[KILLUSER] Thread (" + std::string(id) + ") NOT FOUND OR TERMINATED.\n");
    }
}

TEST_F(Monitor, ConnectionSwitchIsStoredLoggedAndReported) {
    for (const auto& [flag, word] :
         {std::pair<i16, const char*>{0, "DISABLED"}, {5, "ENABLED"}, {-1, "ENABLED"}}) {
        SCOPED_TRACE(flag);
        Request(OP_SET_CONNECTION_ENABLE).PutShort(flag);
        Run();
        EXPECT_EQ(Code(), 0);
        EXPECT_NE(
            ReadFileText(LogPath()).find("[GMLINFO] DBMonitor Thread (9001) Connections are " +
                                         std::string(word) + "\n"),
            std::string::npos);
        Request(OP_IS_CONNECTION_ENABLED);
        Run();
        EXPECT_EQ(Code(), 0);
        u8 enabled = 9;
        reply.GetByte(enabled);
        EXPECT_EQ(enabled, flag != 0 ? 1 : 0);
        EXPECT_FALSE(reply.IsMalformed());
        std::remove(LogPath().c_str());
    }
}

TEST_F(Monitor, LockInfoListsEveryRecordLock) {
    globals->CreateLockServers();
    tRecordLockEngine& locks = *globals->GetRecordLockServer();
    ASSERT_TRUE(locks.RLock(77, 3, "PGSQL/shop|ORDERS", 5.0, 1));
    ASSERT_TRUE(locks.RLock(78, 9, "PGSQL/shop|ITEMS", 12.0, 2));
    Request(OP_LOCKINFO);
    Run();
    EXPECT_EQ(Code(), 0);
    EXPECT_EQ(TakeText(reply),
              "ID: 77\tTable: PGSQL/shop|ORDERS\tRecno: 5\n"
              "ID: 78\tTable: PGSQL/shop|ITEMS\tRecno: 12\n");
}

// ---- traces ---------------------------------------------------------------------------------

TEST_F(Monitor, TraceStartsOnceAndStopsWithItsSummary) {
    tDBProperties* record = AddRecord(777, "alice");
    EXPECT_EQ(TraceCode(OP_STARTTRACE, " 777 "), 0);
    EXPECT_TRUE(record->IsTraceOn());
    EXPECT_EQ(TraceCode(OP_STARTTRACE, "777"), -19);  // traced already
    EXPECT_EQ(TraceCode(OP_STARTTRACE, "778"), -19);  // no such connection
    EXPECT_EQ(TraceCode(OP_STARTTRACE, "x777"), -19);
    EXPECT_GT(TraceCode(OP_TRACECOUNT, "777"), 0);  // the lines describing the connection
    EXPECT_EQ(TraceCode(OP_TRACECOUNT, "778"), -19);

    RunWithText(OP_STOPTRACE, "777");
    EXPECT_EQ(Code(), 0);
    EXPECT_NE(TakeText(reply).find("[INFO] Trace Total Timer ("), std::string::npos);
    EXPECT_FALSE(record->IsTraceOn());
    EXPECT_EQ(TraceCode(OP_TRACECOUNT, "777"), 0);  // the lines went with the trace

    gmtest::ConsoleCapture console;
    monitor->Done();  // nothing left to switch off
    EXPECT_EQ(console.Get(), "");
}

TEST_F(Monitor, TraceLinesComeOldestFirstCutToTheMaximum) {
    tDBProperties* record = AddRecord(777, "alice");
    ASSERT_EQ(TraceCode(OP_STARTTRACE, "777"), 0);
    const i16 described = TraceCode(OP_TRACECOUNT, "777");
    for (i16 i = 0; i < described; ++i) {
        Request(OP_GETTRACE).PutString("777");
        request.PutLong(100000);
        Run();
        ASSERT_EQ(Code(), 0);
    }
    EXPECT_EQ(TraceCode(OP_TRACECOUNT, "777"), 0);

    const struct {
        i32 maxLength;
        const char* text;
    } cases[] = {{1000, "(tDBServer::Seek) -- key 42 found"},
                 {10, "(tDBServer"},
                 {33, "(tDBServer::Seek) -- key 42 found"},
                 {1, "("},
                 {0, ""},
                 {-1, ""},
                 {-2147483647 - 1, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.maxLength);
        record->GetTrace()->Add("tDBServer::Seek", 0.25, "-- key 42 found");
        Request(OP_GETTRACE).PutString("777");
        request.PutLong(c.maxLength);
        Run();
        EXPECT_EQ(Code(), 0);
        f64 elapsed = 0;
        reply.GetDouble(elapsed);
        EXPECT_EQ(elapsed, 0.25);
        EXPECT_EQ(TakeText(reply), c.text);
    }
    Request(OP_GETTRACE).PutString("777");
    request.PutLong(10);
    Run();
    EXPECT_EQ(Code(), -19);  // no line waits
}

TEST_F(Monitor, TraceOfAnotherMonitorIsNotVisible) {
    AddRecord(777, "alice");
    tString text;
    ASSERT_TRUE(globals->GetThreads()->SetThreadTrace(777, 5555, true, text));
    EXPECT_EQ(TraceCode(OP_TRACECOUNT, "777"), -19);
    Request(OP_GETTRACE).PutString("777");
    request.PutLong(10);
    Run();
    EXPECT_EQ(Code(), -19);
    RunWithText(OP_STOPTRACE, "777");
    EXPECT_EQ(Code(), 0);
    EXPECT_TRUE(globals->GetThreads()->SetThreadTrace(777, 5555, false, text));  // still its own
}

TEST_F(Monitor, DoneSwitchesOffTheTracesItStartedWhateverItAskedSince) {
    tDBProperties* first = AddRecord(777, "alice");
    tDBProperties* second = AddRecord(778, "bob");
    ASSERT_EQ(TraceCode(OP_STARTTRACE, "777"), 0);
    ASSERT_EQ(TraceCode(OP_STARTTRACE, "778"), 0);
    RunWithText(OP_STOPTRACE, "779");  // another connection: changes nothing here
    TraceCode(OP_TRACECOUNT, "12");
    gmtest::ConsoleCapture console;
    monitor->Done();
    EXPECT_FALSE(first->IsTraceOn());
    EXPECT_FALSE(second->IsTraceOn());
    const std::string printed = console.Get();
    size_t finished = 0;
    for (size_t at = 0;
         (at = printed.find("[INFO] Trace Operation Finished\n", at)) != std::string::npos; ++at) {
        ++finished;
    }
    EXPECT_EQ(finished, 2u);
}

// ---- the log --------------------------------------------------------------------------------

TEST_F(Monitor, ReadLogGivesTheFirstMillionBytes) {
    std::string log(1200000, 'L');
    for (size_t i = 0; i < log.size(); i += 100) log[i] = '\n';
    WriteFileText(LogPath(), log);
    Request(OP_READLOG);
    Run();
    EXPECT_EQ(Code(), 0);
    EXPECT_EQ(TakeText(reply), log.substr(0, 1000000));

    for (const char* content : std::initializer_list<const char*>{"", nullptr}) {
        std::remove(LogPath().c_str());
        if (content) WriteFileText(LogPath(), content);
        Request(OP_READLOG);
        Run();
        EXPECT_EQ(Code(), -19);
    }
}

TEST_F(Monitor, ClearLogRestartsTheLogAndRepliesZero) {
    WriteFileText(LogPath(), "old line\n");
    Request(OP_CLEARLOG);
    Run();
    EXPECT_EQ(ReplyBytes(), std::string("\x06\0\0\0\0\0", 6));
    const std::string log = ReadFileText(LogPath());
    EXPECT_EQ(log.find("old line"), std::string::npos);
    EXPECT_NE(log.find("Log file cleared.\n"), std::string::npos);

    SetLogPath(dir.File("missing/gatemill.log").c_str());
    Request(OP_CLEARLOG);
    Run();
    EXPECT_EQ(Code(), -19);
}

// ---- diagnostic files -----------------------------------------------------------------------

std::string Header(const std::string& name) { return "\n[=== File " + name + " ===]\n\n"; }

TEST_F(Monitor, DiagLogComesInPiecesOfAMillionThenMinus24) {
    ProgramFile file("pieces");
    std::string content(2500000, 'd');
    for (size_t i = 0; i < content.size(); i += 1000) content[i] = static_cast<char>('a' + i % 26);
    WriteFileText(file.path, content);
    const struct {
        const char* name;  // later requests name another file: the transfer goes on
        i16 code;
        std::string text;
    } steps[] = {
        {file.name.c_str(), 0, Header(file.name) + content.substr(0, 1000000)},
        {"other.log", 0, content.substr(1000000, 1000000)},
        {"", 0, content.substr(2000000)},
        {"../x", -24, ""},
    };
    for (const auto& step : steps) {
        RunWithText(OP_GETDIAGLOG, step.name);
        EXPECT_EQ(Code(), step.code);
        EXPECT_TRUE(TakeText(reply) == step.text);
    }
    // The transfer has ended: the next request starts a new one.
    RunWithText(OP_GETDIAGLOG, file.name.c_str());
    EXPECT_EQ(Code(), 0);
}

TEST_F(Monitor, SmallDiagFileTakesOneMoreRequestToClose) {
    ProgramFile file("small");
    WriteFileText(file.path, "line one\nline two\n");
    RunWithText(OP_GETDIAGLOG, file.name.c_str());
    EXPECT_EQ(Code(), 0);
    EXPECT_EQ(TakeText(reply), Header(file.name) + "line one\nline two\n");
    RunWithText(OP_GETDIAGLOG, file.name.c_str());
    EXPECT_EQ(Code(), -24);
    EXPECT_EQ(TakeText(reply), "");

    ProgramFile empty("empty");
    WriteFileText(empty.path, "");
    RunWithText(OP_GETDIAGLOG, empty.name.c_str());
    EXPECT_EQ(Code(), -19);
    EXPECT_EQ(TakeText(reply), Header(empty.name) + "Unable to READ file.\n");
}

// Each name but the last ones reaches a file that exists.
TEST_F(Monitor, DiagLogRefusesNamesOutsideTheProgramDirectory) {
    ProgramFile here("here");
    ProgramFile above("above", "../");
    ProgramFile below("below", "sub" + std::to_string(getpid()) + "/");
    for (const ProgramFile* file : {&here, &above, &below}) WriteFileText(file->path, "secret");
    std::string backslashed = below.name;
    backslashed[backslashed.find('/')] = '\\';
    const std::string cases[] = {"./" + here.name,
                                 above.name,
                                 "..\\" + above.name.substr(3),
                                 below.name,
                                 backslashed,
                                 "/etc/passwd",
                                 "..",
                                 "",
                                 std::string(300, 'n')};
    for (const std::string& name : cases) {
        SCOPED_TRACE(name);
        gmtest::ConsoleCapture console;
        RunWithText(OP_GETDIAGLOG, name.c_str());
        EXPECT_EQ(Code(), -19);
        EXPECT_EQ(TakeText(reply), Header(name.substr(0, 255)) + "File NOT FOUND.\n");
        EXPECT_EQ(console.Get(), "Run DBMonitor Thread (9001) - GetDiagLog File [" + name + "] \n");
    }
    RunWithText(OP_GETDIAGLOG, here.name.c_str());
    EXPECT_EQ(Code(), 0);
    EXPECT_EQ(TakeText(reply), Header(here.name) + "secret");
}

// A name listed in the directory whose file cannot be opened: a directory.
TEST_F(Monitor, DiagLogOfAFileThatCannotBeOpenedSaysWhy) {
    ProgramFile folder("folder");
    ASSERT_TRUE(std::filesystem::create_directory(folder.path));
    RunWithText(OP_GETDIAGLOG, folder.name.c_str());
    EXPECT_EQ(Code(), -19);
    const std::string text = TakeText(reply);
    const std::string opening = Header(folder.name) + "Open File Error - ";
    EXPECT_EQ(text.substr(0, opening.size()), opening);
    EXPECT_GT(text.size(), opening.size() + 1) << "the disk manager's error text follows";
    EXPECT_EQ(text.back(), '\n');
    RunWithText(OP_GETDIAGLOG, folder.name.c_str());
    EXPECT_EQ(Code(), -19) << "no transfer was started";
}

// ---- the ini file whole ---------------------------------------------------------------------

TEST_F(Monitor, IniFileInNormalFormRoundTripsByteForByte) {
    const std::string stored = "[General]\nMODE=0\npassword=" + gmtest::IniPassword("s3cret") +
                               "\n[PGSQL/shop]\nguestpassword=" + gmtest::IniPassword("guest") +
                               "\nDSN=shop\n";
    const std::string shown =
        "[General]\nMODE=0\npassword=s3cret\n[PGSQL/shop]\nguestpassword=guest\nDSN=shop\n";
    WriteFileText(IniPath(), stored);
    Request(OP_GETINIFILE);
    Run();
    EXPECT_EQ(Code(), 0);
    EXPECT_EQ(TakeText(reply), shown);

    WriteFileText(IniPath(), "[General]\n");
    gmtest::ConsoleCapture console;
    RunWithText(OP_SETINIFILE, shown.c_str());
    EXPECT_EQ(Code(), 0);
    EXPECT_EQ(ReadFileText(IniPath()), stored);
    EXPECT_EQ(console.Get().find("[FULL INI FILE]\n" + shown + "\n"), 0u);
    EXPECT_NE(ReadFileText(LogPath()).find("Configuration file updated.\n"), std::string::npos);
    // The cache reads the new file once it is emptied, and deciphers the password.
    globals->GetConfig()->Flush();
    tString password;
    globals->GetConfig()->GetStringEx("PGSQL", "nothere", "password", "", password);
    EXPECT_STREQ(password.GetText(), "s3cret");
}

TEST_F(Monitor, IniFileComesBackNormalised) {
    WriteFileText(IniPath(), "; settings\r\n\r\n[General]  \r\n   MODE=1\r\n;password=" +
                                 gmtest::IniPassword("x") +
                                 "\r\nPassword = " + gmtest::IniPassword("top") +
                                 " \r\npasswordOld=plain\r\n" + "guestpasswords=plain\rlast=1");
    Request(OP_GETINIFILE);
    Run();
    EXPECT_EQ(Code(), 0);
    EXPECT_EQ(TakeText(reply),
              "[General]\nMODE=1\nPassword=top\npasswordOld=plain\nguestpasswords=plain\n"
              "last=1\n");
}

TEST_F(Monitor, IniFileRefusals) {
    // An ini file that is missing, empty or too big, and texts whose passwords cannot be kept
    // on one line of the file. At the key's fourth letter a line feed enciphers to another
    // byte, and the byte 0xFA to a line feed.
    const std::string lfInside = gmtest::IniPassword("abc\nd");
    ASSERT_EQ(lfInside.find_first_of("\r\n"), std::string::npos);
    ASSERT_EQ(gmtest::IniPassword("abc\xFA"), gmtest::IniPassword("abc") + "\n");

    std::remove(IniPath().c_str());
    Request(OP_GETINIFILE);
    Run();
    EXPECT_EQ(Code(), -19);
    WriteFileText(IniPath(), "");
    Request(OP_GETINIFILE);
    Run();
    EXPECT_EQ(Code(), -19);
    WriteFileText(IniPath(), std::string(tString::kMaxCapacity, 'k'));
    Request(OP_GETINIFILE);
    Run();
    EXPECT_EQ(Code(), -19);
    WriteFileText(IniPath(), "password=" + lfInside + "\n");
    Request(OP_GETINIFILE);
    Run();
    EXPECT_EQ(Code(), -19);

    WriteFileText(IniPath(), "[General]\nkept=1\n");
    for (const char* text : {"; only a comment\n\n", "[General]\npassword=abc\xFA\n"}) {
        RunWithText(OP_SETINIFILE, text);
        EXPECT_EQ(Code(), -19);
        EXPECT_EQ(ReadFileText(IniPath()), "[General]\nkept=1\n");
    }
}

// ---- ini values -----------------------------------------------------------------------------

TEST_F(Monitor, IniValuesAreWrittenAndReadThroughTheCache) {
    Request(OP_WRITEINISTR).PutString("PGSQL/shop");
    request.PutString("DSN");
    request.PutString("shop");
    Run();
    EXPECT_EQ(Code(), 0);
    Request(OP_WRITEINIINT).PutString("General");
    request.PutString("ThreadMin");
    request.PutLong(-7);
    Run();
    EXPECT_EQ(Code(), 0);
    EXPECT_EQ(globals->GetConfig()->GetInt("General", "ThreadMin", 0), -7);

    Request(OP_READINISTR).PutString("pgsql/SHOP");
    request.PutString("dsn");
    Run();
    EXPECT_EQ(Code(), 0);
    EXPECT_EQ(TakeText(reply), "shop");
    Request(OP_READINIINT).PutString("General");
    request.PutString("ThreadMin");
    Run();
    EXPECT_EQ(Code(), 0);
    i32 value = 0;
    reply.GetLong(value);
    EXPECT_EQ(value, -7);
    Request(OP_READINIINT).PutString("General");
    request.PutString("Missing");
    Run();
    EXPECT_EQ(Code(), 0);
    reply.GetLong(value);
    EXPECT_EQ(value, 0);

    // A key, then a whole section.
    for (const char* key : {"DSN", ""}) {
        Request(OP_DELSECTION).PutString(key[0] ? "PGSQL/shop" : "General");
        request.PutString(key);
        Run();
        EXPECT_EQ(Code(), 0);
    }
    EXPECT_EQ(ReadFileText(IniPath()).find("DSN"), std::string::npos);
    EXPECT_EQ(ReadFileText(IniPath()).find("ThreadMin"), std::string::npos);
}

TEST_F(Monitor, IniTextsWithLineBreaksAreRefused) {
    const struct {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {{"General", "Key", "a\r\nInjected=1"},
                 {"General", "Key\nInjected", "1"},
                 {"General]\n[Other", "Key", "1"}};
    for (const auto& c : cases) {
        Request(OP_WRITEINISTR).PutString(c.section);
        request.PutString(c.key);
        request.PutString(c.value);
        Run();
        EXPECT_EQ(Code(), -19);
    }
    Request(OP_WRITEINIINT).PutString("General");
    request.PutString("Key\r");
    request.PutLong(1);
    Run();
    EXPECT_EQ(Code(), -19);
    EXPECT_EQ(ReadFileText(IniPath()), "[General]\n");
}

TEST_F(Monitor, TraceIndexRaisesTheIndexTraceFlagForGood) {
    const struct {
        const char* section;
        const char* key;
        i32 value;
        const char* printed;  // null: nothing
        bool flag;
    } steps[] = {
        {"general", "TraceIndex", 1, nullptr, false},  // the case counts
        {"General", "traceindex", 1, nullptr, false},
        {"General", "TraceIndex", 0, "[INFO] TraceIndex [DISABLED]\n", false},
        {"General", "TraceIndex", 2, "[INFO] TraceIndex [ENABLED]\n", true},
        {"General", "TraceIndex", 0, "[INFO] TraceIndex [DISABLED]\n", true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(std::string(step.section) + "/" + step.key + "=" + std::to_string(step.value));
        std::remove(LogPath().c_str());
        gmtest::ConsoleCapture console;
        Request(OP_WRITEINIINT).PutString(step.section);
        request.PutString(step.key);
        request.PutLong(step.value);
        Run();
        EXPECT_EQ(Code(), 0);
        EXPECT_EQ(globals->IndexTraceChanged(false), step.flag);
        const std::string log = ReadFileText(LogPath());
        if (step.printed) {
            EXPECT_EQ(console.Get().find(step.printed), 0u);
            EXPECT_NE(log.find(step.printed), std::string::npos);
        } else {
            EXPECT_EQ(console.Get(), "");
            EXPECT_EQ(log, "");
        }
    }
}

// ---- diagnostics ----------------------------------------------------------------------------

TEST_F(Monitor, DiagMiscInfoGivesProcessOrAddressSpaceMemory) {
    gmtest::FixedMemory memory;
    memory.process.workingSet = 300 * gmtest::kMiB;
    memory.process.privateBytes = 200 * gmtest::kMiB;
    memory.system.virtualTotal = 4096 * gmtest::kMiB;
    memory.system.virtualFree = 1024 * gmtest::kMiB;
    globals->InitProcessCounters();
    for (const auto& [ini, kilobytes] : {std::pair<const char*, f64>{"[General]\n", 300 * 1024},
                                         {"[General]\nMonitorVMAMemory=1\n", 3072 * 1024}}) {
        SCOPED_TRACE(ini);
        WriteFileText(IniPath(), ini);
        globals->GetConfig()->Flush();
        Request(OP_DIAGMISCINFO);
        Run();
        EXPECT_EQ(Code(), 0);
        f64 memoryKb = 0, processor = -1;
        i32 zero = 1;
        reply.GetDouble(memoryKb);
        reply.GetDouble(processor);
        reply.GetLong(zero);
        EXPECT_FALSE(reply.IsMalformed());
        EXPECT_EQ(reply.GetBytesLeft(), 0u);
        EXPECT_EQ(memoryKb, kilobytes);
        EXPECT_GE(processor, 0);
        EXPECT_EQ(zero, 0);
    }
}

TEST_F(Monitor, DiagInfoJoinsTheReportsInOrder) {
    gmtest::FixedMemory memory;
    memory.system.physicalTotal = 8192 * gmtest::kMiB;
    memory.system.physicalFree = 4096 * gmtest::kMiB;
    memory.system.pagingTotal = 8192 * gmtest::kMiB;
    memory.system.pagingFree = 4096 * gmtest::kMiB;
    globals->AddEnvironment("shop", "PGSQL", "Environment shop report");
    unsetenv("CommonProgramFiles");
    gmtest::ConsoleCapture console;
    Request(OP_GETDIAGINFO);
    Run();
    EXPECT_EQ(Code(), 0);
    const std::string text = TakeText(reply);
    EXPECT_EQ(text.find("Server Type ..: WinNT\nBuild ........: 20110117\n\n"), 0u);
    const size_t os = text.find("OS System Info");
    const size_t memoryReport = text.find("Physical memory");
    const size_t environment = text.find("Environment shop report\n");
    const size_t diagnostic = text.find("[=== Server Diagnostic File ===]");
    EXPECT_NE(os, std::string::npos);
    EXPECT_LT(os, memoryReport);
    EXPECT_LT(memoryReport, environment);
    EXPECT_LT(environment, diagnostic);
    EXPECT_NE(diagnostic, std::string::npos);
    EXPECT_EQ(console.Get(),
              "Run DBMonitor Thread (9001) - GetDiagInfo Start \n"
              "Run DBMonitor Thread (9001) - GetDiagInfo End \n");
}

}  // namespace
