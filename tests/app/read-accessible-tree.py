"""Reads the window's accessible tree through AT-SPI as a screen reader does, while
SIGUSR1 takes the simulated camera away and brings it back: every read must answer
within READ_BOUND_S, and the camera notice be in the tree exactly while the camera is
away. Run by read-tree-through-outage.sh:  read-accessible-tree.py <ostrelo>"""
import faulthandler
import signal
import subprocess
import sys
import time

import pyatspi
from gi.repository import Atspi

# A read takes some 20 ms when the window is free and may span one wait for a silent
# camera (about a second); a stalled one took over a minute.
READ_BOUND_S = 3.0
NOTICE = "Camera not answering since "


def walk(node, names):
    names.append((node.getRoleName(), node.name or ""))
    for i in range(node.childCount):
        walk(node.getChildAtIndex(i), names)
    return names


def read(app, what):
    faulthandler.dump_traceback_later(READ_BOUND_S, exit=True)  # a blocked read ends the run
    start = time.monotonic()
    names = walk(app, [])
    faulthandler.cancel_dump_traceback_later()
    print("%s: %d nodes in %.3f s" % (what, len(names), time.monotonic() - start), flush=True)
    return names, [n for _, n in names if n.startswith(NOTICE)]


def expect(app, what, away, within_s):
    end = time.monotonic() + within_s
    while True:
        names, notices = read(app, what)
        if bool(notices) == away:
            return names
        if time.monotonic() > end:
            sys.exit("%s: camera notice %s after %.0f s in %s" % (what, notices, within_s, names))
        time.sleep(0.1)


program = subprocess.Popen([sys.argv[1], "--simulate"])
time.sleep(1)
if program.poll() is not None:  # a display that refused it under load: once more
    print("the program ended at once with status %d; started again" % program.returncode, flush=True)
    program = subprocess.Popen([sys.argv[1], "--simulate"])
try:
    for _ in range(100):
        apps = [a for a in pyatspi.Registry.getDesktop(0) if a and a.get_process_id() == program.pid]
        if apps and apps[0].childCount > 0:
            break
        time.sleep(0.2)
    else:
        sys.exit("the program never appeared on the accessibility bus")
    app = apps[0]
    app.set_cache_mask(Atspi.Cache.NONE)  # every read goes to the program
    time.sleep(2)  # the live view runs
    names = expect(app, "live view", False, 0)
    for control in (("push button", "One shot"), ("push button", "Multiple shots"), ("image", "Camera view")):
        if control not in names:
            sys.exit("no %s %r in %s" % (control + (names,)))
    program.send_signal(signal.SIGUSR1)
    expect(app, "camera away", True, 10)
    for _ in range(5):
        expect(app, "during the outage", True, 0)
    program.send_signal(signal.SIGUSR1)
    expect(app, "camera back", False, 10)
    for _ in range(20):
        expect(app, "after the outage", False, 0)
finally:
    program.terminate()
    if program.wait(20) != 0:
        sys.exit("the program ended with status %d" % program.returncode)
