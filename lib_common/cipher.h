// The byte cipher of the passwords kept in ini files, shared by the server and the client
// library. Stored files depend on its formula and on the ini-password key: change neither.
#pragma once
#include "lib_base/gmlalloc.h"
#include "lib_base/types.h"

// The key of every enciphered ini password, used with its 10 letters and no terminating byte.
constexpr const char* kIniPasswordKey = "Qerlavinth";
constexpr u32 kIniPasswordKeyLength = 10;

// A symmetric byte cipher: byte i uses key byte i mod key length, counted from 0 on every call.
// Encrypt maps b to (b + k) xor k, Decrypt back; 0 stays 0 and no other byte becomes 0, so an
// enciphered text is still a text of the same length. The object owns a copy of its key; one
// thread uses it at a time.
class tCryptor {
public:
    // A key of keyLength bytes (at least 1): a copy of key, or random bytes when key is null.
    tCryptor(u32 keyLength, const void* key);
    virtual ~tCryptor();
    tCryptor(const tCryptor&) = delete;
    tCryptor& operator=(const tCryptor&) = delete;

    // Transform count bytes of input into output, or in place when output is null.
    void Encrypt(char* input, u32 count, char* output = nullptr) const;
    void Decrypt(char* input, u32 count, char* output = nullptr) const;
    // Fills the key with random bytes from a generator seeded with the current time.
    void RandomizeKey();
    // Rotates the key left by one byte, count times; a count below 1 leaves it as it is.
    void RotateKey(i16 count);

    GML_CLASS_ALLOCATOR(tCryptor, Mem_Object)

private:
    u8* key;  // keyLength bytes from the tagged allocator
    u32 keyLength;
};
