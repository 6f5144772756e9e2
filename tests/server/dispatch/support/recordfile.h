// An open file for tests of the record-change, lock and order handlers: it answers as the test
// scripts it and records what the handlers asked of it, and client connections that have it open
// under id 1 from their start, with id 2 free. Its records are 4 bytes; its status block holds the
// counter 42.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/dispatch/dbserver.h"
#include "server/runtime/gmlthreads.h"
#include "server/tables/dbtable.h"
#include "tests/server/dispatch/support/dbserverfixture.h"
#include "tests/server/support/testfile.h"

namespace gmtest {

// How the file answers, and what it was asked. The server's thread writes calls; the test reads
// them once the reply has come.
struct RecordScript {
    std::mutex lock;
    bool writeOk = true;
    i32 nativeError = 0;
    f64 recno = 7.0;
    i16 code = RC_OK;  // of every operation that answers a code
    bool auditable = true;
    bool query = false;
    bool translated = true;              // what SetFilter says of the expression
    std::string holder = "bia|posting";  // what GetLockOwner gives
    std::vector<std::string> calls;

    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> hold(lock);
        return calls;
    }
};

class RecordFile : public TestFile {
public:
    static constexpr i64 kRecordLength = 4;

    RecordFile(RecordScript& script, tCommBuffer& reply)
        : TestFile(nullptr, std::make_shared<tTableDefinitionShared>("SA1010", "ERP"), reply, 1),
          script(script) {}

    void RecvRecord() override { reply.GetBytes(record, kRecordLength); }
    void SendRecord() override {
        reply.PutDouble(script.recno);
        reply.PutBytes(record, kRecordLength);
    }
    void SendStatus() override { PutStatus(42); }
    f64 GetRecno() override { return script.recno; }
    bool WriteRecord(i32& nativeError) override {
        Note("Write " + Record());
        nativeError = script.writeOk ? 0 : script.nativeError;
        return script.writeOk;
    }
    i16 UpdateRecord(f64 recno) override {
        return Answer("Update " + Number(recno) + " " + Record());
    }
    i16 DeleteR(f64 recno) override { return Answer("DeleteR " + Number(recno)); }
    i16 RecallR(f64 recno) override { return Answer("RecallR " + Number(recno)); }
    i16 Lock(u8 table, i32 recno) override {
        return Answer("Lock " + std::to_string(table) + " " + std::to_string(recno));
    }
    bool Unlock(u8 table, i32 recno) override {
        Note("Unlock " + std::to_string(table) + " " + std::to_string(recno));
        return false;  // as for a lock that is not held
    }
    void GetLockOwner(i32 recno, tString& text) override {
        Note("GetLockOwner " + std::to_string(recno));
        text = script.holder.c_str();
    }
    i16 SetOrder(i16 order) override { return Answer("SetOrder " + std::to_string(order)); }
    i16 SetDeletedFilter(u8 on) override {
        return Answer("SetDeletedFilter " + std::to_string(on));
    }
    i16 SrvMap(const char* fields) override { return Answer(std::string("SrvMap ") + fields); }
    bool SetFilter(const char* expression, bool& translated) override {
        translated = script.translated;
        return Answer(std::string("SetFilter ") + expression) == RC_OK;
    }
    i16 SetFilterEx(i16 level, const char* expression, tString& message) override {
        message = "translated";
        return Answer("SetFilterEx " + std::to_string(level) + " " + expression);
    }
    void BlobRead(i16 memoId, i32 recno, i32 length) override {
        reply.PutReturnCode(Answer("BlobRead " + std::to_string(memoId) + " " +
                                   std::to_string(recno) + " " + std::to_string(length)));
    }
    i16 BlobWrite(i16 memoId, const void* bytes, i32 count) override {
        const std::string data(static_cast<const char*>(bytes), static_cast<size_t>(count));
        return Answer("BlobWrite " + std::to_string(memoId) + " " + data);
    }
    bool IsAuditable() override { return script.auditable; }
    const char* GetTableName() override { return "SA1010"; }
    bool IsQuery() override { return script.query; }

private:
    void Note(const std::string& call) {
        std::lock_guard<std::mutex> hold(script.lock);
        script.calls.push_back(call);
    }
    i16 Answer(const std::string& call) {
        Note(call);
        return script.code;
    }
    std::string Record() const { return std::string(record, kRecordLength); }
    static std::string Number(f64 value) { return std::to_string(static_cast<long long>(value)); }

    RecordScript& script;
    char record[kRecordLength] = {'-', '-', '-', '-'};
};

// Reply pieces: the status block of a RecordFile that stands nowhere, a sent record.
inline std::string Status() { return std::string("\x01\x01\x00", 3) + Long(42); }
inline std::string Double(f64 value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}
inline std::string SentRecord(f64 recno, const std::string& record) {
    return Double(recno) + record;
}

// The trace lines of an ended connection, "(routine) text" each. The trace is switched off, so
// that the connection's end does not wait for a monitor to fetch its last line.
inline std::vector<std::string> TakeTraces(tDBServer& server) {
    std::vector<std::string> lines;
    f64 elapsed = 0;
    tString line;
    while (server.GetProperties()->GetTrace()->Take(elapsed, line)) {
        lines.push_back(line.GetText());
        line.Clear();
    }
    server.GetProperties()->SetTraced(0);
    return lines;
}

// Client connections to a scripted database, connected, with a RecordFile under id 1 and id 2
// free (a free id answers -10; an id outside the open-file table ends the connection).
class RecordHandlerTest : public DBServerTest {
protected:
    void SetUp() override { ScriptConnections(); }

    // A connection whose globals were started over these [General] lines first (when any).
    std::unique_ptr<Session> OpenWithFile(const std::string& ini = "") {
        if (!ini.empty()) {
            StartGlobals(ini);
            ScriptConnections();
        }
        return OpenConnected("MSSQL/ERP", "ERP", [this](tDBServer& server) {
            const i16 id = server.GetFreeFileId();
            server.SetFile(id, std::make_unique<RecordFile>(file, *server.GetCommBuffer()));
            server.GetFreeFileId();  // the table grows by the free id 2
        });
    }

    RecordScript file;
};

}  // namespace gmtest
