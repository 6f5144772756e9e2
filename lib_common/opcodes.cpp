// The opcode name table: one entry for each code from 0 to 255, filled from the opcode list.
#include "lib_common/opcodes.h"

#include <array>

namespace {

constexpr i16 kLastOpcode = 255;

constexpr std::array<const char*, kLastOpcode + 1> BuildNames() {
    std::array<const char*, kLastOpcode + 1> names{};
#define GM_NAME_OPCODE(name, code) names[code] = #name;
    GM_OPCODES(GM_NAME_OPCODE)
#undef GM_NAME_OPCODE
    return names;
}

constexpr std::array<const char*, kLastOpcode + 1> kNames = BuildNames();

}  // namespace

const char* OpcodeName(i16 code) {
    if (code < 1 || code > kLastOpcode || kNames[code] == nullptr) return "OP_UNKNOWN";
    return kNames[code];
}
