// The host writing movies through Main and reading them back: every writable
// storage mode from and into host buffers wider than the frame with the
// picture at an offset, and preloaded files serving single fields.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "HostRecord.h"

using namespace host;

namespace {

constexpr uint32_t kSentinel = 0xDEADBEEFu;
constexpr int32_t kW = 40, kH = 32;

// Smooth gradients with a varying alpha, so the JPEG mode compresses them well.
uint32_t Pixel(int k, int x, int y) {
    uint32_t b = (uint32_t)(4 * x + 8 * k), g = (uint32_t)(6 * y + 10 * k), r = (uint32_t)(2 * x + 3 * y + 20 * k),
             a = (uint32_t)(250 - 3 * x - 2 * y - 6 * k);
    return b | (g << 8) | (r << 16) | (a << 24);
}

// The source as the host holds it: a wider, taller buffer with the picture at (5, 3).
constexpr int32_t kSrcLeft = 5, kSrcTop = 3;
FrameBuffer Source(int k) {
    FrameBuffer src(kW + 10, kH + 7, kW + 13, 0x01020304u);
    for (int y = 0; y < kH; y++)
        for (int x = 0; x < kW; x++) src.px[(size_t)(kSrcTop + y) * (kW + 13) + kSrcLeft + x] = Pixel(k, x, y);
    return src;
}

// The destination: larger again, the picture asked for at (7, 5).
constexpr int32_t kDstLeft = 7, kDstTop = 5, kDstStride = kW + 24;
FrameBuffer Destination() { return FrameBuffer(kW + 20, kH + 8, kDstStride, kSentinel); }
uint32_t At(const FrameBuffer& dst, int x, int y) { return dst.px[(size_t)(kDstTop + y) * kDstStride + kDstLeft + x]; }

// Pixels outside the picture rectangle that are not the sentinel.
int Spilled(const FrameBuffer& dst) {
    int n = 0;
    for (size_t i = 0; i < dst.px.size(); i++) {
        int x = (int)(i % kDstStride) - kDstLeft, y = (int)(i / kDstStride) - kDstTop;
        bool inside = x >= 0 && x < kW && y >= 0 && y < kH;
        if (!inside && dst.px[i] != kSentinel) n++;
    }
    return n;
}

// PSNR of the colour channels and of alpha against frame k.
void Psnr(const FrameBuffer& dst, int k, double& colour, double& alpha) {
    double sc = 0, sa = 0;
    for (int y = 0; y < kH; y++)
        for (int x = 0; x < kW; x++) {
            uint32_t want = Pixel(k, x, y), got = At(dst, x, y);
            for (int c = 0; c < 4; c++) {
                double d = (double)((want >> (8 * c)) & 0xFF) - (double)((got >> (8 * c)) & 0xFF);
                (c == 3 ? sa : sc) += d * d;
            }
        }
    auto db = [](double sum, double n) { return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * n / sum); };
    colour = db(sc, 3.0 * kW * kH);
    alpha = db(sa, 1.0 * kW * kH);
}

class HostRoundTrip : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(Module().main, nullptr) << Module().error; }
    void TearDown() override {
        if (Module().main) Call(10, in, out, &slot);
    }

    // Writes frames 0 .. frames-1 through commands 6, 8 and 10.
    void Write(const std::string& path, int compression, int frames) {
        in.PutPath(path);
        in.PutI32(kOffCompression, compression);
        in.PutRegion(kSrcLeft, kSrcTop, kSrcLeft + kW, kSrcTop + kH);
        in.PutDouble(kOffFieldDuration, 1.0);
        in.PutDouble(kOffTotalDuration, 2.0 * (frames - 1));
        ASSERT_EQ(Call(6, in, out, &slot), 0);
        for (int k = 0; k < frames; k++) {
            FrameBuffer src = Source(k);
            in.PutPtr(kOffSrc, src.ab);
            ASSERT_EQ(Call(8, in, out, &slot), 0) << "frame " << k;
        }
        ASSERT_EQ(Call(10, in, out, &slot), 0);
        ASSERT_EQ(slot, nullptr);
    }

    // Points the read record at dst with the picture rectangle at (7, 5).
    void Target(FrameBuffer& dst, int delivery) {
        in.PutPtr(kOffDst, dst.ab);
        in.PutRegion(kDstLeft, kDstTop, kDstLeft + kW, kDstTop + kH);
        in.PutDouble(kOffFieldDuration, 1.0);
        in.PutI32(kOffDeliveryMode, delivery);
    }

    Record in, out;
    void* slot = nullptr;
};

TEST_F(HostRoundTrip, EveryWritableMode) {
    const struct {
        int compression;
        bool lossless;
    } cases[] = {{0, true}, {2, true}, {1, false}};
    constexpr int kFrames = 5;
    for (const auto& c : cases) {
        SCOPED_TRACE("compression " + std::to_string(c.compression));
        std::string path = ScratchPath("roundtrip" + std::to_string(c.compression) + ".rvo");
        Write(path, c.compression, kFrames);
        if (HasFatalFailure()) return;

        Record info, infoOut;
        void* infoSlot = nullptr;
        info.PutPath(path);
        info.PutDouble(kOffFieldDuration, 1.0);
        infoOut.PutDouble(kOffDuration, -1.0);
        EXPECT_EQ(Call(4, info, infoOut, &infoSlot), 0);
        EXPECT_EQ(infoOut.I32(kOffWidth), kW);
        EXPECT_EQ(infoOut.I32(kOffHeight), kH);
        EXPECT_EQ(infoOut.Double(kOffDuration), (kFrames - 1) * 2 * 1.0);
        EXPECT_EQ(infoSlot, nullptr);

        in.PutPath(path);
        ASSERT_EQ(Call(5, in, out, &slot), 0);
        for (int k = 0; k < kFrames; k++) {
            SCOPED_TRACE("frame " + std::to_string(k));
            FrameBuffer dst = Destination();
            Target(dst, 2);
            in.PutDouble(kOffTime, 2.0 * k);
            ASSERT_EQ(Call(7, in, out, &slot), 0);
            EXPECT_EQ(Spilled(dst), 0);
            if (c.lossless) {
                int wrong = 0;
                for (int y = 0; y < kH; y++)
                    for (int x = 0; x < kW; x++)
                        if (At(dst, x, y) != Pixel(k, x, y) && wrong++ < 3)
                            ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << At(dst, x, y)
                                          << " for " << Pixel(k, x, y);
                EXPECT_EQ(wrong, 0);
            } else {
                double colour = 0, alpha = 0;
                Psnr(dst, k, colour, alpha);
                EXPECT_GT(colour, 30.0);
                EXPECT_GT(alpha, 30.0);
            }
        }
        EXPECT_EQ(Call(10, in, out, &slot), 0);
    }
}

// A packed file whose records were chosen by size (`rvo encode --pack
// smallest`, made by ctest's smallest_file.sh as PREFIX.rvo from the frames in
// PREFIX.bgra, 67 x 45) reads back exactly, whatever record type each frame has.
TEST_F(HostRoundTrip, ReadsPackedFileOfSmallestRecords) {
    const char* pszPrefix = std::getenv("RVO_SMALLEST_FILE");
    if (!pszPrefix) GTEST_SKIP() << "RVO_SMALLEST_FILE not set (ctest sets it)";
    const std::string prefix = pszPrefix;
    std::ifstream raw(prefix + ".bgra", std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(raw)), std::istreambuf_iterator<char>());
    constexpr int32_t w = 67, h = 45;
    const size_t nFramePixels = (size_t)w * h;
    ASSERT_TRUE(!bytes.empty() && bytes.size() % (4 * nFramePixels) == 0) << prefix << ".bgra";
    const int nFrames = (int)(bytes.size() / (4 * nFramePixels));

    in.PutPath(prefix + ".rvo");
    ASSERT_EQ(Call(5, in, out, &slot), 0);
    for (int k = 0; k < nFrames; k++) {
        SCOPED_TRACE("frame " + std::to_string(k));
        FrameBuffer dst(w, h, w, kSentinel);
        in.PutPtr(kOffDst, dst.ab);
        in.PutRegion(0, 0, w, h);
        in.PutDouble(kOffFieldDuration, 1.0);
        in.PutI32(kOffDeliveryMode, 2);
        in.PutDouble(kOffTime, 2.0 * k);
        ASSERT_EQ(Call(7, in, out, &slot), 0);
        EXPECT_EQ(std::memcmp(dst.px.data(), bytes.data() + 4 * nFramePixels * (size_t)k, 4 * nFramePixels), 0);
    }
    EXPECT_EQ(Call(10, in, out, &slot), 0);
}

std::vector<int> g_progress;
int g_stopAt = -1;
int Progress(int k) {   // the host's callback: plain C calling convention
    g_progress.push_back(k);
    return k == g_stopAt ? 0 : 1;
}

// Frame k read whole through a fresh handle, without preloading.
FrameBuffer PlainRead(const std::string& path, int k) {
    Record in, out;
    void* slot = nullptr;
    FrameBuffer dst = Destination();
    in.PutPath(path);
    EXPECT_EQ(Call(5, in, out, &slot), 0);
    in.PutPtr(kOffDst, dst.ab);
    in.PutRegion(kDstLeft, kDstTop, kDstLeft + kW, kDstTop + kH);
    in.PutDouble(kOffFieldDuration, 1.0);
    in.PutI32(kOffDeliveryMode, 2);
    in.PutDouble(kOffTime, 2.0 * k);
    EXPECT_EQ(Call(7, in, out, &slot), 0);
    EXPECT_EQ(Call(10, in, out, &slot), 0);
    return dst;
}

// Rows of the field's parity hold the frame's rows; every other pixel is the sentinel.
void ExpectField(const FrameBuffer& got, const FrameBuffer& frame, int field) {
    int wrong = 0;
    for (size_t i = 0; i < got.px.size(); i++) {
        int x = (int)(i % kDstStride) - kDstLeft, y = (int)(i / kDstStride) - kDstTop;
        bool ours = x >= 0 && x < kW && y >= 0 && y < kH && y % 2 == field % 2;
        uint32_t want = ours ? frame.px[i] : kSentinel;
        if (got.px[i] != want && wrong++ < 3)
            ADD_FAILURE() << "field " << field << " at " << x << "," << y << ": " << std::hex << got.px[i] << " for "
                          << want;
    }
    EXPECT_EQ(wrong, 0) << "field " << field;
}

// Command 9 loads every frame with progress -n, 0, 1, ...; command 7 then
// serves each field from memory, the same rows a whole-frame read gives.
TEST_F(HostRoundTrip, PreloadedFieldsMatchPlainReads) {
    for (int compression : {0, 1}) {
        SCOPED_TRACE("compression " + std::to_string(compression));
        std::string path = ScratchPath("preload" + std::to_string(compression) + ".rvo");
        Write(path, compression, 3);
        if (HasFatalFailure()) return;
        std::vector<FrameBuffer> frames;
        for (int k = 0; k < 3; k++) frames.push_back(PlainRead(path, k));

        g_progress.clear();
        g_stopAt = -1;
        in.PutPath(path);
        in.PutDouble(kOffTime, 0.0);
        in.PutDouble(kOffFieldDuration, 1.0);
        in.PutPtr(kOffProgress, (const void*)&Progress);
        ASSERT_EQ(Call(9, in, out, &slot), 0);
        EXPECT_EQ(g_progress, (std::vector<int>{-3, 0, 1, 2}));

        // The file on disk is zeroed past its header: whatever still appears came from memory.
        std::vector<uint8_t> bytes = ReadAll(path);
        std::fill(bytes.begin() + 512, bytes.end(), 0);
        WriteAll(path, bytes);
        for (int field = 0; field < 6; field++) {
            FrameBuffer dst = Destination();
            Target(dst, 0);
            in.PutDouble(kOffTime, field);
            ASSERT_EQ(Call(7, in, out, &slot), 0);
            ExpectField(dst, frames[(size_t)field / 2], field);
        }
        EXPECT_EQ(Call(10, in, out, &slot), 0);
    }
}

// A callback that answers 0 at frame 0 stops the preload with that frame loaded.
TEST_F(HostRoundTrip, PreloadStoppedAfterTheFirstFrame) {
    std::string path = ScratchPath("stopped.rvo");
    Write(path, 0, 3);
    if (HasFatalFailure()) return;
    FrameBuffer frame0 = PlainRead(path, 0), frame1 = PlainRead(path, 1);

    g_progress.clear();
    g_stopAt = 0;
    in.PutPath(path);
    in.PutDouble(kOffTime, 0.0);
    in.PutDouble(kOffFieldDuration, 1.0);
    in.PutPtr(kOffProgress, (const void*)&Progress);
    ASSERT_EQ(Call(9, in, out, &slot), 0);
    g_stopAt = -1;
    EXPECT_EQ(g_progress, (std::vector<int>{-3, 0}));

    std::vector<uint8_t> bytes = ReadAll(path);
    std::fill(bytes.begin() + 512, bytes.end(), 0);
    WriteAll(path, bytes);
    for (int field : {0, 1}) {
        FrameBuffer dst = Destination();
        Target(dst, 0);
        in.PutDouble(kOffTime, field);
        ASSERT_EQ(Call(7, in, out, &slot), 0);
        ExpectField(dst, frame0, field);
    }
    // Frame 1 was not loaded: it comes from the zeroed file, whole.
    FrameBuffer dst = Destination();
    Target(dst, 0);
    in.PutDouble(kOffTime, 2.0);
    ASSERT_EQ(Call(7, in, out, &slot), 0);
    EXPECT_EQ(Spilled(dst), 0);
    EXPECT_EQ(At(dst, 3, 4), 0u);
    EXPECT_EQ(At(dst, 3, 5), 0u);
    EXPECT_NE(frame1.px[(size_t)(kDstTop + 4) * kDstStride + kDstLeft + 3], 0u);
}

}   // namespace
