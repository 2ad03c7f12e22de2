// The host support library's image services (VxCommonU's VxReadImage and
// VxGetImgInfo) as the load-time adapters call them. Where the host has no
// such library the module's own services stand in: PNG and JPEG through libpng
// and libjpeg on Linux (plugin/posix/HostLibrary.cpp), the Windows Imaging
// Component on Windows (plugin/win32/HostLibrary.cpp).
#pragma once

#include "platform/Types.h"

// Looks for the host's support library in the process; run once at load time.
void FindHostLibrary();

int VxReadImage(const WCHAR* pszPath, DWORD* pPixels, int nWidth, int nHeight);
int VxGetImgInfo(const WCHAR* pszPath, int& a, int& b, int& nWidth, int& nHeight);
