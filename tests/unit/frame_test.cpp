// SPDX-License-Identifier: MIT
// The pieces of vcapture's frame loop that decide what a frame is: the JPEG
// marker search, the statistics line, the buffer table and the value texts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "frame_stats.h"
#include "jpeg_marker.h"
#include "kovlin_bufs.h"
#include "v4l2_text.h"

namespace {

using bytes = std::vector<uint8_t>;

int find(const bytes& b, uint8_t marker, int n) {
    return find_jpeg_marker(b.data(), marker, n);
}

TEST(JpegMarker, FirstFFFollowedByTheMarker) {
    const bytes b = {0x00, 0xFF, 0x00, 0xFF, 0xFF, 0xD8, 0x11, 0xFF, 0xD9};
    EXPECT_EQ(find(b, 0xD8, static_cast<int>(b.size()) - 1), 4);  // the second FF of FF FF D8
    EXPECT_EQ(find(b, 0xD9, static_cast<int>(b.size()) - 1), 7);
    EXPECT_EQ(find(b, 0xD9, 7), -1);  // a candidate at n is not looked at
    EXPECT_EQ(find(b, 0xD8, 0), -1);
    EXPECT_EQ(find(b, 0xD8, -3), -1);
}

struct image {
    jpeg_search result;
    uint32_t start = 0;
    uint32_t size = 0;
};

image search(const bytes& b, uint32_t bytesused) {
    image i;
    i.result =
        find_jpeg_image(b.data(), static_cast<uint32_t>(b.size()), bytesused, &i.start, &i.size);
    return i;
}

TEST(JpegImage, FromStartMarkerThroughEndMarker) {
    bytes b(64, 0);
    b[3] = 0xFF, b[4] = 0xD8, b[20] = 0xFF, b[21] = 0xD9;
    const image i = search(b, 30);
    EXPECT_EQ(i.result, jpeg_search::found);
    EXPECT_EQ(i.start, 3u);
    EXPECT_EQ(i.size, 19u);
}

TEST(JpegImage, AnEndMarkerAtThePayloadsEndWins) {
    bytes b(64, 0);
    b[0] = 0xFF, b[1] = 0xD8, b[10] = 0xFF, b[11] = 0xD9, b[38] = 0xFF, b[39] = 0xD9;
    const image i = search(b, 40);
    EXPECT_EQ(i.size, 40u);
}

TEST(JpegImage, TheWholeMappingIsSearched) {
    bytes b(64, 0);
    b[0] = 0xFF, b[1] = 0xD8, b[50] = 0xFF, b[51] = 0xD9;
    EXPECT_EQ(search(b, 20).size, 52u);  // the end lies past bytesused
}

TEST(JpegImage, MissingMarkers) {
    bytes b(64, 0);
    EXPECT_EQ(search(b, 64).result, jpeg_search::no_start);
    b[62] = 0xFF, b[63] = 0xD8;  // a start marker in the last two bytes is found...
    EXPECT_EQ(search(b, 64).result, jpeg_search::no_end);  // ...with no room for an end
    b[63] = 0x00;
    b[0] = 0xFF, b[1] = 0xD8, b[2] = 0xFF, b[3] = 0xD9;
    EXPECT_EQ(search(b, 64).size, 4u);
}

TEST(JpegImage, AnEndBeforeTheStartGivesAnEmptyImage) {
    bytes b(64, 0);
    b[30] = 0xFF, b[31] = 0xD8, b[8] = 0xFF, b[9] = 0xD9;
    const image i = search(b, 10);
    EXPECT_EQ(i.result, jpeg_search::found);
    EXPECT_EQ(i.size, 0u);
}

std::string stats_line(const frame_stats& s) {
    char buffer[512] = {};
    FILE* out = fmemopen(buffer, sizeof buffer, "w");
    print_frame_stats(out, s);
    std::fclose(out);
    return buffer;
}

// A size history holding only the given sizes.
struct history {
    double sizes[kSizeHistory];
    history(std::initializer_list<double> given) {
        for (double& size : sizes) {
            size = NAN;
        }
        int i = 0;
        for (const double size : given) {
            sizes[i++] = size;
        }
    }
};

TEST(FrameStats, FirstLineHasNoPeriodYet) {
    const history h{4608};
    EXPECT_EQ(
        stats_line({0, 0, 4608, 0, 0, 156, 4608, h.sizes}),
        "stream: buf: 0, seq:     0, bytes:   4608, frame period(usec):      0, rate:  0.000, "
        "jpeg search:      0, file sent:    156, kbitrate:    inf, avg:    inf ");
}

TEST(FrameStats, RatesOverTheCurrentPeriod) {
    const history h{15000, 25000};
    EXPECT_EQ(
        stats_line({1, 12345, 25000, 40000, 7, 250, 25000, h.sizes}),
        "stream: buf: 1, seq: 12345, bytes:  25000, frame period(usec):  40000, rate: 25.000, "
        "jpeg search:      7, file sent:    250, kbitrate: 5000.000, avg: 4000.000 ");
}

TEST(BufferTable, EntriesStartZeroedAndAreBoundsChecked) {
    kovlin_bufs* table = kovlin_bufs_new(3);
    EXPECT_EQ(table->count, 3u);
    EXPECT_EQ(kovlin_bufs_at(table, 2)->start, nullptr);
    EXPECT_EQ(kovlin_bufs_at(table, 2)->length, 0u);
    EXPECT_EXIT(kovlin_bufs_at(table, 3), testing::ExitedWithCode(1),
                "kovlin_bufs: Access beyond of the allocated buffers\n$");
    EXPECT_EXIT(kovlin_bufs_at(nullptr, 0), testing::ExitedWithCode(1),
                "kovlin_bufs: Access to unallocated buffers\n$");
    kovlin_bufs_free(table);
    kovlin_bufs_free(nullptr);
    kovlin_bufs* empty = kovlin_bufs_new(0);
    EXPECT_EQ(empty->entries, nullptr);
    kovlin_bufs_free(empty);
}

TEST(BufferTable, ACountWhoseSizeWouldWrapIsRefused) {
    if (sizeof(size_t) > sizeof(uint32_t)) {
        GTEST_SKIP() << "no 32-bit count wraps a 64-bit size";
    }
    // 2^29 entries of 8 bytes wrap to a zero-byte table.
    EXPECT_EXIT(kovlin_bufs_new(UINT32_C(1) << 29), testing::ExitedWithCode(1),
                "kovlin_bufs: 536870912 buffers are too many for a table\n$");
}

TEST(ValueTexts, FieldNamesAndFourcc) {
    EXPECT_STREQ(v4l2_field_name(0), "V4L2_FIELD_ANY");
    EXPECT_STREQ(v4l2_field_name(1), "V4L2_FIELD_NONE");
    EXPECT_STREQ(v4l2_field_name(9), "V4L2_FIELD_INTERLACED_BT");
    EXPECT_STREQ(v4l2_field_name(10), "Unknown V4L2_FIELD");
    EXPECT_STREQ(v4l2_field_name(12), "Unknown V4L2_FIELD");
    EXPECT_STREQ(fourcc_text(0x32315559), "YU12");
    EXPECT_STREQ(fourcc_text(0x4745504A), "JPEG");
}

}  // namespace
