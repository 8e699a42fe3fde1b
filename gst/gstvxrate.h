// SPDX-License-Identifier: MIT
// vxrate: an in-place filter that lets every buffer pass unchanged and
// reports, for each, the wall-clock period since the previous buffer and the
// rate it corresponds to, and a line for every event it receives.
#pragma once

#include <gst/base/gstbasetransform.h>
#include <gst/gst.h>

G_BEGIN_DECLS

struct GstVxRate {
    GstBaseTransform parent;
    guint64 last_time;  // microseconds since the epoch of the previous buffer; 0: none yet
};

struct GstVxRateClass {
    GstBaseTransformClass parent_class;
};

GST_PLUGIN_EXPORT GType gst_vxrate_get_type(void);

G_END_DECLS
