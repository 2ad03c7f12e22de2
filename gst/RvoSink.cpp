// rvosink: each frame turned into its stored form and appended through the
// tool's host session (commands 6, 8 and 10).
#include "gst/RvoSink.h"

#include <gst/video/video.h>

#include <memory>
#include <string>
#include <vector>

#include "codec/JpegBlob.h"
#include "container/Limits.h"
#include "container/RvoFormat.h"
#include "encoder/FrameEncode.h"
#include "encoder/PackedBuilder.h"
#include "gst/PipelineBus.h"
#include "platform/LastError.h"
#include "tools/rvo/HostSession.h"
#include "tools/rvo/ToolSupport.h"

namespace {

enum { PROP_0,
       PROP_LOCATION,
       PROP_MODE,
       PROP_PACK };
enum SinkMode { kModeJpeg,
                kModeRaw,
                kModePacked };
enum SinkPack { kPackStandard,
                kPackSmallest };

const char* ModeOptionName(int nMode) { return nMode == kModeJpeg ? "jpeg" : nMode == kModeRaw ? "raw"
                                                                                               : "packed"; }

GType SinkModeType() {
    static GType type = 0;
    static const GEnumValue values[] = {{kModeJpeg, "JPEG pictures with alpha (lossy)", "jpeg"},
                                        {kModeRaw, "raw pixel records", "raw"},
                                        {kModePacked, "lossless run-length records", "packed"},
                                        {0, nullptr, nullptr}};
    if (g_once_init_enter(&type)) g_once_init_leave(&type, g_enum_register_static("GstRvoSinkMode", values));
    return type;
}

GType SinkPackType() {
    static GType type = 0;
    static const GEnumValue values[] = {{kPackStandard, "the module's rule", "standard"},
                                        {kPackSmallest, "the smallest record per frame", "smallest"},
                                        {0, nullptr, nullptr}};
    if (g_once_init_enter(&type)) g_once_init_leave(&type, g_enum_register_static("GstRvoSinkPack", values));
    return type;
}

GstStaticPadTemplate g_sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("BGRA")));

}   // namespace

struct _GstRvoSink {
    GstBaseSink parent;
    gchar* pszLocation;   // properties, under the object lock
    gint nMode;
    gint nPack;

    // The streaming thread's.
    GstVideoInfo info;
    CHostWriter* pWriter;
    LONG nStoredMode;
    RvoPackRule packRule;
    std::vector<BYTE>* pRecord;
    long long nFrames;
    // An element of the pipeline posted an error: the EOS that sources send
    // after one does not finish the file.
    GstBus* pBus;
    gulong nErrorHandler;
    gint bPipelineFailed;   // atomic
};

G_DEFINE_TYPE(GstRvoSink, gst_rvo_sink, GST_TYPE_BASE_SINK)

namespace {

std::string Location(GstRvoSink* self) {
    GST_OBJECT_LOCK(self);
    std::string s = self->pszLocation ? self->pszLocation : "";
    GST_OBJECT_UNLOCK(self);
    return s;
}

void FailWrite(GstRvoSink* self, const std::string& strMessage) {
    GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("%s", strMessage.c_str()), (nullptr));
}

gboolean SetCaps(GstBaseSink* sink, GstCaps* caps) {
    GstRvoSink* self = GST_RVO_SINK(sink);
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps)) return FALSE;
    if (self->pWriter && (GST_VIDEO_INFO_WIDTH(&info) != GST_VIDEO_INFO_WIDTH(&self->info) ||
                          GST_VIDEO_INFO_HEIGHT(&info) != GST_VIDEO_INFO_HEIGHT(&self->info))) {
        FailWrite(self, Location(self) + ": the frame size changed; a movie has one frame size");
        return FALSE;
    }
    self->info = info;
    return TRUE;
}

// The movie is created with the first frame, at that frame's size, for as many
// frames as a movie may hold (the frame count is not known ahead, as with rvo
// encode reading stdin).
gboolean Create(GstRvoSink* self) {
    const std::string strPath = Location(self);
    if (strPath.empty()) {
        GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("no location set"), (nullptr));
        return FALSE;
    }
    GST_OBJECT_LOCK(self);
    const int nMode = self->nMode, nPack = self->nPack;
    GST_OBJECT_UNLOCK(self);
    const LONG nCompression = CompressionForModeName(ModeOptionName(nMode));
    self->nStoredMode = rvo::StorageModeForCompression(nCompression);
    self->packRule = RvoPackRule::Standard;
    if (nPack == kPackSmallest && self->nStoredMode == rvo::PackedFrames) self->packRule = RvoPackRule::Smallest;
    const int w = GST_VIDEO_INFO_WIDTH(&self->info), h = GST_VIDEO_INFO_HEIGHT(&self->info);
    try {
        self->pWriter = new CHostWriter(strPath, nCompression, w, h, (long long)rvo::kMaxEntries);
    } catch (const ToolFailure& e) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE, ("%s", e.what()), (nullptr));
        return FALSE;
    }
    const SIZE size{w, h};
    self->pRecord->assign(EncodeBufferBytes(self->nStoredMode, size), 0);
    self->nFrames = 0;
    return TRUE;
}

GstFlowReturn Render(GstBaseSink* sink, GstBuffer* buf) {
    GstRvoSink* self = GST_RVO_SINK(sink);
    if (!self->pWriter && !Create(self)) return GST_FLOW_ERROR;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &self->info, buf, GST_MAP_READ)) {
        FailWrite(self, Location(self) + ": a frame cannot be read");
        return GST_FLOW_ERROR;
    }
    const int w = GST_VIDEO_INFO_WIDTH(&self->info), h = GST_VIDEO_INFO_HEIGHT(&self->info);
    const SIZE size{w, h};
    RvoEncodedFrame encoded{};
    SetLastError(ERROR_SUCCESS);
    EncodeFrame(self->nStoredMode, size, static_cast<const DWORD*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0) / 4, self->pRecord->data(), (DWORD)self->pRecord->size(),
                encoded, self->packRule);
    gst_video_frame_unmap(&frame);
    // A JPEG frame the codec could not compress is kept as an entry without a picture.
    const bool bKept = self->nStoredMode == rvo::JpegBlobs && !encoded.hBlob && !encoded.bFailed;
    const int rc = self->pWriter->Append(encoded);
    if (encoded.hBlob) FreeJpegBlob(encoded.hBlob);
    const std::string strPath = Location(self);
    const long long k = self->nFrames;
    if (rc == kHostRefused) {
        FailWrite(self, strPath + ": frame " + std::to_string(k) + " refused: a movie holds at most " +
                            std::to_string(rvo::kMaxEntries) + " frames");
        return GST_FLOW_ERROR;
    }
    if (rc != kHostDone) {
        const DWORD dwError = GetLastError();
        // What was written before stays readable, as rvo encode leaves it.
        const DWORD dwCloseError = self->pWriter->Close();
        FailWrite(self, strPath + ": frame " + std::to_string(k) + " failed (" + DescribeUnstoredFrame(bKept, dwError) +
                            "); stopped after " + std::to_string(k) + " frames" +
                            (dwCloseError ? ", and finishing the file failed (" + DescribeLastError(dwCloseError) +
                                                "; rvo recover gives back the " + std::to_string(k) + " frames written)"
                                          : ""));
        return GST_FLOW_ERROR;
    }
    self->nFrames = k + 1;
    return GST_FLOW_OK;
}

gboolean Event(GstBaseSink* sink, GstEvent* event) {
    GstRvoSink* self = GST_RVO_SINK(sink);
    if (GST_EVENT_TYPE(event) == GST_EVENT_EOS) {
        const std::string strPath = Location(self);
        if (g_atomic_int_get(&self->bPipelineFailed)) {
            // Stopped by an error: left unfinished, for rvo recover, not passed off as a whole movie.
            if (self->pWriter) self->pWriter->Abandon();
            delete self->pWriter;
            self->pWriter = nullptr;
        } else if (!self->pWriter) {
            FailWrite(self, "stream: no frames in the input");
        } else {
            const DWORD dwCloseError = self->pWriter->Close();
            delete self->pWriter;
            self->pWriter = nullptr;
            if (dwCloseError)
                FailWrite(self, strPath + ": finishing the file failed (" + DescribeLastError(dwCloseError) +
                                    "); rvo recover gives back the " + std::to_string(self->nFrames) + " frames written");
        }
    }
    return GST_BASE_SINK_CLASS(gst_rvo_sink_parent_class)->event(sink, event);
}

void OnError(GstBus*, GstMessage*, gpointer data) { g_atomic_int_set(&static_cast<GstRvoSink*>(data)->bPipelineFailed, 1); }

gboolean Start(GstBaseSink* sink) {
    GstRvoSink* self = GST_RVO_SINK(sink);
    gst_video_info_init(&self->info);
    g_atomic_int_set(&self->bPipelineFailed, 0);
    // Errors are heard as they are posted, in the poster's thread, so before
    // the EOS that follows them.
    self->pBus = PipelineBus(GST_ELEMENT(self));
    if (self->pBus) {
        gst_bus_enable_sync_message_emission(self->pBus);
        self->nErrorHandler = g_signal_connect(self->pBus, "sync-message::error", G_CALLBACK(OnError), self);
    }
    return TRUE;
}

void StopListening(GstRvoSink* self) {
    if (!self->pBus) return;
    g_signal_handler_disconnect(self->pBus, self->nErrorHandler);
    gst_bus_disable_sync_message_emission(self->pBus);
    gst_object_unref(self->pBus);
    self->pBus = nullptr;
}

// Stopped before EOS (an error, or the pipeline shut down): the file is left
// unfinished, as its writer had it, not passed off as a whole movie.
gboolean Stop(GstBaseSink* sink) {
    GstRvoSink* self = GST_RVO_SINK(sink);
    StopListening(self);
    if (self->pWriter) {
        self->pWriter->Abandon();
        delete self->pWriter;
        self->pWriter = nullptr;
    }
    return TRUE;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    GstRvoSink* self = GST_RVO_SINK(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_LOCATION:
        g_free(self->pszLocation);
        self->pszLocation = g_value_dup_string(value);
        break;
    case PROP_MODE: self->nMode = g_value_get_enum(value); break;
    case PROP_PACK: self->nPack = g_value_get_enum(value); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
    GST_OBJECT_UNLOCK(self);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    GstRvoSink* self = GST_RVO_SINK(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_LOCATION: g_value_set_string(value, self->pszLocation); break;
    case PROP_MODE: g_value_set_enum(value, self->nMode); break;
    case PROP_PACK: g_value_set_enum(value, self->nPack); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
    GST_OBJECT_UNLOCK(self);
}

void Finalize(GObject* object) {
    GstRvoSink* self = GST_RVO_SINK(object);
    StopListening(self);
    if (self->pWriter) {
        self->pWriter->Abandon();
        delete self->pWriter;
    }
    delete self->pRecord;
    g_free(self->pszLocation);
    G_OBJECT_CLASS(gst_rvo_sink_parent_class)->finalize(object);
}

}   // namespace

static void gst_rvo_sink_class_init(GstRvoSinkClass* klass) {
    GObjectClass* gobject = G_OBJECT_CLASS(klass);
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    GstBaseSinkClass* base = GST_BASE_SINK_CLASS(klass);
    gobject->set_property = SetProperty;
    gobject->get_property = GetProperty;
    gobject->finalize = Finalize;
    base->set_caps = SetCaps;
    base->render = Render;
    base->event = Event;
    base->start = Start;
    base->stop = Stop;
    const GParamFlags flags = (GParamFlags)(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY);
    g_object_class_install_property(gobject, PROP_LOCATION,
                                    g_param_spec_string("location", "Location", "The RVO file to write (replaced)",
                                                        nullptr, flags));
    g_object_class_install_property(gobject, PROP_MODE,
                                    g_param_spec_enum("mode", "Mode", "Storage mode", SinkModeType(), kModeJpeg, flags));
    g_object_class_install_property(
        gobject, PROP_PACK,
        g_param_spec_enum("pack", "Pack", "Packed records (mode packed only)", SinkPackType(), kPackStandard, flags));
    gst_element_class_add_static_pad_template(element, &g_sinkTemplate);
    gst_element_class_set_static_metadata(element, "RVO movie writer", "Sink/File/Video",
                                          "Writes BGRA frames into an RVO movie", "rvo maintainers");
}

static void gst_rvo_sink_init(GstRvoSink* self) {
    self->pszLocation = nullptr;
    self->nMode = kModeJpeg;
    self->nPack = kPackStandard;
    self->pWriter = nullptr;
    self->nStoredMode = rvo::JpegBlobs;
    self->packRule = RvoPackRule::Standard;
    self->pRecord = new std::vector<BYTE>();
    self->nFrames = 0;
    self->pBus = nullptr;
    self->nErrorHandler = 0;
    self->bPipelineFailed = 0;
    gst_video_info_init(&self->info);
    // Every frame is written, however late it arrives.
    gst_base_sink_set_sync(GST_BASE_SINK(self), FALSE);
}
