// Client work areas: the library's image of one table or query that a table connection has
// open on the server (its field list, one record buffer, null flags, navigation status and index
// lists), parsed from the server's replies, and the local access to its record.
#pragma once
#include <vector>

#include "lib_base/stringz.h"
#include "lib_base/types.h"

class tCommBuffer;

// The largest record a reply can carry: one frame holding the status word, the record number
// and the record.
extern const i32 kMaxRecordSize;

// Field and index names match with ASCII letters in either case.
bool SameText(const char* a, const char* b);

// One field of a record, in server order.
struct tClientField {
    tString name;
    u8 type = 0;
    u32 length = 0;  // as declared; the bytes it takes in the record follow from the type
    u16 decimals = 0;
    u32 offset = 0;  // in the record buffer
};

// The navigation status that the server sends after each move.
struct tFileStatus {
    u8 bof = 1;
    u8 eof = 1;
    u8 third = 0;  // received, not used by the library
    i32 recCount = 0;
};

// Layout invariants:
//  (1) Field offsets follow the type-size rule (FieldRecordSize) from 0, and the last field ends
//      at or before the record size, so every field lies inside the record buffer.
//  (2) The record buffer holds record size + 1 bytes, the null flags field count + 1.
//  (3) A reply that would break (1) changes nothing: the parser answers false.
// Used by its connection's caller thread only.
class tClientWorkArea {
public:
    // Parses from buffer (the connection's; not owned). shortRecords: record replies carry only
    // the record number and the record (connections made by GM_Connect); otherwise also the
    // changed-structure block and the null flags.
    tClientWorkArea(tCommBuffer& buffer, bool shortRecords);
    tClientWorkArea(const tClientWorkArea&) = delete;
    tClientWorkArea& operator=(const tClientWorkArea&) = delete;

    // Reply parsers. Each reads at the buffer's read position and answers false when the reply
    // is inconsistent: too short (the buffer marks the frame malformed) or a value out of bounds.
    // The caller then drops the connection.
    bool ReadHandle();
    bool ReadStructure();  // record size and field list: new record buffer and null flags
    bool ReadStatus();
    // After a negative status: the status block when the reply carries one (a refusal such as
    // -10 or the dummy mode's -25 has nothing after its code).
    bool ReadStatusIfAny();
    bool ReadRecord();
    bool ReadIndexes();  // the index names and index keys texts
    // After an open: the index texts when the reply carries them (the table list opens as a
    // query file, which has none).
    bool ReadIndexesIfAny();

    u16 GetHandle() const { return handle; }
    i32 GetRecordSize() const { return recordSize; }
    i32 GetFieldCount() const { return static_cast<i32>(fields.size()); }
    const tClientField* GetField(i32 index) const;          // from 0; null outside
    const tClientField* FindField(const char* name) const;  // letters in either case
    u8* GetRecord() { return record.data(); }
    u8* GetFieldAddress(const tClientField& field) { return record.data() + field.offset; }
    u8* GetNullFlag(i32 index);  // from 0; null outside
    void ZeroRecord();
    // Writes value into the field by its type and gives the bytes written: B C O Y copy the
    // value's text up to the field length, D F G J K N 8 bytes, L 1 byte, other types nothing.
    i32 WriteField(const tClientField& field, const void* value);
    const tString& GetIndexNames() const { return indexNames; }  // comma-separated
    const tString& GetIndexKeys() const { return indexKeys; }    // semicolon-separated

    // The navigation state, as the last reply left it.
    tFileStatus status;
    f64 recno = 0;
    // Settings the exports last had accepted by the server, so that repeating one sends nothing.
    i32 keySetting = -1;
    u8 deletedSetting = 0;
    // Made by GM_SqlPrepare; bound once GM_SqlBind has read the structure of its result.
    bool prepared = false;
    bool bound = false;

private:
    bool ReadSizeAndCount(i32& size, i16& count, u32 itemBytes);
    bool ReadChangedStructure();
    bool IsMalformed() const;

    tCommBuffer& buffer;
    const bool shortRecords;
    u16 handle = 0xFFFF;
    i32 recordSize = 0;
    std::vector<tClientField> fields;
    std::vector<u8> record;
    std::vector<u8> nullFlags;
    tString indexNames;
    tString indexKeys;
};
