// Field classes and table definitions: record layout, reserved columns, lock buckets, lookups,
// copies and the emptiness rules of a record's values.
#include "server/tables/dbtable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "tests/support/gmtest.h"

namespace {

TEST(TableDefinition, DataFieldsTakeRecordBytesByTypeLetter) {
    tTableDefinition def("sa1010", "MSSQL/ERP");
    const struct {
        const char* name;
        u8 type;
        i16 length;
        bool isData;
        u32 offset;
        u32 recLenAfter;
        bool memoAfter;
        i16 dataSize;
    } cases[] = {
        {"A1", 'C', 10, true, 0, 10, false, 10},  {"A2", 'N', 15, true, 10, 18, false, 8},
        {"A3", 'D', 8, true, 18, 26, false, 8},   {"A4", 'L', 1, true, 26, 27, false, 1},
        {"A5", 'M', 10, true, 27, 27, true, 10},  {"A6", 'B', 5, true, 27, 32, true, 5},
        {"A7", 'G', 19, true, 32, 40, true, 8},   {"A8", 'X', 4, true, 40, 40, true, 4},
        {"A9", 'C', 30, false, 40, 40, true, 30},  // not in the record: no bytes
    };
    i16 no = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        def.AddField(c.name, c.type, c.length, 0, c.isData, true);
        const tField* field = def.GetField(no);
        EXPECT_STREQ(field->GetName(), c.name);
        EXPECT_EQ(field->GetNumber(), no);
        EXPECT_EQ(field->GetOffset(), c.offset);
        EXPECT_EQ(def.GetRecLen(), c.recLenAfter);
        EXPECT_EQ(def.HasMemoFields(), c.memoAfter);
        EXPECT_EQ(field->GetDataSize(), c.dataSize);
        ++no;
    }
    EXPECT_EQ(def.GetFieldCount(), 9);
    EXPECT_EQ(def.GetDataFieldCount(), 8);

    const tField loose("X", 'C', 5, 0, true, true);  // outside any definition
    EXPECT_EQ(static_cast<u16>(loose.GetNumber()), 65535);
    EXPECT_EQ(loose.GetOffset(), 0u);
}

TEST(TableDefinition, ReservedColumnsAreRecognisedByExactName) {
    tTableDefinition none("t", "E");
    none.AddField("A", 'C', 1, 0, true, true);
    EXPECT_EQ(none.GetRecnoField(), -1);
    EXPECT_EQ(none.GetDeletedField(), -1);
    EXPECT_EQ(none.GetRecDelField(), -1);

    tTableDefinition def("t", "E");
    const char* names[] = {"r_e_c_n_o_", "D_E_L_E_T_ ",  "D_E_L_E_T_",
                           "R_E_C_N_O_", "R_E_C_D_E_L_", "R_E_C_NO_"};
    for (const char* name : names) def.AddField(name, 'C', 1, 0, true, true);
    EXPECT_EQ(def.GetDeletedField(), 2);
    EXPECT_EQ(def.GetRecnoField(), 3);
    EXPECT_EQ(def.GetRecDelField(), 4);
}

TEST(TableDefinition, FullNameIsUpperCasedAndPicksItsLockBucket) {
    // Buckets computed by hand from h = h * 31 + (signed byte), h & 511.
    const struct {
        const char* environment;
        const char* table;
        const char* fullName;
        u32 bucket;
    } cases[] = {
        {"MSSQL/ERP", "sa1010", "MSSQL/ERP|SA1010", 204},
        {"mssql/erp", "SA1010", "MSSQL/ERP|SA1010", 204},
        {"mssql/erp", "sx5010", "MSSQL/ERP|SX5010", 223},
        {"POSTGRES/TEST", "customers", "POSTGRES/TEST|CUSTOMERS", 161},
        {"ORACLE/PROD", "SE1010", "ORACLE/PROD|SE1010", 260},
        {"", "", "|", 124},
        {"MSSQL/ERP", "\xff", "MSSQL/ERP|\xff", 255},  // 511 if bytes were unsigned
        {"MSSQL/ERP",
         "\xc7"
         "a",
         "MSSQL/ERP|\xc7"
         "A",
         90},  // 346 if bytes were unsigned
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fullName);
        const tTableDefinition def(c.table, c.environment);
        EXPECT_STREQ(def.GetFullName(), c.fullName);
        EXPECT_EQ(def.GetLockBucket(), c.bucket);
    }
    const tTableDefinition empty;
    EXPECT_STREQ(empty.GetFullName(), "");
    EXPECT_EQ(empty.GetLockBucket(), 0u);
}

TEST(TableDefinition, LookupsFindEveryFieldByExactName) {
    tTableDefinition def("t", "E");
    const char* names[] = {"M", "B", "Z", "A", "K", "C", "a"};  // out of order on purpose
    for (const char* name : names) def.AddField(name, 'C', 2, 0, true, true);
    for (i16 no = 0; no < 7; ++no) {
        SCOPED_TRACE(names[no]);
        EXPECT_EQ(def.FindField(names[no]), def.GetField(no));
        EXPECT_EQ(def.GetFieldNo(names[no]), no);
    }
}

TEST(TableDefinition, MissesWarnAndBadNumbersAssert) {
    tTableDefinitionShared shared("t", "E");
    tTableDefinition& def = shared;  // every call through the shared definition's lock
    def.AddField("NAME", 'C', 2, 0, true, true);
    {
        gmtest::ConsoleCapture console;
        EXPECT_EQ(def.FindField("name"), nullptr);
        EXPECT_EQ(console.Get(), "[WARNING] FindField [name] NOT FOUND.\n");
    }
    {
        gmtest::ConsoleCapture console;
        EXPECT_EQ(def.GetFieldNo("NAMES"), -1);
        EXPECT_EQ(console.Get(), "[WARNING] FieldNo not found for [NAMES]\n");
    }
    gmtest::ConsoleCapture quiet;
    tTableDefinition plain("t", "E");
    plain.AddField("NAME", 'C', 2, 0, true, true);
    EXPECT_EQ(gmtest::AssertText([&] { plain.GetField(-1); }),
              "[FATAL ERROR] tTableDefinition::GetField - Invalid FielNo -1");
    EXPECT_EQ(gmtest::AssertText([&] { plain.GetField(1); }),
              "[FATAL ERROR] tTableDefinition::GetField - Invalid FielNo 1");
    EXPECT_EQ(gmtest::AssertText([&] { def.GetField(-1); }), "(no text)");
    EXPECT_EQ(gmtest::AssertText([&] { def.GetField(1); }), "(no text)");
    EXPECT_EQ(gmtest::AssertText([&] { def.GetIndex(0); }), "(no text)");
    EXPECT_EQ(def.GetField(0)->GetNumber(), 0);  // the lock was let go after each assertion
}

// A source with a field that another table supplies (fetch clear), one outside the record, a
// reserved column, properties and a descending index.
std::unique_ptr<tTableDefinitionShared> MakeSource() {
    std::unique_ptr<tTableDefinitionShared> src(new tTableDefinitionShared("sa1010", "MSSQL/ERP"));
    src->AddField("CODE", 'C', 6, 0, true, true);
    src->AddField("JOINED", 'N', 12, 2, true, false);
    src->AddField("NOTE", 'M', 10, 0, true, true);
    src->AddField("SHADOW", 'C', 4, 0, false, true);
    src->AddField("R_E_C_N_O_", 'N', 15, 0, true, true);
    src->SetAuditable(true);
    src->SetAutoRecno(true);
    src->SetRecnoIndexID(7);
    std::unique_ptr<tIndexDefinition> index(new tIndexDefinition("SA10101", true));
    index->AddField(0);
    index->AddField(4);
    src->AddIndex(std::move(index));
    return src;
}

void ExpectCopyOf(const tTableDefinition& src, const tTableDefinition& copy) {
    EXPECT_STREQ(copy.GetName(), "SA1010");
    EXPECT_STREQ(copy.GetFullName(), src.GetFullName());
    EXPECT_EQ(copy.GetLockBucket(), src.GetLockBucket());
    EXPECT_EQ(copy.GetRecLen(), 22u);  // C 6, N 8, M 0, N 8
    EXPECT_TRUE(copy.HasMemoFields());
    EXPECT_EQ(copy.GetRecnoField(), 4);
    EXPECT_EQ(copy.GetDataFieldCount(), 4);
    EXPECT_TRUE(copy.IsAuditable());
    EXPECT_TRUE(copy.IsAutoRecno());
    EXPECT_EQ(copy.GetRecnoIndexID(), 7);
    ASSERT_EQ(copy.GetFieldCount(), 5);
    for (i16 no = 0; no < 5; ++no) {
        const tField* from = src.GetField(no);
        const tField* to = copy.GetField(no);
        SCOPED_TRACE(from->GetName());
        EXPECT_NE(from, to);
        EXPECT_STREQ(to->GetName(), from->GetName());
        EXPECT_EQ(to->GetType(), from->GetType());
        EXPECT_EQ(to->GetLen(), from->GetLen());
        EXPECT_EQ(to->GetDecimals(), from->GetDecimals());
        EXPECT_EQ(to->GetOffset(), from->GetOffset());
        EXPECT_EQ(to->IsData(), from->IsData());
        EXPECT_EQ(to->IsOwnColumn(), to->IsData());  // the fetch flag is always set
        EXPECT_EQ(to->GetNumber(), no);
        EXPECT_EQ(copy.FindField(from->GetName()), to);
    }
    ASSERT_EQ(copy.GetIndexCount(), 1);
    const tIndexDefinition* index = copy.GetIndex(0);
    EXPECT_NE(index, src.GetIndex(0));
    EXPECT_STREQ(index->GetName(), "SA10101");
    EXPECT_FALSE(index->IsReverse());
    ASSERT_EQ(index->GetFieldCount(), 2);
    EXPECT_EQ(index->GetField(0), 0);
    EXPECT_EQ(index->GetField(1), 4);
}

TEST(TableDefinition, CopiesKeepLayoutSetFetchAndClearReverse) {
    const std::unique_ptr<tTableDefinitionShared> src = MakeSource();
    EXPECT_FALSE(src->GetField(1)->IsOwnColumn());
    ASSERT_TRUE(src->GetIndex(0)->IsReverse());

    tTableDefinitionExclusive target("other", "MSSQL/ERP");
    target.AddField("OLD", 'C', 99, 0, true, true);
    std::unique_ptr<tIndexDefinition> old(new tIndexDefinition("OLD1", false));
    old->AddField(0);
    target.AddIndex(std::move(old));
    target.CopyFrom(*src);
    {
        SCOPED_TRACE("CopyFrom");
        ExpectCopyOf(*src, target);
        gmtest::ConsoleCapture quiet;
        EXPECT_EQ(target.FindField("OLD"), nullptr);
    }
    const tTableDefinitionExclusive constructed(*src);
    SCOPED_TRACE("exclusive copy of a shared definition");
    ExpectCopyOf(*src, constructed);
}

TEST(TableDefinition, IndexDirectionIsFoundByNameWithoutCase) {
    const std::unique_ptr<tTableDefinitionShared> def = MakeSource();
    std::unique_ptr<tIndexDefinition> ascending(new tIndexDefinition("SA10102", false));
    ascending->AddField(0);
    def->AddIndex(std::move(ascending));
    EXPECT_TRUE(def->IsIndexReverse("SA10101"));
    EXPECT_TRUE(def->IsIndexReverse("sa10101"));
    EXPECT_FALSE(def->IsIndexReverse("SA10102"));
    EXPECT_FALSE(def->IsIndexReverse("SA1010"));
}

TEST(TableDefinition, CopyFromEmptySourceAssertsBeforeTouchingTarget) {
    const std::unique_ptr<tTableDefinitionShared> src = MakeSource();
    tTableDefinitionExclusive target(*src);
    const tTableDefinition empty("empty", "OTHER/ENV");
    gmtest::ConsoleCapture quiet;
    EXPECT_EQ(gmtest::AssertText([&] { target.CopyFrom(empty); }),
              "tTableDefinition::CopyFrom - source without fields");
    ExpectCopyOf(*src, target);
}

TEST(Field, IsEmptyReadsTheValueAtItsOffsetByTypeLetter) {
    const f64 negativeZero = -0.0;
    const f64 positiveZero = 0.0;
    const f64 one = 1.0;
    const struct {
        u8 type;
        const void* value;
        size_t size;
        bool empty;
    } cases[] = {
        {'C', "\0", 1, true},          {'C', " ", 1, false},           {'C', "A", 1, false},
        {'D', " ", 1, true},           {'D', "\0", 1, true},           {'D', "2", 1, false},
        {'L', " ", 1, true},           {'L', "\0", 1, true},           {'L', "F", 1, false},
        {'N', &positiveZero, 8, true}, {'N', &negativeZero, 8, false}, {'N', &one, 8, false},
        {'M', "\0", 1, false},         {'X', "\0", 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(1, static_cast<char>(c.type)) + " case");
        char record[16];
        std::memset(record, 'Z', sizeof record);  // nothing around the value is empty
        std::memcpy(record + 3, c.value, c.size);
        tField field("F", c.type, 8, 0, true, true);
        field.SetOffset(3);
        EXPECT_EQ(field.IsEmpty(record), c.empty);
    }
}

TEST(DataField, SetDataFillsNoMoreThanTheValueHolds) {
    const char source[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::unique_ptr<tDATAField> fields[] = {
        std::unique_ptr<tDATAField>(new tCharField("", 'C', 3, 0)),
        std::unique_ptr<tDATAField>(new tCharField("", 'C', 1, 0)),
        std::unique_ptr<tDATAField>(new tDateField("", 'D', 24, 0)),
        std::unique_ptr<tDATAField>(new tDateTimeField("", 'T', 24, 0)),
        std::unique_ptr<tDATAField>(new tImageField("", 'I', 0, 0)),
        std::unique_ptr<tDATAField>(new tNumericField("", 'N', 15, 0)),
        std::unique_ptr<tDATAField>(new tIntegerField("", 'I', 4, 0)),
    };
    const u32 sizes[] = {3, 1, 24, 24, 0, 8, 4};
    for (size_t i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        tDATAField& field = *fields[i];
        EXPECT_FALSE(field.IsData());
        EXPECT_EQ(field.GetValueSize(), sizes[i]);
        field.SetData(source, sizeof source);
        EXPECT_EQ(std::memcmp(field.GetData(), source, sizes[i]), 0);
        field.Clear();
        const char* bytes = static_cast<const char*>(field.GetData());
        for (u32 k = 0; k < sizes[i]; ++k) EXPECT_EQ(bytes[k], '\0');
    }
    // Text values keep their last byte NUL; a short value leaves the rest zeroed.
    fields[0]->SetData(source, sizeof source);
    EXPECT_STREQ(static_cast<const char*>(fields[0]->GetData()), "ABC");
    fields[2]->SetData("20110117", 8);
    EXPECT_STREQ(static_cast<const char*>(fields[2]->GetData()), "20110117");
    const i32 seven = 7;
    fields[5]->SetData(&seven, sizeof seven);
    i32 low = 0;
    i32 high = -1;
    std::memcpy(&low, fields[5]->GetData(), 4);
    std::memcpy(&high, static_cast<char*>(fields[5]->GetData()) + 4, 4);
    EXPECT_EQ(low, 7);
    EXPECT_EQ(high, 0);
    EXPECT_EQ(static_cast<tImageField&>(*fields[4]).GetLength(), 0u);
    EXPECT_EQ(fields[4]->GetLen(), 0);
}

}  // namespace
