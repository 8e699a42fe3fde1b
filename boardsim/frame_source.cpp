// SPDX-License-Identifier: MIT
#include "frame_source.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// libjpeg's header needs size_t and FILE declared first.
#include <jpeglib.h>

namespace boardsim {

namespace {

constexpr uint8_t kDark = 16;
constexpr uint8_t kLight = 235;

void render_luma(uint8_t* y_plane, uint32_t width, uint32_t height, uint32_t seq) {
    if (width == 0) {
        return;
    }
    const uint32_t band = sequence_band_height(height);
    const uint32_t block = width / 32 > 0 ? width / 32 : 1;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = y_plane + static_cast<size_t>(y) * width;
        if (y < band) {
            for (uint32_t x = 0; x < width; ++x) {
                const uint32_t bit = x / block;
                row[x] = bit < 32 && ((seq >> (31 - bit)) & 1U) != 0 ? kLight : kDark;
            }
            continue;
        }
        // A diagonal ramp that drifts, a bright bar that sweeps across and
        // some fine grain, as a real scene has: consecutive frames differ
        // everywhere, and their JPEG images have a camera's sizes.
        const uint32_t bar = (seq * 8) % width;
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t ramp = (x + y + seq * 4) % 180;
            const uint32_t grain = ((x * 2654435761U) ^ (y * 40503U) ^ (seq * 97U)) >> 27;
            row[x] =
                (x - bar) % width < 16 ? kLight : static_cast<uint8_t>(kDark + 10 + ramp + grain);
        }
    }
}

void render_chroma(uint8_t* u_plane, uint8_t* v_plane, uint32_t width, uint32_t height) {
    const uint32_t cw = (width + 1) / 2;
    const uint32_t ch = (height + 1) / 2;
    for (uint32_t y = 0; y < ch; ++y) {
        for (uint32_t x = 0; x < cw; ++x) {
            u_plane[static_cast<size_t>(y) * cw + x] = static_cast<uint8_t>(96 + x * 64 / cw);
            v_plane[static_cast<size_t>(y) * cw + x] = static_cast<uint8_t>(96 + y * 64 / ch);
        }
    }
}

size_t yuv_size(uint32_t width, uint32_t height) {
    return static_cast<size_t>(width) * height +
           2 * static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2);
}

// The compressor set for raw YUV 4:2:0 input: luma at twice the chroma's
// resolution both ways, the fast integer transform.
void start_raw_compress(jpeg_compress_struct* cinfo, uint32_t width, uint32_t height, int quality) {
    cinfo->image_width = width;
    cinfo->image_height = height;
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_YCbCr;
    jpeg_set_defaults(cinfo);
    jpeg_set_colorspace(cinfo, JCS_YCbCr);
    jpeg_set_quality(cinfo, quality, TRUE);
    cinfo->raw_data_in = TRUE;
    cinfo->dct_method = JDCT_IFAST;
    cinfo->comp_info[0].h_samp_factor = 2;
    cinfo->comp_info[0].v_samp_factor = 2;
    for (int c = 1; c < 3; ++c) {
        cinfo->comp_info[c].h_samp_factor = 1;
        cinfo->comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(cinfo, TRUE);
}

// Hands the planes to the compressor 16 luma rows (8 chroma rows) at a time.
void write_raw_planes(jpeg_compress_struct* cinfo, const uint8_t* yuv, uint32_t width,
                      uint32_t height) {
    const uint32_t cw = (width + 1) / 2;
    const uint32_t ch = (height + 1) / 2;
    const uint8_t* y_plane = yuv;
    const uint8_t* u_plane = yuv + static_cast<size_t>(width) * height;
    const uint8_t* v_plane = u_plane + static_cast<size_t>(cw) * ch;
    JSAMPROW y_rows[16];
    JSAMPROW u_rows[8];
    JSAMPROW v_rows[8];
    JSAMPARRAY planes[3] = {y_rows, u_rows, v_rows};
    while (cinfo->next_scanline < cinfo->image_height) {
        const uint32_t top = cinfo->next_scanline;
        for (uint32_t i = 0; i < 16; ++i) {  // rows past the bottom repeat the last one
            const uint32_t y = top + i < height ? top + i : height - 1;
            y_rows[i] = const_cast<JSAMPROW>(y_plane + static_cast<size_t>(y) * width);
        }
        for (uint32_t i = 0; i < 8; ++i) {
            const uint32_t y = top / 2 + i < ch ? top / 2 + i : ch - 1;
            u_rows[i] = const_cast<JSAMPROW>(u_plane + static_cast<size_t>(y) * cw);
            v_rows[i] = const_cast<JSAMPROW>(v_plane + static_cast<size_t>(y) * cw);
        }
        jpeg_write_raw_data(cinfo, planes, 16);
    }
}

// Baseline JPEG of a YUV 4:2:0 picture, straight from its planes.
void encode_jpeg(const uint8_t* yuv, uint32_t width, uint32_t height, int quality,
                 std::vector<uint8_t>* out) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* mem = nullptr;
    unsigned long mem_size = 0;
    jpeg_mem_dest(&cinfo, &mem, &mem_size);
    start_raw_compress(&cinfo, width, height, quality);
    write_raw_planes(&cinfo, yuv, width, height);
    jpeg_finish_compress(&cinfo);
    out->assign(mem, mem + mem_size);
    jpeg_destroy_compress(&cinfo);
    std::free(mem);
}

// Comment segments after the start marker bring the image to `target` bytes.
void pad_jpeg(std::vector<uint8_t>* jpeg, size_t target) {
    size_t missing = target - jpeg->size();
    std::vector<uint8_t> padding;
    while (missing > 0) {
        size_t segment = missing > 65537 ? 65537 : missing;
        if (missing - segment > 0 && missing - segment < 4) {
            segment -= 4;  // leave room for one more whole segment
        }
        const size_t length = segment - 2;
        padding.insert(padding.end(), {0xFF, 0xFE, static_cast<uint8_t>(length >> 8),
                                       static_cast<uint8_t>(length & 0xFF)});
        padding.insert(padding.end(), segment - 4, 'p');
        missing -= segment;
    }
    jpeg->insert(jpeg->begin() + 2, padding.begin(), padding.end());
}

}  // namespace

uint32_t sequence_band_height(uint32_t height) {
    return height >= 64 ? 16 : (height / 4 > 0 ? height / 4 : 1);
}

uint32_t render_frame(const frame_geometry& g, uint32_t seq, int quality, uint32_t jpeg_size,
                      uint8_t* dst, uint32_t capacity) {
    static std::vector<uint8_t> yuv;
    static std::vector<uint8_t> jpeg;
    const size_t luma = static_cast<size_t>(g.width) * g.height;
    if (g.pixfmt != 0x4745504A /* JPEG */) {
        const size_t size = g.pixfmt == 0x59455247 /* GREY */ ? luma : yuv_size(g.width, g.height);
        if (size > capacity) {
            return 0;
        }
        render_luma(dst, g.width, g.height, seq);
        if (size > luma) {
            render_chroma(dst + luma, dst + luma + (size - luma) / 2, g.width, g.height);
        }
        return static_cast<uint32_t>(size);
    }

    yuv.resize(yuv_size(g.width, g.height));
    render_luma(yuv.data(), g.width, g.height, seq);
    render_chroma(yuv.data() + luma, yuv.data() + luma + (yuv.size() - luma) / 2, g.width,
                  g.height);
    encode_jpeg(yuv.data(), g.width, g.height, quality, &jpeg);
    if (jpeg_size != 0 && jpeg.size() + 4 > jpeg_size) {
        // Too large to pad: a small picture at low quality instead.
        std::vector<uint8_t> tiny(yuv_size(16, 16));
        render_luma(tiny.data(), 16, 16, seq);
        render_chroma(tiny.data() + 256, tiny.data() + 256 + 64, 16, 16);
        encode_jpeg(tiny.data(), 16, 16, 10, &jpeg);
    }
    if (jpeg_size != 0 && jpeg.size() + 4 <= jpeg_size) {
        pad_jpeg(&jpeg, jpeg_size);
    }
    const size_t size = jpeg.size() < capacity ? jpeg.size() : capacity;
    std::memcpy(dst, jpeg.data(), size);
    return static_cast<uint32_t>(size);
}

}  // namespace boardsim
