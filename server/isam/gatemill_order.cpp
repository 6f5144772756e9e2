// Orders and indexes of a table file: choosing the order, creating an index from a dBASE-style
// key, rebuilding the mirror definition, and the index list of the open reply.
#include <cstdio>
#include <cstring>

#include "lib_base/gmlassert.h"
#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "lib_common/sqltext.h"
#include "server/isam/dbconn.h"
#include "server/isam/gatemill.h"
#include "server/tables/dbtable.h"

namespace {

// The column a key term names: after the last "(", after an alias's "->", up to a blank, ")"
// or ",". "DTOS(ALIAS->DATA,8)" names DATA.
tString KeyTermField(const tString& term) {
    const char* start = term.GetText();
    if (const char* paren = std::strrchr(start, '(')) start = paren + 1;
    if (const char* arrow = std::strchr(start, '>')) start = arrow + 1;
    while (*start == ' ') ++start;
    const char* end = start;
    while (*end && *end != ' ' && *end != ')' && *end != ',') ++end;
    return tString(start, static_cast<i32>(end - start) + 1);
}

// The terms of a key between its "+" signs, empty ones included.
std::vector<tString> KeyTerms(const char* key) {
    std::vector<tString> terms;
    for (;;) {
        const char* plus = std::strchr(key, '+');
        const i32 length = plus ? static_cast<i32>(plus - key) : static_cast<i32>(std::strlen(key));
        terms.emplace_back(key, length + 1);
        if (!plus) return terms;
        key = plus + 1;
    }
}

}  // namespace

i16 tISAMFile::SetOrder(i16 newOrder) {
    if (newOrder < 0 || newOrder > mirror->GetIndexCount()) return RC_BAD_INDEX;
    order = newOrder;
    const tString map(mapText);  // the field map applies to the new order
    SrvMap(map);
    return RC_OK;
}

bool tISAMFile::CreateIndex(const char* name, const char* key) {
    if (!IsSqlIdentifier(name)) {
        tString message("Invalid index name [");
        message += name;
        message += "].";
        connection->SetError(RC_FAILED, "tISAMFile::CreateIndex", message, this);
        return false;
    }
    auto index = std::make_unique<tIndexDefinition>(name, false);
    sql = "CREATE INDEX ";
    sql += name;
    sql += " ON ";
    AppendOwnerTable();
    sql += "(";
    for (const tString& term : KeyTerms(key)) {
        const tString field = KeyTermField(term);
        const i16 fieldNo = mirror->GetFieldNo(field);
        if (fieldNo < 0) {
            tString message("Field [");
            message += field;
            message += "] not found.";
            connection->SetError(RC_FAILED, "tISAMFile::CreateIndex", message, this);
            return false;
        }
        sql += field;
        sql += ",";
        index->AddField(fieldNo);
    }
    sql += "R_E_C_N_O_,D_E_L_E_T_)";
    AddIndexSpace();
    index->AddField(mirror->GetRecnoField());
    const bool created = fetchStmt->ExecDirect(sql, "tISAMFile::CreateIndex", 1);
    fetchStmt->Close();
    if (!created) return false;
    tableDef->AddIndex(std::move(index));
    ResetMirror();
    return true;
}

void tISAMFile::AddIndexSpace() {}

void tISAMFile::ResetMirror() {
    auto fresh = std::make_unique<tTableDefinitionExclusive>(*tableDef);
    for (const tJoinField& field : joinFields) {
        fresh->AddField(field.name, field.type, field.length, field.decimals, true, false);
    }
    // The record buffers keep their length: a longer record would be written past them.
    if (fresh->GetRecLen() > mirror->GetRecLen()) {
        char text[96];
        std::snprintf(text, sizeof text, "ERROR : Reset Mirror RecLen increase from %i to %i",
                      static_cast<i32>(mirror->GetRecLen()), static_cast<i32>(fresh->GetRecLen()));
        DoAssert(__FILE__, __LINE__, text, 0);
    }
    mirror = std::move(fresh);
    SizeFieldMap();
    recordSelect.Clear();  // field numbers may have moved: the record fetch is built again
}

void tISAMFile::SendIndexes() {
    const tTableDefinitionExclusive shared(*tableDef);  // stays whole while it is read
    const i16 recnoPos = mirror->GetRecnoField();
    const i16 recDelPos = mirror->GetRecDelField();
    tString names;
    tString keys;
    char number[16];
    for (i32 i = 0; i < shared.GetIndexCount(); ++i) {
        const tIndexDefinition* index = shared.GetIndex(i);
        if (i > 0) {
            names += ",";
            keys += ";";
        }
        names += index->GetName();
        // Positions in the client's record, where R_E_C_N_O_ and R_E_C_D_E_L_ do not exist; the
        // trailing R_E_C_N_O_ of every index is not sent.
        const i32 sent = index->GetFieldCount() - 1;
        for (i32 j = 0; j < sent; ++j) {
            i32 pos = index->GetField(j);
            if (recnoPos >= 0 && pos > recnoPos) --pos;
            if (recDelPos > 0 && pos >= recDelPos) --pos;
            std::snprintf(number, sizeof number, "%03i", pos + 1);
            keys += number;
            if (j + 1 < sent) keys += ",";
        }
    }
    reply.PutString(names);
    reply.PutString(keys);
}
