# SPDX-License-Identifier: MIT
"""bash completion as a shell user meets it: each program's file loads in bash
and offers the words of that program's command line."""

import shutil
import subprocess
from pathlib import Path

import pytest

COMPLETION_DIR = Path(__file__).resolve().parents[2] / "completion"


def complete(program, line):
    """The words bash offers for `line` (the cursor at its end)."""
    if shutil.which("bash") is None:
        pytest.skip("bash is not installed")
    words = line.split(" ")
    script = f"""
        source {COMPLETION_DIR / program} || exit 9
        COMP_WORDS=({" ".join(f"'{w}'" for w in words)})
        COMP_CWORD={len(words) - 1}
        COMP_LINE='{line}'
        COMP_POINT=${{#COMP_LINE}}
        $(complete -p {program} | sed -n 's/.*-F \\([^ ]*\\).*/\\1/p') {program} \
            "${{COMP_WORDS[COMP_CWORD]}}" "${{COMP_WORDS[COMP_CWORD-1]}}"
        printf '%s\\n' "${{COMPREPLY[@]}}"
    """
    result = subprocess.run(["bash", "-c", script], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, timeout=30)
    assert result.returncode == 0 and result.stderr == b"", result.stderr.decode()
    return sorted(w for w in result.stdout.decode().split("\n") if w)


@pytest.mark.parametrize("program, line, offered", [
    ("vcapture", "vcapture 640 480 -de", ["-delay", "-device"]),
    ("vcapture", "vcapture 640 480 -format ", ["grey", "jpeg", "yuv420"]),
    ("vcapture", "vcapture --vers", ["--version"]),
    ("vshare", "vshare -d", ["-device", "-drop"]),
    ("vshare", "vshare -device /dev/nul", ["/dev/null"]),
    ("sensreg", "sensreg ", ["--version", "-bin", "-dec", "-hex", "log", "phys", "reg"]),
    ("sensreg", "sensreg -hex LOG ", ["byte", "word"]),
    ("sensreg", "sensreg reg 0 ", []),
    ("sensdump", "sensdump ", ["--version", "0", "1", "2"]),
    ("isptune", "isptune --write --wb", ["--wb", "--wbblue", "--wbkelvin", "--wbmethod",
                                         "--wbred"]),
    ("isptune", "isptune --h", ["--help"]),
    ("fdiv", "fdiv --", ["--version"]),
    ("fdiv", "fdiv 1 ", []),
])
def test_offered_words(program, line, offered):
    assert complete(program, line) == offered
