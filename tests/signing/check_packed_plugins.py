#!/usr/bin/env python3
"""Checks that an NSIS program (the setup program, or the uninstaller it wrote) packs the signed
copies of NSIS's plug-ins, never the unsigned ones: it unpacks them to %TEMP% and loads them.

    check_packed_plugins.py PROGRAM SIGNED_DIR UNSIGNED_DIR

The program's data is read as makensis writes it with SetCompressor /SOLID lzma: after the
"NullsoftInst" first header (28 bytes from its flags), one raw LZMA stream (5 bytes of
properties, then the data) holds every file as stored bytes.
"""
import lzma
import os
import struct
import sys


def packed_data(path):
    with open(path, "rb") as stream:
        data = stream.read()
    at = data.find(b"\xef\xbe\xad\xdeNullsoftInst")
    if at < 4:
        sys.exit("FAIL: %s has no NSIS header" % path)
    start = at - 4 + 28
    props, dict_size = data[start], struct.unpack_from("<I", data, start + 1)[0]
    lzma1 = {"id": lzma.FILTER_LZMA1, "dict_size": dict_size, "lc": props % 9, "lp": props // 9 % 5,
             "pb": props // 45}
    # The stream has no end marker: what decodes before the data ends is all there is.
    return lzma.LZMADecompressor(lzma.FORMAT_RAW, filters=[lzma1]).decompress(data[start + 5:])


def main():
    program, signed_dir, unsigned_dir = sys.argv[1:4]
    packed = packed_data(program)
    failures = []
    for name in sorted(os.listdir(signed_dir)):
        if not name.lower().endswith(".dll"):
            continue
        with open(os.path.join(signed_dir, name), "rb") as signed, open(os.path.join(unsigned_dir, name), "rb") as plain:
            signed_bytes, plain_bytes = signed.read(), plain.read()
        if plain_bytes in packed:
            failures.append("%s packs the unsigned %s" % (program, name))
        if name in ("System.dll", "nsExec.dll") and signed_bytes not in packed:
            failures.append("%s does not pack the signed %s" % (program, name))
    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        print("signed plug-ins: %s" % program)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
