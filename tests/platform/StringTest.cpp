// Strings and their conversions, rectangles, arrays and the processor test.
#include <gtest/gtest.h>

#include "platform/CString.h"
#include "platform/Collections.h"
#include "platform/Cpu.h"
#include "platform/Rect.h"

TEST(CString, FormatCaseAndParts) {
    CString s;
    s.Format("No.%d", 42);
    EXPECT_TRUE(s == CString(u"No.42"));
    CString path(u"C:\\movies/clip.rvo");
    EXPECT_EQ(path.ReverseFindSeparator(), 9);
    EXPECT_TRUE(path.Mid(10) == CString(u"clip.rvo"));
    EXPECT_TRUE(path.Left(2) == CString(u"C:"));
    EXPECT_TRUE(path.Mid(100).IsEmpty());
    EXPECT_TRUE(path.Left(-3).IsEmpty());
    EXPECT_EQ(CString(u"plain").ReverseFindSeparator(), -1);
    CString ext(u".rvo\u00e9");
    ext.MakeUpper();
    EXPECT_TRUE(ext == CString(u".RVO\u00e9"));   // only ASCII letters change
    EXPECT_TRUE(CString(static_cast<const WCHAR*>(nullptr)).IsEmpty());
}

TEST(CString, Utf8Conversions) {
    struct Case {
        std::u16string wide;
        std::string utf8;
    } cases[] = {
        {u"abc", "abc"},
        {u"caf\u00e9", "caf\xC3\xA9"},
        {u"\u6f22\u5b57", "\xE6\xBC\xA2\xE5\xAD\x97"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},   // a surrogate pair is one code point
        {u"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToUtf8(c.wide), c.utf8);
        EXPECT_EQ(FromUtf8(c.utf8), c.wide);
    }
    // A lone surrogate cannot be UTF-8.
    EXPECT_EQ(ToUtf8(std::u16string{u'a', (char16_t)0xD800, u'b'}),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(ToUtf8(std::u16string{(char16_t)0xDC00}), "\xEF\xBF\xBD");
    // Bad UTF-8 becomes U+FFFD, one per bad sequence, and decoding carries on.
    struct Bad {
        std::string in;
        std::u16string out;
    } bad[] = {
        {"a\xFF"
         "b",
         u"a\uFFFD"
         "b"},
        {"\xC3", u"\uFFFD"},   // cut sequence
        {"\xC3"
         "a",
         u"\uFFFD"
         "a"},   // missing continuation
        {"\xE6"
         "ab",
         u"\uFFFD"
         "ab"},                            // a cut sequence does not swallow what follows
        {"\xF7\xBF\xBF\xBF", u"\uFFFD"},   // beyond U+10FFFF
        {"\xED\xA0\x80", u"\uFFFD"},       // an encoded surrogate
        {"\xC0\xAF", u"\uFFFD"},           // overlong '/'
        {"\xE0\x80\xAF", u"\uFFFD"},       // overlong '/'
    };
    for (const Bad& b : bad) EXPECT_EQ(FromUtf8(b.in), b.out) << b.in;
    EXPECT_EQ(FromAnsi("\x80\x9F\xA0\xFF", 4), u"\u20AC\u0178\u00A0\u00FF");
}

TEST(Rect, Intersection) {
    struct Case {
        RECT a, b, out;
        BOOL overlap;
    } cases[] = {
        {{0, 0, 10, 10}, {5, 5, 20, 20}, {5, 5, 10, 10}, TRUE},
        {{0, 0, 10, 10}, {2, 3, 4, 5}, {2, 3, 4, 5}, TRUE},
        {{0, 0, 10, 10}, {10, 0, 20, 10}, {0, 0, 0, 0}, FALSE},   // touching edges share nothing
        {{0, 0, 10, 10}, {-5, -5, -1, -1}, {0, 0, 0, 0}, FALSE},
        {{0, 0, 0, 10}, {0, 0, 10, 10}, {0, 0, 0, 0}, FALSE},   // empty input
    };
    for (const Case& c : cases) {
        RECT r{9, 9, 9, 9};
        EXPECT_EQ(IntersectRect(&r, &c.a, &c.b), c.overlap);
        EXPECT_EQ(r.left, c.out.left);
        EXPECT_EQ(r.top, c.out.top);
        EXPECT_EQ(r.right, c.out.right);
        EXPECT_EQ(r.bottom, c.out.bottom);
    }
}

TEST(Collections, OutOfRangeRaisesInvalidArgument) {
    CDWordArray a;
    a.SetSize(0, 1000);
    a.Add(7);
    a.Add(9);
    EXPECT_EQ(a.GetSize(), 2);
    EXPECT_EQ(a.GetAt(1), 9u);
    EXPECT_THROW(a.GetAt(2), CInvalidArgException);
    EXPECT_THROW(a.GetAt(-1), CInvalidArgException);
    EXPECT_THROW(a.SetAt(5, 1), CInvalidArgException);
    EXPECT_THROW(a.SetSize(-1), CInvalidArgException);
    CPtrArray p;
    p.SetSize(3);
    EXPECT_EQ(p.GetAt(2), nullptr);
}

TEST(Cpu, DetectsSse2) {
    g_bSse2 = 0;
    DetectSse2();
    EXPECT_EQ(g_bSse2, 1);   // every x86-64 processor and the -msse2 i686 build's targets have it
}
