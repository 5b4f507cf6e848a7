#!/usr/bin/env python3
"""Writes hostile zip archives byte by byte, for the extraction tests.

  zipcraft.py shared OUT N     N entries whose directory records all name one local entry
  zipcraft.py inside OUT       an entry whose local header lies inside another entry's data
  zipcraft.py into_cd OUT      an entry whose stated data runs into the central directory
  zipcraft.py many OUT N       N small, honest entries
  zipcraft.py huge OUT         two entries that state 600 MiB each
"""
import struct
import sys
import zlib


def local(name, data, method=0, crc=None, usize=None):
    name = name.encode()
    crc = zlib.crc32(data) if crc is None else crc
    usize = len(data) if usize is None else usize
    return struct.pack('<IHHHHHIIIHH', 0x04034B50, 20, 0, method, 0, 0x21, crc, len(data), usize,
                       len(name), 0) + name + data


def central(name, offset, csize, usize, crc, method=0):
    name = name.encode()
    return struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 20, 20, 0, method, 0, 0x21, crc, csize, usize,
                       len(name), 0, 0, 0, 0, 0, offset) + name


def finish(out, body, records):
    cd = b''.join(records)
    end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, len(records), len(records), len(cd), len(body), 0)
    with open(out, 'wb') as f:
        f.write(body + cd + end)


def shared(out, n):
    plain = b'\0' * (1 << 20)
    packed = zlib.compress(plain, 9)[2:-4]  # raw deflate
    body = local('p00.bin', packed, method=8, crc=zlib.crc32(plain), usize=len(plain))
    records = [central('p%02d.bin' % i, 0, len(packed), len(plain), zlib.crc32(plain), 8) for i in range(n)]
    finish(out, body, records)


def inside(out):
    inner_data = b'inner entry data\n' * 64
    inner = local('b.bin', inner_data)
    outer = local('a.bin', inner)
    inner_at = len(outer) - len(inner)
    records = [central('a.bin', 0, len(inner), len(inner), zlib.crc32(inner)),
               central('b.bin', inner_at, len(inner_data), len(inner_data), zlib.crc32(inner_data))]
    finish(out, outer, records)


def into_cd(out):
    data = b'k' * 100
    body = local('k.bin', data)
    finish(out, body, [central('k.bin', 0, len(data) + 40, len(data) + 40, zlib.crc32(data))])


def many(out, n):
    body, records = b'', []
    for i in range(n):
        name = 'f%04d.bin' % i
        data = b'%d' % i
        records.append(central(name, len(body), len(data), len(data), zlib.crc32(data)))
        body += local(name, data)
    finish(out, body, records)


def huge(out):
    body, records = b'', []
    for name in ('kernel_cfe_auto.bin', 'root_cfe_auto.jffs2'):
        data = b'x' * 1000
        records.append(central(name, len(body), len(data), 600 << 20, zlib.crc32(data)))
        body += local(name, data, usize=600 << 20)
    finish(out, body, records)


if __name__ == '__main__':
    kind, out = sys.argv[1], sys.argv[2]
    rest = [int(a) for a in sys.argv[3:]]
    {'shared': shared, 'inside': inside, 'into_cd': into_cd, 'many': many, 'huge': huge}[kind](out, *rest)
