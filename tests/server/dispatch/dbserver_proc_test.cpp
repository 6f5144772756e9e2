// Stored-procedure calls: the values each parameter letter carries, the results as the reply
// encodes them, the call text in the trace and the log, the row limit restored on every path,
// and the refusals of names and counts.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lib_common/opcodes.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"
#include "tests/server/dispatch/support/dbserverfixture.h"
#include "tests/server/dispatch/support/tracelines.h"

namespace {

using gmtest::kClosed;
using gmtest::Short;

std::string Text(const std::string& text) { return text + '\0'; }
std::string Double(f64 value) { return std::string(reinterpret_cast<const char*>(&value), 8); }

// A connection whose procedures answer a text, an integer and a number, or fail with code; it
// records each call's name, its parameters ("type/length/value") and the row limit it ran under.
class ProcConnection : public gmtest::ScriptedConnection {
public:
    using ScriptedConnection::ScriptedConnection;

    i16 ExecSP(const char* name, tArray<tDATAField>& inputs, tArray<tDATAField>& outputs) override {
        std::string call = std::string(name) + " limit " + std::to_string(GetRowCount());
        for (i32 i = 0; i < inputs.Count(); ++i) {
            tDATAField& f = *inputs.Get(i);
            call += " " + std::string(1, static_cast<char>(f.GetType())) + "/" +
                    std::to_string(f.GetLen()) + "/";
            if (f.GetType() == 'N') {
                f64 value = 0;
                std::memcpy(&value, f.GetData(), sizeof value);
                call += std::to_string(value);
            } else {
                call += static_cast<const char*>(f.GetData());
            }
        }
        calls.push_back(call);
        if (code < 0) return code;
        auto text = std::make_unique<tCharField>("R1", 'C', 10, 0);
        text->SetData("  ab  ", 6);
        auto integer = std::make_unique<tIntegerField>("R2", 'I', 4, 0);
        const i32 minusOne = -1;
        integer->SetData(&minusOne, sizeof minusOne);
        auto number = std::make_unique<tNumericField>("R3", 'N', 15, 2);
        const f64 three = 3.0;
        number->SetData(&three, sizeof three);
        outputs.Add(text.release());
        outputs.Add(integer.release());
        outputs.Add(number.release());
        return RC_OK;
    }

    std::vector<std::string> calls;
    i16 code = RC_OK;
};

class DBServerProc : public gmtest::DBServerTest {
protected:
    void SetUp() override { UseProcConnections(); }
    void UseProcConnections() {
        ScriptConnections();
        SetDBConnectionFactory(
            [this](const tDBConnectionRequest& request, std::unique_ptr<tDBConnection>& out) {
                auto conn = std::make_unique<ProcConnection>(script, request);
                made = conn.get();
                out = std::move(conn);
                return tDBTypeAnswer::Made;
            });
    }
    ProcConnection* made = nullptr;
};

TEST_F(DBServerProc, ParametersByLetterAndResultsByTypeWithTheCallTraced) {
    auto session = OpenConnected();
    tDBServer& server = *session->server;
    made->SetRowCount(7);
    gmtest::TraceOn(*globals, server);
    const std::string request =
        Text("P") + Short(5) + "A" + Text("a") + "X" + "F" + Double(2.5) + "L" + "x" + "Q";
    EXPECT_EQ(session->Exchange(OP_SPEXEC, request),
              Short(3) + "C" + Text("ab") + "I" + Double(-1.0) + "N" + Double(3.0));
    // X and Q carry nothing: the F after X arrives whole, the call gets three values.
    ASSERT_EQ(made->calls.size(), 1u);
    EXPECT_EQ(made->calls[0], "P limit 0 C/1/a N/15/2.500000 C/1/x");
    EXPECT_EQ(made->GetRowCount(), 7);
    const std::string trace = gmtest::TakeTrace(*globals, server);
    EXPECT_NE(trace.find("-- CALL P ('a',2,'x') RETURN ('ab',4294967295,3)"), std::string::npos)
        << trace;

    made->code = RC_SP_REFUSED;
    EXPECT_EQ(session->Exchange(OP_SPEXEC, Text("Q") + Short(0)), Short(RC_SP_REFUSED));
    EXPECT_EQ(made->GetRowCount(), 7);
    gmtest::TraceOff(*globals, server);
    session->Disconnect();
    session->End();
    bool logged = false;
    for (const std::string& entry : LogEntries()) {
        logged = logged || entry.find("-- CALL Q () FAILED.") != std::string::npos;
    }
    EXPECT_TRUE(logged);
}

TEST_F(DBServerProc, BadNamesAndCountsCallNothing) {
    auto session = OpenConnected();
    const struct {
        const char* name;
        std::string request;
        std::string reply;
    } cases[] = {
        {"name that is no identifier", Text("P; DROP TABLE X") + Short(0), Short(RC_FAILED)},
        {"empty name", Text("") + Short(0), Short(RC_FAILED)},
        {"negative count", Text("P") + Short(-1), Short(RC_FAILED)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(session->Exchange(OP_SPEXEC, c.request), c.reply);
    }
    EXPECT_TRUE(made->calls.empty());
    // A text that runs past the request ends the connection.
    EXPECT_EQ(session->Exchange(OP_SPEXEC, Text("P") + Short(1) + "A" + "abc"), kClosed);
    session->Join();
    EXPECT_TRUE(made->calls.empty());
    session->End();
}

TEST_F(DBServerProc, CallIsAuditedAtLevelTwoUnlessSwitchedOff) {
    const struct {
        const char* ini;
        size_t records;
    } cases[] = {
        {"AuditLog=1\nAuditServer=aud\nAuditLevel=2\n", 1},
        {"AuditLog=1\nAuditServer=aud\nAuditLevel=1\n", 0},
        {"AuditLog=1\nAuditServer=aud\nAuditLevel=2\nAuditProcExec=0\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini);
        StartGlobals(c.ini);
        UseProcConnections();
        gmtest::AuditRecorder recorder;
        gmtest::RecordingAuditMaker maker(recorder);
        auto session = OpenConnected();
        EXPECT_EQ(session->Exchange(OP_SPEXEC, Text("P") + Short(1) + "A" + Text("a")).substr(0, 2),
                  Short(3));
        session->Disconnect();
        session->End();
        const std::vector<std::string> records = recorder.Records();
        ASSERT_EQ(records.size(), c.records);
        if (c.records) {
            EXPECT_EQ(records[0].rfind("X||0||-- CALL P ('a') RETURN ('ab',4294967295,3)|", 0), 0u)
                << records[0];
        }
    }
}

}  // namespace
