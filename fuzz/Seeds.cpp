// The seed inputs of the fuzz targets, made by the module's own writer and codecs
// from the synthetic frames the tests use.
#include "fuzz/Seeds.h"

#include <cstdio>
#include <cstring>

#include "cache/FieldCodec.h"
#include "cache/PreloadBlocks.h"
#include "codec/JpeEngine.h"
#include "container/IndexArchive.h"
#include "container/RvoFile.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Archive.h"
#include "platform/ByteOrder.h"
#include "platform/File.h"
#include "platform/GlobalMemory.h"
#include "platform/RawFile.h"
#include "tests/support/Movies.h"
#include "tests/support/SyntheticFrames.h"
#include "tests/support/TestFiles.h"

namespace rvofuzz {

namespace {

using Bytes = std::vector<uint8_t>;

// Flat, blocky, gradient and noisy content, and flat colour under noisy alpha (kind 7).
std::vector<DWORD> Picture(LONG cx, LONG cy, int kind) {
    using rvotest::Content;
    const Content kinds[] = {Content::Flat, Content::Blocks, Content::Gradient, Content::Noise};
    const Content c = kind % 4 == 3 && (kind & 4) ? Content::AlphaNoise : kinds[kind % 4];
    return rvotest::MakeFrame(cx, cy, c, 12345u + (uint32_t)kind);
}

Bytes WrittenMovie(LONG mode, LONG cx, LONG cy, int nFrames) {
    const std::string path = ScratchPath("seed");
    std::vector<std::vector<DWORD>> frames;
    for (int k = 0; k < nFrames; k++) frames.push_back(Picture(cx, cy, k));
    // A frame the JPEG codec cannot store leaves the file without it: still a seed.
    rvotest::WriteMovie(path, mode, cx, cy, frames);
    Bytes v = rvotest::ReadAll(path);
    std::remove(path.c_str());
    return v;
}

HGLOBAL Blob(LONG cx, LONG cy, int kind) {
    CJpeEngine engine;
    const std::vector<DWORD> px = Picture(cx, cy, kind);
    const SIZE s{cx, cy};
    return engine.Compress(&s, px.data(), cx);
}

Bytes BlobBytes(HGLOBAL h) {
    const size_t n = GlobalSize(h);
    const BYTE* p = static_cast<const BYTE*>(GlobalLock(h));
    Bytes v(p, p + n);
    GlobalUnlock(h);
    return v;
}

// An image-list file: still-image entries by name, a single frame and a run, and
// a frame entry carrying its blob inside the index record.
Bytes ImageListFile() {
    const std::string path = ScratchPath("seed");
    {
        CFile file;
        const std::u16string wide = Wide(path);
        if (!file.Open(wide.c_str(), CFile::modeCreate | CFile::modeReadWrite)) return {};
        CRvoHeader h;
        h.m_nMode = rvo::ImageList;
        h.m_dwIndexOffset = rvo::kHeaderBytes;
        h.m_nEntryCount = 3;
        h.m_nFrameCount = 6;
        h.m_nWidth = kStillSize;
        h.m_nHeight = kStillSize;
        BYTE header[rvo::kHeaderBytes];
        h.StoreHeader(header);
        file.Write(header, sizeof header);
        CArchive ar(&file, CArchive::store);
        RvoIndexEntry a, b, c;
        a.m_nKind = rvo::kKindStillImage;
        a.m_strName = CString(u"still0.png");
        b.m_nKind = rvo::kKindStillImage;
        b.m_strName = CString(u"still1.png");
        b.m_nStartFrame = 2;
        b.m_nLastFrame = 3;
        c.m_nKind = rvo::kKindFrame;
        c.m_strName = CString(u"No.5");
        c.m_nStartFrame = 5;
        // Pictures smaller than their JPEG tables cannot be compressed; this one is larger than the stills.
        c.m_hBlob = Blob(24, 20, 1);
        c.m_nWidth = 24;
        c.m_nHeight = 20;
        WriteEntry(ar, a);
        WriteEntry(ar, b);
        WriteEntry(ar, c);
        ar.Close();
        file.Close();
    }
    Bytes v = rvotest::ReadAll(path);
    std::remove(path.c_str());
    return v;
}

void AddWithTruncations(std::vector<Seed>& out, const std::string& name, const Bytes& file, DWORD nIndexOffset) {
    if (file.empty()) return;
    out.push_back({name, file});
    std::vector<size_t> cuts = {8, 159, 160, 511, 512, 513};
    for (size_t at = 1024; at < file.size() && cuts.size() < 24; at += 512) cuts.push_back(at);
    if (nIndexOffset) {
        cuts.push_back(nIndexOffset);
        cuts.push_back(nIndexOffset + 40);
        cuts.push_back(nIndexOffset + 143);
    }
    cuts.push_back(file.size() - 1);
    for (size_t cut : cuts)
        if (cut < file.size()) out.push_back({name + "-cut" + std::to_string(cut), Bytes(file.begin(), file.begin() + cut)});
}

std::vector<Seed> FileSeeds() {
    std::vector<Seed> out;
    struct Movie {
        LONG mode, cx, cy;
        int frames;
    } const movies[] = {{rvo::RawFrames, 16, 12, 3}, {rvo::PackedFrames, 16, 12, 5}, {rvo::PackedFrames, 5, 3, 2}, {rvo::JpegBlobs, 40, 30, 3}, {rvo::RawFrames, 7, 5, 2}, {rvo::JpegBlobs, 24, 20, 1}};
    for (const Movie& m : movies) {
        const Bytes file = WrittenMovie(m.mode, m.cx, m.cy, m.frames);
        const DWORD nIndex = file.size() >= 12 ? LoadLe32(file.data() + 8) : 0;
        AddWithTruncations(out,
                           "mode" + std::to_string(m.mode) + "-" + std::to_string(m.cx) + "x" + std::to_string(m.cy),
                           file, m.mode == rvo::JpegBlobs ? nIndex : 0);
    }
    const Bytes list = ImageListFile();
    AddWithTruncations(out, "mode2", list, rvo::kHeaderBytes);
    // Mode 1 is read as mode 3.
    Bytes legacy = WrittenMovie(rvo::JpegBlobs, 24, 24, 2);
    if (legacy.size() > 24) {
        legacy[20] = 1;
        out.push_back({"mode1", legacy});
    }
    return out;
}

std::vector<Seed> PackedRecordSeeds() {
    std::vector<Seed> out;
    const LONG cx = 13, cy = 7;
    const Bytes file = WrittenMovie(rvo::PackedFrames, cx, cy, 6);
    if (file.size() < 512) return out;
    // Records follow the header block; each states its own size at byte 4.
    size_t at = 512;
    for (int k = 0; k < 6 && at + 16 <= file.size(); k++) {
        const DWORD nBytes = LoadLe32(file.data() + at + 4);
        if (nBytes == 0 || at + nBytes > file.size()) break;
        Bytes seed = {(uint8_t)(cx - 1), (uint8_t)(cy - 1)};
        seed.insert(seed.end(), file.begin() + at, file.begin() + at + nBytes);
        out.push_back({"record" + std::to_string(k), seed});
        at += nBytes;
    }
    return out;
}

std::vector<Seed> PictureBlobSeeds() {
    std::vector<Seed> out;
    struct Shape {
        LONG cx, cy;
        int kind;
    } const shapes[] = {{24, 20, 0}, {40, 24, 1}, {48, 40, 2}, {64, 48, 3}, {33, 30, 7}};
    for (const Shape& s : shapes) {
        HGLOBAL h = Blob(s.cx, s.cy, s.kind);
        if (!h) continue;
        Bytes v = BlobBytes(h);
        CJpeEngine::FreeBlob(h);
        v[0] |= 1;   // the target's "keep the magic" bit; the magic's low byte is already odd
        out.push_back({"blob" + std::to_string(s.cx) + "x" + std::to_string(s.cy), v});
    }
    return out;
}

std::vector<Seed> FieldRecordSeeds() {
    std::vector<Seed> out;
    struct Shape {
        LONG cx, cy;
        int kind;
    } const shapes[] = {{16, 6, 0}, {24, 8, 1}, {7, 5, 3}, {40, 4, 2}};
    for (const Shape& s : shapes) {
        const std::vector<DWORD> px = Picture(s.cx, s.cy, s.kind);
        void* pTokens = nullptr;
        void* pSlots = nullptr;
        LONG nTokCap = 0, nSlotCap = 0, nTokens = 0, nSlots = 0, nUnits8 = 0;
        if (FieldEncode(px.data(), s.cx, 2 * (ptrdiff_t)s.cx, px.data() + px.size(), pTokens, nTokCap, nTokens,
                        pSlots, nSlotCap, nSlots)) {
            BYTE* rec = FieldPack(s.cx, s.cy, pTokens, nTokens, pSlots, nSlots, nUnits8);
            if (rec) {
                Bytes seed = {(uint8_t)s.cx, (uint8_t)((s.cy + 1) / 2), 1};
                seed.insert(seed.end(), rec, rec + 8 * (size_t)nUnits8);
                out.push_back({"field" + std::to_string(s.cx) + "x" + std::to_string(s.cy), seed});
                FreeLockedBlock(rec, 8 * (size_t)nUnits8);
            }
        }
        FreeFieldWork(pTokens, nTokCap);
        FreeFieldWork(pSlots, nSlotCap);
    }
    return out;
}

std::vector<Seed> RoundTripSeeds() {
    std::vector<Seed> out;
    for (uint8_t style = 0; style < 8; style++) {
        Bytes v = {(uint8_t)(3 + 5 * style), (uint8_t)(2 + 3 * style), style};
        for (int i = 0; i < 40; i++) v.push_back((uint8_t)(i * 37 + style));
        out.push_back({"shape" + std::to_string(style), v});
    }
    return out;
}

// One damage of each kind to a movie of each mode: mode byte, then two random words.
std::vector<Seed> CorruptionSeeds() {
    std::vector<Seed> out;
    for (uint8_t nMode = 0; nMode < 3; nMode++)
        for (uint8_t nKind = 0; nKind < 3; nKind++) {
            Bytes v = {nMode, nKind};
            for (int i = 0; i < 15; i++) v.push_back((uint8_t)(i * 53 + 17 * nMode + nKind));
            out.push_back({"mode" + std::to_string(3 + nMode) + "-kind" + std::to_string(nKind), v});
        }
    return out;
}

// Early, middle and late points of each mode, by write and by byte.
std::vector<Seed> CrashPointSeeds() {
    std::vector<Seed> out;
    for (uint8_t nMode = 0; nMode < 3; nMode++)
        for (uint8_t bBytes = 0; bBytes < 2; bBytes++)
            for (uint8_t nAt : {3, 97, 211}) {
                Bytes v = {nMode, bBytes, nAt, (uint8_t)(nAt * 7), 0, 0, 0, 0, 0, 0};
                out.push_back({"mode" + std::to_string(3 + nMode) + (bBytes ? "-byte" : "-write") + std::to_string(nAt), v});
            }
    return out;
}

}   // namespace

std::vector<Seed> MakeSeeds(const std::string& target) {
    Setup();
    if (target == "open_query" || target == "read_frames" || target == "preload") return FileSeeds();
    if (target == "packed_record") return PackedRecordSeeds();
    if (target == "picture_blob") return PictureBlobSeeds();
    if (target == "field_record") return FieldRecordSeeds();
    if (target == "round_trip") return RoundTripSeeds();
    if (target == "corruption") return CorruptionSeeds();
    if (target == "crash_point") return CrashPointSeeds();
    return {};
}

}   // namespace rvofuzz
