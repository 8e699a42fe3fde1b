# SPDX-License-Identifier: MIT
"""systemd units as systemd reads them, for the tests of the installed units
and of the board: their settings, and the command line a service runs."""


def unit_settings(path):
    """A systemd unit's settings, by section: {section: [(key, value), ...]}."""
    settings, section = {}, None
    for line in path.read_text().splitlines():
        if line.startswith("[") and line.endswith("]"):
            section = settings.setdefault(line[1:-1], [])
        elif line and not line.startswith("#"):
            key, value = line.split("=", 1)
            section.append((key, value))
    return settings


def environment_file(text):
    """KEY=value lines as systemd's EnvironmentFile= reads them."""
    settings = {}
    for line in text.splitlines():
        line = line.strip()
        if line and line[0] not in "#;":
            key, value = line.split("=", 1)
            if len(value) >= 2 and value[0] == value[-1] and value[0] in "\"'":
                value = value[1:-1]
            settings[key] = value
    return settings


def exec_start(service, settings_text):
    """The service's command line: its Environment= defaults, overridden by
    the settings file, expanded the way systemd expands ExecStart=."""
    environment = {}
    for key, value in service:
        if key == "Environment":
            environment.update(word.split("=", 1) for word in value.split())
    environment.update(environment_file(settings_text))
    words = []
    for word in dict(service)["ExecStart"].split():
        if word.startswith("${"):
            words.append(environment[word[2:-1]])
        elif word.startswith("$"):
            words += environment[word[1:]].split()
        else:
            words.append(word)
    return words
