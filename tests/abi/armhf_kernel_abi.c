// SPDX-License-Identifier: MIT
/* Request numbers and record sizes as Debian's armhf kernel headers define
 * them; compiled with arm-linux-gnueabihf-gcc and run under qemu-arm. */
#include <linux/videodev2.h>
#include <stdio.h>

#define REQUEST(name) printf("%s 0x%08lX\n", #name, (unsigned long)(name))
#define SIZE(type) printf("sizeof %s %zu\n", #type, sizeof(struct type))

int main(void) {
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
    /* The board's debug register requests carry the original 24-byte record,
     * which these headers no longer define: built from the _IOC encoding. */
    printf("VIDIOC_DBG_S_REGISTER 0x%08lX\n", (unsigned long)_IOC(_IOC_WRITE, 'V', 79, 24));
    printf("VIDIOC_DBG_G_REGISTER 0x%08lX\n",
           (unsigned long)_IOC(_IOC_READ | _IOC_WRITE, 'V', 80, 24));
    printf("VIDIOC_G_CAM_SENSOR_REG 0x%08lX\n",
           (unsigned long)_IOC(_IOC_READ | _IOC_WRITE, 'V', 84, 8));
    printf("VIDIOC_S_CAM_SENSOR_REG 0x%08lX\n", (unsigned long)_IOC(_IOC_WRITE, 'V', 85, 8));
    SIZE(v4l2_capability);
    SIZE(v4l2_format);
    SIZE(v4l2_streamparm);
    SIZE(v4l2_jpegcompression);
    SIZE(v4l2_requestbuffers);
    SIZE(v4l2_buffer);
    SIZE(v4l2_control);
    return 0;
}
