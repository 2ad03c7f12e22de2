// Image services for builds without a host: PNG (libpng) and JPEG (libjpeg)
// files read into 32-bit pixels and fitted to the requested size as
// plugin/ImageFit.h says. A host installs its own instead. JPEG pixels get
// alpha 255; PNG transparency is kept (straight, not premultiplied, alpha).
#pragma once

#include "platform/Types.h"

// The VxReadImage role: fills nWidth x nHeight pixels (row step nWidth, bytes
// B, G, R, A); non-zero on success.
int DefaultReadImage(const WCHAR* pszPath, DWORD* pPixels, int nWidth, int nHeight);
// The VxGetImgInfo role: the image's size in *pWidth and *pHeight; p1 and p2
// are set to 0. Non-zero on success.
int DefaultGetImgInfo(const WCHAR* pszPath, int* p1, int* p2, int* pWidth, int* pHeight);

// Installs both with SetReadImageFunc / SetGetImgInfoFunc.
void InstallDefaultImageServices();
