#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Checks that each Windows program carries exactly one manifest, and that it
is ours: Windows 7, 8, 8.1 and 10/11 supported, run as the invoker. A
toolchain may link a default manifest of its own, and two would break the
program's start.

  manifest.py WINDRES PROGRAM...
"""
import re
import subprocess
import sys

SUPPORTED = {
    "Windows 7": "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
    "Windows 8": "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
    "Windows 8.1": "1f676c76-80e1-4239-95bb-83d0f6d0da78",
    "Windows 10 and 11": "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a",
}


def main():
    windres, programs = sys.argv[1], sys.argv[2:]
    failed = False
    for program in programs:
        # windres reads the resources of a linked program and writes them as
        # a resource script.
        run = subprocess.run([windres, "-i", program, "-J", "coff", "-O", "rc"],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
        script = run.stdout.decode(errors="replace")
        manifests = re.findall(r"^1 24 /\* RT_MANIFEST \*/$", script, re.MULTILINE)
        problems = []
        if run.returncode != 0:
            problems.append(f"windres failed: {script.strip()}")
        if len(manifests) != 1:
            problems.append(f"{len(manifests)} manifests named 1, not one")
        if len(re.findall(r"RT_MANIFEST", script)) != 1:
            problems.append("more than one manifest resource")
        for system, guid in SUPPORTED.items():
            if guid not in script:
                problems.append(f"{system} not declared")
        if 'level=""asInvoker""' not in script:
            problems.append("not run as the invoker")
        for problem in problems:
            print(f"{program}: {problem}")
        failed = failed or bool(problems)
        if not problems:
            print(f"{program}: one manifest, Windows 7 to 11, asInvoker")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
