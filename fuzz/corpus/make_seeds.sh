#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets into fuzz/corpus/ (kept in the repository;
# run again only to renew them). Zip seeds come from real archivers, containers and console
# streams from our own writers below. Needs zip, python3 and bsdtar.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$here/zip" "$here/imageprep" "$here/escape"

cd "$work"
mkdir -p img
printf 'kernel kernel kernel kernel\n' > kernel_cfe_auto.bin
printf 'root' > img/root_cfe_auto.jffs2
: > img/empty.txt
zip -q -9 "$here/zip/deflate.zip" kernel_cfe_auto.bin img/root_cfe_auto.jffs2
zip -q -0 "$here/zip/stored.zip" kernel_cfe_auto.bin img/empty.txt
zip -q -r "$here/zip/folders.zip" img
zip -q -P s3cret "$here/zip/encrypted.zip" kernel_cfe_auto.bin
printf 'a comment' | zip -q -z "$here/zip/deflate.zip"
bsdtar --format zip -cf "$here/zip/bsdtar.zip" kernel_cfe_auto.bin img
python3 - "$here/zip/python.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('kernel_cfe_auto.bin', b'k' * 64)
    z.writestr('sub/boot_cfe_auto.jffs2', b'boot', compress_type=zipfile.ZIP_STORED)
PY

python3 - "$here/imageprep" <<'PY'
import os, struct, sys
out = sys.argv[1]
def record(data):
    return bytes([0xA0, 0x50, 0x30, 0xA0]) + struct.pack('>I', len(data)) + data
def container(flags, parts):
    return b'KXB\0' + b'\0\0\0\1' + bytes([0, 0, 0, flags]) + b''.join(record(p) for p in parts)
seeds = {
    'all_three': container(0x0E, [b'root' * 8, b'boot' * 4, b'kernel']),
    'kernel_only': container(0x02, [b'kernel data']),
    'empty_partition': container(0x08, [b'']),
    'short_record': container(0x04, [b'boot'])[:-2],
    'no_flags': container(0x00, []),
}
for name, data in seeds.items():
    with open(os.path.join(out, name), 'wb') as f:
        f.write(data)
PY

# Theme file seeds: header, record heads and the terminating head as the writer lays them out.
mkdir -p "$here/skinfile"
python3 - "$here/skinfile" <<'PY'
import os, struct, sys
out = sys.argv[1]
def theme(records):
    data = bytearray(b'DODIvez_TB\0\0' + struct.pack('<III', 24, 1, 24))
    for name, kind, payload in records:
        at = len(data)
        data += name.ljust(64, b'\0')[:64] + bytes([kind]) + struct.pack('<III', at + 77, len(payload), at + 77 + len(payload))
        data += payload
    return bytes(data + b'\0' * 64 + b'\x02' + b'\0' * 12)
bmp = b'BM' + struct.pack('<IHHI', 62, 0, 0, 54) + struct.pack('<IiiHHIIiiII', 40, 2, 1, 1, 24, 0, 8, 0, 0, 0, 0) + b'\xff\x00\xff\x00\x00\xff\0\0'
seeds = {
    'empty.skn': theme([]),
    'elements.skn': theme([(b'ButtonImage', 0, bmp), (b'Author', 3, b'me'),
                           (b'FormRoundCornerInt', 1, struct.pack('<i', 13)), (b'ControlBorderColor', 1, struct.pack('<i', 0x686868)),
                           (b'ButtonTransparentBool', 2, b'\x01')]),
    'duplicates.skn': theme([(b'Key', 1, struct.pack('<i', 1)), (b'KEY', 1, struct.pack('<i', -2)), (b'n' * 64, 2, b'\x00')]),
}
for name, data in seeds.items():
    with open(os.path.join(out, name), 'wb') as f:
        f.write(data)
PY

# Escape seeds: a set-up byte, a cut byte, then console output (see fuzz_escape.cpp).
seed() { printf "$2" > "$here/escape/$1"; }
seed vt100_boot '\x0e\x05CFE version 1.0\r\n\x1b[2J\x1b[1;1HCFE> \x1b[0;31mred\x1b[m\r\n'
seed vt100_cursor '\x0e\x09\x1b[5;10H*\x1b[3A\x1b[2K\x1b[?25l\x1b[s\x1b[u\x1b[10;1r\x1bM\x1bD\x1b7\x1b8'
seed vt100_small '\x00\x02abcdefgh\x1b[99;99Hx\r\n\x1b[1;33;44mz\x08\x08\x09y'
seed vt52 '\x0f\x03\x1bH\x1bJline\x1bY%%*X\x1bA\x1bB\x1bC\x1bD\x1bK\x1bI\r\n'

# RTF seeds: documents from real writers (pandoc, enscript) and the window's own prompt.
# Needs pandoc and enscript.
mkdir -p "$here/rtf"
printf 'Plain **bold** *italic* ~~gone~~ caf\xc3\xa9 \xe6\x97\xa5\xf0\x9f\x98\x80 {x} \\\\y\n\nTwo\\\nlines\n\n- a\n- b\n' |
  pandoc -s -f markdown -t rtf -o "$here/rtf/pandoc.rtf"
printf '/* c */\nint main(void) {\n\treturn 0; /* caf\xe9 */\n}\n' |
  enscript -q --language=rtf --highlight=c --color -o "$here/rtf/enscript.rtf"
printf '%s\r\n' '{\rtf1\ansi\ansicpg1252\deff0\deflang1033{\fonttbl{\f0\fswiss\fcharset0 Arial;}}' \
  '{\colortbl ;\red255\green0\blue0;}' \
  '\viewkind4\uc1\pard\qc\cf1\b\f0\fs16 Please, start or restart your machine!\cf0\b0\par' '}' > "$here/rtf/prompt.rtf"
cat > "$here/rtf/words.rtf" <<'RTF'
{\rtf1\ansi\ansicpg1251{\fonttbl{\f0\fcharset204 A;}{\f1\fcharset128 B;}}{\colortbl;\red1\green2\blue3;}
{\*\generator x;}{\info{\title t}}\f0\'cf\f1\'82\'a0\uc2\u26085\'93\'fa\uc1\u-10179?\u-8694?
\ql\b\i\ul\strike\cf1\highlight1\fs40 a\line\tab b\par\qc\plain c\~\emdash\bin3 xyz\qr\qj d\par}
RTF
