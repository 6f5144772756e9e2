// The service channel OP_INTERNALF of client connections against the private PostgreSQL: the
// one-string reply and its operation details, a bad parameter length, the thread comment and
// where it shows, named locks and record locks of two connections, custom audit columns, the
// switches, the reports and the test hooks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/runtime/gmlthreads.h"
#include "tests/server/dispatch/support/dbserverpg.h"
#include "tests/server/support/recordingaudit.h"
#include "tests/support/gmtest.h"

namespace {

using gmtest::Long;
using gmtest::Session;
using gmtest::Short;

const std::string kOpenTable = std::string("CLIENTES") + '\0' + '\0' + '\0';
constexpr i16 kFileId = 1;

// The request of a sub-code with a parameter (none when absent).
std::string Call(u8 subcode, const std::string* parameter) {
    std::string bytes(1, static_cast<char>(subcode));
    if (!parameter) return bytes + Short(0);
    return bytes + Short(static_cast<i16>(parameter->size())) + *parameter;
}

// The text of a reply: everything up to the NUL that must end it.
std::string ReplyText(const std::string& reply) {
    if (reply.empty() || reply.back() != '\0') return "(not one string: " + reply + ")";
    const std::string text = reply.substr(0, reply.size() - 1);
    if (text.find('\0') != std::string::npos) return "(more than one string)";
    return text;
}

std::string Internal(Session& session, u8 subcode, const std::string& parameter) {
    return ReplyText(session.Exchange(OP_INTERNALF, Call(subcode, &parameter)));
}
std::string Internal(Session& session, u8 subcode) {
    return ReplyText(session.Exchange(OP_INTERNALF, Call(subcode, nullptr)));
}

std::string LockArgs(u8 table, i32 recno) {
    return Short(kFileId) + static_cast<char>(table) + Long(recno);
}

class DBServerInternal : public gmtest::DBServerPostgres {
protected:
    void SetUp() override {
        DBServerPostgres::SetUp();
        if (HasFatalFailure()) return;
        MakeClientes();
    }
    void Restart(const std::string& general) { StartServerGlobals("", general); }
    std::unique_ptr<Session> Opened() {
        auto session = Connected();
        EXPECT_EQ(session->Exchange(OP_OPEN, kOpenTable).substr(0, 4), Short(0) + Short(kFileId));
        return session;
    }
    static std::string ThreadOf(Session& session) {
        return std::to_string(session.server->GetThreadId());
    }
};

// Defined and undefined sub-codes reply one string and no code; the operation details show the
// sub-code, the parameter or "(NULL)", and the reply.
TEST_F(DBServerInternal, RepliesOneStringWithItsOperationDetails) {
    Restart("UseTraceLog=1\n");
    gmtest::ConsoleCapture console;
    auto session = Connected();
    EXPECT_EQ(Internal(*session, 80), "20110117");
    EXPECT_EQ(Internal(*session, 200, "x"), "");
    EXPECT_EQ(Internal(*session, 50, "ignored"), "Virtual Locks Ok");
    const std::string oplog = console.Get();
    EXPECT_TRUE(
        gmtest::Holds(oplog, "Details: Operation : 80 Parameter : (NULL) Return : 20110117"))
        << oplog;
    EXPECT_TRUE(gmtest::Holds(oplog, "Operation : 200 Parameter : x Return : \n")) << oplog;
    EXPECT_TRUE(
        gmtest::Holds(oplog, "Operation : 50 Parameter : ignored Return : Virtual Locks Ok"))
        << oplog;
    session->Disconnect();
    session->End();
}

// A length below 0 or past the request's bytes ends that connection without a reply; another
// connection keeps being served.
TEST_F(DBServerInternal, BadParameterLengthEndsOnlyThatConnection) {
    auto other = Connected();
    for (const std::string& request :
         {std::string(1, '\x01') + Short(-1) + "abc", std::string(1, '\x01') + Short(10) + "abc"}) {
        auto session = Connected();
        EXPECT_EQ(session->Exchange(OP_INTERNALF, request), gmtest::kClosed);
        tString comment;
        session->Join();
        session->server->GetProperties()->GetObs(comment);
        EXPECT_STREQ(comment.GetText(), "");  // nothing was done
        session->End();
    }
    EXPECT_EQ(Internal(*other, 80), "20110117");
    other->Disconnect();
    other->End();
}

// The comment is cut at 128 characters, printed with ThreadInfo, audited as "O" at level 2, and
// becomes the owner text that a refused lock shows the other connection through sub-code 53.
TEST_F(DBServerInternal, ThreadCommentShowsInInfoAuditAndLockOwner) {
    Restart("ThreadInfo=1\nAuditLog=1\nAuditServer=aud\nAuditLevel=2\n");
    gmtest::AuditRecorder recorder;
    gmtest::RecordingAuditMaker maker(recorder);
    gmtest::ConsoleCapture console;
    auto first = Opened();
    auto second = Opened();
    const std::string comment(200, 'c');
    const std::string kept(128, 'c');
    EXPECT_EQ(Internal(*first, 1, comment), "");
    tString obs;
    first->server->GetProperties()->GetObs(obs);
    EXPECT_EQ(obs.GetText(), kept);
    const std::string described = "[" + std::string(first->server->GetDBType().GetText()) + "/" +
                                  first->server->GetEnvironment().GetText() + "] " + kept;
    EXPECT_TRUE(gmtest::Holds(console.Get(),
                              "[INFO] Thread (" + ThreadOf(*first) + ") Obs [" + described + "]\n"))
        << console.Get();
    const auto records = recorder.Records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().rfind("O||0||" + described + "|", 0), 0u) << records.back();

    EXPECT_EQ(Internal(*first, 8, "maria"), "");
    EXPECT_EQ(first->Exchange(OP_LOCK, LockArgs(0, 2)).substr(0, 2), Short(RC_OK));
    EXPECT_EQ(second->Exchange(OP_LOCK, LockArgs(0, 2)).substr(0, 2), Short(RC_LOCKED));
    EXPECT_EQ(Internal(*second, 53), "maria|" + kept);
    {
        std::lock_guard<std::mutex> hold(recorder.lock);
        EXPECT_EQ(recorder.users, std::vector<std::string>{"maria"});
    }
    first->Disconnect();
    second->Disconnect();
    first->End();
    second->End();
}

TEST_F(DBServerInternal, NamedLocksAcrossTwoConnections) {
    auto first = Connected();
    auto second = Connected();
    EXPECT_EQ(Internal(*first, 1, "holder"), "");
    EXPECT_EQ(Internal(*first, 51, "K1"), "1");
    EXPECT_EQ(Internal(*first, 54), "");
    EXPECT_EQ(Internal(*second, 51, "K1"), "0");
    EXPECT_TRUE(gmtest::Holds(Internal(*second, 54), "|holder")) << Internal(*second, 54);
    EXPECT_EQ(Internal(*second, 51), "0");
    EXPECT_EQ(Internal(*second, 54), "Invalid Empty Virtual Lock");
    EXPECT_EQ(Internal(*second, 52), "0");  // no key: nothing released
    EXPECT_EQ(Internal(*second, 51, "K1"), "0");
    EXPECT_EQ(Internal(*first, 52, "K1"), "1");
    EXPECT_EQ(Internal(*second, 51, "K1"), "1");
    // 90 releases every lock of the named thread: the first connection then gets the key.
    EXPECT_EQ(Internal(*first, 90, ThreadOf(*second)), "");
    EXPECT_EQ(Internal(*first, 51, "K1"), "1");
    first->Disconnect();
    second->Disconnect();
    first->End();
    second->End();
}

// Sub-code 26: upper-cased names in byte order, removal by an empty value, clearing, the format
// error, and a failing audit server that leaves the list as it was.
TEST_F(DBServerInternal, CustomAuditColumns) {
    {
        auto session = Connected();
        EXPECT_EQ(Internal(*session, 26, "a=1"), "0001|Audit Trail not enabled.");
        session->Disconnect();
        session->End();
    }
    Restart("AuditLog=1\nAuditServer=aud\n");
    gmtest::AuditRecorder recorder;
    gmtest::RecordingAuditMaker maker(recorder);
    auto session = Connected();
    const auto listed = [&] {
        std::string names;
        tAuditCustomFieldList& list = session->server->GetAuditCustomFields();
        for (i32 i = 0; i < list.Count(); ++i) {
            names +=
                std::string(list.Get(i)->name.GetText()) + "=" + list.Get(i)->value.GetText() + ";";
        }
        return names;
    };
    EXPECT_EQ(Internal(*session, 26, "zeta=9"), "0000|Ok.");
    EXPECT_EQ(Internal(*session, 26, "filial=01"), "0000|Ok.");
    EXPECT_EQ(Internal(*session, 26, "Bb=x=y"), "0000|Ok.");
    EXPECT_EQ(listed(), "BB=x=y;FILIAL=01;ZETA=9;");
    EXPECT_EQ(Internal(*session, 26, "FILIAL="), "0000|Ok.");
    EXPECT_EQ(listed(), "BB=x=y;ZETA=9;");
    EXPECT_EQ(Internal(*session, 26, "novalue"), "0002|Invalid custom field format.");
    recorder.writeResult = -88;
    EXPECT_EQ(Internal(*session, 26, "zeta=1"), "0003|Audit Custom Field Error -88");
    EXPECT_EQ(listed(), "BB=x=y;ZETA=9;");
    recorder.writeResult = 0;
    EXPECT_EQ(Internal(*session, 26, ""), "0000|FieldList Cleared.");
    EXPECT_EQ(listed(), "");
    {
        std::lock_guard<std::mutex> hold(recorder.lock);
        const std::vector<std::string> sent = {"ZETA|9", "FILIAL|01", "BB|x=y", "FILIAL|",
                                               "ZETA|1", "BB|",       "ZETA|"};
        EXPECT_EQ(recorder.customs, sent);
    }
    session->Disconnect();
    session->End();
}

// Record locks: the listings of 83 and 99, the direct unlock of 84, and 98's release of a thread.
TEST_F(DBServerInternal, RecordLockListingsAndReleases) {
    auto first = Opened();
    auto second = Opened();
    ASSERT_EQ(first->Exchange(OP_LOCK, LockArgs(0, 2)).substr(0, 2), Short(RC_OK));
    const std::string all = Internal(*second, 99);
    EXPECT_TRUE(gmtest::Holds(all, "ID: " + ThreadOf(*first) + "\t")) << all;
    EXPECT_TRUE(gmtest::Holds(all, "|CLIENTES\tRecno: 2\n")) << all;
    const std::string own = Internal(*second, 83, ThreadOf(*first));
    EXPECT_TRUE(gmtest::Holds(own, "|CLIENTES|2\n")) << own;
    EXPECT_EQ(Internal(*second, 83, ThreadOf(*second)), "");

    const std::string env = first->server->GetEnvironment().GetText();
    EXPECT_EQ(Internal(*second, 84, env + "|NOTCACHED|2|" + ThreadOf(*first)), "*");
    EXPECT_EQ(Internal(*second, 84, env + "|CLIENTES|2|"), "");
    EXPECT_EQ(Internal(*second, 84, env + "|CLIENTES|2"), "");
    gmtest::ConsoleCapture console;
    EXPECT_EQ(Internal(*second, 84, env + "|CLIENTES|2|" + ThreadOf(*first)), "1");
    EXPECT_TRUE(gmtest::Holds(console.Get(), "Direct RUnlock on Table CLIENTES Env " + env +
                                                 " RECNO 2 Thread (" + ThreadOf(*first) + ")\n"))
        << console.Get();
    EXPECT_EQ(second->Exchange(OP_LOCK, LockArgs(0, 2)).substr(0, 2), Short(RC_OK));

    EXPECT_EQ(Internal(*first, 98, ThreadOf(*second)), "");
    EXPECT_EQ(Internal(*first, 99), "");
    EXPECT_EQ(first->Exchange(OP_LOCK, LockArgs(0, 2)).substr(0, 2), Short(RC_OK));
    first->Disconnect();
    second->Disconnect();
    first->End();
    second->End();
}

// The delete-as-mark switch: exactly "ON" marks the rows of a direct DELETE first. A trigger that
// cancels deletions keeps the rows, so the mark shows.
TEST_F(DBServerInternal, DeleteMarkingSwitch) {
    ASSERT_TRUE(
        Run("create function keep_rows() returns trigger language plpgsql as "
            "$$ begin return null; end $$"));
    ASSERT_TRUE(
        Run("create trigger keep_rows before delete on clientes for each row "
            "execute function keep_rows()"));
    auto session = Connected();
    const auto remove = [&](const std::string& nome) {
        return session->Exchange(OP_SQLEXEC,
                                 "DELETE FROM clientes WHERE nome = '" + nome + "'" + '\0');
    };
    const auto mark = [&](const std::string& nome) {
        return Value("select '[' || d_e_l_e_t_ || ']' from clientes where nome = '" + nome + "'");
    };
    EXPECT_EQ(Internal(*session, 12, "ON"), "");
    EXPECT_EQ(remove("N001"), Short(RC_OK));
    EXPECT_EQ(mark("N001"), "[*]");
    EXPECT_EQ(Internal(*session, 12, "on"), "");
    EXPECT_EQ(remove("N002"), Short(RC_OK));
    EXPECT_EQ(mark("N002"), "[]");  // not marked
    EXPECT_EQ(Internal(*session, 12, "ON"), "");
    EXPECT_EQ(Internal(*session, 12), "");  // no parameter: off
    EXPECT_EQ(remove("N004"), Short(RC_OK));
    EXPECT_EQ(mark("N004"), "[]");  // not marked
    session->Disconnect();
    session->End();
}

// Sub-code 20: the translation of the last extended filter, emptied by a refused one.
TEST_F(DBServerInternal, TranslationOfTheLastExtendedFilter) {
    auto session = Opened();
    const auto filter = [&](i16 level, const std::string& expression) {
        return session->Exchange(OP_FILTEREX, Short(kFileId) + Short(level) + expression + '\0');
    };
    EXPECT_EQ(Internal(*session, 20), "");
    EXPECT_EQ(filter(1, "'NOME *EQ \"N001\"'"), Short(RC_OK));
    const std::string translated = Internal(*session, 20);
    EXPECT_TRUE(gmtest::Holds(translated, "NOME") && !gmtest::Holds(translated, "*EQ"))
        << translated;
    EXPECT_EQ(filter(2, "'NOME > 1'"), Short(RC_FAILED));
    EXPECT_EQ(Internal(*session, 20), "");
    session->Disconnect();
    session->End();
}

// Tables, switches and the connection's last error.
TEST_F(DBServerInternal, TablesSwitchesAndLastError) {
    ASSERT_TRUE(Run("create unique index clientes_unq on clientes (nome, cidade, r_e_c_n_o_)"));
    ASSERT_TRUE(Run("create index clientes1 on clientes (cidade, r_e_c_n_o_)"));
    auto session = Connected();
    EXPECT_EQ(Internal(*session, 13, "clientes"), "NOME+CIDADE");
    EXPECT_EQ(Internal(*session, 13, "nosuch"), "");
    EXPECT_EQ(Internal(*session, 70, "CLIENTES.CLIENTES1"), "0");
    EXPECT_EQ(Internal(*session, 60, "CLIENTES|CLIENTES1"), "1");
    EXPECT_EQ(Value("select count(*) from pg_indexes where indexname = 'clientes1'"), "0");
    EXPECT_EQ(Internal(*session, 60), "0");
    EXPECT_EQ(Internal(*session, 61, "x'; DROP TABLE clientes --"), "0");
    EXPECT_EQ(Internal(*session, 62, "x'; DROP TABLE clientes --"), "0");
    EXPECT_EQ(Value("select count(*) from clientes"), "3");
    // PostgreSQL keeps no memo as a large object: the switch is refused.
    EXPECT_EQ(Internal(*session, 25, "CLOB"), "CLOB NOT SUPPORTED");
    EXPECT_EQ(Internal(*session, 89), "");
    EXPECT_EQ(Internal(*session, 18), "");
    // Complete join groups wait for the next open; an incomplete one says what it lacks.
    EXPECT_EQ(Internal(*session, 19, "SA1|X_;A1_NOME;A1_COD=B1_COD"), "0");
    EXPECT_EQ(Internal(*session, 19, "SB1;B1_DESC;B1_COD=C1_COD;SC1"), "1");
    EXPECT_EQ(Internal(*session, 19, "SC1;C1_DESC"), "2");
    EXPECT_EQ(Internal(*session, 19), "");

    EXPECT_EQ(Internal(*session, 10), "0");
    const std::string error = session->Exchange(OP_GETERROR);
    EXPECT_EQ(error.substr(0, 2), Short(19));
    EXPECT_TRUE(gmtest::Holds(error, "[WARNING] OP_INTERNAL 10 UNAVAILABLE.\n")) << error;
    session->Disconnect();
    const auto joins = session->server->GetDBConnection()->TakeJoinInfo();
    ASSERT_NE(joins, nullptr);
    EXPECT_EQ(joins->Count(), 2);
    session->End();
}

// The reports: numbers, the same thread list twice, and the structure-size block after the
// operating-system report.
TEST_F(DBServerInternal, Reports) {
    auto session = Connected();
    for (u8 number : {6, 7, 14, 16, 17}) {
        const std::string text = Internal(*session, number);
        char* end = nullptr;
        std::strtod(text.c_str(), &end);
        EXPECT_TRUE(!text.empty() && *end == '\0') << int{number} << ": " << text;
    }
    EXPECT_EQ(Internal(*session, 6), ThreadOf(*session));
    EXPECT_EQ(Internal(*session, 7), "1");
    const std::string list = Internal(*session, 81);
    EXPECT_FALSE(list.empty());
    EXPECT_EQ(Internal(*session, 82), list);
    EXPECT_FALSE(Internal(*session, 87).empty());
    EXPECT_FALSE(Internal(*session, 88).empty());
    const std::string os = Internal(*session, 24);
    const std::string block =
        "--------- Structure Sizes ---------\n"
        "char         1\nshort        2\nint          4\nfloat        4\ndouble       8\n"
        "long int     4\nlong double  8\nmschar       1\nmsint16      2\nmsint        4\n"
        "msfloat      4\nmsdouble     8\nmshandleF    4\nmshandleT    4\nClientHinfo  192\n"
        "ServerHinfo  539\n"
        "-----------------------------------\n";
    ASSERT_GT(os.size(), block.size());
    EXPECT_EQ(os.substr(os.size() - block.size()), block);
    session->Disconnect();
    session->End();
}

// The assertion hook ends only its connection; the fault hook only prints.
TEST_F(DBServerInternal, TestHooks) {
    gmtest::ConsoleCapture console;
    auto other = Connected();
    auto session = Connected();
    EXPECT_EQ(Internal(*session, 86, "GMLGENGPF"), "");
    EXPECT_TRUE(
        gmtest::Holds(console.Get(), "[INTERNAL] Gml Error Test - Exception Access Violation\n"));
    EXPECT_EQ(Internal(*session, 86, "gmlassert"), "");  // compared exactly
    const std::string assertKeyword = "GMLASSERT";
    EXPECT_EQ(session->Exchange(OP_INTERNALF, Call(86, &assertKeyword)), gmtest::kClosed);
    session->Join();
    EXPECT_TRUE(gmtest::Holds(console.Get(), "[INTERNAL] Gml Error Test - DoAssert Call\n"));
    EXPECT_TRUE(gmtest::Holds(console.Get(), "GML ASSERT TEST - Thread Finished")) << console.Get();
    session->End();
    EXPECT_EQ(Internal(*other, 80), "20110117");
    other->Disconnect();
    other->End();
}

}  // namespace
