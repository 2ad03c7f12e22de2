// The outermost bin's bus.
#include "gst/PipelineBus.h"

GstBus* PipelineBus(GstElement* pElement) {
    GstObject* top = GST_OBJECT(gst_object_ref(pElement));
    while (GstObject* parent = gst_object_get_parent(top)) {
        gst_object_unref(top);
        top = parent;
    }
    GstBus* bus = GST_IS_ELEMENT(top) ? gst_element_get_bus(GST_ELEMENT(top)) : nullptr;
    gst_object_unref(top);
    return bus;
}
