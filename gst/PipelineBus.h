// The bus of the pipeline an element is in (the outermost bin's), which sees
// every message as it is posted: a bin's bus for its children hands messages
// up without emitting them, and decodebin sets aside the errors of an element
// it is still trying out.
#pragma once

#include <gst/gst.h>

// A reference to the outermost bin's bus, or null outside a pipeline.
GstBus* PipelineBus(GstElement* pElement);
