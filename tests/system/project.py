# SPDX-License-Identifier: MIT
"""The project's version, as CMakeLists.txt sets it: what --version prints."""

import re
from pathlib import Path

VERSION = re.search(r"^project\(camboard VERSION (\S+)",
                    (Path(__file__).parents[2] / "CMakeLists.txt").read_text(), re.M).group(1)
