#!/usr/bin/env python3
"""Writes the compressed blocks of a container as a pack for inflate_only.c:
every grain of a stream-optimized VMware disk, every chunk of an E01 set,
or every compressed cluster of a QCOW2 disk (as kind 2: its raw deflate
stream behind two placeholder bytes), or only those holding bytes a scan read (TOUCHED: strace lines of a scan of
the raw image, pread64(fd, buf, size, offset)).

  container_blocks.py vmdk|ewf|qcow IMAGE PACK [TOUCHED]
"""
import glob
import re
import struct
import sys
import zlib


def touched_blocks(path, block):
    if path is None:
        return None
    blocks = set()
    for line in open(path):
        m = re.search(r'pread64\(\d+, .*, (\d+), (\d+)\) = (\d+)', line)
        if not m:
            continue
        size, offset = int(m.group(3)), int(m.group(2))
        if size:
            blocks.update(range(offset // block, (offset + size - 1) // block + 1))
    return blocks


def vmdk_grains(image):
    data = open(image, 'rb').read()
    grain_sectors = struct.unpack_from('<Q', data, 20)[0]
    pos = struct.unpack_from('<Q', data, 0x40)[0] * 512
    while pos + 16 <= len(data):
        lba, size = struct.unpack_from('<QI', data, pos)
        if size:  # grain marker: LBA, size, zlib stream
            yield lba // grain_sectors, 2, data[pos + 12:pos + 12 + size], grain_sectors * 512
            pos = (pos + 12 + size + 511) // 512 * 512
        elif struct.unpack_from('<I', data, pos + 12)[0] == 0:
            return  # end-of-stream marker
        else:
            pos += 512 + lba * 512  # table, directory or footer marker


def ewf_chunks(image):
    chunk_size = None
    index = 0
    for segment in sorted(glob.glob(image[:-2] + '??')):
        data = open(segment, 'rb').read()
        pos = 13
        while pos + 76 <= len(data):
            kind = data[pos:pos + 16].rstrip(b'\0')
            following = struct.unpack_from('<Q', data, pos + 16)[0]
            if kind in (b'volume', b'disk') and chunk_size is None:
                per_chunk, per_sector = struct.unpack_from('<II', data, pos + 76 + 8)
                chunk_size = per_chunk * per_sector
            if kind == b'table':
                count = struct.unpack_from('<I', data, pos + 76)[0]
                base = struct.unpack_from('<Q', data, pos + 76 + 8)[0]
                entries = struct.unpack_from('<%dI' % count, data, pos + 76 + 24)
                starts = [(e & 0x7FFFFFFF) + base for e in entries]
                ends = starts[1:] + [pos]  # a table follows its chunks
                for entry, start, end in zip(entries, starts, ends):
                    yield index, 1 if entry >> 31 else 0, data[start:end], chunk_size
                    index += 1
            if kind in (b'done', b'next') or following <= pos:
                break
            pos = following


def qcow_clusters(image):
    data = open(image, 'rb').read()
    bits, = struct.unpack_from('>I', data, 20)
    l1_size, l1_at = struct.unpack_from('>IQ', data, 36)
    per_table = 1 << (bits - 3)
    x = 62 - (bits - 8)
    for i, l2 in enumerate(struct.unpack_from('>%dQ' % l1_size, data, l1_at)):
        l2 &= 0x00FFFFFFFFFFFE00
        if not l2:
            continue
        for j, e in enumerate(struct.unpack_from('>%dQ' % per_table, data, l2)):
            if not e >> 62 & 1:
                continue
            host = e & ((1 << x) - 1)
            size = (((e >> x) & ((1 << (bits - 8)) - 1)) + 1) * 512 - (host & 511)
            stream = zlib.decompressobj(-15)
            stream.decompress(data[host:host + size])
            used = size - len(stream.unused_data)
            yield i * per_table + j, 2, b'\0\0' + data[host:host + used], 1 << bits


def main():
    kind, image, pack = sys.argv[1], sys.argv[2], sys.argv[3]
    blocks = {'vmdk': vmdk_grains, 'ewf': ewf_chunks, 'qcow': qcow_clusters}[kind](image)
    wanted = None
    with open(pack, 'wb') as out:
        for number, block_kind, stored, decoded in blocks:
            if wanted is None and len(sys.argv) > 4:
                wanted = touched_blocks(sys.argv[4], decoded)
            if wanted is not None and number not in wanted:
                continue
            out.write(struct.pack('<BII', block_kind, len(stored), decoded) + stored)


main()
