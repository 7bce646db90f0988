#!/usr/bin/env python3
"""Writes the images the carving benchmarks and the output comparison read.

  make_blob.py planted OUT MIB SHORTCUT   random bytes, SHORTCUT once per MiB
  make_blob.py signatures OUT MIB         the 20-byte header signature repeated
  make_blob.py fill4c OUT MIB             nothing but 0x4C bytes
  make_blob.py corpus OUT MIB DIR         random bytes, the files of DIR in turn

In a planted image the copy in MiB i starts (i * 53) % 241 bytes into a
sector, so about a quarter sit in the first 64 bytes of one. Every fourth
copy sits in the last sector before a 64 KiB boundary and every fourth
after that in the last one before a 32 KiB boundary, so those records run
across the chunk ends of both carvers; the rest land in sector
(i * 29) % 2048 of their MiB. The random bytes are seeded: one MIB value
always gives the same image.
"""
import pathlib
import random
import sys

MIB = 1 << 20
SIGNATURE = bytes.fromhex("4c0000000114020000000000c000000000000046")


def planted_offset(i):
    in_sector = (i * 53) % 241
    if i % 4 == 0:
        sector_start = (i * 7 % 16) * 65536 + 65536 - 512
    elif i % 4 == 1:
        sector_start = (i * 11 % 32) * 32768 + 32768 - 512
    else:
        sector_start = (i * 29 % 2048) * 512
    return i * MIB + sector_start + in_sector


def write_planted(out, mib, records, per_mib=1):
    """Plants records in turn, per_mib of them in each MiB."""
    rng = random.Random(20240511)
    image = bytearray(b"".join(rng.randbytes(MIB) for _ in range(mib)))
    n = 0
    for i in range(mib):
        for k in range(per_mib):
            # Later copies of a MiB move on by a sixteenth of it.
            at = planted_offset(i) + k * (MIB // per_mib)
            at = i * MIB + (at - i * MIB) % MIB
            record = records[n % len(records)]
            n += 1
            piece = record[: max(0, len(image) - at)]
            image[at:at + len(piece)] = piece
    with open(out, "wb") as f:
        f.write(image)


def write_repeated(out, mib, unit):
    block = (unit * (MIB // len(unit) + 2))
    with open(out, "wb") as f:
        done = 0
        while done < mib * MIB:
            # Keep the pattern's phase running across blocks.
            start = done % len(unit)
            f.write(block[start:start + MIB])
            done += MIB


def main():
    kind, out, mib = sys.argv[1], sys.argv[2], int(sys.argv[3])
    if kind == "planted":
        write_planted(out, mib, [open(sys.argv[4], "rb").read()])
    elif kind == "corpus":
        paths = sorted(p for p in pathlib.Path(sys.argv[4]).rglob("*") if p.is_file())
        records = [p.read_bytes() for p in paths if 76 <= p.stat().st_size <= 65536]
        write_planted(out, mib, records, per_mib=16)
    elif kind == "signatures":
        write_repeated(out, mib, SIGNATURE)
    elif kind == "fill4c":
        write_repeated(out, mib, b"\x4c")
    else:
        sys.exit("unknown kind " + kind)


if __name__ == "__main__":
    main()
