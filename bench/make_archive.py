#!/usr/bin/env python3
"""Writes an archive of finished hourly logs, as a logger leaves them after
months or years, in seconds: 44.1 kHz 16-bit stereo WAV files of one hour
each, whose samples are a hole in a sparse file (silence that takes no disk)
except where a tone is asked for.

Usage: make_archive.py LAYOUT FOLDER [--hours N] [--end "YYYY-MM-DD HH"]
                       [--tone "YYYY-MM-DD HH:MM:SS"]...

LAYOUT is how the logs are named below FOLDER (the logger's logs folder):
  flat   YYYY-MM-DD_HH-MM-SS.wav, as tarnveil-logger names them
  hours  YYYY/MM/DD/HH/archive.wav, as rotter and other loggers keep them
N logs (default 8760, a year) end with the one that starts at --end (default:
yesterday 23:00), in local time like the names. Each --tone moment sounds a
1 kHz tone from 30 s before it to 90 s after it, in the log that holds it; the
newest and the oldest log always sound for their first minute, so a player
started on either is heard.
"""
import argparse
import math
import os
import struct
from datetime import datetime, timedelta

RATE = 44100
CHANNELS = 2
BYTES_PER_FRAME = CHANNELS * 2
HOUR_BYTES = 3600 * RATE * BYTES_PER_FRAME


def header(data_bytes):
    fmt = struct.pack("<HHIIHH", 1, CHANNELS, RATE, RATE * BYTES_PER_FRAME, BYTES_PER_FRAME, 16)
    return (b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + data_bytes) + b"WAVE"
            + b"fmt " + struct.pack("<I", len(fmt)) + fmt
            + b"data" + struct.pack("<I", data_bytes))


HEADER_BYTES = len(header(0))
# 1 kHz does not divide 44.1 kHz evenly; ten periods are 441 frames and do.
PERIOD = b"".join(struct.pack("<hh", v, v) for v in
                  (int(12000 * math.sin(2 * math.pi * 1000 * i / RATE)) for i in range(441)))


def log_path(folder, layout, start):
    if layout == "flat":
        return os.path.join(folder, start.strftime("%Y-%m-%d_%H-%M-%S.wav"))
    return os.path.join(folder, start.strftime("%Y/%m/%d/%H"), "archive.wav")


def write_log(path, tones):
    """tones: (first second, last second) within the hour that sound."""
    with open(path, "wb") as out:
        out.write(header(HOUR_BYTES))
        for first, last in tones:
            first, last = max(first, 0), min(last, 3600)
            frames = (last - first) * RATE
            out.seek(HEADER_BYTES + first * RATE * BYTES_PER_FRAME)
            out.write(PERIOD * (frames // 441))
        out.truncate(HEADER_BYTES + HOUR_BYTES)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("layout", choices=["flat", "hours"])
    parser.add_argument("folder")
    parser.add_argument("--hours", type=int, default=8760)
    yesterday = (datetime.now() - timedelta(days=1)).replace(hour=23, minute=0, second=0, microsecond=0)
    parser.add_argument("--end", default=yesterday.strftime("%Y-%m-%d %H"))
    parser.add_argument("--tone", action="append", default=[])
    args = parser.parse_args()

    newest = datetime.strptime(args.end, "%Y-%m-%d %H")
    oldest = newest - timedelta(hours=args.hours - 1)
    tones = {newest: [(0, 60)], oldest: [(0, 60)]}
    for text in args.tone:
        moment = datetime.strptime(text, "%Y-%m-%d %H:%M:%S")
        start = moment.replace(minute=0, second=0)
        if not oldest <= start <= newest:
            parser.error(f"{text} lies outside the archive")
        offset = moment.minute * 60 + moment.second
        tones.setdefault(start, []).append((offset - 30, offset + 90))

    os.makedirs(args.folder, exist_ok=True)
    for hour in range(args.hours):
        start = oldest + timedelta(hours=hour)
        path = log_path(args.folder, args.layout, start)
        if args.layout == "hours":
            os.makedirs(os.path.dirname(path), exist_ok=True)
        write_log(path, tones.get(start, []))
    # The times a logger leaves: each log last written at its end, and each
    # folder changed when the last log in it was made.
    for hour in range(args.hours):
        start = oldest + timedelta(hours=hour)
        path = log_path(args.folder, args.layout, start)
        end = (start + timedelta(hours=1)).timestamp()
        os.utime(path, (end, end))
        folder = os.path.dirname(path)
        while True:
            os.utime(folder, (start.timestamp(), start.timestamp()))
            if os.path.samefile(folder, args.folder):
                break
            folder = os.path.dirname(folder)


if __name__ == "__main__":
    main()
