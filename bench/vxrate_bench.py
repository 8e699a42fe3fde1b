#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The cost of vxrate in a pipeline: a long unsynchronised pipeline through
vxrate against the same pipeline through identity, as a ratio. The
element's report lines go to /dev/null.

Usage: bench/vxrate_bench.py [BUILD_DIR] [BUFFERS]   (default build/native, 20000)
"""

import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "build" / "native"
BUFFERS = int(sys.argv[2]) if len(sys.argv) > 2 else 20000


def run(element, env):
    cmd = ["gst-launch-1.0", "-q", "videotestsrc", f"num-buffers={BUFFERS}", "pattern=black", "!",
           "video/x-raw,width=64,height=48", "!", element, "!", "fakesink", "sync=false"]
    start = time.perf_counter()
    subprocess.run(cmd, env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    with tempfile.TemporaryDirectory() as cache:
        env = dict(os.environ, GST_PLUGIN_PATH=str(BUILD / "lib" / "gstreamer-1.0"),
                   GST_REGISTRY_1_0=os.path.join(cache, "registry.bin"))
        run("identity", env)  # warm the registry
        identity = min(run("identity", env) for _ in range(3))
        vxrate = min(run("vxrate", env) for _ in range(3))
    print(f"{BUFFERS} buffers, best of 3 runs")
    print(f"identity: {identity:.3f} s ({identity / BUFFERS * 1e6:.1f} us a buffer)")
    print(f"vxrate:   {vxrate:.3f} s ({vxrate / BUFFERS * 1e6:.1f} us a buffer)")
    print(f"ratio vxrate/identity: {vxrate / identity:.2f}")


if __name__ == "__main__":
    main()
