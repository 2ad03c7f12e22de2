// rvodec: pulls ranges from upstream where it can (the module reads the
// index, the size table or the fixed-size records it needs), else gathers the
// pushed file in memory and reads it from there; decodes on its sink pad's
// task. The source pad appears once the movie is open (as a demuxer's do), so
// that decodebin links it before a frame goes out. Seeks land on the frame
// asked for, every frame being whole on its own.
#include "gst/RvoDec.h"

#include <gst/base/gstadapter.h>
#include <gst/video/video.h>

#include <memory>
#include <string>

#include "gst/FrameBlocks.h"
#include "gst/MovieStream.h"
#include "gst/PadSource.h"
#include "gst/PipelineBus.h"
#include "tools/rvo/ToolSupport.h"

namespace {

// A pushed file is held whole in memory; past this, play it from a seekable source.
constexpr guint64 kMaxPushedBytes = 1ull << 30;

enum { PROP_0,
       PROP_FRAMERATE,
       PROP_INTERLACED };

GstStaticPadTemplate g_sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-rvo"));
GstStaticPadTemplate g_srcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_SOMETIMES, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("BGRA")));

}   // namespace

struct _GstRvoDec {
    GstElement parent;
    GstPad* sinkpad;
    GstPad* srcpad;      // while the movie is open
    gint nFpsN, nFpsD;   // properties, under the object lock
    gboolean bInterlaced;

    // The streaming side, under the source pad's stream lock.
    std::shared_ptr<CPadByteSource>* ppPadSource;   // pull mode
    CMovieStream* pStream;
    std::shared_ptr<CFrameBlocks>* ppBlocks;   // the frames' memory, reused while the movie is open
    GstAdapter* pAdapter;                      // push mode: the file so far
    gboolean bPullMode;
    gboolean bNeedSegment;
    guint32 nSeqnum;
    gint64 nNext;   // the next frame to push
    // Read by queries too: under the object lock.
    GstSegment segment;
    gint64 nFrames;   // -1 until the movie is open
};

G_DEFINE_TYPE(GstRvoDec, gst_rvo_dec, GST_TYPE_ELEMENT)

namespace {

GstClockTime FrameTime(GstRvoDec* self, gint64 k) {
    return gst_util_uint64_scale((guint64)k, (guint64)self->nFpsD * GST_SECOND, (guint64)self->nFpsN);
}

// The frame shown at time t: the last one starting at or before it.
gint64 FrameAt(GstRvoDec* self, GstClockTime t) {
    gint64 k = (gint64)gst_util_uint64_scale(t, (guint64)self->nFpsN, (guint64)self->nFpsD * GST_SECOND);
    while (k > 0 && FrameTime(self, k) > t) k--;
    while (FrameTime(self, k + 1) <= t) k++;
    return k;
}

void Fail(GstRvoDec* self, const std::string& strMessage) {
    GST_ELEMENT_ERROR(self, STREAM, DECODE, ("%s", strMessage.c_str()), (nullptr));
}

// The same, posted on the pipeline's bus itself: while decodebin sets this
// element to PAUSED, its errors are set aside for the report of a failed
// autoplug, which names no file ("missing a plug-in").
void FailToPipeline(GstRvoDec* self, const std::string& strMessage) {
    GstBus* bus = PipelineBus(GST_ELEMENT(self));
    if (!bus) return Fail(self, strMessage);
    GError* err = g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_DECODE, strMessage.c_str());
    gst_bus_post(bus, gst_message_new_error(GST_OBJECT(self), err, nullptr));
    g_error_free(err);
    gst_object_unref(bus);
}

// Where upstream reads from: the local file (strFile) when it is one, else a
// name for messages.
struct Origin {
    std::string strFile, strFolder = ".", strName = "stream";
};

Origin UpstreamOrigin(GstRvoDec* self) {
    Origin o;
    GstQuery* q = gst_query_new_uri();
    gchar* pszUri = nullptr;
    if (gst_pad_peer_query(self->sinkpad, q)) gst_query_parse_uri(q, &pszUri);
    gst_query_unref(q);
    if (pszUri) {
        o.strName = pszUri;
        if (gchar* pszFile = g_filename_from_uri(pszUri, nullptr, nullptr)) {
            o.strName = o.strFile = pszFile;
            gchar* pszDir = g_path_get_dirname(pszFile);
            o.strFolder = pszDir;
            g_free(pszDir);
            g_free(pszFile);
        }
        g_free(pszUri);
    }
    return o;
}

// The movie as upstream serves it: a local file by its path (pull mode:
// upstream can seek, so the bytes are the file's), else ranges of a stream of
// known length in pull mode, the gathered bytes in push mode. Stills are
// looked for beside a local file. "" when it opens, else the tool's message.
std::string OpenMovie(GstRvoDec* self, std::shared_ptr<CByteSource> pSource) {
    const Origin o = UpstreamOrigin(self);
    try {
        if (!pSource)
            self->pStream = new CMovieStream(o.strFile);
        else
            self->pStream = new CMovieStream(std::move(pSource), o.strFolder, o.strName);
    } catch (const ToolFailure& e) {
        return e.what();
    } catch (const std::exception& e) {
        return o.strName + ": " + e.what();
    }
    GST_OBJECT_LOCK(self);
    self->nFrames = self->pStream->Frames();
    GST_OBJECT_UNLOCK(self);
    return "";
}

void CloseMovie(GstRvoDec* self) {
    delete self->pStream;
    self->pStream = nullptr;
    delete self->ppPadSource;
    self->ppPadSource = nullptr;
    GST_OBJECT_LOCK(self);
    self->nFrames = -1;
    GST_OBJECT_UNLOCK(self);
}

gboolean SrcEvent(GstPad* pad, GstObject* parent, GstEvent* event);
gboolean SrcQuery(GstPad* pad, GstObject* parent, GstQuery* query);

// The source pad for the open movie, with its stream-start and caps, added
// to the element; FALSE when no one downstream takes it.
gboolean AddSourcePad(GstRvoDec* self) {
    self->srcpad = gst_pad_new_from_static_template(&g_srcTemplate, "src");
    gst_pad_set_event_function(self->srcpad, SrcEvent);
    gst_pad_set_query_function(self->srcpad, SrcQuery);
    gst_pad_use_fixed_caps(self->srcpad);
    gst_pad_set_active(self->srcpad, TRUE);
    gchar* pszId = gst_pad_create_stream_id(self->srcpad, GST_ELEMENT(self), nullptr);
    GstEvent* start = gst_event_new_stream_start(pszId);
    g_free(pszId);
    gst_event_set_group_id(start, gst_util_group_id_next());
    gst_pad_push_event(self->srcpad, start);

    GstVideoInfo info;
    gst_video_info_init(&info);
    GST_OBJECT_LOCK(self);
    const gboolean bInterlaced = self->bInterlaced;
    const gint n = self->nFpsN, d = self->nFpsD;
    GST_OBJECT_UNLOCK(self);
    gst_video_info_set_interlaced_format(&info, GST_VIDEO_FORMAT_BGRA,
                                         bInterlaced ? GST_VIDEO_INTERLACE_MODE_INTERLEAVED
                                                     : GST_VIDEO_INTERLACE_MODE_PROGRESSIVE,
                                         (guint)self->pStream->Width(), (guint)self->pStream->Height());
    if (bInterlaced) GST_VIDEO_INFO_FIELD_ORDER(&info) = GST_VIDEO_FIELD_ORDER_TOP_FIELD_FIRST;
    GST_VIDEO_INFO_FPS_N(&info) = n;
    GST_VIDEO_INFO_FPS_D(&info) = d;
    GstCaps* caps = gst_video_info_to_caps(&info);
    self->ppBlocks = new std::shared_ptr<CFrameBlocks>(CFrameBlocks::Create(GST_VIDEO_INFO_SIZE(&info)));
    const gboolean ok = gst_pad_push_event(self->srcpad, gst_event_new_caps(caps));
    gst_caps_unref(caps);
    gst_element_add_pad(GST_ELEMENT(self), self->srcpad);
    gst_element_no_more_pads(GST_ELEMENT(self));
    return ok;
}

void RemoveSourcePad(GstRvoDec* self) {
    delete self->ppBlocks;
    self->ppBlocks = nullptr;
    if (!self->srcpad) return;
    gst_pad_set_active(self->srcpad, FALSE);
    gst_element_remove_pad(GST_ELEMENT(self), self->srcpad);
    self->srcpad = nullptr;
}

void PushEnd(GstRvoDec* self) {
    GST_OBJECT_LOCK(self);
    const gboolean bSegment = (self->segment.flags & GST_SEGMENT_FLAG_SEGMENT) != 0;
    const gint64 nStop = (gint64)self->segment.position;
    GST_OBJECT_UNLOCK(self);
    if (bSegment) {
        gst_element_post_message(GST_ELEMENT(self),
                                 gst_message_new_segment_done(GST_OBJECT(self), GST_FORMAT_TIME, nStop));
        GstEvent* done = gst_event_new_segment_done(GST_FORMAT_TIME, nStop);
        gst_event_set_seqnum(done, self->nSeqnum);
        gst_pad_push_event(self->srcpad, done);
        return;
    }
    GstEvent* eos = gst_event_new_eos();
    if (self->nSeqnum) gst_event_set_seqnum(eos, self->nSeqnum);
    gst_pad_push_event(self->srcpad, eos);
}

// Pull mode: the movie over ranges of upstream's bytes. "" or the problem.
std::string OpenPulled(GstRvoDec* self) {
    const Origin o = UpstreamOrigin(self);
    if (!o.strFile.empty() && g_file_test(o.strFile.c_str(), G_FILE_TEST_IS_REGULAR)) return OpenMovie(self, nullptr);
    gint64 nBytes = -1;
    if (!gst_pad_peer_query_duration(self->sinkpad, GST_FORMAT_BYTES, &nBytes) || nBytes < 0)
        return "stream: cannot be read (upstream gives no length)";
    self->ppPadSource =
        new std::shared_ptr<CPadByteSource>(std::make_shared<CPadByteSource>(self->sinkpad, (ULONGLONG)nBytes));
    const std::string strProblem = OpenMovie(self, *self->ppPadSource);
    if (!strProblem.empty()) CloseMovie(self);
    return strProblem;
}

void Loop(GstPad* pad) {
    GstRvoDec* self = GST_RVO_DEC(GST_PAD_PARENT(pad));
    if (!self->pStream) {
        // Push mode, at the end of the file.
        GstBuffer* whole = gst_adapter_take_buffer(self->pAdapter, gst_adapter_available(self->pAdapter));
        if (!whole) whole = gst_buffer_new();
        const std::string strProblem = OpenMovie(self, std::make_shared<CBufferByteSource>(whole));
        if (!strProblem.empty()) {
            CloseMovie(self);
            Fail(self, strProblem);
            goto error;
        }
    }
    if (!self->srcpad && !AddSourcePad(self)) goto pause;
    {
        GST_OBJECT_LOCK(self);
        const gint64 nFrames = self->nFrames;
        const GstClockTime tStop = self->segment.stop;
        GST_OBJECT_UNLOCK(self);
        // The first frame of a segment (the start, or where a seek lands) follows no other.
        const bool bDiscont = self->bNeedSegment;
        if (self->bNeedSegment) {
            GST_OBJECT_LOCK(self);
            GstEvent* seg = gst_event_new_segment(&self->segment);
            GST_OBJECT_UNLOCK(self);
            if (self->nSeqnum) gst_event_set_seqnum(seg, self->nSeqnum);
            gst_pad_push_event(self->srcpad, seg);
            self->bNeedSegment = FALSE;
        }
        const gint64 k = self->nNext;
        const GstClockTime t = FrameTime(self, k);
        if (k >= nFrames || (GST_CLOCK_TIME_IS_VALID(tStop) && t >= tStop)) {
            PushEnd(self);
            goto pause;
        }
        GstBuffer* buf = nullptr;
        if (!(buf = (*self->ppBlocks)->Acquire())) {
            Fail(self, "out of memory for a frame");
            goto error;
        }
        GstMapInfo map;
        gst_buffer_map(buf, &map, GST_MAP_WRITE);
        if (self->ppPadSource) (*self->ppPadSource)->ClearFlow();
        const std::string strProblem = self->pStream->ReadFrame(k, reinterpret_cast<DWORD*>(map.data));
        gst_buffer_unmap(buf, &map);
        if (!strProblem.empty()) {
            gst_buffer_unref(buf);
            if (self->ppPadSource && (*self->ppPadSource)->LastFlow() == GST_FLOW_FLUSHING) goto pause;
            Fail(self, strProblem);
            goto error;
        }
        GST_BUFFER_PTS(buf) = t;
        GST_BUFFER_DTS(buf) = t;
        GST_BUFFER_DURATION(buf) = FrameTime(self, k + 1) - t;
        GST_BUFFER_OFFSET(buf) = (guint64)k;
        GST_BUFFER_OFFSET_END(buf) = (guint64)k + 1;
        GST_OBJECT_LOCK(self);
        if (self->bInterlaced)
            GST_BUFFER_FLAG_SET(buf, GST_VIDEO_BUFFER_FLAG_INTERLACED | GST_VIDEO_BUFFER_FLAG_TFF);
        self->segment.position = t;
        GST_OBJECT_UNLOCK(self);
        if (bDiscont) GST_BUFFER_FLAG_SET(buf, GST_BUFFER_FLAG_DISCONT);
        self->nNext = k + 1;
        const GstFlowReturn flow = gst_pad_push(self->srcpad, buf);
        if (flow == GST_FLOW_OK) return;
        if (flow == GST_FLOW_EOS) {
            PushEnd(self);
        } else if (flow == GST_FLOW_NOT_LINKED || flow < GST_FLOW_EOS) {
            GST_ELEMENT_FLOW_ERROR(self, flow);
            gst_pad_push_event(self->srcpad, gst_event_new_eos());
        }
        goto pause;
    }
error:
    if (self->srcpad) gst_pad_push_event(self->srcpad, gst_event_new_eos());
pause:
    gst_pad_pause_task(pad);
}

gboolean StartTask(GstRvoDec* self) {
    return gst_pad_start_task(self->sinkpad, (GstTaskFunction)Loop, self->sinkpad, nullptr);
}

// Seeks in TIME or in frames (DEFAULT), forward only; every frame is whole on
// its own, so each seek is accurate: it starts at the frame shown at the time asked.
gboolean Seek(GstRvoDec* self, GstEvent* event) {
    gdouble rate;
    GstFormat format;
    GstSeekFlags flags;
    GstSeekType startType, stopType;
    gint64 start, stop;
    gst_event_parse_seek(event, &rate, &format, &flags, &startType, &start, &stopType, &stop);
    if (rate <= 0.0 || !self->bPullMode) return FALSE;
    if (format == GST_FORMAT_DEFAULT) {
        if (startType != GST_SEEK_TYPE_NONE && start >= 0) start = (gint64)FrameTime(self, start);
        if (stopType != GST_SEEK_TYPE_NONE && stop >= 0) stop = (gint64)FrameTime(self, stop);
    } else if (format != GST_FORMAT_TIME) {
        return FALSE;
    }
    const gboolean bFlush = (flags & GST_SEEK_FLAG_FLUSH) != 0;
    const guint32 nSeqnum = gst_event_get_seqnum(event);
    if (bFlush) {
        GstEvent* e = gst_event_new_flush_start();
        gst_event_set_seqnum(e, nSeqnum);
        gst_pad_push_event(self->srcpad, gst_event_ref(e));
        gst_pad_push_event(self->sinkpad, e);   // a pull under way returns
    } else {
        gst_pad_pause_task(self->sinkpad);
    }
    GST_PAD_STREAM_LOCK(self->sinkpad);
    if (bFlush) {
        GstEvent* e = gst_event_new_flush_stop(TRUE);
        gst_event_set_seqnum(e, nSeqnum);
        gst_pad_push_event(self->sinkpad, e);
    }
    GST_OBJECT_LOCK(self);
    GstSegment seg = self->segment;
    gboolean bUpdate = FALSE;
    gst_segment_do_seek(&seg, rate, GST_FORMAT_TIME, flags, startType, (guint64)start, stopType, (guint64)stop,
                        &bUpdate);
    gint64 k = FrameAt(self, seg.position);
    if (self->nFrames >= 0 && k >= self->nFrames) k = self->nFrames;
    if (!(flags & GST_SEEK_FLAG_ACCURATE) && k < self->nFrames) {
        // Not asked to be accurate: the segment starts with the frame shown.
        seg.start = seg.time = seg.position = FrameTime(self, k);
    }
    self->segment = seg;
    GST_OBJECT_UNLOCK(self);
    self->nNext = k;
    self->bNeedSegment = TRUE;
    self->nSeqnum = nSeqnum;
    if (flags & GST_SEEK_FLAG_SEGMENT)
        gst_element_post_message(GST_ELEMENT(self),
                                 gst_message_new_segment_start(GST_OBJECT(self), GST_FORMAT_TIME, (gint64)seg.position));
    if (bFlush) {
        GstEvent* e = gst_event_new_flush_stop(TRUE);
        gst_event_set_seqnum(e, nSeqnum);
        gst_pad_push_event(self->srcpad, e);
    }
    StartTask(self);
    GST_PAD_STREAM_UNLOCK(self->sinkpad);
    return TRUE;
}

gboolean SrcEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
    GstRvoDec* self = GST_RVO_DEC(parent);
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) {
        const gboolean ok = Seek(self, event);
        gst_event_unref(event);
        return ok;
    }
    // Nothing upstream of a whole file needs to hear about QoS, navigation or latency.
    gst_event_unref(event);
    return FALSE;
}

gboolean SrcQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
    GstRvoDec* self = GST_RVO_DEC(parent);
    switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_DURATION: {
        GstFormat format;
        gst_query_parse_duration(query, &format, nullptr);
        GST_OBJECT_LOCK(self);
        const gint64 n = self->nFrames;
        GST_OBJECT_UNLOCK(self);
        if (n < 0) return FALSE;
        if (format == GST_FORMAT_TIME) gst_query_set_duration(query, format, (gint64)FrameTime(self, n));
        else if (format == GST_FORMAT_DEFAULT) gst_query_set_duration(query, format, n);
        else return FALSE;
        return TRUE;
    }
    case GST_QUERY_POSITION: {
        GstFormat format;
        gst_query_parse_position(query, &format, nullptr);
        GST_OBJECT_LOCK(self);
        const GstClockTime t = self->segment.position;
        GST_OBJECT_UNLOCK(self);
        if (format == GST_FORMAT_TIME) gst_query_set_position(query, format, (gint64)t);
        else if (format == GST_FORMAT_DEFAULT) gst_query_set_position(query, format, FrameAt(self, t));
        else return FALSE;
        return TRUE;
    }
    case GST_QUERY_SEEKING: {
        GstFormat format;
        gst_query_parse_seeking(query, &format, nullptr, nullptr, nullptr);
        GST_OBJECT_LOCK(self);
        const gint64 n = self->nFrames;
        GST_OBJECT_UNLOCK(self);
        if (format != GST_FORMAT_TIME && format != GST_FORMAT_DEFAULT) return FALSE;
        const gint64 nEnd = n < 0 ? -1 : format == GST_FORMAT_TIME ? (gint64)FrameTime(self, n)
                                                                   : n;
        gst_query_set_seeking(query, format, self->bPullMode, 0, nEnd);
        return TRUE;
    }
    default: return gst_pad_query_default(pad, parent, query);
    }
}

// Push mode: the file is gathered whole, then read as in pull mode from memory.
GstFlowReturn SinkChain(GstPad* pad, GstObject* parent, GstBuffer* buf) {
    GstRvoDec* self = GST_RVO_DEC(parent);
    if (gst_adapter_available(self->pAdapter) + gst_buffer_get_size(buf) > kMaxPushedBytes) {
        gst_buffer_unref(buf);
        GST_ELEMENT_ERROR(self, STREAM, TOO_LAZY,
                          ("stream: a movie pushed from a source that cannot seek must fit in 1 GiB; read it "
                           "from a file"),
                          (nullptr));
        return GST_FLOW_ERROR;
    }
    gst_adapter_push(self->pAdapter, buf);
    return GST_FLOW_OK;
}

gboolean SinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
    GstRvoDec* self = GST_RVO_DEC(parent);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_EOS:
        gst_event_unref(event);
        GST_OBJECT_LOCK(self);
        gst_segment_init(&self->segment, GST_FORMAT_TIME);
        GST_OBJECT_UNLOCK(self);
        self->bNeedSegment = TRUE;
        self->nNext = 0;
        return StartTask(self);
    case GST_EVENT_FLUSH_STOP:
        gst_adapter_clear(self->pAdapter);
        gst_event_unref(event);
        return TRUE;
    case GST_EVENT_STREAM_START:
    case GST_EVENT_CAPS:
    case GST_EVENT_SEGMENT:
        // The element makes its own for the frames.
        gst_event_unref(event);
        return TRUE;
    default: return gst_pad_event_default(pad, parent, event);
    }
}

gboolean SinkActivate(GstPad* pad, GstObject* parent) {
    GstQuery* q = gst_query_new_scheduling();
    gboolean bPull = FALSE;
    if (gst_pad_peer_query(pad, q))
        bPull = gst_query_has_scheduling_mode_with_flags(q, GST_PAD_MODE_PULL, GST_SCHEDULING_FLAG_SEEKABLE);
    gst_query_unref(q);
    return gst_pad_activate_mode(pad, bPull ? GST_PAD_MODE_PULL : GST_PAD_MODE_PUSH, TRUE);
}

gboolean SinkActivateMode(GstPad* pad, GstObject* parent, GstPadMode mode, gboolean active) {
    GstRvoDec* self = GST_RVO_DEC(parent);
    if (mode == GST_PAD_MODE_PULL) {
        if (active) {
            // The task starts once the movie is open (ChangeState).
            self->bPullMode = TRUE;
            self->bNeedSegment = TRUE;
            self->nNext = 0;
            return TRUE;
        }
        return gst_pad_stop_task(self->sinkpad);
    }
    if (mode == GST_PAD_MODE_PUSH) {
        self->bPullMode = FALSE;
        if (!active) return gst_pad_stop_task(self->sinkpad);
        return TRUE;
    }
    return FALSE;
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition) {
    GstRvoDec* self = GST_RVO_DEC(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
        GST_OBJECT_LOCK(self);
        gst_segment_init(&self->segment, GST_FORMAT_TIME);
        GST_OBJECT_UNLOCK(self);
        self->nSeqnum = 0;
        gst_adapter_clear(self->pAdapter);
    }
    GstStateChangeReturn ret = GST_ELEMENT_CLASS(gst_rvo_dec_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED && ret != GST_STATE_CHANGE_FAILURE && self->bPullMode) {
        // Opened here rather than on the task, so that a movie that does not
        // open fails the state change: an error posted while decodebin is
        // still trying the element would be set aside and lost, and the
        // pipeline would wait for a preroll that never comes.
        const std::string strProblem = OpenPulled(self);
        if (!strProblem.empty()) {
            FailToPipeline(self, strProblem);
            return GST_STATE_CHANGE_FAILURE;
        }
        StartTask(self);
    }
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        // The pads are deactivated and the task stopped: nothing reads the movie now.
        RemoveSourcePad(self);
        CloseMovie(self);
        gst_adapter_clear(self->pAdapter);
    }
    return ret;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    GstRvoDec* self = GST_RVO_DEC(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_FRAMERATE:
        self->nFpsN = gst_value_get_fraction_numerator(value);
        self->nFpsD = gst_value_get_fraction_denominator(value);
        break;
    case PROP_INTERLACED: self->bInterlaced = g_value_get_boolean(value); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
    GST_OBJECT_UNLOCK(self);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    GstRvoDec* self = GST_RVO_DEC(object);
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_FRAMERATE: gst_value_set_fraction(value, self->nFpsN, self->nFpsD); break;
    case PROP_INTERLACED: g_value_set_boolean(value, self->bInterlaced); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
    GST_OBJECT_UNLOCK(self);
}

void Finalize(GObject* object) {
    GstRvoDec* self = GST_RVO_DEC(object);
    CloseMovie(self);
    g_object_unref(self->pAdapter);
    G_OBJECT_CLASS(gst_rvo_dec_parent_class)->finalize(object);
}

}   // namespace

static void gst_rvo_dec_class_init(GstRvoDecClass* klass) {
    GObjectClass* gobject = G_OBJECT_CLASS(klass);
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    gobject->set_property = SetProperty;
    gobject->get_property = GetProperty;
    gobject->finalize = Finalize;
    element->change_state = ChangeState;
    g_object_class_install_property(
        gobject, PROP_FRAMERATE,
        gst_param_spec_fraction("framerate", "Frame rate",
                                "Frames per second; the file holds no times (frame k starts at k / framerate)", 1,
                                G_MAXINT, G_MAXINT, 1, 25, 1,
                                (GParamFlags)(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY)));
    g_object_class_install_property(
        gobject, PROP_INTERLACED,
        g_param_spec_boolean("interlaced", "Interlaced",
                             "Frames are two interleaved fields, the even rows first (the file does not say)", FALSE,
                             (GParamFlags)(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY)));
    gst_element_class_add_static_pad_template(element, &g_sinkTemplate);
    gst_element_class_add_static_pad_template(element, &g_srcTemplate);
    gst_element_class_set_static_metadata(element, "RVO movie reader", "Codec/Demuxer/Decoder/Video",
                                          "Reads RVO movies into BGRA frames", "rvo maintainers");
}

static void gst_rvo_dec_init(GstRvoDec* self) {
    self->sinkpad = gst_pad_new_from_static_template(&g_sinkTemplate, "sink");
    gst_pad_set_activate_function(self->sinkpad, SinkActivate);
    gst_pad_set_activatemode_function(self->sinkpad, SinkActivateMode);
    gst_pad_set_chain_function(self->sinkpad, SinkChain);
    gst_pad_set_event_function(self->sinkpad, SinkEvent);
    gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);
    self->srcpad = nullptr;
    self->nFpsN = 25;
    self->nFpsD = 1;
    self->bInterlaced = FALSE;
    self->ppPadSource = nullptr;
    self->pStream = nullptr;
    self->ppBlocks = nullptr;
    self->pAdapter = gst_adapter_new();
    self->bPullMode = FALSE;
    self->bNeedSegment = TRUE;
    self->nSeqnum = 0;
    self->nNext = 0;
    gst_segment_init(&self->segment, GST_FORMAT_TIME);
    self->nFrames = -1;
}
