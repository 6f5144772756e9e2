// Table descriptions of the server: field classes (columns and typed parameter values), table
// and index definitions, and the process-wide cache that shares one definition per table
// between connections. Cached definitions are handed out as std::shared_ptr, so a definition in
// use outlives its removal from the cache.
#pragma once
#include <cstddef>
#include <memory>
#include <vector>

#include "lib_base/gmlalloc.h"
#include "lib_base/list.h"
#include "lib_base/rwlock.h"
#include "lib_base/stringz.h"
#include "lib_base/types.h"

// The reserved columns; recognised by their exact, case-sensitive names.
constexpr const char* kRecnoColumn = "R_E_C_N_O_";
constexpr const char* kRecDelColumn = "R_E_C_D_E_L_";
constexpr const char* kDeletedColumn = "D_E_L_E_T_";

// One column of a table definition, or (as a tDATAField) one typed value. Everything is
// constant after construction except the offset and number, which only the definition that
// holds the field sets. Read by any thread that may read its definition.
class tField {
public:
    // isData: the value lies in the record buffer. fetch: the record read selects the column
    // (clear for fields that another table supplies).
    tField(const char* name, u8 type, i16 length, u16 decimals, bool isData, bool fetch);
    virtual ~tField() = default;
    tField(const tField&) = delete;
    tField& operator=(const tField&) = delete;

    const char* GetName() const { return name.GetText(); }
    u8 GetType() const { return type; }
    i16 GetLen() const { return length; }
    u16 GetDecimals() const { return decimals; }
    bool IsData() const { return isData; }
    bool IsOwnColumn() const { return isData && fetch; }
    u32 GetOffset() const { return offset; }
    void SetOffset(u32 value) { offset = value; }
    i16 GetNumber() const { return number; }  // -1 (65535) until a definition holds the field
    void SetNumber(i16 value) { number = value; }

    // Bytes of the value: D F G J K N 8, L 1, any other letter its declared length (a memo's
    // length too, though a memo takes no bytes in the record).
    i16 GetDataSize() const;
    // Whether the value at the field's offset in the record is empty: C a NUL first byte; D and
    // L a blank or NUL first byte; N the exact bytes of +0.0; other letters never.
    bool IsEmpty(const char* record) const;

    GML_CLASS_ALLOCATOR(tField, Mem_TableField)

private:
    // Constant after construction.
    tString name;
    u8 type;
    i16 length;
    u16 decimals;
    bool isData;
    bool fetch;
    // Set by the definition that holds the field.
    u32 offset = 0;
    i16 number = -1;
};

// Value areas that the database binds point into. Their layout is that of the ODBC date and
// timestamp structures.
struct tDateArea {
    i16 year;
    i16 month;
    i16 day;
};
struct tTimestampArea {
    i16 year;
    i16 month;
    i16 day;
    i16 hour;
    i16 minute;
    i16 second;
    u32 fraction;
};

// A field that owns one value: a typed parameter of a statement or a procedure call. Built with
// the data flag clear and the fetch flag set. Owned by the list that holds it; one thread.
class tDATAField : public tField {
public:
    tDATAField(const char* name, u8 type, i16 length, u16 decimals);

    virtual void* GetData() = 0;           // the value bytes
    virtual void Clear() = 0;              // zeroes the value
    virtual u32 GetValueSize() const = 0;  // bytes that SetData may fill
    // Clear, then copy the first min(count, GetValueSize()) bytes.
    void SetData(const void* bytes, size_t count);

    // The date and timestamp areas and the first and last unit of a date-time (1 year ..
    // 7 fraction) start zeroed; the binds and the parameter decoder fill them.
    tDateArea& GetDateArea() { return dateArea; }
    tTimestampArea& GetTimestampArea() { return timestampArea; }
    i32 GetFirstUnit() const { return firstUnit; }
    void SetFirstUnit(i32 unit) { firstUnit = unit; }
    i32 GetLastUnit() const { return lastUnit; }
    void SetLastUnit(i32 unit) { lastUnit = unit; }

private:
    tDateArea dateArea{};
    tTimestampArea timestampArea{};
    i32 firstUnit = 0;
    i32 lastUnit = 0;
};

// One 64-bit double, 0.0 at construction.
class tNumericField : public tDATAField {
public:
    tNumericField(const char* name, u8 type, i16 length, u16 decimals);
    void* GetData() override { return &value; }
    void Clear() override { value = 0.0; }
    u32 GetValueSize() const override { return sizeof value; }

private:
    f64 value = 0.0;
};

// One 32-bit integer, 0 at construction.
class tIntegerField : public tDATAField {
public:
    tIntegerField(const char* name, u8 type, i16 length, u16 decimals);
    void* GetData() override { return &value; }
    void Clear() override { value = 0; }
    u32 GetValueSize() const override { return sizeof value; }

private:
    i32 value = 0;
};

// A zeroed heap buffer of value size + 1 bytes; the base of the text, date and image values.
class tBufferField : public tDATAField {
public:
    void* GetData() override { return buffer.get(); }
    void Clear() override;
    u32 GetValueSize() const override { return valueSize; }

protected:
    tBufferField(const char* name, u8 type, i16 length, u16 decimals, u32 valueSize);

private:
    struct tFree {
        void operator()(char* block) const;
    };
    u32 valueSize;
    std::unique_ptr<char, tFree> buffer;
};

// Characters; the byte after the last stays NUL.
class tCharField : public tBufferField {
public:
    tCharField(const char* name, u8 type, i16 length, u16 decimals);
};

// A date text of length characters.
class tDateField : public tBufferField {
public:
    tDateField(const char* name, u8 type, i16 length, u16 decimals);
};

// A date-time text of length characters; its first and last unit come with the value.
class tDateTimeField : public tBufferField {
public:
    tDateTimeField(const char* name, u8 type, i16 length, u16 decimals);
};

// Raw bytes; the field's own length is 0 and GetLength gives the byte length.
class tImageField : public tBufferField {
public:
    tImageField(const char* name, u8 type, u32 byteLength, u16 decimals);
    u32 GetLength() const { return GetValueSize(); }
};

// One index of a table: its name and its key, the field numbers of its definition in key
// order. Owned by the definition it is added to.
class tIndexDefinition {
public:
    tIndexDefinition(const char* name, bool reverse);  // reverse: the key orders descending
    tIndexDefinition(const tIndexDefinition&) = delete;
    tIndexDefinition& operator=(const tIndexDefinition&) = delete;

    const char* GetName() const { return name.GetText(); }
    bool IsReverse() const { return reverse; }
    void AddField(i16 fieldNo);  // asserts on a negative number
    i32 GetFieldCount() const { return static_cast<i32>(key.size()); }
    i16 GetField(i32 pos) const;  // asserts on a position outside the key
    // The mark of an index that an alteration is about to drop; clear at construction.
    bool IsDropMarked() const { return dropMark; }
    void SetDropMark(bool mark) { dropMark = mark; }

    GML_CLASS_ALLOCATOR(tIndexDefinition, Mem_IndexDef)

private:
    tString name;
    std::vector<i16> key;
    bool reverse;
    bool dropMark = false;
};

// The description of one table: its columns in order with their places in the record buffer,
// the numbers of the reserved columns, its indexes and a few properties. Its full name
// (environment, "|", table, upper-cased) picks its lock bucket. A plain or exclusive definition
// belongs to one thread; tTableDefinitionShared guards itself.
class tTableDefinition {
public:
    tTableDefinition();  // no names, bucket 0
    tTableDefinition(const char* table, const char* environment);
    // Copies as CopyFrom does, but an empty source is allowed.
    tTableDefinition(const tTableDefinition& src);
    tTableDefinition& operator=(const tTableDefinition&) = delete;
    virtual ~tTableDefinition() = default;

    // Appends a column at the end of the record; the reserved columns are recognised by their
    // exact names. A data field grows the record by FieldRecordSize; an M field marks the
    // definition as having memo fields.
    virtual void AddField(const char* name, u8 type, i16 length, u16 decimals, bool isData,
                          bool fetch);
    virtual const char* GetName() const;
    virtual const char* GetFullName() const;
    virtual u32 GetLockBucket() const;
    virtual i32 GetFieldCount() const;
    // Asserts on a number outside 0..count-1. Owned by the definition.
    virtual tField* GetField(i32 fieldNo) const;
    // Null, or -1, after a console warning when no field has exactly that name.
    virtual tField* FindField(const char* name) const;
    virtual i16 GetFieldNo(const char* name) const;
    virtual void AddIndex(std::unique_ptr<tIndexDefinition> index);
    virtual i32 GetIndexCount() const;
    virtual tIndexDefinition* GetIndex(i32 pos) const;  // asserts outside the list; owned here
    // The reverse flag of the first index of that name (compared without case); false when
    // there is none. Read in one step, so a shared definition answers from its own indexes.
    virtual bool IsIndexReverse(const char* index) const;
    // Replaces the contents by a copy of src: every field keeps its offset and data flag and has
    // its fetch flag set; indexes are copied with the reverse flag clear. Asserts, before
    // anything changes, when src has no fields. Copying a definition onto itself does nothing.
    virtual void CopyFrom(const tTableDefinition& src);

    virtual void SetAuditable(bool value);
    virtual bool IsAuditable() const;
    virtual void SetAutoRecno(bool value);
    virtual bool IsAutoRecno() const;
    virtual i16 GetRecnoField() const;    // -1 without R_E_C_N_O_
    virtual i16 GetDeletedField() const;  // -1 without D_E_L_E_T_
    virtual i16 GetRecDelField() const;   // -1 without R_E_C_D_E_L_
    virtual u32 GetRecLen() const;
    virtual bool HasMemoFields() const;
    virtual bool IsFullMapped() const;
    virtual void SetFullMapped(bool value);  // a file reads only the fields of its field map
    virtual i16 GetDataFieldCount() const;
    virtual i16 GetRecnoIndexID() const;  // -1 until set
    virtual void SetRecnoIndexID(i16 id);
    virtual void SetFieldCapacity(i32 n);  // never below the current count

protected:
    // Writes a copy of this definition into target, replacing its fields and indexes. A shared
    // definition holds its lock meanwhile.
    virtual void CopyTo(tTableDefinition& target, bool requireFields) const;

private:
    void CopyPropertiesTo(tTableDefinition& target) const;
    void AppendField(std::unique_ptr<tField> field);
    i32 SearchSorted(const char* name, bool& found) const;

    // The names change only when a copy of another table replaces the contents; a copy of the
    // same table keeps their buffers, so their texts stay valid across an update.
    tString name;
    tString fullName;
    u32 lockBucket = 0;
    // The layout, written by AddField, AddIndex and the copies.
    tAutoArray<tField> fields;
    tArray<tField> sortedFields;
    tAutoArray<tIndexDefinition> indexes;
    u32 recLen = 0;
    bool memoInUse = false;
    i16 recnoField = -1;
    i16 recDelField = -1;
    i16 deletedField = -1;
    bool fullMapped = true;
    i16 dataFieldCount = 0;
    bool auditable = false;
    bool autoRecno = false;
    i16 recnoIndexId = -1;
};

// A private definition of one open file, driver or alteration; no lock.
class tTableDefinitionExclusive : public tTableDefinition {
public:
    tTableDefinitionExclusive(const char* table, const char* environment);
    // A copy of src, taken under src's lock when it is shared.
    explicit tTableDefinitionExclusive(const tTableDefinition& src);

    GML_CLASS_ALLOCATOR(tTableDefinitionExclusive, Mem_TableExclusive)
};

// The one definition of a table that the cache shares between connection threads. Every
// operation runs under its lock. Texts it returns stay valid while the definition lives (an
// update keeps them), but the fields and indexes that it hands out live only until the next
// CopyFrom: to work on the layout, take a tTableDefinitionExclusive copy.
class tTableDefinitionShared : public tTableDefinition {
public:
    tTableDefinitionShared(const char* table, const char* environment);
    explicit tTableDefinitionShared(const tTableDefinition& src);

    void AddField(const char* name, u8 type, i16 length, u16 decimals, bool isData,
                  bool fetch) override;
    const char* GetName() const override;
    const char* GetFullName() const override;
    u32 GetLockBucket() const override;
    i32 GetFieldCount() const override;
    tField* GetField(i32 fieldNo) const override;
    tField* FindField(const char* name) const override;
    i16 GetFieldNo(const char* name) const override;
    void AddIndex(std::unique_ptr<tIndexDefinition> index) override;
    i32 GetIndexCount() const override;
    tIndexDefinition* GetIndex(i32 pos) const override;
    bool IsIndexReverse(const char* index) const override;
    void CopyFrom(const tTableDefinition& src) override;
    void SetAuditable(bool value) override;
    bool IsAuditable() const override;
    void SetAutoRecno(bool value) override;
    bool IsAutoRecno() const override;
    i16 GetRecnoField() const override;
    i16 GetDeletedField() const override;
    i16 GetRecDelField() const override;
    u32 GetRecLen() const override;
    bool HasMemoFields() const override;
    bool IsFullMapped() const override;
    void SetFullMapped(bool value) override;
    i16 GetDataFieldCount() const override;
    i16 GetRecnoIndexID() const override;
    void SetRecnoIndexID(i16 id) override;
    void SetFieldCapacity(i32 n) override;

    GML_CLASS_ALLOCATOR(tTableDefinitionShared, Mem_TableShared)

protected:
    void CopyTo(tTableDefinition& target, bool requireFields) const override;

private:
    template <class F>
    auto Reading(F f) const;
    template <class F>
    auto Writing(F f);

    mutable tRWLock lock{"tTableDefinitionShared"};
};

// The process-wide cache of shared definitions, one per table and environment, keyed by the
// environment, "/" and the table name, upper-cased. Any thread may call any operation; one lock
// serialises them. Lock order: the cache, then a cached definition's lock.
class tTableCache {
public:
    tTableCache() = default;
    tTableCache(const tTableCache&) = delete;
    tTableCache& operator=(const tTableCache&) = delete;

    // The cached definition, or null. The caller's share keeps it alive after a Remove or Clean.
    std::shared_ptr<tTableDefinitionShared> Find(const char* table, const char* environment);
    // Caches def under its own name and hands it out; when the key is already cached, the
    // cached definition stays and is handed out instead (def is then deleted).
    std::shared_ptr<tTableDefinitionShared> Add(std::unique_ptr<tTableDefinitionShared> def,
                                                const char* environment);
    bool Remove(const char* table, const char* environment);  // true when an entry went
    // Rewrites the cached definition of def's table in place (CopyFrom); false when none is
    // cached. def stays the caller's.
    bool Update(const tTableDefinition& def, const char* environment);
    // Drops every entry between two console lines that give the reason and the count.
    void Clean(const char* reason);
    i32 GetCount();  // the definitions cached now

private:
    struct tEntry {
        tString key;
        std::shared_ptr<tTableDefinitionShared> def;
    };
    static tString MakeKey(const char* table, const char* environment);
    size_t LowerBound(const tString& key) const;
    bool IsAt(size_t pos, const tString& key) const;

    tRWLock lock{"tTableCache"};
    // Guarded by lock; in ascending byte order of key, one entry per key.
    std::vector<tEntry> entries;
};
