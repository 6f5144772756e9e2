// Fuzz target of the frame reader. A frame arrives in pieces from the input and a program of gets
// and puts, also from the input, works on it. Every result must match a plain model reading an
// exact copy of the received bytes. The block past the frame is filled with NUL, 'G', NUL ...
// first, so a read beyond the received bytes shows up as a difference.
//
// Input: flags byte (bit 0 swap, bits 1-2 source piece size, bit 3 minimum frame 6), chunk
// byte, program length byte, the program (one byte an operation), then the wire bytes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "lib_base/autochar.h"
#include "lib_base/stringz.h"
#include "lib_common/commbuffer.h"
#include "tests/fuzz/fuzzcheck.h"
#include "tests/support/bytesource.h"

namespace {

// Fails the run: the frame reader and the model disagree.

// The frame as plain bytes: what every get and put should do, without any of the buffer's
// bookkeeping.
struct tModel {
    std::vector<u8> payload;
    size_t pos = 0;
    bool swap = false;
    bool malformed = false;

    size_t Left() const { return payload.size() - pos; }
    bool Take(void* dst, size_t n) {
        if (n > Left()) {
            malformed = true;
            return false;
        }
        std::memcpy(dst, payload.data() + pos, n);
        pos += n;
        return true;
    }
    u64 Number(size_t n) {
        u8 bytes[8] = {};
        if (Take(bytes, n) && swap) std::reverse(bytes, bytes + n);
        u64 value = 0;
        std::memcpy(&value, bytes, n);
        return value;
    }
    // The text at the read position, or false without its NUL.
    bool Text(std::string& text) const {
        const auto begin = payload.begin() + static_cast<long>(pos);
        const auto nul = std::find(begin, payload.end(), u8{0});
        text.assign(begin, nul);
        return nul != payload.end();
    }
    void Put(const void* src, size_t n, bool number) {
        if (pos > 0) {
            payload.clear();
            pos = 0;
        }
        const u8* bytes = static_cast<const u8*>(src);
        const size_t at = payload.size();
        payload.insert(payload.end(), bytes, bytes + n);
        if (number && swap) std::reverse(payload.begin() + static_cast<long>(at), payload.end());
    }
};

template <typename T>
u64 Bits(T value) {
    u64 bits = 0;
    std::memcpy(&bits, &value, sizeof value);
    return bits;
}

// A byte count for the raw-byte gets: small, exact, one too many, negative or huge.
i64 CountFor(u8 arg, const tModel& model) {
    if (arg < 16) return arg;
    if (arg == 16) return -1;
    if (arg == 17) return static_cast<i64>(model.Left());
    if (arg == 18) return static_cast<i64>(model.Left()) + 1;
    return i64{1} << 32;
}

void GetNumber(tCommBuffer& buf, tModel& model, u8 op) {
    switch (op) {
        case 0: {
            i16 v = 1;
            buf.GetShort(v);
            FUZZ_CHECK(Bits(v) == model.Number(sizeof v));
            break;
        }
        case 1: {
            i32 v = 1;
            buf.GetLong(v);
            FUZZ_CHECK(Bits(v) == model.Number(sizeof v));
            break;
        }
        case 2: {
            f64 v = 1;
            buf.GetDouble(v);
            FUZZ_CHECK(Bits(v) == model.Number(sizeof v));
            break;
        }
        default: {
            u8 v = 1;
            buf.GetByte(v);
            FUZZ_CHECK(v == model.Number(sizeof v));
        }
    }
}

void GetText(tCommBuffer& buf, tModel& model, u8 op, u8 arg) {
    std::string expected;
    const bool whole = model.Text(expected);
    FUZZ_CHECK(buf.PeekStringLength() == expected.size());
    if (!whole || (op == 4 && expected.size() + 1 > tString::kMaxCapacity)) {
        model.malformed = true;
        expected.clear();
    } else {
        model.pos += expected.size() + 1;
    }
    if (op == 4) {
        tString text("old");
        buf.GetString(text);
        FUZZ_CHECK(expected == text.GetText());
        return;
    }
    const size_t size = arg + 1u;
    char text[32];
    const size_t length = buf.GetText(text, size);
    FUZZ_CHECK(length == expected.size());
    FUZZ_CHECK(expected.substr(0, size - 1) == text);
}

void GetRaw(tCommBuffer& buf, tModel& model, u8 op, u8 arg) {
    const i64 n = CountFor(arg, model);
    const bool fits = n >= 0 && static_cast<u64>(n) <= model.Left();
    std::vector<u8> expected(fits ? static_cast<size_t>(n) : 0);
    if (fits) {
        model.Take(expected.data(), expected.size());
    } else {
        model.malformed = true;
    }
    // A short read must write nothing: the target is only as large as the bytes that fit.
    if (op == 7 && n != 0 && !(fits && n > 64)) {  // a bounded buffer refuses 0 and overruns
        AutoChar got(64, __FILE__, __LINE__);
        got.Fill(0x55, 64);
        buf.GetBytes(got, n);
        expected.resize(64, 0x55);
        FUZZ_CHECK(std::memcmp(expected.data(), got.GetText(), 64) == 0);
        return;
    }
    std::vector<u8> got(expected.size() + 1, 0x55);
    buf.GetBytes(got.data(), n);
    expected.push_back(0x55);
    FUZZ_CHECK(got == expected);
}

void Put(tCommBuffer& buf, tModel& model, u8 op, u8 arg) {
    if (op == 9) {
        const i16 v = static_cast<i16>(arg * 0x0101 + 1);
        buf.PutShort(v);
        model.Put(&v, sizeof v, true);
    } else if (op == 10) {
        const std::string text(arg, 'x');
        buf.PutString(arg == 0 ? nullptr : text.c_str());
        model.Put(text.c_str(), text.size() + 1, false);
    } else {
        const std::vector<u8> bytes(arg * 97u, static_cast<u8>(arg));
        buf.PutBytes(bytes.data(), bytes.size());
        model.Put(bytes.data(), bytes.size(), false);
    }
}

void Run(tCommBuffer& buf, tModel& model, const u8* program, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const u8 op = program[i] % 12;
        const u8 arg = program[i] / 12;
        if (op <= 3) GetNumber(buf, model, op);
        if (op == 4 || op == 5) GetText(buf, model, op, arg);
        if (op == 6 || op == 7) GetRaw(buf, model, op, arg);
        if (op == 8) FUZZ_CHECK(buf.PeekStringLength() <= buf.GetBytesLeft());
        if (op >= 9) Put(buf, model, op, arg);
        FUZZ_CHECK(buf.GetBytesLeft() == model.Left());
        FUZZ_CHECK(buf.IsMalformed() == model.malformed);
    }
}

u32 HeaderOf(const u8* wire, size_t size, bool swap) {
    u32 header = 0;
    std::memcpy(&header, wire, std::min<size_t>(size, 4));
    if (swap) SwapBytes(&header, sizeof header);
    return header;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const bool swap = data[0] & 1;
    const u32 pieceSizes[] = {1, 3, 1000, 1u << 20};
    const u32 pieceSize = pieceSizes[(data[0] >> 1) & 3];
    const u32 minLength = (data[0] & 8) ? 6 : 4;
    const u32 chunk = data[1] * 37u;
    const size_t programLength = std::min<size_t>(data[2], size - 3);
    const u8* program = data + 3;
    const u8* wire = program + programLength;
    const size_t wireSize = size - 3 - programLength;

    tCommBuffer buf;
    buf.SetSwap(swap);
    gmtest::ScriptedSource source(std::string(wire, wire + wireSize), pieceSize);
    const tReceiveStatus status = buf.ReceiveFrame(source, chunk, minLength);
    const u32 header = HeaderOf(wire, wireSize, swap);
    if (status != tReceiveStatus::Received) {
        FUZZ_CHECK(buf.IsMalformed() && buf.GetBytesLeft() == 0);
        if (status == tReceiveStatus::SourceEnded) {
            FUZZ_CHECK(wireSize < 4 || wireSize < header);
        } else {
            FUZZ_CHECK(header < minLength || header > tCommBuffer::kMaxFrameLength);
        }
        return 0;
    }
    FUZZ_CHECK(header >= minLength && header <= tCommBuffer::kMaxFrameLength);
    FUZZ_CHECK(source.served == header + buf.GetReadAheadLength() &&
               buf.GetFrameLength() == header);
    FUZZ_CHECK(!buf.IsMalformed() && buf.ReadHeaderLength() == header);

    for (u32 i = header; i < buf.GetCapacity(); ++i)
        *buf.GetReceivePtr(i) = (i - header) % 2 ? 'G' : 0;
    tModel model;
    model.swap = swap;
    model.payload.assign(wire + 4, wire + header);
    Run(buf, model, program, programLength);

    const u8* frame = buf.GetFrame();
    FUZZ_CHECK(HeaderOf(frame, 4, swap) == buf.GetFrameLength());
    FUZZ_CHECK(buf.GetFrameLength() == model.payload.size() + 4);
    FUZZ_CHECK(std::equal(model.payload.begin(), model.payload.end(), frame + 4));
    return 0;
}
