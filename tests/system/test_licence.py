# SPDX-License-Identifier: MIT
"""Every source file of the project says its licence, the one in LICENSE."""

import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).parents[2]
# What carries no comment of its own: data, texts and the fuzzers' inputs.
NOT_SOURCE = (".md", ".jpg", ".json", "LICENSE", "README", "copyright", "debian/changelog",
              "debian/source/format")


def tracked():
    listed = subprocess.run(["git", "-C", str(ROOT), "ls-files"], capture_output=True, text=True)
    if listed.returncode != 0:
        pytest.skip("not a git checkout")
    return [f for f in listed.stdout.split() if not f.startswith("fuzz/corpus/")
            and not f.endswith(NOT_SOURCE)]


def test_every_source_file_names_the_mit_licence():
    assert "MIT License" in (ROOT / "LICENSE").read_text()
    missing = [f for f in tracked()
               if "SPDX-License-Identifier: MIT" not in (ROOT / f).read_text(errors="replace")[:400]]
    assert missing == []
