"""The link index area of native documents (range 16), for native_writer.py:
anchor records (type 14), target-code records (type 16) and name-hash
records (type 15), following docs/native-format.md.

Description key "link_index" (every part optional):

  anchors   {"pairs": [[number, position], ...] (sorted by number),
             "per_block": pairs in a block, "blocks_per_record": 1..8,
             "modes": ["coded" | "stored", ...] cycled over the blocks}
  targets   {"first_code": lowest code (top 4 bits clear),
             "entries": [{"text": s, "name": s, "item3": ITEM}, ...],
             "per_record": codes in a record, "per_block": entries in a block,
             "list3_format": 0-3 or "auto" (F 3 when kinds mix),
             "modes": [...]}
             ITEM is {"name": s} or {"kind": 1 | 2, "value": v}; a missing
             key leaves the code without that entry (a shorter list)
  names     {"entries": [{"name": s, "second": s or null, "position": p}],
             "per_record": entries in a record, "per_block": entries in a
             block, "modes": [...]}

Strings are UTF-8 text. The records are returned in area order together
with the three counts of header offsets 60, 62 and 64.
"""

import struct
import zlib


def be16(v):
    return struct.pack(">H", v)


def be32(v):
    return struct.pack(">I", v)


def counted(data):
    """A counted string: one length byte, or two with bit 7 set, the bytes,
    then one byte the reader skips."""
    n = len(data)
    if n < 0x80:
        head = bytes([n])
    else:
        assert n < 0x8000
        head = bytes([0x80 | (n >> 8), n & 0xFF])
    return head + data + b"\0"


def first_hash(name):
    folded = bytes(c + 32 if 65 <= c <= 90 else c for c in name)
    return (zlib.crc32(folded) ^ 0xFFFFFFFF) & 0xFFFF


def second_hash(name, second):
    if second is None:
        return first_hash(name)
    return (zlib.crc32(second) ^ 0xFFFFFFFF) & 0xFFFF


def colliding_names(count, prefix="anchor"):
    """count different names whose first hashes are equal."""
    seen = {}
    i = 0
    while True:
        name = ("%s%d" % (prefix, i)).encode()
        seen.setdefault(first_hash(name), []).append(name)
        if len(seen[first_hash(name)]) == count:
            return seen[first_hash(name)]
        i += 1


def chunks(items, n):
    return [items[i:i + n] for i in range(0, len(items), n)] or [[]]


class BlockSet:
    """A list's blocks, each coded or stored, sharing one code table."""

    def __init__(self, blocks, modes, encode):
        self.blocks = blocks
        self.stored = [modes[k % len(modes)] == "stored" for k in range(len(blocks))]
        coded = [b for b, s in zip(blocks, self.stored) if not s]
        self.table = b""
        self.coded = {}
        if coded:
            table, words, _, _ = encode(coded)
            self.table = table
            it = iter(words)
            for k, s in enumerate(self.stored):
                if not s:
                    self.coded[k] = next(it)

    def array(self):
        out = be16(len(self.table))
        for k, b in enumerate(self.blocks):
            data = b if self.stored[k] else self.coded[k]
            out += be16((0x8000 if self.stored[k] else 0) | len(data))
        return out

    def data(self, at):
        """The table and blocks from offset `at` (record offsets), each on a
        4-byte boundary; returns (bytes, end offset)."""
        out = b""

        def pad():
            nonlocal out
            while (at + len(out)) % 4:
                out += b"\0"

        pad()
        out += self.table
        for k, b in enumerate(self.blocks):
            pad()
            out += b if self.stored[k] else self.coded[k]
        return out, at + len(out)


def anchor_records(desc, encode):
    pairs = desc.get("pairs", [])
    per_block = desc.get("per_block", 64)
    per_record = desc.get("blocks_per_record", 4)
    modes = desc.get("modes", ["coded"])
    blocks = chunks(pairs, per_block)
    records = []
    for group in chunks(blocks, per_record):
        raw = [b"".join(be32(n) + be32(p) for n, p in blk) for blk in group]
        bs = BlockSet(raw, modes, encode)
        entries = b""
        for k, blk in enumerate(group):
            data = raw[k] if bs.stored[k] else bs.coded[k]
            entries += be32(blk[-1][0] if blk else 0) + be16(len(data) // 4) + \
                be16(4 if bs.stored[k] else 0)
        body = bytes([8, 0, 0, len(group)]) + be32(group[0][0][0] if group[0] else 0) + entries
        body += be16(len(bs.table) // 4) + b"\0\0" + bs.table
        for k in range(len(group)):
            body += raw[k] if bs.stored[k] else bs.coded[k]
        records.append((14, body))
    return records


def string_list_block(strings):
    groups = []
    for s in strings:
        if groups and groups[-1][0] == s:
            groups[-1][1] += 1
        else:
            groups.append([s, 1])
    out = bytes([6, 0]) + be16(len(groups)) + be16(len(strings))
    out += b"".join(be16(n) for _, n in groups)
    out += b"".join(counted(s) for s, _ in groups)
    return out


def item3_block(items, fmt):
    if fmt == "auto":
        kinds = {0 if "name" in it else it["kind"] for it in items}
        fmt = kinds.pop() if len(kinds) == 1 else 3
    out = bytes([4, fmt]) + be16(len(items))
    for it in items:
        kind = 0 if "name" in it else it["kind"]
        if fmt == 3:
            out += bytes([kind])
        elif kind != fmt:
            raise ValueError("item of kind %d in a block of format %d" % (kind, fmt))
        out += counted(it["name"].encode()) if kind == 0 else be32(it["value"])
    return out


def target_records(desc, encode):
    entries = desc.get("entries", [])
    first = desc.get("first_code", 0)
    per_record = desc.get("per_record", 100)
    per_block = desc.get("per_block", 16)
    fmt = desc.get("list3_format", "auto")
    modes = desc.get("modes", ["coded"])
    records = []
    for r0 in range(0, max(len(entries), 1), per_record):
        group = entries[r0:r0 + per_record]
        lists = []
        for key in ("text", "name"):
            values = []
            for e in group:
                if key not in e:
                    break
                values.append(e[key].encode())
            lists.append([string_list_block(b) for b in chunks(values, per_block) if b])
        items = []
        for e in group:
            if "item3" not in e:
                break
            items.append(e["item3"])
        lists.append([item3_block(b, fmt) for b in chunks(items, per_block) if b])
        sets = [BlockSet(blocks, modes, encode) for blocks in lists]
        head = bytes([16, 0, 0, 0]) + be32(first + r0) + be32(first + r0 + len(group) - 1)
        head += bytes([len(lists[0]), len(lists[1]), len(lists[2]), 0])
        body = head + b"".join(s.array() for s in sets)
        at = 4 + len(body)  # record offsets: a 4-byte record header comes first
        for s in sets:
            data, at = s.data(at)
            body += data
        records.append((16, body))
    return records


def name_chunks(entries, n):
    """Blocks of at most n entries (more when one name has more), never
    splitting the entries of one name: a name's group lies in one block."""
    blocks = []
    i = 0
    while i < len(entries):
        j = i
        while j < len(entries) and entries[j][:2] == entries[i][:2]:
            j += 1
        if blocks and len(blocks[-1]) + (j - i) <= n:
            blocks[-1].extend(entries[i:j])
        else:
            blocks.append(list(entries[i:j]))
        i = j
    return blocks or [[]]


def name_records(desc, encode):
    entries = []
    for e in desc.get("entries", []):
        name = e["name"].encode()
        second = e.get("second")
        second = second.encode() if second is not None else None
        entries.append((first_hash(name), name.lower(), name, second, e["position"]))
    entries.sort(key=lambda t: (t[0], t[1]))
    per_record = desc.get("per_record", 64)
    per_block = desc.get("per_block", 16)
    modes = desc.get("modes", ["coded"])
    records = []
    for group in chunks(entries, per_record):
        name_blocks = []
        pos_blocks = []
        for blk in name_chunks(group, per_block):
            groups = []
            for h, key, name, _, _ in blk:
                if groups and groups[-1][0] == key:
                    groups[-1][2] += 1
                else:
                    groups.append([key, name, 1])
            nb = bytes([12, 0]) + be16(len(groups)) + be16(blk[0][0]) + be16(blk[-1][0]) + \
                be16(len(blk)) + b"\0\0"
            nb += b"".join(be16(n) for _, _, n in groups)
            nb += b"".join(counted(name) for _, name, _ in groups)
            name_blocks.append(nb)
            seconds = [second_hash(e[2], e[3]) for e in blk]
            pb = bytes([8, 0]) + be16(len(blk)) + be16(min(seconds)) + be16(max(seconds))
            pb += b"".join(be32(e[4]) for e in blk)
            pb += b"".join(counted(e[3] or b"") for e in blk)
            pos_blocks.append(pb)
        sets = [BlockSet(name_blocks, modes, encode), BlockSet(pos_blocks, modes, encode)]
        seconds = [second_hash(e[2], e[3]) for e in group]
        head = bytes([12, 0]) + be16(group[0][0]) + be16(group[-1][0]) + be16(min(seconds)) + \
            be16(max(seconds)) + bytes([len(name_blocks), len(pos_blocks)])
        body = head + sets[0].array() + sets[1].array()
        at = 4 + len(body)
        for s in sets:
            data, at = s.data(at)
            body += data
        records.append((15, body))
    return records


def link_index_records(desc, encode):
    """(records as (type, body), name-hash count, anchor count, target count)."""
    names = name_records(desc["names"], encode) if "names" in desc else []
    anchors = anchor_records(desc["anchors"], encode) if "anchors" in desc else []
    targets = target_records(desc["targets"], encode) if "targets" in desc else []
    return names + anchors + targets, len(names), len(anchors), len(targets)


def string_table_record(desc, encode):
    """The string table (type 11): {"strings": [text or null, ...],
    "per_block": strings in a block}. Strings are NUL-terminated in their
    blocks; entry n of the index block is 0 for null, else (k << 11) | offset
    for block k + 1."""
    strings = desc.get("strings", [])
    per_block = desc.get("per_block", 8)
    blocks = []
    index = b""
    for text in strings:
        if text is None:
            index += be16(0)
            continue
        data = text.encode() + b"\0"
        if not blocks or len(blocks[-1]) + len(data) > 2048 or \
                blocks[-1].count(b"\0") >= per_block:
            # Entry 0 means "no string": the first block starts with a spare
            # byte so that no string lies at offset 0 of block 1.
            blocks.append(b"\0" if not blocks else b"")
        index += be16((len(blocks) - 1) << 11 | len(blocks[-1]))
        blocks[-1] += data
    table, words, _, _ = encode([index] + blocks)
    b = len(blocks)
    body = bytes([2, b]) + be16(len(table) // 4) + b"".join(be16(len(w) // 4) for w in words)
    if b % 2 == 1:
        body += b"\0\0"
    return body + table + b"".join(words)
