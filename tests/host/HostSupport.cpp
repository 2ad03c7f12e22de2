// Loading the plug-in and the scratch files and byte builders of the host tests.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "HostRecord.h"

namespace host {

Plugin& Module() {
    static Plugin p = [] {
        Plugin m;
        const char* path = std::getenv("RVO_PLUGIN");
        m.lib = dlopen(path ? path : RVO_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!m.lib) {
            m.error = dlerror();
            return m;
        }
        m.main = reinterpret_cast<MainFn>(dlsym(m.lib, "Main"));
        return m;
    }();
    return p;
}

namespace {
struct ScratchRoot {
    std::filesystem::path dir;
    ScratchRoot() {
        const char* base = std::getenv("RVO_BUILD_DIR");
        std::filesystem::path root = base ? base : std::filesystem::temp_directory_path().string();
        dir = root / "scratch" / ("host" + std::to_string(getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    ~ScratchRoot() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};
}  // namespace

std::string Scratch(const std::string& name) {
    static ScratchRoot root;
    return (root.dir / name).string();
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

void U32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; i++) v.push_back((uint8_t)(x >> (8 * i)));
}

void Zeros(std::vector<uint8_t>& v, size_t n) { v.insert(v.end(), n, 0); }

std::vector<uint8_t> Header(uint32_t indexOffset, int32_t entries, int32_t frames, int32_t mode, int32_t width,
                            int32_t height, uint32_t tableBytes, uint32_t tableHigh, uint32_t tableLow) {
    std::vector<uint8_t> v = {'Q', 'A', 'R', 'V', 'O', 'V', '1', '0'};
    for (uint32_t x : {indexOffset, (uint32_t)entries, (uint32_t)frames, (uint32_t)mode, (uint32_t)width,
                       (uint32_t)height, 0u, 0u, 0u, tableBytes, tableHigh, tableLow})
        U32(v, x);
    Zeros(v, 104);
    return v;
}

std::string Diff(const std::vector<uint8_t>& want, const std::vector<uint8_t>& got) {
    size_t n = std::min(want.size(), got.size());
    size_t at = 0;
    while (at < n && want[at] == got[at]) at++;
    if (at == n && want.size() == got.size()) return "";
    std::ostringstream os;
    os << "first difference at offset " << at << " (sizes " << want.size() << " expected, " << got.size()
       << " actual)";
    if (at < n) os << ": expected " << (int)want[at] << ", actual " << (int)got[at];
    return os.str();
}

}  // namespace host
