#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The Debian package, installed on this machine as a user would install it.

Makes the package with cpack from the build under test when that build is
configured for /usr (scripts/test configures its plain build so), else from
a build of its own, installs it with apt-get, checks its dependencies, the
capability the post-install step grants, the installed files and the desktop
entry, then starts quorvel the way the desktop entry does, as user nobody on
a virtual display, in a home directory whose host list names three loopback
hosts, and waits for the first probe cycle (20 s after start) to find all
three alive: that takes the capability, the run path that finds the echo
library under it, and the launcher. Then it removes the package again.

The package also passes its ecosystem's own checks: lintian, Debian's package
checker, finds no error in it (its output is shown), it has no postrm (CPack's
ldconfig call is taken out), and appstreamcli validates the installed
AppStream metadata, whose launchable is the installed desktop entry.

All of it happens in a mount namespace of its own, where /usr, /etc and /var
are overlays whose changes land in the work directory: the installed package
is seen by this test alone and vanishes with it, even when the test is
killed, so the rest of the suite runs beside it undisturbed.

Needs root, overlay mounts and a Debian system (dpkg, apt-get); exits 77
(skipped) otherwise, and also when a package named quorvel, or files of it,
are on this machine already.

Usage: package_test.py --source SRC --build DIR --configured-prefix PREFIX
                       --work DIR --with-xvfb SCRIPT
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree

from quorveltest import Failure, Results, skip

PACKAGE = "quorvel"
OVERLAID = ["/usr", "/etc", "/var"]
INSTALLED_PATHS = ["/usr/bin/quorvel", "/usr/bin/quorvel-scan", "/usr/bin/zendrik",
                   "/usr/lib/quorvel"]

HOSTLIST = ("pc0 127.0.0.1 02:00:00:00:00:01\n"
            "pc1 127.0.0.2 02:00:00:00:00:02\n"
            "pc2 127.0.0.3 02:00:00:00:00:03\n")
# One tick of the probe timer over those hosts, all of which answer.
TICK_TRACE = ("child processId=<pid>\n" * 3 + "PipeServer: alive\n" * 3
              + "wait result=WAIT_OBJECT_0\nexitCode=0/0\n" * 3 + "0:1\n1:1\n2:1\n")
FIRST_TICK_LIMIT = 90  # seconds from start; the first tick comes after 20
NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"]
METAINFO = "/usr/share/metainfo/quorvel.metainfo.xml"


def run(argv, limit, **kwargs):
    """A step that must succeed within its limit; its output."""
    print("$ " + " ".join(argv), flush=True)
    try:
        done = subprocess.run(argv, capture_output=True, text=True, timeout=limit, **kwargs)
    except subprocess.TimeoutExpired:
        raise Failure(f"{argv[0]} did not finish within {limit} s")
    if done.returncode != 0:
        raise Failure(f"{' '.join(argv)} failed with {done.returncode}:\n"
                      f"{done.stdout[-3000:]}{done.stderr[-3000:]}")
    return done.stdout + done.stderr


def package_installed():
    done = subprocess.run(["dpkg-query", "-W", "-f=${Status}", PACKAGE], capture_output=True,
                          text=True)
    return done.returncode == 0 and "installed" in done.stdout.split()


def purge():
    done = subprocess.run(["dpkg", "--purge", PACKAGE], capture_output=True, text=True,
                          timeout=300)
    print("".join(line + "\n" for line in (done.stdout + done.stderr).splitlines()
                  if not line.startswith("(Reading database")), end="", flush=True)
    return done.returncode == 0


def reason_to_skip():
    if os.geteuid() != 0:
        return "installing a package needs root"
    for tool in ("dpkg", "dpkg-query", "apt-get", "cpack", "setpriv", "getcap", "unshare",
                 "lintian", "appstreamcli"):
        if shutil.which(tool) is None:
            return f"{tool} is missing (not a Debian system, or scripts/setup not run)"
    if package_installed():
        return "a package named quorvel is installed already; this test would replace it"
    for path in INSTALLED_PATHS:
        if os.path.lexists(path):
            return f"{path} exists already; this test would overwrite it"
    return None


def isolate(work):
    """/usr, /etc and /var of this mount namespace become overlays whose
    upper layers are in `work`."""
    for top in OVERLAID:
        layers = os.path.join(work, "overlay", top.strip("/"))
        upper, scratch = os.path.join(layers, "upper"), os.path.join(layers, "work")
        os.makedirs(upper)
        os.makedirs(scratch)
        run(["mount", "-t", "overlay", "overlay", "-o",
             f"lowerdir={top},upperdir={upper},workdir={scratch}", top], 60)


def build_package(source, build, prefix, work):
    """The .deb of the build under test when it installs into /usr; else of a
    Release build of its own, configured so."""
    if prefix != "/usr":
        build = os.path.join(work, "build")
        run(["cmake", "-S", source, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
             "-DCMAKE_INSTALL_PREFIX=/usr", "-DQUORVEL_TESTS=OFF", "-DQUORVEL_SANITIZE=OFF"], 300)
        run(["cmake", "--build", build, "-j2"], 900)
    output = os.path.join(work, "deb")
    run(["cpack", "-G", "DEB", "-B", output], 300, cwd=build)
    debs = [name for name in os.listdir(output) if name.endswith(".deb")]
    if len(debs) != 1:
        raise Failure(f"cpack made {debs}, expected one .deb")
    return os.path.join(output, debs[0])


def check_package_file(deb, results):
    info = run(["dpkg-deb", "-f", deb, "Depends"], 60).strip()
    print(f"Depends: {info}")
    depends = {d.split()[0] for d in info.split(", ")}
    for needed in ("libgtk-3-0", "libcap2-bin"):
        results.check(f"the package depends on {needed}", needed in depends, info)
    # dpkg-deb lists the control files as "<size> bytes, <n> lines [*] <name> ..."
    members = re.findall(r"^ +[0-9]+ bytes, +[0-9]+ lines +\*? +(\S+)",
                         run(["dpkg-deb", "--info", deb], 60), re.MULTILINE)
    print(f"control files: {' '.join(members)}")
    results.check("the package has no postrm: its private library needs no ldconfig",
                  "postinst" in members and "postrm" not in members, members)


def check_lintian(deb, results):
    """lintian, Debian's own package checker, as a packager would run it. The
    tags that cannot be mended yet are overridden in the package
    (packaging/quorvel.lintian-overrides), each with its reason."""
    argv = ["lintian", "--fail-on", "error", deb]
    print("$ " + " ".join(argv), flush=True)
    try:
        done = subprocess.run(argv, capture_output=True, text=True, timeout=600)
    except subprocess.TimeoutExpired:
        raise Failure("lintian did not finish within 600 s")
    print(f"lintian (exit status {done.returncode}):\n{done.stdout}{done.stderr}", end="",
          flush=True)
    results.check("lintian finds no error in the package", done.returncode == 0,
                  done.stdout[-3000:])


def install(deb, results):
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    output = run(["apt-get", "install", "-y", "--no-install-recommends", deb], 600, env=env)
    print("".join(line + "\n" for line in output.splitlines()
                  if not line.startswith("(Reading database")), end="", flush=True)
    results.check("apt-get installs the package", package_installed())
    results.check("the post-install step reports no failure to grant the capability",
                  "could not grant" not in output, output[-2000:])


def check_installed(results):
    files = run(["dpkg", "-L", PACKAGE], 60)
    print("Installed files:\n" + "".join(f"  {line}\n" for line in files.splitlines()
                                         if os.path.isfile(line)), end="", flush=True)
    caps = run(["getcap", "/usr/bin/zendrik"], 60).strip()
    print(f"getcap: {caps}", flush=True)
    results.check("getcap: zendrik holds cap_net_raw, permitted only",
                  caps.endswith("cap_net_raw=p"), caps)
    output = run(["desktop-file-validate", "/usr/share/applications/quorvel.desktop"], 60)
    results.check("desktop-file-validate accepts the installed entry", not output.strip(), output)
    for page in ("quorvel", "zendrik", "quorvel-scan"):
        found = subprocess.run(["man", "-w", page], capture_output=True, text=True).stdout.strip()
        results.check(f"man finds {page}(1)", found.startswith("/usr/share/man/man1/"), found)
    done = subprocess.run(["appstreamcli", "validate", "--no-net", METAINFO],
                          capture_output=True, text=True, timeout=120)
    print(f"appstreamcli validate --no-net {METAINFO} (exit status {done.returncode}):\n"
          f"{done.stdout}{done.stderr}", end="", flush=True)
    results.check("appstreamcli validates the installed AppStream metadata",
                  done.returncode == 0, done.stdout + done.stderr)
    launchables = [element.text for element in
                   ElementTree.parse(METAINFO).getroot().iter("launchable")]
    results.check("the metadata launches the installed desktop entry",
                  launchables == ["quorvel.desktop"] and
                  os.path.isfile("/usr/share/applications/quorvel.desktop"), launchables)


def desktop_command():
    with open("/usr/share/applications/quorvel.desktop") as f:
        for line in f:
            if line.startswith("Exec="):
                return line[len("Exec="):].strip().strip('"')
    raise Failure("the desktop entry has no Exec line")


def first_run(work, with_xvfb, results):
    """quorvel from the desktop entry, as nobody, until its first cycle."""
    home = os.path.join(work, "home")
    config = os.path.join(home, ".config", "quorvel")
    os.makedirs(config)
    with open(os.path.join(config, "hostlist"), "w") as f:
        f.write(HOSTLIST)
    for directory, _, files in os.walk(home):
        shutil.chown(directory, "nobody", "nogroup")
        for name in files:
            shutil.chown(os.path.join(directory, name), "nobody", "nogroup")
    os.chmod(work, 0o755)

    # A user's plain environment; with-xvfb adds DISPLAY.
    env = {"PATH": "/usr/bin:/bin", "HOME": home, "NO_AT_BRIDGE": "1", "LANG": "C.UTF-8"}
    out_path = os.path.join(work, "quorvel.out")
    err_path = os.path.join(work, "quorvel.err")
    pidfile = os.path.join(home, "pid")  # written by nobody
    command = [with_xvfb] + NOBODY + ["sh", "-c", 'echo "$$" > "$0"; exec "$1" -t 500', pidfile, desktop_command()]
    print("$ " + " ".join(command), flush=True)
    with open(out_path, "w") as out, open(err_path, "w") as err:
        session = subprocess.Popen(command, stdout=out, stderr=err, cwd="/", env=env,
                                   start_new_session=True)
    started = time.monotonic()
    trace = ""
    try:
        while time.monotonic() - started < FIRST_TICK_LIMIT:
            with open(out_path) as f:
                trace = re.sub(r"child processId=[0-9]+\n", "child processId=<pid>\n", f.read())
            if trace.endswith("2:1\n") or trace.endswith("2:0\n") or session.poll() is not None:
                break
            time.sleep(0.5)
        took = time.monotonic() - started
        alive = session.poll() is None
        results.check("quorvel is still running after its first cycle", alive,
                      f"ended with {session.returncode}")
        if alive:
            with open(pidfile) as f:
                pid = int(f.read())
            results.check("it runs as user nobody",
                          os.stat(f"/proc/{pid}").st_uid == 65534, "")
            results.check("it runs in ~/.config/quorvel, where the host list is",
                          os.readlink(f"/proc/{pid}/cwd") == config,
                          os.readlink(f"/proc/{pid}/cwd"))
        print(f"first cycle's trace after {took:.1f} s:\n{trace}", end="", flush=True)
        results.check("the first cycle finds all three loopback hosts alive",
                      trace == TICK_TRACE, repr(trace))
        results.check("the launcher linked the installed icon in",
                      os.path.realpath(os.path.join(config, "quorvel64.ico"))
                      == "/usr/share/quorvel/quorvel64.ico")
    finally:
        if session.poll() is None:
            # The whole session: with-xvfb, quorvel and its display.
            os.killpg(session.pid, signal.SIGTERM)
            try:
                session.wait(timeout=20)
            except subprocess.TimeoutExpired:
                os.killpg(session.pid, signal.SIGKILL)
                session.wait(timeout=20)
    with open(err_path) as f:
        err = f.read()
    print(f"quorvel's standard error:\n{err}", end="", flush=True)
    results.check("no hint about ICMP sockets on standard error",
                  "could not open an ICMP socket" not in err, err[-2000:])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--configured-prefix", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--with-xvfb", required=True)
    parser.add_argument("--isolated", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if not args.isolated:
        if os.geteuid() != 0 or shutil.which("unshare") is None:
            return skip("a mount namespace of its own needs root and unshare")
        # The same process, now in its own mount namespace, so that a stop
        # from ctest reaches it directly.
        os.execvp("unshare", ["unshare", "--mount", "--propagation", "private",
                              sys.executable, os.path.abspath(__file__), *sys.argv[1:],
                              "--isolated"])
    # A stop from ctest (SIGTERM) still ends quorvel's session and cleans up.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))
    os.makedirs(args.work, exist_ok=True)
    work = tempfile.mkdtemp(prefix="package-test-", dir=args.work)
    try:
        try:
            isolate(work)
        except Failure as failure:
            return skip(f"no overlay over {', '.join(OVERLAID)}: {failure}")
        reason = reason_to_skip()
        if reason is not None:
            return skip(reason)
        return check_package(args, work)
    finally:
        for top in reversed(OVERLAID):
            subprocess.run(["umount", "--lazy", top], capture_output=True)
        shutil.rmtree(work, ignore_errors=True)


def check_package(args, work):
    results = Results()
    try:
        deb = build_package(args.source, args.build, args.configured_prefix, work)
        check_package_file(deb, results)
        check_lintian(deb, results)
        install(deb, results)
        check_installed(results)
        first_run(work, args.with_xvfb, results)
    except Failure as failure:
        results.check("the test got through every step", False, str(failure))
    finally:
        if package_installed():
            results.check("dpkg --purge removes the package again", purge() and
                          not package_installed())
            left = [p for p in INSTALLED_PATHS if os.path.lexists(p)]
            results.check("nothing of it is left", not left, left)
    return results.exit_code()


if __name__ == "__main__":
    sys.exit(main())
