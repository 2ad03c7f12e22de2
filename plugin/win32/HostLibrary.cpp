// The host's support library VxCommonU, looked up in the process at load
// time; without it (or without either service) the module reads stills with
// the Windows Imaging Component.
#include "plugin/HostLibrary.h"

#include "platform/win32/Win32Api.h"
#include "plugin/win32/WicImageServices.h"

namespace {

// The host library's services are plain C functions of its default calling convention.
typedef int (*PFN_VX_READIMAGE)(const wchar_t*, unsigned long*, int, int);
typedef int (*PFN_VX_GETIMGINFO)(const wchar_t*, int&, int&, int&, int&);

PFN_VX_READIMAGE  g_pfnVxReadImage = nullptr;
PFN_VX_GETIMGINFO g_pfnVxGetImgInfo = nullptr;

}  // namespace

void FindHostLibrary() {
    g_pfnVxReadImage = nullptr;
    g_pfnVxGetImgInfo = nullptr;
    w32::HANDLE hLib = w32::GetModuleHandleW(L"VxCommonU.dll");
    if (!hLib) return;
    void* pRead = w32::GetProcAddress(hLib, "VxReadImage");
    void* pInfo = w32::GetProcAddress(hLib, "VxGetImgInfo");
    if (!pRead || !pInfo) return;
    g_pfnVxReadImage = reinterpret_cast<PFN_VX_READIMAGE>(pRead);
    g_pfnVxGetImgInfo = reinterpret_cast<PFN_VX_GETIMGINFO>(pInfo);
}

int VxReadImage(const WCHAR* pszPath, DWORD* pPixels, int nWidth, int nHeight) {
    static_assert(sizeof(DWORD) == sizeof(unsigned long), "32-bit pixels on both sides");
    if (g_pfnVxReadImage)
        return g_pfnVxReadImage(w32::Wide(pszPath), reinterpret_cast<unsigned long*>(pPixels), nWidth, nHeight);
    return WicReadImage(pszPath, pPixels, nWidth, nHeight);
}

int VxGetImgInfo(const WCHAR* pszPath, int& a, int& b, int& nWidth, int& nHeight) {
    if (g_pfnVxGetImgInfo) return g_pfnVxGetImgInfo(w32::Wide(pszPath), a, b, nWidth, nHeight);
    return WicGetImgInfo(pszPath, &a, &b, &nWidth, &nHeight);
}
