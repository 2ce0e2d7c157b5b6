#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""`cmake --install` of this build into fresh directories, and what lands there.

Checks: the exact list of installed files; zendrik's run path and that the
installed zendrik finds its echo library (which lies only in its private
directory); the capability step, both where it can grant cap_net_raw+p and
where it cannot and must say so, and a staged install that leaves it to the
package; the desktop entry (desktop-file-validate) and its launcher, run with
a stand-in quorvel; the manual pages (groff and man without warnings) and
the changelog, compressed as gzip -9n makes them.

Usage: install_test.py --build BUILD_DIR --configured-prefix PREFIX [--sanitized]
Prints "N passed, M failed"; exit status 0 when nothing failed.
"""
import argparse
import gzip
import os
import pwd
import shutil
import stat
import subprocess
import sys
import tempfile

from quorveltest import Results

INSTALLED = sorted([
    "bin/quorvel",
    "bin/quorvel-scan",
    "bin/zendrik",
    "lib/quorvel/libicmpecho.so",
    "lib/quorvel/quorvel-desktop",
    "share/applications/quorvel.desktop",
    "share/doc/quorvel/changelog.gz",
    "share/doc/quorvel/copyright",
    "share/doc/quorvel/examples/hostlist",
    "share/icons/hicolor/64x64/apps/quorvel.png",
    "share/lintian/overrides/quorvel",
    "share/man/man1/quorvel-scan.1.gz",
    "share/man/man1/quorvel.1.gz",
    "share/man/man1/zendrik.1.gz",
    "share/metainfo/quorvel.metainfo.xml",
    "share/quorvel/hostlist.template",
    "share/quorvel/quorvel64.ico",
])
EXECUTABLE = {"bin/quorvel", "bin/quorvel-scan", "bin/zendrik", "lib/quorvel/quorvel-desktop"}
GRANTED = "granted"
REFUSED = "installed WITHOUT the capability"
STAGED = "staged install (DESTDIR)"


def run(argv, **kwargs):
    return subprocess.run(argv, capture_output=True, text=True, timeout=120, **kwargs)


def tree(root):
    found = []
    for directory, _, files in os.walk(root):
        for name in files:
            found.append(os.path.relpath(os.path.join(directory, name), root))
    return sorted(found)


def getcap(path):
    if shutil.which("getcap") is None:
        return None
    return run(["getcap", path]).stdout.strip()


def check_files(prefix, results):
    files = tree(prefix)
    results.check("installed files are exactly the expected ones", files == INSTALLED,
                  f"got {files}")
    for name in INSTALLED:
        mode = os.stat(os.path.join(prefix, name)).st_mode
        executable = bool(mode & stat.S_IXOTH)
        results.check(f"{name} is {'executable' if name in EXECUTABLE else 'a plain file'} "
                      "and readable by all",
                      executable == (name in EXECUTABLE) and bool(mode & stat.S_IROTH),
                      oct(mode))


def check_compressed(prefix, results):
    """Every .gz as `gzip -9n` makes it, as Debian's policy asks: no file
    name and no time stamp in the header, so that the same sources give the
    same bytes, and the best compression."""
    for name in INSTALLED:
        if not name.endswith(".gz"):
            continue
        with open(os.path.join(prefix, name), "rb") as f:
            header = f.read(10)
        name_flag, mtime, best = header[3] & 0x08, header[4:8], header[8] == 2
        results.check(f"{name} is made by gzip -9n",
                      header[:3] == b"\x1f\x8b\x08" and not name_flag
                      and mtime == bytes(4) and best, header.hex())
        with gzip.open(os.path.join(prefix, name), "rb") as f:
            results.check(f"{name} holds text", len(f.read()) > 100)


def check_zendrik(prefix, configured, sanitized, results):
    zendrik = os.path.join(prefix, "bin/zendrik")
    dynamic = run(["readelf", "-d", zendrik]).stdout
    runpath = [line.split("[", 1)[1].rstrip("]") for line in dynamic.splitlines()
               if "(RUNPATH)" in line]
    expected = f"$ORIGIN/../lib/quorvel:{configured}/lib/quorvel"
    results.check("zendrik's run path: its private directory, relative and in full",
                  runpath == [expected], f"{runpath}, expected [{expected!r}]")
    if sanitized:
        # The sanitizer runtime's dlopen stands between zendrik and the loader,
        # which then searches the runtime's run path instead of zendrik's. The
        # plain build runs this check, and the package test runs the package.
        print("note: installed zendrik not run in a sanitizer build (its dlopen hides the "
              "run path)", flush=True)
        return
    # It pings loopback and finds no pipe of a parent (exit 1), or has no ICMP
    # socket for this user (exit 5); 3 would mean the library was not found.
    for where in ("/", prefix):
        code = run([zendrik, "-i", "0", "-h", "127.0.0.1", "-t", "300"], cwd=where).returncode
        results.check(f"installed zendrik finds its echo library (run from {where})",
                      code in (1, 5), f"exit code {code}")


def install(build, prefix, destdir=None, user=None):
    """cmake --install as this user or another one; its output."""
    env = dict(os.environ)
    env.pop("DESTDIR", None)
    if destdir is not None:
        env["DESTDIR"] = destdir
    argv = ["cmake", "--install", build, "--prefix", prefix]
    if user is not None:
        # Another user may not write the build's install manifest: run the
        # packaging directory's own install script, which is all of ours.
        argv = ["setpriv", f"--reuid={user}", f"--regid={pwd.getpwnam(user).pw_gid}",
                "--clear-groups", "--", "cmake", f"-DCMAKE_INSTALL_PREFIX={prefix}", "-P",
                os.path.join(build, "packaging", "cmake_install.cmake")]
    done = run(argv, env=env)
    return done.returncode, done.stdout + done.stderr


def check_capability_cases(build, work, results):
    root = os.geteuid() == 0
    cases = [("as this user", None, GRANTED if root else REFUSED)]
    if root and shutil.which("setpriv"):
        cases.append(("as user nobody, who may not grant it", "nobody", REFUSED))
    for label, user, expected in cases:
        prefix = os.path.join(work, f"cap-{user or 'self'}")
        os.makedirs(prefix)
        if user is not None:
            shutil.chown(prefix, user)
        code, output = install(build, prefix, user=user)
        results.check(f"[{label}] install succeeds", code == 0, output[-2000:])
        results.check(f"[{label}] install says: {expected}", expected in output, output[-2000:])
        if expected == REFUSED:
            results.check(f"[{label}] the refusal names both fixes",
                          "setcap cap_net_raw+p" in output and "ping_group_range" in output,
                          output[-2000:])
        caps = getcap(os.path.join(prefix, "bin/zendrik"))
        if caps is not None:
            has = "cap_net_raw=p" in caps
            results.check(f"[{label}] getcap shows {'the' if expected == GRANTED else 'no'} "
                          "capability", has == (expected == GRANTED), repr(caps))

    stage = os.path.join(work, "stage")
    code, output = install(build, "/usr", destdir=stage)
    results.check("[staged] install succeeds", code == 0, output[-2000:])
    results.check("[staged] leaves the capability to the package", STAGED in output,
                  output[-2000:])
    caps = getcap(os.path.join(stage, "usr/bin/zendrik"))
    if caps is not None:
        results.check("[staged] getcap shows no capability", "cap_net_raw" not in caps, repr(caps))
    entry = os.path.join(stage, "usr/share/applications/quorvel.desktop")
    with open(entry) as f:
        text = f.read()
    results.check("[staged] the desktop entry names the launcher where it will be, not the stage",
                  'Exec="/usr/lib/quorvel/quorvel-desktop"\n' in text and stage not in text,
                  text)


def check_desktop_entry(prefix, results):
    entry = os.path.join(prefix, "share/applications/quorvel.desktop")
    done = run(["desktop-file-validate", entry])
    results.check("desktop-file-validate accepts quorvel.desktop",
                  done.returncode == 0 and not (done.stdout + done.stderr).strip(),
                  done.stdout + done.stderr)
    launcher = os.path.join(prefix, "lib/quorvel/quorvel-desktop")
    with open(entry) as f:
        lines = f.read().splitlines()
    results.check("its Exec runs the installed launcher", f'Exec="{launcher}"' in lines, lines)
    results.check("its icon is installed under that name", "Icon=quorvel" in lines, lines)


def launch(launcher, home, config=None):
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home}
    if config is not None:
        env["XDG_CONFIG_HOME"] = config
    return run([launcher, "-t", "500"], env=env)


def check_launcher(prefix, work, results):
    """The launcher, with a stand-in quorvel that tells where and how it ran."""
    copy = os.path.join(work, "launcher-tree")
    shutil.copytree(prefix, copy, symlinks=True)
    standin = os.path.join(copy, "bin/quorvel")
    with open(standin, "w") as f:
        f.write('#!/bin/sh\necho "cwd=$(pwd) args=$*"\n')
    launcher = os.path.join(copy, "lib/quorvel/quorvel-desktop")
    icon = os.path.join(copy, "share/quorvel/quorvel64.ico")
    with open(os.path.join(copy, "share/quorvel/hostlist.template")) as f:
        template = f.read()

    home = os.path.join(work, "home")
    os.makedirs(home)
    first = launch(launcher, home)
    mine = os.path.join(home, ".config/quorvel")
    results.check("[first start] quorvel runs in ~/.config/quorvel with the arguments given",
                  first.returncode == 0 and first.stdout == f"cwd={mine} args=-n -t 500\n",
                  first.stdout + first.stderr)
    with open(os.path.join(mine, "hostlist")) as f:
        results.check("[first start] a host list to fill in is there", f.read() == template)
    results.check("[first start] the icon is linked in",
                  os.path.realpath(os.path.join(mine, "quorvel64.ico")) == icon,
                  os.path.realpath(os.path.join(mine, "quorvel64.ico")))

    with open(os.path.join(mine, "hostlist"), "w") as f:
        f.write("pc 127.0.0.1 02:00:00:00:00:01\n")
    os.remove(os.path.join(mine, "quorvel64.ico"))
    with open(os.path.join(mine, "quorvel64.ico"), "w"):
        pass  # the user's own icon in place of the link
    launch(launcher, home)
    with open(os.path.join(mine, "hostlist")) as f:
        results.check("[later start] the user's host list is left alone",
                      f.read() == "pc 127.0.0.1 02:00:00:00:00:01\n")
    results.check("[later start] the user's icon is left alone",
                  not os.path.islink(os.path.join(mine, "quorvel64.ico")))

    os.remove(os.path.join(mine, "quorvel64.ico"))
    os.symlink(os.path.join(work, "gone/quorvel64.ico"), os.path.join(mine, "quorvel64.ico"))
    launch(launcher, home)
    results.check("[later start] a link to an icon that has gone is renewed",
                  os.path.realpath(os.path.join(mine, "quorvel64.ico")) == icon)

    config = os.path.join(work, "xdg")
    done = launch(launcher, home, config)
    results.check("[XDG_CONFIG_HOME] quorvel runs in $XDG_CONFIG_HOME/quorvel",
                  done.stdout == f"cwd={config}/quorvel args=-n -t 500\n", done.stdout + done.stderr)
    done = launch(launcher, home, "relative/dir")
    results.check("[XDG_CONFIG_HOME relative] ignored, as the XDG rules say",
                  done.stdout == f"cwd={mine} args=-n -t 500\n", done.stdout + done.stderr)


def check_manual_pages(prefix, results):
    for page in ("quorvel.1", "zendrik.1", "quorvel-scan.1"):
        path = os.path.join(prefix, "share/man/man1", page + ".gz")
        with gzip.open(path, "rt") as f:
            done = run(["groff", "-man", "-ww", "-z"], input=f.read())
        results.check(f"groff finds nothing to warn about in {page}",
                      done.returncode == 0 and not done.stderr, done.stderr)
        if shutil.which("man"):
            env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")
            done = run(["man", "--warnings", "-E", "UTF-8", "-l", path], env=env)
            results.check(f"man shows {page} without warnings",
                          done.returncode == 0 and not done.stderr and "SYNOPSIS" in done.stdout,
                          done.stderr)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--configured-prefix", required=True)
    parser.add_argument("--sanitized", action="store_true")
    args = parser.parse_args()
    results = Results()
    with tempfile.TemporaryDirectory(prefix="quorvel-install-") as work:
        os.chmod(work, 0o755)  # user nobody must reach its own prefix inside
        check_capability_cases(args.build, work, results)
        prefix = os.path.join(work, "cap-self")
        check_files(prefix, results)
        check_compressed(prefix, results)
        check_zendrik(prefix, args.configured_prefix, args.sanitized, results)
        check_desktop_entry(prefix, results)
        check_launcher(prefix, work, results)
        check_manual_pages(prefix, results)
    return results.exit_code()


if __name__ == "__main__":
    sys.exit(main())
