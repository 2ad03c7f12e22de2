// The host's support library VxCommonU, looked up in the process when a still
// image is first read (from Main, never under the loader lock), and held by a
// module reference of our own while its functions are kept; without it (or
// without either service) the module reads stills with the Windows Imaging
// Component and looks again the next time.
#include "plugin/HostLibrary.h"

#include <atomic>
#include <mutex>

#include "platform/win32/Win32Api.h"
#include "plugin/win32/WicImageServices.h"

namespace {

// The host library's services are plain C++ functions of its default calling convention.
typedef int (*PFN_VX_READIMAGE)(const wchar_t*, unsigned long*, int, int);
typedef int (*PFN_VX_GETIMGINFO)(const wchar_t*, int&, int&, int&, int&);

// The names the library may export them under: undecorated, with the C
// compiler's underscore, and as MSVC decorates the C++ functions.
const char* const kReadNames[] = {
    "VxReadImage",
    "_VxReadImage",
#if defined(__i386__)
    "?VxReadImage@@YAHPB_WPAKHH@Z",
#else
    "?VxReadImage@@YAHPEB_WPEAKHH@Z",
#endif
};
const char* const kInfoNames[] = {
    "VxGetImgInfo",
    "_VxGetImgInfo",
#if defined(__i386__)
    "?VxGetImgInfo@@YAHPB_WAAH111@Z",
#else
    "?VxGetImgInfo@@YAHPEB_WAEAH111@Z",
#endif
};

std::mutex g_mtxLibrary;
w32::HANDLE g_hLibrary = nullptr;   // our reference, under g_mtxLibrary
std::atomic<PFN_VX_READIMAGE> g_pfnVxReadImage{nullptr};
std::atomic<PFN_VX_GETIMGINFO> g_pfnVxGetImgInfo{nullptr};

template <size_t N>
void* Lookup(w32::HANDLE hLib, const char* const (&names)[N]) {
    for (const char* pszName : names)
        if (void* p = w32::GetProcAddress(hLib, pszName)) return p;
    return nullptr;
}

// Whether the host's services are there (found now or before).
bool FindHostLibrary() {
    if (g_pfnVxReadImage.load(std::memory_order_acquire)) return true;
    std::lock_guard<std::mutex> lock(g_mtxLibrary);
    if (g_pfnVxReadImage.load(std::memory_order_acquire)) return true;
    w32::HANDLE hLib = nullptr;
    if (!w32::GetModuleHandleExW(0, L"VxCommonU.dll", &hLib) || !hLib) return false;
    void* pRead = Lookup(hLib, kReadNames);
    void* pInfo = Lookup(hLib, kInfoNames);
    if (!pRead || !pInfo) {
        w32::FreeLibrary(hLib);
        return false;
    }
    g_hLibrary = hLib;
    g_pfnVxGetImgInfo.store(reinterpret_cast<PFN_VX_GETIMGINFO>(pInfo), std::memory_order_release);
    g_pfnVxReadImage.store(reinterpret_cast<PFN_VX_READIMAGE>(pRead), std::memory_order_release);
    return true;
}

}   // namespace

void ReleaseHostLibrary() {
    std::lock_guard<std::mutex> lock(g_mtxLibrary);
    g_pfnVxReadImage = nullptr;
    g_pfnVxGetImgInfo = nullptr;
    if (g_hLibrary) w32::FreeLibrary(g_hLibrary);
    g_hLibrary = nullptr;
}

int VxReadImage(const WCHAR* pszPath, DWORD* pPixels, int nWidth, int nHeight) {
    static_assert(sizeof(DWORD) == sizeof(unsigned long), "32-bit pixels on both sides");
    if (FindHostLibrary())
        return g_pfnVxReadImage.load()(w32::Wide(pszPath), reinterpret_cast<unsigned long*>(pPixels), nWidth,
                                       nHeight);
    return WicReadImage(pszPath, pPixels, nWidth, nHeight);
}

int VxGetImgInfo(const WCHAR* pszPath, int& a, int& b, int& nWidth, int& nHeight) {
    if (FindHostLibrary()) return g_pfnVxGetImgInfo.load()(w32::Wide(pszPath), a, b, nWidth, nHeight);
    return WicGetImgInfo(pszPath, &a, &b, &nWidth, &nHeight);
}
