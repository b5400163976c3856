#!/usr/bin/env python3
"""Reads a block container file on its own and checks it.

Usage: block_file_reader.py FILE NUMBER...
Prints one line per stream number: the number, a colon and the stream's bytes
in hex. Exits 1 with a message when the file breaks a rule: whole groups, a
header free head in range, each chain well formed and ending in a byte count
that fits, every block other than a chain block in exactly one of the given
streams or the free chain.
"""
import struct
import sys

END = 0xFFF00000
START = 0x01000000


def fail(message):
    print(message, file=sys.stderr)
    sys.exit(1)


def main():
    data = open(sys.argv[1], "rb").read()
    numbers = [int(n) for n in sys.argv[2:]]
    if len(data) < 4:
        fail("too short")
    header = struct.unpack_from("<I", data, 0)[0]
    block = 512 << (header & 7)
    per_group = block // 4
    if len(data) % (block * per_group):
        fail("not whole groups")
    blocks = len(data) // block

    def entry(b):
        group = b - b % per_group
        return struct.unpack_from("<I", data, group * block + 4 * (b % per_group))[0]

    owner = {}

    def claim(b, who):
        if b >= blocks or b % per_group == 0:
            fail(f"{who}: block {b} out of range or a chain block")
        if b in owner:
            fail(f"{who}: block {b} already in {owner[b]}")
        owner[b] = who

    free = header >> 8
    while free:
        claim(free, "free chain")
        free = entry(free)

    for n in numbers:
        claim(n, n)
        value = entry(n)
        chain = [n]
        if value & END == END:
            pass
        elif value & 0xFF000000 == START:
            value &= 0xFFFFFF
            while True:
                claim(value, n)
                chain.append(value)
                value = entry(value)
                if value & END == END:
                    break
                if value == 0 or value > 0xFFFFFF:
                    fail(f"stream {n}: bad entry {value:#x}")
        else:
            fail(f"stream {n}: {value:#x} does not start a stream")
        last = value & 0xFFFFF
        if last > block or (last == 0 and len(chain) > 1):
            fail(f"stream {n}: last block holds {last}")
        content = b"".join(data[b * block:(b + 1) * block] for b in chain)
        content = content[:(len(chain) - 1) * block + last]
        print(f"{n}:{content.hex()}")

    for b in range(blocks):
        if b % per_group and b not in owner:
            fail(f"block {b} is lost")


main()
