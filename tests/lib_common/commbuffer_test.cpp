#include "lib_common/commbuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "lib_base/autochar.h"
#include "lib_base/stringz.h"
#include "lib_common/retcodes.h"
#include "tests/support/bytesource.h"
#include "tests/support/gmtest.h"

using gmtest::AssertText;
using namespace std::string_literals;

namespace {

// The frame as bytes: what a sender would put on the wire.
std::string FrameBytes(tCommBuffer& buf) {
    const u8* frame = buf.GetFrame();
    return std::string(reinterpret_cast<const char*>(frame), buf.GetFrameLength());
}

std::string Payload(tCommBuffer& buf) { return FrameBytes(buf).substr(4); }

// Lays a frame of the payload into the block as a receiver would. The block past it holds NUL,
// 'G', NUL, 'G' ..., so a text read past the received bytes comes back whole, not refused.
void Arrive(tCommBuffer& buf, const std::string& payload) {
    const u32 length = static_cast<u32>(payload.size() + 4);
    for (u32 i = 0; i < buf.GetCapacity(); ++i) *buf.GetReceivePtr(i) = (i - length) % 2 ? 'G' : 0;
    std::memcpy(buf.GetReceivePtr(0), &length, 4);
    std::memcpy(buf.GetReceivePtr(4), payload.data(), payload.size());
    ASSERT_EQ(buf.SetReceived(length), payload.size());
}

std::string WithHeader(u32 length, const std::string& rest) {
    return std::string(reinterpret_cast<const char*>(&length), 4) + rest;
}

TEST(CommBuffer, HostIsLittleEndianAsTheseLayoutsExpect) {
    EXPECT_EQ(IsLittleEndian(), __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
    ASSERT_TRUE(IsLittleEndian()) << "the byte layouts below are written for x86_64";
}

TEST(CommBuffer, EmptyFrameIsItsFourBytePrefix) {
    tCommBuffer buf;
    EXPECT_EQ(FrameBytes(buf), "\x04\0\0\0"s);
    EXPECT_EQ(buf.ReadHeaderLength(), 4u);
    EXPECT_EQ(buf.GetCapacity(), 65536u);
}

TEST(CommBuffer, ElementsAreLaidOutInOrderWithoutPadding) {
    tCommBuffer buf;
    buf.PutShort(0x0102);
    buf.PutLong(0x03040506);
    buf.PutDouble(1.0);
    buf.PutByte(0xAB);
    buf.PutBytes("\x01\x02\x03", 3);
    buf.PutString("hi");
    buf.PutTString(tString("yo"));
    buf.PutReturnCode(-19);
    const std::string expected = "\x02\x01"s + "\x06\x05\x04\x03"s + "\0\0\0\0\0\0\xF0\x3F"s +
                                 "\xAB"s + "\x01\x02\x03"s + "hi\0"s + "yo\0"s + "\xED\xFF"s;
    EXPECT_EQ(Payload(buf), expected);
    EXPECT_EQ(buf.ReadHeaderLength(), 4 + expected.size());
    EXPECT_EQ(buf.GetTotalWritten(), expected.size());
}

TEST(CommBuffer, NullAndEmptyStringsAreOneNulByte) {
    const struct {
        const char* what;
        const char* text;
    } cases[] = {{"null", nullptr}, {"empty", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tCommBuffer buf;
        buf.PutString(c.text);
        EXPECT_EQ(FrameBytes(buf), "\x05\0\0\0\0"s);
    }
    tCommBuffer buf;
    buf.PutTString(tString());
    EXPECT_EQ(Payload(buf), "\0"s);
}

TEST(CommBuffer, LargeElementGrowsTheBlockAndTheNextSmallFrameShrinksIt) {
    tCommBuffer buf;
    buf.PutShort(7);
    std::vector<u8> big(70000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<u8>(i * 7);
    buf.PutBytes(big.data(), big.size());
    EXPECT_EQ(buf.GetCapacity(), 201072u);
    const std::string payload = Payload(buf);
    ASSERT_EQ(payload.size(), 70002u);
    EXPECT_EQ(payload.substr(0, 2), "\x07\0"s);
    EXPECT_EQ(std::memcmp(payload.data() + 2, big.data(), big.size()), 0);

    buf.Prepare(10);  // the grown frame is still there: no shrink
    EXPECT_EQ(buf.GetCapacity(), 201072u);
    buf.Reset();
    buf.Prepare(10);
    EXPECT_EQ(buf.GetCapacity(), 65536u);
    buf.PutString("after");
    EXPECT_EQ(Payload(buf), "after\0"s);
}

TEST(CommBuffer, SwapFlagReversesNumbersAndThePrefixButNotBytesOrTexts) {
    tCommBuffer buf;
    buf.SetSwap(true);
    buf.PutShort(0x0102);
    EXPECT_EQ(FrameBytes(buf), "\0\0\0\x06\x01\x02"s);

    buf.PutLong(0x03040506);
    buf.PutDouble(1.0);
    buf.PutByte(0xAB);
    buf.PutBytes("\x01\x02", 2);
    buf.PutString("ab");
    EXPECT_EQ(Payload(buf),
              "\x01\x02\x03\x04\x05\x06\x3F\xF0\0\0\0\0\0\0\xAB\x01\x02"
              "ab\0"s);
    EXPECT_EQ(buf.ReadHeaderLength(), 24u);
    buf.Reset();
    EXPECT_TRUE(buf.IsSwapped()) << "no reset touches the swap flag";
}

TEST(CommBuffer, SwappedNumbersReadBackAsSent) {
    tCommBuffer buf;
    buf.SetSwap(true);
    Arrive(buf, "\x01\x02\x03\x04\x05\x06\x3F\xF0\0\0\0\0\0\0"s);
    i16 s = 0;
    i32 l = 0;
    f64 d = 0;
    buf.GetShort(s);
    buf.GetLong(l);
    buf.GetDouble(d);
    EXPECT_EQ(s, 0x0102);
    EXPECT_EQ(l, 0x03040506);
    EXPECT_EQ(d, 1.0);
    EXPECT_FALSE(buf.IsMalformed());
}

TEST(CommBuffer, ReplyStartsAtTheFrameStartOnceTheRequestIsRead) {
    tCommBuffer buf;
    Arrive(buf, "\x08\0\xD2\x04\0\0"s);  // OP_OPEN, 1234
    EXPECT_EQ(buf.GetFrameLength(), 10u) << "a handler that writes nothing echoes the payload";
    i16 opcode = 0;
    i32 value = 0;
    buf.GetShort(opcode);
    buf.GetLong(value);
    EXPECT_EQ(opcode, 8);
    EXPECT_EQ(value, 1234);
    EXPECT_EQ(buf.GetBytesLeft(), 0u);
    EXPECT_EQ(buf.GetTotalRead(), 6u);

    buf.PutReturnCode(-25);
    EXPECT_EQ(FrameBytes(buf), "\x06\0\0\0\xE7\xFF"s);
    EXPECT_EQ(buf.GetReturnCode(), -25) << "the put that began the reply kept its code";
    buf.PutLong(5);
    EXPECT_EQ(Payload(buf), "\xE7\xFF\x05\0\0\0"s) << "later puts append";
}

TEST(CommBuffer, ClientLibraryCodesAreSentAsMinus86WithAWarning) {
    const struct {
        i16 code;
        const char* wire;
        const char* warning;
    } cases[] = {
        {-2, "\xAA\xFF", "[WARNING] INVALID RETURN ERROR CODE -2 CHANGED TO -86\n"},
        {-88, "\xAA\xFF", "[WARNING] INVALID RETURN ERROR CODE -88 CHANGED TO -86\n"},
        {-86, "\xAA\xFF", ""},
        {-19, "\xED\xFF", ""},
        {0, "\0\0", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        gmtest::ConsoleCapture console;
        tCommBuffer buf;
        buf.PutReturnCode(c.code);
        EXPECT_EQ(Payload(buf), std::string(c.wire, 2));
        EXPECT_EQ(buf.GetReturnCode(), c.code);
        EXPECT_EQ(console.Get(), c.warning);
        buf.Reset();
        EXPECT_EQ(buf.GetReturnCode(), 0);
    }
}

enum class tGet { Short, Long, Double, Byte, String, Text, Bytes, AutoBytes };

// Runs one get and renders what it gave.
std::string Take(tCommBuffer& buf, tGet get, i64 n) {
    switch (get) {
        case tGet::Short: {
            i16 v = -1;
            buf.GetShort(v);
            return std::to_string(v);
        }
        case tGet::Long: {
            i32 v = -1;
            buf.GetLong(v);
            return std::to_string(v);
        }
        case tGet::Double: {
            f64 v = -1;
            buf.GetDouble(v);
            return std::to_string(v);
        }
        case tGet::Byte: {
            u8 v = 1;
            buf.GetByte(v);
            return std::to_string(v);
        }
        case tGet::String: {
            tString v("old");
            buf.GetString(v);
            return v.GetText();
        }
        case tGet::Text: {
            char v[8] = "old";
            buf.GetText(v, sizeof v);
            return v;
        }
        case tGet::Bytes: {
            char v[8] = "untouch";
            buf.GetBytes(v, n);
            return std::string(v, 7);
        }
        case tGet::AutoBytes: {
            AutoChar v(8, __FILE__, __LINE__);
            v.Copy("untouch");
            buf.GetBytes(v, n);
            return std::string(v.GetText(), 7);
        }
    }
    return "?";
}

TEST(CommBuffer, ShortReadsGiveNothingMoveNothingAndMarkTheFrame) {
    const struct {
        const char* what;
        std::string payload;
        tGet get;
        i64 n;
        std::string result;
        u32 left;  // bytes left after the get
        bool malformed;
    } cases[] = {
        {"short of one byte", "\x01"s, tGet::Short, 0, "0", 1, true},
        {"long of three bytes", "\x01\x02\x03"s, tGet::Long, 0, "0", 3, true},
        {"double of seven bytes", "\x01\x02\x03\x04\x05\x06\x07"s, tGet::Double, 0, "0.000000", 7,
         true},
        {"byte of nothing", "", tGet::Byte, 0, "0", 0, true},
        {"string without its NUL", "abc", tGet::String, 0, "", 3, true},
        {"string of nothing", "", tGet::String, 0, "", 0, true},
        {"text without its NUL", "abcdef", tGet::Text, 0, "", 6, true},
        {"text of nothing", "", tGet::Text, 0, "", 0, true},
        {"5 bytes of 4", "wxyz", tGet::Bytes, 5, "untouch", 4, true},
        {"-1 bytes", "wxyz", tGet::Bytes, -1, "untouch", 4, true},
        {"4 GiB bytes", "wxyz", tGet::Bytes, i64{1} << 32, "untouch", 4, true},
        {"5 bytes of 4 into a bounded buffer", "wxyz", tGet::AutoBytes, 5, "untouch", 4, true},
        {"-1 bytes into a bounded buffer", "wxyz", tGet::AutoBytes, -1, "untouch", 4, true},
        // The same gets on whole elements, for contrast.
        {"short", "\x01\x02"s, tGet::Short, 0, "513", 0, false},
        {"string", "abc\0z"s, tGet::String, 0, "abc", 1, false},
        {"empty string", "\0"s, tGet::String, 0, "", 0, false},
        {"text", "abc\0"s, tGet::Text, 0, "abc", 0, false},
        {"4 bytes of 4", "wxyz", tGet::Bytes, 4, "wxyzuch", 0, false},
        {"0 bytes", "wxyz", tGet::Bytes, 0, "untouch", 4, false},
        {"4 bytes into a bounded buffer", "wxyz", tGet::AutoBytes, 4, "wxyzuch", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tCommBuffer buf;
        Arrive(buf, c.payload);
        EXPECT_EQ(Take(buf, c.get, c.n), c.result);
        EXPECT_EQ(buf.GetBytesLeft(), c.left);
        EXPECT_EQ(buf.GetTotalRead(), c.payload.size() - c.left);
        EXPECT_EQ(buf.IsMalformed(), c.malformed);
    }
}

TEST(CommBuffer, StringLengthsStopAtTheReceivedBytes) {
    tCommBuffer buf;
    Arrive(buf, "abc\0xy"s);
    EXPECT_EQ(buf.PeekStringLength(), 3u);
    tString s;
    buf.GetString(s);
    EXPECT_EQ(buf.PeekStringLength(), 2u) << "no NUL: up to the last byte, not into the block";
    buf.GetString(s);
    EXPECT_TRUE(buf.IsMalformed());
    EXPECT_EQ(buf.PeekStringLength(), 2u);
    EXPECT_EQ(buf.GetBytesLeft(), 2u);
}

TEST(CommBuffer, TextIsCutToTheBufferAndWhollyConsumed) {
    tCommBuffer buf;
    Arrive(buf, "abcdef\0\x05\0"s);
    char text[4];
    EXPECT_EQ(buf.GetText(text, sizeof text), 6u);
    EXPECT_STREQ(text, "abc");
    i16 next = 0;
    buf.GetShort(next);
    EXPECT_EQ(next, 5);
    EXPECT_FALSE(buf.IsMalformed());
}

TEST(CommBuffer, MalformedMarkOutlivesResetsUntilTheNextFrame) {
    tCommBuffer buf;
    Arrive(buf, "\x01"s);
    i32 v = 0;
    buf.GetLong(v);
    ASSERT_TRUE(buf.IsMalformed());
    buf.Reset();
    buf.PutShort(1);
    EXPECT_TRUE(buf.IsMalformed());
    Arrive(buf, "\x01\0"s);
    EXPECT_FALSE(buf.IsMalformed());

    EXPECT_EQ(buf.SetReceived(3), 0u) << "fewer bytes than a header";
    EXPECT_TRUE(buf.IsMalformed());
    EXPECT_EQ(buf.GetBytesLeft(), 0u);
}

TEST(CommBuffer, OwnMisuseAsserts) {
    tCommBuffer buf;
    Arrive(buf, "wxyz");
    AutoChar small(2, __FILE__, __LINE__);
    char text[1];
    const struct {
        const char* what;
        std::function<void()> call;
        const char* text;
    } cases[] = {
        {"0 bytes into a bounded buffer", [&] { buf.GetBytes(small, 0); }, "AutoChar memcpy"},
        {"3 bytes into 2", [&] { buf.GetBytes(small, 3); }, "AutoChar memcpy"},
        {"text into no room", [&] { buf.GetText(text, 0); }, "GetText without room for the NUL"},
        {"frame past the largest", [&] { buf.Prepare(tCommBuffer::kMaxFrameLength - 7); },
         "frame over the largest frame allowed"},
        {"receive past the block", [&] { buf.GetReceivePtr(65537); },
         "receive offset beyond the block"},
        {"received past the block", [&] { buf.SetReceived(65537); },
         "received count beyond the block"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(AssertText(c.call), c.text);
    }
    EXPECT_EQ(buf.GetBytesLeft(), 4u);
    EXPECT_FALSE(buf.IsMalformed());
}

TEST(CommBufferReceive, RefusesHeadersOutOfBoundsAndShortFrames) {
    const u32 kMax = tCommBuffer::kMaxFrameLength;
    const struct {
        const char* what;
        std::string wire;
        u32 piece;
        u32 minLength;
        tReceiveStatus status;
    } cases[] = {
        {"header 0", WithHeader(0, "\x01\0"s), 64, 4, tReceiveStatus::BadLength},
        {"header 3", WithHeader(3, "\x01\0"s), 64, 4, tReceiveStatus::BadLength},
        {"header 4 GiB - 1", WithHeader(0xFFFFFFFF, "\x01\0"s), 64, 4, tReceiveStatus::BadLength},
        {"header past the largest", WithHeader(kMax + 1, "\x01\0"s), 64, 4,
         tReceiveStatus::BadLength},
        {"header below the minimum", WithHeader(5, "\x01"s), 64, 6, tReceiveStatus::BadLength},
        {"nothing arrives", "", 64, 4, tReceiveStatus::SourceEnded},
        {"half a header", "\x08\0"s, 64, 4, tReceiveStatus::SourceEnded},
        {"payload cut short", WithHeader(20, "0123456789"), 64, 4, tReceiveStatus::SourceEnded},
        {"largest frame announced, 10 bytes sent", WithHeader(kMax, "0123456789"), 8192, 4,
         tReceiveStatus::SourceEnded},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tCommBuffer buf;
        gmtest::ScriptedSource source(c.wire, c.piece);
        EXPECT_EQ(buf.ReceiveFrame(source, 8192, c.minLength), c.status);
        EXPECT_TRUE(buf.IsMalformed());
        EXPECT_EQ(buf.GetBytesLeft(), 0u);
        EXPECT_LT(buf.GetCapacity(), 4u * 65536) << "a lying header costs no memory";
    }
}

TEST(CommBufferReceive, AssemblesAFrameFromAnyPieces) {
    std::string payload(300000, '\0');
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i % 251);
    const std::string wire = WithHeader(static_cast<u32>(payload.size() + 4), payload);
    const struct {
        u32 sourcePiece;
        u32 chunk;
    } cases[] = {{1, 8192},      {3, 8192},         {8192, 8192},
                 {100000, 8192}, {1 << 20, 300004}, {1 << 20, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sourcePiece << " / " << c.chunk);
        tCommBuffer buf;
        buf.PutString("stale");
        gmtest::ScriptedSource source(wire + "next frame", c.sourcePiece);
        ASSERT_EQ(buf.ReceiveFrame(source, c.chunk), tReceiveStatus::Received);
        EXPECT_EQ(source.served, wire.size() + buf.GetReadAheadLength())
            << "what arrived past the frame is kept for the next one";
        EXPECT_EQ(source.firstPieces, 1);
        EXPECT_LE(source.largestAsk, std::max(c.chunk, 4u));
        EXPECT_FALSE(buf.IsMalformed());
        EXPECT_EQ(buf.GetBytesLeft(), payload.size());
        std::string got(payload.size(), '\0');
        buf.GetBytes(got.data(), static_cast<i64>(got.size()));
        EXPECT_TRUE(got == payload);
    }
}

// Serves a script of receipts: each entry is what one call gives (bytes, or kIdle when empty).
class ReceiptSource : public tByteSource {
public:
    explicit ReceiptSource(std::vector<std::string> receipts) : receipts(std::move(receipts)) {}
    i64 Receive(void* dst, u32 maxBytes, bool firstPiece) override {
        ++calls;
        firstPieces += firstPiece ? 1 : 0;
        if (next == receipts.size()) return 0;
        const std::string& bytes = receipts[next++];
        if (bytes.empty()) return kIdle;
        EXPECT_LE(bytes.size(), maxBytes);
        std::memcpy(dst, bytes.data(), bytes.size());
        return static_cast<i64>(bytes.size());
    }
    std::vector<std::string> receipts;
    size_t next = 0;
    int calls = 0;
    int firstPieces = 0;
};

TEST(CommBufferReceive, BytesPastAFrameBeginTheNextReceipt) {
    const std::string a = WithHeader(6, "\x01\0"s);
    const std::string b = WithHeader(9, "\x02\0xyz"s);
    const std::string c = WithHeader(10,
                                     "\x03\0"
                                     "abcd"s);
    ReceiptSource source({a + b + c.substr(0, 3), c.substr(3, 4), c.substr(7), ""});
    tCommBuffer buf;
    ASSERT_EQ(buf.ReceiveFrame(source, 8192, 6), tReceiveStatus::Received);
    EXPECT_EQ(Payload(buf), "\x01\0"s);
    EXPECT_EQ(buf.GetReadAheadLength(), b.size() + 3);
    // A reply built over the block leaves the kept bytes alone.
    buf.Reset();
    buf.PutString(std::string(200, 'r').c_str());

    ASSERT_EQ(buf.ReceiveFrame(source, 8192, 6), tReceiveStatus::Received);
    EXPECT_EQ(Payload(buf), "\x02\0xyz"s);
    EXPECT_EQ(source.calls, 1) << "a whole frame kept asks the source nothing";

    ASSERT_EQ(buf.ReceiveFrame(source, 8192, 6), tReceiveStatus::Received);
    EXPECT_EQ(Payload(buf), "\x03\0abcd"s);
    EXPECT_EQ(source.calls, 3);
    EXPECT_EQ(source.firstPieces, 1) << "a frame begun by kept bytes has no first piece";
    EXPECT_EQ(buf.GetReadAheadLength(), 0u);

    EXPECT_EQ(buf.ReceiveFrame(source, 8192, 6), tReceiveStatus::Idle);
    EXPECT_TRUE(buf.IsMalformed());
    EXPECT_EQ(buf.ReceiveFrame(source, 8192, 6), tReceiveStatus::SourceEnded);
}

TEST(CommBufferReceive, KeptBytesAreCheckedLikeReceivedOnes) {
    const std::string good = WithHeader(6, "\x01\0"s);
    const struct {
        const char* what;
        std::string next;  // arrives with the good frame
        tReceiveStatus status;
    } cases[] = {
        {"header below the minimum", WithHeader(5, "\x01"s), tReceiveStatus::BadLength},
        {"header past the largest", WithHeader(0xFFFFFFFF, "\x01\0"s), tReceiveStatus::BadLength},
        {"half a header, then the end", "\x08\0"s, tReceiveStatus::SourceEnded},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ReceiptSource source({good + c.next});
        tCommBuffer buf;
        ASSERT_EQ(buf.ReceiveFrame(source, 8192, 6), tReceiveStatus::Received);
        EXPECT_EQ(buf.ReceiveFrame(source, 8192, 6), c.status);
        EXPECT_TRUE(buf.IsMalformed());
        EXPECT_EQ(buf.GetBytesLeft(), 0u);
        EXPECT_EQ(buf.GetReadAheadLength(), 0u);
    }
}

TEST(CommBufferReceive, SwappedHeaderIsReadReversed) {
    tCommBuffer buf;
    buf.SetSwap(true);
    gmtest::ScriptedSource source("\0\0\0\x06\x01\x02"s, 64);
    ASSERT_EQ(buf.ReceiveFrame(source, 64, 6), tReceiveStatus::Received);
    i16 opcode = 0;
    buf.GetShort(opcode);
    EXPECT_EQ(opcode, 0x0102);
}

TEST(SwapBytes, ReversesExactlyTheGivenBytes) {
    const struct {
        std::string in;
        size_t n;
        std::string out;
    } cases[] = {{"abcdefghZ", 0, "abcdefghZ"},
                 {"aZ", 1, "aZ"},
                 {"abZ", 2, "baZ"},
                 {"abcZ", 3, "cbaZ"},
                 {"abcdefghZ", 8, "hgfedcbaZ"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        std::string s = c.in;
        SwapBytes(s.data(), c.n);
        EXPECT_EQ(s, c.out);
    }
}

}  // namespace
