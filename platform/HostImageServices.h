// The host's image services (VxReadImage / VxGetImgInfo roles) as the module
// calls them. A host installs its own with SetReadImageFunc/SetGetImgInfoFunc;
// until then they are null and the paths that need them fail.
#pragma once

#include "platform/Types.h"

// Fills nWidth x nHeight pixels (row step nWidth, bytes B, G, R, A); non-zero on success.
typedef int (*PFN_READIMAGE)(const WCHAR* pszPath, DWORD* pPixels, int nWidth, int nHeight);
// Stores the image's size in *pWidth and *pHeight; p1 and p2 are not used. Non-zero on success.
typedef int (*PFN_GETIMGINFO)(const WCHAR* pszPath, int* p1, int* p2, int* pWidth, int* pHeight);

extern PFN_READIMAGE g_pfnReadImage;
extern PFN_GETIMGINFO g_pfnGetImgInfo;

extern "C" void SetReadImageFunc(PFN_READIMAGE pfn);
extern "C" void SetGetImgInfoFunc(PFN_GETIMGINFO pfn);
