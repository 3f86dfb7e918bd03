#!/usr/bin/env python3
"""Independent TEA for the print-task file tests: enciphers or deciphers a whole file,
8-byte blocks, little-endian words, zero padding, written from the cipher's description."""
import struct
import sys

KEY = struct.unpack('<4I', bytes.fromhex('5c19e2a7047bd38e9f61a2c40d7be583'))
DELTA = 0x9E3779B9
MASK = 0xFFFFFFFF


def encipher(y, z):
    s = 0
    k0, k1, k2, k3 = KEY
    for _ in range(32):
        s = (s + DELTA) & MASK
        y = (y + ((((z << 4) & MASK) + k0) ^ (z + s) ^ ((z >> 5) + k1))) & MASK
        z = (z + ((((y << 4) & MASK) + k2) ^ (y + s) ^ ((y >> 5) + k3))) & MASK
    return y, z


def decipher(y, z):
    s = (DELTA * 32) & MASK
    k0, k1, k2, k3 = KEY
    for _ in range(32):
        z = (z - ((((y << 4) & MASK) + k2) ^ (y + s) ^ ((y >> 5) + k3))) & MASK
        y = (y - ((((z << 4) & MASK) + k0) ^ (z + s) ^ ((z >> 5) + k1))) & MASK
        s = (s - DELTA) & MASK
    return y, z


def run(mode, src, dst):
    data = open(src, 'rb').read()
    if mode == 'encipher':
        data += b'\0' * (-len(data) % 8)
        fn = encipher
    else:
        if len(data) % 8:
            sys.exit('length is not a multiple of 8')
        fn = decipher
    out = bytearray()
    for i in range(0, len(data), 8):
        y, z = struct.unpack_from('<2I', data, i)
        out += struct.pack('<2I', *fn(y, z))
    open(dst, 'wb').write(bytes(out))


def main():
    # Jobs of three arguments each: mode (encipher or decipher), source, destination.
    args = sys.argv[1:]
    for i in range(0, len(args) - 2, 3):
        run(*args[i:i + 3])


if __name__ == '__main__':
    main()
