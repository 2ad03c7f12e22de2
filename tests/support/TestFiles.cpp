// Scratch files and byte helpers shared by the test programs.
#include "tests/support/TestFiles.h"

#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace rvotest {

namespace {
struct ScratchRoot {
    std::filesystem::path dir;
    explicit ScratchRoot(const std::filesystem::path& folder) : dir(folder) {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    ~ScratchRoot() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};
ScratchRoot& Root() {
    const char* base = std::getenv("RVO_BUILD_DIR");
    static ScratchRoot r(std::filesystem::path(base ? base : std::filesystem::temp_directory_path().string()) / "scratch" /
                         ("t" + std::to_string(getpid())));
    return r;
}
ScratchRoot& MemoryRoot() {
    std::error_code ec;
    const std::filesystem::path shm = "/dev/shm";
    if (!std::filesystem::is_directory(shm, ec) || access(shm.c_str(), W_OK) != 0) return Root();
    static ScratchRoot r(shm / ("rvo-test-" + std::to_string(getpid())));
    return r;
}
}   // namespace

std::string ScratchDir() { return Root().dir.string(); }

std::string ScratchPath(const std::string& name) { return (Root().dir / name).string(); }

std::string MemoryScratchPath(const std::string& name) { return (MemoryRoot().dir / name).string(); }

std::u16string Wide(const std::string& s) {
    std::u16string w;
    for (unsigned char c : s) w.push_back(c);   // test paths are ASCII
    return w;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
}

void PutU32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; i++) v.push_back((uint8_t)(x >> (8 * i)));
}
void PutU16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back((uint8_t)x);
    v.push_back((uint8_t)(x >> 8));
}
void PutBytes(std::vector<uint8_t>& v, const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    v.insert(v.end(), b, b + n);
}
void PutZeros(std::vector<uint8_t>& v, size_t n) { v.insert(v.end(), n, 0); }
void Append(std::vector<uint8_t>& v, const std::vector<uint8_t>& more) { v.insert(v.end(), more.begin(), more.end()); }

std::vector<uint8_t> HeaderBytes(const HeaderFields& h, size_t nBlockBytes) {
    std::vector<uint8_t> v;
    PutBytes(v, "QARVOV10", 8);
    for (uint32_t x : {h.indexOffset, h.entryCount, (uint32_t)h.frameCount, (uint32_t)h.mode, (uint32_t)h.width,
                       (uint32_t)h.height, 0u, 0u, 0u, h.sizeTableBytes, h.tableHigh, h.tableLow})
        PutU32(v, x);
    PutZeros(v, 160 - v.size());
    const int32_t w = h.recordWidth ? h.recordWidth : h.width, ht = h.recordHeight ? h.recordHeight : h.height;
    if (nBlockBytes == 512 && (h.mode == 4 || h.mode == 5) && w > 0 && ht > 0) {
        // "RVFS", the size, and the record size: the raw record's, with a 16-byte header in mode 5.
        const uint64_t nUnrounded = 4ull * (uint64_t)w * (uint64_t)ht + (h.mode == 5 ? 16 : 0);
        PutBytes(v, "RVFS", 4);
        for (uint32_t x : {(uint32_t)w, (uint32_t)ht, (uint32_t)((nUnrounded + 511) / 512 * 512)}) PutU32(v, x);
    }
    PutZeros(v, nBlockBytes - v.size());
    return v;
}

std::string DiffBytes(const std::vector<uint8_t>& expected, const std::vector<uint8_t>& actual) {
    size_t n = std::min(expected.size(), actual.size());
    size_t at = 0;
    while (at < n && expected[at] == actual[at]) at++;
    if (at == n && expected.size() == actual.size()) return "";
    std::ostringstream os;
    os << "first difference at offset " << at << " (sizes " << expected.size() << " expected, "
       << actual.size() << " actual)\n";
    size_t from = at >= 8 ? at - 8 : 0;
    auto dump = [&](const char* label, const std::vector<uint8_t>& v) {
        os << label;
        for (size_t i = from; i < from + 24 && i < v.size(); i++) {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%02X", v[i]);
            os << (i == at ? " [" : " ") << buf << (i == at ? "]" : "");
        }
        os << "\n";
    };
    dump("expected:", expected);
    dump("actual:  ", actual);
    return os.str();
}

FileSizeCap::FileSizeCap(rlim_t nBytes) {
    m_pfnOld = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &m_old);
    struct rlimit cap = m_old;
    cap.rlim_cur = nBytes;
    m_bOk = setrlimit(RLIMIT_FSIZE, &cap) == 0;
}

void FileSizeCap::Lift() {
    if (m_bOk) setrlimit(RLIMIT_FSIZE, &m_old);
    m_bOk = false;
    if (m_pfnOld) std::signal(SIGXFSZ, m_pfnOld);
    m_pfnOld = nullptr;
}

}   // namespace rvotest
