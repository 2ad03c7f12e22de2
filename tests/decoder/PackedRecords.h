// Hand-built packed records for the decoder tests: a random frame whose runs
// are chosen first, and the record bytes laid out field by field from them.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "tests/support/TestFiles.h"

namespace dectest {

constexpr uint32_t kTagRaw = 0xFF000000u;
constexpr uint32_t kTagAlphaRuns = 0xFF000001u;
constexpr uint32_t kTagColourRuns = 0xFF000010u;

struct Run {
    uint32_t count;
    uint32_t pattern[3];   // alpha runs use pattern[0]; colour runs green, blue, red
};

// A frame of L pixels and the run list that describes one of its channels.
struct RunFrame {
    std::vector<uint32_t> pixels;
    std::vector<Run> runs;
};

inline uint32_t Pad(uint32_t x, uint32_t unit) { return (x + unit - 1) / unit * unit; }

// Run counts: multiples of 4 of up to maxGroups groups, the last one ending the frame.
inline std::vector<uint32_t> RandomCounts(uint32_t L, uint32_t maxGroups, std::mt19937& rng) {
    std::vector<uint32_t> counts;
    for (uint32_t done = 0; done < L;) {
        uint32_t c = 4 * (1 + rng() % maxGroups);
        if (c >= L - done) c = L - done;
        counts.push_back(c);
        done += c;
    }
    return counts;
}

// Alpha byte k of pattern for pixels j = k mod 4 of each run; colour random.
inline RunFrame AlphaRunFrame(uint32_t L, uint32_t maxGroups, std::mt19937& rng) {
    RunFrame f;
    for (uint32_t c : RandomCounts(L, maxGroups, rng)) {
        const uint32_t pat = (uint32_t)((rng() % 3 == 0) ? 0x01010101u * (rng() & 0xFF) : rng());
        f.runs.push_back({c, {pat, 0, 0}});
        for (uint32_t j = 0; j < c; j++)
            f.pixels.push_back((rng() & 0x00FFFFFFu) | (((pat >> (8 * (j % 4))) & 0xFF) << 24));
    }
    return f;
}

inline RunFrame ColourRunFrame(uint32_t L, uint32_t maxGroups, std::mt19937& rng) {
    RunFrame f;
    for (uint32_t c : RandomCounts(L, maxGroups, rng)) {
        const Run r{c, {(uint32_t)rng(), (uint32_t)rng(), (uint32_t)rng()}};
        f.runs.push_back(r);
        for (uint32_t j = 0; j < c; j++) {
            const uint32_t k = 8 * (j % 4);
            const uint32_t g = (r.pattern[0] >> k) & 0xFF, b = (r.pattern[1] >> k) & 0xFF,
                           red = (r.pattern[2] >> k) & 0xFF;
            f.pixels.push_back(b | (g << 8) | (red << 16) | ((rng() & 0xFF) << 24));
        }
    }
    return f;
}

inline void Put(std::vector<uint8_t>& v, uint32_t x) { rvotest::PutU32(v, x); }
inline void PadTo(std::vector<uint8_t>& v, size_t n) { v.resize(n, 0xCD); }   // pad bytes mean nothing

// A PackedAlphaRuns record. emptySlots: after each run, with probability 1/2,
// leave the block's second slot empty (count 0) and go on in the next block.
inline std::vector<uint8_t> AlphaRunRecord(const RunFrame& f, bool emptySlots, std::mt19937& rng) {
    const uint32_t L = (uint32_t)f.pixels.size();
    std::vector<uint8_t> s1;
    for (const Run& r : f.runs) {
        Put(s1, r.count);
        Put(s1, r.pattern[0]);
        if (emptySlots && s1.size() % 16 == 8 && rng() % 2) {
            Put(s1, 0);
            Put(s1, 0xDEADBEEFu);
        }
    }
    PadTo(s1, Pad((uint32_t)s1.size(), 16));
    std::vector<uint8_t> rec;
    Put(rec, kTagAlphaRuns);
    Put(rec, 0);   // recordBytes, below
    Put(rec, (uint32_t)s1.size() / 4);
    Put(rec, L);
    rec.insert(rec.end(), s1.begin(), s1.end());
    for (uint32_t g = 0; g < (L + 3) / 4; g++) {
        uint32_t w[3] = {0, 0, 0};   // green, blue, red
        for (uint32_t k = 0; k < 4; k++) {
            const uint32_t p = 4 * g + k < L ? f.pixels[4 * g + k] : 0x00A5A5A5u;
            w[0] |= ((p >> 8) & 0xFF) << (8 * k);
            w[1] |= (p & 0xFF) << (8 * k);
            w[2] |= ((p >> 16) & 0xFF) << (8 * k);
        }
        for (uint32_t x : w) Put(rec, x);
    }
    const uint32_t n = Pad((uint32_t)rec.size(), 512);
    PadTo(rec, n);
    for (int i = 0; i < 4; i++) rec[4 + i] = (uint8_t)(n >> (8 * i));
    return rec;
}

inline std::vector<uint8_t> ColourRunRecord(const RunFrame& f) {
    const uint32_t L = (uint32_t)f.pixels.size();
    std::vector<uint8_t> rec;
    Put(rec, kTagColourRuns);
    Put(rec, 0);
    Put(rec, Pad(L, 16) / 4);
    Put(rec, L);
    for (uint32_t p : f.pixels) rec.push_back((uint8_t)(p >> 24));
    PadTo(rec, 16 + Pad(L, 16));
    for (const Run& r : f.runs) {
        Put(rec, r.count);
        for (uint32_t x : r.pattern) Put(rec, x);
    }
    const uint32_t n = Pad((uint32_t)rec.size(), 512);
    PadTo(rec, n);
    for (int i = 0; i < 4; i++) rec[4 + i] = (uint8_t)(n >> (8 * i));
    return rec;
}

inline std::vector<uint8_t> RawRecord(const std::vector<uint32_t>& pixels) {
    std::vector<uint8_t> rec;
    Put(rec, kTagRaw);
    Put(rec, 0);
    Put(rec, 0);
    Put(rec, (uint32_t)pixels.size());
    for (uint32_t p : pixels) Put(rec, p);
    const uint32_t n = Pad((uint32_t)rec.size(), 512);
    PadTo(rec, n);
    for (int i = 0; i < 4; i++) rec[4 + i] = (uint8_t)(n >> (8 * i));
    return rec;
}

}   // namespace dectest
