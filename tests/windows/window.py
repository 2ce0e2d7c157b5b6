#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""quorvel.exe, unpacked from the zip a Windows user gets, under Wine on a
virtual display, all inside the lab's monitor namespace (quorveltest.lab)
and with a Wine prefix of its own, so that nothing it sends leaves the lab.

The buttons are clicked with the pointer at the centres that the window's
layout gives them (20 px border, host buttons 120 x 60 eight to a row, 10 px
apart; five command buttons sharing the bottom row): a button that is not
where the layout puts it is not hit, and the trace shows it. Clicks rather
than a screenshot compared with the Linux window, because Wine draws with
other fonts than the Linux build and a pixel comparison would fail on them;
clicks rather than the keyboard, because the keyboard's focus skips greyed
out buttons and would not show where a button is.

  title        the window is named "HOST STATUS" (read through X)
  MANUAL, UPDATE   one cycle whose trace is exact: the host table, one child
               line per host, the PipeServer words, the exit codes and the
               status lines, for answering, silent and unreachable hosts;
               and on standard error, read from Windows' neighbour table,
               the card that answers for echo1 in place of the listed one
  a click      on the answering host's button sends nothing; on the button
               of a silent host in the second row (the ninth host), its
               102-byte magic packet to 10.200.1.255 port 9
  EXIT         status 0, and the trace ends with the two lines of leaving

With the MSI (window.py WINE ZIP MSI MSISETTINGS TRAYSTANDIN), a stand-in
notification area (traystandin.exe, installer.py) owns the shell's tray
window all along, since Wine draws no balloon:

  no "-n"      the zip's quorvel.exe above adds no icon at all
  install      msiexec /i /qn: the programs in the user's programs folder,
               the sample host list in %APPDATA%\quorvel, the Start-menu
               shortcut to quorvel.exe with "-n" working in that folder
  "-n"         quorvel.exe started as the shortcut says reads the host list
               there (the host table of UPDATE); echo2's address taken away,
               UPDATE: the icon (tooltip "quorvel") shows the balloon
               "echo2 is silent"; EXIT takes the icon away
  log-off      the session's end, played to the icon's window, takes it away
  upgrade      an MSI of a higher version (msisettings.cmake -Dversion=):
               the edited host list stays as it was
  uninstall    msiexec /x /qn: no program file and no shortcut left, the
               host list still there

Leaves a screenshot of the window after the cycle in the working directory
(quorvel-windows.png). Needs root (exit 77 without).

Before the window, and without root, what the zip passes on of other
people's work (check_licences): every DLL in it is listed in
README-windows.txt with a folder under licenses/ that holds a licence text,
and the list names no DLL that is not there; COPYING is the GPL version 3;
the GCC Runtime Library Exception covers the runtime linked into the programs.

  window.py WINE ZIP [MSI MSISETTINGS TRAYSTANDIN]
"""
import os
import glob
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

from quorveltest import QUIT_TRACE, Failure, skip, wait_until
from quorveltest import lab as netlab
from quorveltest.cycles import cycles
from installer import Tray, read_shortcut

# label, address, hardware address, whether it answers, the label shown
# Nine hosts, so that the ninth opens a second row: it is the one woken.
# echo1 is listed with a hardware address its card does not have: quorvel.exe
# must learn that from Windows' neighbour table.
HOSTS = ([("echo1", "10.200.1.2", "02:00:00:01:00:01", 1, "echo1"),
          ("echo2", "10.200.1.3", "02:00:00:01:00:02", 1, "echo2"),
          ("silent", "10.200.1.200", "02:5a:00:c0:ff:ee", 0, "silent"),
          ("unreach", "10.200.4.1", "02:00:00:04:00:01", 0, "unreac.")]
         + [(f"quiet{k}", f"10.200.1.{200 + k}", f"02:5a:00:c0:ff:0{k}", 0, f"quiet{k}")
            for k in range(1, 6)])
WOKEN = 8
MISMATCH = ("quorvel: echo1 (10.200.1.2): 02:00:00:01:00:02 answers for its address, but the "
            "host list says 02:00:00:01:00:01; a wake goes to the list's")
ARGS = ["-t", "1500", "-c", "100"]
COMMANDS = ["AUTOSTART", "MANUAL", "UPDATE", "CLEAR", "EXIT"]
MAGIC = (b"\xff" * 6 + bytes.fromhex(HOSTS[WOKEN][2].replace(":", "")) * 16).hex()

# The layout of the window (monitor/window.cpp).
BORDER, SPACING, HOST_W, HOST_H, COMMAND_W, SPACER_H = 20, 10, 120, 60, 190, 10
WINE_FONTS = "/usr/share/wine/fonts"


def expected_cycle():
    table = [f"Index-{i} hostname={shown} ip={ip}  mac={mac}"
             for i, (_, ip, mac, _, shown) in enumerate(HOSTS)]
    words = [f"PipeServer: {'alive' if alive else 'dead'}" for *_, alive, _ in HOSTS]
    ends = ["wait result=WAIT_OBJECT_0", "exitCode=0/0"] * len(HOSTS)
    verdicts = [f"{i}:{alive}" for i, (*_, alive, _) in enumerate(HOSTS)]
    return "\n".join(table + ["child processId=<pid>"] * len(HOSTS) + words + ends + verdicts)


def host_centre(index):
    row, column = divmod(index, 8)
    return (BORDER + column * (HOST_W + SPACING) + HOST_W // 2,
            BORDER + row * (HOST_H + SPACING) + HOST_H // 2)


def command_centre(word):
    """Each of the five buttons gets an equal share of the row and sits in
    the middle of it; the row is as wide as the widest row of the window."""
    hosts_in_row = min(len(HOSTS), 8)
    width = max(5 * COMMAND_W + 4 * SPACING, hosts_in_row * (HOST_W + SPACING) - SPACING)
    share = (width - 4 * SPACING) / 5
    rows = (len(HOSTS) + 7) // 8
    k = COMMANDS.index(word)
    return (round(BORDER + k * (share + SPACING) + share / 2),
            BORDER + rows * (HOST_H + SPACING) + SPACER_H + SPACING + HOST_H // 2)


class WineQuorvel:
    """quorvel.exe running in the lab, its trace collected as it comes."""

    def __init__(self, lab, wine, folder, env, args=(), cwd=None):
        self.lab, self.env = lab, env
        self.lines = []
        self.process = lab.popen([wine, os.path.join(folder, "quorvel.exe"), *args, *ARGS],
                                 namespace=lab.monitor, cwd=cwd or folder, env=env,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.errors = []
        for stream, into in ((self.process.stdout, self.lines), (self.process.stderr,
                                                                 self.errors)):
            threading.Thread(target=self._read, args=(stream, into), daemon=True).start()
        self.window = wait_until(self._find, 60, "the window HOST STATUS to appear")

    def _read(self, stream, into):
        for raw in stream:
            into.append((time.monotonic(), raw.decode(errors="replace").rstrip("\r\n")))

    def x(self, *argv):
        return self.lab.run(list(argv), namespace=self.lab.monitor, env=self.env,
                            capture_output=True, text=True, timeout=30)

    def _find(self):
        if self.process.poll() is not None:
            raise Failure(f"quorvel.exe ended with {self.process.returncode}: "
                          f"{[t for _, t in self.errors][-5:]}")
        found = self.x("xdotool", "search", "--onlyvisible", "--name", "^HOST STATUS$")
        return found.stdout.split()[0] if found.returncode == 0 and found.stdout else None

    def title(self):
        return self.x("xdotool", "getwindowname", self.window).stdout.strip()

    def click(self, where):
        self.x("xdotool", "mousemove", "--window", self.window, str(where[0]), str(where[1]),
               "click", "1")

    def trace(self):
        return [(t, text) for t, text in self.lines]

    def screenshot(self, path):
        self.x("import", "-window", self.window, path)


def start_display(lab):
    display = f":{100 + os.getpid() % 100}"
    server = lab.popen(["Xvfb", display, "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                       namespace=lab.monitor, stderr=subprocess.DEVNULL)
    socket = f"/tmp/.X11-unix/X{display[1:]}"
    wait_until(lambda: os.path.exists(socket), 20, "the virtual display to start")
    return server, display


def prepare_prefix(lab, wine, env):
    """A fresh Wine prefix, made inside the lab, with Wine's Tahoma registered:
    without it, GTK's labels under Wine are drawn as empty boxes."""
    lab.run([wine, "wineboot", "-i"], namespace=lab.monitor, env=env, capture_output=True,
            timeout=180, check=True)
    fonts = os.path.join(env["WINEPREFIX"], "drive_c", "windows", "Fonts")
    for name, face in (("tahoma.ttf", "Tahoma"), ("tahomabd.ttf", "Tahoma Bold")):
        shutil.copy(os.path.join(WINE_FONTS, name), fonts)
        lab.run([wine, "reg", "add", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts",
                 "/v", f"{face} (TrueType)", "/d", name, "/f"], namespace=lab.monitor, env=env,
                capture_output=True, timeout=60, check=True)


def unpack(zip_path, into):
    with zipfile.ZipFile(zip_path) as archive:
        archive.extractall(into)
    (folder,) = [os.path.join(into, name) for name in os.listdir(into)]
    with open(os.path.join(folder, "hostlist"), "w") as hostlist:
        hostlist.writelines(f"{label} {ip} {mac}\n" for label, ip, mac, *_ in HOSTS)
    return folder


def check_cycle(quorvel):
    found = wait_until(lambda: cycles(quorvel.trace(), len(HOSTS))[0] or None, 60,
                       "the cycle of UPDATE in the trace")
    text = re.sub(r"child processId=\d+", "child processId=<pid>",
                  "\n".join(found[0].texts))
    if text != expected_cycle():
        raise Failure(f"the cycle's trace was\n{text}\nexpected\n{expected_cycle()}")


def check_wake_on_lan(lab, quorvel):
    def clicks():
        quorvel.click(host_centre(0))  # answered: greyed out, sends nothing
        quorvel.click(host_centre(WOKEN))
        time.sleep(3)  # the packet, and time for any other that must not come

    _, datagrams = netlab.datagrams_while(lab, clicks, lifetime=30)
    got = [(d["destination"], d["bytes"]) for d in datagrams]
    if got != [("10.200.1.255", MAGIC)]:
        raise Failure(f"received {got}, expected one magic packet to 10.200.1.255")


def check_exit(quorvel):
    quorvel.click(command_centre("EXIT"))
    try:
        status = quorvel.process.wait(timeout=30)
    except subprocess.TimeoutExpired:
        raise Failure("quorvel.exe did not end after EXIT")
    time.sleep(0.5)  # the readers take the last lines
    rest = [text for _, text in quorvel.trace()][-2:]
    if status != 0 or rest != QUIT_TRACE.splitlines():
        raise Failure(f"EXIT: status {status}, last lines {rest}")


def check_licences(zip_path):
    """The licence texts in the zip, for every DLL in it; the failures."""
    with zipfile.ZipFile(zip_path) as archive:
        names = [name for name in archive.namelist() if not name.endswith("/")]
        (top,) = {name.split("/")[0] for name in names}
        inside = {name[len(top) + 1:] for name in names}

        def text(name):
            return archive.read(f"{top}/{name}").decode("utf-8", "replace")

        dlls = sorted(name for name in inside if "/" not in name and name.lower().endswith(".dll"))
        failures = []
        if not dlls:
            failures.append("the zip holds no DLL")
        readme = text("README-windows.txt") if "README-windows.txt" in inside else ""
        # "    DLLs: a.dll b.dll" followed by "    licence texts: licenses\<folder>\"
        entry = r"^    DLLs: (.*)\n    licence texts: licenses\\([^\\\n]+)\\$"
        listed = {}
        for files, folder in re.findall(entry, readme, re.MULTILINE):
            for dll in files.split():
                if dll.lower().endswith(".dll"):
                    listed[dll] = folder
        for dll in dlls:
            folder = listed.get(dll)
            if folder is None:
                failures.append(f"{dll} is not in README-windows.txt's list of licences")
                continue
            texts = [name for name in inside if name.startswith(f"licenses/{folder}/")]
            if not any(re.search(r"licen[cs]e", text(name), re.IGNORECASE) for name in texts):
                failures.append(f"{dll}: no licence text in licenses/{folder}/ ({texts})")
        absent = sorted(set(listed) - set(dlls))
        if absent:
            failures.append(f"README-windows.txt lists DLLs that the zip lacks: {absent}")
        copying = text("COPYING") if "COPYING" in inside else ""
        if not re.match(r"\s*GNU GENERAL PUBLIC LICENSE\s+Version 3,", copying):
            failures.append("COPYING is not the GNU General Public License, version 3")
        if not any("GCC RUNTIME LIBRARY EXCEPTION" in text(name) for name in inside
                   if name.startswith("licenses/")):
            failures.append("no GCC Runtime Library Exception in licenses/ for the runtime "
                            "linked into the programs")
    print(f"licences: {len(dlls)} DLLs, each with its texts in licenses/"
          if not failures else "licences:\n  " + "\n  ".join(failures), flush=True)
    return failures


def run(lab, wine, zip_path, workdir, msi=None):
    folder = unpack(zip_path, os.path.join(workdir, "unpacked"))
    server, display = start_display(lab)
    env = dict(os.environ, WINEPREFIX=os.path.join(workdir, "prefix"), DISPLAY=display,
               WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    try:
        prepare_prefix(lab, wine, env)
        tray = Tray(lab, wine, msi[2], env) if msi else None
        quorvel = WineQuorvel(lab, wine, folder, env)
        try:
            if quorvel.title() != "HOST STATUS":
                raise Failure(f"the window is named {quorvel.title()!r}")
            quorvel.click(command_centre("MANUAL"))
            time.sleep(1)
            quorvel.click(command_centre("UPDATE"))
            check_cycle(quorvel)
            wait_until(lambda: MISMATCH in [text for _, text in quorvel.errors], 10,
                       f"{MISMATCH!r} on standard error")
            time.sleep(1)  # the buttons are redrawn after the trace
            quorvel.screenshot("quorvel-windows.png")
            check_wake_on_lan(lab, quorvel)
            check_exit(quorvel)
        finally:
            if quorvel.process.poll() is None:
                quorvel.process.kill()
        if tray:
            tray.stop()
            if tray.calls():
                raise Failure(f"without -n the notification area received {tray.calls()}")
            check_installer(lab, wine, env, workdir, *msi)
    finally:
        lab.run([wine, "wineserver", "-k"], namespace=lab.monitor, env=env,
                capture_output=True, timeout=30)
        server.kill()
        server.wait()


def msiexec(lab, wine, env, *args):
    done = lab.run([wine, "msiexec", *args, "/qn"], namespace=lab.monitor, env=env,
                   capture_output=True, timeout=180)
    if done.returncode != 0:
        raise Failure(f"msiexec {' '.join(args)}: exit {done.returncode}")


def installed_files(env):
    """The user's programs folder, the user's own folder and the Start menu's
    shortcut, as paths on this side of Wine."""
    (user,) = [u for u in glob.glob(os.path.join(env["WINEPREFIX"], "drive_c", "users", "*"))
               if os.path.basename(u) != "Public"]
    roaming = os.path.join(user, "AppData", "Roaming")
    return (os.path.join(user, "AppData", "Local", "Programs", "quorvel"),
            os.path.join(roaming, "quorvel"),
            os.path.join(roaming, "Microsoft", "Windows", "Start Menu", "Programs",
                         "quorvel.lnk"))


def unix_path(env, windows_path):
    drive, rest = windows_path.rstrip("\\").split(":\\", 1)
    return os.path.join(env["WINEPREFIX"], f"drive_{drive.lower()}", *rest.split("\\"))


def start_as_shortcut(lab, wine, env, shortcut, standin, *tray_options):
    target, folder, arguments = read_shortcut(shortcut)
    tray = Tray(lab, wine, standin, env, *tray_options)
    quorvel = WineQuorvel(lab, wine, os.path.dirname(unix_path(env, target)), env,
                          arguments.split(), unix_path(env, folder))
    return tray, quorvel


def check_balloon(lab, env, wine, shortcut, standin):
    """With "-n": the icon, one balloon when echo2 falls silent, and the icon
    gone after EXIT."""
    tray, quorvel = start_as_shortcut(lab, wine, env, shortcut, standin)
    try:
        quorvel.click(command_centre("MANUAL"))
        time.sleep(1)
        quorvel.click(command_centre("UPDATE"))
        check_cycle(quorvel)  # the host table of the user's host list
        lab.run(["ip", "-n", lab.echo, "addr", "del", f"{HOSTS[1][1]}/24", "dev", "eth0"],
                check=True)
        quorvel.click(command_centre("UPDATE"))
        calls = tray.wait(2, "the balloon")
        print(f"notification area: {calls}", flush=True)
        if (calls[0] != "add tip=quorvel icon=16x16"
                or not calls[1].startswith("modify info=echo2 is silent")
                or not calls[1].endswith(" title=quorvel infoflags=4")):
            raise Failure(f"with -n the notification area received {calls}")
        check_exit(quorvel)
        calls = tray.wait(3, "the icon's removal after EXIT")
        if calls[2:] != ["delete"]:
            raise Failure(f"after EXIT the notification area received {calls[2:]}")
    finally:
        quorvel.process.kill()
        tray.stop()
    tray, quorvel = start_as_shortcut(lab, wine, env, shortcut, standin, "--logoff")
    try:
        calls = tray.wait(3, "the icon's removal at log-off")
        if calls[1:] != ["logoff query=1", "delete"]:
            raise Failure(f"at log-off the notification area received {calls}")
    finally:
        quorvel.process.kill()
        tray.stop()


def check_installer(lab, wine, env, workdir, msi, settings, standin):
    programs, userfolder, shortcut = installed_files(env)
    msiexec(lab, wine, env, "/i", msi)
    hostlist = os.path.join(userfolder, "hostlist")
    missing = [name for name in ("quorvel.exe", "zendrik.exe", "quorvel64.ico",
                                 "libgtk-3-0.dll", "share/glib-2.0/schemas/gschemas.compiled")
               if not os.path.isfile(os.path.join(programs, name))]
    if not os.path.isfile(os.path.join(userfolder, "quorvel64.ico")):
        missing.append("the window's icon in the user's folder")
    if missing or not os.path.isfile(hostlist) or not os.path.isfile(shortcut):
        raise Failure(f"after the install: missing {missing}, host list "
                      f"{os.path.isfile(hostlist)}, shortcut {os.path.isfile(shortcut)}")
    target, folder, arguments = read_shortcut(shortcut)
    if (unix_path(env, target) != os.path.join(programs, "quorvel.exe")
            or unix_path(env, folder) != userfolder or arguments != "-n"):
        raise Failure(f"the shortcut: {target!r} {arguments!r} in {folder!r}")
    with open(hostlist, "w") as f:  # the user's own hosts
        f.writelines(f"{label} {ip} {mac}\n" for label, ip, mac, *_ in HOSTS)
    with open(hostlist) as f:
        edited = f.read()
    check_balloon(lab, env, wine, shortcut, standin)

    # A higher version over it, from the same staged tree; then its removal.
    version = re.search(r"quorvel-(\d+)\.", os.path.basename(msi)).group(1)
    upgrade = os.path.join(workdir, "upgrade.msi")
    subprocess.run(["cmake", f"-Dversion={int(version) + 1}.0.0", f"-Dout={upgrade}",
                    f"-Dstage={os.path.join(workdir, 'upgradestage')}", "-P", settings],
                   check=True, capture_output=True, timeout=120)
    msiexec(lab, wine, env, "/i", upgrade)
    with open(hostlist) as f:
        if f.read() != edited:
            raise Failure("the upgrade changed the user's host list")
    if not os.path.isfile(os.path.join(programs, "quorvel.exe")):
        raise Failure("no quorvel.exe after the upgrade")
    msiexec(lab, wine, env, "/x", upgrade)
    # Wine leaves the emptied folders (Windows removes them); no file may stay.
    left = [p for p in glob.glob(os.path.join(programs, "**"), recursive=True)
            if os.path.isfile(p)]
    if left or os.path.exists(shortcut):
        raise Failure(f"after the uninstall: {left[:5]}, shortcut {os.path.exists(shortcut)}")
    with open(hostlist) as f:
        if f.read() != edited:
            raise Failure("the uninstall changed or removed the user's host list")
    print("installer: installed, started from its shortcut, upgraded and removed; the host "
          "list kept", flush=True)


def main():
    wine, zip_path = sys.argv[1:3]
    msi = sys.argv[3:6] or None
    for path, target in ((zip_path, "package"), (msi and msi[0], "msi")):
        if path and not os.path.exists(path):
            print(f"FAIL: no {path}: build it first (cmake --build build-windows --target "
                  f"{target})")
            return 1
    if check_licences(zip_path):
        print("FAIL: the zip's licences")
        return 1
    if not netlab.is_root():
        return skip("the lab's namespaces need root")
    started = time.monotonic()
    with netlab.Lab(echo_hosts=2) as lab, \
            tempfile.TemporaryDirectory(prefix="quorvel-winwindow-") as workdir:
        try:
            run(lab, wine, zip_path, workdir, msi)
        except Failure as failure:
            print(f"FAIL: {failure}")
            return 1
    print(f"PASS ({time.monotonic() - started:.0f} s): quorvel.exe from the zip, its window, "
          + ("the MSI, the notification icon, " if msi else "") +
          "a cycle, Wake-on-LAN and EXIT under Wine")
    return 0


if __name__ == "__main__":
    sys.exit(main())
