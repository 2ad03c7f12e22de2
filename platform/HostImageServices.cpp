// Slots for the host's image services.
#include "platform/HostImageServices.h"

PFN_READIMAGE g_pfnReadImage = nullptr;
PFN_GETIMGINFO g_pfnGetImgInfo = nullptr;

void SetReadImageFunc(PFN_READIMAGE pfn) { g_pfnReadImage = pfn; }
void SetGetImgInfoFunc(PFN_GETIMGINFO pfn) { g_pfnGetImgInfo = pfn; }
