#!/usr/bin/env python3
"""A synthetic game for the delivery benchmark, the same for the same arguments.

  makegame.py DIR --version 1|2 [--mb 1024] [--small 2000] [--large 4]

Version 1: `small` files of 4-200 KiB (half compressible text-like data, half
random) and `large` files sharing the rest of the size. Version 2 is version 1
with 5% of the small files changed, 1 MiB inserted in the middle of the first
large file, 10 small files deleted and 10 added."""
import argparse
import os
import random


def text_block(rng, size):
    words = [b"level", b"texture", b"mesh", b"sound", b"script", b"quest", b"npc", b"valdane", b"0.5", b"1024"]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + (b"\n" if rng.random() < 0.1 else b" ")
    return bytes(out[:size])


def content(seed, size, compressible):
    rng = random.Random(seed)
    if compressible:
        return text_block(rng, size)
    return rng.randbytes(size)


def write(path, data, executable=False):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, 0o755 if executable else 0o644)


def large_file(path, seed, size, insert_at=None):
    # Written in 8 MiB pieces so memory stays small; half random, half text.
    rng = random.Random(seed)
    piece = 8 << 20
    written = 0
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        while written < size:
            n = min(piece, size - written)
            block = rng.randbytes(n) if (written // piece) % 2 == 0 else text_block(rng, n)
            if insert_at is not None and written <= insert_at < written + n:
                cut = insert_at - written
                f.write(block[:cut])
                f.write(random.Random(seed ^ 0xABCDEF).randbytes(1 << 20))
                f.write(block[cut:])
            else:
                f.write(block)
            written += n


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dir")
    ap.add_argument("--version", type=int, choices=(1, 2), required=True)
    ap.add_argument("--mb", type=int, default=1024)
    ap.add_argument("--small", type=int, default=2000)
    ap.add_argument("--large", type=int, default=4)
    a = ap.parse_args()

    rng = random.Random(42)
    sizes = [rng.randint(4 << 10, 200 << 10) for _ in range(a.small)]
    small_total = sum(sizes)
    large_size = max(1 << 20, ((a.mb << 20) - small_total) // max(1, a.large))
    changed = set(rng.sample(range(a.small), a.small // 20))
    deleted = set(rng.sample(sorted(set(range(a.small)) - changed), 10))

    for i, size in enumerate(sizes):
        if a.version == 2 and i in deleted:
            continue
        seed = i * 7919 + (1000003 if a.version == 2 and i in changed else 0)
        write(os.path.join(a.dir, "data", "pack%02d" % (i % 40), "asset%04d.bin" % i), content(seed, size, i % 2 == 0))
    if a.version == 2:
        for j in range(10):
            write(os.path.join(a.dir, "data", "new", "added%02d.bin" % j), content(900000 + j, 64 << 10, j % 2 == 0))
    for k in range(a.large):
        insert = large_size // 2 if (a.version == 2 and k == 0) else None
        large_file(os.path.join(a.dir, "archives", "bundle%d.pak" % k), 5000 + k, large_size, insert)
    write(os.path.join(a.dir, "bin", "valdane"), b"#!/bin/sh\necho valdane\n", executable=True)
    os.makedirs(os.path.join(a.dir, "saves"), exist_ok=True)


if __name__ == "__main__":
    main()
