#!/usr/bin/python3
"""Prints one figure measured several times. Each line of FILE is a run: its seconds, or the
seconds of the work and of its floor, then the peak memory in MB where it was measured. With the
names of the two sides, prints the median seconds of each and the median and range of the
ratio; without, the median and range of the seconds. With --per COUNT, the seconds are shared
out over COUNT items and shown in milliseconds each; with --per COUNT LEFT RIGHT, both sides' and
the difference."""
import statistics
import sys

path, label, *sides = sys.argv[1:]
runs = [[float(v) for v in line.split()] for line in open(path) if line.strip()]
if sides[:1] == ["--per"]:
    # With the names of two sides and lines of two figures: each side's, and what the first
    # spends beyond the second.
    count = float(sides[1])
    each = [run[0] * 1000 / count for run in runs]
    line = "%s: %.3f ms (%.3f-%.3f ms)" % (label, statistics.median(each), min(each), max(each))
    paired = [run for run in runs if len(run) > 1]
    if len(sides) == 4 and paired:
        floor = [run[1] * 1000 / count for run in paired]
        beyond = [(run[0] - run[1]) * 1000 / count for run in paired]
        line = "%s: %s %.3f ms, %s %.3f ms; beyond it %.3f ms (%.3f-%.3f ms)" % (
            label, sides[2], statistics.median(each), sides[3], statistics.median(floor), statistics.median(beyond),
            min(beyond), max(beyond))
    print("%s; %d run%s" % (line, len(runs), "" if len(runs) == 1 else "s"))
    sys.exit(0)
peaks = [run[len(sides) or 1] for run in runs if len(run) > (len(sides) or 1)]
peak = ", peak %.1f MB" % statistics.median(peaks) if peaks else ""
count = "%d run%s" % (len(runs), "" if len(runs) == 1 else "s")
if sides:
    ratios = [work / floor for work, floor, *_ in runs]
    print("%s: %s %.2f s, %s %.2f s; ratio %.2fx (%.2fx-%.2fx)%s; %s" % (
        label, sides[0], statistics.median(r[0] for r in runs), sides[1], statistics.median(r[1] for r in runs),
        statistics.median(ratios), min(ratios), max(ratios), peak, count))
else:
    seconds = [run[0] for run in runs]
    print("%s: %.2f s (%.2f-%.2f s)%s; %s" % (label, statistics.median(seconds), min(seconds), max(seconds),
                                                 peak, count))
