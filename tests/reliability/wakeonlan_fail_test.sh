#!/usr/bin/env bash
# Runs wakeonlan_fail_test.py in a network namespace of its own (no routes,
# loopback down), on a display and a session bus of its own. Needs root for
# the namespace; exits 77 (skipped) without it.
#
# Usage: wakeonlan_fail_test.sh QUORVEL ICON
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: a network namespace of its own needs root"
  exit 77
fi
here=$(cd "$(dirname "$0")" && pwd)
exec unshare --net -- "$here/../../scripts/with-xvfb" dbus-run-session -- \
  /usr/bin/python3 "$here/wakeonlan_fail_test.py" "$@"
