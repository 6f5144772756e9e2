// Byte strings in the wire encoding of the frame buffer (host order, strings with their NUL),
// for writing the replies a fake server sends and the requests a test expects.
#pragma once
#include <cstring>
#include <string>

#include "lib_base/types.h"

namespace gmtest {

class tWire {
public:
    tWire& Short(i16 v) { return Put(&v, sizeof v); }
    tWire& Long(i32 v) { return Put(&v, sizeof v); }
    tWire& Double(f64 v) { return Put(&v, sizeof v); }
    tWire& Byte(u8 v) { return Put(&v, sizeof v); }
    tWire& Text(const char* text) { return Put(text, std::strlen(text) + 1); }
    tWire& Raw(const std::string& bytes) { return Put(bytes.data(), bytes.size()); }
    tWire& Zeros(size_t n) { return Raw(std::string(n, '\0')); }

    const std::string& Payload() const { return bytes; }
    // The payload behind its u32 length prefix.
    std::string Frame() const {
        const u32 length = static_cast<u32>(bytes.size() + 4);
        return std::string(reinterpret_cast<const char*>(&length), 4) + bytes;
    }

private:
    tWire& Put(const void* data, size_t n) {
        bytes.append(static_cast<const char*>(data), n);
        return *this;
    }
    std::string bytes;
};

}  // namespace gmtest
