// The GStreamer plugin's elements: rvodec in a harness (pushed bytes) and in
// pipelines (pulled ranges, seeks), rvosink in a harness, each against what
// the tool's host sessions read and write.
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "container/Limits.h"
#include "container/RvoFormat.h"
#include "plugin/Dispatch.h"
#include "recover/Recover.h"
#include "tests/support/Movies.h"
#include "tests/support/SyntheticFrames.h"
#include "tests/support/TestFiles.h"
#include "tools/rvo/HostSession.h"

namespace {

constexpr int kW = 37, kH = 22, kFrames = 9;

class GstEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        RvoModuleAttach();
        gst_init(nullptr, nullptr);
    }
};
const auto* g_env = ::testing::AddGlobalTestEnvironment(new GstEnvironment);

using Frames = std::vector<std::vector<uint32_t>>;

Frames SourceFrames() {
    Frames f;
    for (int k = 0; k < kFrames; k++)
        f.push_back(rvotest::MakeFrame(kW, kH, k % 2 ? rvotest::Content::Graphics : rvotest::Content::Noise, 7 + k));
    return f;
}

// A movie of the mode; mode 1 is a JPEG movie whose header says 1.
std::string Movie(LONG nMode) {
    const std::string path = rvotest::ScratchPath("gst-mode" + std::to_string(nMode) + ".rvo");
    EXPECT_TRUE(rvotest::WriteMovie(path, nMode == 1 ? rvo::JpegBlobs : nMode, kW, kH, SourceFrames()));
    if (nMode == 1) {
        std::vector<uint8_t> bytes = rvotest::ReadAll(path);
        bytes[20] = 1;   // the mode field
        rvotest::WriteAll(path, bytes);
    }
    return path;
}

// Every frame as rvo decode reads it.
Frames Decoded(const std::string& path) {
    CHostReader reader(path);
    Frames out(kFrames, std::vector<uint32_t>((size_t)kW * kH));
    for (int k = 0; k < kFrames; k++) EXPECT_EQ(reader.ReadFrame(k, out[k].data(), kW, kH, false), 0u);
    return out;
}

std::vector<uint32_t> Pixels(GstBuffer* buf) {
    std::vector<uint32_t> px((size_t)kW * kH);
    EXPECT_EQ(gst_buffer_get_size(buf), px.size() * 4);
    gst_buffer_extract(buf, 0, px.data(), px.size() * 4);
    return px;
}

const LONG kModes[] = {1, rvo::JpegBlobs, rvo::RawFrames, rvo::PackedFrames};

// rvodec in a harness: its source pad appears once the movie is open.
GstHarness* DecoderHarness() {
    GstHarness* h = gst_harness_new_with_padnames("rvodec", "sink", nullptr);
    g_signal_connect(h->element, "pad-added", G_CALLBACK(+[](GstElement*, GstPad* pad, GstHarness* harness) {
                         gst_harness_add_element_src_pad(harness, pad);
                     }),
                     h);
    gst_harness_set_src_caps_str(h, "video/x-rvo");
    return h;
}

// Pushed in pieces by a source that cannot seek: gathered, then every frame
// with rvo decode's pixels, at the frame rate's times.
TEST(RvoDec, PushedFileGivesTheToolsFrames) {
    for (LONG nMode : kModes) {
        SCOPED_TRACE("mode " + std::to_string(nMode));
        const std::string path = Movie(nMode);
        const Frames want = Decoded(path);
        GstHarness* h = DecoderHarness();
        g_object_set(h->element, "framerate", 30000, 1001, nullptr);
        const std::vector<uint8_t> bytes = rvotest::ReadAll(path);
        for (size_t at = 0; at < bytes.size(); at += 1000) {
            const size_t n = std::min<size_t>(1000, bytes.size() - at);
            ASSERT_EQ(gst_harness_push(h, gst_buffer_new_memdup(bytes.data() + at, n)), GST_FLOW_OK);
        }
        ASSERT_TRUE(gst_harness_push_event(h, gst_event_new_eos()));
        for (int k = 0; k < kFrames; k++) {
            GstBuffer* buf = gst_harness_pull(h);
            ASSERT_NE(buf, nullptr);
            EXPECT_EQ(GST_BUFFER_PTS(buf), gst_util_uint64_scale(k, 1001 * GST_SECOND, 30000));
            EXPECT_EQ(GST_BUFFER_PTS(buf) + GST_BUFFER_DURATION(buf),
                      gst_util_uint64_scale(k + 1, 1001 * GST_SECOND, 30000));
            EXPECT_TRUE(Pixels(buf) == want[k]) << "frame " << k;
            gst_buffer_unref(buf);
        }
        GstCaps* caps = gst_pad_get_current_caps(h->sinkpad);
        GstVideoInfo info;
        ASSERT_TRUE(gst_video_info_from_caps(&info, caps));
        EXPECT_EQ(GST_VIDEO_INFO_FORMAT(&info), GST_VIDEO_FORMAT_BGRA);
        EXPECT_EQ(GST_VIDEO_INFO_WIDTH(&info), kW);
        EXPECT_EQ(GST_VIDEO_INFO_HEIGHT(&info), kH);
        EXPECT_EQ(GST_VIDEO_INFO_FPS_N(&info), 30000);
        gst_caps_unref(caps);
        gst_harness_teardown(h);
    }
}

// Cut files, files with a damaged header or index, and no RVO file at all:
// no frames, an element error with the tool's message, EOS.
TEST(RvoDec, DamagedFileEndsInAnError) {
    const std::vector<uint8_t> packed = rvotest::ReadAll(Movie(rvo::PackedFrames));
    const std::vector<uint8_t> jpeg = rvotest::ReadAll(Movie(rvo::JpegBlobs));
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;
    };
    std::vector<Case> cases = {
        {"header only", std::vector<uint8_t>(packed.begin(), packed.begin() + 160), "stream: "},
        {"cut in the frames", std::vector<uint8_t>(packed.begin(), packed.begin() + (long)packed.size() / 2),
         "stream: "},
        {"cut in the index", std::vector<uint8_t>(jpeg.begin(), jpeg.end() - 40), "stream: "},
        {"no magic", std::vector<uint8_t>(200, 0x41), "not an RVO file"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        GstHarness* h = DecoderHarness();
        GstBus* bus = gst_bus_new();
        gst_element_set_bus(h->element, bus);
        ASSERT_EQ(gst_harness_push(h, gst_buffer_new_memdup(c.bytes.data(), c.bytes.size())), GST_FLOW_OK);
        ASSERT_TRUE(gst_harness_push_event(h, gst_event_new_eos()));
        // The error comes, rather than a wait for frames that never do.
        GstMessage* m = gst_bus_timed_pop_filtered(bus, 20 * GST_SECOND, GST_MESSAGE_ERROR);
        ASSERT_NE(m, nullptr);
        GError* err = nullptr;
        gst_message_parse_error(m, &err, nullptr);
        EXPECT_NE(std::string(err->message).find(c.message), std::string::npos) << err->message;
        g_error_free(err);
        gst_message_unref(m);
        gst_element_set_bus(h->element, nullptr);
        gst_object_unref(bus);
        gst_harness_teardown(h);
    }
}

// rvosink writes the bytes the host commands write for the same frames (as
// rvo encode does); stopped before EOS, it leaves a file rvo recover rebuilds.
TEST(RvoSink, WritesTheToolsBytes) {
    const Frames frames = SourceFrames();
    const struct {
        const char* mode;
        LONG nCompression;
    } modes[] = {{"jpeg", 1}, {"raw", 0}, {"packed", 2}};
    for (const auto& m : modes) {
        SCOPED_TRACE(m.mode);
        const std::string want = rvotest::ScratchPath(std::string("gst-host-") + m.mode + ".rvo");
        {
            CHostWriter writer(want, m.nCompression, kW, kH, rvo::kMaxEntries);
            for (const auto& f : frames) ASSERT_EQ(writer.Write(f.data(), kW), kHostDone);
        }
        for (bool bEos : {true, false}) {
            const std::string got = rvotest::ScratchPath(std::string("gst-sink-") + m.mode + ".rvo");
            GstHarness* h = gst_harness_new("rvosink");
            gst_util_set_object_arg(G_OBJECT(h->element), "mode", m.mode);
            g_object_set(h->element, "location", got.c_str(), nullptr);
            gst_harness_set_src_caps_str(
                h, ("video/x-raw,format=BGRA,width=" + std::to_string(kW) + ",height=" + std::to_string(kH) +
                    ",framerate=25/1")
                       .c_str());
            for (const auto& f : frames)
                ASSERT_EQ(gst_harness_push(h, gst_buffer_new_memdup(f.data(), f.size() * 4)), GST_FLOW_OK);
            if (bEos) {
                ASSERT_TRUE(gst_harness_push_event(h, gst_event_new_eos()));
            }
            gst_harness_teardown(h);
            if (bEos) {
                const std::string diff = rvotest::DiffBytes(rvotest::ReadAll(want), rvotest::ReadAll(got));
                EXPECT_TRUE(diff.empty()) << diff;
            } else {
                RvoUnfinished scan;
                const SIZE size{kW, kH};
                ASSERT_TRUE(ScanUnfinished(rvotest::Wide(got).c_str(), &size, &scan));
                EXPECT_TRUE(scan.bUnfinished);
                EXPECT_EQ(scan.nFrames, (DWORD)kFrames);
            }
        }
    }
}

// Upstream that seeks and serves ranges but is no local file (appsrc in
// random-access mode): the movie is read over pulled ranges.
struct RangeServer {
    std::vector<uint8_t> bytes;
    guint64 nAt = 0;

    static gboolean Seek(GstElement*, guint64 nAt, RangeServer* self) {
        self->nAt = nAt;
        return TRUE;
    }
    static void Need(GstElement* src, guint nLength, RangeServer* self) {
        if (self->nAt >= self->bytes.size()) {
            gst_app_src_end_of_stream(GST_APP_SRC(src));
            return;
        }
        const size_t n = std::min<size_t>(nLength, self->bytes.size() - self->nAt);
        gst_app_src_push_buffer(GST_APP_SRC(src), gst_buffer_new_memdup(self->bytes.data() + self->nAt, n));
        self->nAt += n;
    }
};

// decodebin over a file (read by its path) and over ranges; a flushing
// accurate seek to frame k, in time or in frames, gives frame k; duration in
// both formats.
TEST(RvoDec, SeeksLandOnTheFrame) {
    for (LONG nMode : kModes) {
        for (bool bRanges : {false, true}) {
            SCOPED_TRACE("mode " + std::to_string(nMode) + (bRanges ? ", ranges" : ", file"));
            const std::string path = Movie(nMode);
            const Frames want = Decoded(path);
            GError* err = nullptr;
            const std::string src = bRanges ? "appsrc name=in stream-type=random-access" : "filesrc location=\"" + path + "\"";
            GstElement* pipe = gst_parse_launch((src + " ! decodebin ! appsink name=out sync=false").c_str(), &err);
            ASSERT_NE(pipe, nullptr) << (err ? err->message : "");
            RangeServer server{rvotest::ReadAll(path)};
            if (bRanges) {
                GstElement* in = gst_bin_get_by_name(GST_BIN(pipe), "in");
                g_object_set(in, "size", (gint64)server.bytes.size(), nullptr);
                g_signal_connect(in, "seek-data", G_CALLBACK(RangeServer::Seek), &server);
                g_signal_connect(in, "need-data", G_CALLBACK(RangeServer::Need), &server);
                gst_object_unref(in);
            }
            GstElement* sink = gst_bin_get_by_name(GST_BIN(pipe), "out");
            ASSERT_EQ(gst_element_set_state(pipe, GST_STATE_PAUSED), GST_STATE_CHANGE_ASYNC);
            ASSERT_EQ(gst_element_get_state(pipe, nullptr, nullptr, 10 * GST_SECOND), GST_STATE_CHANGE_SUCCESS);
            gint64 n = 0;
            EXPECT_TRUE(gst_element_query_duration(pipe, GST_FORMAT_TIME, &n));
            EXPECT_EQ(n, (gint64)kFrames * GST_SECOND / 25);
            const struct {
                int k;
                GstFormat format;
            } seeks[] = {{5, GST_FORMAT_TIME}, {0, GST_FORMAT_DEFAULT}, {8, GST_FORMAT_DEFAULT}, {3, GST_FORMAT_TIME}, {7, GST_FORMAT_TIME}};
            for (const auto& s : seeks) {
                SCOPED_TRACE("frame " + std::to_string(s.k));
                const gint64 at = s.format == GST_FORMAT_TIME ? (gint64)s.k * GST_SECOND / 25 + 1 : s.k;
                ASSERT_TRUE(gst_element_seek_simple(pipe, s.format,
                                                    (GstSeekFlags)(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), at));
                ASSERT_EQ(gst_element_get_state(pipe, nullptr, nullptr, 10 * GST_SECOND), GST_STATE_CHANGE_SUCCESS);
                GstSample* sample = gst_app_sink_pull_preroll(GST_APP_SINK(sink));
                ASSERT_NE(sample, nullptr);
                GstBuffer* buf = gst_sample_get_buffer(sample);
                EXPECT_EQ(GST_BUFFER_PTS(buf), (GstClockTime)s.k * GST_SECOND / 25);
                EXPECT_TRUE(Pixels(buf) == want[s.k]);
                gst_sample_unref(sample);
                gint64 pos = -1;
                EXPECT_TRUE(gst_element_query_position(pipe, GST_FORMAT_TIME, &pos));
                EXPECT_GE(pos, (gint64)s.k * GST_SECOND / 25);
                EXPECT_LE(pos, (gint64)s.k * GST_SECOND / 25 + 1);
            }
            // Past the last frame: the end of the stream, not a wait for frames.
            ASSERT_TRUE(gst_element_seek_simple(pipe, GST_FORMAT_DEFAULT,
                                                (GstSeekFlags)(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), kFrames + 2));
            ASSERT_EQ(gst_element_get_state(pipe, nullptr, nullptr, 10 * GST_SECOND), GST_STATE_CHANGE_SUCCESS);
            EXPECT_TRUE(gst_app_sink_is_eos(GST_APP_SINK(sink)));
            gst_element_set_state(pipe, GST_STATE_NULL);
            gst_object_unref(sink);
            gst_object_unref(pipe);
        }
    }
}

}   // namespace
