// The module's own image services on Windows: still images (BMP, PNG, JPEG,
// TIFF, GIF) read with the Windows Imaging Component and fitted to the
// requested size by plugin/ImageFit.h, as the Linux build fits them.
// Declared in plain types: the implementation includes <windows.h>.
#pragma once

#include <cstdint>

// The VxReadImage role: nWidth x nHeight pixels, bytes B, G, R, A; non-zero on success.
int WicReadImage(const char16_t* pszPath, uint32_t* pPixels, int nWidth, int nHeight);
// The VxGetImgInfo role: the image's size; p1 and p2 set to 0. Non-zero on success.
int WicGetImgInfo(const char16_t* pszPath, int* p1, int* p2, int* pWidth, int* pHeight);
