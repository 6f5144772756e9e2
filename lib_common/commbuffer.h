// The frame buffer of the client/server protocol, used by the server and the client library
// alike: every request and reply is built and read in one. It owns the wire frame (the u32
// length prefix, the element encodings, the byte-order swap) and bounds every read by what arrived.
#pragma once
#include <atomic>
#include <cstddef>
#include <vector>

#include "lib_base/gmlalloc.h"
#include "lib_base/types.h"

class AutoChar;
class tString;

// Where the bytes of a received frame come from; the socket layer implements it.
class tByteSource {
public:
    // What Receive gives for a first piece when its wait for the next frame ran out with the
    // peer still there: the connection is idle, not ended.
    static constexpr i64 kIdle = -2;

    virtual ~tByteSource() = default;
    // Receives at most maxBytes (1 or more) into dst and gives the count received, kIdle (first
    // piece only), or another value of 0 or below when nothing more will come (peer gone, thread
    // asked to stop, time-out given up); the source reports its own failure. firstPiece:
    // nothing of this frame has arrived yet.
    virtual i64 Receive(void* dst, u32 maxBytes, bool firstPiece) = 0;
};

enum class tReceiveStatus {
    Received,     // one whole frame is in the buffer, its payload ready to read
    SourceEnded,  // the source gave up before the frame was whole
    BadLength,    // the header announced a length out of bounds: end the connection
    Idle,         // nothing of a frame arrived within the source's wait; ask again later
};

// One per connection, used by the one thread that serves it; no lock. Owns its block.
// Puts append after the frame's payload; gets read from the received (or written) payload. A
// put after anything was read starts a new frame. A get that finds too few bytes marks the
// frame malformed instead of reading: the reader checks IsMalformed once, after its gets.
class tCommBuffer {
public:
    static constexpr u32 kHeaderSize = 4;
    static constexpr u32 kInitialCapacity = 65536;
    // Largest frame, prefix included, that a receiver accepts and a sender may build.
    static constexpr u32 kMaxFrameLength = 256u << 20;

    tCommBuffer();
    virtual ~tCommBuffer();
    tCommBuffer(const tCommBuffer&) = delete;
    tCommBuffer& operator=(const tCommBuffer&) = delete;

    // Empties the frame and clears the last return code; keeps the swap flag, the block, the
    // totals and the malformed mark.
    void Reset();
    // Makes room for n more payload bytes: grows by n + 64 KiB when short, shrinks back to
    // 64 KiB when a grown block is no longer needed. Asserts past kMaxFrameLength.
    void Prepare(u64 n);

    void SetSwap(bool on) { swap = on; }
    bool IsSwapped() const { return swap; }
    bool IsMalformed() const { return malformed; }
    u32 GetFrameLength() const { return writeLen + kHeaderSize; }
    u32 GetBytesLeft() const { return bytesLeft; }
    u32 GetCapacity() const { return capacity; }
    i16 GetReturnCode() const { return lastReturnCode; }  // as given to PutReturnCode
    // The byte totals; any thread may read them (a monitor describing the connection).
    u64 GetTotalRead() const { return totalRead.load(std::memory_order_relaxed); }
    u64 GetTotalWritten() const { return totalWritten.load(std::memory_order_relaxed); }

    void PutShort(i16 value);
    void PutLong(i32 value);
    void PutDouble(f64 value);
    void PutByte(u8 value);
    void PutBytes(const void* src, size_t n);
    void PutString(const char* text);  // a null text is sent as a lone NUL
    void PutTString(const tString& text);
    // -2 and -88 are the client library's own codes: they are sent as -86, with a warning.
    void PutReturnCode(i16 code);

    void GetShort(i16& value);
    void GetLong(i32& value);
    void GetDouble(f64& value);
    void GetByte(u8& value);
    // n from 1 to the buffer's size, else the AutoChar raises "AutoChar memcpy"; a negative n
    // or one beyond the bytes left marks the frame malformed.
    void GetBytes(AutoChar& dst, i64 n);
    void GetBytes(void* dst, i64 n);  // a short read leaves dst as it was
    // A text without its NUL among the bytes left gives "" and marks the frame malformed.
    void GetString(tString& text);
    // Copies at most size - 1 characters and a NUL (size 1 or more), consumes the whole text;
    // returns the text's length on the wire, so a result of size or more means it was cut.
    size_t GetText(char* dst, size_t size);
    // Length of the text at the read position, up to its NUL or the last byte left.
    u32 PeekStringLength() const;

    // Stores the frame length in the prefix (swapped when flagged).
    void WriteHeader();
    // Writes the header and gives the frame: GetFrameLength bytes to send.
    const u8* GetFrame();

    // Receive helpers. The target of a chunk received at the offset (at most the capacity).
    u8* GetReceivePtr(u32 offset);
    u32 ReadHeaderLength() const;  // the prefix as it arrived (swapped when flagged)
    // After n bytes of a frame arrived at the block's start (n at most the capacity): resets,
    // the payload n - 4 bytes become readable and the malformed mark clears; gives n - 4. Fewer
    // than 4 bytes give an empty, malformed frame and 0.
    u32 SetReceived(u32 n);
    // Receives one whole frame from the source in pieces of at most chunk bytes (clamped to
    // 4..kMaxFrameLength - 4), growing the block only as bytes arrive. The first piece asks for
    // a whole chunk, so a small frame comes in one receive; what arrived past the frame (the
    // start of the next ones) is kept and begins the next receipt, which asks the source
    // nothing while it holds a whole frame. A header below minLength (4 or more) or above
    // kMaxFrameLength is refused before anything is allocated. Unless the frame is received,
    // the buffer holds an empty, malformed frame.
    tReceiveStatus ReceiveFrame(tByteSource& source, u32 chunk, u32 minLength = kHeaderSize);
    // Bytes received past the last frame, kept for the next receipt.
    u32 GetReadAheadLength() const { return static_cast<u32>(readAhead.size()); }

    GML_CLASS_ALLOCATOR(tCommBuffer, Mem_CommBuffer)

private:
    bool CheckLeft(i64 n);  // false, and the frame marked malformed, when fewer are left
    void BeginPut(size_t n);
    void Append(const void* src, size_t n);
    void PutNumber(const void* src, size_t n);  // swapped when flagged
    void TakeNumber(void* dst, size_t n);       // swapped when flagged
    const u8* ReadPtr() const { return block + readPos; }
    void Advance(u32 n);
    void Resize(u32 newCapacity, size_t keep);
    i64 ReceiveInto(tByteSource& source, u32 at, u32 maxBytes, bool firstPiece);
    tReceiveStatus Refuse(tReceiveStatus status);  // leaves an empty, malformed frame

    // The block and its size; the frame starts at the block.
    u8* block = nullptr;
    u32 capacity = 0;
    // The frame window (invariants at the top of commbuffer.cpp).
    u32 writeLen = 0;
    u32 readPos = kHeaderSize;
    u32 bytesLeft = 0;
    bool malformed = false;
    // Per connection: set at connect, never touched by Reset.
    bool swap = false;
    std::vector<u8> readAhead;  // received past the last frame: the next frame's first bytes
    // Reporting only.
    i16 lastReturnCode = 0;
    // Written by the buffer's own thread only, read by any.
    std::atomic<u64> totalRead{0};
    std::atomic<u64> totalWritten{0};
};

// Reverses n bytes in place.
void SwapBytes(void* data, size_t n);
// True when the host stores the low byte of a number first.
bool IsLittleEndian();
