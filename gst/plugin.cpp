// SPDX-License-Identifier: MIT
// The plug-in's descriptor, found by the host's plug-in scan.
#include <gst/gst.h>

#include "camboard_version.h"
#include "gstvxrate.h"

namespace {
gboolean vxrate_plugin_init(GstPlugin* plugin) {
    return gst_element_register(plugin, "vxrate", GST_RANK_PRIMARY, gst_vxrate_get_type());
}
}  // namespace

extern "C" {
GST_PLUGIN_EXPORT GstPluginDesc gst_plugin_desc = {
    GST_VERSION_MAJOR,
    GST_VERSION_MINOR,
    "vxrate",
    "Frame rate analyze/report filter element",
    vxrate_plugin_init,
    CAMBOARD_VERSION,
    "MIT/X11",
    // GStreamer 1.x refuses a plug-in whose source module is empty.
    CAMBOARD_PACKAGE,
    CAMBOARD_PACKAGE,
    "https://camboard.invalid/tools",
    nullptr,  // release date and time
    GST_PADDING_INIT,
};
}
