#!/usr/bin/env python3
"""Writes the seed corpus of the cable fuzz target into corpus/cable/.

Each seed is a card in the input layout described at the top of
tests/fuzz/cable_fuzz.cpp: a complete transfer of each kind, each thing that
can stand in the way of the output, and each misbehaviour the card knows.
Run it again after changing the layout; the seeds are kept in the tree so
that the fuzz build needs nothing but the compiler.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "cable")

VERBOSE, NAMED, DEVICE, GLITCHES, REFUSED = 0x01, 0x02, 0x20, 0x40, 0x80
FILE, LINK, DANGLING, DIRECTORY = 1 << 2, 2 << 2, 3 << 2, 4 << 2
DATA, GAME = 0x33, 0xCC
NEVER_READY, LAST_READ, TOO_LATE = 252, 250, 251
STAMP = bytes([0x19, 0x99, 0x12, 0x31, 0x23, 0x59, 0x58])
# Edit kinds
HEADER, CODE, TRAILER, RESIZE, SET_BYTE, NO_WAIT, STOP, TWICE, DROP, LENGTH = range(10)


def seed(options=0, device=b"", refused=None, ready=0, timing=0, jitter_seed=0, stall=None,
         file_type=DATA, size=1, name=b"SAVEGAME", stamp=STAMP, image_seed=7, glitches=(),
         edits=()):
    out = bytes([options])
    if options & DEVICE:
        out += bytes([len(device)]) + device
    if options & REFUSED:
        out += bytes([refused - 1])
    out += bytes([ready, timing, jitter_seed])
    if stall is None:
        out += b"\0"
    else:
        bit, ack_low, byte = stall
        out += bytes([(bit if bit else 8 * 2) | (8 if ack_low else 0)]) + struct.pack("<H", byte)
    out += bytes([file_type, size]) + name.ljust(12, b" ")[:12] + stamp + bytes([image_seed])
    if options & GLITCHES:
        out += bytes([len(glitches)])
        for read, raw in glitches:
            out += struct.pack("<I", read - 1)[:3] + bytes([raw])
    for frame, kind, a, b in edits:
        out += struct.pack("<H", frame) + bytes([kind, a, b])
    return out


SEEDS = {
    "data_one_block": seed(VERBOSE),
    "game_empty_named": seed(NAMED, file_type=GAME, size=0),
    "big_255_blocks": seed(size=0xFF, timing=4, jitter_seed=9),
    "hidden_name": seed(name=b".profile"),
    "name_with_slash": seed(name=b"../x/y"),
    "existing_file": seed(FILE, name=b"SAVE"),
    "link_to_outside": seed(LINK, name=b"SAVE"),
    "dangling_link": seed(DANGLING | NAMED),
    "directory": seed(DIRECTORY, name=b"SAVE"),
    "never_ready": seed(ready=NEVER_READY),
    "ready_at_last_read": seed(ready=LAST_READ),
    "ready_too_late": seed(ready=TOO_LATE),
    "stall_mid_data": seed(stall=(3, True, 40)),
    "stall_before_byte": seed(stall=(0, False, 7)),
    "wrong_code": seed(edits=[(2, CODE, 5, 0)]),
    "bad_trailer": seed(edits=[(3, TRAILER, 1, 0)]),
    "short_data": seed(edits=[(2, LENGTH, 1, 0xAA)]),
    "length_lie": seed(edits=[(2, RESIZE, 40, 0x55)]),
    "bad_header": seed(edits=[(0, HEADER, 0x20, 0)]),
    "no_wait_twice_stop": seed(size=2, edits=[(1, NO_WAIT, 0, 0), (4, TWICE, 0, 0),
                                              (9, STOP, 0, 0)]),
    "dropped_frame": seed(edits=[(3, DROP, 0, 0)]),
    "wrong_type": seed(file_type=0x00),
    "odd_stamp": seed(stamp=bytes([0xFF, 0x1A, 0x00, 0x99, 0x3F, 0xAA, 0x61])),
    "glitches": seed(GLITCHES, glitches=[(1, 0x00), (40, 0xEF), (300, 0x7F)]),
    "unknown_device": seed(DEVICE, device=b"com1"),
    "number_device": seed(DEVICE, device=b" 0x3bc"),
    "refused_port": seed(REFUSED, refused=13),
}

os.makedirs(OUT, exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
