// SPDX-License-Identifier: MIT
// A peer for vcapture's buffer hand-off, for tests: it reads the one-byte
// messages on standard input, maps every announced buffer on the simulated
// device (by query and mmap, as a peer on a board does), reads the sequence
// number out of the pixels of each buffer it is handed, logs it to the
// simulator's trace and answers on the named pipe as the options say.
//
//   handoff_peer BASENAME [--delay-ms N] [--stop-after N] [--stop-byte B]
//                         [--wrong-index-at N] [--silent-after N]
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "board_abi.h"
#include "trace_file.h"

namespace {

using namespace boardsim;

struct options {
    std::string base;
    int delay_ms = 0;
    long stop_after = -1;  // answer with the stop byte instead of the Nth echo (1-based)
    int stop_byte = 0x40;
    long wrong_index_at = -1;  // answer the Nth frame with another index
    long silent_after = -1;    // never answer the Nth frame
};

struct mapped {
    uint8_t* start = nullptr;
    uint32_t length = 0;
};

int g_trace = -1;
uint64_t g_trace_max = 0;

void log_line(const std::string& line) {
    const std::string text = line + "\n";
    boardsim::trace_append(g_trace, text.data(), text.size(), g_trace_max);
}

uint32_t bits_from_row(const uint8_t* row, uint32_t width) {
    const uint32_t block = width / 32 > 0 ? width / 32 : 1;
    uint32_t seq = 0;
    for (uint32_t bit = 0; bit < 32; ++bit) {
        seq = seq << 1 | (row[bit * block + block / 2] > 128 ? 1U : 0U);
    }
    return seq;
}

uint32_t band_row(uint32_t height) {
    const uint32_t band = height >= 64 ? 16 : (height / 4 > 0 ? height / 4 : 1);
    return band / 2;
}

// The sequence number in a JPEG image found anywhere in the buffer.
long jpeg_sequence(const uint8_t* data, uint32_t length) {
    uint32_t start = 0;
    while (start + 1 < length && !(data[start] == 0xFF && data[start + 1] == 0xD8)) {
        ++start;
    }
    if (start + 1 >= length) {
        return -1;
    }
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data + start, length - start);
    long seq = -1;
    if (jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK) {
        cinfo.out_color_space = JCS_GRAYSCALE;
        jpeg_start_decompress(&cinfo);
        std::vector<uint8_t> row(cinfo.output_width);
        JSAMPROW rows[1] = {row.data()};
        const uint32_t wanted = band_row(cinfo.output_height);
        while (cinfo.output_scanline <= wanted) {
            jpeg_read_scanlines(&cinfo, rows, 1);
        }
        seq = static_cast<long>(bits_from_row(row.data(), cinfo.output_width));
        jpeg_abort_decompress(&cinfo);
    }
    jpeg_destroy_decompress(&cinfo);
    return seq;
}

options parse(int argc, char* argv[]) {
    options o;
    if (argc < 2) {
        std::fprintf(stderr, "usage: handoff_peer BASENAME [options]\n");
        std::exit(2);
    }
    o.base = argv[1];
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const long value = std::strtol(argv[i + 1], nullptr, 0);
        if (name == "--delay-ms") {
            o.delay_ms = static_cast<int>(value);
        } else if (name == "--stop-after") {
            o.stop_after = value;
        } else if (name == "--stop-byte") {
            o.stop_byte = static_cast<int>(value);
        } else if (name == "--wrong-index-at") {
            o.wrong_index_at = value;
        } else if (name == "--silent-after") {
            o.silent_after = value;
        }
    }
    return o;
}

// What the peer holds: the device, the format (asked for at the first map
// request: vcapture has set it by then), its mappings of the buffers, and
// the answer pipe (opened at the first answer: vcapture has it open then,
// and a capture that ends before its first frame leaves none).
struct peer {
    int device = -1;
    abi::format format{};
    std::vector<mapped> buffers = std::vector<mapped>(128);
    std::string fifo;
    int answers = -1;
    long frames = 0;
};

void map_buffer(peer* p, uint32_t index) {
    if (p->format.type == 0) {
        p->format.type = 1;
        ioctl(p->device, abi::G_FMT, &p->format);
    }
    abi::buffer query{};
    query.index = index;
    query.type = 1;
    query.memory = 1;
    if (ioctl(p->device, abi::QUERYBUF, &query) == 0) {
        void* start = mmap(nullptr, query.length, PROT_READ, MAP_SHARED, p->device,
                           static_cast<off_t>(query.offset));
        if (start != MAP_FAILED) {
            p->buffers[index] = {static_cast<uint8_t*>(start), query.length};
        }
    }
    log_line("peer map " + std::to_string(index));
}

// The sequence number in the pixels of buffer `index`; -1 when unmapped.
long sequence_in(const peer& p, uint8_t index) {
    const mapped& b = p.buffers[index];
    if (b.start == nullptr) {
        return -1;
    }
    const abi::pix_format& pix = p.format.pix;
    if (pix.pixelformat == abi::kFourccJPEG) {
        return jpeg_sequence(b.start, b.length);
    }
    const uint8_t* row = b.start + static_cast<size_t>(band_row(pix.height)) * pix.width;
    return static_cast<long>(bits_from_row(row, pix.width));
}

// What a query of the handed buffer reports of its frame, as a peer that
// stamps or sizes the frame reads it.
void log_query(const peer& p, uint8_t index) {
    abi::buffer query{};
    query.index = index;
    query.type = 1;
    query.memory = 1;
    if (ioctl(p.device, abi::QUERYBUF, &query) == 0) {
        // Microseconds zero-padded, so the stamp reads as the decimal it is.
        char stamp[40];
        std::snprintf(stamp, sizeof stamp, "%lld.%06lld", static_cast<long long>(query.tv_sec),
                      static_cast<long long>(query.tv_usec));
        log_line("peer query " + std::to_string(index) + " sequence=" +
                 std::to_string(query.sequence) + " bytesused=" + std::to_string(query.bytesused) +
                 " time=" + stamp);
    }
}

// False when the answer cannot be written: vcapture is gone.
bool send_answer(peer* p, uint8_t answer) {
    log_line("peer answer " + std::to_string(answer));
    if (p->answers < 0) {
        mkfifo(p->fifo.c_str(), 0660);  // or find the one vcapture made
        p->answers = open(p->fifo.c_str(), O_WRONLY);
    }
    return p->answers >= 0 && write(p->answers, &answer, 1) == 1;
}

// A frame handed over in buffer `index`: logged, then answered as the
// options say; false when the hand-off is over.
bool take_frame(peer* p, const options& o, uint8_t index) {
    ++p->frames;
    log_line("peer frame " + std::to_string(index) +
             " seq=" + std::to_string(sequence_in(*p, index)));
    log_query(*p, index);
    if (o.delay_ms > 0) {
        const timespec pause{o.delay_ms / 1000, (o.delay_ms % 1000) * 1000000L};
        nanosleep(&pause, nullptr);
    }
    if (p->frames == o.silent_after) {
        log_line("peer silent");
        return true;
    }
    uint8_t answer = index;
    if (p->frames == o.stop_after) {
        answer = static_cast<uint8_t>(o.stop_byte);
    } else if (p->frames == o.wrong_index_at) {
        answer = static_cast<uint8_t>((index + 1) & 0x3F);
    }
    return send_answer(p, answer);
}

}  // namespace

int main(int argc, char* argv[]) {
    const options o = parse(argc, argv);
    if (const char* dir = std::getenv("BOARDSIM_DIR")) {
        g_trace_max = boardsim::trace_max_bytes_from_environment();
        g_trace = open((std::string(dir) + "/trace").c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    }
    peer p;
    p.fifo = o.base + "_r";
    p.device = open("/dev/v4l/video0", O_RDWR);
    if (p.device < 0) {
        std::perror("handoff_peer: device");
        return 1;
    }
    uint8_t byte = 0;
    while (read(0, &byte, 1) == 1) {
        if ((byte & 0x80) != 0) {
            map_buffer(&p, byte & 0x7F);
        } else if (!take_frame(&p, o, byte)) {
            break;
        }
    }
    log_line("peer end");
    return 0;
}
