#!/usr/bin/env python3
"""Writes native documents (record databases of type KDoc, creator KelX) from
a small description, following docs/native-format.md. Standard library only;
it shares no code with the engine's reader, so tests can use it as an
independent source of fixtures.

Usage:
    native_writer.py DESCRIPTION.json OUT.pdb     write a document
    native_writer.py --batch JOBS.json            write several documents: a list of
                                                  {"description": {...}, "out": path}
    native_writer.py --self-check                 check the DEFLATE variant
                                                  against zlib both ways
    native_writer.py --colliding-names N          N anchor names sharing one name hash

The description is a JSON object; every key is optional:

  text_file        path of the decoded text (bytes), or
  text_hex         the decoded text as hex
  blocks_per_record  N, text blocks per text record (default 2)
  block_modes      list cycled over the blocks: "coded", "stored", "zlib"
                   ("zlib": the record's table and blocks come from zlib's
                   own encoder, one block per record; the record is written
                   coded when zlib gives a dynamic block, else stored)
  text_length      header text length (default: the text's length)
  charset, doc_flags, section_count, start_section, doc_bytes [a, b],
  start_data_hex (8 bytes at header offset 12), header_length (L),
  version [major, minor], version2 [major, minor], pos_list0, pos_list1,
  position_lists   {"0" or "1": [[name, position], ...]}: the list's record,
                   its number put at pos_list0 or pos_list1
  kept_seed        header bytes the reader keeps without reading are filled
                   with (seed + offset) & 0xFF
  extra_hex        bytes of the extra stream (range 15)
  run_lists        {"<range entry>": RUNLIST}; range entries 1 to 6
  para_runs        RUNLIST of table-10 items, named by the table directory
  descriptors      {"0" or "1": {"columns": [[first, count], ...]}} where a
                   column may also be {"runs": RUNLIST} written as records
  tables           {"<table>": {"widths": [w0, w1, ...],
                                "items_per_block": n,
                                "items": [{"fixed_hex": .., "parts_hex": [..]}]}}
                   parts_hex[p] is optional part p + 1 (null: absent); the
                   item's flag byte (fixed byte 0) gets bit 0x10 << p set
                   for each part present
  indexes          {"<0..2>": {"items_per_record": n, "items_hex": [..]}}
  extra_records    [[type, hex], ...] appended as they are
  link_index       the link index area (range 16): see native_writer_links.py
  string_table     the string table (record-list entry 3): see native_writer_links.py
  image_maps       image maps (range 17): see native_writer_images.py
  table_layout     tables, their records and the text: see native_writer_tables.py
  link_counts      [name-hash, anchor, target-code] record counts of header
                   offsets 60-64 (default: those of link_index)

RUNLIST is {"runs": [[start, end, value], ...] (contiguous),
            "delta_encoding": 0-3, "value_encoding": 0-3,
            "runs_per_record": n, "kind": "value" | "link" | "para"}
For kind "link" a run's value is [length, target]; for "para" it is
{"fixed_hex": 4 bytes, "part_hex": 2 bytes or null}.
"""

import json
import struct
import sys
import zlib

BLOCK = 4096

# ---------------------------------------------------------------------------
# Bits and words


class Bits:
    """LSB-first bit sink, as DEFLATE writes bits."""

    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.n = 0

    def put(self, value, count):
        self.acc |= (value & ((1 << count) - 1)) << self.n
        self.n += count
        while self.n >= 8:
            self.out.append(self.acc & 0xFF)
            self.acc >>= 8
            self.n -= 8

    def put_code(self, code, length):
        # Huffman codes go most significant bit first.
        rev = 0
        for i in range(length):
            rev = (rev << 1) | ((code >> i) & 1)
        self.put(rev, length)

    def bytes(self):
        out = bytearray(self.out)
        if self.n:
            out.append(self.acc & 0xFF)
        return bytes(out)


def to_words(stream):
    """A standard LSB-first byte stream as big-endian 32-bit words: each
    group of four bytes is reversed."""
    stream = stream + b"\0" * (-len(stream) % 4)
    out = bytearray()
    for i in range(0, len(stream), 4):
        out += stream[i:i + 4][::-1]
    return bytes(out)


# ---------------------------------------------------------------------------
# Huffman codes


def code_lengths(freqs, limit):
    """Huffman code lengths for the given frequencies, none above limit.
    At least two symbols get a code, so every code is complete."""
    freqs = list(freqs)
    used = [i for i, f in enumerate(freqs) if f > 0]
    for i in range(len(freqs)):
        if len(used) >= 2:
            break
        if freqs[i] == 0:
            freqs[i] = 1
            used.append(i)
    while True:
        lengths = _huffman(freqs)
        if max(lengths) <= limit:
            return lengths
        freqs = [(f + 1) // 2 if f else 0 for f in freqs]


def _huffman(freqs):
    import heapq
    heap = [(f, i, (i,)) for i, f in enumerate(freqs) if f > 0]
    lengths = [0] * len(freqs)
    heapq.heapify(heap)
    tick = len(freqs)
    while len(heap) > 1:
        f1, _, a = heapq.heappop(heap)
        f2, _, b = heapq.heappop(heap)
        for s in a + b:
            lengths[s] += 1
        heapq.heappush(heap, (f1 + f2, tick, a + b))
        tick += 1
    return lengths


def canonical_codes(lengths):
    codes = [0] * len(lengths)
    code = 0
    for length in range(1, 17):
        for s, l in enumerate(lengths):
            if l == length:
                codes[s] = code
                code += 1
        code <<= 1
    return codes


# ---------------------------------------------------------------------------
# LZ77 and the DEFLATE alphabets

LEN_BASE = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59,
            67, 83, 99, 115, 131, 163, 195, 227, 258]
LEN_EXTRA = [0] * 8 + [1] * 4 + [2] * 4 + [3] * 4 + [4] * 4 + [5] * 4 + [0]
DIST_BASE = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385,
             513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577]
DIST_EXTRA = [0, 0, 0, 0] + [i // 2 for i in range(2, 28)]
CLEN_ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15]


def lz77(data):
    """Greedy LZ77 inside one block: ('lit', byte) and ('match', len, dist)."""
    out = []
    heads = {}
    i = 0
    n = len(data)
    while i < n:
        best_len, best_dist = 0, 0
        if i + 3 <= n:
            key = data[i:i + 3]
            for j in reversed(heads.get(key, [])[-16:]):
                length = 3
                while length < 258 and i + length < n and data[j + length] == data[i + length]:
                    length += 1
                if length > best_len:
                    best_len, best_dist = length, i - j
                    if length == 258:
                        break
        if best_len >= 3:
            out.append(("match", best_len, best_dist))
            for k in range(i, min(i + best_len, n - 2)):
                heads.setdefault(data[k:k + 3], []).append(k)
            i += best_len
        else:
            out.append(("lit", data[i]))
            if i + 3 <= n:
                heads.setdefault(data[i:i + 3], []).append(i)
            i += 1
    return out


def len_symbol(length):
    for k in range(len(LEN_BASE) - 1, -1, -1):
        if length >= LEN_BASE[k]:
            if k == 28 and length != 258:
                continue
            return 257 + k, length - LEN_BASE[k], LEN_EXTRA[k]
    raise ValueError(length)


def dist_symbol(dist):
    for k in range(len(DIST_BASE) - 1, -1, -1):
        if dist >= DIST_BASE[k]:
            return k, dist - DIST_BASE[k], DIST_EXTRA[k]
    raise ValueError(dist)


def rle_lengths(lengths):
    """Code-length symbols (sym, extra value, extra bits) for one run of
    lengths; a repeat never leaves the run."""
    out = []
    i = 0
    prev = None
    while i < len(lengths):
        l = lengths[i]
        run = 1
        while i + run < len(lengths) and lengths[i + run] == l:
            run += 1
        if l == 0 and run >= 3:
            take = min(run, 138)
            if take >= 11:
                out.append((18, take - 11, 7))
            else:
                out.append((17, take - 3, 3))
            i += take
            prev = 0
            continue
        if l == prev and run >= 3:
            take = min(run, 6)
            out.append((16, take - 3, 2))
            i += take
            continue
        out.append((l, 0, 0))
        prev = l
        i += 1
    return out


class Table:
    """One dynamic code table shared by a record's blocks."""

    def __init__(self, blocks_tokens):
        lit = [0] * 286
        dist = [0] * 30
        for tokens in blocks_tokens:
            for t in tokens:
                if t[0] == "lit":
                    lit[t[1]] += 1
                else:
                    lit[len_symbol(t[1])[0]] += 1
                    dist[dist_symbol(t[2])[0]] += 1
            lit[256] += 1
        self.lit_len = code_lengths(lit, 15)
        self.dist_len = code_lengths(dist, 15)
        self.lit_code = canonical_codes(self.lit_len)
        self.dist_code = canonical_codes(self.dist_len)

    def write(self, bits):
        hlit = max(257, max(i for i, l in enumerate(self.lit_len) if l) + 1)
        hdist = max(1, max(i for i, l in enumerate(self.dist_len) if l) + 1)
        a = rle_lengths(self.lit_len[:hlit])
        b = rle_lengths(self.dist_len[:hdist])
        freqs = [0] * 19
        for s, _, _ in a + b:
            freqs[s] += 1
        clen = code_lengths(freqs, 7)
        ccode = canonical_codes(clen)
        hclen = 19
        while hclen > 4 and clen[CLEN_ORDER[hclen - 1]] == 0:
            hclen -= 1
        bits.put(hlit - 257, 5)
        bits.put(hdist - 1, 5)
        bits.put(hclen - 4, 4)
        for k in range(hclen):
            bits.put(clen[CLEN_ORDER[k]], 3)
        for s, v, n in a + b:
            bits.put_code(ccode[s], clen[s])
            if n:
                bits.put(v, n)

    def write_block(self, bits, tokens):
        for t in tokens:
            if t[0] == "lit":
                bits.put_code(self.lit_code[t[1]], self.lit_len[t[1]])
            else:
                s, v, n = len_symbol(t[1])
                bits.put_code(self.lit_code[s], self.lit_len[s])
                bits.put(v, n)
                s, v, n = dist_symbol(t[2])
                bits.put_code(self.dist_code[s], self.dist_len[s])
                bits.put(v, n)
        bits.put_code(self.lit_code[256], self.lit_len[256])


def encode_record_blocks(blocks):
    """(table words, [block words]) for blocks that share one table."""
    tokens = [lz77(b) for b in blocks]
    table = Table(tokens)
    tb = Bits()
    table.write(tb)
    out = []
    for t in tokens:
        bb = Bits()
        table.write_block(bb, t)
        out.append(to_words(bb.bytes()))
    return to_words(tb.bytes()), out, table, tokens


def standard_stream(table, tokens):
    """The same block as a standard raw DEFLATE stream: BFINAL, BTYPE 2,
    the table, the block."""
    bits = Bits()
    bits.put(1, 1)
    bits.put(2, 2)
    table.write(bits)
    table.write_block(bits, tokens)
    return bits.bytes()


# ---------------------------------------------------------------------------
# zlib's dynamic blocks re-packed into the native layout


class BitReader:
    def __init__(self, data):
        self.data = data
        self.pos = 0

    def get(self, n):
        v = 0
        for i in range(n):
            byte = self.data[self.pos >> 3]
            v |= ((byte >> (self.pos & 7)) & 1) << i
            self.pos += 1
        return v


def _read_code(reader, lengths):
    codes = canonical_codes(lengths)
    table = {(l, c): s for s, (l, c) in enumerate(zip(lengths, codes)) if l}
    code = 0
    for length in range(1, 17):
        code = (code << 1) | reader.get(1)
        if (length, code) in table:
            return table[(length, code)]
    raise ValueError("bad code")


def zlib_record(data):
    """zlib's encoding of data (< 4096 bytes) as (table words, block words),
    or None when zlib did not give one final dynamic block."""
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    raw = c.compress(data) + c.flush()
    r = BitReader(raw)
    if r.get(1) != 1 or r.get(2) != 2:
        return None
    start = r.pos
    hlit = r.get(5) + 257
    hdist = r.get(5) + 1
    hclen = r.get(4) + 4
    clen = [0] * 19
    for k in range(hclen):
        clen[CLEN_ORDER[k]] = r.get(3)
    for count in (hlit, hdist):
        got = 0
        while got < count:
            s = _read_code(r, clen)
            if s < 16:
                got += 1
            elif s == 16:
                got += 3 + r.get(2)
            elif s == 17:
                got += 3 + r.get(3)
            else:
                got += 11 + r.get(7)
    table_end = r.pos
    total = len(raw) * 8

    def slice_bits(a, b):
        out = Bits()
        rr = BitReader(raw)
        rr.pos = a
        while rr.pos < b:
            out.put(rr.get(1), 1)
        return out.bytes()

    return to_words(slice_bits(start, table_end)), to_words(slice_bits(table_end, total))


# ---------------------------------------------------------------------------
# Records


def be16(v):
    return struct.pack(">H", v & 0xFFFF)


def be32(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


def record(rtype, data, header_length=4):
    return bytes([header_length, rtype]) + b"\0" * (header_length - 2) + data


def text_record(rtype, blocks, n, modes, first_block):
    """A text or extra-stream record holding up to n blocks."""
    prefix = b"\x01"  # P = 1: the prefix is its own length byte
    header = 4
    fixed = len(prefix) + 4 + 2 * n + n
    base_words = (header + fixed + 3) // 4
    body = bytearray()
    mode = modes[first_block % len(modes)]
    flags = []
    table_words = b""
    block_words = []
    if mode == "zlib" and len(blocks) == 1 and len(blocks[0]) < BLOCK:
        packed = zlib_record(blocks[0])
        if packed is not None:
            table_words, bw = packed
            block_words = [bw]
            flags = [0]
    if not flags:
        coded = [i for i, _ in enumerate(blocks)
                 if modes[(first_block + i) % len(modes)] != "stored"]
        if coded:
            tw, bws, _, _ = encode_record_blocks([blocks[i] for i in coded])
            table_words = tw
        for i, b in enumerate(blocks):
            if i in coded:
                block_words.append(bws[coded.index(i)])
                flags.append(0)
            else:
                pad = -len(b) % 4
                block_words.append(b + b"\0" * pad)
                flags.append(4 | pad)
    while len(flags) < n:
        block_words.append(b"")
        flags.append(4)
    w0 = base_words
    offsets = [w0, w0 + len(table_words) // 4]
    body += table_words
    for bw in block_words:
        body += bw
        offsets.append(offsets[-1] + len(bw) // 4)
    head = bytearray(prefix)
    head += be16(offsets[0]) + be16(offsets[1])
    for k in range(n):
        head += be16(offsets[k + 2])
    head += bytes(flags)
    head += b"\0" * (base_words * 4 - header - len(head))
    return record(rtype, bytes(head) + bytes(body), header)


def stream_records(rtype, data, n, modes):
    blocks = [data[i:i + BLOCK] for i in range(0, len(data), BLOCK)]
    out = []
    for r in range(0, len(blocks), n):
        out.append(text_record(rtype, blocks[r:r + n], n, modes, r))
    return out


def enc_numbers(values, encoding):
    """(main array, extension array) of numbers in one of the four codes."""
    main = bytearray()
    ext = bytearray()
    for v in values:
        if encoding == 0:
            assert 0 <= v < 0x100
            main.append(v)
        elif encoding == 1:
            assert 0 <= v < 0x8000
            if v < 0x80:
                main.append(v)
            else:
                main.append(0x80 | (v & 0x7F))
                ext.append(v >> 7)
        elif encoding == 2:
            assert 0 <= v < 0x10000
            main += be16(v)
        else:
            assert 0 <= v < 0x80000000
            if v < 0x8000:
                main += be16(v)
            else:
                main += be16(0x8000 | (v & 0x7FFF))
                ext += be16(v >> 15)
    return bytes(main), bytes(ext)


def run_record(runs, desc):
    kind = desc.get("kind", "value")
    de = desc.get("delta_encoding", 3)
    ve = desc.get("value_encoding", 3)
    se = desc.get("secondary_encoding", 0)
    deltas = [e - s - 1 for s, e, _ in runs[:-1]]
    dm, dx = enc_numbers(deltas, de)
    sub = 16
    deltas_area = dm + dx
    values_at = 4 + sub + len(deltas_area)
    if kind == "value":
        vm, vx = enc_numbers([v for _, _, v in runs], ve)
        values = vm + vx
    elif kind == "link":
        values = b"".join(be16(v[0]) + be32(v[1]) for _, _, v in runs)
    else:
        fixed = b"".join(bytes.fromhex(v["fixed_hex"]) for _, _, v in runs)
        parts = b"".join(bytes.fromhex(v["part_hex"]) for _, _, v in runs
                         if v.get("part_hex"))
        values = fixed + parts
    head = bytes([sub, 0, de | (ve << 2) | (se << 4), 0]) + be16(values_at) + \
        be16(len(runs)) + be32(runs[0][0]) + be32(runs[-1][1])
    return record(2, head + deltas_area + values)


def run_list_records(desc):
    runs = [tuple(r) for r in desc["runs"]]
    per = desc.get("runs_per_record", 1024)
    return [run_record(runs[i:i + per], desc) for i in range(0, len(runs), per)]


def table_blocks(desc, block_type):
    widths = desc["widths"]
    per = desc.get("items_per_block", 4)
    items = desc["items"]
    k = len(widths) - 1
    out = []
    for b in range(0, len(items), per):
        chunk = items[b:b + per]
        fixed = bytearray()
        areas = [bytearray() for _ in range(k)]
        for it in chunk:
            f = bytearray(bytes.fromhex(it.get("fixed_hex", "")).ljust(widths[0], b"\0")
                          [:widths[0]])
            parts = it.get("parts_hex", [])
            for p in range(k):
                if p < len(parts) and parts[p] is not None:
                    f[0] |= 0x10 << p
                    areas[p] += bytes.fromhex(parts[p]).ljust(widths[p + 1], b"\0")[:widths[p + 1]]
            fixed += f
        offs = []
        at = len(fixed)
        for a in areas:
            offs.append(at)
            at += len(a)
        data = b"".join(be16(o) for o in offs) + fixed + b"".join(areas)
        if block_type == 12:
            # Select-list blocks: their own header {S, 0, first, last} in
            # front; the key of an item is its place in "items".
            data = bytes([6, 0]) + be16(b) + be16(b + len(chunk) - 1) + data
        out.append(record(block_type, data))
    return out


TABLE_BLOCK_TYPE = {9: 5, 11: 5, 12: 12}


def index_records(desc):
    per = desc.get("items_per_record", 4)
    items = [bytes.fromhex(h) for h in desc["items_hex"]]
    firsts = list(range(0, len(items), per)) + [len(items)]
    top = record(7, bytes([1]) + b"".join(be16(f) for f in firsts))
    recs = [top]
    for a in range(0, len(items), per):
        chunk = items[a:a + per]
        offs = [0]
        for it in chunk:
            offs.append(offs[-1] + len(it))
        recs.append(record(8, bytes([1]) + b"".join(be16(o) for o in offs) + b"".join(chunk)))
    return recs


KEPT = [5, 26, 27, 28, 29, 38, 39, 40, 41, 42, 43, 46, 47, 49, 50, 51, 54, 55]


def header_bytes(d, text_length, record_list, starts, counts):
    L = d.get("header_length", 66)
    h = bytearray(max(L, 66))
    seed = d.get("kept_seed", 0)
    if seed:
        for off in KEPT + list(range(66, len(h))):
            h[off] = (seed + off) & 0xFF
    struct.pack_into(">H", h, 0, L)
    h[2], h[3] = d.get("version", [3, 0])
    h[4] = 3
    h[6:12] = b"isKelp"
    h[12:20] = bytes.fromhex(d.get("start_data_hex", "00" * 8))
    struct.pack_into(">I", h, 20, text_length)
    struct.pack_into(">H", h, 24, d.get("blocks_per_record", 2))
    struct.pack_into(">H", h, 30, d.get("section_count", 1))
    struct.pack_into(">H", h, 32, d.get("pos_list1", 0))
    struct.pack_into(">H", h, 34, d.get("pos_list0", 0))
    struct.pack_into(">H", h, 36, d.get("doc_flags", 0))
    h[44], h[45] = d.get("version2", [3, 0])
    h[48] = 0xF0 | (seed & 0x0F if seed else 0)
    h[52], h[53] = d.get("doc_bytes", [0, 0])
    struct.pack_into(">H", h, 56, d.get("start_section", 0))
    struct.pack_into(">H", h, 58, d.get("charset", 0))
    struct.pack_into(">HHH", h, 60, *d.get("link_counts", [0, 0, 0]))
    h = h[:L]
    directory = be16(len(record_list)) + b"".join(be16(v) for v in record_list)
    directory += be16(len(starts)) + b"".join(be16(v) for v in starts)
    directory += b"".join(be16(v) for v in counts)
    return bytes(h) + directory


def database(records, name=b"native fixture"):
    out = bytearray(name[:31].ljust(32, b"\0"))
    out += be16(0) + be16(0) + b"\0" * 24
    out += b"KDoc" + b"KelX" + be32(0) + be32(0) + be16(len(records))
    at = 78 + 8 * len(records) + 2
    for i, r in enumerate(records):
        out += be32(at) + bytes([0]) + struct.pack(">I", i + 1)[1:]
        at += len(r)
    out += b"\0\0"
    for r in records:
        out += r
    return bytes(out)


def build(d):
    if d.get("table_layout"):
        import native_writer_tables
        d = native_writer_tables.expand(d, build)
    if "text_file" in d:
        with open(d["text_file"], "rb") as f:
            text = f.read()
    else:
        text = bytes.fromhex(d.get("text_hex", ""))
    n = d.get("blocks_per_record", 2)
    modes = d.get("block_modes", ["coded"])
    records = [None]  # record 0 comes last
    starts = [0] * 18
    counts = [0] * 18
    record_list = [0, 0, 0, 0]

    def place(entry, recs):
        if not recs:
            return
        starts[entry] = len(records)
        counts[entry] = len(recs)
        records.extend(recs)

    place(0, stream_records(0, text, n, modes))
    if d.get("extra_hex") is not None:
        place(15, stream_records(13, bytes.fromhex(d["extra_hex"]), n, modes))
    for entry, rl in sorted(d.get("run_lists", {}).items(), key=lambda kv: int(kv[0])):
        place(int(entry), run_list_records(rl))
    for which, desc in sorted(d.get("descriptors", {}).items()):
        pairs = []
        for col in desc["columns"]:
            if isinstance(col, dict):
                recs = run_list_records(col)
                pairs.append((len(records), len(recs)))
                records.extend(recs)
            else:
                pairs.append(tuple(col))
        k = len(pairs) - 1
        body = bytes([4, 0, 0, k]) + b"".join(be16(a) + be16(b) for a, b in pairs)
        record_list[1 + int(which)] = len(records)
        records.append(record(3, body))
    para = None
    if d.get("para_runs"):
        recs = run_list_records(dict(d["para_runs"], kind="para"))
        para = (len(records), len(recs))
        records.extend(recs)
    tables = d.get("tables", {})
    if tables or para:
        entries = []
        for t, desc in sorted(tables.items(), key=lambda kv: int(kv[0])):
            t = int(t)
            blocks = table_blocks(desc, TABLE_BLOCK_TYPE.get(t, 1))
            first = len(records)
            records.extend(blocks)
            widths = desc["widths"]
            e = bytes([t, len(widths) - 1]) + be16(desc.get("items_per_block", 4)) + \
                be16(first) + be16(len(blocks)) + bytes(widths)
            e += b"\0" * (len(e) % 2)
            entries.append(e)
        pf, pc = para if para else (0, 0)
        body = bytes([8, 0, len(entries), 8]) + be16(pf) + be16(pc) + b"".join(entries)
        record_list[0] = len(records)
        records.append(record(6, body))
    for which, desc in sorted(d.get("indexes", {}).items()):
        place(11 + int(which), index_records(desc))
    if d.get("image_maps"):
        import native_writer_images
        place(17, [record(t, body) for t, body in
                   native_writer_images.image_map_records(d["image_maps"])])
    if d.get("string_table"):
        import native_writer_links
        record_list[3] = len(records)
        records.append(record(11, native_writer_links.string_table_record(d["string_table"],
                                                                          encode_record_blocks)))
    if d.get("link_index"):
        import native_writer_links
        recs, *link_counts = native_writer_links.link_index_records(d["link_index"],
                                                                    encode_record_blocks)
        place(16, [record(t, body) for t, body in recs])
        d = dict(d, link_counts=d.get("link_counts", link_counts))
    for which, entries in sorted(d.get("position_lists", {}).items()):
        # Before the extra records, which the table writer expects last. A
        # named position list record: u16 names offset 8, u16 0, u16
        # count, u16 names length, the NUL-terminated names, padding to even,
        # then a u32 position per entry.
        names = b"".join(name.encode("latin-1") + b"\0" for name, _ in entries)
        body = struct.pack(">HHHH", 8, 0, len(entries), len(names)) + names
        body += b"\0" * (len(body) % 2)
        body += b"".join(struct.pack(">I", value) for _, value in entries)
        d = dict(d, **{"pos_list" + which: len(records)})
        records.append(body)
    for rtype, hexdata in d.get("extra_records", []):
        records.append(record(rtype, bytes.fromhex(hexdata)))
    for entry, (s, c) in d.get("ranges", {}).items():
        starts[int(entry)], counts[int(entry)] = s, c
    text_length = d.get("text_length", len(text))
    records[0] = header_bytes(d, text_length, record_list, starts, counts)
    return database(records)


# ---------------------------------------------------------------------------
# Self-check of the DEFLATE variant against zlib


def self_check():
    import random
    rnd = random.Random(7)
    words = [b"native", b"stream", b"block", b" ", b"\n", b"code", b"table", b"4096"]
    checked = 0
    for trial in range(40):
        size = rnd.choice([1, 5, 300, 4095, 4096])
        if trial % 3 == 0:
            data = bytes(rnd.randrange(256) for _ in range(size))
        else:
            data = b"".join(rnd.choice(words) for _ in range(size))[:size]
        _, _, table, tokens = encode_record_blocks([data])
        if zlib.decompress(standard_stream(table, tokens[0]), -15) != data:
            print("standard stream differs at trial", trial)
            return 1
        checked += 1
    print("%d blocks checked against zlib" % checked)
    return 0


def main(argv):
    if len(argv) == 2 and argv[1] == "--self-check":
        return self_check()
    if len(argv) == 4 and argv[1] == "--zlib-record":
        # Writes zlib's encoding of a file re-packed as table words then
        # block words, each preceded by its u32 word count.
        with open(argv[2], "rb") as f:
            packed = zlib_record(f.read())
        with open(argv[3], "wb") as f:
            if packed is not None:
                f.write(be32(len(packed[0]) // 4) + packed[0] + be32(len(packed[1]) // 4) +
                        packed[1])
        return 0
    if len(argv) == 3 and argv[1] == "--colliding-names":
        # Names, one a line, that share their first hash.
        import native_writer_links
        for name in native_writer_links.colliding_names(int(argv[2])):
            print(name.decode())
        return 0
    if len(argv) == 3 and argv[1] == "--batch":
        # Several documents in one run: a JSON list of {"description": ..., "out": path}.
        with open(argv[2]) as f:
            jobs = json.load(f)
        for job in jobs:
            with open(job["out"], "wb") as f:
                f.write(build(job["description"]))
        return 0
    if len(argv) != 3:
        print(__doc__)
        return 2
    with open(argv[1]) as f:
        d = json.load(f)
    with open(argv[2], "wb") as f:
        f.write(build(d))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
