#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "lib_base/misc.h"
#include "tests/support/gmtest.h"

using gmtest::AssertText;

namespace {

TEST(RandomInRange, StaysInTheHalfOpenRange) {
    for (int i = 0; i < 200; ++i) EXPECT_EQ(RandomInRange(10, 11, 0), 10);
    std::set<i32> seen;
    for (int i = 0; i < 2000; ++i) {
        const i32 r = RandomInRange(-3, 3, 0);
        ASSERT_GE(r, -3);
        ASSERT_LT(r, 3);
        seen.insert(r);
    }
    EXPECT_EQ(seen.size(), 6u);
    for (int i = 0; i < 200; ++i) {
        // The span does not fit in 32 bits: must not overflow (UBSan would stop here).
        const i32 r = RandomInRange(INT32_MIN, INT32_MAX, 0);
        EXPECT_LT(r, INT32_MAX);
    }
}

TEST(RandomInRange, SameSeedGivesTheSameSequence) {
    std::vector<i32> first;
    std::vector<i32> second;
    first.push_back(RandomInRange(0, 1000000, 12345));
    for (int i = 0; i < 20; ++i) first.push_back(RandomInRange(0, 1000000, 0));
    second.push_back(RandomInRange(0, 1000000, 12345));
    for (int i = 0; i < 20; ++i) second.push_back(RandomInRange(0, 1000000, 0));
    EXPECT_EQ(first, second);
}

TEST(RandomInRange, EmptyOrReversedRangeIsAnAssertion) {
    EXPECT_EQ(AssertText([] { RandomInRange(5, 5, 0); }), "invalid random range");
    EXPECT_EQ(AssertText([] { RandomInRange(6, 5, 0); }), "invalid random range");
    EXPECT_EQ(RandomInRange(4, 5, 0), 4);  // the lock was released by the unwinding
}

TEST(RoundScaled, RoundsHalfAwayFromZero) {
    const struct {
        f64 value;
        f64 scale;
        f64 want;
    } cases[] = {
        {0.5, 1, 1},
        {-0.5, 1, -1},
        {0.49, 1, 0},
        {2.5, 1, 3},
        {-2.5, 1, -3},
        {0.125, 100, 0.13},
        {-0.125, 100, -0.13},
        {1234.4999, 1, 1234},
        {7, 1, 7},
        {0.0000005, 1000000, 0.000001},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.value) + " scale " + std::to_string(c.scale));
        EXPECT_DOUBLE_EQ(RoundScaled(c.value, c.scale), c.want);
    }
}

TEST(DecimalMod, RemainderInDecimalTerms) {
    const struct {
        f64 a;
        f64 b;
        f64 want;
    } cases[] = {
        {10.5, 3, 1.5},  {-7, 2, -1},   {7, -2, 1},
        {9, 3, 0},       {0.3, 0.1, 0},  // binary floating point would give 0.0999...
        {1.15, 0.05, 0}, {100, 7, 2},   {2, 5, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.a) + " mod " + std::to_string(c.b));
        EXPECT_NEAR(DecimalMod(c.a, c.b), c.want, 1e-9);
    }
    EXPECT_TRUE(std::isnan(DecimalMod(5.5, 0)));
}

TEST(FixedDigits, DigitsPointAndSignApart) {
    const struct {
        f64 value;
        i32 decimals;
        const char* digits;
        i32 point;
        i32 sign;
    } cases[] = {
        {1234.5, 2, "123450", 4, 0},
        {-12.5, 2, "1250", 2, 1},
        {0.5, 2, "50", 0, 0},
        {0.05, 2, "5", -1, 0},
        {0.999, 2, "100", 1, 0},
        {3.14159, 3, "3142", 1, 0},
        {123456789, 0, "123456789", 9, 0},
        {0.0, 2, "00", 0, 0},
        {-0.0, 2, "00", 0, 0},  // negative zero is plain zero
        {-0.001, 2, "00", 0, 0},
        {0.0, 0, "", 0, 0},
        {-7, -3, "7", 1, 1},  // decimals below 0 count as 0
        {NAN, 2, "", 0, 0},
        {-INFINITY, 2, "", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.value) + " with " + std::to_string(c.decimals));
        char buffer[31];
        std::memset(buffer, 'x', sizeof buffer);
        i32 point = 99;
        i32 sign = 99;
        FixedDigits(c.value, c.decimals, point, sign, buffer, sizeof buffer);
        EXPECT_STREQ(buffer, c.digits);
        EXPECT_EQ(point, c.point);
        EXPECT_EQ(sign, c.sign);
    }
}

TEST(FixedDigits, TextIsCutToTheBuffer) {
    char buffer[32];
    std::memset(buffer, 'x', sizeof buffer);
    i32 point = 0;
    i32 sign = 0;
    FixedDigits(-1e40, 0, point, sign, buffer, 31);
    EXPECT_EQ(std::strlen(buffer), 30u);
    EXPECT_EQ(std::string(buffer, 10), "1000000000");
    EXPECT_EQ(point, 41);
    EXPECT_EQ(sign, 1);
    EXPECT_EQ(buffer[31], 'x');
    FixedDigits(12.5, 1, point, sign, buffer, 3);
    EXPECT_STREQ(buffer, "12");
}

TEST(Picture, GroupsThousandsAndFillsOverflowWithStars) {
    const struct {
        f64 value;
        const char* text;
    } cases[] = {
        {1234.5, "  1.234,50"},
        {-12.5, "    -12,50"},
        {0.5, "      0,50"},
        {123456789, "**********"},
        {-0.5, "     -0,50"},
        {-0.001, "      0,00"},  // rounds to zero: no sign
        {999999.994, "999.999,99"},
        {999999.996, "**********"},  // rounds up past the digit positions
        {-99999.99, "-99.999,99"},
        {-999999.99, "**********"},  // needs every digit position: no room for '-'
        {NAN, "**********"},
        {INFINITY, "**********"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        tString result("old");
        FormatPicture("ZZZ.ZZ9,99", c.value, result);
        EXPECT_STREQ(result.GetText(), c.text);
    }
}

TEST(Picture, SeparatorsBlanksAndZeros) {
    const struct {
        const char* picture;
        f64 value;
        char separator;
        bool wholeOnly;
        const char* text;
    } cases[] = {
        {"ZZ,ZZ9.99", 1234.5, '.', false, " 1,234.50"},
        {"ZZZ.ZZ9,99", 1234.5, '.', false, "**********"},  // ',' is ordinary: no decimals
        {"ZZZ.ZZ9,99", 12.5, '.', false, " 12.500,00"},    // five decimal positions
        {",99", 5, ',', false, " 05"},                     // a separator at position 0 is ordinary
        {"999", 5, ',', false, "005"},
        {"ZZZ", 5, ',', false, "  5"},
        {"ZZZ", 0, ',', false, "   "},         // no '9': every unplaced position is blank
        {"99,99", -1.5, ',', false, "*****"},  // no blank left for the '-'
        {"Z9,99", -1.5, ',', false, "-1,50"},
        {"ZZ9,99", 12.6, ',', true, " 13,00"},
        {"ZZ9,99", -0.4, ',', true, "  0,00"},
        {"9,999999999999999999999999999999999999", 0.5, ',', false,
         "0,500000000000000000000000000000000000"},
        {"", 5, ',', false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.picture) + " of " + std::to_string(c.value));
        tString result;
        FormatPictureEx(c.picture, c.value, c.separator, result, c.wholeOnly);
        EXPECT_STREQ(result.GetText(), c.text);
    }
}

TEST(Picture, OverLongPictureGivesStarsOfItsLength) {
    const std::string fits(39, '9');
    const std::string tooLong(40, '9');
    tString result;
    FormatPicture(fits.c_str(), 7, result);
    EXPECT_EQ(std::string(result.GetText()), std::string(38, '0') + "7");
    FormatPicture(tooLong.c_str(), 7, result);
    EXPECT_EQ(std::string(result.GetText()), std::string(40, '*'));
    FormatPictureInt(tooLong.c_str(), 7, result);
    EXPECT_EQ(std::string(result.GetText()), std::string(40, '*'));
    FormatPictureDigits(tooLong.c_str(), "7", result);
    EXPECT_EQ(std::string(result.GetText()), std::string(40, '*'));
}

TEST(Picture, IntegerAndDigitTexts) {
    const struct {
        const char* picture;
        i32 value;
        const char* text;
    } ints[] = {
        {"ZZZ9", 42, "  42"}, {"ZZ9,99", 12, " 12,00"},  {"ZZ9", -5, " -5"},
        {"ZZ9", 1234, "***"}, {"999", 0, "000"},         {"ZZ.ZZ9", 12345, "12.345"},
        {"ZZ9", -12, "-12"},  {"ZZ9", INT32_MIN, "***"},
    };
    for (const auto& c : ints) {
        SCOPED_TRACE(std::string(c.picture) + " of " + std::to_string(c.value));
        tString result;
        FormatPictureInt(c.picture, c.value, result);
        EXPECT_STREQ(result.GetText(), c.text);
    }
    const struct {
        const char* picture;
        const char* digits;
        const char* text;
    } texts[] = {
        {"99-99", "1234", "12-34"}, {"ZZZ9", "", "   0"}, {"ZZZ9", nullptr, "   0"},
        {"Z9,9", "7", " 7,0"},      {"99", "123", "**"},
    };
    for (const auto& c : texts) {
        SCOPED_TRACE(std::string(c.picture) + " of " + (c.digits ? c.digits : "(null)"));
        tString result;
        FormatPictureDigits(c.picture, c.digits, result);
        EXPECT_STREQ(result.GetText(), c.text);
    }
}

}  // namespace
