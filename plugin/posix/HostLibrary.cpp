// No host support library on Linux: the module's own image services.
#include "plugin/HostLibrary.h"

#include "plugin/DefaultImageServices.h"

void ReleaseHostLibrary() {}

int VxReadImage(const WCHAR* pszPath, DWORD* pPixels, int nWidth, int nHeight) {
    return DefaultReadImage(pszPath, pPixels, nWidth, nHeight);
}

int VxGetImgInfo(const WCHAR* pszPath, int& a, int& b, int& nWidth, int& nHeight) {
    return DefaultGetImgInfo(pszPath, &a, &b, &nWidth, &nHeight);
}
