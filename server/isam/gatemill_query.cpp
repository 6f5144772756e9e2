// The query file: runs and re-runs of its query, forward moves, rows copied into the record
// layout of a table file, the structure of a prepared statement's result, and its description.
//
// Record layout:
//  (1) Every data field of the definition lies at its stored offset and takes FieldRecordSize
//      bytes, all within the definition's record length; the record buffer has that length.
//  (2) Result column c feeds the c-th field that is neither missing nor a memo.
#include "server/isam/gatemill_query.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "lib_base/gmlassert.h"
#include "lib_common/commbuffer.h"
#include "lib_common/fieldsize.h"
#include "lib_common/retcodes.h"
#include "server/isam/dbconn.h"
#include "server/isam/dbprocess.h"
#include "server/tables/dbtable.h"

namespace {

const char* YesOrNo(bool b) { return b ? "YES" : "NO"; }

// Reverses the 8 bytes of every N field, for a client of the other byte order.
void SwapNumbers(const tTableDefinition& def, std::vector<char>& record) {
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField* f = def.GetField(i);
        if (!f->IsData() || f->GetType() != 'N') continue;
        char* p = record.data() + f->GetOffset();
        std::reverse(p, p + 8);
    }
}

}  // namespace

tQueryFile::tQueryFile(tDBConnection* connection, std::unique_ptr<tTableDefinition> def,
                       tCommBuffer& reply, u32 lockOwner, std::unique_ptr<tStatement> statement,
                       const char* query)
    : tGenericFile(connection, std::move(def), reply, lockOwner),
      queryText(query),
      statement(std::move(statement)) {
    GML_ASSERT(this->statement != nullptr, "query file without a statement");
    // A query file stands on its run's first row until it moves.
    bof = false;
    eof = false;
    record.assign(tableDef->GetRecLen(), 0);
    if (DBProcess().GetLogFull()) this->statement->SetOwnerFile(this);
}

tQueryFile::~tQueryFile() = default;

bool tQueryFile::RunAgain() {
    if (prepared) {
        statement->ReleasePreparedStmt();
        return statement->BindParam(nullptr);
    }
    statement->Close();
    return statement->ExecDirect(queryText, "tQueryFile::GoTop", 1);
}

bool tQueryFile::GoTop() {
    if (stillOnFirst) return true;
    // A prepared file without a bound run has nothing to read yet.
    const bool runnable = !prepared || bound;
    eof = !runnable;
    bof = !runnable;
    if (!runnable) return false;
    if (executedOnce) RunAgain();  // a failure is reported; the fetch then finds no row
    rowCounter = 1.0;
    executedOnce = true;
    if (statement->Fetch()) {
        stillOnFirst = true;
        MapRow();
        return true;
    }
    eof = true;
    bof = true;
    return false;
}

bool tQueryFile::GoBottom() { return false; }

bool tQueryFile::GoTo(f64, bool) { return false; }

bool tQueryFile::Skip(i32 count) {
    // Backward counts move forward too.
    const i64 steps = count < 0 ? -static_cast<i64>(count) : count;
    stillOnFirst = false;
    for (i64 i = 0; i < steps; ++i) {
        if (!eof) rowCounter += 1.0;
        if (!statement->Fetch()) {
            eof = true;
            return false;
        }
    }
    eof = false;
    MapRow();
    return true;
}

bool tQueryFile::Close() {
    if (prepared) {
        if (bound) statement->ReleasePreparedStmt();
        bound = false;
        eof = true;
        bof = true;
        found = false;
        executedOnce = false;
        stillOnFirst = false;
    }
    return !bound;
}

void tQueryFile::MapRow() {
    std::fill(record.begin(), record.end(), 0);
    const tTableDefinition& def = *tableDef;
    i16 column = 0;
    for (i32 i = 0; i < def.GetFieldCount(); ++i) {
        const tField* f = def.GetField(i);
        if (f->GetType() == 'M') continue;
        const u32 size = FieldRecordSize(f->GetType(), f->GetLen());
        const u32 offset = f->GetOffset();
        if (size > 0 && (offset > record.size() || size > record.size() - offset)) {
            char text[96];
            std::snprintf(text, sizeof text,
                          "Invalid Mapping [%c] Size Offset %i FieldLen %i Reclen %i \n",
                          f->GetType(), static_cast<int>(offset), static_cast<int>(size),
                          static_cast<int>(record.size()));
            DoAssert(__FILE__, __LINE__, text, 0);
        }
        char* at = record.data() + offset;
        switch (f->GetType()) {
            case 'C':
            case 'D': {
                const char* text = statement->FieldAsPChar(column);
                if (text) std::memcpy(at, text, strnlen(text, size));
                break;
            }
            case 'N': {
                const f64 value = statement->FieldAsDouble(column);
                std::memcpy(at, &value, sizeof value);
                break;
            }
            case 'L': {
                const char* text = statement->FieldAsPChar(column);
                *at = text && std::strcmp(text, "T") == 0 ? 'T' : 'F';
                break;
            }
            default:
                break;  // sized letters stay zero-filled; the column is used up all the same
        }
        ++column;
    }
}

bool tQueryFile::DescribeResult() {
    tTableDefinition& def = *tableDef;
    if (def.GetFieldCount() > 0) return true;
    const i16 count = statement->GetColumnCount();
    if (count <= 0) return false;
    def.SetFieldCapacity(count);
    const tColumnDesc* columns = statement->GetColumns();
    for (i16 c = 0; c < count; ++c) {
        const tColumnDesc& d = columns[c];
        switch (d.type) {
            case 'B':
            case 'C':
            case 'E':
            case 'H':
            case 'Y':
                def.AddField(d.name, d.type, static_cast<i16>(d.bufferLength - 1), 0, true, true);
                break;
            case 'G':
            case 'J':
            case 'K':
                def.AddField(d.name, d.type, d.bufferLength, 0, true, true);
                break;
            case 'N':
                def.AddField(d.name, 'N', 15, static_cast<u16>(d.decimals), true, true);
                break;
            default:
                break;
        }
    }
    record.assign(def.GetRecLen(), 0);
    return true;
}

bool tQueryFile::BindQueryParam(std::unique_ptr<tAutoArray<tDATAField>> values) {
    const bool ok = statement->BindParam(std::move(values));
    if (ok) {
        bound = true;
        // The next GoTop reads this run.
        executedOnce = false;
        stillOnFirst = false;
        DescribeResult();
    }
    return ok;
}

void tQueryFile::SendRecord() {
    reply.PutDouble(rowCounter);
    if (record.empty()) return;
    if (!reply.IsSwapped()) {
        reply.PutBytes(record.data(), record.size());
        return;
    }
    swapRecord = record;
    SwapNumbers(*tableDef, swapRecord);
    reply.PutBytes(swapRecord.data(), swapRecord.size());
}

void tQueryFile::SendStatus() { PutStatus(0); }

f64 tQueryFile::GetRecno() { return rowCounter; }

i16 tQueryFile::SetFilterEx(i16, const char*, tString&) {
    connection->SetError(RC_NOT_SUPPORTED, "tQueryFile::SetFilterEx", "Invalid Operation in Query.",
                         this);
    return RC_NOT_SUPPORTED;
}

bool tQueryFile::IsQuery() { return true; }

bool tQueryFile::PrepareCatalogQuery() { return false; }

void tQueryFile::DumpInfo(tString& out) {
    tString line;
    out += "\n[QUERY FILE INFORMATION]\n";
    line.sprintf("Query still on Begin .....: %s\n", YesOrNo(stillOnFirst));
    out += line;
    line.sprintf("Query Begin Read Op ......: %s\n", YesOrNo(executedOnce));
    out += line;
    line.sprintf("Current Record ...........: %.0f\n", rowCounter);
    out += line;
    out += "Query Statement ..........: ";
    out += queryText;
    out += "\n";
    tGenericFile::DumpInfo(out);
}
