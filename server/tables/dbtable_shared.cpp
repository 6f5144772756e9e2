// The shared table definition: every operation of the base runs under the definition's lock.
#include "lib_base/gmlassert.h"
#include "server/tables/dbtable.h"

template <class F>
auto tTableDefinitionShared::Reading(F f) const {
    tReading hold(&lock, __FILE__, __LINE__);
    return f();
}

template <class F>
auto tTableDefinitionShared::Writing(F f) {
    tWriting hold(&lock, __FILE__, __LINE__);
    return f();
}

tTableDefinitionShared::tTableDefinitionShared(const char* table, const char* environment)
    : tTableDefinition(table, environment) {}

tTableDefinitionShared::tTableDefinitionShared(const tTableDefinition& src)
    : tTableDefinition(src) {}

void tTableDefinitionShared::AddField(const char* name, u8 type, i16 length, u16 decimals,
                                      bool isData, bool fetch) {
    Writing([&] { tTableDefinition::AddField(name, type, length, decimals, isData, fetch); });
}

const char* tTableDefinitionShared::GetName() const {
    return Reading([&] { return tTableDefinition::GetName(); });
}

const char* tTableDefinitionShared::GetFullName() const {
    return Reading([&] { return tTableDefinition::GetFullName(); });
}

u32 tTableDefinitionShared::GetLockBucket() const {
    return Reading([&] { return tTableDefinition::GetLockBucket(); });
}

i32 tTableDefinitionShared::GetFieldCount() const {
    return Reading([&] { return tTableDefinition::GetFieldCount(); });
}

// The range is checked under the lock: an update may change the count.
tField* tTableDefinitionShared::GetField(i32 fieldNo) const {
    return Reading([&] {
        GML_ASSERT(fieldNo >= 0 && fieldNo < tTableDefinition::GetFieldCount(), nullptr);
        return tTableDefinition::GetField(fieldNo);
    });
}

tField* tTableDefinitionShared::FindField(const char* name) const {
    return Reading([&] { return tTableDefinition::FindField(name); });
}

i16 tTableDefinitionShared::GetFieldNo(const char* name) const {
    return Reading([&] { return tTableDefinition::GetFieldNo(name); });
}

void tTableDefinitionShared::AddIndex(std::unique_ptr<tIndexDefinition> index) {
    Writing([&] { tTableDefinition::AddIndex(std::move(index)); });
}

i32 tTableDefinitionShared::GetIndexCount() const {
    return Reading([&] { return tTableDefinition::GetIndexCount(); });
}

tIndexDefinition* tTableDefinitionShared::GetIndex(i32 pos) const {
    return Reading([&] { return tTableDefinition::GetIndex(pos); });
}

bool tTableDefinitionShared::IsIndexReverse(const char* index) const {
    return Reading([&] { return tTableDefinition::IsIndexReverse(index); });
}

// A shared source takes its own lock inside CopyTo, after ours: two cached definitions are never
// copied onto each other, so the order cannot cross.
void tTableDefinitionShared::CopyFrom(const tTableDefinition& src) {
    Writing([&] { tTableDefinition::CopyFrom(src); });
}

void tTableDefinitionShared::CopyTo(tTableDefinition& target, bool requireFields) const {
    Reading([&] { tTableDefinition::CopyTo(target, requireFields); });
}

void tTableDefinitionShared::SetAuditable(bool value) {
    Writing([&] { tTableDefinition::SetAuditable(value); });
}

bool tTableDefinitionShared::IsAuditable() const {
    return Reading([&] { return tTableDefinition::IsAuditable(); });
}

void tTableDefinitionShared::SetAutoRecno(bool value) {
    Writing([&] { tTableDefinition::SetAutoRecno(value); });
}

bool tTableDefinitionShared::IsAutoRecno() const {
    return Reading([&] { return tTableDefinition::IsAutoRecno(); });
}

i16 tTableDefinitionShared::GetRecnoField() const {
    return Reading([&] { return tTableDefinition::GetRecnoField(); });
}

i16 tTableDefinitionShared::GetDeletedField() const {
    return Reading([&] { return tTableDefinition::GetDeletedField(); });
}

i16 tTableDefinitionShared::GetRecDelField() const {
    return Reading([&] { return tTableDefinition::GetRecDelField(); });
}

u32 tTableDefinitionShared::GetRecLen() const {
    return Reading([&] { return tTableDefinition::GetRecLen(); });
}

bool tTableDefinitionShared::HasMemoFields() const {
    return Reading([&] { return tTableDefinition::HasMemoFields(); });
}

bool tTableDefinitionShared::IsFullMapped() const {
    return Reading([&] { return tTableDefinition::IsFullMapped(); });
}
void tTableDefinitionShared::SetFullMapped(bool value) {
    Writing([&] { tTableDefinition::SetFullMapped(value); });
}

i16 tTableDefinitionShared::GetDataFieldCount() const {
    return Reading([&] { return tTableDefinition::GetDataFieldCount(); });
}

i16 tTableDefinitionShared::GetRecnoIndexID() const {
    return Reading([&] { return tTableDefinition::GetRecnoIndexID(); });
}

void tTableDefinitionShared::SetRecnoIndexID(i16 id) {
    Writing([&] { tTableDefinition::SetRecnoIndexID(id); });
}

void tTableDefinitionShared::SetFieldCapacity(i32 n) {
    Writing([&] { tTableDefinition::SetFieldCapacity(n); });
}
