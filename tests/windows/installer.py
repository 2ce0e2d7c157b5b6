# SPDX-License-Identifier: GPL-3.0-or-later
"""What window.py needs for the MSI and the notification icon under Wine:
the stand-in notification area (traystandin.exe) and the Start-menu
shortcut's fields, read from the .lnk file as Explorer would."""
import struct
import subprocess
import threading

from quorveltest import Failure, wait_until


class Tray:
    """traystandin.exe, owning the shell's tray window in the lab's Wine
    prefix; the calls it received, one line each."""

    def __init__(self, lab, wine, standin, env, *options):
        self.process = lab.popen([wine, standin, *options, "240"], namespace=lab.monitor,
                                 env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.lines = []
        threading.Thread(target=self._read, daemon=True).start()
        wait_until(self._ready, 60, "the stand-in notification area")

    def _read(self):
        for raw in self.process.stdout:
            self.lines.append(raw.decode("utf-8", "replace").rstrip("\r\n"))

    def _ready(self):
        if "ready" in self.lines:
            return True
        if self.process.poll() is not None:
            raise Failure(f"traystandin.exe ended: {self.lines}")
        return False

    def calls(self):
        return [line for line in self.lines if line != "ready"]

    def wait(self, count, what):
        return wait_until(lambda: self.calls() if len(self.calls()) >= count else None, 60, what)

    def stop(self):
        self.process.kill()
        self.process.wait()


def read_shortcut(path):
    """(target, working folder, arguments) of a Shell Link (.lnk) file: the
    target from its LinkInfo's local path, the others from its strings."""
    with open(path, "rb") as f:
        data = f.read()
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = 0x4C
    if flags & 0x01:  # HasLinkTargetIDList
        at += 2 + struct.unpack_from("<H", data, at)[0]
    target = None
    if flags & 0x02:  # HasLinkInfo
        size = struct.unpack_from("<I", data, at)[0]
        base = at + struct.unpack_from("<I", data, at + 16)[0]
        target = data[base:data.index(b"\0", base)].decode("latin-1")
        at += size
    strings = {}
    unicode = bool(flags & 0x80)
    for bit, name in ((0x04, "name"), (0x08, "relative"), (0x10, "folder"),
                      (0x20, "arguments"), (0x40, "icon")):
        if flags & bit:
            count = struct.unpack_from("<H", data, at)[0]
            width = 2 if unicode else 1
            raw = data[at + 2:at + 2 + count * width]
            # Wine counts the string's closing NUL in, Windows does not.
            strings[name] = raw.decode("utf-16-le" if unicode else "latin-1").rstrip("\0")
            at += 2 + count * width
    return target, strings.get("folder"), strings.get("arguments", "")
