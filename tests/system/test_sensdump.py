# SPDX-License-Identifier: MIT
"""sensdump through the simulated MT9D131."""

import pytest

from project import VERSION


def expected_line(reg, value):
    bits = format(value, "016b")
    grouped = ",".join(bits[i:i + 4] for i in range(0, 16, 4))
    return f"0x{reg:02X}: {value:5d} 0x{value:04X} {grouped}"


def test_dump_prints_every_register_of_the_page(board):
    board.set_reg(1, 0x00, 0x1803)
    board.set_reg(1, 0xFF, 0xFFFF)
    result = board.run("sensdump", "1")
    assert result.returncode == 0 and result.stderr == b""
    lines = result.stdout.decode().splitlines()
    assert len(lines) == 256
    assert lines[0] == "0x00:  6147 0x1803 0001,1000,0000,0011"
    assert lines[0xF0] == expected_line(0xF0, 1)  # the page register reads back the page
    assert lines[0xFF] == "0xFF: 65535 0xFFFF 1111,1111,1111,1111"
    for reg, line in enumerate(lines):
        if reg != 0xF0:
            assert line == expected_line(reg, board.reg(1, reg))


def test_dump_selects_the_page_once(board):
    chip = board.reg(board.page(), 0)  # the probe reads register 0 of the page selected
    board.run("sensdump", "2")
    trace = board.trace()
    assert trace[:4] == ["open /dev/v4l/video0 O_RDWR = 3",
                         f"VIDIOC_DBG_G_REGISTER reg=0x00 = 0x{chip:04X}",
                         f"VIDIOC_G_CAM_SENSOR_REG reg=0x00 = 0x{chip:04X}",
                         "VIDIOC_DBG_S_REGISTER reg=0xF0 val=0x0002 = 0"]
    reads = trace[4:-1]
    assert [l.split()[1] for l in reads] == [f"reg=0x{r:02X}" for r in range(256)]
    assert trace[-1] == "close = 0"


@pytest.mark.parametrize("word, page", [("0x2", 2), ("0", 0), ("01", 1), (" 1", 1)])
def test_page_forms(board, word, page):
    result = board.run("sensdump", word)
    assert result.returncode == 0
    assert f"val=0x{page:04X}" in board.trace()[3]


@pytest.mark.parametrize("word, number", [("3", b"3"), ("-1", b"4294967295"), ("256", b"256")])
def test_wrong_page_reaches_no_device(board, word, number):
    result = board.run("sensdump", word)
    assert (result.returncode, result.stdout) == (1, b"")
    assert result.stderr == b"sensdump: Wrong page " + number + b"\n\n"
    assert board.trace() == []


USAGE = b"Usage: sensdump page\n"


@pytest.mark.parametrize("words, status, stdout, stderr", [
    ([], 1, b"", USAGE),
    (["1", "2"], 1, b"", USAGE),
    (["--help"], 1, b"", USAGE),
    (["-h"], 1, b"", USAGE),
    (["abc"], 1, b"", USAGE),
    (["1junk"], 1, b"", USAGE),
    ([""], 1, b"", USAGE),
    (["--version"], 0, f"sensdump {VERSION}\n".encode(), b""),
])
def test_command_line_answers_touch_no_device(board, words, status, stdout, stderr):
    result = board.run("sensdump", *words)
    assert (result.returncode, result.stdout, result.stderr) == (status, stdout, stderr)
    assert board.trace() == []


def test_failed_read_keeps_the_lines_printed_so_far(board):
    result = board.run("sensdump", "0", settings={"fail_read": "0:0x10:EIO"})
    assert result.returncode == 1
    assert len(result.stdout.decode().splitlines()) == 16
    assert result.stderr == b"sensdump: VIDIOC_DBG_G_REGISTER: Input/output error\n"


def test_private_requests_through_the_whole_dump(board):
    board.set_reg(0, 0x05, 0x0204)
    result = board.run("sensdump", "0", settings={"reg_forms": "private"})
    assert result.stdout.decode().splitlines()[5] == "0x05:   516 0x0204 0000,0010,0000,0100"
    assert all(l.startswith(("open", "VIDIOC_DBG_G_REGISTER reg=0x00 = -", "VIDIOC_G_CAM",
                             "VIDIOC_S_CAM", "close")) for l in board.trace())
