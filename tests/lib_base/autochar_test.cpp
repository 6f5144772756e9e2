#include "lib_base/autochar.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <stdexcept>

#include "tests/support/gmtest.h"

using gmtest::AssertText;

namespace {

TEST(AutoChar, EveryOverrunRaisesItsTextAndWritesNothing) {
    AutoChar buf(10, __FILE__, __LINE__);
    buf.Copy("keep");
    const struct {
        const char* what;
        std::function<void()> call;
        const char* text;
    } cases[] = {
        {"size 0", [&] { buf.SetSize(0); }, "invalid AutoChar size"},
        {"negative size", [&] { buf.SetSize(-1); }, "invalid AutoChar size"},
        {"copy of 10 characters", [&] { buf.Copy("0123456789"); }, "AutoChar memcpy"},
        {"bytes 0", [&] { buf.SetBytes("x", 0); }, "AutoChar memcpy"},
        {"bytes 11", [&] { buf.SetBytes("01234567890", 11); }, "AutoChar memcpy"},
        {"fill 0", [&] { buf.Fill('x', 0); }, "AutoChar memset"},
        {"fill 11", [&] { buf.Fill('x', 11); }, "AutoChar memset"},
        {"index size", [&] { buf[10] = 'x'; }, "AutoChar operator[]"},
        {"index -1", [&] { buf[-1] = 'x'; }, "AutoChar operator[]"},
        {"cat past size", [&] { buf.Cat("123456"); }, "AutoChar strcat"},
        {"copy null", [&] { buf.Copy(nullptr); }, "(no text)"},
        {"cat null", [&] { buf.Cat(nullptr); }, "(no text)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(AssertText(c.call), c.text);
        EXPECT_EQ(buf.GetSize(), 10u);
        EXPECT_STREQ(buf.GetText(), "keep");
    }
    buf += nullptr;  // ignored
    buf.Copy("012345678");
    EXPECT_STREQ(buf.GetText(), "012345678");
    buf[9] = 'x';
    EXPECT_EQ(buf[9], 'x');
}

TEST(AutoChar, CatFillsTheBufferExactly) {
    AutoChar buf(4, __FILE__, __LINE__);
    buf.Cat("abc");
    EXPECT_STREQ(buf.GetText(), "abc");
    EXPECT_EQ(AssertText([&] { buf.AppendChar('d'); }), "AutoChar strcat");
    EXPECT_STREQ(buf.GetText(), "abc");
}

TEST(AutoChar, AppendingAnotherTakesItsTextUpToItsSize) {
    AutoChar buf(8, __FILE__, __LINE__);
    buf.Copy("ab");
    AutoChar none(__FILE__, __LINE__);
    buf += none;  // no block: nothing
    AutoChar full(3, __FILE__, __LINE__);
    full.SetBytes("cde", 3);  // no NUL inside its size
    buf += full;
    EXPECT_STREQ(buf.GetBuffer(), "abcde");
    EXPECT_EQ(AssertText([&] { buf += full; }), "AutoChar strcat");
    EXPECT_STREQ(buf.GetText(), "abcde");
}

TEST(AutoChar, ResizingKeepsTheCharactersThatFit) {
    AutoChar buf(16, __FILE__, __LINE__);
    buf.Copy("hello");
    buf.SetSize(3);
    EXPECT_EQ(std::memcmp(buf.GetText(), "hel", 3), 0);
    EXPECT_EQ(AssertText([&] { buf[3]; }), "AutoChar operator[]");

    AutoChar wide(16, __FILE__, __LINE__);
    wide.Copy("hello");
    wide.SetSize(32);
    EXPECT_STREQ(wide.GetText(), "hello");
    for (int i = 5; i < 32; ++i) EXPECT_EQ(wide[i], 0) << i;
}

TEST(AutoChar, DamagedGuardsAreCaught) {
    EXPECT_EQ(AssertText([] {
                  AutoChar buf(8, __FILE__, __LINE__);
                  buf.GetText()[8] = 'x';  // into the trailing guard
              }),
              "AutoChar overrun (Clear)");
    EXPECT_EQ(AssertText([] {
                  AutoChar buf(8, __FILE__, __LINE__);
                  buf.GetText()[-1] = 'x';  // into the leading guard
                  buf.SetLocation(__FILE__, __LINE__);
              }),
              "AutoChar overrun (Check)");
    AutoChar resized(8, __FILE__, __LINE__);
    resized.GetText()[8] = 'x';
    EXPECT_EQ(AssertText([&] { resized.SetSize(4); }), "AutoChar overrun (setSize)");
    EXPECT_EQ(resized.GetSize(), 0u);  // the damaged block is gone
    EXPECT_EQ(resized.GetText(), nullptr);
}

TEST(AutoChar, DamageFoundWhileAnotherExceptionUnwindsIsOnlyPrinted) {
    gmtest::ConsoleCapture console;
    try {
        AutoChar buf(8, __FILE__, __LINE__);
        buf.GetText()[8] = 'x';
        throw std::runtime_error("first");
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "first");
    }
    EXPECT_NE(console.Get().find("AutoChar overrun (Clear)"), std::string::npos);
}

}  // namespace
