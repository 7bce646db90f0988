"""A VHDX as qemu writes it (BAT at 2 MiB, metadata at 3 MiB) laid out as fuzz_vhdx's input:
the 4 KiB at each 64 KiB up to 320 KiB, then what follows, with the metadata
and the block table moved there.  vhdx_seed.py DISK.vhdx > SEED"""
import struct, sys
src = open(sys.argv[1], 'rb').read()
b = bytearray(src[:5 << 16])
meta, bat = 320 << 10, 400 << 10
for at in (0x30000, 0x40000):
    for i in range(struct.unpack_from('<I', b, at + 8)[0]):
        e = at + 16 + 32 * i
        struct.pack_into('<Q', b, e + 16, meta if b[e:e + 4] == bytes.fromhex('06a27c8b') else bat)
tail = bytearray(bat + 4096 - meta)
tail[:68 << 10] = src[3 << 20:(3 << 20) + (68 << 10)]
tail[bat - meta:] = src[2 << 20:(2 << 20) + 4096]
sys.stdout.buffer.write(b''.join(b[i << 16:(i << 16) + 4096] for i in range(5)) + tail)
