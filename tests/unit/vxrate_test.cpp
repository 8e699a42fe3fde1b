// SPDX-License-Identifier: MIT
// The vxrate element in a GstHarness, with the wall clock under the test's
// control (a preloaded gettimeofday, see fake_clock.c).
#include <dlfcn.h>
#include <gst/check/gstharness.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "gstvxrate.h"

namespace {

std::string g_printed;

void collect(const gchar* text) {
    g_printed += text;
}

void set_clock(int64_t usec) {
    static auto set = reinterpret_cast<void (*)(int64_t)>(dlsym(RTLD_DEFAULT, "fake_clock_set"));
    ASSERT_NE(set, nullptr) << "fake_clock is not preloaded";
    set(usec);
}

class GstEnvironment : public testing::Environment {
    void SetUp() override {
        // Only the element under test: no scan of the machine's plug-ins.
        setenv("GST_PLUGIN_SYSTEM_PATH_1_0", "", 1);
        setenv("GST_REGISTRY_1_0", "/dev/null", 1);
        gst_init(nullptr, nullptr);
        gst_element_register(nullptr, "vxrate", GST_RANK_PRIMARY, gst_vxrate_get_type());
        g_set_printerr_handler(collect);
    }
};
const auto* const g_env = testing::AddGlobalTestEnvironment(new GstEnvironment);

std::string rate_line(const char* period, const char* rate) {
    return std::string("\rvxrate: period(usec): ") + period + ", rate(1/sec): " + rate + "\n";
}

class VxRate : public testing::Test {
  protected:
    void SetUp() override {
        element_ = gst_element_factory_make("vxrate", "rate");
        ASSERT_NE(element_, nullptr);
        harness_ = gst_harness_new_with_element(element_, "sink", "src");
        gst_harness_set_src_caps_str(harness_, "video/x-raw");
        g_printed.clear();
    }
    void TearDown() override {
        gst_harness_teardown(harness_);
        gst_object_unref(element_);
    }

    // Pushes one buffer at the given wall-clock time and returns what was printed.
    std::string push_at(int64_t usec) {
        g_printed.clear();
        set_clock(usec);
        EXPECT_EQ(gst_harness_push(harness_, gst_buffer_new_allocate(nullptr, 16, nullptr)),
                  GST_FLOW_OK);
        gst_buffer_unref(gst_harness_pull(harness_));
        return g_printed;
    }

    GstElement* element_ = nullptr;
    GstHarness* harness_ = nullptr;
};

TEST_F(VxRate, FirstBufferArmsTheMeasurement) {
    // A time that a 32-bit time_t holds: the board's clock, not a wrapped one.
    EXPECT_EQ(push_at(1'234'567'890'000'000), rate_line("     0", " 0.000"));
}

TEST_F(VxRate, KnownPeriods) {
    push_at(1'000'000);
    EXPECT_EQ(push_at(1'040'000), rate_line(" 40000", "25.000"));
    EXPECT_EQ(push_at(1'040'000), rate_line("     0", " 0.000"));  // same microsecond
    EXPECT_EQ(push_at(1'073'333), rate_line(" 33333", "30.000"));
    EXPECT_EQ(push_at(3'073'333), rate_line("2000000", " 0.500"));
}

TEST_F(VxRate, AClockSetBackGivesTheUnsignedDifference) {
    push_at(5'000'000);
    EXPECT_EQ(push_at(4'999'000), rate_line("18446744073709550616", " 0.000"));
}

TEST_F(VxRate, StopKeepsTheLastTimeAndStartForgetsIt) {
    push_at(7'000'000);
    gst_element_set_state(element_, GST_STATE_NULL);
    EXPECT_EQ(reinterpret_cast<GstVxRate*>(element_)->last_time, 7'000'000u);
    gst_harness_play(harness_);
    gst_harness_set_src_caps_str(harness_, "video/x-raw");
    EXPECT_EQ(push_at(7'040'000), rate_line("     0", " 0.000"));
}

TEST_F(VxRate, BuffersLeaveUnchangedAndInOrderWhateverTheCaps) {
    gst_harness_set_src_caps_str(harness_, "application/x-anything, n=(int)3");
    set_clock(1);
    for (guint8 i = 0; i < 5; ++i) {
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, 3, nullptr);
        const guint8 bytes[3] = {i, static_cast<guint8>(i * 7), 0xEE};
        gst_buffer_fill(buffer, 0, bytes, sizeof bytes);
        GST_BUFFER_PTS(buffer) = i * GST_SECOND;
        GST_BUFFER_OFFSET(buffer) = 100 + i;
        ASSERT_EQ(gst_harness_push(harness_, buffer), GST_FLOW_OK);
    }
    for (guint8 i = 0; i < 5; ++i) {
        GstBuffer* out = gst_harness_pull(harness_);
        guint8 bytes[3] = {};
        ASSERT_EQ(gst_buffer_get_size(out), 3u);
        gst_buffer_extract(out, 0, bytes, sizeof bytes);
        EXPECT_EQ(bytes[0], i);
        EXPECT_EQ(bytes[1], i * 7);
        EXPECT_EQ(bytes[2], 0xEE);
        EXPECT_EQ(GST_BUFFER_PTS(out), i * GST_SECOND);
        EXPECT_EQ(GST_BUFFER_OFFSET(out), 100u + i);
        gst_buffer_unref(out);
    }
}

TEST_F(VxRate, EventsArePrintedThenHandledAsTheBaseClassDoes) {
    g_printed.clear();
    GstEvent* custom = gst_event_new_custom(
        GST_EVENT_CUSTOM_DOWNSTREAM, gst_structure_new("probe", "n", G_TYPE_INT, 5, nullptr));
    const int type = GST_EVENT_CUSTOM_DOWNSTREAM;
    ASSERT_TRUE(gst_harness_push_event(harness_, custom));
    EXPECT_EQ(g_printed, "vxrate: event (rate : sink) E (type: " + std::to_string(type) +
                             ", probe, n=(int)5;)\n");
    // Forwarded downstream by the base class.
    GstEvent* forwarded = nullptr;
    while ((forwarded = gst_harness_try_pull_event(harness_)) != nullptr &&
           GST_EVENT_TYPE(forwarded) != GST_EVENT_CUSTOM_DOWNSTREAM) {
        gst_event_unref(forwarded);
    }
    ASSERT_NE(forwarded, nullptr);
    gst_event_unref(forwarded);
}

TEST_F(VxRate, AnEventWithoutStructurePrintsAnEmptyText) {
    g_printed.clear();
    ASSERT_TRUE(gst_harness_push_event(harness_, gst_event_new_eos()));
    EXPECT_EQ(g_printed,
              "vxrate: event (rate : sink) E (type: " + std::to_string(GST_EVENT_EOS) + ", )\n");
}

TEST(VxRateAlone, ASinkPadWithoutParentIsNamedByTwoApostrophes) {
    GstElement* element = gst_element_factory_make("vxrate", "lonely");
    GstBaseTransform* trans = GST_BASE_TRANSFORM(element);
    GstPad* sinkpad = GST_PAD(gst_object_ref(trans->sinkpad));
    gst_element_remove_pad(element, sinkpad);
    g_printed.clear();
    GST_BASE_TRANSFORM_GET_CLASS(trans)->sink_event(trans, gst_event_new_eos());
    EXPECT_EQ(g_printed,
              "vxrate: event ('' : sink) E (type: " + std::to_string(GST_EVENT_EOS) + ", )\n");
    gst_object_unref(sinkpad);
    gst_object_unref(element);
}

TEST(VxRateAlone, RegisteredTypeAndTemplates) {
    EXPECT_STREQ(g_type_name(gst_vxrate_get_type()), "GstVxRate");
    EXPECT_EQ(g_type_parent(gst_vxrate_get_type()), GST_TYPE_BASE_TRANSFORM);
    GstElementFactory* factory = gst_element_factory_find("vxrate");
    ASSERT_NE(factory, nullptr);
    const GList* templates = gst_element_factory_get_static_pad_templates(factory);
    ASSERT_EQ(g_list_length(const_cast<GList*>(templates)), 2u);
    auto* first = static_cast<GstStaticPadTemplate*>(templates->data);
    auto* second = static_cast<GstStaticPadTemplate*>(templates->next->data);
    EXPECT_STREQ(first->name_template, "src");
    EXPECT_EQ(first->direction, GST_PAD_SRC);
    EXPECT_STREQ(second->name_template, "sink");
    EXPECT_EQ(second->direction, GST_PAD_SINK);
    EXPECT_EQ(gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(factory)), 256u);
    gst_object_unref(factory);
}

}  // namespace
