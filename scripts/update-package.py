#!/usr/bin/env python3
# Writes a device update package into FOLDER: new.update (20-byte header: payload length, byte sum,
# version 1.11, program length, plain; then a random 245,760-byte program image and three
# length-prefixed parts), with its program as new-program.hex and its parts as new-part-N.bin, for
# checking what a device holds afterwards.
#
#   python3 scripts/update-package.py FOLDER
import os
import struct
import sys

folder = sys.argv[1]
program = os.urandom(245760)
parts = [os.urandom(n) for n in (1000, 10, 300)]
payload = program + b"".join(struct.pack("<I", len(p)) + p for p in parts)
header = struct.pack("<II", len(payload), sum(payload) % 2**32) + bytes([0, 0, 111, 0])
header += struct.pack("<I", len(program)) + bytes(4)
open(os.path.join(folder, "new.update"), "wb").write(header + payload)
open(os.path.join(folder, "new-program.hex"), "wb").write(program)
for i, part in enumerate(parts, 1):
    open(os.path.join(folder, "new-part-%d.bin" % i), "wb").write(part)
