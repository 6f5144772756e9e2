// The statement base: its column descriptors and the typed readers of a fetched value, with
// their operation-log lines; and the connection pool.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib_base/printer.h"
#include "lib_common/retcodes.h"
#include "server/isam/dbconn.h"
#include "server/tables/dbtable.h"

tStatement::tStatement(tDBConnection* connection) : connection(connection) {}

tStatement::~tStatement() { tStatement::FreeColumns(); }

void* tStatement::GetHandle() { return nullptr; }
void tStatement::Open(u8) {}
void tStatement::Close() {}
i32 tStatement::GetRetCode() { return lastFailure; }
bool tStatement::Prepare(const char*, const char*) { return false; }
bool tStatement::IsOpened() { return opened; }
bool tStatement::ExecRecnoStmt(const char*, f64, const char*) { return false; }
bool tStatement::ExecSqlStmt(const char*) { return false; }
bool tStatement::ReleasePreparedStmt() { return false; }
bool tStatement::BindParam(std::unique_ptr<tAutoArray<tDATAField>>) { return false; }
bool tStatement::ExecDirect(const char*, const char*, u8) { return false; }
bool tStatement::ExecWithRecno(const char*, f64, const char*) { return false; }
bool tStatement::BindResult(u8) { return false; }
bool tStatement::IsSelect(const char* sql) { return connection->IsQueryStmt(sql); }
bool tStatement::GetBlob(const char*, void*, i32&) { return false; }
bool tStatement::ExecParam(const char*, const void*, i32, i16) { return false; }
bool tStatement::BindCols(i16) { return false; }
bool tStatement::Fetch() { return false; }

void tStatement::FreeColumns() {
    columns.reset();
    indicators.reset();
    allocatedColumns = 0;
}

void tStatement::AllocColumns(i16 count) {
    FreeColumns();
    if (count <= 0) return;
    columns.reset(new tColumnDesc[count]());
    indicators.reset(new u8[count]());
    allocatedColumns = count;
}

tColumnDesc& tStatement::Column(i16 column) {
    GML_ASSERT(column >= 0 && column < allocatedColumns, "column outside the result");
    return columns[column];
}

char* tStatement::ColumnText(i16 column, const char* reader) {
    tColumnDesc& d = Column(column);
    char* text;
    if (d.type == 'N') {
        // Numbers are kept in place: write the value, never read it as an address.
        numberText[0] = '\0';
        if (d.returnedLength >= 1 && d.nullMarker != -1) {
            std::snprintf(numberText, sizeof numberText, "%.15g", d.value.number);
        }
        text = numberText;
    } else {
        text = d.value.text;
        if (!text) {
            BasePrintf("[WARNING] %s %i NOT FOUND.\n", reader, column);
            return nullptr;
        }
        if (d.returnedLength < 1) std::memset(text, 0, static_cast<size_t>(d.bufferLength));
    }
    if (connection && connection->IsOpLog()) {
        tString line;
        line.sprintf("Fld %i Name %s Ret [%s]", column, d.name, text);
        tString routine("tStatement::");
        routine += reader;
        connection->OpLogMsg(routine, line);
    }
    return text;
}

tString& tStatement::FieldAsString(tString& out, i16 column) {
    const char* text = ColumnText(column, "FieldAsString");
    out = text ? text : "";
    return out;
}

f64 tStatement::FieldAsDouble(i16 column) {
    tColumnDesc& d = Column(column);
    f64 value;
    if (d.type == 'C') {
        value = d.value.text && d.returnedLength >= 1 ? std::strtod(d.value.text, nullptr) : 0.0;
    } else {
        if (d.returnedLength <= 0 || d.nullMarker == -1) d.value.number = 0.0;
        value = d.value.number;
    }
    if (connection && connection->IsOpLog()) {
        tString line;
        line.sprintf("Fld %i Name %s Ret [%15.4f]", column, d.name, value);
        connection->OpLogMsg("tStatement::FieldAsDouble", line);
    }
    return value;
}

char* tStatement::FieldAsPChar(i16 column) { return ColumnText(column, "FieldAsPChar"); }

i16 tStatement::SPExec(const char*, const char*, tArray<tDATAField>&, tArray<tDATAField>&) {
    return -1;
}

bool tStatement::ExecSpecial(const char*, tArray<tBindParam>&, const char*, u8) { return false; }

tConnectionPool::tConnectionPool() : tRWLock("tConnectionPool") {}

tConnectionPool::~tConnectionPool() {
    tWriting hold(this, __FILE__, __LINE__);
    while (Count() > 0) {
        std::unique_ptr<tDBConnection> member(Get(0));
        Delete(0);
        if (member->IsConnected()) {
            member->Rollback();
            member->EndCmtCtl();
        }
    }
}
