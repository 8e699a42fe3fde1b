// SPDX-License-Identifier: MIT
#include "gstvxrate.h"

#include <sys/time.h>

GST_DEBUG_CATEGORY_STATIC(gst_vxrate_debug);

namespace {

GstBaseTransformClass* parent_class = nullptr;

GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

GstVxRate* as_vxrate(GstBaseTransform* trans) {
    return reinterpret_cast<GstVxRate*>(trans);
}

gboolean vxrate_start(GstBaseTransform* trans) {
    as_vxrate(trans)->last_time = 0;
    return TRUE;
}

// The last time is kept: only the next start forgets it.
gboolean vxrate_stop(GstBaseTransform* /*trans*/) {
    return TRUE;
}

// The wall clock when the element handles the buffer, not the buffer's
// timestamp: it shows how steadily the pipeline really delivers.
GstFlowReturn vxrate_transform_ip(GstBaseTransform* trans, GstBuffer* /*buffer*/) {
    GstVxRate* self = as_vxrate(trans);
    timeval tv{};
    gettimeofday(&tv, nullptr);
    const guint64 now =
        static_cast<guint64>(tv.tv_sec) * 1000000 + static_cast<guint64>(tv.tv_usec);

    guint64 period = 0;
    gdouble rate = 0.0;
    if (self->last_time != 0) {
        period = now - self->last_time;  // a clock set back gives the unsigned difference
        rate = period == 0 ? 0.0 : 1000000.0 / static_cast<gdouble>(period);
    }
    self->last_time = now;
    g_printerr("\rvxrate: period(usec): %6llu, rate(1/sec): %6.3f\n",
               static_cast<unsigned long long>(period), rate);
    return GST_FLOW_OK;
}

gboolean vxrate_event(GstBaseTransform* trans, GstEvent* event) {
    GST_OBJECT_LOCK(trans);
    const GstStructure* structure = gst_event_get_structure(event);
    gchar* text = structure != nullptr ? gst_structure_to_string(structure) : g_strdup("");
    GstPad* pad = trans->sinkpad;
    g_printerr("vxrate: event (%s : %s) E (type: %d, %s)\n", GST_DEBUG_PAD_NAME(pad),
               static_cast<int>(GST_EVENT_TYPE(event)), text);
    g_free(text);
    GST_OBJECT_UNLOCK(trans);
    return parent_class->sink_event(trans, event);
}

void gst_vxrate_base_init(gpointer g_class) {
    GstElementClass* element_class = GST_ELEMENT_CLASS(g_class);
    gst_element_class_set_static_metadata(
        element_class, "video frame rate analyzer", "Filter/Analyzer/Video",
        "Frame rate analyze/report filter", "camboard developers <dev@camboard.invalid>");
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_add_static_pad_template(element_class, &sink_template);
}

void gst_vxrate_class_init(gpointer g_class, gpointer /*class_data*/) {
    GstBaseTransformClass* trans_class = GST_BASE_TRANSFORM_CLASS(g_class);
    parent_class = GST_BASE_TRANSFORM_CLASS(g_type_class_peek_parent(g_class));
    // No passthrough and no copying transform: the base class runs the
    // element in place and calls transform_ip for every buffer.
    trans_class->start = GST_DEBUG_FUNCPTR(vxrate_start);
    trans_class->stop = GST_DEBUG_FUNCPTR(vxrate_stop);
    trans_class->sink_event = GST_DEBUG_FUNCPTR(vxrate_event);
    trans_class->transform_ip = GST_DEBUG_FUNCPTR(vxrate_transform_ip);
}

void gst_vxrate_init(GTypeInstance* instance, gpointer /*g_class*/) {
    reinterpret_cast<GstVxRate*>(instance)->last_time = 0;
}

}  // namespace

GType gst_vxrate_get_type(void) {
    // Registered once, by whichever streaming or application thread asks
    // first; the others wait in g_once_init_enter until it is done.
    static gsize type_id = 0;
    // GLib's macro casts the address it is given through an integer.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    if (g_once_init_enter(&type_id)) {
        static const GTypeInfo info = {
            sizeof(GstVxRateClass),
            gst_vxrate_base_init,
            nullptr,  // base_finalize
            gst_vxrate_class_init,
            nullptr,  // class_finalize
            nullptr,  // class_data
            sizeof(GstVxRate),
            0,  // n_preallocs
            gst_vxrate_init,
            nullptr,  // value_table
        };
        const GType type =
            g_type_register_static(GST_TYPE_BASE_TRANSFORM, g_intern_static_string("GstVxRate"),
                                   &info, static_cast<GTypeFlags>(0));
        if (gst_vxrate_debug == nullptr) {
            GST_DEBUG_CATEGORY_INIT(gst_vxrate_debug, "vxrate", 0, "vxrate element");
        }
        g_once_init_leave(&type_id, type);
    }
    return type_id;
}
