#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""vcapture sharing its buffers with a peer for minutes: do its resident
memory and its open descriptors stay flat?

Runs vcapture (JPEG 320x240 against the unpaced simulator, frames written to
/dev/null) with the simulator's hand-off peer on its standard output, samples
vcapture's resident memory (VmRSS) and open descriptors during the run, and
prints the first and the last sample, the frames handed over, and a verdict.
Exits with status 1 when memory grew by more than 256 KiB or a descriptor
was left open.

Usage: bench/vcapture_soak.py [MINUTES] [BUILD_DIR]   (default 1, build/native)
"""

import os
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
MINUTES = float(sys.argv[1]) if len(sys.argv) > 1 else 1.0
BUILD = Path(sys.argv[2]) if len(sys.argv) > 2 else ROOT / "build" / "native"
WARM_UP = 3.0  # seconds before the first sample: set-up done, buffers touched
SAMPLES = 10
RSS_SLACK_KIB = 256


def env(simdir):
    return dict(os.environ, BOARDSIM_DIR=simdir, BOARDSIM_UNPACED="1",
                LD_PRELOAD=str(BUILD / "lib" / "libboardsim.so"))


def sample(pid):
    """(resident KiB, open descriptors) of a running process."""
    status = Path(f"/proc/{pid}/status").read_text()
    rss = next(int(l.split()[1]) for l in status.splitlines() if l.startswith("VmRSS:"))
    return rss, len(os.listdir(f"/proc/{pid}/fd"))


def frames_handed_over(simdir):
    with open(Path(simdir) / "trace", errors="replace") as trace:
        return sum(1 for l in trace if l.startswith("peer frame"))


def main():
    seconds = max(MINUTES * 60, WARM_UP + 1)
    print(f"vcapture with a hand-off peer for {seconds:.0f} s (JPEG 320x240, unpaced, "
          f"-out /dev/null)")
    with tempfile.TemporaryDirectory() as simdir:
        base = str(Path(simdir) / "peer")
        capture = subprocess.Popen(
            [str(BUILD / "bin" / "vcapture"), "320", "240", "-format", "jpeg", "-quiet",
             "-out", "/dev/null", "-pipe", base],
            env=env(simdir), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        peer = subprocess.Popen([str(BUILD / "bin" / "handoff_peer"), base], env=env(simdir),
                                stdin=capture.stdout, stderr=subprocess.DEVNULL)
        capture.stdout.close()
        try:
            time.sleep(WARM_UP)
            start = time.monotonic()
            samples = [(0.0, *sample(capture.pid))]
            for i in range(1, SAMPLES + 1):
                time.sleep(max(start + (seconds - WARM_UP) * i / SAMPLES - time.monotonic(), 0))
                samples.append((time.monotonic() - start, *sample(capture.pid)))
        finally:
            capture.send_signal(signal.SIGTERM)
            status = capture.wait(timeout=60)
            peer.wait(timeout=60)
        frames = frames_handed_over(simdir)

    print(f"{'at':>8}{'VmRSS':>12}{'open fds':>10}")
    for at, rss, fds in samples:
        print(f"{at:>7.1f}s{rss:>9} KiB{fds:>10}")
    (_, rss0, fds0), (_, rss1, fds1) = samples[0], samples[-1]
    flat = rss1 - rss0 <= RSS_SLACK_KIB and fds1 == fds0
    print(f"start: {rss0} KiB resident, {fds0} descriptors; end: {rss1} KiB, {fds1} descriptors")
    print(f"frames handed over: {frames} ({frames / (seconds + WARM_UP):.0f}/s); "
          f"vcapture exit status {status}")
    print("flat" if flat else "NOT FLAT: memory or descriptors grew")
    return 0 if flat and status == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
