# SPDX-License-Identifier: MIT
"""Just enough of WebDriver BiDi to load pages in headless Firefox ESR and
evaluate expressions in them, over the same WebSocket client as cdp.py."""

import shutil
import subprocess
import tempfile
import time
from pathlib import Path

from cdp import Tab

# A fresh profile that asks nothing: logins in the URL are taken without a
# question, and downloads go to a directory of the test's choosing.
PREFERENCES = {
    "network.http.phishy-userpass-length": 255,
    "browser.download.folderList": 2,
    "browser.download.useDownloadDir": True,
    "browser.download.always_ask_before_handling_new_types": False,
    "browser.shell.checkDefaultBrowser": False,
    "datareporting.policy.dataSubmissionEnabled": False,
    "app.update.disabledForTesting": True,
}


class Firefox:
    """Headless Firefox ESR with one browsing context."""

    def __init__(self, port, downloads=None):
        self.profile = Path(tempfile.mkdtemp(prefix="firefox-"))
        preferences = dict(PREFERENCES, **{"browser.download.dir": str(downloads or self.profile)})
        (self.profile / "user.js").write_text("".join(
            f"user_pref({_js(k)}, {_js(v)});\n" for k, v in preferences.items()))
        self.proc = subprocess.Popen(
            ["firefox-esr", "--headless", "--no-remote", "--profile", str(self.profile),
             f"--remote-debugging-port={port}", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 60
        while True:
            try:
                self.tab = Tab(f"ws://127.0.0.1:{port}/session")
                break
            except (OSError, AssertionError):
                if self.proc.poll() is not None or time.time() > deadline:
                    self.close()
                    raise RuntimeError("firefox did not start")
                time.sleep(0.3)
        self.call("session.new", capabilities={})
        self.context = self.call("browsingContext.getTree")["contexts"][0]["context"]

    def call(self, method, **params):
        return self.tab.call(method, **params)

    def navigate(self, url):
        self.call("browsingContext.navigate", context=self.context, url=url, wait="none")

    def set_viewport(self, width, height):
        self.call("browsingContext.setViewport", context=self.context,
                  viewport={"width": width, "height": height})

    def evaluate(self, expression):
        reply = self.call("script.evaluate", expression=expression,
                          target={"context": self.context}, awaitPromise=True)
        return reply.get("result", {}).get("value")

    def close(self):
        if getattr(self, "tab", None):
            self.tab.close()
        self.proc.terminate()
        self.proc.wait(timeout=30)
        shutil.rmtree(self.profile, ignore_errors=True)


def _js(value):
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, int):
        return str(value)
    return '"' + str(value).replace("\\", "\\\\").replace('"', '\\"') + '"'
