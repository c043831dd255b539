#!/usr/bin/python3
"""Runs a command and prints its wall time in seconds, its peak memory in MB and the CPU time it
used in seconds (user and system). When the command fails, shows the end of what it wrote on
standard error and exits with its status."""
import resource
import subprocess
import sys
import time

start = time.monotonic()
result = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
seconds = time.monotonic() - start
if result.returncode != 0:
    tail = result.stderr.decode(errors="replace").splitlines()[-10:]
    sys.exit("\n".join([f"{sys.argv[1]} exited with {result.returncode}:"] + tail))
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
print("%.3f %.1f %.3f" % (seconds, usage.ru_maxrss / 1024.0, usage.ru_utime + usage.ru_stime))
