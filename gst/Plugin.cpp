// The GStreamer plugin "rvo": the video/x-rvo typefinder, rvodec and rvosink.
// The module core is linked in; its load-time set-up runs with the plugin's.
#include <gst/gst.h>

#include <cstring>

#include "gst/RvoDec.h"
#include "gst/RvoSink.h"
#include "plugin/Dispatch.h"

#ifndef PACKAGE
#define PACKAGE "rvo"
#endif

namespace {

// Every RVO file opens with its magic.
void FindRvo(GstTypeFind* tf, gpointer) {
    const guint8* p = gst_type_find_peek(tf, 0, 8);
    if (p && std::memcmp(p, "QARVOV10", 8) == 0)
        gst_type_find_suggest_empty_simple(tf, GST_TYPE_FIND_MAXIMUM, "video/x-rvo");
}

gboolean PluginInit(GstPlugin* plugin) {
    if (!RvoModuleAttach()) return FALSE;
    GstCaps* caps = gst_caps_new_empty_simple("video/x-rvo");
    const gboolean ok =
        gst_type_find_register(plugin, "video/x-rvo", GST_RANK_PRIMARY, FindRvo, "rvo", caps, nullptr, nullptr) &&
        gst_element_register(plugin, "rvodec", GST_RANK_PRIMARY, GST_TYPE_RVO_DEC) &&
        gst_element_register(plugin, "rvosink", GST_RANK_NONE, GST_TYPE_RVO_SINK);
    gst_caps_unref(caps);
    return ok;
}

}   // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, rvo, "RVO movies: typefinder, reader and writer", PluginInit,
                  RVO_VERSION, "unknown", "rvo", "https://example.invalid/rvo")
