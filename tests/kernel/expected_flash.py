#!/usr/bin/env python3
# The flash a payload file must leave on the device: each record's bytes at its
# address, never-written bytes erased (0xFF).
#   expected_flash.py PAYLOAD OUTPUT
import struct
import sys

data = open(sys.argv[1], "rb").read()
flash = bytearray()
for at in range(0, len(data) - len(data) % 57, 57):
    address, length = struct.unpack_from("<IB", data, at)
    length = min(length, 52)
    if len(flash) < address + length:
        flash.extend(b"\xff" * (address + length - len(flash)))
    flash[address:address + length] = data[at + 5:at + 5 + length]
open(sys.argv[2], "wb").write(flash)
