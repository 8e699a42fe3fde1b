# SPDX-License-Identifier: MIT
"""isptune against the emulated Pixim module: command lines, wire bytes,
configuration files and every module fault."""

import os
import stat

import pytest

from project import VERSION

HELP = ("\nPIXIM configuration application\nSystem commands:\n  --help\n  --version\n"
        "  --writeconf     Write configuration from /etc/pixim.conf file to PIXIM\n"
        "  --readconf      Read configuration from PIXIM to /etc/pixim.conf file\n"
        "  --restore       Restore default confuration for PIXIM\n"
        "  --osddisable    Disable on screen display\nControl commands:\n"
        "  --write         Write parameter in PIXIM\n  --read          Read parameter from PIXIM\n"
        "Parameter list:\n  --gamma         0 - off; 1 - auto; 2 - manual\n"
        "  --gammavalue    25..100 step 1\n  --range         1 - auto; 2 - manual\n"
        "  --rangevalue    0..36 step 1\n  --aepreference  0 - highligts; 1 - shadows\n"
        "  --dn            1 - auto; 3 - on; 4 - off\n  --color         0 - color; 1 - bw1; 2 - bw2\n"
        "  --gain          1 - agc; 2 - manual\n  --gainvalue     -42..60 step 1\n"
        "  --wb            1 - atw, 2 - awb, 3 - manual\n  --wbmethod      1 - kelvin; 2 - red/blue\n"
        "  --wbkelvin      2000..11000 step 1\n  --wbred         -20..20 step 1\n"
        "  --wbblue        -20..20 step 1\n  --iris          0 - manual; 1 - DC auto iris\n"
        "  --irisgain      0..255 step 1\n  --irisoffset    0..255 step 1\n"
        "  --saturation    -8..8 step 1\n  --sharpness     -8..8 step 1\nExample:\n"
        "isptune --read --wb               read white balance mode from PIXIM\n"
        "isptune --write --saturation -6   write -6 saturation value in PIXIM\n\n").encode()

# Configuration-file order: id and width of each line.
ROWS = [(0x2E, 1), (0x2F, 1), (0x1A, 1), (0x1B, 1), (0x8F, 1), (0x30, 1), (0x33, 1), (0x22, 1),
        (0x23, 1), (0x25, 2), (0x26, 2), (0x27, 2), (0x12, 1), (0x15, 1), (0x16, 1), (0x75, 4),
        (0x38, 4), (0x0C, 1), (0x0F, 1)]


def frame(command, payload):
    body = bytes([command, len(payload), *payload])
    return body + bytes([~sum(body) & 0xFF])


def set_frame(pid, width, value):
    return frame(0x02, bytes([pid >> 8, pid & 0xFF]) + (value & ((1 << 8 * width) - 1)).to_bytes(width, "big"))


def isptune(board, *args):
    result = board.run("isptune", *args)
    return result.returncode, result.stdout.decode()


class TestCommandLine:
    def test_help_touches_nothing(self, board, module):
        result = board.run("isptune", "--write", "--help", "--gamma", "1")
        assert (result.returncode, result.stdout) == (0, HELP)
        assert module.frames() == []

    def test_write_then_read_in_separate_runs(self, board, module):
        assert isptune(board, "--write", "--gamma", "1") == (0, "gamma mode = 1\nOK\n")
        assert module.frames() == [("rx", bytes.fromhex("02 03 00 2E 01 CB")), ("tx", b"\x01")]
        assert isptune(board, "--read", "--gamma") == (0, "1\n")
        assert module.requests()[-1] == bytes.fromhex("03 02 00 2E CC")

    @pytest.mark.parametrize("option, value, wire", [
        ("--wbkelvin", "6500", "02 04 00 25 19 64 57"),
        ("--gainvalue", "-6", "02 03 00 0F FA F1"),
        ("--saturation", "-2", "02 06 00 75 FF FF FF FE 87"),
        ("--wbred", "-20", "02 04 00 26 FF EC E8"),
        ("--wbkelvin", "11000", "02 04 00 25 2A F8 B2"),
        ("--gainvalue", "-42", "02 03 00 0F D6 15"),
    ])
    def test_values_travel_at_their_width(self, board, module, option, value, wire):
        assert isptune(board, "--write", option, value)[0] == 0
        assert module.requests() == [bytes.fromhex(wire)]
        code, out = isptune(board, "--read", option)
        assert out == value + "\n"

    @pytest.mark.parametrize("args, out, written", [
        (["--write", "--dn", "2"], "day/night mode = 2\nOK\n", (0x30, 2)),
        (["--write", "--gamma", "abc"], "gamma mode = 0\nOK\n", (0x2E, 0)),
        (["--write", "--gamma", "--read"], "gamma mode = 0\nOK\n", (0x2E, 0)),
        (["--gamma", "1", "--write"], "OK\n", (0x2E, 0)),
        (["--write", "--gamma", "2", "--gammavalue", "50"],
         "gamma mode = 2\ngamma value = 50\nOK\n", (0x2F, 50)),
        (["--write", "--gainvalue", " +60xyz"], "gain value = 60\nOK\n", (0x0F, 60)),
        (["--write", "stray", "--iris", "1"], "iris mode = 1\nOK\n", (0x12, 1)),
    ])
    def test_writes_follow_the_argument_order(self, board, module, args, out, written):
        assert isptune(board, *args) == (0, out)
        assert module.requests() == [set_frame(written[0], 1, written[1])]

    def test_write_then_read_mode_reads(self, board, module):
        code, out = isptune(board, "--write", "--gamma", "1", "--read")
        assert out == "gamma mode = 1\n1\n"
        assert module.requests() == [bytes.fromhex("03 02 00 2E CC")]

    def test_read_ignores_a_value(self, board, module):
        assert isptune(board, "--read", "--gamma", "2") == (0, "1\n")
        assert isptune(board, "--read", "--gamma", "-6") == (0, "1\n")
        assert module.requests()[-1] == bytes.fromhex("03 02 00 2E CC")

    @pytest.mark.parametrize("args", [
        ["--write", "--gainvalue", "-43"], ["--write", "--gainvalue", "61"],
        ["--write", "--gamma", "3"], ["--write", "--wbkelvin", "1999"],
        ["--write", "--gamma"], ["--write", "--gamma", "4294967296"],
        ["--write", "--irisgain", "99999999999999999999"],
    ])
    def test_wrong_values_touch_no_module(self, board, module, args):
        assert isptune(board, *args) == (0, "wrong input value!\n")
        assert module.frames() == []

    def test_echo_before_a_wrong_value_stays(self, board, module):
        assert isptune(board, "--write", "--gamma", "1", "--dn", "9") == (
            0, "gamma mode = 1\nwrong input value!\n")

    def test_limits_are_accepted(self, board, module):
        for option, value in [("--gainvalue", "-42"), ("--gainvalue", "60"), ("--irisgain", "255")]:
            assert isptune(board, "--write", option, value)[1].endswith("OK\n")

    def test_osd_clears_the_whole_screen_and_writes_nothing(self, board, module):
        assert isptune(board, "--osddisable", "--write", "--gamma", "1") == (0, "gamma mode = 1\n")
        assert module.requests() == [bytes.fromhex("44 01 00 BA")]
        assert "pixim osd clear 0" in board.trace()

    def test_no_arguments_open_and_close_the_link(self, board, module):
        assert isptune(board) == (0, "")
        assert module.frames() == []

    def test_port_settings_as_the_module_sees_them(self, board, module):
        isptune(board, "--read", "--wb")
        assert "pixim termios 38400 8N1 raw vmin=1 vtime=0 cread clocal" in board.trace()

    # What a script reads stays as it was; a person also learns which file
    # or line could not be opened, and why.
    @pytest.mark.parametrize("args, files, status, stdout, what", [
        (["--read", "--wb"], [], 255, "!!!cssl: cannot open file\ncommInit  Error\n",
         "/dev/ttymxc2"),
        (["--readconf"], [], 0, "!!!cssl: cannot open file\ncommInit  Error\n", "/dev/ttymxc2"),
        (["--writeconf"], ["pixim.conf"], 0, "!!!cssl: cannot open file\ncommInit  Error\n",
         "/dev/ttymxc2"),
        (["--writeconf"], [], 0, "Cannot open /etc/pixim.conf file\n", "/etc/pixim.conf"),
        (["--restore"], [], 0, "Cannot open /etc/piximdef.conf file\n", "/etc/piximdef.conf"),
    ])
    def test_what_cannot_be_opened(self, board, args, files, status, stdout, what):
        for name in files:
            write_conf(board, name, "1\n")
        result = board.run("isptune", *args)
        assert (result.returncode, result.stdout.decode(), result.stderr.decode()) == (
            status, stdout, f"isptune: cannot open {what}: No such file or directory\n")

    # Answers and refusals of the command line itself: the module hears nothing.
    @pytest.mark.parametrize("args, status, stdout, stderr", [
        (["-h"], 0, HELP, b""),
        (["--help"], 0, HELP, b""),
        (["--version"], 0, f"isptune {VERSION}\n".encode(), b""),
        (["--raed", "--wb"], 1, b"", b"isptune: unknown option '--raed'\n" + HELP),
        (["--write", "--saturation=3"], 1, b"",
         b"isptune: unknown option '--saturation=3'\n" + HELP),
        (["--write", "--gamma", "1", "-x"], 1, b"", b"isptune: unknown option '-x'\n" + HELP),
        (["--write"], 1, b"", b"isptune: --write needs a parameter option\n" + HELP),
        (["--read"], 1, b"", b"isptune: --read needs a parameter option\n" + HELP),
        (["--help", "--raed"], 0, HELP, b""),
    ])
    def test_command_line_answers(self, board, module, args, status, stdout, stderr):
        result = board.run("isptune", *args)
        assert (result.returncode, result.stdout, result.stderr) == (status, stdout, stderr)
        assert module.frames() == []


class TestModuleFaults:
    @pytest.mark.parametrize("fault, out", [
        ("nak", "NAK PixErrorCodeInternalError\nError. Return code: 2\n"),
        ("error:7", "ec2 = 7\nError. Return code: 7\n"),
        ("error:9:badsum", "errChksum PixErrorCodeInternalError\nec1 = 2\nError. Return code: 2\n"),
        ("datasum", "recvChksum PixErrorCodeInternalError\nError. Return code: 2\n"),
        ("count", "Error. Return code: 2\n"),
        ("stray", "default PixErrorCodeInternalError\nError. Return code: 2\n"),
        ("silent", "timeout PixErrorCodeInternalError\nError. Return code: 2\n"),
        ("split", "2\n"),
    ])
    def test_read_faults(self, board, module_factory, fault, out):
        module_factory(fault=fault)
        assert isptune(board, "--read", "--wb") == (0, out)

    def test_write_fault_for_one_property(self, board, module_factory):
        module_factory(fault="error:5@0x2E")
        assert isptune(board, "--write", "--gamma", "1") == (0, "gamma mode = 1\nec2 = 5\nError. Return code: 5\n")
        assert isptune(board, "--write", "--iris", "0") == (0, "iris mode = 0\nOK\n")

    def test_a_wrong_count_is_consumed_whole(self, board, module_factory):
        module_factory(fault="count@0x22")
        assert isptune(board, "--read", "--wb")[1] == "Error. Return code: 2\n"
        assert isptune(board, "--read", "--gamma")[1] == "1\n"


def conf(board, name):
    return board.dir / "etc" / name


def write_conf(board, name, text):
    path = conf(board, name)
    path.parent.mkdir(exist_ok=True)
    path.write_text(text)


EXAMPLE = [1, 60, 1, 18, 0, 1, 0, 2, 1, 5600, 103, 4, 1, 128, 10, 102, 0, 1, 106]


class TestConfigurationFiles:
    def test_writeconf_then_readconf_round_trip(self, board, module):
        write_conf(board, "pixim.conf", "".join(f"{n}\n" for n in EXAMPLE))
        assert isptune(board, "--writeconf") == (0, "")
        values = [1, 60, 1, 18, 0, 1, 0, 2, 1, 5600, -3, 4, 1, 128, 10, -2, 0, 1, -6]
        assert module.requests() == [set_frame(pid, w, v) for (pid, w), v in zip(ROWS, values)]
        conf(board, "pixim.conf").unlink()
        assert isptune(board, "--readconf") == (0, "")
        assert conf(board, "pixim.conf").read_text() == "".join(f"{n}\n" for n in EXAMPLE)
        assert module.requests()[19:] == [frame(0x03, bytes([0, pid])) for pid, _ in ROWS]

    @pytest.mark.parametrize("line, row, sent", [
        (120, 10, -20), (20, 10, 20), (108, 15, -8), (142, 18, -42), (127, 18, -27),
        (100, 10, 100), (-5, 10, -5), (300, 0, 44), (-1, 0, 255), (70000, 9, 70000 & 0xFFFF),
    ])
    def test_line_encoding(self, board, module, line, row, sent):
        lines = ["0"] * 19
        lines[row] = str(line)
        write_conf(board, "pixim.conf", "\n".join(lines) + "\n")
        isptune(board, "--writeconf")
        pid, width = ROWS[row]
        assert module.requests()[row] == set_frame(pid, width, sent)

    def test_lines_are_read_as_scanf_reads_them(self, board, module):
        write_conf(board, "pixim.conf", "  7 word\n" + "0\n" * 24)
        isptune(board, "--writeconf")
        assert module.requests()[0] == set_frame(0x2E, 1, 7)
        assert len(module.requests()) == 19

    def test_missing_rows_are_not_sent(self, board, module):
        write_conf(board, "pixim.conf", "1\n2\n3\nnot a number\n5\n")
        assert isptune(board, "--writeconf") == (
            0, "16 of 19 properties are missing from /etc/pixim.conf and were not sent\n")
        assert module.requests() == [set_frame(pid, w, v) for (pid, w), v in zip(ROWS, [1, 2, 3])]

    def test_a_number_beyond_an_int_is_not_a_number(self, board, module):
        write_conf(board, "pixim.conf", "1\n99999999999\n" + "0\n" * 17)
        assert isptune(board, "--writeconf")[1].startswith("18 of 19 properties are missing")
        assert len(module.requests()) == 1

    def test_restore_reads_the_default_file(self, board, module):
        write_conf(board, "piximdef.conf", "".join(f"{n}\n" for n in EXAMPLE))
        assert isptune(board, "--restore", "--gamma") == (0, "")
        assert len(module.requests()) == 19

    def test_missing_files_open_no_link(self, board, module):
        assert isptune(board, "--restore") == (0, "Cannot open /etc/piximdef.conf file\n")
        assert isptune(board, "--writeconf") == (0, "Cannot open /etc/pixim.conf file\n")
        assert module.frames() == []

    def test_readconf_without_a_module_keeps_the_saved_file(self, board):
        write_conf(board, "pixim.conf", "saved\n")
        assert isptune(board, "--readconf") == (0, "!!!cssl: cannot open file\ncommInit  Error\n")
        assert conf(board, "pixim.conf").read_text() == "saved\n"
        assert sorted(p.name for p in (board.dir / "etc").iterdir()) == ["pixim.conf"]

    def test_faulty_module_still_gets_every_row(self, board, module_factory):
        module = module_factory(fault="error:3@0x25")
        write_conf(board, "pixim.conf", "".join(f"{n}\n" for n in EXAMPLE))
        out = isptune(board, "--writeconf")[1]
        assert out == "ec2 = 3\n"
        assert len(module.requests()) == 19
        assert isptune(board, "--readconf")[1] == "ec2 = 3\n"
        assert conf(board, "pixim.conf").read_text().splitlines()[9] == "0"

    def test_options_before_a_file_command_act_first(self, board, module):
        assert isptune(board, "--write", "--gamma", "1", "--readconf") == (0, "gamma mode = 1\n")
        assert len(module.requests()) == 19


TIMEOUT = "timeout PixErrorCodeInternalError\n"
NOT_SAVED = "configuration not saved: /etc/pixim.conf is unchanged\n"


def state_value(board, pid):
    for line in (board.dir / "pixim.state").read_text().splitlines():
        key, value = line.split()
        if int(key, 16) == pid:
            return int(value)
    return None


def set_state(board, values):
    """The module's stored properties, before its emulator starts."""
    (board.dir / "pixim.state").write_text("".join(f"0x{k:02X} {v}\n" for k, v in values.items()))


class TestLinesThatNeverGoQuiet:
    """A line that keeps sending (noise, another device on the port) ends each
    exchange as a time-out after a second of discarding."""

    @pytest.mark.parametrize("args, out", [
        (["--read", "--wb"], TIMEOUT + "Error. Return code: 2\n"),
        (["--write", "--gamma", "1"], "gamma mode = 1\n" + TIMEOUT + "Error. Return code: 2\n"),
        (["--osddisable"], TIMEOUT),
    ])
    def test_one_exchange_ends(self, board, module_factory, args, out):
        module_factory(fault="noise")
        result = board.run("isptune", *args, timeout=10)
        assert (result.returncode, result.stdout.decode()) == (0, out)

    def test_readconf_ends_and_keeps_the_file(self, board, module_factory):
        module_factory(fault="noise@0x1A")
        write_conf(board, "pixim.conf", "saved\n")
        result = board.run("isptune", "--readconf", timeout=10)
        assert (result.returncode, result.stdout.decode()) == (0, TIMEOUT + NOT_SAVED)
        assert conf(board, "pixim.conf").read_text() == "saved\n"

    @pytest.mark.parametrize("command, name", [("--writeconf", "pixim.conf"),
                                               ("--restore", "piximdef.conf")])
    def test_writeconf_ends(self, board, module_factory, command, name):
        module = module_factory(fault="noise@0x0F")
        write_conf(board, name, "".join(f"{n}\n" for n in EXAMPLE))
        result = board.run("isptune", command, timeout=10)
        assert (result.returncode, result.stdout.decode()) == (0, TIMEOUT)
        assert len(module.requests()) == 19


class TestTimeOuts:
    @pytest.mark.parametrize("fault, sent", [
        ("silent", 1), ("silent@0x75", 16), ("late:2500@0x2F", 2),
    ])
    @pytest.mark.parametrize("saved", ["1\n2\n3\n", None])
    def test_readconf_keeps_the_saved_file(self, board, module_factory, fault, sent, saved):
        module = module_factory(fault=fault)
        if saved is not None:
            write_conf(board, "pixim.conf", saved)
        assert isptune(board, "--readconf") == (0, TIMEOUT + NOT_SAVED)
        # No request after the time-out; absent stays absent, no file left behind.
        assert len(module.requests()) == sent
        etc = board.dir / "etc"
        assert sorted(p.name for p in etc.iterdir()) == ([] if saved is None else ["pixim.conf"])
        if saved is not None:
            assert conf(board, "pixim.conf").read_text() == saved

    def test_a_late_answer_is_not_saved_for_another_property(self, board, module_factory):
        # The module answers the gamma value late; later rows would be shifted by one.
        module_factory(fault="late:2500@0x2F")
        write_conf(board, "pixim.conf", "".join(f"{n}\n" for n in EXAMPLE))
        isptune(board, "--readconf")
        assert conf(board, "pixim.conf").read_text() == "".join(f"{n}\n" for n in EXAMPLE)

    @pytest.mark.parametrize("fault", ["nak@0x25", "datasum@0x25", "error:3@0x25", "stray@0x25",
                                       "count@0x25"])
    def test_readconf_saves_0_for_a_refused_property(self, board, module_factory, fault):
        module = module_factory(fault=fault)
        code, out = isptune(board, "--readconf")
        assert NOT_SAVED not in out and TIMEOUT not in out
        lines = conf(board, "pixim.conf").read_text().splitlines()
        assert len(lines) == 19 and lines[9] == "0" and lines[10:] == [
            "0", "0", "1", "128", "10", "0", "0", "1", "0"]
        assert len(module.requests()) == 19

    @pytest.mark.parametrize("fault", ["silent@0x25", "late@0x25"])
    @pytest.mark.parametrize("command, name", [("--writeconf", "pixim.conf"),
                                               ("--restore", "piximdef.conf")])
    def test_writeconf_goes_on_after_a_time_out(self, board, module_factory, fault, command, name):
        module = module_factory(fault=fault)
        write_conf(board, name, "".join(f"{n}\n" for n in EXAMPLE))
        assert isptune(board, command) == (0, TIMEOUT)
        assert len(module.requests()) == 19
        # Every row after the late one got its own answer and reached the module.
        assert state_value(board, 0x26) == -3 and state_value(board, 0x0F) == -6
        assert state_value(board, 0x25) == 5600


class TestSavedFile:
    def test_the_most_negative_value_is_saved_beyond_an_int(self, board, module_factory):
        set_state(board, {0x75: -2147483648, 0x38: 2147483647, 0x0F: -128, 0x26: -32768})
        module_factory()
        assert isptune(board, "--readconf") == (0, "")
        lines = conf(board, "pixim.conf").read_text().splitlines()
        assert (lines[10], lines[15], lines[16], lines[18]) == (
            "32868", "2147483748", "2147483647", "228")
        # Read back, a number beyond an int is no number: the rows from there are not sent.
        assert isptune(board, "--writeconf") == (
            0, "4 of 19 properties are missing from /etc/pixim.conf and were not sent\n")

    @pytest.mark.parametrize("mode", [0o600, 0o640, 0o444])
    def test_mode_and_owner_are_kept(self, board, module, mode):
        write_conf(board, "pixim.conf", "saved\n")
        path = conf(board, "pixim.conf")
        path.chmod(mode)
        owned = os.geteuid() == 0
        if owned:
            os.chown(path, 1234, 5678)
        assert isptune(board, "--readconf") == (0, "")
        st = path.stat()
        assert stat.S_IMODE(st.st_mode) == mode
        if owned:
            assert (st.st_uid, st.st_gid) == (1234, 5678)
        assert path.read_text().splitlines()[0] == "1"

    def test_a_new_file_gets_the_mode_of_the_umask(self, board, module):
        assert isptune(board, "--readconf") == (0, "")
        assert stat.S_IMODE(conf(board, "pixim.conf").stat().st_mode) == 0o666 & ~_umask()


class TestLinkedConfiguration:
    """/etc read-only on the board, /etc/pixim.conf a link to persistent storage."""

    @pytest.fixture
    def storage(self, tmp_path_factory):
        return tmp_path_factory.mktemp("persistent")

    def link(self, board, target):
        (board.dir / "etc").mkdir(exist_ok=True)
        conf(board, "pixim.conf").symlink_to(target)

    @pytest.mark.parametrize("existing", [True, False])
    def test_readconf_writes_through_the_link(self, board, module, storage, existing):
        target = storage / "pixim.conf"
        if existing:
            target.write_text("saved\n")
            target.chmod(0o600)
        self.link(board, target)
        assert isptune(board, "--readconf") == (0, "")
        link = conf(board, "pixim.conf")
        assert link.is_symlink() and os.readlink(link) == str(target)
        assert target.read_text() == "".join(f"{n}\n" for n in [
            1, 60, 1, 18, 0, 1, 0, 2, 1, 5600, 0, 0, 1, 128, 10, 0, 0, 1, 0])
        assert stat.S_IMODE(target.stat().st_mode) == (0o600 if existing else 0o666 & ~_umask())
        assert sorted(p.name for p in storage.iterdir()) == ["pixim.conf"]
        assert sorted(p.name for p in (board.dir / "etc").iterdir()) == ["pixim.conf"]

    def test_a_chain_of_links_in_etc(self, board, module, storage):
        target = storage / "pixim.conf"
        target.write_text("saved\n")
        (board.dir / "etc").mkdir()
        conf(board, "pixim.saved").symlink_to(target)
        conf(board, "pixim.conf").symlink_to("pixim.saved")  # relative, beside it
        assert isptune(board, "--readconf") == (0, "")
        assert target.read_text().startswith("1\n60\n")
        assert os.readlink(conf(board, "pixim.conf")) == "pixim.saved"

    def test_a_time_out_leaves_the_target(self, board, module_factory, storage):
        module_factory(fault="silent")
        target = storage / "pixim.conf"
        target.write_text("saved\n")
        self.link(board, target)
        assert isptune(board, "--readconf") == (0, TIMEOUT + NOT_SAVED)
        assert target.read_text() == "saved\n"
        assert sorted(p.name for p in storage.iterdir()) == ["pixim.conf"]

    def test_a_loop_of_links_cannot_be_opened(self, board, module):
        (board.dir / "etc").mkdir()
        conf(board, "pixim.conf").symlink_to("pixim.loop")
        conf(board, "pixim.loop").symlink_to("pixim.conf")
        assert isptune(board, "--readconf") == (0, "Cannot open /etc/pixim.conf file\n")
        assert module.frames() == []

    def test_writeconf_reads_through_the_link(self, board, module, storage):
        target = storage / "pixim.conf"
        target.write_text("".join(f"{n}\n" for n in EXAMPLE))
        self.link(board, target)
        assert isptune(board, "--writeconf") == (0, "")
        assert len(module.requests()) == 19


def _umask():
    umask = os.umask(0)
    os.umask(umask)
    return umask
