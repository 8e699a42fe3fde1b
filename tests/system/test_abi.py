# SPDX-License-Identifier: MIT
"""The project's request numbers and record sizes are the board's: compared
with what Debian's armhf kernel headers give for the standard requests."""

import shutil
import subprocess

import pytest

from pathlib import Path

PROBE = Path(__file__).parent.parent / "abi" / "armhf_kernel_abi.c"

# The numbers of the board's driver, written down once more by hand.
BOARD = {
    "VIDIOC_QUERYCAP": 0x80685600,
    "VIDIOC_S_FMT": 0xC0CC5605,
    "VIDIOC_G_FMT": 0xC0CC5604,
    "VIDIOC_S_JPEGCOMP": 0x408C563E,
    "VIDIOC_S_PARM": 0xC0CC5616,
    "VIDIOC_G_PARM": 0xC0CC5615,
    "VIDIOC_S_CTRL": 0xC008561C,
    "VIDIOC_REQBUFS": 0xC0145608,
    "VIDIOC_QUERYBUF": 0xC0445609,
    "VIDIOC_QBUF": 0xC044560F,
    "VIDIOC_DQBUF": 0xC0445611,
    "VIDIOC_STREAMON": 0x40045612,
    "VIDIOC_STREAMOFF": 0x40045613,
    "VIDIOC_DBG_G_REGISTER": 0xC0185650,
    "VIDIOC_DBG_S_REGISTER": 0x4018564F,
    "VIDIOC_G_CAM_SENSOR_REG": 0xC0085654,
    "VIDIOC_S_CAM_SENSOR_REG": 0x40085655,
}


def parse(text):
    values = {}
    for line in text.splitlines():
        name, value = line.rsplit(" ", 1)
        values[name] = int(value, 0)
    return values


@pytest.fixture(scope="module")
def kernel_abi(tmp_path_factory):
    gcc = shutil.which("arm-linux-gnueabihf-gcc")
    assert gcc, "arm-linux-gnueabihf-gcc is missing (tools/deps.sh installs it)"
    exe = tmp_path_factory.mktemp("abi") / "armhf_kernel_abi"
    subprocess.run([gcc, "-O0", "-o", str(exe), str(PROBE)], check=True)
    out = subprocess.run(["qemu-arm", "-L", "/usr/arm-linux-gnueabihf",
                          "-E", "LD_LIBRARY_PATH=/usr/arm-linux-gnueabihf/lib", str(exe)],
                         check=True, stdout=subprocess.PIPE, text=True).stdout
    return parse(out)


@pytest.fixture(scope="module")
def project_abi(programs):
    result = programs.run("project_abi")
    assert result.returncode == 0
    return parse(result.stdout.decode())


def test_project_matches_the_armhf_kernel_headers(kernel_abi, project_abi):
    assert project_abi == kernel_abi


def test_numbers_are_the_board_drivers(project_abi):
    assert {k: v for k, v in project_abi.items() if k in BOARD} == BOARD


def test_record_sizes_of_the_32_bit_abi(kernel_abi):
    assert kernel_abi["sizeof v4l2_buffer"] == 68
    assert kernel_abi["sizeof v4l2_format"] == 204
    assert kernel_abi["sizeof v4l2_streamparm"] == 204
    assert kernel_abi["sizeof v4l2_capability"] == 104
    assert kernel_abi["sizeof v4l2_jpegcompression"] == 140
    assert kernel_abi["sizeof v4l2_requestbuffers"] == 20


# The C library's calls whose 32-bit forms fail on a file past 2 GiB (or on a
# size that does not fit in 32 bits): a capture to a file reaches that size
# within minutes, so the board's programs must call only the 64-bit forms.
NARROW_FILE_CALLS = {"open", "openat", "creat", "fopen", "freopen", "mmap", "lseek", "ftruncate",
                     "truncate", "stat", "fstat", "lstat", "fstatat", "fseeko", "ftello",
                     "__xstat", "__fxstat", "__lxstat", "__fxstatat"}


@pytest.mark.parametrize("program", ["vcapture", "sensreg", "sensdump", "isptune", "fdiv", "vshare"])
def test_programs_use_64_bit_file_offsets(programs, program):
    exe = programs.bindir / program
    if exe.read_bytes()[4] != 1:  # ELF class: 1 is 32-bit
        pytest.skip("a 64-bit build has 64-bit file offsets in every form")
    table = subprocess.run(["readelf", "--dyn-syms", "--wide", str(exe)], check=True,
                           stdout=subprocess.PIPE, text=True).stdout
    imported = {line.split()[7].split("@")[0] for line in table.splitlines()
                if len(line.split()) >= 8 and line.split()[6] == "UND"}
    assert "open64" in imported or program == "fdiv"
    assert imported & NARROW_FILE_CALLS == set()
