// The parse table: lookups on a small image, and the loaders from memory, file and the embedded
// images, which refuse every image whose counts, offsets or targets do not fit it (ASan shows that
// no refusal reads outside the bytes).
#include "server/filter/ssyacctable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/server/filter/sstest.h"
#include "tests/support/tempdir.h"

namespace {

using sstest::SetWord;
using sstest::YaccRow;

constexpr u32 kShift = kSSYaccShiftBit;
constexpr u32 kReduce = kSSYaccReduceBit;
constexpr u32 kA = kSSYaccNonterminal + 1;

// start: A eof; A: x A | y -- three productions, five states, an error entry in state 0.
std::vector<u8> SmallImage() {
    return sstest::YaccImage(
        {{2, 0}, {2, kA}, {1, kA}},
        {YaccRow{kSSYaccRowError, {{kShift | 2, 10}, {kShift | 3, 11}}, {{1, kA}}, 3},
         YaccRow{0, {{kSSYaccAcceptBit, -1}}, {}},
         YaccRow{0, {{kShift | 2, 10}, {kShift | 3, 11}}, {{4, kA}}},
         YaccRow{0, {{kReduce | 2, -1}}, {}}, YaccRow{0, {{kReduce | 1, -1}}, {}}});
}
constexpr size_t kRowOffsets = 20;
// Where the rows of SmallImage lie: state 0 (two actions, one goto, the error entry) at 64,
// state 4 (one reduce) at 184.
constexpr size_t kRow0 = 64;
constexpr size_t kRow4 = 184;

std::string MemoryError(const std::vector<u8>& image) {
    return sstest::ErrorText([&] { SSYaccTable table(image.data(), image.size(), "t.llr"); });
}

TEST(SSYaccTable, LooksUpRowsEntriesAndProductions) {
    const std::vector<u8> image = SmallImage();
    SSYaccTable table(image.data(), image.size(), "t.llr");
    EXPECT_EQ(table.stateCount(), 5u);
    EXPECT_EQ(table.productionCount(), 3u);
    EXPECT_EQ(table.conflictCount(), 0u);
    u32 word = 0;
    ASSERT_TRUE(table.action(0, 11, word));
    EXPECT_EQ(word, kShift | 3);
    EXPECT_FALSE(table.action(0, 12, word));  // no entry: an error action
    EXPECT_FALSE(table.action(9, 10, word));  // no such state
    u32 target = 0;
    ASSERT_TRUE(table.gotoState(2, kA, target));
    EXPECT_EQ(target, 4u);
    EXPECT_FALSE(table.gotoState(3, kA, target));
    ASSERT_TRUE(table.errorEntry(0, word));
    EXPECT_EQ(word, 3u);
    EXPECT_FALSE(table.errorEntry(1, word));
    u32 length = 0, left = 0;
    ASSERT_TRUE(table.production(1, length, left));
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(left, kA);
    EXPECT_FALSE(table.production(3, length, left));
    EXPECT_EQ(table.actionCount(0), 2u);
    EXPECT_EQ(table.actionEntry(0, 1).symbol, 11);
}

TEST(SSYaccTable, RefusesImagesThatDoNotFit) {
    const std::vector<u8> good = SmallImage();
    ASSERT_EQ(sstest::GetWord(good.data() + kRowOffsets), kRow0);
    ASSERT_EQ(sstest::GetWord(good.data() + kRowOffsets + 4 * 4), kRow4);
    const auto changed = [&](size_t at, u32 word) {
        std::vector<u8> image = good;
        SetWord(image, at, word);
        return image;
    };
    const std::string refused = "SSYacc0111e: Error reading table, t.llr";
    const struct {
        const char* name;
        std::vector<u8> image;
        std::string error;
    } cases[] = {
        {"the word 1 as magic", changed(0, 1), "(no error)"},
        {"magic 2", changed(0, 2), refused},
        {"cut in the header", std::vector<u8>(good.begin(), good.begin() + 12), refused},
        {"cut in the last row", std::vector<u8>(good.begin(), good.end() - 4), refused},
        {"row offset past the end", changed(kRowOffsets + 4, 1u << 30), refused},
        {"row counts past the end", changed(kRow4 + 8, 0x7FFFFFFF), refused},
        {"production table past the end", changed(16, 0xFFFFFFF0), refused},
        {"shift to no state", changed(kRow0 + 12, kShift | 9), refused},
        {"reduce by no production", changed(kRow4 + 12, kReduce | 7), refused},
        {"goto to no state", changed(kRow0 + 12 + 16, 99), refused},
        {"error entry to no state", changed(kRow0 + 12 + 24, 5), refused},
        {"conflict list missing", changed(4, 3 | 1u << 16), refused},
        {"counts too big in 64 bits", changed(8, 0xFFFFFFFF), "SSYacc0112e: Table too big"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MemoryError(c.image), c.error);
    }
}

TEST(SSYaccTable, FileAndResourceLoadersNameTheirFailures) {
    gmtest::TempDir dir;
    const std::vector<u8> image = SmallImage();
    const std::string good = dir.File("good.llr");
    gmtest::WriteFileText(good, std::string(image.begin(), image.end()));
    SSYaccTable plain(good.c_str());
    SSYaccTable buffered(SSYaccTable::Buffered{}, good.c_str());
    EXPECT_EQ(plain.stateCount(), 5u);
    EXPECT_EQ(buffered.stateCount(), 5u);

    const std::string missing = dir.File("missing.llr");
    EXPECT_EQ(sstest::ErrorText([&] { SSYaccTable t(missing.c_str()); }),
              "SSYacc0101e: Open file failed, " + missing);
    EXPECT_EQ(sstest::ErrorText([&] { SSYaccTable t(SSYaccTable::Buffered{}, missing.c_str()); }),
              "SSYacc0101e: Open file failed, " + missing);
    const std::string cut = dir.File("cut.llr");
    gmtest::WriteFileText(cut, std::string(image.begin(), image.begin() + 30));
    EXPECT_EQ(sstest::ErrorText([&] { SSYaccTable t(cut.c_str()); }),
              "SSYacc0111e: Error reading table, " + cut);
    EXPECT_EQ(sstest::ErrorText([] { SSYaccTable t(SSYaccTable::FromResource{}, "none.llr"); }),
              "SSYacc0115e: Resource not found, none.llr");
}

TEST(SSYaccTable, StoredErrorLeavesAnEmptyTable) {
    SSExceptionControl& control = ssExceptionControl();
    const SSExceptionControl saved = control;
    control.storeErrors = true;
    std::vector<u8> image = SmallImage();
    SetWord(image, 0, 2);
    SSYaccTable table(image.data(), image.size(), "t.llr");
    control = saved;
    ASSERT_NE(table.storedError(), nullptr);
    EXPECT_EQ(table.storedError()->errorId(), kSSYaccReadTable);
    EXPECT_EQ(table.stateCount(), 0u);
    u32 word = 0;
    EXPECT_FALSE(table.action(0, 10, word));
}

}  // namespace
