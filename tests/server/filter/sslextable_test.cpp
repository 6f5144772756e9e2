// The lexer table: the figures of the generated filter image, transitions, and the loaders from
// memory, file and the embedded images, which refuse every image whose counts, sizes or offsets
// do not fit its bytes (ASan shows that no refusal reads outside them).
#include "server/filter/sslextable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/filter/filterdfa.h"
#include "tests/server/filter/sstest.h"
#include "tests/support/tempdir.h"

namespace {

using sstest::GetWord;
using sstest::SetWord;
using sstest::State;

std::vector<u8> FilterImage() {
    return std::vector<u8>(kFilterDfaImage, kFilterDfaImage + kFilterDfaImageSize);
}

// A refusal when an image is loaded from memory.
std::string MemoryError(const std::vector<u8>& image) {
    return sstest::ErrorText([&] { SSLexTable table(image.data(), image.size(), "t.dfa"); });
}

// A table with one list and one keyword table, for the loaders' cases.
std::vector<u8> SmallImage() {
    return sstest::Image({{State{0, 0, 0, 0, 0, {{'a', 'z', 1}}}, State{5, 0x210, 0, 0, 0, {}}}},
                         {{{"IF", 9, true, 0}}});
}
constexpr size_t kSmallList = 36;                                         // where the list starts
constexpr size_t kSmallKeywords = 36 + 88 + 2 * 28 + 2 * 4 + 4 + 12 + 4;  // and the keywords

TEST(SSLexTable, FilterImageHasItsFigures) {
    ASSERT_EQ(kFilterDfaImageSize, 4512u);
    EXPECT_EQ(GetWord(kFilterDfaImage + 4), 0x53534C58u);
    EXPECT_EQ(GetWord(kFilterDfaImage + 8), 0u);   // keyword tables
    EXPECT_EQ(GetWord(kFilterDfaImage + 12), 0u);  // classes
    SSLexTable table(kFilterDfaImage, kFilterDfaImageSize, "filter.dfa");
    ASSERT_EQ(table.listCount(), 3u);
    EXPECT_EQ(table.keywordTableCount(), 0u);
    const struct {
        u32 states, size, rows, ranges;
    } expected[] = {{59, 3724, 1976, 126}, {5, 376, 248, 9}, {5, 376, 248, 9}};
    for (u32 i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const SSLexList* list = table.list(i);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->states, expected[i].states);
        EXPECT_EQ(list->size, expected[i].size);
        EXPECT_EQ(list->records, 88u);
        const u8* bytes = list->bytes.get();
        EXPECT_EQ(GetWord(bytes + list->rowTable), expected[i].rows);
        u32 ranges = 0;
        for (u32 s = 0; s < list->states; ++s)
            ranges += GetWord(bytes + GetWord(bytes + list->rowTable + 4 * s));
        EXPECT_EQ(ranges, expected[i].ranges);
    }
}

TEST(SSLexTable, TransitionFollowsSortedRanges) {
    SSLexTable table(kFilterDfaImage, kFilterDfaImageSize, "filter.dfa");
    EXPECT_EQ(table.transition(0, 0, 0), -1);  // below the first range (tab)
    EXPECT_EQ(table.transition(0, 0, 8), -1);
    const i32 blank = table.transition(0, 0, '\t');
    ASSERT_GE(blank, 0);
    EXPECT_EQ(table.transition(0, 0, ' '), blank);
    EXPECT_EQ(table.stateRecord(0, blank).token, 51);
    EXPECT_EQ(table.stateRecord(0, blank).flags, 0x50u);
    const i32 marker = table.transition(0, 0, 0xFFFFFFFF);
    ASSERT_GE(marker, 0);
    EXPECT_EQ(table.stateRecord(0, marker).token, -1);
    const i32 quote = table.transition(0, 0, '\'');
    EXPECT_EQ(table.stateRecord(0, quote).flags, 0x70u);
    EXPECT_EQ(table.stateRecord(0, quote).list, 1u);
    EXPECT_GE(table.transition(1, 0, '\n'), 0);
    EXPECT_EQ(table.transition(1, 0, 0x10000), -1);  // above every range of the string list
    EXPECT_EQ(table.transition(3, 0, 'a'), -1);      // no such list
    EXPECT_EQ(table.transition(0, 59, 'a'), -1);     // no such state
}

TEST(SSLexTable, TagOtherThanTheRuntimesIsRefused) {
    std::vector<u8> image = FilterImage();
    SetWord(image, 4, 0x12345678);
    EXPECT_EQ(sstest::ErrorText([&] { SSLexTable t(image.data(), image.size(), "filter.dfa"); }),
              "SSLex0104e: Invalid table, filter.dfa");
    SetWord(image, 4, 0);  // no check
    SSLexTable unchecked(image.data(), image.size(), "filter.dfa");
    EXPECT_EQ(unchecked.listCount(), 3u);
}

TEST(SSLexTable, ImagesThatDoNotFitTheirBytesAreRefused) {
    const size_t list = kSmallList;
    const size_t rows = list + 88 + 2 * 28 + 2 * 4;  // row of state 0
    const size_t keywords = kSmallKeywords;
    const struct {
        const char* name;
        size_t at;
        u32 word;
    } cases[] = {
        {"more lists than bytes", 0, 2},
        {"list smaller than its header", list + 4, 40},
        {"list larger than the image", list + 4, 100000},
        {"end of data beyond the list", list + 44, 100000},
        {"no states", list + 40, 0},
        {"more states than records", list + 40, 1000},
        {"row table beyond the list", list + 48, 0xFFFFFFF0},
        {"state records beyond the list", list + 52, 0xFFFFFFF0},
        {"row beyond the list", list + 88 + 2 * 28, 0xFFFFFFFE},
        {"more ranges than the row holds", rows, 0x40000000},
        {"next state beyond the list", rows + 12, 2},
        {"more keyword tables than bytes", 8, 2},
        {"keyword table smaller than its header", keywords, 8},
        {"more keywords than the table holds", keywords + 4, 99},
        {"keyword text beyond its table", keywords + 40 + 5, 5000},
        {"more classes than bytes", 12, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<u8> image = SmallImage();
        ASSERT_NO_THROW(SSLexTable(image.data(), image.size(), "t.dfa"));
        SetWord(image, c.at, c.word);
        EXPECT_EQ(MemoryError(image), "SSLex0104e: Invalid table, t.dfa");
    }
    const std::vector<u8> whole = SmallImage();
    for (size_t cut : {size_t(0), size_t(35), size_t(36), size_t(100), whole.size() - 1}) {
        SCOPED_TRACE(cut);
        EXPECT_EQ(MemoryError(std::vector<u8>(whole.begin(), whole.begin() + cut)),
                  "SSLex0104e: Invalid table, t.dfa");
    }
}

TEST(SSLexTable, KeywordTextWithoutItsEndIsRefused) {
    std::vector<u8> image = SmallImage();
    image.back() = 'X';  // the last text loses its NUL
    EXPECT_EQ(MemoryError(image), "SSLex0104e: Invalid table, t.dfa");
}

TEST(SSLexTable, FileLoaderNamesEachFailure) {
    gmtest::TempDir dir;
    const std::vector<u8> whole = SmallImage();
    const auto write = [&](const std::string& name, size_t bytes) {
        gmtest::WriteFileText(dir.File(name), std::string(whole.begin(), whole.begin() + bytes));
        return dir.File(name);
    };
    const std::string good = write("good.dfa", whole.size());
    SSLexTable loaded(good.c_str());
    EXPECT_EQ(loaded.listCount(), 1u);
    ASSERT_EQ(loaded.keywordTableCount(), 1u);
    EXPECT_STREQ(loaded.keywordTable(0)->entries[0].text, "IF");

    const std::string missing = dir.File("missing.dfa");
    const std::string empty = write("empty.dfa", 0);
    const std::string inList = write("inlist.dfa", kSmallList + 100);
    const std::string inKeywords = write("inkeywords.dfa", kSmallKeywords + 20);
    std::vector<u8> badSize = whole;
    SetWord(badSize, kSmallList + 40, 1000);
    const std::string tooMany = dir.File("toomany.dfa");
    gmtest::WriteFileText(tooMany, std::string(badSize.begin(), badSize.end()));
    const struct {
        std::string path;
        std::string error;
    } cases[] = {
        {missing, "SSLex0101e: Error opening file, " + missing + ", 2"},
        {empty, "SSLex0102e: Invalid file length or read error, " + empty + ", 0"},
        {inList, "SSLex0102e: Invalid file length or read error, " + inList + ", 136"},
        {inKeywords, "SSLex0109e: Unable to read keyword table, " + inKeywords},
        {tooMany, "SSLex0104e: Invalid table, " + tooMany},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(sstest::ErrorText([&] { SSLexTable table(c.path.c_str()); }), c.error);
    }
}

TEST(SSLexTable, EmbeddedImagesAreFoundByName) {
    SSLexTable embedded(SSLexTable::FromResource{}, "filter.dfa");
    EXPECT_EQ(embedded.listCount(), 3u);
    EXPECT_EQ(sstest::ErrorText([] { SSLexTable t(SSLexTable::FromResource{}, "filter.llx"); }),
              "SSLex0108e: Resource not found, filter.llx");
}

TEST(SSLexTable, StoredRefusalLeavesATableWithoutLists) {
    std::vector<u8> image = FilterImage();
    SetWord(image, 36 + 40, 0);
    ssExceptionControl().storeErrors = true;
    SSLexTable table(image.data(), image.size(), "filter.dfa");
    ssExceptionControl().storeErrors = false;
    ASSERT_NE(table.storedError(), nullptr);
    EXPECT_EQ(table.storedError()->errorId(), 4);
    EXPECT_EQ(table.listCount(), 0u);
    EXPECT_EQ(table.transition(0, 0, 'a'), -1);
}

}  // namespace
