#!/usr/bin/env python3
"""Writes Halvane's demo songs: short Standard MIDI files of our own, for trying the
converter on a machine that has no MIDI files yet.  Usage: make_demo_songs.py FOLDER"""
import os
import struct
import sys

DIVISION = 480  # ticks per quarter note


def vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, (value & 0x7F) | 0x80)
        value >>= 7
    return bytes(out)


def track(events):
    """events: (tick, bytes) pairs in any order; returns an MTrk chunk."""
    data = b""
    now = 0
    for tick, message in sorted(events, key=lambda e: e[0]):
        data += vlq(tick - now) + message
        now = tick
    data += vlq(0) + b"\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(data)) + data


def notes(channel, start, pitches, length, velocity=96):
    events = []
    for i, pitch in enumerate(pitches):
        if pitch is None:
            continue
        on = start + i * length
        events.append((on, bytes([0x90 | channel, pitch, velocity])))
        events.append((on + length - 10, bytes([0x80 | channel, pitch, 0])))
    return events


def song(path, tempo_us, parts):
    """parts: (program, channel, events) per track."""
    conductor = track([(0, b"\xff\x51\x03" + tempo_us.to_bytes(3, "big")),
                       (0, b"\xff\x58\x04\x04\x02\x18\x08")])
    chunks = [conductor]
    for program, channel, events in parts:
        chunks.append(track([(0, bytes([0xC0 | channel, program]))] + events))
    header = b"MThd" + struct.pack(">IHHH", 6, 1, len(chunks), DIVISION)
    with open(path, "wb") as out:
        out.write(header + b"".join(chunks))


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "demo-songs"
    os.makedirs(folder, exist_ok=True)
    q = DIVISION
    # A scale up and down on a piano, with a bass under it.
    melody = [60, 62, 64, 65, 67, 69, 71, 72, 71, 69, 67, 65, 64, 62, 60, None]
    bass = [36, 43, 41, 43]
    song(os.path.join(folder, "Scale Walk.mid"), 500000,
         [(0, 0, notes(0, 0, melody, q // 2)), (32, 1, notes(1, 0, bass, 2 * q, 80))])
    # A slow waltz of broken chords on strings, with drums on channel 10.
    chords = [[48, 55, 64], [53, 57, 65], [55, 59, 67], [48, 52, 60]]
    waltz = []
    for bar, chord in enumerate(chords * 2):
        waltz += notes(0, bar * 3 * q, chord, q)
    drums = []
    for beat in range(24):
        drums += notes(9, beat * q, [36 if beat % 3 == 0 else 42], q // 2, 70)
    song(os.path.join(folder, "Little Waltz.mid"), 600000, [(48, 0, waltz), (0, 9, drums)])
    print(folder)


if __name__ == "__main__":
    main()
