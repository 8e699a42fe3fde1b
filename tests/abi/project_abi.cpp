// SPDX-License-Identifier: MIT
// The project's own request numbers and record sizes, in the format of
// armhf_kernel_abi.c, so that the two can be compared line by line.
#include <cstdio>

#include "v4l2_requests.h"

#define REQUEST(name) std::printf("%s 0x%08lX\n", #name, static_cast<unsigned long>(name))
#define SIZE(type) std::printf("sizeof %s %zu\n", #type, sizeof(type))

int main() {
    REQUEST(VIDIOC_QUERYCAP);
    REQUEST(VIDIOC_G_FMT);
    REQUEST(VIDIOC_S_FMT);
    REQUEST(VIDIOC_REQBUFS);
    REQUEST(VIDIOC_QUERYBUF);
    REQUEST(VIDIOC_QBUF);
    REQUEST(VIDIOC_DQBUF);
    REQUEST(VIDIOC_STREAMON);
    REQUEST(VIDIOC_STREAMOFF);
    REQUEST(VIDIOC_G_PARM);
    REQUEST(VIDIOC_S_PARM);
    REQUEST(VIDIOC_S_CTRL);
    REQUEST(VIDIOC_S_JPEGCOMP);
    REQUEST(VIDIOC_DBG_S_REGISTER);
    REQUEST(VIDIOC_DBG_G_REGISTER);
    REQUEST(VIDIOC_G_CAM_SENSOR_REG);
    REQUEST(VIDIOC_S_CAM_SENSOR_REG);
    SIZE(v4l2_capability);
    SIZE(v4l2_format);
    SIZE(v4l2_streamparm);
    SIZE(v4l2_jpegcompression);
    SIZE(v4l2_requestbuffers);
    SIZE(v4l2_buffer);
    SIZE(v4l2_control);
    return 0;
}
