// Reply bytes for tests of what files put into a frame: the expected bytes written out by hand in
// either byte order, and the payload of a built frame.
#pragma once
#include <cstring>
#include <string>

#include "lib_base/types.h"
#include "lib_common/commbuffer.h"

namespace gmtest {

class Bytes {
public:
    explicit Bytes(bool bigEndian) : big(bigEndian) {}
    Bytes& Byte(u8 b) {
        out.push_back(static_cast<char>(b));
        return *this;
    }
    Bytes& Short(i16 v) { return Number(static_cast<u16>(v), 2); }
    Bytes& Long(i32 v) { return Number(static_cast<u32>(v), 4); }
    Bytes& Text(const char* s) {
        out.append(s, std::strlen(s) + 1);
        return *this;
    }
    Bytes& Field(const char* name, char type, i16 length, i16 decimals) {
        return Text(name).Byte(static_cast<u8>(type)).Short(length).Short(decimals);
    }
    std::string out;

private:
    Bytes& Number(u32 v, int n) {
        for (int i = 0; i < n; ++i) {
            const int shift = 8 * (big ? n - 1 - i : i);
            out.push_back(static_cast<char>((v >> shift) & 0xFF));
        }
        return *this;
    }
    bool big;
};

// The frame's payload: everything put after the length prefix.
inline std::string Payload(tCommBuffer& reply) {
    const u8* frame = reply.GetFrame();
    return std::string(reinterpret_cast<const char*>(frame) + tCommBuffer::kHeaderSize,
                       reply.GetFrameLength() - tCommBuffer::kHeaderSize);
}

}  // namespace gmtest
