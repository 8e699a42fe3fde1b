# SPDX-License-Identifier: MIT
"""sensreg through the simulated MT9D131: printed columns, the exact register
requests each access makes, and every refusal of a command line."""

import pytest

from project import VERSION

USAGE = (
    b"Usage:\n"
    b"\tsensreg [-dec] [-hex] [-bin] 'reg'           page addr    [msb:lsb] [value] |\n"
    b"\tsensreg [-dec] [-hex] [-bin] 'phys' b[yte]|w[ord] addr    [msb:lsb] [value] |\n"
    b"\tsensreg [-dec] [-hex] [-bin] 'log'  b[yte]|w[ord] id offs [msb:lsb] [value]\n"
)

OPEN = "open /dev/v4l/video0 O_RDWR|O_NOATIME = 3"


def probe(value="0x1803"):
    return [f"VIDIOC_DBG_G_REGISTER reg=0x00 = {value}",
            f"VIDIOC_G_CAM_SENSOR_REG reg=0x00 = {value}"]


def dbg_set(reg, value):
    return f"VIDIOC_DBG_S_REGISTER reg=0x{reg:02X} val=0x{value:04X} = 0"


def dbg_get(reg, value):
    return f"VIDIOC_DBG_G_REGISTER reg=0x{reg:02X} = 0x{value:04X}"


@pytest.fixture
def sensor(board):
    """A board whose page 0 register 0 holds 0x1803 and register 0x20 0x1234."""
    board.set_reg(0, 0x00, 0x1803)
    board.set_reg(0, 0x20, 0x1234)
    board.set_reg(1, 0xC6, 0)
    return board


@pytest.mark.parametrize("words, line", [
    (["reg", "0", "0"], b" 6147 0x1803 0001,1000,0000,0011\n"),
    (["reg", "0", "0x20"], b" 4660 0x1234 0001,0010,0011,0100\n"),
    (["-hex", "reg", "0", "0x20"], b"0x1234\n"),
    (["-dec", "reg", "0", "0x20"], b"4660\n"),
    (["-bin", "reg", "0", "0x20"], b"0001,0010,0011,0100\n"),
    (["-dec", "-hex", "reg", "0", "0x20"], b" 4660 0x1234\n"),
    (["-hex", "-bin", "reg", "0", "0x20"], b"0x1234 0001,0010,0011,0100\n"),
    (["-hex", "-hex", "reg", "0", "0x20"], b"0x1234\n"),
    (["-dec", "-bin", "reg", "0", "0x20", "7:4"], b"    3 0000,0000,0000,0011\n"),
    (["reg", "0", "0x20", "15:0"], b" 4660 0x1234 0001,0010,0011,0100\n"),
    (["-hex", "REG", "00", "040"], b"0x1234\n"),  # octal register number
])
def test_register_read_columns(sensor, words, line):
    result = sensor.run("sensreg", *words)
    assert (result.returncode, result.stdout, result.stderr) == (0, line, b"")


def test_register_read_requests(sensor):
    sensor.run("sensreg", "reg", "0", "0x20")
    assert sensor.trace() == [OPEN, *probe(), dbg_set(0xF0, 0), dbg_get(0x20, 0x1234),
                              "close = 0"]


def test_paged_read_selects_its_page_first(sensor):
    sensor.set_reg(2, 0x10, 0xBEEF)
    result = sensor.run("sensreg", "-hex", "reg", "2", "0x10")
    assert result.stdout == b"0xBEEF\n"
    assert sensor.trace()[3:5] == [dbg_set(0xF0, 2), dbg_get(0x10, 0xBEEF)]


def test_field_read_shifts_the_field_down(sensor):
    sensor.run("sensreg", "reg", "1", "0xC6", "0xA000")  # the variable-address register
    result = sensor.run("sensreg", "-hex", "reg", "1", "0xC6", "15:13")
    assert result.stdout == b"0x0005\n"


def test_register_write_prints_nothing(sensor):
    result = sensor.run("sensreg", "reg", "0", "0x20", "0x0300")
    assert (result.returncode, result.stdout, result.stderr) == (0, b"", b"")
    assert sensor.trace() == [OPEN, *probe(), dbg_set(0xF0, 0), dbg_set(0x20, 0x0300),
                              "close = 0"]
    assert sensor.reg(0, 0x20) == 0x0300


def test_field_write_reads_modifies_and_writes(sensor):
    result = sensor.run("sensreg", "reg", "0", "0x20", "9:8", "3")
    assert result.returncode == 0
    assert sensor.trace()[3:7] == [dbg_set(0xF0, 0), dbg_get(0x20, 0x1234),
                                   dbg_set(0xF0, 0), dbg_set(0x20, 0x1334)]
    assert sensor.reg(0, 0x20) == 0x1334


def test_field_write_takes_a_value_that_fills_the_field(sensor):
    sensor.run("sensreg", "reg", "0", "0x20", "1:0", "3")
    assert sensor.reg(0, 0x20) == 0x1237


def test_logical_variable_round_trip_in_separate_runs(sensor):
    assert sensor.run("sensreg", "log", "b", "1", "4", "0xA5").returncode == 0
    assert sensor.trace()[3:7] == [dbg_set(0xF0, 1), dbg_set(0xC6, 0xA104),
                                   dbg_set(0xF0, 1), dbg_set(0xC8, 0x00A5)]
    assert sensor.logical(1, 4) == 0xA5
    sensor.clear_trace()
    result = sensor.run("sensreg", "LOG", "Byte", "1", "4")
    assert result.stdout == b"165 0xA5 1010,0101\n"
    # The page register still selects page 1 from the last run.
    assert sensor.trace() == [OPEN, *probe("0x0000"), dbg_set(0xF0, 1), dbg_set(0xC6, 0xA104),
                              dbg_set(0xF0, 1), dbg_get(0xC8, 0x00A5), "close = 0"]


def test_sixteen_bit_logical_read_uses_the_word_address(sensor):
    sensor.run("sensreg", "log", "w", "0", "4", "0xBEEF")
    sensor.clear_trace()
    result = sensor.run("sensreg", "-hex", "log", "word", "0", "4")
    assert result.stdout == b"0xBEEF\n"
    assert dbg_set(0xC6, 0x2004) in sensor.trace()


def test_physical_variables(sensor):
    assert sensor.run("sensreg", "phys", "b", "0x1FFF", "0x7E").returncode == 0
    assert sensor.phys(0x1FFF) == 0x7E
    assert dbg_set(0xC6, 0x9FFF) in sensor.trace()
    result = sensor.run("sensreg", "-hex", "phys", "byte", "0x1FFF")
    assert result.stdout == b"0x7E\n"
    assert sensor.run("sensreg", "phys", "w", "0x100", "7").returncode == 0  # 7 is the value
    assert sensor.run("sensreg", "-dec", "phys", "w", "0x100").stdout == b"7\n"


def test_eight_bit_field_write_checks_the_merged_value(sensor):
    sensor.run("sensreg", "phys", "w", "0x10", "0x01FF")  # a byte read of 0x10 gives 0x01
    sensor.clear_trace()
    result = sensor.run("sensreg", "phys", "b", "0x10", "15:8", "0x12")
    assert result.returncode == 1
    assert result.stderr == b"sensreg: mt9d131_phys_var_check_args(): Wrong value (> 255): 4609\n"
    # The read went out; the write never did.
    assert sensor.trace()[-1] == dbg_get(0xC8, 0x0001)


@pytest.mark.parametrize("words, message", [
    (["reg", "3", "0"], b"sensreg: Wrong page 3\n"),
    (["reg", "-1", "0"], b"sensreg: Wrong page 4294967295\n"),
    (["reg", "0", "256"], b"sensreg: Wrong register | physical address number 256\n"),
    (["log", "w", "32", "0"], b"sensreg: Wrong logical variable id 32\n"),
    (["log", "w", "1", "0x100"], b"sensreg: Wrong register | physical address number 256\n"),
    (["log", "x", "1", "0"], b"sensreg: Wrong width x\n"),
    (["phys", "words", "0"], b"sensreg: Wrong width words\n"),
    (["-DEC", "reg", "0", "0"], b"sensreg: Unknown access mode -DEC\n"),
    (["-dec", "-hex", "-bin", "reg", "0", "0"], b"sensreg: Unknown access mode -bin\n"),
    (["regs", "0", "0"], b"sensreg: Unknown access mode regs\n"),
    (["reg", "0", "0", "3:"], b"sensreg: Wrong format for msb:lsb : '3:'\n"),
    (["reg", "0", "0", ":3"], b"sensreg: Wrong format for msb:lsb : ':3'\n"),
    (["reg", "0", "0", "a:b"], b"sensreg: Wrong format for msb:lsb : 'a:b'\n"),
    (["reg", "0", "0", "3:5"], b"sensreg: Wrong format for msb:lsb : '3:5'\n"),
    # The field word is checked before the page, the page before the register.
    (["reg", "9", "999", "3:5"], b"sensreg: Wrong format for msb:lsb : '3:5'\n"),
    (["reg", "9", "999"], b"sensreg: Wrong page 9\n"),
    (["log", "q", "99", "999"], b"sensreg: Wrong width q\n"),
    (["log", "b", "99", "999"], b"sensreg: Wrong register | physical address number 999\n"),
    # Words that are no numbers, values wider than what they are written to.
    (["reg", "zero", "0"], b"sensreg: 'zero' is not a number\n"),
    (["reg", "0", "0x20junk"], b"sensreg: '0x20junk' is not a number\n"),
    (["log", "b", "one", "4"], b"sensreg: 'one' is not a number\n"),
    (["reg", "0", "0x20", "none"], b"sensreg: 'none' is not a number\n"),
    (["reg", "0", "0x20", ""], b"sensreg: '' is not a number\n"),
    (["reg", "0", "0x20", "0x12345"], b"sensreg: value 0x12345 does not fit in 16 bits\n"),
    (["reg", "0", "0x20", "0xFFFFFFFFF"], b"sensreg: value 0xFFFFFFFFF does not fit in 16 bits\n"),
    (["reg", "0", "0x20", "-1"], b"sensreg: value -1 does not fit in 16 bits\n"),
    (["log", "b", "1", "4", "256"], b"sensreg: value 256 does not fit in 8 bits\n"),
    (["reg", "0", "0x20", "1:0", "7"], b"sensreg: value 7 does not fit in 2 bits\n"),
    (["phys", "w", "0x100", "15:0", "0x10000"],
     b"sensreg: value 0x10000 does not fit in 16 bits\n"),
    (["reg", "0", "0x20", "2147483647:2147483647", "2"],
     b"sensreg: value 2 does not fit in 1 bit\n"),
])
def test_refusals_reach_no_device(board, words, message):
    result = board.run("sensreg", *words)
    assert (result.returncode, result.stdout, result.stderr) == (1, b"", message)
    assert board.trace() == []


@pytest.mark.parametrize("words", [
    [], ["reg"], ["reg", "0"],
    ["reg", "0", "0", "1", "2", "3", "4", "5", "6", "7"],
    # Within the count, but a fixed word of the mode is missing.
    ["log", "w", "1"], ["-dec", "-hex", "reg", "0"], ["-hex", "phys", "b"],
    ["-dec", "-hex", "log", "w", "1"],
])
def test_wrong_argument_counts_print_usage(board, words):
    result = board.run("sensreg", *words)
    assert (result.returncode, result.stdout, result.stderr) == (1, b"", USAGE)
    assert board.trace() == []


@pytest.mark.parametrize("words, status, stdout, stderr", [
    (["--version"], 0, f"sensreg {VERSION}\n".encode(), b""),
    (["--help"], 1, b"", USAGE),
    (["-h"], 1, b"", USAGE),
])
def test_command_line_answers_touch_no_device(board, words, status, stdout, stderr):
    result = board.run("sensreg", *words)
    assert (result.returncode, result.stdout, result.stderr) == (status, stdout, stderr)
    assert board.trace() == []


def test_words_after_the_value_are_ignored(sensor):
    assert sensor.run("sensreg", "reg", "0", "0x20", "5", "extra", "words").returncode == 0
    assert sensor.reg(0, 0x20) == 5


def test_physical_address_check_comes_from_the_library(board):
    result = board.run("sensreg", "phys", "b", "0x2000")
    assert result.stderr == b"sensreg: mt9d131_phys_var_check_args(): Wrong address (> 0x1fff): 8192\n"
    assert board.trace() == ["open /dev/v4l/video0 O_RDWR|O_NOATIME = 3"]


class TestAccessMethod:
    def test_debug_requests_win_when_both_work(self, sensor):
        sensor.run("sensreg", "reg", "0", "0x20", "1")
        assert [l.split()[0] for l in sensor.trace()[1:-1]] == [
            "VIDIOC_DBG_G_REGISTER", "VIDIOC_G_CAM_SENSOR_REG",
            "VIDIOC_DBG_S_REGISTER", "VIDIOC_DBG_S_REGISTER"]

    def test_private_requests_when_debug_is_rejected(self, sensor):
        result = sensor.run("sensreg", "-hex", "reg", "0", "0x20", settings={"reg_forms": "private"})
        assert result.stdout == b"0x1234\n"
        assert sensor.trace() == [
            OPEN, "VIDIOC_DBG_G_REGISTER reg=0x00 = -ENOTTY",
            "VIDIOC_G_CAM_SENSOR_REG reg=0x00 = 0x1803",
            "VIDIOC_S_CAM_SENSOR_REG reg=0xF0 val=0x0000 = 0",
            "VIDIOC_G_CAM_SENSOR_REG reg=0x20 = 0x1234", "close = 0"]

    def test_private_write_sends_both_bytes(self, sensor):
        sensor.run("sensreg", "reg", "2", "0x33", "0xABCD", settings={"dbg_errno": "EINVAL"})
        assert sensor.trace()[-2] == "VIDIOC_S_CAM_SENSOR_REG reg=0x33 val=0xABCD = 0"
        assert sensor.reg(2, 0x33) == 0xABCD

    def test_both_rejected_names_the_private_error(self, sensor):
        result = sensor.run("sensreg", "reg", "0", "0",
                            settings={"dbg_errno": "EINVAL", "priv_errno": "EIO"})
        assert result.returncode == 1
        assert result.stderr == (b"sensreg: Neither VIDIOC_DBG_G_REGISTER nor "
                                 b"VIDIOC_G_CAM_SENSOR_REG work: Input/output error\n")
        assert len(sensor.trace()) == 3

    @pytest.mark.parametrize("form, silent", [("dbg", "0xFFFF"), ("private", "0xFFFF")])
    def test_a_driver_that_returns_no_value_reads_all_ones(self, sensor, form, silent):
        result = sensor.run("sensreg", "-hex", "reg", "0", "0",
                            settings={"reg_forms": form, "reg_novalue": 1})
        assert result.stdout == silent.encode() + b"\n"

    def test_interrupted_and_busy_requests_are_repeated(self, sensor):
        result = sensor.run("sensreg", "-hex", "reg", "0", "0x20",
                            settings={"burst": "EINTR:2,EAGAIN:1"})
        assert result.stdout == b"0x1234\n"
        trace = sensor.trace()
        assert trace[1:5] == ["VIDIOC_DBG_G_REGISTER = -EINTR"] * 2 + [
            "VIDIOC_DBG_G_REGISTER = -EAGAIN", "VIDIOC_DBG_G_REGISTER reg=0x00 = 0x1803"]
        assert len(trace) == 2 + 4 * 4

    def test_a_failing_request_names_itself(self, sensor):
        result = sensor.run("sensreg", "reg", "0", "0x20", settings={"fail_read": "0:0x20:EIO"})
        assert result.returncode == 1
        assert result.stderr == b"sensreg: VIDIOC_DBG_G_REGISTER: Input/output error\n"


class TestOpen:
    def test_open_failure(self, board):
        result = board.run("sensreg", "reg", "0", "0", settings={"open_errno": "ENOENT"})
        assert result.returncode == 1
        assert result.stderr == b"sensreg: Can't open device /dev/v4l/video0: No such file or directory\n"

    def test_noatime_refused_to_a_non_owner_opens_without_it(self, sensor):
        result = sensor.run("sensreg", "-hex", "reg", "0", "0", settings={"noatime_eperm": 1})
        assert result.stdout == b"0x1803\n"
        assert sensor.trace()[:2] == ["open /dev/v4l/video0 O_RDWR|O_NOATIME = -EPERM",
                                      "open /dev/v4l/video0 O_RDWR = 3"]

    def test_eperm_without_noatime_is_reported(self, board):
        result = board.run("sensreg", "reg", "0", "0", settings={"open_errno": "EPERM"})
        assert result.stderr == b"sensreg: Can't open device /dev/v4l/video0: Operation not permitted\n"
        assert len(board.trace()) == 2
