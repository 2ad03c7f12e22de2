// The bounded reader every parser goes through: a read that would pass the end
// gives zeros, ends the reader and leaves it failed for good, so a record parsed
// whole and tested once cannot hide a short read in the middle.
#include "platform/ByteReader.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

TEST(ByteReader, ShortReadsGiveZerosAndStayFailed) {
    const std::vector<BYTE> bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
    struct Case {
        const char* name;
        size_t nAvailable;
        std::function<DWORD(CByteReader&)> read;
        DWORD dwExpected;
        bool bOk;
        size_t nLeftAfter;
    };
    const Case cases[] = {
        {"u32 whole", 4, [](CByteReader& r) { return r.ReadU32LE(); }, 0x04030201u, true, 0},
        {"u32 one short", 3, [](CByteReader& r) { return r.ReadU32LE(); }, 0, false, 0},
        {"u16 then u32 short", 5, [](CByteReader& r) { return r.ReadU16LE() + r.ReadU32LE(); }, 0x0201u, false, 0},
        {"failure is sticky", 5,
         [](CByteReader& r) {
             r.ReadU32LE();
             r.ReadU16LE();   // one byte left: fails
             return (DWORD)r.ReadU8();   // would fit, but the reader has ended
         },
         0, false, 0},
        {"skip past the end", 7,
         [](CByteReader& r) {
             r.Skip(8);
             return r.ReadU32LE();
         },
         0, false, 0},
        {"bytes short are zeros", 3,
         [](CByteReader& r) {
             BYTE b[4] = {9, 9, 9, 9};
             r.ReadBytes(b, 4);
             return (DWORD)(b[0] | b[1] | b[2] | b[3]);
         },
         0, false, 0},
        {"signed", 4, [](CByteReader& r) { return (DWORD)(r.ReadS32LE() < 0); }, 0, true, 0},
        {"bytes leave the rest", 7,
         [](CByteReader& r) {
             BYTE b[2];
             r.ReadBytes(b, 2);
             return (DWORD)r.ReadU8();
         },
         0x03, true, 4},
    };
    for (const Case& c : cases) {
        CByteReader r(bytes.data(), c.nAvailable);
        EXPECT_EQ(c.read(r), c.dwExpected) << c.name;
        EXPECT_EQ(r.Ok(), c.bOk) << c.name;
        EXPECT_EQ(r.Left(), c.nLeftAfter) << c.name;
    }
}
