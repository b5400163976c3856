"""Image maps of native documents (range 17, records of type 17), for
native_writer.py, following docs/native-format.md.

Description key "image_maps": {"first": first image number,
  "per_record": images in a record, "images": [AREAS, ...]} where AREAS is a
list of {"shape": "default" | "rect" | "circle" | "poly", "coords": [...],
"percent": [indexes of coordinates given in percent], "target": n or null}
and, for a list cut on purpose, {"raw_hex": bytes} taken as they are.
"""

import struct


def be16(v):
    return struct.pack(">H", v)


def number(v):
    """A byte, or two bytes giving 15 bits with the top bit set."""
    if v < 0x80:
        return bytes([v])
    assert v < 0x8000
    return bytes([0x80 | (v >> 8), v & 0xFF])


SHAPES = {"default": 0, "rect": 1, "circle": 2, "poly": 3}


def area(a):
    if "raw_hex" in a:
        return bytes.fromhex(a["raw_hex"])
    shape = SHAPES[a["shape"]]
    target = a.get("target")
    out = bytes([shape | (0x10 if target is not None else 0)])
    if target is not None:
        out += struct.pack(">I", target)
    if shape == 0:
        return out
    coords = a["coords"]
    mask = bytearray((len(coords) + 7) // 8)
    for i in a.get("percent", []):
        mask[i // 8] |= 1 << (i % 8)
    if shape == 3:
        out += number(len(coords) // 2)
    out += bytes(mask) + b"".join(number(c) for c in coords)
    return out


def image_map_records(desc):
    first = desc.get("first", 1)
    images = desc.get("images", [])
    per = desc.get("per_record", 8)
    records = []
    for i in range(0, len(images), per):
        chunk = images[i:i + per]
        body = bytes([16, 0, 0, 0]) + be16(first + i) + be16(first + i + len(chunk) - 1) + \
            b"\0" * 8
        for areas in chunk:
            data = b"".join(area(a) for a in areas)
            body += number(len(data)) + data
        records.append((17, body))
    return records
