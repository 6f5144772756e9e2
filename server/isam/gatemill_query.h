// tQueryFile: the rows of a client's query, or of a statement prepared for runs with bound
// parameters, as a read-only, forward-only work area in the record layout of a table file.
#pragma once
#include <memory>
#include <vector>

#include "lib_base/gmlalloc.h"
#include "lib_base/list.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"
#include "server/isam/gatemill.h"

class tDATAField;

// A query's result read row by row. The connection makes it after running the query (or, for a
// prepared file, after preparing it) and hands it the statement and the structure of the
// result, both of which the file owns from then on. The first GoTop fetches the first row of
// that run; every later GoTop runs the query again, unless the first row of a fresh run is
// still current. Moves go forward only; each row is copied into a record buffer laid out like a
// table file's record. Used by its session's thread only.
class tQueryFile : public tGenericFile {
public:
    // def: the fields of the result (none yet for a prepared file; DescribeResult adds them).
    tQueryFile(tDBConnection* connection, std::unique_ptr<tTableDefinition> def, tCommBuffer& reply,
               u32 lockOwner, std::unique_ptr<tStatement> statement, const char* query);
    ~tQueryFile() override;

    // ---- Operations of the generic file.
    bool GoTop() override;
    bool GoBottom() override;       // false: a query file moves forward only
    bool GoTo(f64, bool) override;  // false
    bool Skip(i32 count) override;  // forward by |count| rows; false past the last
    // A prepared file lets go of its bound run (the statement stays prepared) and stands
    // nowhere, ready to be bound again; true. Other query files stay as they are.
    bool Close() override;
    void SendRecord() override;  // the row counter, then the record buffer
    void SendStatus() override;  // BOF, EOF, FOUND and a record count of 0
    f64 GetRecno() override;     // the row counter
    i16 SetFilterEx(i16 level, const char* expression, tString& message) override;  // -13
    bool IsQuery() override;
    void DumpInfo(tString& out) override;

    // ---- Its own operations, after the generic ones.
    // Called on the table-list query before it is opened; a driver may rename the result's
    // column there. Base false.
    virtual bool PrepareCatalogQuery();
    // Binds the values (the statement owns them from here) and runs the prepared statement; on
    // success the file has an open run and, when it had none, a structure.
    virtual bool BindQueryParam(std::unique_ptr<tAutoArray<tDATAField>> values);

    // Copies the statement's current row into the record buffer.
    void MapRow();
    // Gives a file without fields one field per result column of the statement; false when the
    // statement has no result columns.
    bool DescribeResult();

    void SetPrepared() { prepared = true; }
    bool HasOpenStatement() const { return bound; }
    // The bind handler sends the structure once after the first successful bind.
    bool IsStructurePending() const { return structurePending; }
    void ClearStructurePending() { structurePending = false; }
    tStatement& GetStatement() const { return *statement; }
    const tString& GetQueryText() const { return queryText; }

    GML_CLASS_ALLOCATOR(tQueryFile, Mem_QueryFile)

protected:
    // The session's thread only.
    f64 rowCounter = 0.0;      // the current row, from 1; sent as the record number
    std::vector<char> record;  // the definition's record length
    std::vector<char> swapRecord;
    tString queryText;
    bool stillOnFirst = false;  // the first row of a fresh run is current
    bool executedOnce = false;  // a GoTop has used a run; the next one runs again
    bool bound = false;         // a prepared file's run is open
    bool structurePending = true;
    std::unique_ptr<tStatement> statement;

private:
    bool RunAgain();
};
