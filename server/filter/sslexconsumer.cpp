// Character delivery of the lexer's consumers and the buffers of each kind of input.
#include "server/filter/sslexconsumer.h"

#include <algorithm>
#include <cstring>

#include "platform/codepage.h"
#include "platform/files.h"

SSLexConsumer::SSLexConsumer(CharType type, size_t increment)
    : global(&ConsumerGlobal()), type(type), increment(increment) {}

bool SSLexConsumer::next() {
    if (now.endOfData) return false;
    if (now.markerPending) {
        now.markerPending = false;
        if (type == kWide) SkipByteOrderMark();
        character = kStartMarker;
        return true;
    }
    if (!HaveBytes(1)) {
        now.endOfData = true;
        return false;
    }
    return ReadCharacter();
}

void SSLexConsumer::restore(const Position& p) { now = p; }

bool SSLexConsumer::HaveBytes(size_t n) {
    while (end - index() < n) {
        if (fill() == 0) return false;
    }
    return true;
}

// FE FF: the units are high byte first; FF FE: low byte first. Either mark is skipped.
void SSLexConsumer::SkipByteOrderMark() {
    if (!HaveBytes(2)) return;
    const u8* at = buffer.get() + index();
    if (at[0] == 0xFE && at[1] == 0xFF) {
        bigEndian = true;
    } else if (at[0] != 0xFF || at[1] != 0xFE) {
        return;
    }
    now.at += 2;
}

bool SSLexConsumer::ReadCharacter() {
    i32 value = buffer[index()];
    size_t width = 1;
    if (type == kWide && HaveBytes(2)) {
        const u8* at = buffer.get() + index();
        value = bigEndian ? at[0] << 8 | at[1] : at[1] << 8 | at[0];
        width = 2;
    } else if (type == kMultiByte && plat::IsDBCSLeadByte(static_cast<u8>(value))) {
        if (HaveBytes(2)) {
            value = value * 256 + buffer[index() + 1];
            width = 2;
        } else {
            ssError(kSSLexDBCS, "%s", kSSLexDBCSMsg);  // not thrown: the lead byte stands alone
        }
    }
    now.at += width;
    ++now.characters;
    if (value == '\n') {
        ++now.line;
        now.column = 1;
    } else {
        ++now.column;
    }
    character = value;
    return true;
}

void SSLexConsumer::Reserve(size_t size) {
    std::unique_ptr<u8[]> larger = ssNewArray<u8>(std::max<size_t>(size, 1));
    if (end > 0) std::memcpy(larger.get(), buffer.get(), end);
    buffer = std::move(larger);
    capacity = size;
}

void SSLexConsumer::ShiftToMark() {
    const size_t drop = markIndex();
    std::memmove(buffer.get(), buffer.get() + drop, end - drop);
    end -= drop;
    base += drop;
}

void SSLexConsumer::SetEmpty() {
    now.endOfData = true;
    markAt = now;
}

SSLexStringConsumer::SSLexStringConsumer(const char* text, CharType type) : SSLexConsumer(type, 0) {
    const size_t length = std::strlen(text);
    Reserve(length);
    std::memcpy(buffer.get(), text, length);
    end = length;
    if (length == 0) SetEmpty();
}

SSLexStringConsumer::SSLexStringConsumer(const u16* text) : SSLexConsumer(kWide, 0) {
    size_t units = 0;
    while (text[units] != 0) ++units;
    Reserve(2 * units);
    for (size_t i = 0; i < units; ++i) {  // low byte first, the consumer's default order
        buffer[2 * i] = static_cast<u8>(text[i]);
        buffer[2 * i + 1] = static_cast<u8>(text[i] >> 8);
    }
    end = 2 * units;
    if (units == 0) SetEmpty();
}

SSLexDataConsumer::SSLexDataConsumer(const void* data, size_t length, CharType type,
                                     size_t increment)
    : SSLexConsumer(type, increment) {
    constexpr size_t kMinIncrement = 512;
    if (increment < kMinIncrement) {
        SetEmpty();
        ssError(kSSLexIncrement, "%s", kSSLexIncrementMsg);
        return;
    }
    Reserve(length);
    if (length > 0) std::memcpy(buffer.get(), data, length);
    end = length;
    if (length == 0) SetEmpty();
}

SSLexFileConsumer::SSLexFileConsumer(const char* fileName, long bufferSize, size_t increment,
                                     CharType type)
    : SSLexConsumer(type, increment), file(plat::OpenFile(fileName, false, false)), name(fileName) {
    SetEmpty();  // until the first bytes are read
    if (!file.IsValid()) {
        ssError(kSSLexOpenFile, kSSLexOpenFileMsg, fileName, long(plat::LastFileError()));
        return;
    }
    const i64 size = plat::SeekFile(file.Get(), 0, 2);
    if (size <= 0 || plat::SeekFile(file.Get(), 0, 0) != 0) {
        ssError(kSSLexReadFile, kSSLexReadFileMsg, fileName, long(size));
        return;
    }
    unread = static_cast<u64>(size);
    const u64 first = bufferSize < 0 ? unread : std::min<u64>(unread, u64(bufferSize));
    Reserve(static_cast<size_t>(first));
    if (ReadInto(capacity) == 0 && first > 0) {
        ssError(kSSLexReadFile, kSSLexReadFileMsg, fileName, long(size));
        return;
    }
    Position start;
    restore(start);
    setMark();
}

size_t SSLexFileConsumer::fill() {
    if (!file.IsValid()) return 0;
    ShiftToMark();
    if (end == capacity) {
        if (increment == 0) {
            ssError(kSSLexLexemeTooLong, kSSLexLexemeTooLongMsg, long(capacity));
            return 0;
        }
        Reserve(capacity + increment);
    }
    return ReadInto(capacity - end);
}

size_t SSLexFileConsumer::ReadInto(size_t room) {
    size_t added = 0;
    while (added < room && unread > 0) {
        const size_t want = static_cast<size_t>(std::min<u64>(room - added, unread));
        const i64 got = plat::ReadFile(file.Get(), buffer.get() + end, want);
        if (got < 0) {
            ssError(kSSLexReadFile, kSSLexReadFileMsg, name.c_str(), long(end));
            break;
        }
        if (got == 0) unread = 0;  // the file became shorter
        end += static_cast<size_t>(got);
        added += static_cast<size_t>(got);
        unread -= std::min<u64>(unread, static_cast<u64>(got));
    }
    if (unread == 0) plat::CloseFile(file);
    return added;
}
