// Character sources of the lexer runtime: a consumer delivers the characters of its input one
// at a time (bytes, 16-bit units, or multi-byte characters of the system's code page) and keeps
// the lexeme being scanned in its buffer until the lexer takes it.
#pragma once
#include <memory>
#include <string>

#include "platform/unique_fd.h"
#include "server/filter/consumerglobal.h"
#include "server/filter/ssexception.h"

// Buffer:
//  (1) mark <= index <= end <= capacity; bytes [0, end) are valid input, [mark, index) is the
//      lexeme in progress.
//  (2) base is the input offset of buffer[0]; a refill drops only bytes before the mark, so a
//      position taken at or after the mark stays valid.
//  (3) No read goes past end: a double-byte character whose second byte is missing raises
//      "SSLex0114e"; a 16-bit unit cut short is delivered as its one byte.
// A consumer belongs to one lexer's thread.
class SSLexConsumer : public SSExceptionPresent {
public:
    enum CharType { kSingleByte = 0, kWide = 1, kMultiByte = 2 };
    static constexpr i32 kStartMarker = -1;  // the first character of every input

    // A place in the input to come back to; positions are taken and restored by the lexer.
    struct Position {
        u64 at = 0;  // input offset
        u32 line = 1;
        u32 column = 1;
        u64 characters = 0;
        bool markerPending = true;
        bool endOfData = false;
    };

    ~SSLexConsumer() override = default;
    SSLexConsumer(const SSLexConsumer&) = delete;
    SSLexConsumer& operator=(const SSLexConsumer&) = delete;

    // Reads the next character into current(); false when the input has no more.
    virtual bool next();
    i32 current() const { return character; }
    CharType charType() const { return type; }

    Position position() const { return now; }
    void restore(const Position& p);

    // The lexeme in progress: the bytes from the mark to the current position.
    const u8* lexemeText() const { return buffer.get() + markIndex(); }
    size_t lexemeLength() const { return static_cast<size_t>(now.at - markAt.at); }
    // Where the lexeme in progress starts.
    const Position& markPosition() const { return markAt; }
    // Ends the lexeme in progress: the next one starts at the current position.
    void setMark() { markAt = now; }

    u32 line() const { return now.line; }
    u32 column() const { return now.column; }
    u64 charactersRead() const { return now.characters; }

protected:
    SSLexConsumer(CharType type, size_t increment);
    // Reads more input behind end and answers the number of bytes added, 0 at the end.
    virtual size_t fill() = 0;
    // Makes the buffer hold capacity bytes, keeping its contents.
    void Reserve(size_t capacity);
    // Drops the bytes before the mark (2).
    void ShiftToMark();
    // The input has no more characters, from its start on.
    void SetEmpty();

    tConsumerGlobal* global;  // the runtime's shared global (not owned)
    CharType type;
    size_t increment;  // growth of the buffer when a lexeme fills it
    std::unique_ptr<u8[]> buffer;
    size_t capacity = 0;
    size_t end = 0;
    u64 base = 0;

private:
    size_t markIndex() const { return static_cast<size_t>(markAt.at - base); }
    size_t index() const { return static_cast<size_t>(now.at - base); }
    bool HaveBytes(size_t n);
    void SkipByteOrderMark();
    bool ReadCharacter();

    Position now;
    Position markAt;
    i32 character = 0;
    bool bigEndian = false;  // order of the 16-bit units, from the byte-order mark
};

// A text in memory (copied): a NUL-terminated byte text of type 0 or 2, or a 0-terminated
// 16-bit text. An empty text delivers nothing, not even the start marker.
class SSLexStringConsumer : public SSLexConsumer {
public:
    SSLexStringConsumer(const char* text, CharType type);
    explicit SSLexStringConsumer(const u16* text);

protected:
    size_t fill() override { return 0; }
};

// A block of memory (copied). The growth increment must be at least 512 ("SSLex0113e").
class SSLexDataConsumer : public SSLexConsumer {
public:
    SSLexDataConsumer(const void* data, size_t length, CharType type, size_t increment = 512);

protected:
    size_t fill() override { return 0; }
};

// A file read through a buffer of bufferSize bytes (-1: the whole file), which grows by the
// increment when a lexeme fills it; the file is closed once read to its end. Raises 0101e when
// it cannot be opened, 0102e when it is empty or unreadable, 0103e when a lexeme fills the
// buffer and there is no increment.
class SSLexFileConsumer : public SSLexConsumer {
public:
    SSLexFileConsumer(const char* fileName, long bufferSize, size_t increment, CharType type);

protected:
    size_t fill() override;

private:
    size_t ReadInto(size_t room);

    plat::UniqueFd file;  // closed once read to its end
    std::string name;
    u64 unread = 0;  // bytes of the file not yet in the buffer
};

// A file read whole when the consumer is made, and closed at once.
class SSLexAutoFileConsumer : public SSLexFileConsumer {
public:
    SSLexAutoFileConsumer(const char* fileName, CharType type)
        : SSLexFileConsumer(fileName, -1, 0, type) {}
};
