# SPDX-License-Identifier: GPL-3.0-or-later
"""A second, unprivileged local user for the length of a test: the stranger
that the security tests let loose on a monitor and its probes. Needs root.

    with otheruser.OtherUser() as stranger:
        subprocess.run(stranger.wrap(["id", "-u"]))
"""

import os
import pwd
import subprocess


class OtherUser:
    def __init__(self, prefix="qvx"):
        self.name = f"{prefix}{os.getpid()}"
        self.uid = self.gid = None

    def __enter__(self):
        subprocess.run(["useradd", "--system", "--no-create-home", "--user-group",
                        "--shell", "/usr/sbin/nologin", self.name],
                       check=True, capture_output=True)
        entry = pwd.getpwnam(self.name)
        self.uid, self.gid = entry.pw_uid, entry.pw_gid
        return self

    def __exit__(self, *exc):
        subprocess.run(["pkill", "-KILL", "-u", self.name], capture_output=True)
        subprocess.run(["userdel", self.name], capture_output=True)

    def wrap(self, argv):
        """argv run as this user, with no supplementary groups."""
        return ["setpriv", f"--reuid={self.uid}", f"--regid={self.gid}", "--clear-groups",
                "--"] + list(argv)

    def chown(self, path):
        os.chown(path, self.uid, self.gid)
