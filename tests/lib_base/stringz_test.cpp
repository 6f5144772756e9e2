#include "lib_base/stringz.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/gmtest.h"

using gmtest::AssertText;

namespace {

TEST(String, CapacityFollowsConstructionRules) {
    const struct {
        const char* what;
        tString s;
        u32 capacity;
        const char* text;
    } cases[] = {
        {"empty text", tString(""), 16, ""},
        {"16 characters", tString("0123456789abcdef"), 32, "0123456789abcdef"},
        {"size 5 and a letter", tString(5, 'x'), 16, "xxxx"},
        {"size 15 and a letter", tString(15, 'y'), 32, "yyyyyyyyyyyyyy"},
        {"six characters, size 4", tString("abcdef", 4), 16, "abc"},
        {"six characters, size 7", tString("abcdef", 7), 16, "abcdef"},
        {"no text, size 20", tString(nullptr, 20), 32, ""},
        {"no text, size 0", tString(nullptr, 0), 1, ""},
        {"text, size 0", tString("abc", 0), 1, ""},
        {"size 0 and a letter", tString(0, 'x'), 1, ""},
        {"size 5 and fill 0", tString(5, '\0'), 16, ""},
        {"default", tString(), 1, ""},
        {"null text", tString(static_cast<const char*>(nullptr)), 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.s.GetCapacity(), c.capacity);
        EXPECT_STREQ(c.s.GetText(), c.text);
        EXPECT_EQ(c.s.GetLength(), static_cast<i32>(strlen(c.text)));
    }
}

TEST(String, EmptyStringsOfEveryOriginShareTheStaticRecord) {
    tString assigned("abc");
    assigned = "";
    tString cleared("abc");
    cleared.Clear();
    tString nulled("abc");
    nulled.Assign(nullptr);
    const tString empties[] = {tString(), assigned, cleared, nulled};
    for (const auto& s : empties) {
        EXPECT_EQ(s.GetCapacity(), 1u);
        EXPECT_EQ(s.GetLength(), 0);
        EXPECT_STREQ(s.GetText(), "");
    }
}

TEST(String, ChangingACopyNeverChangesTheOriginal) {
    const std::vector<std::pair<const char*, std::function<void(tString&)>>> changes = {
        {"Append", [](tString& s) { s.Append("xyz"); }},
        {"Append count", [](tString& s) { s.Append("xyz", 2); }},
        {"+= text", [](tString& s) { s += "!"; }},
        {"+= string", [](tString& s) { s += tString("more"); }},
        {"+= char", [](tString& s) { s += 'c'; }},
        {"Insert", [](tString& s) { s.Insert(1, "ins"); }},
        {"InsertString", [](tString& s) { s.InsertString(0, tString("pre")); }},
        {"Delete", [](tString& s) { s.Delete(1, 2); }},
        {"Overwrite", [](tString& s) { s.Overwrite(0, "ZZ"); }},
        {"Fill", [](tString& s) { s.Fill('f', 3); }},
        {"PadRight", [](tString& s) { s.PadRight('.', 3); }},
        {"ReplaceChar", [](tString& s) { s.ReplaceChar('e', 'E'); }},
        {"Upper", [](tString& s) { s.Upper(); }},
        {"Lower", [](tString& s) { s.Lower(); }},
        {"TrimRight", [](tString& s) { s.TrimRight(); }},
        {"TrimLeft", [](tString& s) { s.TrimLeft(); }},
        {"Trim", [](tString& s) { s.Trim(); }},
        {"Assign", [](tString& s) { s.Assign("other"); }},
        {"ReleaseBuffer", [](tString& s) { s.ReleaseBuffer(2); }},
        {"GetBuffer and UpdateLength",
         [](tString& s) {
             s.GetBuffer(32)[0] = 'Q';
             s.UpdateLength();
         }},
        {"At write", [](tString& s) { s.At(1) = '#'; }},
        {"GetSubStr", [](tString& s) { s.GetSubStr(tString("abcdef"), 1, 2); }},
        {"sprintf", [](tString& s) { s.sprintf("%d", 42); }},
        {"Clear", [](tString& s) { s.Clear(); }},
    };
    for (const auto& change : changes) {
        SCOPED_TRACE(change.first);
        const tString original("  Hello there  ");
        tString copy(original);
        EXPECT_EQ(copy.GetText(), original.GetText());  // shared until changed
        change.second(copy);
        EXPECT_STREQ(original.GetText(), "  Hello there  ");
        EXPECT_EQ(original.GetLength(), 15);
        EXPECT_NE(copy.GetText(), original.GetText());
    }
}

TEST(String, GrowthStopsAtTheCapacityLimit) {
    tString s;
    s.PadRight('a', static_cast<i32>(tString::kMaxCapacity) - 1);  // needs exactly the limit
    EXPECT_EQ(s.GetCapacity(), tString::kMaxCapacity);
    EXPECT_EQ(AssertText([&] { s += 'b'; }), "String size overflow!");
    EXPECT_EQ(s.GetLength(), static_cast<i32>(tString::kMaxCapacity) - 1);  // unchanged

    tString shared(s);  // a shared record asked to grow checks the limit too
    EXPECT_EQ(AssertText([&] { shared.Reserve(tString::kMaxCapacity + 1); }),
              "String size overflow!");
    EXPECT_EQ(shared.GetLength(), s.GetLength());
    EXPECT_EQ(AssertText([&] { tString().Reserve(tString::kMaxCapacity + 1); }),
              "String size overflow!");

    // Counts near the largest integer are sizes past the limit too, not sizes that wrap.
    const struct {
        const char* what;
        std::function<void(tString&)> change;
    } huge[] = {
        {"PadRight", [](tString& t) { t.PadRight('x', INT32_MAX); }},
        {"ReleaseBuffer", [](tString& t) { t.ReleaseBuffer(INT32_MAX); }},
    };
    for (const auto& c : huge) {
        SCOPED_TRACE(c.what);
        tString small("abc");
        EXPECT_EQ(AssertText([&] { c.change(small); }), "String size overflow!");
        EXPECT_STREQ(small, "abc");
    }
}

TEST(String, SprintfHoldsAtMost10238Characters) {
    tString s("keep");
    s.sprintf("%0*d", 10238, 7);
    EXPECT_EQ(s.GetLength(), 10238);
    EXPECT_EQ(s.GetText()[10237], '7');
    EXPECT_EQ(AssertText([&] { s.sprintf("%0*d", 10239, 7); }),
              "Insufficient Buffer on tString::sprintf()");
    EXPECT_EQ(s.GetLength(), 10238);
    s.sprintf("%s", "");
    EXPECT_EQ(s.GetCapacity(), 1u);  // an empty result is the shared empty string
}

TEST(String, EditsFollowTheirBounds) {
    const struct {
        const char* what;
        std::function<void(tString&)> edit;
        const char* before;
        const char* after;
    } cases[] = {
        {"insert at length appends", [](tString& s) { s.Insert(3, "de"); }, "abc", "abcde"},
        {"insert past length", [](tString& s) { s.Insert(4, "de"); }, "abc", "abc"},
        {"insert at negative", [](tString& s) { s.Insert(-1, "de"); }, "abc", "abc"},
        {"insert null", [](tString& s) { s.Insert(0, nullptr); }, "abc", "abc"},
        {"insert count", [](tString& s) { s.Insert(1, "xyz", 2); }, "abc", "axybc"},
        {"insert own text", [](tString& s) { s.Insert(0, s.GetText() + 1); }, "abc", "bcabc"},
        {"append own text", [](tString& s) { s.Append(s.GetText()); }, "abc", "abcabc"},
        {"append count beyond text", [](tString& s) { s.Append("xy", 9); }, "a", "axy"},
        {"append negative count", [](tString& s) { s.Append("xy", -1); }, "a", "a"},
        {"delete from 2 to end", [](tString& s) { s.Delete(2); }, "abcdef", "ab"},
        {"delete at 7", [](tString& s) { s.Delete(7, 1); }, "abcdef", "abcdef"},
        {"delete at length", [](tString& s) { s.Delete(6, 1); }, "abcdef", "abcdef"},
        {"delete middle", [](tString& s) { s.Delete(1, 2); }, "abcdef", "adef"},
        {"delete past end cuts", [](tString& s) { s.Delete(4, 10); }, "abcdef", "abcd"},
        {"trim", [](tString& s) { s.Trim(); }, "  a b  ", "a b"},
        {"trim keeps tabs", [](tString& s) { s.Trim(); }, "\ta \t", "\ta \t"},
        {"trim all blanks", [](tString& s) { s.Trim(); }, "   ", ""},
        {"fill 0 count is capacity - 1", [](tString& s) { s.Fill('z'); }, "0123456789abcdef",
         "zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz"},
        {"fill with NUL empties", [](tString& s) { s.Fill('\0', 5); }, "abcdef", ""},
        {"fill at capacity", [](tString& s) { s.Fill('z', 16); }, "abc", "abc"},
        {"overwrite keeps the length", [](tString& s) { s.Overwrite(1, "XYZW"); }, "abc", "aXY"},
        {"overwrite at capacity", [](tString& s) { s.Overwrite(16, "X"); }, "abc", "abc"},
        {"pad right", [](tString& s) { s.PadRight('.', 2); }, "ab", "ab.."},
        {"replace", [](tString& s) { s.ReplaceChar('a', 'o'); }, "banana", "bonono"},
        {"upper bytes", [](tString& s) { s.Upper(); },
         "aZ\xe9"
         "1",
         "AZ\xe9"
         "1"},
        {"lower", [](tString& s) { s.Lower(); }, "AbC", "abc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tString s(c.before);
        c.edit(s);
        EXPECT_STREQ(s.GetText(), c.after);
        EXPECT_EQ(s.GetLength(), static_cast<i32>(strlen(c.after)));
    }
}

TEST(String, SearchesAndPartsFollowTheirBounds) {
    const tString s("abcb");
    EXPECT_EQ(s.Find("b", 2), 3);
    EXPECT_EQ(s.Find("b"), 1);
    EXPECT_EQ(s.Find("x"), -1);
    EXPECT_EQ(s.Find("b", 4), -1);
    EXPECT_EQ(s.Find("b", -1), -1);
    EXPECT_EQ(s.FindChar('c'), 2);
    EXPECT_EQ(s.FindChar('c', 4), -1);
    EXPECT_EQ(s.FindChar('c', 5), -1);
    EXPECT_EQ(s.ReverseFind('b'), 3);
    EXPECT_EQ(s.ReverseFind('z'), -1);

    const tString abc("abc");
    EXPECT_STREQ(abc.Copy(2).GetText(), "c");
    EXPECT_STREQ(abc.Copy(3).GetText(), "");
    EXPECT_STREQ(abc.Copy(1, 10).GetText(), "bc");
    EXPECT_STREQ(abc.Copy(0, 0).GetText(), "");
    const struct {
        std::function<void()> call;
        const char* text;
    } raises[] = {
        {[&] { abc.Copy(4); }, "invalid nb on tString::Copy()"},
        {[&] { abc.Copy(-1); }, "invalid apos on tString::Copy()"},
        {[&] { abc.Copy(-1, 2); }, "invalid apos on tString::Copy()"},
        {[&] { abc.Copy(4, 1); }, "invalid len on tString::Copy()"},
        {[&] { abc.Copy(1, -1); }, "invalid len on tString::Copy()"},
        {[&] {
             tString t;
             t.GetSubStr(abc, -1, 1);
         },
         "invalid pos on tString::GetSubStr()"},
        {[&] {
             tString t;
             t.GetSubStr(abc, 1, -2);
         },
         "invalid len on tString::GetSubStr()"},
        {[&] { abc.At(3); }, "string index out of bounds"},
        {[&] {
             tString t("x");
             t.At(-1) = 'y';
         },
         "string index out of bounds"},
    };
    for (const auto& r : raises) EXPECT_EQ(AssertText(r.call), r.text);

    tString sub("old");
    sub.GetSubStr(abc, 1, 5);
    EXPECT_STREQ(sub.GetText(), "bc");
    sub.GetSubStr(sub, 1, 1);  // from itself
    EXPECT_STREQ(sub.GetText(), "c");
}

TEST(String, ComparesBytesAsUnsigned) {
    EXPECT_GT(CompareText("\xe9", "z"), 0);
    EXPECT_LT(CompareText("ab", "abc"), 0);
    EXPECT_EQ(CompareText("abc", "abc"), 0);
    const tString s("abc");
    EXPECT_TRUE(s == "abc");
    EXPECT_TRUE(s != "abd");
    EXPECT_TRUE(s != tString("ab"));
    EXPECT_FALSE(s != tString("abc"));
}

TEST(String, NumbersFormatAsDecimal) {
    EXPECT_STREQ(IntToString(-42).GetText(), "-42");
    EXPECT_STREQ(IntToString(0).GetText(), "0");
    EXPECT_STREQ(UIntToStr(4294967295u).GetText(), "4294967295");
}

TEST(String, HeapStringAllocationFailureNamesTheClass) {
    static const tRawAllocator failing = {[](size_t) -> void* { return nullptr; },
                                          [](void*, size_t) -> void* { return nullptr; }};
    gmtest::ConsoleCapture console;
    SetRawAllocator(&failing);
    const std::string text = AssertText([] { delete new tString; });
    SetRawAllocator(nullptr);
    char expected[96];
    std::snprintf(expected, sizeof expected, "Memory Allocation Failure ( %zu bytes ) on tString",
                  sizeof(tString));
    EXPECT_EQ(text, expected);
    EXPECT_NE(console.Get().find("[ERROR] DoAssert call from ["), std::string::npos);
    tString* fine = new tString("after");  // the process goes on
    EXPECT_STREQ(fine->GetText(), "after");
    delete fine;
}

}  // namespace
