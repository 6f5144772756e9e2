// The typed parameter decoders over request payloads: the element each type byte builds, the
// bytes it consumes, and the refusals of counts and lengths the request cannot hold.
#include "server/dispatch/paramdecode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "lib_common/commbuffer.h"
#include "lib_common/retcodes.h"
#include "server/tables/dbtable.h"
#include "tests/server/support/wirebytes.h"

namespace {

using gmtest::Bytes;

// The payload as a received request, the byte-order of the host.
void Arrive(tCommBuffer& in, const std::string& payload) {
    const u32 length = static_cast<u32>(payload.size() + 4);
    in.Reset();
    in.Prepare(length);
    std::memcpy(in.GetReceivePtr(0), &length, 4);
    std::memcpy(in.GetReceivePtr(4), payload.data(), payload.size());
    ASSERT_EQ(in.SetReceived(length), payload.size());
}

Bytes Host() {
    const u16 one = 1;
    u8 first = 0;
    std::memcpy(&first, &one, 1);
    return Bytes(first == 0);
}

std::string Value(tDATAField& f, size_t n) {
    return std::string(static_cast<const char*>(f.GetData()), n);
}

struct Expected {
    const char* kind;  // the class built
    char type;
    i16 length;
    std::string value;  // the first bytes of the value
};

const char* KindOf(tDATAField& f) {
    if (dynamic_cast<tDateTimeField*>(&f)) return "datetime";
    if (dynamic_cast<tDateField*>(&f)) return "date";
    if (dynamic_cast<tImageField*>(&f)) return "image";
    if (dynamic_cast<tCharField*>(&f)) return "char";
    if (dynamic_cast<tNumericField*>(&f)) return "numeric";
    return "other";
}

TEST(DecodeParamList, BuildsOneElementPerKnownTypeByte) {
    const f64 two = 2.5;
    std::string twoBytes(reinterpret_cast<const char*>(&two), 8);
    const i32 seven = 7;
    std::string sevenBytes =
        std::string(reinterpret_cast<const char*>(&seven), 4) + std::string(4, '\0');
    const struct {
        const char* name;
        std::string payload;  // one parameter, then a trailing 'B' "z" that must arrive whole
        bool mssql;
        Expected element;
        i32 firstUnit, lastUnit;
    } cases[] = {
        {"A", Host().Byte('A').Text("abc").out, false, {"char", 'A', 3, "abc"}, 0, 0},
        {"B", Host().Byte('B').Text("").out, false, {"char", 'B', 0, std::string(1, '\0')}, 0, 0},
        {"D elsewhere",
         Host().Byte('D').Text("20110117").out,
         false,
         {"date", 'D', 24, "20110117"},
         0,
         0},
        {"D on MSSQL",
         Host().Byte('D').Text("25/12/2010").out,
         true,
         {"datetime", 'D', 24, "25/12/2010"},
         0,
         0},
        {"D long",
         Host().Byte('D').Text("2010-12-25 10:11:12.123456789").out,
         false,
         {"date", 'D', 29, "2010-12-25 10:11:12.123456789"},
         0,
         0},
        {"E", Host().Byte('E').Long(7).out, false, {"numeric", 'E', 4, sevenBytes}, 0, 0},
        {"R", Host().Byte('R').Long(7).out, false, {"numeric", 'R', 4, sevenBytes}, 0, 0},
        {"F", Host().Byte('F').out + twoBytes, false, {"numeric", 'N', 15, twoBytes}, 0, 0},
        {"I",
         Host().Byte('I').Long(3).out + std::string("\0\xFF\x01", 3),
         false,
         {"image", 'I', 0, std::string("\0\xFF\x01\0", 4)},
         0,
         0},
        {"I empty",
         Host().Byte('I').Long(0).out,
         false,
         {"image", 'I', 0, std::string(1, '\0')},
         0,
         0},
        {"L", Host().Byte('L').Byte('T').out, false, {"char", 'C', 1, std::string("T\0", 2)}, 0, 0},
        {"T",
         Host().Byte('T').Text("10:11:12").Long(4).Long(6).out,
         false,
         {"datetime", 'T', 24, "10:11:12"},
         4,
         6},
        {"X", Host().Byte('X').Byte('1').out, false, {"char", 'X', 1, std::string("1\0", 2)}, 0, 0},
    };
    tCommBuffer in;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Arrive(in, Host().Short(0).out + c.payload + Host().Byte('B').Text("z").out);
        i16 ignored = 0;
        in.GetShort(ignored);
        tAutoArray<tDATAField> params;
        ASSERT_EQ(DecodeParamList(in, 2, c.mssql, params), RC_OK);
        ASSERT_EQ(params.Count(), 2);
        tDATAField& f = *params.Get(0);
        EXPECT_STREQ(KindOf(f), c.element.kind);
        EXPECT_EQ(f.GetType(), c.element.type);
        EXPECT_EQ(f.GetLen(), c.element.length);
        EXPECT_STREQ(f.GetName(), "");
        EXPECT_EQ(Value(f, c.element.value.size()), c.element.value);
        EXPECT_EQ(f.GetFirstUnit(), c.firstUnit);
        EXPECT_EQ(f.GetLastUnit(), c.lastUnit);
        EXPECT_EQ(Value(*params.Get(1), 2), std::string("z\0", 2)) << "the next value moved";
        EXPECT_EQ(in.GetBytesLeft(), 0u);
        EXPECT_FALSE(in.IsMalformed());
    }
}

TEST(DecodeParamList, UnknownByteConsumesOnlyItselfAndCountZeroBindsNothing) {
    tCommBuffer in;
    Arrive(in, Host().Byte('Q').Byte('A').Text("x").out);
    tAutoArray<tDATAField> params;
    ASSERT_EQ(DecodeParamList(in, 2, false, params), RC_OK);
    ASSERT_EQ(params.Count(), 1);
    EXPECT_EQ(Value(*params.Get(0), 2), std::string("x\0", 2));

    Arrive(in, Host().Byte('A').Text("x").out);
    tAutoArray<tDATAField> none;
    ASSERT_EQ(DecodeParamList(in, 0, false, none), RC_OK);
    EXPECT_EQ(none.Count(), 0);
    EXPECT_FALSE(in.IsMalformed());
}

TEST(DecodeParamList, RefusesNegativeCountsAndRequestsTooShortWithNothingKept) {
    const struct {
        const char* name;
        std::string payload;
        i16 count;
        bool malformed;  // else refused with -19
    } cases[] = {
        {"negative count", Host().Byte('A').Text("x").out, -1, false},
        {"negative I count", Host().Byte('A').Text("x").Byte('I').Long(-5).out, 2, false},
        {"I count past the frame", Host().Byte('A').Text("x").Byte('I').Long(1000).out + "abc", 2,
         true},
        {"count past the frame", Host().Byte('A').Text("x").out, 3, true},
        {"text without its NUL", Host().Byte('A').Text("x").Byte('A').out + "yz", 2, true},
        {"T without its units", Host().Byte('A').Text("x").Byte('T').Text("t").Long(1).out, 2,
         true},
        {"E cut short", Host().Byte('A').Text("x").Byte('E').out + "ab", 2, true},
    };
    tCommBuffer in;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Arrive(in, c.payload);
        tAutoArray<tDATAField> params;
        EXPECT_EQ(DecodeParamList(in, c.count, false, params), RC_FAILED);
        EXPECT_EQ(params.Count(), 0);
        EXPECT_EQ(in.IsMalformed(), c.malformed);
    }
}

TEST(DecodeProcParams, ReadsItsOwnLettersAndWritesTheCallText) {
    const f64 two = 2.5;
    tCommBuffer in;
    Arrive(in, Host().Byte('A').Text("a").Byte('X').Byte('F').out +
                   std::string(reinterpret_cast<const char*>(&two), 8) +
                   Host().Byte('E').Byte('L').Byte('x').Byte('D').Text("31/12/2010").out);
    tAutoArray<tDATAField> params;
    tString call("-- CALL P (");
    ASSERT_EQ(DecodeProcParams(in, 6, params, call), RC_OK);
    EXPECT_STREQ(call.GetText(), "-- CALL P ('a',2,'x','31/12/2010'");
    ASSERT_EQ(params.Count(), 4);
    const struct {
        char type;
        i16 length;
    } shapes[] = {{'C', 1}, {'N', 15}, {'C', 1}, {'C', 10}};
    for (i32 i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(params.Get(i)->GetType(), shapes[i].type);
        EXPECT_EQ(params.Get(i)->GetLen(), shapes[i].length);
    }
    f64 passed = 0.0;
    std::memcpy(&passed, params.Get(1)->GetData(), sizeof passed);
    EXPECT_EQ(passed, 2.5) << "the value passed keeps its fraction";
    EXPECT_EQ(in.GetBytesLeft(), 0u);

    Arrive(in, Host().Byte('A').Text("a").out);
    tAutoArray<tDATAField> none;
    EXPECT_EQ(DecodeProcParams(in, -1, none, call), RC_FAILED);
    EXPECT_FALSE(in.IsMalformed());
    EXPECT_EQ(DecodeProcParams(in, 2, none, call), RC_FAILED);
    EXPECT_TRUE(in.IsMalformed());
    EXPECT_EQ(none.Count(), 0);
}

}  // namespace
