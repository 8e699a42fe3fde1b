#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""isptune's configuration transfers against the module emulator at the
speed of the board's wire (38400 baud, about 260 us a byte).

Prints the wall time of --readconf and --writeconf beside the wire time of
their nineteen exchanges, the physical limit, and the ratio of the two.

Usage: bench/isptune_bench.py [BUILD_DIR] [RUNS]   (default build/native, 5)
"""

import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "build" / "native"
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 5
BYTE_SECONDS = 10 / 38400  # start bit, 8 data bits, stop bit
WIDTHS = [1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 1, 1, 1, 4, 4, 1, 1]

# Bytes on the wire per exchange: request and answer.
READ_BYTES = sum(5 + (3 + w) for w in WIDTHS)   # GetProperty, data answer
WRITE_BYTES = sum((5 + w) + 1 for w in WIDTHS)  # SetProperty, acknowledge


def main():
    with tempfile.TemporaryDirectory() as simdir:
        env = dict(os.environ, BOARDSIM_DIR=simdir, BOARDSIM_PIXIM_WIRE="1")
        emulator = subprocess.Popen([str(BUILD / "bin" / "pixim_emulator")], env=env,
                                    stdout=subprocess.PIPE)
        emulator.stdout.readline()
        env["LD_PRELOAD"] = str(BUILD / "lib" / "libboardsim.so")
        try:
            print(f"isptune against the module emulator at 38400 baud, best of {RUNS} runs")
            print(f"{'command':<14}{'wall':>10}{'wire':>10}{'ratio':>8}")
            for command, wire_bytes in (("--readconf", READ_BYTES), ("--writeconf", WRITE_BYTES)):
                best = min(timed(env, command) for _ in range(RUNS))
                wire = wire_bytes * BYTE_SECONDS
                print(f"{command:<14}{best * 1000:>8.1f}ms{wire * 1000:>8.1f}ms{best / wire:>8.2f}")
        finally:
            emulator.terminate()
            emulator.wait()


def timed(env, command):
    start = time.perf_counter()
    subprocess.run([str(BUILD / "bin" / "isptune"), command], env=env, check=True,
                   stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


if __name__ == "__main__":
    main()
