// The host opening, describing, creating and closing files through Main:
// hand-built files of all five storage modes, new files of the three writable
// modes, and the reuse of one handle slot across paths.
#include <gtest/gtest.h>

#include <filesystem>

#include "HostRecord.h"

using namespace host;

namespace {

constexpr uint32_t kSentinel = 0xDEADBEEFu;

std::vector<uint8_t>& operator+=(std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An archive string with the Unicode marker: FF FE FF, one length byte, UTF-16LE.
std::vector<uint8_t> Name(const std::string& s) {
    std::vector<uint8_t> v = {0xFF, 0xFE, 0xFF, (uint8_t)s.size()};
    for (char c : s) {
        v.push_back((uint8_t)c);
        v.push_back(0);
    }
    return v;
}

// A picture blob in its file form; the streams only need to be carried, not decoded.
std::vector<uint8_t> Blob(int32_t w, int32_t h) {
    const std::vector<uint8_t> alpha = {0xFF, 0xD8, 0xFF, 0xD9}, colour = {0xFF, 0xD8, 0x00, 0xFF, 0xD9};
    std::vector<uint8_t> v;
    PutU32(v, 0x55AAA000u);
    PutU32(v, (uint32_t)w);
    PutU32(v, (uint32_t)h);
    PutU32(v, (uint32_t)colour.size());
    PutU32(v, (uint32_t)alpha.size());
    v += alpha;
    v += colour;
    return v;
}

std::vector<uint8_t> IndexRecord(int32_t kind, const std::string& name, int32_t start, int32_t last,
                                 uint32_t flags, const std::vector<uint8_t>* blob, uint32_t blobOffset) {
    std::vector<uint8_t> v;
    PutU32(v, 0);
    PutU32(v, (uint32_t)kind);
    v += Name(name);
    PutU32(v, 0);
    PutU32(v, 0);
    PutU32(v, (uint32_t)start);
    PutU32(v, (uint32_t)last);
    PutU32(v, flags);
    PutU32(v, blob ? 1 : 0);
    if (blob) v += *blob;
    PutU32(v, blobOffset);
    PutU32(v, 0);   // width
    PutU32(v, 0);   // height
    PutZeros(v, 64);
    PutU32(v, 0);   // extra items
    PutZeros(v, 32);
    return v;
}

uint32_t FramePixel(int k, int x, int y) { return 0x40000000u | ((uint32_t)k << 16) | ((uint32_t)y << 8) | (uint32_t)x; }

// Mode 5 frame 1 as a colour-run record: one run of colour, alpha per pixel.
constexpr uint8_t kRunBlue = 0x30, kRunGreen = 0x60, kRunRed = 0x90;
uint8_t RunAlpha(int i) { return (uint8_t)(i * 0x20); }

struct Fixture {
    int mode;
    std::vector<uint8_t> bytes;
    int32_t width, height, frames;
};

std::vector<Fixture> Fixtures() {
    std::vector<Fixture> out;
    {
        std::vector<uint8_t> b = Blob(8, 4);
        std::vector<uint8_t> f = HeaderBytes({160 + (uint32_t)b.size(), 1, 1, 1, 8, 4});
        f += b;
        f += IndexRecord(1, "No.0", 0, 0, 0, &b, 160);
        out.push_back({1, f, 8, 4, 1});
    }
    {
        std::vector<uint8_t> f = HeaderBytes({160, 2, 10, 2, 320, 240});
        f += IndexRecord(2, "C:\\stills\\a.png", 0, 4, 1, nullptr, 0);
        f += IndexRecord(2, "C:\\stills\\b.png", 5, 9, 1, nullptr, 0);
        out.push_back({2, f, 320, 240, 10});
    }
    {
        std::vector<uint8_t> b0 = Blob(8, 4), b2 = Blob(6, 2);
        uint32_t at2 = 160 + (uint32_t)b0.size();
        std::vector<uint8_t> f = HeaderBytes({at2 + (uint32_t)b2.size(), 3, 3, 3, 8, 4});
        f += b0;
        f += b2;
        f += IndexRecord(1, "No.0", 0, 0, 0, &b0, 160);
        f += IndexRecord(1, "No.1", 1, 0, 1, nullptr, 0);
        f += IndexRecord(1, "No.2", 2, 0, 0, &b2, at2);
        out.push_back({3, f, 8, 4, 3});
    }
    {
        std::vector<uint8_t> f = HeaderBytes({512, 3, 3, 4, 4, 2}, 512);
        for (int k = 0; k < 3; k++) {
            for (int i = 0; i < 8; i++) PutU32(f, FramePixel(k, i % 4, i / 4));
            PutZeros(f, 512 - 32);
        }
        out.push_back({4, f, 4, 2, 3});
    }
    {
        std::vector<uint8_t> f = HeaderBytes({512, 2, 2, 5, 4, 2, 512, 0, 1536}, 512);
        for (uint32_t x : {0xFF000000u, 512u, 0u, 8u}) PutU32(f, x);
        for (int i = 0; i < 8; i++) PutU32(f, FramePixel(0, i % 4, i / 4));
        PutZeros(f, 512 - 48);
        for (uint32_t x : {0xFF000010u, 512u, 4u, 8u}) PutU32(f, x);
        for (int i = 0; i < 8; i++) f.push_back(RunAlpha(i));
        PutZeros(f, 8);
        for (uint32_t x : {8u, kRunGreen * 0x01010101u, kRunBlue * 0x01010101u, kRunRed * 0x01010101u}) PutU32(f, x);
        PutZeros(f, 512 - 48);
        PutU32(f, 512);
        PutU32(f, 512);
        PutZeros(f, 504);
        out.push_back({5, f, 4, 2, 2});
    }
    return out;
}

class HostFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(Module().main, nullptr) << Module().error; }
    Record in, out;
    void* slot = nullptr;
    void TearDown() override {
        if (Module().main) Call(10, in, out, &slot);
    }
};

TEST_F(HostFiles, InfoAndOpenOnEveryMode) {
    for (const Fixture& fx : Fixtures()) {
        SCOPED_TRACE("mode " + std::to_string(fx.mode));
        std::string path = ScratchPath("fixture" + std::to_string(fx.mode) + ".rvo");
        WriteAll(path, fx.bytes);
        in.PutPath(path);
        in.PutDouble(kOffFieldDuration, 20.0);
        out.PutDouble(kOffDuration, -1.0);
        EXPECT_EQ(Call(4, in, out, &slot), 0);
        EXPECT_EQ(out.I32(kOffWidth), fx.width);
        EXPECT_EQ(out.I32(kOffHeight), fx.height);
        EXPECT_EQ(out.Double(kOffDuration), (fx.frames - 1) * 2 * 20.0);
        EXPECT_EQ(slot, nullptr);

        EXPECT_EQ(Call(5, in, out, &slot), 0);
        EXPECT_NE(slot, nullptr);
        EXPECT_EQ(Call(10, in, out, &slot), 0);
        EXPECT_EQ(slot, nullptr);
        EXPECT_EQ(ReadAll(path), fx.bytes);   // reading never writes
    }

    // One wrong byte in the magic: not an RVO file.
    std::vector<uint8_t> bad = Fixtures()[3].bytes;
    bad[7] = '1';
    std::string path = ScratchPath("badmagic.rvo");
    WriteAll(path, bad);
    in.PutPath(path);
    EXPECT_EQ(Call(4, in, out, &slot), 1);
    EXPECT_EQ(Call(5, in, out, &slot), 1);
    EXPECT_NE(slot, nullptr);
}

TEST_F(HostFiles, ReadsHandBuiltRecords) {
    std::vector<Fixture> fixtures = Fixtures();
    for (int mode : {4, 5}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        const Fixture& fx = fixtures[mode - 1];
        std::string path = ScratchPath("read" + std::to_string(mode) + ".rvo");
        WriteAll(path, fx.bytes);
        in.PutPath(path);
        ASSERT_EQ(Call(5, in, out, &slot), 0);
        FrameBuffer dst(4, 2, 4, kSentinel);
        in.PutPtr(kOffDst, dst.ab);
        in.PutRegion(0, 0, 4, 2);
        in.PutDouble(kOffFieldDuration, 1.0);
        in.PutI32(kOffDeliveryMode, 2);
        for (int k = 0; k < fx.frames; k++) {
            std::fill(dst.px.begin(), dst.px.end(), kSentinel);
            in.PutDouble(kOffTime, 2.0 * k);
            ASSERT_EQ(Call(7, in, out, &slot), 0);
            for (int i = 0; i < 8; i++) {
                uint32_t want = FramePixel(k, i % 4, i / 4);
                if (mode == 5 && k == 1)
                    want = kRunBlue | (kRunGreen << 8) | (kRunRed << 16) | ((uint32_t)RunAlpha(i) << 24);
                EXPECT_EQ(dst.px[i], want) << "frame " << k << " pixel " << i;
            }
        }
        EXPECT_EQ(Call(10, in, out, &slot), 0);
    }
}

TEST_F(HostFiles, CreateEmptyFilesOfEachMode) {
    const struct {
        int32_t compression;
        std::vector<uint8_t> header;
        size_t size;
    } cases[] = {
        {1, HeaderBytes({160, 0, 0, 3, -1, -1}), 160},
        {2, HeaderBytes({512, 0, 0, 5, 16, 9, 0, 0, 512}), 512},
        {0, HeaderBytes({512, 0, 0, 4, 16, 9}), 512},
        {3, HeaderBytes({512, 0, 0, 4, 16, 9}), 512},
        {-1, HeaderBytes({512, 0, 0, 4, 16, 9}), 512},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("compression " + std::to_string(c.compression));
        std::string path = ScratchPath("new" + std::to_string(c.compression) + ".rvo");
        in.PutPath(path);
        in.PutI32(kOffCompression, c.compression);
        in.PutRegion(10, 20, 26, 29);
        in.PutDouble(kOffFieldDuration, 1.0);
        in.PutDouble(kOffTotalDuration, 10.0);
        ASSERT_EQ(Call(6, in, out, &slot), 0);
        ASSERT_NE(slot, nullptr);
        EXPECT_EQ(Call(10, in, out, &slot), 0);
        EXPECT_EQ(slot, nullptr);
        std::vector<uint8_t> bytes = ReadAll(path);
        EXPECT_EQ(bytes.size(), c.size);
        bytes.resize(160);
        EXPECT_EQ(DiffBytes(c.header, bytes), "");

        in.PutDouble(kOffFieldDuration, 20.0);
        EXPECT_EQ(Call(4, in, out, &slot), 0);
        EXPECT_EQ(out.I32(kOffWidth), c.compression == 1 ? -1 : 16);
        EXPECT_EQ(out.I32(kOffHeight), c.compression == 1 ? -1 : 9);
        EXPECT_EQ(out.Double(kOffDuration), 0.0);
        EXPECT_EQ(Call(5, in, out, &slot), 0);
        EXPECT_EQ(Call(10, in, out, &slot), 0);
    }
}

TEST_F(HostFiles, CreateRefusesAnEmptyRegion) {
    std::string path = ScratchPath("refused.rvo");
    in.PutPath(path);
    in.PutDouble(kOffFieldDuration, 1.0);
    in.PutDouble(kOffTotalDuration, 10.0);
    for (int compression : {0, 1, 2}) {
        in.PutI32(kOffCompression, compression);
        for (const int32_t* r : {(const int32_t[]){5, 5, 5, 9}, (const int32_t[]){5, 5, 9, 5},
                                 (const int32_t[]){9, 5, 5, 9}}) {
            in.PutRegion(r[0], r[1], r[2], r[3]);
            EXPECT_EQ(Call(6, in, out, &slot), 1);
            EXPECT_FALSE(std::filesystem::exists(path));
            EXPECT_NE(slot, nullptr);
        }
    }
}

// Ten field durations: frames 0-5 are taken, the seventh is refused with 2.
// (32x32: the JPEG codec cannot store a picture much smaller than its headers.)
TEST_F(HostFiles, JpegMovieOfTenFieldsTakesSixFrames) {
    in.PutPath(ScratchPath("six.rvo"));
    in.PutI32(kOffCompression, 1);
    in.PutRegion(0, 0, 32, 32);
    in.PutDouble(kOffFieldDuration, 0.5);
    in.PutDouble(kOffTotalDuration, 5.0);
    ASSERT_EQ(Call(6, in, out, &slot), 0);
    FrameBuffer src(32, 32, 32, 0x80FF8040u);
    in.PutPtr(kOffSrc, src.ab);
    for (int k = 0; k < 6; k++) EXPECT_EQ(Call(8, in, out, &slot), 0) << k;
    EXPECT_EQ(Call(8, in, out, &slot), 2);
}

std::vector<int> g_progress;
int RecordProgress(int k) {   // the host's callback: plain C calling convention
    g_progress.push_back(k);
    return 1;
}

// Command 9 loads the whole file once, with progress -n, 0, 1, ...; command 7
// then serves single fields from memory unless the host forbids it (mode 2).
TEST_F(HostFiles, PreloadServesFieldsFromMemory) {
    std::string path = ScratchPath("preload.rvo");
    std::vector<uint8_t> file = Fixtures()[3].bytes;
    WriteAll(path, file);
    g_progress.clear();
    in.PutPath(path);
    in.PutDouble(kOffTime, 2.0);
    in.PutDouble(kOffFieldDuration, 1.0);
    in.PutPtr(kOffProgress, (const void*)&RecordProgress);
    ASSERT_EQ(Call(9, in, out, &slot), 0);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(g_progress, (std::vector<int>{-3, 0, 1, 2}));
    EXPECT_EQ(Call(9, in, out, &slot), 0);
    EXPECT_EQ(g_progress.size(), 4u);

    // The file on disk changes under the open handle; the preloaded frames do not.
    std::fill(file.begin() + 512, file.end(), 0);
    WriteAll(path, file);
    FrameBuffer dst(4, 2, 4, kSentinel);
    in.PutPtr(kOffDst, dst.ab);
    in.PutRegion(0, 0, 4, 2);
    in.PutI32(kOffDeliveryMode, 0);
    for (int field : {2, 3}) {   // frame 1, even then odd rows
        std::fill(dst.px.begin(), dst.px.end(), kSentinel);
        in.PutDouble(kOffTime, field);
        ASSERT_EQ(Call(7, in, out, &slot), 0);
        for (int i = 0; i < 8; i++) {
            bool ours = i / 4 == field % 2;
            EXPECT_EQ(dst.px[i], ours ? FramePixel(1, i % 4, i / 4) : kSentinel) << "field " << field << " pixel " << i;
        }
    }
    in.PutI32(kOffDeliveryMode, 2);
    ASSERT_EQ(Call(7, in, out, &slot), 0);
    for (int i = 0; i < 8; i++) EXPECT_EQ(dst.px[i], 0u) << "pixel " << i;
}

TEST_F(HostFiles, HandleReuse) {
    std::string a = ScratchPath("reuse-a.rvo"), b = ScratchPath("reuse-b.rvo");
    WriteAll(b, Fixtures()[3].bytes);

    in.PutPath(a);
    in.PutI32(kOffCompression, 0);
    in.PutRegion(0, 0, 6, 3);
    in.PutDouble(kOffFieldDuration, 1.0);
    in.PutDouble(kOffTotalDuration, 10.0);
    ASSERT_EQ(Call(6, in, out, &slot), 0);
    void* handle = slot;
    EXPECT_EQ(ReadAll(a).at(24), 0);   // width not yet in the header

    // Same path: nothing changes.
    EXPECT_EQ(Call(6, in, out, &slot), 0);
    EXPECT_EQ(slot, handle);

    // Another path: the file being written is finalized, the other opened.
    in.PutPath(b);
    EXPECT_EQ(Call(5, in, out, &slot), 0);
    EXPECT_EQ(slot, handle);
    std::vector<uint8_t> header = ReadAll(a);
    header.resize(160);
    EXPECT_EQ(DiffBytes(HeaderBytes({512, 0, 0, 4, 6, 3}), header), "");
    FrameBuffer dst(4, 2, 4, kSentinel);
    in.PutPtr(kOffDst, dst.ab);
    in.PutRegion(0, 0, 4, 2);
    EXPECT_EQ(Call(7, in, out, &slot), 0);

    // Same path again; then a path that fails: the handle stays without a file.
    EXPECT_EQ(Call(5, in, out, &slot), 0);
    EXPECT_EQ(slot, handle);
    in.PutPath(ScratchPath("missing.rvo"));
    EXPECT_EQ(Call(5, in, out, &slot), 1);
    EXPECT_EQ(slot, handle);
    EXPECT_EQ(Call(7, in, out, &slot), 1);
    EXPECT_EQ(Call(8, in, out, &slot), 1);

    // The empty handle takes a file again.
    in.PutPath(b);
    EXPECT_EQ(Call(5, in, out, &slot), 0);
    EXPECT_EQ(slot, handle);
    EXPECT_EQ(Call(7, in, out, &slot), 0);
    EXPECT_EQ(Call(10, in, out, &slot), 0);
    EXPECT_EQ(slot, nullptr);
}

}   // namespace
