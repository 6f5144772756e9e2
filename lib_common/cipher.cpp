// The ini-password cipher: key handling and the byte transform.
#include "lib_common/cipher.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <random>

#include "lib_base/gmlassert.h"

tCryptor::tCryptor(u32 keyLength, const void* key) : keyLength(keyLength) {
    GML_ASSERT(keyLength > 0, "tCryptor needs a key of at least one byte");
    this->key = static_cast<u8*>(GML_ALLOC(keyLength, Mem_Buffer));
    if (key) {
        std::memcpy(this->key, key, keyLength);
    } else {
        RandomizeKey();
    }
}

tCryptor::~tCryptor() { GML_FREE(key); }

void tCryptor::Encrypt(char* input, u32 count, char* output) const {
    u8* out = reinterpret_cast<u8*>(output ? output : input);
    const u8* in = reinterpret_cast<const u8*>(input);
    for (u32 i = 0; i < count; ++i) {
        const u8 k = key[i % keyLength];
        out[i] = static_cast<u8>(static_cast<u8>(in[i] + k) ^ k);
    }
}

void tCryptor::Decrypt(char* input, u32 count, char* output) const {
    u8* out = reinterpret_cast<u8*>(output ? output : input);
    const u8* in = reinterpret_cast<const u8*>(input);
    for (u32 i = 0; i < count; ++i) {
        const u8 k = key[i % keyLength];
        out[i] = static_cast<u8>((in[i] ^ k) - k);
    }
}

void tCryptor::RandomizeKey() {
    std::memset(key, 0, keyLength);
    // A generator of our own, so that the process-wide rand() sequence stays untouched.
    std::minstd_rand generator(static_cast<std::minstd_rand::result_type>(std::time(nullptr)));
    for (u32 i = 0; i < keyLength; ++i) key[i] = static_cast<u8>(generator() + 1);
}

void tCryptor::RotateKey(i16 count) {
    if (count < 1) return;
    std::rotate(key, key + count % keyLength, key + keyLength);
}
