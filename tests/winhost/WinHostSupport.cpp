// Loading the DLL, records, scratch files and byte builders of the Windows host.
#include <cstring>
#include <cwchar>

#include "WinHost.h"

namespace winhost {

int g_nFailures = 0;

namespace {
MainFn g_pfnUsed = nullptr;
}

void UseMain(MainFn pfn) { g_pfnUsed = pfn; }

MainFn Main() {
    if (g_pfnUsed) return g_pfnUsed;
    static MainFn pfn = [] {
        wchar_t szPath[MAX_PATH];
        DWORD n = GetEnvironmentVariableW(L"RVO_PLUGIN", szPath, MAX_PATH);
        HMODULE h = LoadLibraryW(n > 0 && n < MAX_PATH ? szPath : L"rvoplugin.dll");
        if (!h) {
            std::printf("LoadLibraryW: error %lu\n", GetLastError());
            return (MainFn) nullptr;
        }
        MainFn p = reinterpret_cast<MainFn>(reinterpret_cast<void*>(GetProcAddress(h, "Main")));
        if (!p) std::printf("GetProcAddress(Main): error %lu\n", GetLastError());
        return p;
    }();
    return pfn;
}

HostMediaInfo Record(const std::wstring& path) {
    HostMediaInfo r;
    std::memset(&r, 0, sizeof r);
    PutPath(r, path);
    return r;
}

void PutPath(HostMediaInfo& r, const std::wstring& path) {
    std::memset(r.szPath, 0, sizeof r.szPath);
    wcsncpy(r.szPath, path.c_str(), 255);
}

std::wstring Scratch(const std::wstring& name) {
    static std::wstring dir = [] {
        CreateDirectoryW(L"winhost-scratch", nullptr);
        wchar_t szFull[MAX_PATH];
        GetFullPathNameW(L"winhost-scratch", MAX_PATH, szFull, nullptr);
        return std::wstring(szFull);
    }();
    return dir + L"\\" + name;
}

std::vector<uint8_t> ReadAll(const std::wstring& path) {
    std::vector<uint8_t> v;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return v;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) v.insert(v.end(), buf, buf + n);
    std::fclose(f);
    return v;
}

bool WriteAll(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

void U16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back((uint8_t)x);
    v.push_back((uint8_t)(x >> 8));
}

void U32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; i++) v.push_back((uint8_t)(x >> (8 * i)));
}

}   // namespace winhost
