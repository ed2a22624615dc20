#!/usr/bin/env python3
"""Reads 16-bit mono little-endian samples at RATE from stdin (parec's raw
output) and prints, one per line, the wall-clock time in nanoseconds
(CLOCK_REALTIME, as `date +%s%N`) at which each loud passage began: the first
sample above THRESHOLD after at least QUIET_MS of samples below it.

A sample's time is taken as the moment its chunk arrived, less the samples
after it in that chunk; the reader's own lag (parec --latency-msec) is the
same for every player measured.

Usage: parec ... | sound_onsets.py [RATE] [THRESHOLD] [QUIET_MS]
"""
import array
import os
import sys
import time

rate = int(sys.argv[1]) if len(sys.argv) > 1 else 48000
threshold = int(sys.argv[2]) if len(sys.argv) > 2 else 3000
quiet_frames = (int(sys.argv[3]) if len(sys.argv) > 3 else 60) * rate // 1000

quiet_run = quiet_frames  # start as if after silence
pending = b""
while True:
    data = os.read(0, 65536)
    arrived = time.time_ns()
    if not data:
        break
    data = pending + data
    usable = len(data) - len(data) % 2
    pending = data[usable:]
    samples = array.array("h", data[:usable])
    count = len(samples)
    if count and max(samples) <= threshold and min(samples) >= -threshold:
        quiet_run += count
        continue
    for index, value in enumerate(samples):
        if -threshold <= value <= threshold:
            quiet_run += 1
            continue
        if quiet_run >= quiet_frames:
            print(arrived - (count - index) * 1_000_000_000 // rate, flush=True)
        quiet_run = 0
