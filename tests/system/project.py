# SPDX-License-Identifier: MIT
"""The project's version, the newest entry of debian/changelog: what
--version prints."""

import re
from pathlib import Path

VERSION = re.match(r"camboard \(([0-9.]+)\) ",
                   (Path(__file__).parents[2] / "debian/changelog").read_text()).group(1)
