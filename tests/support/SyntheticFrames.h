// Synthetic frames for the tests, the benchmarks and the fuzz seeds: one
// generator per kind of content, every random part drawn from one xorshift
// sequence, so that a kind, a size and a seed give the same pixels everywhere.
// Pixels are 32-bit words, bytes blue, green, red, alpha.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rvotest {

// Marsaglia's xorshift32 (shifts 13, 17, 5). Zero is its fixed point, so the
// seed's lowest bit is set.
class XorShift32 {
public:
    explicit XorShift32(uint32_t nSeed) : m_nState(nSeed | 1) {}
    uint32_t operator()() {
        m_nState ^= m_nState << 13;
        m_nState ^= m_nState >> 17;
        m_nState ^= m_nState << 5;
        return m_nState;
    }

private:
    uint32_t m_nState;
};

enum class Content {
    Flat,         // one opaque colour (0xFF336699 for seed 0)
    Gradient,     // smooth colour and alpha ramps that JPEG keeps within a few levels; the seed shifts them
    Noise,        // every pixel random: no run, no repeat, the largest packed record
    AlphaNoise,   // one colour under random alpha: the colour-runs record
    Blocks,       // hard-edged blocks of three colours at alpha 0x80, 0xFF and 0
    Runs,         // rows of flat runs of every length around the run coders' thresholds (1 to 5000)
    Graphics,     // rendered titles over full transparency: a disc with a soft alpha edge,
                  // a gradient bar, a striped caption band; the seed moves them
    Natural,      // natural video: smooth light with sensor noise, opaque
};

// The name benchmarks print ("graphics+alpha", "natural video", ...).
const char* ContentName(Content c);

// Fills w x h pixels from p, rows nStride pixels apart (negative: rows run
// upwards in memory). Pixels between rows are left alone.
void FillFrame(uint32_t* p, int w, int h, ptrdiff_t nStride, Content c, uint32_t nSeed);

// A frame of w x h pixels with no gap between rows.
std::vector<uint32_t> MakeFrame(int w, int h, Content c, uint32_t nSeed = 0);

}   // namespace rvotest
