// Damaged copies of a finished movie, made one region at a time (zeroed,
// flipped or cut off at a random place), and what the module must make of
// each: no crash or hang, every frame whose bytes the damage left alone read
// back exactly, and every damage to bytes that carry a check found (a file
// that does not open, a frame that does not read or reads damaged, or two
// copies of a JPEG picture that differ).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Types.h"

namespace rvotest {

enum class DamageKind { Zero,
                        Flip,
                        Cut };

struct Damage {
    DamageKind kind = DamageKind::Zero;
    uint64_t nAt = 0;       // first damaged byte (Cut: the new length)
    uint64_t nBytes = 0;    // how many (Cut: to the end)
    uint8_t bFlip = 0xFF;   // what Flip XORs into every byte
};

// A finished movie of one storage mode, its bytes, its frames as they read
// back intact, and which bytes each frame's picture lives in.
struct SweepMovie {
    LONG nMode = 0;
    int nWidth = 0, nHeight = 0;
    std::string path;   // where damaged copies are written
    std::vector<uint8_t> bytes;
    std::vector<std::vector<uint32_t>> frames;   // each frame read back from the intact file
    // Per frame, the byte ranges [begin, end) only that frame depends on: its
    // record, or both copies of its JPEG picture.
    std::vector<std::vector<std::pair<uint64_t, uint64_t>>> payload;
    // Byte ranges that carry a check: a change in them must be found.
    std::vector<std::pair<uint64_t, uint64_t>> checked;
};

// A small movie of the mode (3, 4 or 5) written to intactPath; its damaged
// copies go to damagedPath. False when it cannot be made or does not read back.
bool MakeSweepMovie(LONG nMode, const std::string& intactPath, const std::string& damagedPath, SweepMovie* pMovie);

// A damage of the movie's file drawn from two 64-bit random values.
Damage DrawDamage(const SweepMovie& m, uint64_t r1, uint64_t r2);

struct SweepCounts {
    long long nDamages = 0;
    long long nOpened = 0;              // the damaged file still opened
    long long nMustFind = 0;            // the damage changed bytes that carry a check
    long long nFound = 0;               // the damage was found (whether or not it had to be)
    long long nIntactFrames = 0;        // frames the damage left alone, read back exactly
    long long nReadFromOtherCopy = 0;   // damaged JPEG pictures read back exactly from their other copy
    // Damaged frames that read without complaint but changed: bytes without a
    // check (raw pixels, packed pixel values), or a JPEG copy whose damage
    // libjpeg decodes without a warning (the copies then differ: verify finds it).
    long long nChangedUnnoticed = 0;
};

// Applies one damage to the movie's file and checks what the module makes of
// it; "" when all is well, else what went wrong.
std::string CheckDamage(const SweepMovie& m, const Damage& d, SweepCounts* pCounts);

// nDamages damages drawn from nSeed, checked in turn; "" or the first failure,
// naming the damage.
std::string RunCorruptionSweep(const SweepMovie& m, uint64_t nSeed, int nDamages, SweepCounts* pCounts);

std::string DescribeDamage(const Damage& d);

}   // namespace rvotest
