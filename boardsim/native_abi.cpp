// SPDX-License-Identifier: MIT
#include "native_abi.h"

#include <linux/videodev2.h>

#include <cstring>

#include "board_abi.h"

namespace boardsim {

namespace {

constexpr bool kHostDiffers =
    sizeof(v4l2_format) != sizeof(abi::format) || sizeof(v4l2_buffer) != sizeof(abi::buffer);

unsigned long board_request(unsigned long request) {
    switch (request) {
        case VIDIOC_G_FMT:
            return abi::G_FMT;
        case VIDIOC_S_FMT:
            return abi::S_FMT;
        case VIDIOC_TRY_FMT:
            return abi::TRY_FMT;
        case VIDIOC_QUERYBUF:
            return abi::QUERYBUF;
        case VIDIOC_QBUF:
            return abi::QBUF;
        case VIDIOC_DQBUF:
            return abi::DQBUF;
        default:
            return 0;
    }
}

void to_board(const v4l2_buffer& n, abi::buffer* b) {
    std::memset(b, 0, sizeof *b);
    b->index = n.index;
    b->type = n.type;
    b->bytesused = n.bytesused;
    b->flags = n.flags;
    b->field = n.field;
    b->sequence = n.sequence;
    b->memory = n.memory;
    b->offset = n.m.offset;
    b->length = n.length;
}

void from_board(const abi::buffer& b, v4l2_buffer* n) {
    n->index = b.index;
    n->type = b.type;
    n->bytesused = b.bytesused;
    n->flags = b.flags;
    n->field = b.field;
    n->timestamp.tv_sec = b.tv_sec;
    n->timestamp.tv_usec = b.tv_usec;
    n->sequence = b.sequence;
    n->memory = b.memory;
    n->m.offset = b.offset;
    n->length = b.length;
}

}  // namespace

bool serve_native_request(int fd, unsigned long request, void* arg, board_request_server serve,
                          int* result) {
    const unsigned long board = kHostDiffers ? board_request(request) : 0;
    if (board == 0) {
        return false;
    }
    if (request == VIDIOC_G_FMT || request == VIDIOC_S_FMT || request == VIDIOC_TRY_FMT) {
        auto* native = static_cast<v4l2_format*>(arg);
        abi::format f{};
        f.type = native->type;
        std::memcpy(f.raw, &native->fmt, sizeof f.raw);
        *result = serve(fd, board, &f);
        std::memcpy(&native->fmt, f.raw, sizeof f.raw);
        return true;
    }
    auto* native = static_cast<v4l2_buffer*>(arg);
    abi::buffer b{};
    to_board(*native, &b);
    *result = serve(fd, board, &b);
    from_board(b, native);
    return true;
}

}  // namespace boardsim
