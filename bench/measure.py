#!/usr/bin/python3
"""Runs a command and prints its wall time in seconds and its peak memory in MB."""
import resource
import subprocess
import sys
import time

start = time.monotonic()
result = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
seconds = time.monotonic() - start
peak_mb = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024.0
print("%.3f %.1f %d" % (seconds, peak_mb, result.returncode))
