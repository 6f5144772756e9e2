// The frame buffer: puts and gets of the wire elements, block growth, the length prefix and the
// receipt of one frame from a byte source. Also the byte reverser and the host byte-order test.
#include "lib_common/commbuffer.h"

#include <algorithm>
#include <cstring>

#include "lib_base/autochar.h"
#include "lib_base/gmlassert.h"
#include "lib_base/printer.h"
#include "lib_base/stringz.h"
#include "lib_common/retcodes.h"

// Frame window (the frame starts at the block):
//  (1) 4 <= readPos, and readPos + bytesLeft == 4 + writeLen <= capacity.
//  (2) A get that would break (1) reads nothing, moves nothing, and marks the frame malformed.
//  (3) The malformed mark clears only when a frame is received, so a handler's Reset cannot hide
//      a malformed request from the request loop.
//  (4) 4 + writeLen <= kMaxFrameLength, and capacity >= kInitialCapacity.

namespace {

// One writer: a load and a store keep the counter exact without a locked add.
void AddTotal(std::atomic<u64>& total, u64 n) {
    total.store(total.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
}

}  // namespace

tCommBuffer::tCommBuffer() {
    block = static_cast<u8*>(GML_ALLOC(kInitialCapacity, Mem_CommBuffer));
    GML_ASSERT(block != nullptr, "*** Memory Allocation Failure on tCommBuffer ****");
    capacity = kInitialCapacity;
}

tCommBuffer::~tCommBuffer() { GML_FREE(block); }

void tCommBuffer::Reset() {
    writeLen = 0;
    readPos = kHeaderSize;
    bytesLeft = 0;
    lastReturnCode = 0;
}

void tCommBuffer::Prepare(u64 n) {
    const u64 frameLen = GetFrameLength();
    GML_ASSERT(n <= kMaxFrameLength && frameLen + n <= kMaxFrameLength,  // (4)
               "frame over the largest frame allowed");
    if (capacity < frameLen + n) {
        // Below 2 * kMaxFrameLength + 64 KiB: capacity was short of frameLen + n.
        Resize(static_cast<u32>(capacity + n + kInitialCapacity), capacity);
    } else if (capacity > kInitialCapacity && frameLen + n < kInitialCapacity) {
        Resize(kInitialCapacity, kInitialCapacity);
    }
}

void tCommBuffer::Resize(u32 newCapacity, size_t keep) {
    u8* moved = static_cast<u8*>(GML_ALLOC(newCapacity, Mem_CommBuffer));
    GML_ASSERT(moved != nullptr, "*** Memory Allocation Failure on tCommBuffer::Prepare ****");
    std::memcpy(moved, block, keep);
    GML_FREE(block);
    block = moved;
    capacity = newCapacity;
}

// ---- puts -------------------------------------------------------------------------------------

void tCommBuffer::BeginPut(size_t n) {
    if (readPos > kHeaderSize) Reset();  // something was read: this put starts the next frame
    Prepare(n);
}

void tCommBuffer::Append(const void* src, size_t n) {
    std::memcpy(block + kHeaderSize + writeLen, src, n);
    writeLen += static_cast<u32>(n);
    bytesLeft += static_cast<u32>(n);
    AddTotal(totalWritten, n);
}

void tCommBuffer::PutNumber(const void* src, size_t n) {
    BeginPut(n);
    u8 bytes[8];
    std::memcpy(bytes, src, n);
    if (swap) SwapBytes(bytes, n);
    Append(bytes, n);
}

void tCommBuffer::PutShort(i16 value) { PutNumber(&value, sizeof value); }
void tCommBuffer::PutLong(i32 value) { PutNumber(&value, sizeof value); }
void tCommBuffer::PutDouble(f64 value) { PutNumber(&value, sizeof value); }

void tCommBuffer::PutByte(u8 value) {
    BeginPut(sizeof value);
    Append(&value, sizeof value);
}

void tCommBuffer::PutBytes(const void* src, size_t n) {
    GML_ASSERT(src != nullptr || n == 0, "PutBytes from null");
    BeginPut(n);
    if (n > 0) Append(src, n);
}

void tCommBuffer::PutString(const char* text) {
    const size_t length = text ? std::strlen(text) : 0;
    BeginPut(length + 1);
    Append(text ? text : "", length + 1);
}

void tCommBuffer::PutTString(const tString& text) {
    const size_t length = static_cast<size_t>(text.GetLength());
    BeginPut(length + 1);
    Append(text.GetText(), length + 1);  // a string keeps a NUL at its length
}

void tCommBuffer::PutReturnCode(i16 code) {
    if (code == RC_NOT_CONNECTED || code == RC_COMM_FAILURE) {
        BasePrintf("[WARNING] INVALID RETURN ERROR CODE %i CHANGED TO %i\n", code,
                   RC_CLIENT_CODE_REPLACED);
        PutShort(RC_CLIENT_CODE_REPLACED);
    } else {
        PutShort(code);
    }
    lastReturnCode = code;  // after the put: a put that starts a new frame clears it
}

// ---- gets -------------------------------------------------------------------------------------

bool tCommBuffer::CheckLeft(i64 n) {
    if (n >= 0 && static_cast<u64>(n) <= bytesLeft) return true;
    malformed = true;  // (2)
    return false;
}

void tCommBuffer::Advance(u32 n) {
    readPos += n;
    bytesLeft -= n;
    AddTotal(totalRead, n);
}

void tCommBuffer::TakeNumber(void* dst, size_t n) {
    u8 bytes[8] = {};
    if (CheckLeft(static_cast<i64>(n))) {
        std::memcpy(bytes, ReadPtr(), n);
        if (swap) SwapBytes(bytes, n);
        Advance(static_cast<u32>(n));
    }
    std::memcpy(dst, bytes, n);
}

void tCommBuffer::GetShort(i16& value) { TakeNumber(&value, sizeof value); }
void tCommBuffer::GetLong(i32& value) { TakeNumber(&value, sizeof value); }
void tCommBuffer::GetDouble(f64& value) { TakeNumber(&value, sizeof value); }
void tCommBuffer::GetByte(u8& value) { TakeNumber(&value, sizeof value); }

void tCommBuffer::GetBytes(AutoChar& dst, i64 n) {
    if (!CheckLeft(n)) return;
    dst.SetBytes(ReadPtr(), n);
    Advance(static_cast<u32>(n));
}

void tCommBuffer::GetBytes(void* dst, i64 n) {
    if (!CheckLeft(n)) return;
    if (n > 0) std::memcpy(dst, ReadPtr(), static_cast<size_t>(n));
    Advance(static_cast<u32>(n));
}

void tCommBuffer::GetString(tString& text) {
    const u32 length = PeekStringLength();
    // Without its NUL among the bytes left, or longer than a string holds, the text is not taken.
    if (!CheckLeft(i64{length} + 1) || length + 1 > tString::kMaxCapacity) {
        malformed = true;
        text = "";
        return;
    }
    text = reinterpret_cast<const char*>(ReadPtr());
    Advance(length + 1);
}

size_t tCommBuffer::GetText(char* dst, size_t size) {
    GML_ASSERT(dst != nullptr && size > 0, "GetText without room for the NUL");
    const u32 length = PeekStringLength();
    if (!CheckLeft(i64{length} + 1)) {
        dst[0] = '\0';
        return 0;
    }
    const size_t copied = std::min<size_t>(length, size - 1);
    std::memcpy(dst, ReadPtr(), copied);
    dst[copied] = '\0';
    Advance(length + 1);
    return length;
}

u32 tCommBuffer::PeekStringLength() const {
    if (bytesLeft == 0) return 0;
    const void* nul = std::memchr(ReadPtr(), 0, bytesLeft);
    return nul ? static_cast<u32>(static_cast<const u8*>(nul) - ReadPtr()) : bytesLeft;
}

// ---- frame header and receipt -----------------------------------------------------------------

void tCommBuffer::WriteHeader() {
    u32 length = GetFrameLength();
    if (swap) SwapBytes(&length, sizeof length);
    std::memcpy(block, &length, sizeof length);
}

const u8* tCommBuffer::GetFrame() {
    WriteHeader();
    return block;
}

u8* tCommBuffer::GetReceivePtr(u32 offset) {
    GML_ASSERT(offset <= capacity, "receive offset beyond the block");
    return block + offset;
}

u32 tCommBuffer::ReadHeaderLength() const {
    u32 length = 0;
    std::memcpy(&length, block, sizeof length);
    if (swap) SwapBytes(&length, sizeof length);
    return length;
}

u32 tCommBuffer::SetReceived(u32 n) {
    GML_ASSERT(n <= capacity && n <= kMaxFrameLength, "received count beyond the block");
    Reset();
    malformed = n < kHeaderSize;
    if (malformed) return 0;
    writeLen = bytesLeft = n - kHeaderSize;
    return writeLen;
}

i64 tCommBuffer::ReceiveInto(tByteSource& source, u32 at, u32 maxBytes, bool firstPiece) {
    const i64 got = source.Receive(block + at, maxBytes, firstPiece);
    GML_ASSERT(got <= static_cast<i64>(maxBytes), "byte source overran its piece");
    return got;
}

tReceiveStatus tCommBuffer::ReceiveFrame(tByteSource& source, u32 chunk, u32 minLength) {
    GML_ASSERT(minLength >= kHeaderSize && minLength <= kMaxFrameLength, "bad minimum frame");
    const u32 piece = std::clamp(chunk, kHeaderSize, kMaxFrameLength - kHeaderSize);
    Reset();
    u32 received = static_cast<u32>(readAhead.size());
    Prepare(std::max(piece, received));
    if (received > 0) std::memcpy(block, readAhead.data(), received);
    readAhead.clear();
    while (received < kHeaderSize) {
        const i64 got = ReceiveInto(source, received, piece - received, received == 0);
        if (got == tByteSource::kIdle && received == 0) return Refuse(tReceiveStatus::Idle);
        if (got <= 0) return Refuse(tReceiveStatus::SourceEnded);
        received += static_cast<u32>(got);
    }
    const u32 announced = ReadHeaderLength();
    if (announced < minLength || announced > kMaxFrameLength) {
        return Refuse(tReceiveStatus::BadLength);
    }
    if (received > announced) {
        // The next frames' first bytes: kept apart, since the reply is built over this block.
        readAhead.assign(block + announced, block + received);
        received = announced;
    }
    SetReceived(received);
    while (received < announced) {
        const u32 remaining = announced - received;
        // Growing by at least what arrived keeps the copying linear; growing by no more than
        // that keeps a header that lies about its length from costing memory.
        Prepare(std::min(remaining, std::max(piece, received)));
        const i64 got = ReceiveInto(source, received, std::min(piece, remaining), false);
        if (got <= 0) return Refuse(tReceiveStatus::SourceEnded);
        received += static_cast<u32>(got);
        SetReceived(received);
    }
    return tReceiveStatus::Received;
}

tReceiveStatus tCommBuffer::Refuse(tReceiveStatus status) {
    Reset();
    malformed = true;
    return status;
}

// ---- byte order -------------------------------------------------------------------------------

void SwapBytes(void* data, size_t n) {
    u8* bytes = static_cast<u8*>(data);
    for (size_t i = 0; i < n / 2; ++i) std::swap(bytes[i], bytes[n - 1 - i]);
}

bool IsLittleEndian() {
    const u16 probe = 0x42F2;
    u8 bytes[sizeof probe];
    std::memcpy(bytes, &probe, sizeof probe);
    return bytes[0] == 0xF2 && bytes[1] == 0x42;
}
