# SPDX-License-Identifier: MIT
"""The manual pages as a board user reads them: each renders without a
warning, names every option of its program's usage text and documents the
exit statuses the program really gives."""

import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

MAN_DIR = Path(__file__).resolve().parents[2] / "man"
WIDTH = 80

# page file -> how the program shows its usage: arguments, the stream it
# prints on, and the status it ends with.
PROGRAMS = {
    "vcapture.1": ("vcapture", [], "stdout", 1),
    "vshare.1": ("vshare", ["-help"], "stdout", 0),
    "sensreg.8": ("sensreg", [], "stderr", 1),
    "sensdump.8": ("sensdump", [], "stderr", 1),
    "isptune.8": ("isptune", ["--help"], "stdout", 0),
    "fdiv.1": ("fdiv", [], "stderr", 1),
}
ELEMENT_PAGE = "vxrate.7"
PAGES = sorted(PROGRAMS) + [ELEMENT_PAGE]

COMMON_SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "EXIT STATUS", "FILES", "EXAMPLES",
                   "SEE ALSO"]
OWN_SECTIONS = {page: ["OPTIONS"] for page in PROGRAMS}
OWN_SECTIONS[ELEMENT_PAGE] = ["PADS", "PROPERTIES"]
NO_FILES = {"fdiv.1"}  # reads its arguments, writes standard output, nothing else


def needs(tool, package):
    if shutil.which(tool) is None:
        pytest.skip(f"{tool} is not installed (Debian package {package})")


def man_env():
    return {**os.environ, "MANROFFSEQ": "", "MANWIDTH": str(WIDTH), "MANPAGER": "cat",
            "PAGER": "cat", "LC_ALL": "C.UTF-8"}


_rendered = {}


def rendered(page):
    """The page as man-db shows it at 80 columns, without formatting."""
    if page not in _rendered:
        needs("man", "man-db")
        result = subprocess.run(["man", "-E", "UTF-8", "-l", str(MAN_DIR / page)],
                                env=man_env(), stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=60)
        assert result.returncode == 0, result.stderr.decode()
        _rendered[page] = result.stdout.decode()
    return _rendered[page]


def sections(text):
    """Rendered page -> {heading: body}."""
    out = {}
    heading = None
    for line in text.splitlines():
        if re.fullmatch(r"[A-Z][A-Z -]*", line):
            heading = line
            out[heading] = []
        elif heading is not None:
            out[heading].append(line)
    return {h: "\n".join(body) for h, body in out.items()}


def indent(line):
    return len(line) - len(line.lstrip(" ")) if line.strip() else -1


def tags(body):
    """The terms of a section's tagged paragraphs (.TP) as rendered: at the
    section's indentation, with the paragraph's text indented below them, or
    beside them when the term is short."""
    lines = [line.expandtabs() for line in body.splitlines()] + [""]
    found = []
    for line, following in zip(lines, lines[1:]):
        if indent(line) != 7:
            continue
        short = re.match(r" {7}\S{1,6} +(?=\S)", line)
        if indent(following) >= 14 or (short and short.end() == 14):
            found.append(line[7:])
    return found


def has_tag(body, word):
    return any(re.match(re.escape(word) + r"(?![\w-])", tag) for tag in tags(body))


def word_in(text, word):
    return re.search(r"(?<![\w-])" + re.escape(word) + r"(?![\w-])", text) is not None


# --- rendering ---------------------------------------------------------------

@pytest.mark.parametrize("page", PAGES)
def test_man_renders_without_warnings(page):
    needs("man", "man-db")
    result = subprocess.run(["man", "--warnings=w", "-E", "UTF-8", "-l", str(MAN_DIR / page)],
                            env=man_env(), stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                            timeout=60)
    assert result.returncode == 0
    assert result.stderr.decode() == ""


@pytest.mark.parametrize("page", PAGES)
def test_groff_finds_nothing_to_warn_about(page):
    needs("groff", "groff-base")
    result = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-z", str(MAN_DIR / page)],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    assert result.returncode == 0
    assert result.stderr.decode() == ""


@pytest.mark.parametrize("page", PAGES)
def test_page_fits_an_80_column_console(page):
    wide = [line for line in rendered(page).splitlines() if len(line.expandtabs()) > WIDTH]
    assert wide == []


@pytest.mark.parametrize("page", PAGES)
def test_header_name_line_and_sections(page):
    source = (MAN_DIR / page).read_text()
    name, section = page.rsplit(".", 1)
    assert re.search(rf"^\.TH {name.upper()} {section} ", source, re.M)
    # The NAME line as whatis/apropos index it: "name \- summary".
    assert re.search(rf"^\.SH NAME\n{re.escape(name)} \\- \S", source, re.M)
    present = sections(rendered(page))
    for heading in COMMON_SECTIONS + OWN_SECTIONS[page]:
        assert heading in present or (heading == "FILES" and page in NO_FILES), heading


@pytest.mark.parametrize("page", PAGES)
def test_options_are_typed_with_real_minus_signs(page):
    # A bare "-" is a hyphen to troff, which other formatters render as U+2010:
    # a command copied from such a page fails.
    source = (MAN_DIR / page).read_text()
    bare = [line for line in source.splitlines()
            if re.search(r"(?<![\\\w-])-[A-Za-z-]", line)]
    assert bare == []


def test_see_also_names_the_right_sections():
    ours = {p.rsplit(".", 1)[0]: p.rsplit(".", 1)[1] for p in PAGES}
    for page in PAGES:
        see_also = sections(rendered(page))["SEE ALSO"]
        for name, section in re.findall(r"([\w.-]+)\((\d)\)", see_also):
            if name in ours:
                assert section == ours[name], f"{page}: {name}({section})"


# --- the programs' own usage texts -------------------------------------------

def usage_of(programs, page):
    name, args, stream, status = PROGRAMS[page]
    result = programs.run(name, *args)
    assert result.returncode == status
    text = (result.stdout if stream == "stdout" else result.stderr).decode()
    assert text.strip(), f"{name} printed no usage text"
    return text


def usage_words(text):
    """Options (words with leading dashes), mode words ('reg') and choices
    ({yuv420 | jpeg}) of a usage text."""
    options = re.findall(r"(?<![\w-])(--?[A-Za-z][\w-]*)", text)
    quoted = re.findall(r"'(\w+)'", text)
    choices = [w.strip() for group in re.findall(r"\{([^}]*)\}", text)
               for w in group.split("|")]
    return sorted(set(options)), sorted(set(quoted)), sorted(set(choices))


def positional_words(text, program):
    """The arguments of a usage line without options: "Usage: fdiv a b"."""
    line = text.strip().splitlines()[0]
    return line.split(program, 1)[1].split()


@pytest.mark.parametrize("page", sorted(PROGRAMS))
def test_every_option_of_the_usage_text_is_described(programs, page):
    text = usage_of(programs, page)
    program = PROGRAMS[page][0]
    options, quoted, choices = usage_words(text)
    described = sections(rendered(page))["OPTIONS"]
    if not options and not quoted:
        options = positional_words(text, program)
    assert options
    missing = [w for w in options + quoted if not has_tag(described, w)]
    missing += [w for w in choices if not word_in(described, w)]
    assert missing == []


@pytest.mark.parametrize("page", sorted(PROGRAMS))
def test_synopsis_shows_every_option(programs, page):
    text = usage_of(programs, page)
    options, quoted, choices = usage_words(text)
    synopsis = sections(rendered(page))["SYNOPSIS"]
    if page == "isptune.8":
        options = ["--help", "--readconf", "--writeconf", "--restore", "--osddisable",
                   "--read", "--write"]  # the parameters are listed under OPTIONS
    words = options + quoted + choices or positional_words(text, PROGRAMS[page][0])
    missing = [w for w in words if not word_in(synopsis, w)]
    assert missing == []


# --- exit statuses as the programs give them ---------------------------------

def documented_statuses(page):
    body = sections(rendered(page))["EXIT STATUS"]
    return {int(t.split()[0]) for t in tags(body) if t.split() and t.split()[0].isdigit()}


def test_exit_statuses_are_the_ones_the_programs_give(board, programs, tmp_path):
    runs = {
        "vcapture.1": [("vcapture", []), ("vcapture", ["64", "48", "-count", "1", "-quiet"]),
                       ("vcapture", ["64", "48", "-format", "png"])],
        "vshare.1": [("vshare", ["-help"]), ("vshare", ["-fps", "0"]),
                     ("vshare", ["-relay", "-socket", tmp_path / "none.sock"])],
        "sensreg.8": [("sensreg", []), ("sensreg", ["reg", "0", "0"]),
                      ("sensreg", ["reg", "3", "0"])],
        "sensdump.8": [("sensdump", []), ("sensdump", ["0"])],
        # No module on the simulated board's serial port: the link cannot open.
        "isptune.8": [("isptune", ["--help"]), ("isptune", ["--read", "--wb"]),
                      ("isptune", ["--write", "--gain", "9"]), ("isptune", ["--readconf"]),
                      ("isptune", ["--raed"])],
        "fdiv.1": [("fdiv", []), ("fdiv", ["1", "3"])],
    }
    for page, cases in runs.items():
        seen = {board.run(name, *args, cwd=tmp_path).returncode for name, args in cases}
        assert seen <= documented_statuses(page), page
    assert documented_statuses("isptune.8") == {0, 1, 255}
    assert documented_statuses("vcapture.1") == {0, 1}
    assert documented_statuses("vshare.1") == {0, 1}


# --- the element ---------------------------------------------------------------

@pytest.fixture
def inspect(programs, tmp_path):
    if programs.emulator:
        pytest.skip("the host's GStreamer tools cannot load the board's plug-in")
    needs("gst-inspect-1.0", "gstreamer1.0-tools")
    env = dict(os.environ)
    env["GST_PLUGIN_PATH"] = str(programs.libdir / "gstreamer-1.0")
    env["GST_REGISTRY_1_0"] = str(tmp_path / "registry.bin")
    result = subprocess.run(["gst-inspect-1.0", "vxrate"], env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, timeout=120)
    assert result.returncode == 0, result.stderr.decode()
    return result.stdout.decode()


def test_every_property_and_pad_of_the_element_is_described(inspect):
    properties = re.findall(r"^  ([\w-]+)\s+: ", inspect.split("Element Properties:")[1], re.M)
    pads = re.findall(r"template: '(\w+)'", inspect)
    assert properties and sorted(pads) == ["sink", "src"]
    page = sections(rendered(ELEMENT_PAGE))
    assert [p for p in properties if not has_tag(page["PROPERTIES"], p)] == []
    assert [p for p in pads if not has_tag(page["PADS"], p)] == []
    description = " ".join(page["DESCRIPTION"].split())
    for detail in re.findall(r"^  (?:Long-name|Klass)\s+(.+)$", inspect, re.M):
        assert f'"{detail}"' in description
