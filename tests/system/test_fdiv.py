# SPDX-License-Identifier: MIT
"""fdiv as a user meets it: the C library's reading of numbers and printf("%f")
exactly, for words that are wholly numbers."""

import ctypes
import ctypes.util
import math
import random

import pytest

from project import VERSION

LIBC = ctypes.CDLL(ctypes.util.find_library("c"))
LIBC.strtod.restype = ctypes.c_double
LIBC.strtod.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p)]

USAGE = b"Usage: fdiv dividend divisor\n"


def number(word):
    """strtod()'s value of a word, or None unless it read the whole word."""
    text = ctypes.create_string_buffer(word.encode())
    end = ctypes.c_void_p()
    value = LIBC.strtod(text, ctypes.byref(end))
    used = end.value - ctypes.addressof(text)
    return value if 0 < used == len(word.encode()) else None


def reference(dividend, divisor):
    """What fdiv prints: IEEE division and printf("%f\\n") on this host, or
    its usage when a word is not wholly a number."""
    a = number(dividend)
    b = number(divisor)
    if a is None or b is None:
        return USAGE
    if b == 0.0:
        if math.isnan(a) or a == 0.0:
            return None  # NaN: its sign is the FPU's business, checked apart
        q = math.copysign(math.inf, a) * math.copysign(1.0, b)
    else:
        q = a / b
    buf = ctypes.create_string_buffer(512)
    LIBC.snprintf(buf, 512, b"%f\n", ctypes.c_double(q))
    return buf.value.decode()


@pytest.mark.parametrize(
    "dividend, divisor, expected",
    [
        ("1", "3", "0.333333\n"),
        ("10", "4", "2.500000\n"),
        ("1e3", "8", "125.000000\n"),
        ("  \t7", "2", "3.500000\n"),  # leading blanks skipped
        ("0x10", "4", "4.000000\n"),  # hexadecimal
        ("0x1p-3", "1", "0.125000\n"),  # hexadecimal with binary exponent
        ("-0", "5", "-0.000000\n"),  # the sign of zero survives
        ("5e-7", "1", "0.000000\n"),  # 5e-7 is just below half a millionth
        ("2.0000005", "1", "2.000001\n"),
        ("1e20", "1", "100000000000000000000.000000\n"),
        ("1e308", "0.1", "inf\n"),  # overflow of the quotient
        ("1e400", "1", "inf\n"),  # overflow of the operand
        ("infinity", "-2", "-inf\n"),
        ("1", "0", "inf\n"),
        ("-1", "0", "-inf\n"),
        ("1", "-0", "-inf\n"),
    ],
)
def test_quotient_text(programs, dividend, divisor, expected):
    result = programs.run("fdiv", dividend, divisor)
    assert result.returncode == 0
    assert result.stderr == b""
    assert result.stdout.decode() == expected


@pytest.mark.parametrize("operands", [("0", "0"), ("nan", "1"), ("inf", "inf")])
def test_nan_is_printed_as_printf_prints_it(programs, operands):
    result = programs.run("fdiv", *operands)
    assert (result.returncode, result.stdout) in ((0, b"nan\n"), (0, b"-nan\n"))


def random_operand(rng):
    forms = [
        lambda: str(rng.randint(-10**6, 10**6)),
        lambda: repr(rng.uniform(-1e6, 1e6)),
        lambda: f"{rng.uniform(-10, 10):.{rng.randint(0, 17)}e}",
        lambda: f"{rng.uniform(0, 1):.20f}",
        lambda: hex(rng.randint(0, 2**40)),
        lambda: rng.choice(["", " ", "\t", "  "]) + str(rng.randint(-999, 999))
        + rng.choice(["", "x", ".5e", "e+", "..1", " 3"]),
        lambda: rng.choice(["0", "-0", "1e-320", "4.9e-324", "1.7976931348623157e308"]),
        lambda: f"{rng.random().hex()}",
    ]
    return rng.choice(forms)()


def test_matches_the_c_library_on_many_pairs(programs):
    rng = random.Random(20261207)
    pairs = [(random_operand(rng), random_operand(rng)) for _ in range(150)]
    for dividend, divisor in pairs:
        expected = reference(dividend, divisor)
        if expected is None:
            continue
        result = programs.run("fdiv", dividend, divisor)
        if expected == USAGE:
            assert (result.returncode, result.stderr) == (1, USAGE), (dividend, divisor)
        else:
            assert (result.returncode, result.stdout.decode()) == (0, expected), (dividend, divisor)


@pytest.mark.parametrize("args, status, stdout, stderr", [
    ([], 1, b"", USAGE),
    (["1"], 1, b"", USAGE),
    (["1", "2", "3"], 1, b"", USAGE),
    (["1", "2", "3", "4"], 1, b"", USAGE),
    (["one", "three"], 1, b"", USAGE),
    (["1,5", "2"], 1, b"", USAGE),
    (["abc", "2"], 1, b"", USAGE),
    (["12kg", "4"], 1, b"", USAGE),
    (["1", "2 "], 1, b"", USAGE),
    (["", ""], 1, b"", USAGE),
    (["--help"], 1, b"", USAGE),
    (["--version"], 0, f"fdiv {VERSION}\n".encode(), b""),
])
def test_command_line(programs, args, status, stdout, stderr):
    result = programs.run("fdiv", *args)
    assert (result.returncode, result.stdout, result.stderr) == (status, stdout, stderr)


def test_usage_names_the_program_as_invoked(programs):
    result = programs.run("fdiv", argv0="/usr/local/bin/fdiv")
    assert result.stderr == b"Usage: /usr/local/bin/fdiv dividend divisor\n"


def test_a_quotient_that_cannot_be_written_is_a_failure(programs):
    with open("/dev/full", "wb") as full:
        result = programs.run("fdiv", "1", "2", stdout=full)
    assert result.returncode == 1
    assert result.stderr == b"fdiv: write error: No space left on device\n"
