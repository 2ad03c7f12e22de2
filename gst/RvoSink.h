// rvosink: writes BGRA frames into an RVO movie as rvo encode does (the same
// bytes for the same frames, mode and pack rule), finished at EOS; a pipeline
// that stops before EOS, or on an error (sources send EOS after one), leaves
// an unfinished file, which rvo recover rebuilds.
#pragma once

#include <gst/base/gstbasesink.h>

G_BEGIN_DECLS
#define GST_TYPE_RVO_SINK (gst_rvo_sink_get_type())
G_DECLARE_FINAL_TYPE(GstRvoSink, gst_rvo_sink, GST, RVO_SINK, GstBaseSink)
G_END_DECLS
