#include "stream.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "board_abi.h"
#include "frame_source.h"
#include "open_files.h"
#include "real_libc.h"
#include "settings.h"
#include "stream_owner.h"
#include "trace.h"

namespace boardsim {

namespace {

constexpr uint32_t kMaxBuffers = 64 + 32;
constexpr uint32_t kPage = 4096;
// Every buffer's time stamp is taken from the monotonic clock when the frame
// is complete, and a driver says so in each buffer's flags.
constexpr uint32_t kTimestampFlags = abi::kBufFlagTimestampMonotonic;

// What the driver keeps between opens and shares with every process that
// opens the device: $BOARDSIM_DIR/driver.state.
struct driver_state {
    char magic[8];
    uint32_t width, height, pixfmt, bytesperline, sizeimage;
    uint32_t tpf_num, tpf_den;
    int32_t quality;
    int32_t rotate, awb, autogain;
    uint32_t buf_count, buf_length;
};

// What belongs to this process's open device.
struct process_stream {
    bool streaming = false;
    uint32_t queue[kMaxBuffers];  // FIFO of queued indices
    uint32_t head = 0, size = 0;
    bool queued[kMaxBuffers] = {};
    uint32_t next_seq = 0;
    timespec t0{};
    int buffers_fd = -1;
    uint8_t* buffers = nullptr;
    size_t buffers_size = 0;
};
process_stream g_stream;

template <typename T>
T* map_shared_file(const char* name, size_t size, bool* fresh) {
    const std::string path = get_settings().dir + "/" + name;
    *fresh = false;
    int fd = real::open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) {
        fd = real::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        *fresh = true;
    }
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
        return nullptr;
    }
    void* p = real::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    real::close(fd);
    return p == MAP_FAILED ? nullptr : static_cast<T*>(p);
}

void adjust_format(driver_state* d, uint32_t width, uint32_t height, uint32_t pixfmt) {
    // The sensor's limits, in steps the scaler supports.
    d->width = std::clamp<uint32_t>(width, 32, 1600) & ~15U;
    d->height = std::clamp<uint32_t>(height, 16, 1200) & ~7U;
    if (pixfmt != abi::kFourccGREY && pixfmt != abi::kFourccJPEG) {
        pixfmt = abi::kFourccYU12;
    }
    d->pixfmt = pixfmt;
    const uint32_t luma = d->width * d->height;
    if (pixfmt == abi::kFourccGREY) {
        d->bytesperline = d->width;
        d->sizeimage = luma;
    } else if (pixfmt == abi::kFourccYU12) {
        d->bytesperline = d->width;
        d->sizeimage = luma * 3 / 2;
    } else {
        d->bytesperline = 0;
        d->sizeimage = luma + 4096;  // room for any picture at the highest quality
    }
}

driver_state* driver() {
    static driver_state* const d = [] {
        bool fresh = false;
        auto* state = map_shared_file<driver_state>("driver.state", sizeof(driver_state), &fresh);
        if (state != nullptr && (fresh || std::memcmp(state->magic, "MXCV4L2", 8) != 0)) {
            std::memset(state, 0, sizeof *state);
            std::memcpy(state->magic, "MXCV4L2", 8);
            adjust_format(state, 640, 480, abi::kFourccYU12);
            state->tpf_num = 1;
            state->tpf_den = 30;
            state->quality = 75;
        }
        return state;
    }();
    return d;
}

uint32_t reported_field() {
    return get_settings().field < 0 ? 1U : static_cast<uint32_t>(get_settings().field);
}

void fill_format(const driver_state* d, abi::format* f) {
    std::memset(f->raw, 0, sizeof f->raw);
    f->pix.width = d->width;
    f->pix.height = d->height;
    f->pix.pixelformat = d->pixfmt;
    f->pix.field = reported_field();
    f->pix.bytesperline = d->bytesperline;
    f->pix.sizeimage = d->sizeimage;
    f->pix.colorspace = d->pixfmt == abi::kFourccJPEG ? 7 : 1;  // JPEG or SMPTE170M
}

void fill_parm(const driver_state* d, abi::streamparm* p) {
    std::memset(p->raw, 0, sizeof p->raw);
    p->capture.capability = abi::kCapTimeperframe;
    p->capture.tpf_numerator = d->tpf_num;
    p->capture.tpf_denominator = d->tpf_den;
    p->capture.readbuffers = 1;
}

const char* fourcc(uint32_t f, char (&text)[5]) {
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((f >> (8 * i)) & 0xFF);
        text[i] = c >= 32 && c < 127 ? c : '.';
    }
    text[4] = '\0';
    return text;
}

bool open_buffers(const driver_state* d) {
    const size_t size = static_cast<size_t>(d->buf_count) * d->buf_length;
    if (g_stream.buffers != nullptr && g_stream.buffers_size == size) {
        return true;
    }
    if (g_stream.buffers != nullptr) {
        munmap(g_stream.buffers, g_stream.buffers_size);
        g_stream.buffers = nullptr;
    }
    if (g_stream.buffers_fd < 0) {
        const std::string path = get_settings().dir + "/buffers";
        g_stream.buffers_fd = real::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    }
    if (g_stream.buffers_fd < 0 || size == 0) {
        return size == 0;
    }
    struct stat st {};
    if (fstat(g_stream.buffers_fd, &st) != 0 || static_cast<size_t>(st.st_size) < size) {
        if (ftruncate(g_stream.buffers_fd, static_cast<off_t>(size)) != 0) {
            return false;
        }
    }
    void* p = real::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, g_stream.buffers_fd, 0);
    if (p == MAP_FAILED) {
        return false;
    }
    g_stream.buffers = static_cast<uint8_t*>(p);
    g_stream.buffers_size = size;
    return true;
}

int reqbufs(uint32_t file, abi::requestbuffers* r) {
    driver_state* d = driver();
    if (r->type != 1 || r->memory != 1) {
        return -EINVAL;
    }
    if (stream_owned_by_other(file)) {
        return -EBUSY;
    }
    if (g_stream.streaming) {
        return -EBUSY;
    }
    if (r->count == 0) {
        stream_release(file);
    } else if (const int rc = stream_claim(file); rc != 0) {
        return rc;
    }
    const uint32_t count = std::min({r->count, get_settings().max_bufs, kMaxBuffers});
    d->buf_count = count;
    d->buf_length = (d->sizeimage + kPage - 1) / kPage * kPage;
    g_stream.head = g_stream.size = 0;
    std::fill(std::begin(g_stream.queued), std::end(g_stream.queued), false);
    const bool allocated = open_buffers(d);
    if (!allocated || count == 0) {
        stream_release(file);  // no buffers: nothing to own
    }
    if (!allocated) {
        return -ENOMEM;
    }
    // A broken driver may report a count it never allocated.
    const uint32_t reported = get_settings().reqbufs_count;
    r->count = reported != 0 && count != 0 ? reported : count;
    r->capabilities = 1;        // MMAP
    r->flags_and_reserved = 0;  // no cache hints
    return 0;
}

int querybuf(abi::buffer* b) {
    const driver_state* d = driver();
    if (b->type != 1 || b->index >= d->buf_count) {
        return -EINVAL;
    }
    b->memory = 1;
    b->length = d->buf_length;
    b->offset = b->index * d->buf_length;
    b->flags = abi::kBufFlagMapped | kTimestampFlags |
               (g_stream.queued[b->index] ? abi::kBufFlagQueued : 0);
    b->field = 1;
    b->bytesused = 0;
    return 0;
}

int qbuf(abi::buffer* b) {
    const driver_state* d = driver();
    if ((b->flags & abi::kBufFlagRequestFd) != 0) {
        return -EBADR;  // no request API
    }
    if (b->type != 1 || b->memory != 1 || b->index >= d->buf_count || g_stream.queued[b->index]) {
        return -EINVAL;
    }
    g_stream.queued[b->index] = true;
    g_stream.queue[(g_stream.head + g_stream.size) % kMaxBuffers] = b->index;
    ++g_stream.size;
    b->flags = abi::kBufFlagMapped | abi::kBufFlagQueued | kTimestampFlags;
    return 0;
}

int64_t interval_ns(const driver_state* d) {
    if (d->tpf_num == 0 || d->tpf_den == 0) {
        return 1000000000 / 30;
    }
    return static_cast<int64_t>(d->tpf_num) * 1000000000 / d->tpf_den;
}

timespec due_time(const driver_state* d, uint32_t seq) {
    const int64_t ns = static_cast<int64_t>(g_stream.t0.tv_nsec) + interval_ns(d) * seq;
    return {g_stream.t0.tv_sec + static_cast<time_t>(ns / 1000000000),
            static_cast<long>(ns % 1000000000)};
}

// Waits until the next frame is due; -EINTR when a signal came first.
int wait_for_frame(const driver_state* d) {
    if (get_settings().unpaced) {
        return 0;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // A frame whose time has passed without a buffer was lost, as on a sensor.
    const int64_t elapsed =
        (now.tv_sec - g_stream.t0.tv_sec) * 1000000000LL + now.tv_nsec - g_stream.t0.tv_nsec;
    const auto missed = static_cast<uint32_t>(elapsed / interval_ns(d));
    if (missed > g_stream.next_seq) {
        g_stream.next_seq = missed;
    }
    const timespec due = due_time(d, g_stream.next_seq);
    const int rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
    return rc == 0 ? 0 : -rc;
}

bool fault_applies(uint32_t seq) {
    const auto& seqs = get_settings().fault_seqs;
    return seqs.empty() || std::find(seqs.begin(), seqs.end(), seq) != seqs.end();
}

// Fills buffer `index` with frame `seq`, with the configured frame fault.
uint32_t produce_frame(const driver_state* d, uint32_t index, uint32_t seq,
                       uint32_t* reported_index) {
    const settings& s = get_settings();
    uint8_t* data = g_stream.buffers + static_cast<size_t>(index) * d->buf_length;
    const std::string& fault = fault_applies(seq) ? s.frame_fault : std::string();
    *reported_index = fault == "badindex" ? d->buf_count + 5 : index;
    if (fault == "empty") {
        return 0;
    }
    uint32_t used = render_frame({d->width, d->height, d->pixfmt}, seq, d->quality, s.jpeg_size,
                                 data, d->buf_length);
    if (d->pixfmt == abi::kFourccJPEG && used >= 4) {
        if (fault == "nosoi") {
            data[0] = data[1] = 0;
        } else if (fault == "noeoi") {
            data[used - 2] = data[used - 1] = 0;
        } else if (fault == "twoeoi") {
            // An end marker inside a comment right after the start marker.
            static const uint8_t comment[] = {0xFF, 0xFE, 0x00, 0x04, 0xFF, 0xD9};
            std::memmove(data + 2 + sizeof comment, data + 2, used - 2);
            std::memcpy(data + 2, comment, sizeof comment);
            used += sizeof comment;
        } else if (fault == "pastused") {
            used -= used / 4;  // the image runs on past what the driver reports
        }
    }
    if (fault == "overlong") {
        used = d->buf_length + 4096;
    }
    return used;
}

// Non-blocking descriptors get EAGAIN instead of a wait.
bool nonblocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK) != 0;
}

bool frame_due_now(const driver_state* d) {
    if (get_settings().unpaced) {
        return true;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const timespec due = due_time(d, g_stream.next_seq);
    return now.tv_sec > due.tv_sec || (now.tv_sec == due.tv_sec && now.tv_nsec >= due.tv_nsec);
}

int dqbuf(int fd, abi::buffer* b) {
    const driver_state* d = driver();
    if (b->type != 1 || b->memory != 1 || !g_stream.streaming) {
        return -EINVAL;
    }
    if (g_stream.size == 0 || !frame_due_now(d)) {
        if (nonblocking(fd)) {
            return -EAGAIN;
        }
        if (g_stream.size == 0) {
            pause();  // nothing queued: a driver waits for ever
            return -EINTR;
        }
    }
    if (const int rc = wait_for_frame(d); rc != 0) {
        return rc;
    }
    const uint32_t index = g_stream.queue[g_stream.head];
    g_stream.head = (g_stream.head + 1) % kMaxBuffers;
    --g_stream.size;
    g_stream.queued[index] = false;

    const uint32_t seq = g_stream.next_seq++;
    uint32_t reported = index;
    const uint32_t used = produce_frame(d, index, seq, &reported);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::memset(b, 0, sizeof *b);
    b->index = reported;
    b->type = 1;
    b->bytesused = used;
    b->flags = abi::kBufFlagMapped | kTimestampFlags;  // done, and now the client's
    b->field = 1;
    b->tv_sec = static_cast<int32_t>(now.tv_sec);
    b->tv_usec = static_cast<int32_t>(now.tv_nsec / 1000);
    b->sequence = seq;
    b->memory = 1;
    b->offset = index * d->buf_length;
    b->length = d->buf_length;
    return 0;
}

int streamon(const int* type) {
    const driver_state* d = driver();
    if (*type != 1 || d->buf_count == 0) {
        return -EINVAL;
    }
    if (g_stream.streaming) {
        return 0;
    }
    g_stream.streaming = true;
    g_stream.next_seq = 0;
    clock_gettime(CLOCK_MONOTONIC, &g_stream.t0);
    return 0;
}

int streamoff(const int* type) {
    if (*type != 1) {
        return -EINVAL;
    }
    g_stream.streaming = false;
    g_stream.head = g_stream.size = 0;
    std::fill(std::begin(g_stream.queued), std::end(g_stream.queued), false);
    return 0;
}

struct control_entry {
    uint32_t id;
    const char* name;
    int32_t minimum, maximum, step, default_value;
    uint32_t type;  // 1 integer, 2 boolean
};
constexpr control_entry kControls[] = {
    {abi::kCidAutoWhiteBalance, "White Balance, Automatic", 0, 1, 1, 1, 2},
    {abi::kCidAutogain, "Gain, Automatic", 0, 1, 1, 1, 2},
    {abi::kCidRotate, "Rotate", 0, 270, 90, 0, 1},
};

// Where the driver keeps a control's value.
int32_t* control_value(driver_state* d, uint32_t id) {
    switch (id) {
        case abi::kCidRotate:
            return &d->rotate;
        case abi::kCidAutoWhiteBalance:
            return &d->awb;
        case abi::kCidAutogain:
            return &d->autogain;
        default:
            return nullptr;
    }
}

// A value is brought into the control's range and onto its steps; the
// client reads back what was kept.
int set_control(abi::control* c) {
    int32_t* value = control_value(driver(), c->id);
    const auto* entry = std::find_if(std::begin(kControls), std::end(kControls),
                                     [c](const control_entry& e) { return e.id == c->id; });
    if (value == nullptr || entry == std::end(kControls)) {
        return -EINVAL;
    }
    const int64_t v = std::clamp<int64_t>(c->value, entry->minimum, entry->maximum);
    const int64_t steps = (v - entry->minimum + entry->step / 2) / entry->step;
    *value = static_cast<int32_t>(
        std::min<int64_t>(entry->minimum + steps * entry->step, entry->maximum));
    c->value = *value;
    return 0;
}

struct format_entry {
    uint32_t fourcc;
    const char* description;
    uint32_t flags;
};
constexpr format_entry kFormats[] = {
    {abi::kFourccYU12, "Planar YUV 4:2:0", 0},
    {abi::kFourccGREY, "8-bit Greyscale", 0},
    {abi::kFourccJPEG, "JFIF JPEG", 1},  // compressed
};

int enum_format(abi::fmtdesc* f) {
    if (f->type != 1 || f->index >= std::size(kFormats)) {
        return -EINVAL;
    }
    const format_entry& e = kFormats[f->index];
    const uint32_t index = f->index;
    std::memset(f, 0, sizeof *f);
    f->index = index;
    f->type = 1;
    f->flags = e.flags;
    std::snprintf(f->description, sizeof f->description, "%s", e.description);
    f->pixelformat = e.fourcc;
    return 0;
}

// Controls in id order; with V4L2_CTRL_FLAG_NEXT_CTRL the next one after the id.
int query_control(abi::queryctrl* q) {
    constexpr uint32_t kNext = 0x80000000;
    const bool next = (q->id & kNext) != 0;
    const uint32_t id = q->id & ~kNext;
    for (const control_entry& c : kControls) {
        if (next ? c.id > id : c.id == id) {
            std::memset(q, 0, sizeof *q);
            q->id = c.id;
            q->type = c.type;
            std::snprintf(q->name, sizeof q->name, "%s", c.name);
            q->minimum = c.minimum;
            q->maximum = c.maximum;
            q->step = c.step;
            q->default_value = c.default_value;
            return 0;
        }
    }
    return -EINVAL;
}

int get_control(abi::control* c) {
    const int32_t* value = control_value(driver(), c->id);
    if (value == nullptr) {
        return -EINVAL;
    }
    c->value = *value;
    return 0;
}

// The device's descriptor is a timer that is readable when a frame can be
// dequeued, so that select(), epoll and ppoll wait for frames as on a driver.
// An expired timer stays readable, so the timer is set again only when what
// it should say changes (unpaced: only when the queue empties or fills).
void update_readiness(int fd) {
    static int armed_fd = -1;
    static timespec armed{};
    timespec due{};
    if (g_stream.streaming && g_stream.size > 0) {
        due = get_settings().unpaced ? timespec{0, 1} : due_time(driver(), g_stream.next_seq);
    }
    if (fd == armed_fd && due.tv_sec == armed.tv_sec && due.tv_nsec == armed.tv_nsec) {
        return;
    }
    itimerspec when{};
    when.it_value = due;
    if (timerfd_settime(fd, TFD_TIMER_ABSTIME, &when, nullptr) == 0) {
        armed_fd = fd;
        armed = due;
    }
}

// Requests that only the owner of the buffers may make.
bool owner_only(unsigned long request) {
    return request == abi::QBUF || request == abi::DQBUF || request == abi::STREAMON ||
           request == abi::STREAMOFF;
}

int serve_format(unsigned long request, driver_state* d, abi::format* f) {
    const uint32_t w = f->pix.width, h = f->pix.height, pf = f->pix.pixelformat;
    char rb[24];
    char fc[5];
    int rc = -EINVAL;
    if (f->type == 1) {
        rc = request == abi::S_FMT && g_stream.streaming ? -EBUSY : 0;
    }
    if (rc == 0 && request == abi::S_FMT) {
        adjust_format(d, w, h, pf);
        fill_format(d, f);
    } else if (rc == 0) {
        driver_state trial = *d;  // the same adjustment, nothing kept
        adjust_format(&trial, w, h, pf);
        fill_format(&trial, f);
    }
    trace("%s width=%u height=%u pixfmt=%s = %s",
          request == abi::S_FMT ? "VIDIOC_S_FMT" : "VIDIOC_TRY_FMT", w, h, fourcc(pf, fc),
          result_text(rc, rb));
    return rc;
}

}  // namespace

int stream_ioctl(int fd, unsigned long request, void* arg) {
    driver_state* d = driver();
    if (d == nullptr) {
        return -EIO;
    }
    char rb[24];
    if (owner_only(request) && stream_owned_by_other(open_file_of(fd))) {
        trace("%s = -EBUSY", request == abi::QBUF       ? "VIDIOC_QBUF"
                             : request == abi::DQBUF    ? "VIDIOC_DQBUF"
                             : request == abi::STREAMON ? "VIDIOC_STREAMON"
                                                        : "VIDIOC_STREAMOFF");
        return -EBUSY;
    }
    switch (request) {
        case abi::S_FMT:
        case abi::TRY_FMT:
            return serve_format(request, d, static_cast<abi::format*>(arg));
        case abi::G_FMT: {
            auto* f = static_cast<abi::format*>(arg);
            const int rc = f->type == 1 ? 0 : -EINVAL;
            if (rc == 0) {
                fill_format(d, f);
            }
            trace("VIDIOC_G_FMT = %s", result_text(rc, rb));
            return rc;
        }
        case abi::S_JPEGCOMP: {
            const auto* j = static_cast<const abi::jpegcompression*>(arg);
            const int rc = j->quality >= 0 && j->quality <= 100 ? 0 : -EINVAL;
            if (rc == 0) {
                d->quality = j->quality == 0 ? 1 : j->quality;
            }
            trace("VIDIOC_S_JPEGCOMP quality=%d = %s", j->quality, result_text(rc, rb));
            return rc;
        }
        case abi::G_JPEGCOMP: {
            auto* j = static_cast<abi::jpegcompression*>(arg);
            std::memset(j, 0, sizeof *j);
            j->quality = d->quality;
            trace("VIDIOC_G_JPEGCOMP = 0");
            return 0;
        }
        case abi::S_PARM: {
            auto* p = static_cast<abi::streamparm*>(arg);
            const uint32_t num = p->capture.tpf_numerator, den = p->capture.tpf_denominator;
            const int rc = p->type == 1 ? 0 : -EINVAL;
            if (rc == 0 && num != 0 && den != 0) {
                d->tpf_num = num;
                d->tpf_den = den;
            }
            trace("VIDIOC_S_PARM capability=0x%X timeperframe=%u/%u = %s", p->capture.capability,
                  num, den, result_text(rc, rb));
            if (rc == 0) {
                fill_parm(d, p);
            }
            return rc;
        }
        case abi::G_PARM: {
            auto* p = static_cast<abi::streamparm*>(arg);
            const int rc = p->type == 1 ? 0 : -EINVAL;
            if (rc == 0) {
                fill_parm(d, p);
            }
            trace("VIDIOC_G_PARM = %s", result_text(rc, rb));
            return rc;
        }
        case abi::ENUM_FMT: {
            auto* f = static_cast<abi::fmtdesc*>(arg);
            const int rc = enum_format(f);
            trace("VIDIOC_ENUM_FMT index=%u = %s", f->index, result_text(rc, rb));
            return rc;
        }
        case abi::QUERYCTRL: {
            auto* q = static_cast<abi::queryctrl*>(arg);
            const uint32_t id = q->id;
            const int rc = query_control(q);
            trace("VIDIOC_QUERYCTRL id=0x%08X = %s", id, result_text(rc, rb));
            return rc;
        }
        case abi::G_CTRL: {
            auto* c = static_cast<abi::control*>(arg);
            const int rc = get_control(c);
            trace("VIDIOC_G_CTRL id=0x%08X = %s", c->id, result_text(rc, rb));
            return rc;
        }
        case abi::S_CTRL: {
            auto* c = static_cast<abi::control*>(arg);
            const int32_t asked = c->value;
            const int rc = set_control(c);
            trace("VIDIOC_S_CTRL id=0x%08X value=%d = %s", c->id, asked, result_text(rc, rb));
            return rc;
        }
        case abi::REQBUFS: {
            auto* r = static_cast<abi::requestbuffers*>(arg);
            const uint32_t asked = r->count;
            const int rc = reqbufs(open_file_of(fd), r);
            trace("VIDIOC_REQBUFS count=%u = %s%s%u", asked, result_text(rc, rb),
                  rc == 0 ? " count=" : "", rc == 0 ? r->count : 0);
            return rc;
        }
        case abi::QUERYBUF: {
            auto* b = static_cast<abi::buffer*>(arg);
            const int rc = querybuf(b);
            trace("VIDIOC_QUERYBUF index=%u = %s", b->index, result_text(rc, rb));
            return rc;
        }
        case abi::QBUF: {
            auto* b = static_cast<abi::buffer*>(arg);
            const int rc = qbuf(b);
            update_readiness(fd);
            trace("VIDIOC_QBUF index=%u = %s", b->index, result_text(rc, rb));
            return rc;
        }
        case abi::DQBUF: {
            auto* b = static_cast<abi::buffer*>(arg);
            const int rc = dqbuf(fd, b);
            update_readiness(fd);
            if (rc == 0) {
                trace("VIDIOC_DQBUF index=%u sequence=%u bytesused=%u = 0", b->index, b->sequence,
                      b->bytesused);
            } else {
                trace("VIDIOC_DQBUF = %s", result_text(rc, rb));
            }
            return rc;
        }
        case abi::STREAMON: {
            const int rc = streamon(static_cast<const int*>(arg));
            update_readiness(fd);
            trace("VIDIOC_STREAMON = %s", result_text(rc, rb));
            return rc;
        }
        case abi::STREAMOFF: {
            const int rc = streamoff(static_cast<const int*>(arg));
            update_readiness(fd);
            trace("VIDIOC_STREAMOFF = %s", result_text(rc, rb));
            return rc;
        }
        default:
            return -ENOTTY;
    }
}

void* stream_mmap(void* addr, size_t length, int prot, int flags, off_t offset, int* error) {
    const driver_state* d = driver();
    char rb[24];
    void* p = MAP_FAILED;
    int rc = -EINVAL;
    const size_t end = static_cast<size_t>(offset) + length;
    if (d != nullptr && offset >= 0 && offset % kPage == 0 &&
        end <= static_cast<size_t>(d->buf_count) * d->buf_length && open_buffers(d)) {
        // MAP_LOCKED is the driver's business; the simulator's memory need not be locked.
        p = real::mmap(addr, length, prot, flags & ~MAP_LOCKED, g_stream.buffers_fd, offset);
        rc = p == MAP_FAILED ? -errno : 0;
    }
    trace("mmap offset=0x%lX length=%zu = %s", static_cast<unsigned long>(offset), length,
          result_text(rc, rb));
    *error = -rc;
    return p;
}

int stream_poll(pollfd* fds, int timeout_ms) {
    const settings& s = get_settings();
    const std::string& fault = s.poll_fault;
    char rb[24];
    int rc = 1;
    fds->revents = 0;
    if (fault == "timeout") {
        rc = 0;
    } else if (fault == "many") {
        fds->revents = POLLIN;
        rc = 2;
    } else if (fault.rfind("error:", 0) == 0) {
        rc = -parse_errno(fault.substr(6));
    } else if (fault == "err" || !g_stream.streaming || g_stream.size == 0) {
        fds->revents = POLLERR;
    } else if (fault == "nval") {
        fds->revents = POLLNVAL;
    } else if (fault == "hup") {
        fds->revents = POLLHUP | POLLIN;
    } else if (fault == "noin") {
        fds->revents = POLLOUT;
    } else if (timeout_ms != 0) {
        rc = wait_for_frame(driver());
        fds->revents = rc == 0 ? POLLIN | POLLRDNORM : 0;
        rc = rc == 0 ? 1 : rc;
    } else {
        fds->revents = POLLIN | POLLRDNORM;
    }
    trace("poll = %s revents=0x%X", result_text(rc, rb), fds->revents);
    return rc;
}

void stream_close(uint32_t file) {
    // Closing another open file of the device leaves the owner's stream alone.
    if (stream_owned_by_other(file)) {
        return;
    }
    if (stream_owned_by(file)) {
        driver()->buf_count = 0;  // the driver frees the buffers of a closed owner
    }
    stream_release(file);
    g_stream.streaming = false;
    g_stream.head = g_stream.size = 0;
    std::fill(std::begin(g_stream.queued), std::end(g_stream.queued), false);
}

}  // namespace boardsim
