#!/usr/bin/python3
"""Runs a program as a child subreaper, so the copies it starts of itself
(a relaunch spawns a new copy and exits) become our children when their
parent ends, and writes "PID EXIT_CODE" to FILE for every descendant that
ends (a signal N gives -N). Returns when none is left.

  subreaper.py FILE PROGRAM [ARGS...]
"""
import ctypes
import os
import sys

PR_SET_CHILD_SUBREAPER = 36
if ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
    sys.exit(f"subreaper: prctl failed: {os.strerror(ctypes.get_errno())}")
record = sys.argv[1]
os.posix_spawn(sys.argv[2], sys.argv[2:], os.environ)
while True:
    try:
        pid, status = os.wait()
    except ChildProcessError:
        break
    with open(record, "a") as f:
        f.write(f"{pid} {os.waitstatus_to_exitcode(status)}\n")
