#!/usr/bin/env python3
"""Writes a Standard MIDI file of many tracks with few notes each, the kind of
file whose rendering should cost what its notes cost, not what its tracks cost.

    python3 bench/make_many_tracks.py OUT.mid [--tracks 380] [--notes 12] [--seconds 120]

Format 1, 480 ticks a quarter note, 120 beats a minute. Track 1 holds the
tempo; every other track sets its channel's program, volume and pan, then plays
its few notes at times spread over the whole length, so at any moment only a
handful of tracks sound. The same arguments always give the same bytes.
"""
import argparse
import random
import struct
import sys

DIVISION = 480
TEMPO = 500000  # microseconds a quarter note


def vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def chunk(events):
    """events: (tick, bytes) pairs in any order; returns an MTrk chunk."""
    data = bytearray()
    now = 0
    for tick, message in sorted(events, key=lambda e: e[0]):
        data += vlq(tick - now) + message
        now = tick
    data += vlq(0) + b"\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(data)) + bytes(data)


def make(tracks, notes, seconds, seed):
    rng = random.Random(seed)
    length = int(seconds * 1e6 / TEMPO * DIVISION)
    body = [chunk([(0, b"\xff\x51\x03" + TEMPO.to_bytes(3, "big")), (length, b"\xff\x01\x03end")])]
    for number in range(1, tracks):
        channel = number % 16
        events = []
        if channel != 9:
            events.append((0, bytes([0xC0 | channel, rng.randrange(0, 96)])))
        events.append((0, bytes([0xB0 | channel, 7, rng.randrange(70, 110)])))
        events.append((0, bytes([0xB0 | channel, 10, rng.randrange(20, 108)])))
        for _ in range(notes):
            start = rng.randrange(0, length - DIVISION * 2)
            duration = rng.randrange(DIVISION // 4, DIVISION * 2)
            key = rng.randrange(35, 82) if channel == 9 else rng.randrange(36, 90)
            velocity = rng.randrange(50, 120)
            events.append((start, bytes([0x90 | channel, key, velocity])))
            events.append((start + duration, bytes([0x80 | channel, key, 64])))
        body.append(chunk(events))
    header = b"MThd" + struct.pack(">IHHH", 6, 1, tracks, DIVISION)
    return header + b"".join(body)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--tracks", type=int, default=380)
    parser.add_argument("--notes", type=int, default=12, help="notes in each track but the first")
    parser.add_argument("--seconds", type=float, default=120.0)
    parser.add_argument("--seed", type=int, default=16)
    args = parser.parse_args()
    if args.tracks < 2 or args.tracks > 65535 or args.notes < 0 or args.seconds < 2:
        parser.error("--tracks 2-65535, --notes 0 or more, --seconds 2 or more")
    with open(args.out, "wb") as out:
        out.write(make(args.tracks, args.notes, args.seconds, args.seed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
