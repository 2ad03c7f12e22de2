// What the module sets up when it is loaded: the filter text the host shows in
// its file dialogs and the host image services the container and decoder use.
#include "platform/HostImageServices.h"
#include "plugin/DefaultImageServices.h"
#include "plugin/Dispatch.h"
#include "plugin/HostLibrary.h"

WCHAR g_szFilterText[64];

namespace {

const WCHAR kFilterText[] = u"RVO File(*.RVO)|*.RVO";
static_assert(sizeof(kFilterText) <= sizeof(g_szFilterText));

// The host support library's wide-string copy; without the host the module
// brings its own with the same contract (NUL-terminated UTF-16).
WCHAR* _vxstrcpy(WCHAR* pDest, const WCHAR* pSrc) {
    WCHAR* p = pDest;
    while ((*p++ = *pSrc++) != 0) {
    }
    return pDest;
}

int ReadImageAdapter(const WCHAR* pszPath, DWORD* pPixels, int nWidth, int nHeight) {
    return VxReadImage(pszPath, pPixels, nWidth, nHeight);
}

int GetImgInfoAdapter(const WCHAR* pszPath, int* p1, int* p2, int* pWidth, int* pHeight) {
    return VxGetImgInfo(pszPath, *p1, *p2, *pWidth, *pHeight);
}

}   // namespace

BOOL RvoModuleAttach() {
    _vxstrcpy(g_szFilterText, kFilterText);
    SetReadImageFunc(ReadImageAdapter);
    SetGetImgInfoFunc(GetImgInfoAdapter);
    return TRUE;
}

// Nothing registered at load time needs undoing: the filter text and the
// service pointers stay valid until the module's memory goes away.
void RvoModuleDetach() {}
