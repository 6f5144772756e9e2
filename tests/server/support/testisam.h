// A table file of the base dialect with its protected state open to the tests, and the table
// that the tests open.
#pragma once
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "lib_common/commbuffer.h"
#include "server/filter/filterengine.h"
#include "server/isam/gatemill.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/testconn.h"
#include "tests/server/support/testprocess.h"
#include "tests/server/support/testsession.h"

namespace gmtest {

inline std::unique_ptr<tIndexDefinition> MakeIndex(const char* name,
                                                   std::initializer_list<i16> fields) {
    auto index = std::make_unique<tIndexDefinition>(name, false);
    for (i16 f : fields) index->AddField(f);
    return index;
}

// The SQL of the client filter through the file's hooks, or "(fallback)" when it was not all
// translated. The filter is given without the quotes that the client puts around it.
inline std::string TranslateFilter(tISAMFile& file, const std::string& filter) {
    std::vector<char> text(filter.begin(), filter.end());
    text.insert(text.begin(), '\'');
    text.push_back('\'');
    text.push_back('\0');
    tFilterEngine engine(file, text.data());
    tString out;
    engine.Translate(out);
    return engine.IsTranslated() ? out.GetText() : "(fallback)";
}

class TestISAMFile : public tISAMFile {
public:
    using tISAMFile::tISAMFile;

    void AddFilter(i16 level, const char* text) { filterList.Add(new tFilterNode(level, text)); }
    void SetDeletedHidden(bool on) { deletedFilter = on; }
    void SetFilterIndex(std::unique_ptr<tIndexDefinition> index) { filterIndex = std::move(index); }
    char* CurrentRecord() { return currentRecord.data(); }
    size_t CurrentRecordSize() const { return currentRecord.size(); }
    size_t IncomingRecordSize() const { return incomingRecord.size(); }
    const std::vector<u8>& FieldMap() const { return fieldMap; }
    void SetFieldRead(i32 fieldNo, bool read) { fieldMap.at(static_cast<size_t>(fieldNo)) = read; }
    void SetJoins(std::unique_ptr<tAutoArray<tJoinInfo>> joins) { SetJoinInfo(std::move(joins)); }
    char* IncomingRecord() { return incomingRecord.data(); }
    void AcceptIncoming() { currentRecord = incomingRecord; }
    bool IsHeld(f64 recno) const { return heldRecno == recno; }
    void HoldLock(f64 recno) { lockedList.Add(recno); }
    tAutoArray<tBlobNode>& Blobs() { return blobList; }
    bool IsEof() const { return eof; }
    void SetMoveFlags(bool needFirstOn, bool srvDirtyOn) {
        needFirst = needFirstOn;
        srvDirty = srvDirtyOn;
    }
};

// The shared definition of CLIENTES:
//   0 NOME C 10, 1 CIDADE C 8, 2 VALOR N 12,2, 3 DATA D 8, 4 ATIVO L 1, 5 R_E_C_N_O_,
//   6 D_E_L_E_T_ C 1, 7 R_E_C_D_E_L_
// (record offsets 0, 10, 18, 26, 34 and 35; record length 36), with the indexes
// CLI1 (NOME, CIDADE, R_E_C_N_O_) and CLI2 (VALOR, D_E_L_E_T_, R_E_C_N_O_).
inline std::shared_ptr<tTableDefinitionShared> ClientesDefinition() {
    auto def = std::make_shared<tTableDefinitionShared>("CLIENTES", "PRODUCAO");
    def->AddField("NOME", 'C', 10, 0, true, true);
    def->AddField("CIDADE", 'C', 8, 0, true, true);
    def->AddField("VALOR", 'N', 12, 2, true, true);
    def->AddField("DATA", 'D', 8, 0, true, true);
    def->AddField("ATIVO", 'L', 1, 0, true, true);
    def->AddField("R_E_C_N_O_", 'N', 15, 0, false, true);
    def->AddField("D_E_L_E_T_", 'C', 1, 0, true, true);
    def->AddField("R_E_C_D_E_L_", 'N', 15, 0, false, true);
    def->AddIndex(MakeIndex("CLI1", {0, 1, 5}));
    def->AddIndex(MakeIndex("CLI2", {2, 6, 5}));
    return def;
}

// What a table-file test stands on: the process services, a session locking through its own
// lock server, a test connection, a reply buffer and the CLIENTES definition.
struct IsamTestBed {
    IsamTestBed() { conn.SetDBServer(&session); }
    // The next execution whose text starts with prefix returns these record numbers.
    void ScriptRecnos(const std::vector<f64>& recnos, const char* prefix = "") {
        ScriptedResult result{prefix, {}};
        for (f64 recno : recnos) result.rows.push_back({std::to_string(static_cast<i64>(recno))});
        conn.results.push_back(result);
    }
    std::unique_ptr<TestISAMFile> MakeFile() {
        auto file = std::make_unique<TestISAMFile>(&conn, def, reply, session.threadId);
        file->SetDBServer(&session);
        return file;
    }

    TestDBProcess process;
    TestSession session;
    TestConnection conn;
    tCommBuffer reply;
    std::shared_ptr<tTableDefinitionShared> def = ClientesDefinition();
};

}  // namespace gmtest
