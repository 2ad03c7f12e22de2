// Comparing decoded frames with their source: how many pixels differ and the
// peak signal-to-noise ratio over all four bytes of every pixel.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <string>

#include "platform/Types.h"

struct PixelDiff {
    double dSumSq = 0;
    unsigned long long nSamples = 0;
    unsigned long long nDiffering = 0;   // pixels

    void Add(const DWORD* pA, const DWORD* pB, size_t nPixels) {
        for (size_t i = 0; i < nPixels; i++) {
            if (pA[i] == pB[i]) continue;
            nDiffering++;
            for (int c = 0; c < 32; c += 8) {
                double d = (double)((pA[i] >> c) & 255) - (double)((pB[i] >> c) & 255);
                dSumSq += d * d;
            }
        }
        nSamples += 4 * (unsigned long long)nPixels;
    }

    // Infinity when every pixel is equal.
    double Psnr() const {
        if (dSumSq == 0 || nSamples == 0) return std::numeric_limits<double>::infinity();
        return 10.0 * std::log10(255.0 * 255.0 / (dSumSq / (double)nSamples));
    }

    std::string PsnrText() const {
        double p = Psnr();
        if (std::isinf(p)) return "inf";
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.2f", p);
        return buf;
    }
};
