#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Runs a command and checks its exit code, and optionally that a pattern is
in its output or in a file it leaves: for the Windows programs under Wine,
whose exit codes ctest alone cannot tell apart.

  expectexit.py CODE [--output REGEX] [--file PATH REGEX] [--env NAME=VALUE]...
                -- COMMAND...

--env sets a variable for the command: for values that hold a semicolon,
which ctest's ENVIRONMENT cannot carry.
"""
import argparse
import os
import re
import subprocess
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("code", type=int)
    parser.add_argument("--output")
    parser.add_argument("--file", nargs=2)
    parser.add_argument("--env", action="append", default=[])
    words = sys.argv[1:]
    if "--" not in words:
        parser.error("the command follows --")
    split = words.index("--")
    args = parser.parse_args(words[:split])
    command = words[split + 1:]
    if args.file and os.path.exists(args.file[0]):
        os.remove(args.file[0])
    environment = dict(os.environ)
    for entry in args.env:
        name, _, value = entry.partition("=")
        environment[name] = value
    run = subprocess.run(command, env=environment, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         timeout=120, check=False)
    # Windows programs end their lines with CR LF.
    output = run.stdout.decode(errors="replace").replace("\r\n", "\n")
    sys.stdout.write(output)
    failed = False
    if run.returncode != args.code:
        print(f"expectexit: exit code {run.returncode}, expected {args.code}")
        failed = True
    if args.output and not re.search(args.output, output):
        print(f"expectexit: output lacks {args.output!r}")
        failed = True
    if args.file:
        path, pattern = args.file
        text = open(path, encoding="utf-8", errors="replace").read() if os.path.exists(path) else ""
        text = text.replace("\r\n", "\n")
        if not re.search(pattern, text):
            print(f"expectexit: {path} lacks {pattern!r}; it holds {text!r}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
