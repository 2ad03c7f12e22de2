// Fitting a decoded still image to the frame size a caller asks for, shared by
// the module's own image services on every platform. Plain types only: the
// Windows services include <windows.h>, whose DWORD is not ours.
//
// The image is stretched to exactly the requested width and height (aspect
// ratio not kept) by bilinear interpolation of each byte, weights in steps of
// 1/256, sampling at pixel centres: destination x reads source point
// (x + 0.5) * srcWidth / dstWidth - 0.5, clamped to the picture's edges; rows
// likewise. An image of the requested size is copied unchanged.
#pragma once

#include <cstdint>

// An image file may claim any size: refuse what no frame could show.
bool ImageSizeAllowed(unsigned nWidth, unsigned nHeight);

// pSrc: nSrcWidth x nSrcHeight pixels, row step nSrcWidth; pOut receives
// nWidth x nHeight pixels, row step nWidth. All sizes non-zero.
void FitImage(const uint32_t* pSrc, unsigned nSrcWidth, unsigned nSrcHeight, uint32_t* pOut, unsigned nWidth,
              unsigned nHeight);
