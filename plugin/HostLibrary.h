// The host support library's image services (VxCommonU's VxReadImage and
// VxGetImgInfo) as the load-time adapters call them. Where the host has no
// such library the module's own services stand in: PNG and JPEG through libpng
// and libjpeg on Linux (plugin/posix/HostLibrary.cpp), the Windows Imaging
// Component on Windows (plugin/win32/HostLibrary.cpp).
#pragma once

#include "platform/Types.h"

// Windows: the host's library is looked for in the process when first needed,
// and a module reference to it held; this gives that reference back (when the
// module is unloaded, not at process exit).
void ReleaseHostLibrary();

int VxReadImage(const WCHAR* pszPath, DWORD* pPixels, int nWidth, int nHeight);
int VxGetImgInfo(const WCHAR* pszPath, int& a, int& b, int& nWidth, int& nHeight);
