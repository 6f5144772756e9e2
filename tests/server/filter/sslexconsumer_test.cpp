// The lexer's inputs other than a text in memory: memory blocks and files read through a buffer
// that is refilled and grown while a lexeme is in progress, with their refusals.
#include "server/filter/sslexconsumer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "server/filter/filterdfa.h"
#include "server/filter/sslex.h"
#include "tests/server/filter/sstest.h"
#include "tests/support/tempdir.h"

namespace {

// The texts of the tokens that the filter table finds in the consumer's input.
std::vector<std::string> TokenTexts(SSLexConsumer& consumer) {
    SSLexTable table(kFilterDfaImage, kFilterDfaImageSize, "filter.dfa");
    SSLex lex(consumer, table);
    std::vector<std::string> texts;
    while (SSLexLexeme* raw = lex.nextToken()) {
        SSRef<SSLexLexeme> lexeme(raw);
        texts.emplace_back(lexeme->asChar(), lexeme->length());
    }
    return texts;
}

bool HighBytesLead(unsigned char byte) { return byte >= 0x81; }

TEST(SSLexDataConsumer, RefusesSmallIncrementsAndALoneLeadByteAtTheEnd) {
    const char text[] = "ab cd";
    sstest::ExpectError([&] { SSLexDataConsumer(text, 5, SSLexConsumer::kSingleByte, 511); }, 49,
                        "SSLex0113e: Increment too small, must be at least 512");
    SSLexDataConsumer block(text, 5, SSLexConsumer::kSingleByte, 512);
    EXPECT_EQ(TokenTexts(block), (std::vector<std::string>{"ab", "cd"}));

    const char cut[] = {'\'', 'a', '\x90'};
    const plat::LeadByteTest saved = plat::SetLeadByteTest(&HighBytesLead);
    SSLexDataConsumer lone(cut, sizeof cut, SSLexConsumer::kMultiByte);
    const std::string error = sstest::ErrorText([&] { TokenTexts(lone); });
    plat::SetLeadByteTest(saved);
    EXPECT_EQ(error, "SSLex0114e: Invalid DBCS byte, second byte missing");
}

TEST(SSLexFileConsumer, SmallBufferIsRefilledAndGrownUnderALexeme) {
    gmtest::TempDir dir;
    const std::string path = dir.File("input.txt");
    gmtest::WriteFileText(path, "abcdefghij *EQ 'one two' 12.5");
    const std::vector<std::string> expected{"abcdefghij", "*EQ", "one two", "12.5"};
    for (long buffer : {1L, 3L, 4L, -1L}) {
        SCOPED_TRACE(buffer);
        SSLexFileConsumer file(path.c_str(), buffer, 512, SSLexConsumer::kMultiByte);
        EXPECT_EQ(TokenTexts(file), expected);
    }
    SSLexAutoFileConsumer whole(path.c_str(), SSLexConsumer::kSingleByte);
    EXPECT_EQ(TokenTexts(whole), expected);
}

TEST(SSLexFileConsumer, RefusalsNameTheFile) {
    gmtest::TempDir dir;
    const std::string path = dir.File("input.txt");
    gmtest::WriteFileText(path, "abcdefghij");
    SSLexFileConsumer fixed(path.c_str(), 4, 0, SSLexConsumer::kSingleByte);
    EXPECT_EQ(sstest::ErrorText([&] { TokenTexts(fixed); }), "SSLex0103e: Lexeme too long, 4");

    const std::string missing = dir.File("missing.txt");
    EXPECT_EQ(sstest::ErrorText(
                  [&] { SSLexAutoFileConsumer c(missing.c_str(), SSLexConsumer::kSingleByte); }),
              "SSLex0101e: Error opening file, " + missing + ", 2");
    const std::string empty = dir.File("empty.txt");
    gmtest::WriteFileText(empty, "");
    EXPECT_EQ(sstest::ErrorText(
                  [&] { SSLexAutoFileConsumer c(empty.c_str(), SSLexConsumer::kSingleByte); }),
              "SSLex0102e: Invalid file length or read error, " + empty + ", 0");
}

TEST(SSLexFileConsumer, LexerOverAnInputFileAndATableFile) {
    gmtest::TempDir dir;
    const std::string input = dir.File("input.txt"), tables = dir.File("filter.dfa");
    gmtest::WriteFileText(input, "QTY *GE 10");
    gmtest::WriteFileText(tables,
                          std::string(kFilterDfaImage, kFilterDfaImage + kFilterDfaImageSize));
    SSLex lex(input.c_str(), tables.c_str());
    std::vector<i32> tokens;
    while (SSLexLexeme* raw = lex.nextToken()) tokens.push_back(SSRef<SSLexLexeme>(raw)->token());
    EXPECT_EQ(tokens, (std::vector<i32>{76, 58, 75}));
    EXPECT_EQ(sstest::ErrorText([&] { SSLex bad(input.c_str(), dir.File("none.dfa").c_str()); }),
              "SSLex0101e: Error opening file, " + dir.File("none.dfa") + ", 2");
}

}  // namespace
