#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Two isptune runs at once on one line, against the emulated module at the
wire's pace: pairs of concurrent reads of two properties and pairs of
concurrent --readconf. Counts wrong values, runs that could not get the line,
saved configurations that are not the module's whole one, and the longest run.

Usage: bench/isptune_line_bench.py [READ_PAIRS] [READCONF_PAIRS] [BUILD_DIR]
       (default 100, 20, build/native)
"""

import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
READ_PAIRS = int(sys.argv[1]) if len(sys.argv) > 1 else 100
CONF_PAIRS = int(sys.argv[2]) if len(sys.argv) > 2 else 20
BUILD = Path(sys.argv[3]) if len(sys.argv) > 3 else ROOT / "build" / "native"
BIN = Path(os.environ.get("ISPTUNE", BUILD / "bin" / "isptune"))  # another build to compare


def start(env, *args):
    return (time.monotonic(), subprocess.Popen([str(BIN), *args], env=env,
                                               stdout=subprocess.PIPE, stderr=subprocess.PIPE))


def finish(started):
    began, proc = started
    out, err = proc.communicate(timeout=60)
    return proc.returncode, out.decode(), err.decode(), time.monotonic() - began


def main():
    with tempfile.TemporaryDirectory() as simdir:
        env = dict(os.environ, BOARDSIM_DIR=simdir, BOARDSIM_PIXIM_WIRE="1",
                   LD_PRELOAD=str(BUILD / "lib" / "libboardsim.so"))
        module = subprocess.Popen([str(BUILD / "bin" / "pixim_emulator")], env=env,
                                  stdout=subprocess.PIPE)
        assert module.stdout.readline().startswith(b"ready ")
        try:
            for args in (["--write", "--irisgain", "10"], ["--write", "--irisoffset", "200"]):
                finish(start(env, *args))
            alone = finish(start(env, "--readconf"))[3]
            expected = (Path(simdir) / "etc" / "pixim.conf").read_text()
            wrong = busy = 0
            longest = 0.0
            for _ in range(READ_PAIRS):
                runs = [start(env, "--read", "--irisgain"), start(env, "--read", "--irisoffset")]
                results = [finish(r) for r in runs]
                for (code, out, err, took), value in zip(results, ("10\n", "200\n")):
                    longest = max(longest, took)
                    busy += code == 255
                    wrong += code == 0 and out != value
            print(f"{READ_PAIRS} pairs of concurrent reads: {wrong} wrong values, "
                  f"{busy} runs without the line, longest run {longest * 1000:.0f} ms")
            corrupt = unsaved = 0
            longest = 0.0
            for _ in range(CONF_PAIRS):
                results = [finish(r) for r in [start(env, "--readconf"),
                                               start(env, "--readconf")]]
                for code, out, err, took in results:
                    longest = max(longest, took)
                    unsaved += out != ""
                corrupt += (Path(simdir) / "etc" / "pixim.conf").read_text() != expected
            left = [p.name for p in (Path(simdir) / "etc").iterdir() if p.name != "pixim.conf"]
            print(f"{CONF_PAIRS} pairs of concurrent --readconf: {corrupt} saved files not the "
                  f"module's, {unsaved} runs that printed something, {len(left)} files left "
                  f"beside it, longest run {longest * 1000:.0f} ms "
                  f"(one alone: {alone * 1000:.0f} ms)")
        finally:
            module.terminate()
            module.wait(timeout=10)


if __name__ == "__main__":
    main()
