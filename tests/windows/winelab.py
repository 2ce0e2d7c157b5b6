"""What the Windows tests on the lab network share."""
import json
import os
import subprocess
import sys

RECEIVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e", "wolreceiver.py")


def datagrams_while(lab, action, lifetime=60):
    """Runs action() while tests/e2e/wolreceiver.py listens on port 9 in the
    lab's echo namespace; returns what action() returned and the datagrams
    received meanwhile (dicts of wolreceiver.py's JSON lines)."""
    receiver = lab.popen([sys.executable, RECEIVER, "--lifetime", str(lifetime)],
                         namespace=lab.echo, stdout=subprocess.PIPE, text=True)
    try:
        if receiver.stdout.readline().strip() != "ready":
            raise RuntimeError("the Wake-on-LAN receiver did not start")
        result = action()
    finally:
        receiver.kill()
    return result, [json.loads(line) for line in receiver.communicate()[0].splitlines()]
