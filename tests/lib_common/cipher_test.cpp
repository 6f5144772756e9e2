// The ini-password cipher: round trips, the zero rule, key cycling and rotation, and one pinned
// vector so that passwords stored by other installations stay readable.
#include "lib_common/cipher.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/support/gmtest.h"

namespace {

std::string Encrypted(const tCryptor& cryptor, std::string text) {
    cryptor.Encrypt(text.data(), static_cast<u32>(text.size()));
    return text;
}

TEST(Cryptor, PinnedVectorOfTheIniPasswordKey) {
    const tCryptor cryptor(kIniPasswordKeyLength, kIniPasswordKey);
    const std::string plain = "Secret#Senha\xE7";  // 13 bytes: key bytes 0..9, then 0..2 again
    const std::string stored = "\xF5\xAF\xA7\xB2\xA7\x9C\xE5\xAF\xAD\xBE\xE8\xA3\x2B";
    EXPECT_EQ(Encrypted(cryptor, plain), stored);
    std::string text = stored;
    cryptor.Decrypt(text.data(), static_cast<u32>(text.size()));
    EXPECT_EQ(text, plain);
}

TEST(Cryptor, RandomBytesRoundTripAndKeepZeroesAndLength) {
    std::mt19937 random(12345);
    const tCryptor iniKey(kIniPasswordKeyLength, kIniPasswordKey);
    const tCryptor randomKey(7, nullptr);
    for (const tCryptor* cryptor : {&iniKey, &randomKey}) {
        for (int round = 0; round < 200; ++round) {
            std::string plain(random() % 64, '\0');
            for (char& c : plain) c = static_cast<char>(random() % 256);
            std::string cipher(plain.size(), '?');
            cryptor->Encrypt(plain.data(), static_cast<u32>(plain.size()), cipher.data());
            for (size_t i = 0; i < plain.size(); ++i) {
                ASSERT_EQ(cipher[i] == '\0', plain[i] == '\0') << "byte " << i;
            }
            std::string back = cipher;
            cryptor->Decrypt(back.data(), static_cast<u32>(back.size()));
            ASSERT_EQ(back, plain);
        }
    }
}

TEST(Cryptor, KeyCyclesFromByteZeroOnEveryCall) {
    const tCryptor cryptor(kIniPasswordKeyLength, kIniPasswordKey);
    const std::string out = Encrypted(cryptor, std::string(25, 'a'));
    for (size_t i = 10; i < out.size(); ++i) EXPECT_EQ(out[i], out[i - 10]) << i;
    EXPECT_NE(out[0], out[1]);
    EXPECT_EQ(Encrypted(cryptor, "abc"), Encrypted(cryptor, "abcdef").substr(0, 3));

    std::string untouched = "xyz";
    cryptor.Encrypt(untouched.data(), 0);
    cryptor.Decrypt(untouched.data(), 0);
    EXPECT_EQ(untouched, "xyz");
}

TEST(Cryptor, RotateKeyMovesFirstBytesToTheEnd) {
    const struct {
        i16 count;
        const char* key;
    } cases[] = {{3, "lavinthQer"},
                 {13, "lavinthQer"},
                 {0, kIniPasswordKey},
                 {-4, kIniPasswordKey},
                 {10, kIniPasswordKey}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        tCryptor rotated(kIniPasswordKeyLength, kIniPasswordKey);
        rotated.RotateKey(c.count);
        const tCryptor reference(kIniPasswordKeyLength, c.key);
        EXPECT_EQ(Encrypted(rotated, "0123456789AB"), Encrypted(reference, "0123456789AB"));
    }
}

TEST(Cryptor, EmptyKeyIsRefused) {
    EXPECT_EQ(gmtest::AssertText([] { tCryptor cryptor(0, "x"); }),
              "tCryptor needs a key of at least one byte");
}

}  // namespace
