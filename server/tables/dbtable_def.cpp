// Table definitions: columns with their record offsets, the reserved columns, indexes, and the
// copies that open files and the cache take of one another.
//
// Definition invariants:
//  (1) fields.Get(i) has number i; the definition owns every field and index.
//  (2) sortedFields holds exactly the pointers of fields (not owned), in byte order of name.
//  (3) recnoField, recDelField and deletedField are -1 or the number of a field of that exact
//      name.
//  (4) A copy writes only the target's members, never through its virtual operations: a shared
//      target already holds its lock.
#include <strings.h>

#include <cstdint>
#include <cstdio>

#include "lib_base/gmlassert.h"
#include "lib_base/printer.h"
#include "lib_common/fieldsize.h"
#include "server/locks/lockbucket.h"
#include "server/tables/dbtable.h"

namespace {

int CompareFieldName(tField* field, const char* name, const tArray<tField>&) {
    return CompareText(field->GetName(), name);
}

}  // namespace

tTableDefinition::tTableDefinition() = default;

tTableDefinition::tTableDefinition(const char* table, const char* environment)
    : name(table), fullName(environment) {
    name.Upper();
    fullName += "|";
    fullName += table;
    fullName.Upper();
    lockBucket = LockBucketOf(fullName.GetText());
}

tTableDefinition::tTableDefinition(const tTableDefinition& src) { src.CopyTo(*this, false); }

void tTableDefinition::AddField(const char* name, u8 type, i16 length, u16 decimals, bool isData,
                                bool fetch) {
    GML_ASSERT(fields.Count() < INT16_MAX, "tTableDefinition::AddField - too many fields");
    const i16 no = static_cast<i16>(fields.Count());
    std::unique_ptr<tField> field(new tField(name, type, length, decimals, isData, fetch));
    if (CompareText(name, kRecnoColumn) == 0) {
        recnoField = no;
    } else if (CompareText(name, kRecDelColumn) == 0) {
        recDelField = no;
    } else if (CompareText(name, kDeletedColumn) == 0) {
        deletedField = no;
    }
    field->SetOffset(recLen);
    AppendField(std::move(field));
    if (!isData) return;
    ++dataFieldCount;
    recLen += FieldRecordSize(type, length);
    if (type == 'M') memoInUse = true;
}

// Numbers the field by its position and files it in both arrays (1, 2).
void tTableDefinition::AppendField(std::unique_ptr<tField> field) {
    field->SetNumber(static_cast<i16>(fields.Count()));
    tField* added = field.get();
    fields.Add(field.release());
    bool found = false;
    const i32 pos = SearchSorted(added->GetName(), found);
    if (pos < sortedFields.Count()) {
        sortedFields.Insert(pos, added);
    } else {
        sortedFields.Add(added);
    }
}

i32 tTableDefinition::SearchSorted(const char* name, bool& found) const {
    i32 pos = 0;
    found = sortedFields.Search(name, pos, CompareFieldName);
    return pos;
}

const char* tTableDefinition::GetName() const { return name.GetText(); }
const char* tTableDefinition::GetFullName() const { return fullName.GetText(); }
u32 tTableDefinition::GetLockBucket() const { return lockBucket; }
i32 tTableDefinition::GetFieldCount() const { return fields.Count(); }

tField* tTableDefinition::GetField(i32 fieldNo) const {
    if (fieldNo < 0 || fieldNo >= fields.Count()) {
        char text[80];
        std::snprintf(text, sizeof text,
                      "[FATAL ERROR] tTableDefinition::GetField - Invalid FielNo %i", fieldNo);
        DoAssert(__FILE__, __LINE__, text, 0);
    }
    return fields.Get(fieldNo);
}

tField* tTableDefinition::FindField(const char* name) const {
    bool found = false;
    const i32 pos = SearchSorted(name, found);
    if (!found) {
        BasePrintf("[WARNING] FindField [%s] NOT FOUND.\n", name ? name : "");
        return nullptr;
    }
    return sortedFields.Get(pos);
}

i16 tTableDefinition::GetFieldNo(const char* name) const {
    bool found = false;
    const i32 pos = SearchSorted(name, found);
    if (!found) {
        BasePrintf("[WARNING] FieldNo not found for [%s]\n", name ? name : "");
        return -1;
    }
    return sortedFields.Get(pos)->GetNumber();
}

void tTableDefinition::AddIndex(std::unique_ptr<tIndexDefinition> index) {
    GML_ASSERT(index != nullptr, "tTableDefinition::AddIndex - no index");
    indexes.Add(index.release());
}

i32 tTableDefinition::GetIndexCount() const { return indexes.Count(); }

tIndexDefinition* tTableDefinition::GetIndex(i32 pos) const {
    GML_ASSERT(pos >= 0 && pos < indexes.Count(), nullptr);
    return indexes.Get(pos);
}

bool tTableDefinition::IsIndexReverse(const char* index) const {
    for (i32 i = 0; i < indexes.Count(); ++i) {
        const tIndexDefinition& candidate = *indexes.Get(i);
        if (strcasecmp(candidate.GetName(), index) == 0) return candidate.IsReverse();
    }
    return false;
}

void tTableDefinition::CopyFrom(const tTableDefinition& src) {
    if (&src == this) return;
    src.CopyTo(*this, true);
}

void tTableDefinition::CopyTo(tTableDefinition& target, bool requireFields) const {
    GML_ASSERT(!requireFields || fields.Count() > 0,
               "tTableDefinition::CopyFrom - source without fields");
    CopyPropertiesTo(target);
    target.indexes.Clear();
    target.sortedFields.Clear();
    target.fields.Clear();
    target.fields.SetCapacity(fields.Count());
    target.sortedFields.SetCapacity(fields.Count());
    if (!indexes.IsEmpty()) target.indexes.SetCapacity(indexes.Count());
    for (i32 i = 0; i < fields.Count(); ++i) {
        const tField* field = fields.Get(i);
        std::unique_ptr<tField> copy(new tField(field->GetName(), field->GetType(), field->GetLen(),
                                                field->GetDecimals(), field->IsData(), true));
        copy->SetOffset(field->GetOffset());
        target.AppendField(std::move(copy));
    }
    for (i32 i = 0; i < indexes.Count(); ++i) {
        const tIndexDefinition* index = indexes.Get(i);
        std::unique_ptr<tIndexDefinition> copy(new tIndexDefinition(index->GetName(), false));
        for (i32 k = 0; k < index->GetFieldCount(); ++k) copy->AddField(index->GetField(k));
        target.indexes.Add(copy.release());
    }
}

void tTableDefinition::CopyPropertiesTo(tTableDefinition& target) const {
    // Texts are copied, never shared: string records count their owners without atomics, and
    // source and target may be used by different threads. Equal names keep their buffers.
    if (target.name != name) target.name = name.GetText();
    if (target.fullName != fullName) target.fullName = fullName.GetText();
    target.lockBucket = lockBucket;
    target.recLen = recLen;
    target.memoInUse = memoInUse;
    target.recnoField = recnoField;
    target.recDelField = recDelField;
    target.deletedField = deletedField;
    target.fullMapped = fullMapped;
    target.dataFieldCount = dataFieldCount;
    target.auditable = auditable;
    target.autoRecno = autoRecno;
    target.recnoIndexId = recnoIndexId;
}

void tTableDefinition::SetAuditable(bool value) { auditable = value; }
bool tTableDefinition::IsAuditable() const { return auditable; }
void tTableDefinition::SetAutoRecno(bool value) { autoRecno = value; }
bool tTableDefinition::IsAutoRecno() const { return autoRecno; }
i16 tTableDefinition::GetRecnoField() const { return recnoField; }
i16 tTableDefinition::GetDeletedField() const { return deletedField; }
i16 tTableDefinition::GetRecDelField() const { return recDelField; }
u32 tTableDefinition::GetRecLen() const { return recLen; }
bool tTableDefinition::HasMemoFields() const { return memoInUse; }
bool tTableDefinition::IsFullMapped() const { return fullMapped; }
void tTableDefinition::SetFullMapped(bool value) { fullMapped = value; }
i16 tTableDefinition::GetDataFieldCount() const { return dataFieldCount; }
i16 tTableDefinition::GetRecnoIndexID() const { return recnoIndexId; }
void tTableDefinition::SetRecnoIndexID(i16 id) { recnoIndexId = id; }

void tTableDefinition::SetFieldCapacity(i32 n) {
    const i32 capacity = n > fields.Count() ? n : fields.Count();
    fields.SetCapacity(capacity);
    sortedFields.SetCapacity(capacity);
}

tTableDefinitionExclusive::tTableDefinitionExclusive(const char* table, const char* environment)
    : tTableDefinition(table, environment) {}

tTableDefinitionExclusive::tTableDefinitionExclusive(const tTableDefinition& src)
    : tTableDefinition(src) {}
