// SPDX-License-Identifier: MIT
// The simulator's own cost of a frame: dequeue and queue again, nothing else.
// The baseline beside which benchmarks show what vcapture adds.
//
//   dq_baseline WIDTH HEIGHT yuv420|grey|jpeg FRAMES
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board_abi.h"

using namespace boardsim;

int main(int argc, char* argv[]) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: dq_baseline WIDTH HEIGHT yuv420|grey|jpeg FRAMES\n");
        return 2;
    }
    const int fd = open("/dev/v4l/video0", O_RDWR);
    abi::format f{};
    f.type = 1;
    f.pix.width = static_cast<uint32_t>(std::atoi(argv[1]));
    f.pix.height = static_cast<uint32_t>(std::atoi(argv[2]));
    f.pix.pixelformat = std::strcmp(argv[3], "jpeg") == 0   ? abi::kFourccJPEG
                        : std::strcmp(argv[3], "grey") == 0 ? abi::kFourccGREY
                                                            : abi::kFourccYU12;
    abi::requestbuffers r{2, 1, 1, 0, 0};
    if (fd < 0 || ioctl(fd, abi::S_FMT, &f) != 0 || ioctl(fd, abi::REQBUFS, &r) != 0) {
        std::perror("dq_baseline");
        return 1;
    }
    for (uint32_t i = 0; i < r.count; ++i) {
        abi::buffer b{};
        b.index = i;
        b.type = 1;
        b.memory = 1;
        ioctl(fd, abi::QUERYBUF, &b);
        // Mapped as vcapture maps them, though never read here.
        [[maybe_unused]] void* mapped = mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED,
                                             fd, static_cast<off_t>(b.offset));
        ioctl(fd, abi::QBUF, &b);
    }
    int type = 1;
    ioctl(fd, abi::STREAMON, &type);
    const long frames = std::atol(argv[4]);
    for (long n = 0; n < frames; ++n) {
        abi::buffer b{};
        b.type = 1;
        b.memory = 1;
        if (ioctl(fd, abi::DQBUF, &b) != 0 || ioctl(fd, abi::QBUF, &b) != 0) {
            std::perror("dq_baseline");
            return 1;
        }
    }
    ioctl(fd, abi::STREAMOFF, &type);
    close(fd);
    return 0;
}
