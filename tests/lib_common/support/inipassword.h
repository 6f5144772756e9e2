// The form in which an ini file keeps a password, for tests that write one.
#pragma once
#include <string>

#include "lib_common/cipher.h"

namespace gmtest {

inline std::string IniPassword(std::string text) {
    const tCryptor cryptor(kIniPasswordKeyLength, kIniPasswordKey);
    cryptor.Encrypt(text.data(), static_cast<u32>(text.size()));
    return text;
}

}  // namespace gmtest
