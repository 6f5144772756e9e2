// Client connections whose database connection makes table files that answer as a test scripts
// them and note what they are asked, for tests of the table handlers over a real loopback socket.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "lib_base/gmlassert.h"
#include "lib_common/commbuffer.h"
#include "server/isam/dbprocess.h"
#include "server/isam/gatemill.h"
#include "server/tables/dbtable.h"
#include "tests/server/dispatch/support/dbserverfixture.h"
#include "tests/server/dispatch/support/tracelines.h"
#include "tests/server/support/testfile.h"

namespace gmtest {

// How the files and the connection answer, and what they were asked. Written by the client
// connection's thread while it serves a request; the test reads it between requests.
struct FileScript {
    bool makeFile = true;       // NewISAMFile gives a file
    bool assertOnOpen = false;  // Open raises an assertion, as a join to a missing table does
    bool queueJoin = false;     // the connection holds a join description once it is up
    bool preparedQuery = false;
    bool query = false;      // a query's result that was not prepared
    bool auditable = false;  // the file's answer to IsAuditable
    bool moves = true;       // the answer of every move
    i16 seekCode = 0;
    i16 lockCode = 0;
    f64 recno = 7;
    bool canOpen = false;  // the database catalogue's answer
    bool spExists = false;
    // Answers of the virtual-index look-ups, queued as the connection comes up; with none left a
    // look-up finds the index.
    std::vector<bool> virtualIndexes;
    std::vector<std::string> calls;
};

// A table file that never touches a database: its moves set its status flags and answer as
// scripted, its record is the record number and "REC", and a seek key is 4 bytes.
class ScriptedFile : public TestFile {
public:
    ScriptedFile(tDBConnection* conn, std::shared_ptr<tTableDefinition> def, tCommBuffer& reply,
                 u32 owner, FileScript& script)
        : TestFile(conn, std::move(def), reply, owner), script(script) {
        prepared = script.preparedQuery;
        query = script.query || prepared;
    }
    ~ScriptedFile() override { script.calls.push_back("deleted"); }

    bool Open(u16 id) override {
        script.calls.push_back("Open " + std::to_string(id) + (joinList ? " joined" : ""));
        GML_ASSERT(!script.assertOnOpen, "*** FAILED TO OBTAIN JOIN TABLE DEFINITION ***");
        return tGenericFile::Open(id);
    }
    bool GoTop() override { return Move("GoTop"); }
    bool GoBottom() override { return Move("GoBottom"); }
    bool GoTo(f64 recno, bool reread) override {
        return Move("GoTo " + std::to_string(static_cast<i64>(recno)) + (reread ? " reread" : ""));
    }
    bool Skip(i32 count) override { return Move("Skip " + std::to_string(count)); }
    bool Close() override {
        script.calls.push_back("Close");
        return true;
    }
    void SendRecord() override {
        reply.PutDouble(script.recno);
        reply.PutBytes("REC", 3);
    }
    void RecvRecord() override {
        i32 key = 0;
        reply.GetLong(key);
        script.calls.push_back("RecvRecord " + std::to_string(key));
    }
    f64 GetRecno() override { return script.recno; }
    i16 Seek(i16 keyFields, i16 keyLength, u8 soft) override {
        script.calls.push_back("Seek " + std::to_string(keyFields) + " " +
                               std::to_string(keyLength) + " " + std::to_string(soft));
        bof = false;
        found = script.seekCode == 0;
        eof = script.seekCode == -25;
        return script.seekCode;
    }
    i16 Lock(u8 table, i32 recno) override {
        script.calls.push_back("Lock " + std::to_string(table) + " " + std::to_string(recno));
        return script.lockCode;
    }
    i32 GetOrder() override { return 2; }
    bool IsAuditable() override { return script.auditable; }
    // What the open handler set on the file.
    bool IsReadOnly() const { return readOnly; }
    bool IsExclusiveSet() const { return exclusive; }
    bool HasAuditHandle() const { return auditHandle != nullptr; }
    const char* GetTableName() override { return GetTableDef()->GetName(); }
    bool IsQuery() override { return query; }

private:
    bool Move(const std::string& call) {
        script.calls.push_back(call);
        bof = !script.moves;
        eof = !script.moves;
        found = script.moves;
        return script.moves;
    }

    FileScript& script;
    bool query;
};

// The scripted connection, making scripted files and answering the catalogue as scripted.
class FileConnection : public ScriptedConnection {
public:
    FileConnection(ConnScript& conns, const tDBConnectionRequest& request, FileScript& script)
        : ScriptedConnection(conns, request), script(script) {}

    bool Connect() override {
        const bool up = ScriptedConnection::Connect();
        if (script.queueJoin) AddJoinInfo(std::make_unique<tJoinInfo>("SA2010", "A2_NOME", "", ""));
        for (bool exists : script.virtualIndexes) {
            ScriptedResult answer{"SELECT IDX_NAME FROM GML_VIRTUALIDX", {}};
            if (exists) answer.rows.push_back({"IDX"});
            results.push_back(answer);
        }
        return up;
    }
    tGenericFile* NewISAMFile(tCommBuffer& reply,
                              const std::shared_ptr<tTableDefinitionShared>& def,
                              u32 owner) override {
        script.calls.push_back(std::string("NewISAMFile ") + def->GetName());
        if (!script.makeFile) return nullptr;
        return new ScriptedFile(this, def, reply, owner, script);
    }
    bool CanOpen(const char* table, const char* index) override {
        script.calls.push_back(std::string("CanOpen ") + table + " " + (index ? index : "(null)"));
        return script.canOpen;
    }
    bool SPExist(const char* name) override {
        script.calls.push_back(std::string("SPExist ") + name);
        return script.spExists;
    }

private:
    FileScript& script;
};

// SA1010 of alias ERP: A1_NOME C 10, R_E_C_N_O_, D_E_L_E_T_ C 1 (record length 11), indexed by
// SA1010_NOME (A1_NOME, R_E_C_N_O_).
inline std::unique_ptr<tTableDefinitionShared> Sa1010Definition() {
    auto def = std::make_unique<tTableDefinitionShared>("SA1010", "ERP");
    def->AddField("A1_NOME", 'C', 10, 0, true, true);
    def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
    def->AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    auto index = std::make_unique<tIndexDefinition>("SA1010_NOME", false);
    index->AddField(0);
    index->AddField(1);
    def->AddIndex(std::move(index));
    return def;
}

// The open reply of SA1010 after code and id: record length, structure, and a status block of
// a file standing nowhere with the engine's counter at 0.
inline std::string Sa1010OpenReply() {
    return Long(11) + Short(2) + "A1_NOME" + '\0' + 'C' + Short(10) + Short(0) + "D_E_L_E_T_" +
           '\0' + 'C' + Short(1) + Short(0) + std::string("\x01\x01\x00", 3) + Long(0);
}

// Client connections to alias ERP whose connections make scripted files, with SA1010 cached.
class TableHandlerTest : public DBServerTest {
protected:
    void SetUp() override { ScriptFiles(); }
    // After a StartGlobals: the factory again, and SA1010 in the new globals' cache.
    void ScriptFiles() {
        SetDBConnectionFactory(
            [this](const tDBConnectionRequest& request, std::unique_ptr<tDBConnection>& out) {
                out = std::make_unique<FileConnection>(script, request, files);
                return tDBTypeAnswer::Made;
            });
        DBProcess().GetTableCache().Add(Sa1010Definition(), "ERP");
    }
    std::vector<std::string> TakeCalls() {
        std::vector<std::string> calls;
        calls.swap(files.calls);
        return calls;
    }
    void TraceOn(tDBServer& server) { gmtest::TraceOn(*globals, server); }
    void TraceOff(tDBServer& server) { gmtest::TraceOff(*globals, server); }
    std::string TakeTrace(tDBServer& server) { return gmtest::TakeTrace(*globals, server); }

    FileScript files;
};

}  // namespace gmtest
