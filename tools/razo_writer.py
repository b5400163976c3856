#!/usr/bin/env python3
"""Writes 'RaZo' documents (record databases of type "RaZo") for tests and
benchmarks, from a JSON description, and damaged variants of them.

Written from the byte layout alone (standard library only): it shares no code
with the reader. Usage:

    razo_writer.py SPEC.json|- OUT.pdb|-

SPEC (every key optional):
  text            the text; each character is one byte (code points < 256)
  random_text     {"seed": s, "size": bytes}: seeded words in place of text
  text_file       a file whose bytes are the text
  n               text blocks per group (default 1)
  coding          one letter per block, or one letter for all blocks:
                  "h" our own Huffman coder with one table per group, "z" a
                  zlib dynamic block re-packed (groups of one block only),
                  "s" stored (the type taken from the pad), default "h"
  styles          [[start, style word, paragraph word], ...] (runs reach the
                  next start, the last one the text end)
  links           [[start, length, target], ...]
  blocks          [{"pos", "kind", "flags", "extra"?, "image"?: {"width",
                  "height", "index"}}, ...]
  sections        the boundaries [0, b1, ..., text length]
  targets         link-target names
  images          image records' data in hex (kind 1, header length 2)
  bookmarks, anchors   [[name, position], ...] as position lists
  per_record      entries per side record (default 4096)
  escape_sections write every section boundary with an explicit escape
  layout_flags, header_length, record0_size   header overrides
  damage          the name of a damaged variant (see DAMAGE)
  all_damage_to   a folder: every damaged variant as <name>.pdb there
  peer_streams    a path: each coded block as a whole raw DEFLATE stream
                  (u32 little-endian count, then u32 length and bytes each)
"""

import json
import random
import struct
import sys
import zlib

BLOCK = 4096
CL_ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15]


# --- bits -------------------------------------------------------------------

class Bits:
    """DEFLATE bit order: values are written least significant bit first."""

    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.nacc = 0
        self.length = 0

    def put(self, v, n):
        self.acc |= (v & ((1 << n) - 1)) << self.nacc
        self.nacc += n
        self.length += n
        while self.nacc >= 8:
            self.out.append(self.acc & 0xFF)
            self.acc >>= 8
            self.nacc -= 8

    def put_code(self, code, n):
        self.put(REVERSED[n][code] if n else 0, n)

    def words(self):
        """The bits as big-endian 32-bit words: the stream's little-endian
        words with each 4-byte group reversed."""
        data = bytes(self.out) + (bytes([self.acc]) if self.nacc else b"")
        return to_words(data, self.length)


REVERSED = [[int(format(c, "0%db" % n)[::-1], 2) if n else 0 for c in range(1 << n)]
            for n in range(16)]


def to_words(data, nbits):
    """Stream bytes (bit k in byte k / 8) as words; answers (bytes, count)."""
    nwords = (nbits + 31) // 32
    raw = bytes(data[:nwords * 4]).ljust(nwords * 4, b"\0")
    out = bytearray()
    for k in range(0, len(raw), 4):
        out += raw[k:k + 4][::-1]
    return bytes(out), nwords


def slice_bits(data, start, end):
    """Bits [start, end) of a stream as a new stream's bytes."""
    value = int.from_bytes(data, "little") >> start
    n = end - start
    value &= (1 << n) - 1
    return value.to_bytes((n + 7) // 8, "little"), n


# --- Huffman codes ------------------------------------------------------------

def code_lengths(freqs, limit):
    """Huffman code lengths for the symbols with a non-zero count, at most
    `limit` bits (counts are halved until the code fits)."""
    import heapq
    freqs = list(freqs)
    while True:
        used = [s for s, f in enumerate(freqs) if f > 0]
        lengths = [0] * len(freqs)
        if len(used) == 1:
            lengths[used[0]] = 1
            return lengths
        heap = [(freqs[s], s, [s]) for s in used]
        heapq.heapify(heap)
        tick = len(freqs)
        while len(heap) > 1:
            fa, _, a = heapq.heappop(heap)
            fb, _, b = heapq.heappop(heap)
            for s in a + b:
                lengths[s] += 1
            heapq.heappush(heap, (fa + fb, tick, a + b))
            tick += 1
        if max(lengths) <= limit:
            return lengths
        freqs = [(f + 1) // 2 if f else 0 for f in freqs]


def canonical(lengths):
    """Canonical codes from lengths: shorter codes first, then by symbol."""
    max_len = max(lengths) if lengths else 0
    count = [0] * (max_len + 1)
    for n in lengths:
        if n:
            count[n] += 1
    code, nxt = 0, [0] * (max_len + 2)
    for n in range(1, max_len + 1):
        code = (code + count[n - 1]) << 1 if n > 1 else 0
        nxt[n] = code
    codes = [0] * len(lengths)
    for s, n in enumerate(lengths):
        if n:
            codes[s] = nxt[n]
            nxt[n] += 1
    return codes


def write_tables(bits, lit_lengths, dist_lengths):
    """HLIT, HDIST, HCLEN, the code-length code and both runs of lengths
    (each length coded on its own, no repeats)."""
    all_lengths = lit_lengths + dist_lengths
    cl_freq = [0] * 19
    for n in all_lengths:
        cl_freq[n] += 1
    cl_lengths = code_lengths(cl_freq, 7)
    cl_codes = canonical(cl_lengths)
    hclen = 19
    while hclen > 4 and cl_lengths[CL_ORDER[hclen - 1]] == 0:
        hclen -= 1
    bits.put(len(lit_lengths) - 257, 5)
    bits.put(len(dist_lengths) - 1, 5)
    bits.put(hclen - 4, 4)
    for k in range(hclen):
        bits.put(cl_lengths[CL_ORDER[k]], 3)
    for n in all_lengths:
        bits.put_code(cl_codes[n], cl_lengths[n])


class GroupCoder:
    """Literal-only coding of the blocks of one group with one table; every
    byte value gets a code, so all 256 go through the table."""

    def __init__(self, blocks):
        freq = [1] * 257
        for b in blocks:
            for c in b:
                freq[c] += 1
        freq[256] = max(1, len(blocks))
        self.lengths = code_lengths(freq, 15)
        self.codes = canonical(self.lengths)

    def tables(self):
        bits = Bits()
        write_tables(bits, self.lengths, [1])
        return bits.words()

    def block(self, data):
        bits = Bits()
        codes, lengths = self.codes, self.lengths
        for c in data:
            bits.put_code(codes[c], lengths[c])
        bits.put_code(codes[256], lengths[256])
        return bits.words()


# --- zlib blocks re-packed ----------------------------------------------------

class BitReader:
    def __init__(self, data):
        self.data = data + bytes(4)
        self.pos = 0

    def get(self, n):
        k = self.pos >> 3
        v = int.from_bytes(self.data[k:k + 4], "little") >> (self.pos & 7)
        self.pos += n
        return v & ((1 << n) - 1)

    def symbol(self, table):
        code = length = 0
        while True:
            code = (code << 1) | self.get(1)
            length += 1
            if (length, code) in table:
                return table[(length, code)]
            if length > 15:
                raise ValueError("bad code")


def zlib_block(data):
    """zlib's own dynamic block for data, split at the end of its header:
    (table bits, block bits, raw stream), or None when zlib chose another
    block type or several blocks."""
    co = zlib.compressobj(9, zlib.DEFLATED, -15, 9)
    raw = co.compress(bytes(data)) + co.flush()
    r = BitReader(raw)
    if r.get(1) != 1 or r.get(2) != 2:
        return None
    hlit, hdist, hclen = r.get(5) + 257, r.get(5) + 1, r.get(4) + 4
    cl = [0] * 19
    for k in range(hclen):
        cl[CL_ORDER[k]] = r.get(3)
    table = {(n, c): s for s, (n, c) in enumerate(zip(cl, canonical(cl))) if n}
    count = 0
    while count < hlit + hdist:
        s = r.symbol(table)
        count += 1 if s < 16 else (3 + r.get(2) if s == 16 else
                                   3 + r.get(3) if s == 17 else 11 + r.get(7))
    end = r.pos
    return (to_words(*slice_bits(raw, 3, end)), to_words(*slice_bits(raw, end, len(raw) * 8)),
            raw)


# --- record layout ------------------------------------------------------------

def be16(v):
    return struct.pack(">H", v & 0xFFFF)


def check_rises(positions):
    """Positions rebuilt from a head high word and low words are right only
    when each step is above 0 and below 65536."""
    for a, b in zip(positions, positions[1:]):
        assert 0 < b - a < 65536, (a, b)


def split_gaps(entries, key, per_record):
    """Cuts entries into records of at most per_record entries, starting a new
    record wherever two starts lie 65536 or more apart."""
    out, cur = [], []
    for e in entries:
        if cur and (len(cur) >= per_record or key(e) - key(cur[-1]) >= 65536):
            out.append(cur)
            cur = []
        cur.append(e)
    if cur:
        out.append(cur)
    return out


def style_records(runs, text_len, per_record):
    # Long runs are cut so that no two starts are 65536 apart.
    cut = []
    for k, (start, word, para) in enumerate(runs):
        end = runs[k + 1][0] if k + 1 < len(runs) else text_len
        p = start
        while p < end:
            cut.append((p, word, para))
            p += 32768
    groups = split_gaps(cut, lambda e: e[0], per_record)
    records = []
    for k, g in enumerate(groups):
        end = groups[k + 1][0][0] if k + 1 < len(groups) else text_len
        starts = [e[0] for e in g] + [end]
        check_rises(starts)
        n = len(g)
        r = be16(starts[0] >> 16) + be16(end >> 16) + be16(n)
        r += b"".join(be16(p) for p in starts)
        r += b"".join(be16(e[1]) for e in g)
        r += be16(0)
        r += b"".join(be16(e[2]) for e in g if e[1] & 0x80)
        records.append(r)
    return records


def link_records(links, per_record):
    records = []
    for g in split_gaps(links, lambda e: e[0], per_record):
        end = g[-1][0] + g[-1][1]
        starts = [e[0] for e in g] + [end]
        check_rises(starts)
        n = len(g)
        r = be16(starts[0] >> 16) + be16(end >> 16) + be16(n)
        r += b"".join(be16(p) for p in starts)
        r += bytes(e[1] for e in g) + bytes(n)
        r += b"".join(struct.pack(">I", e[2]) for e in g)
        records.append(r)
    return records


def block_records(blocks, per_record):
    records = []
    for g in split_gaps(blocks, lambda e: e["pos"], per_record):
        pos = [e["pos"] for e in g]
        check_rises(pos)
        n = len(g)
        extras, flags = [], []
        images_at = 4 * n + 6 + 2 * sum(1 for e in g if "extra" in e or "image" in e)
        image_bytes = b""
        for e in g:
            f = e.get("flags", 0) & 0x7F
            if "image" in e:
                im = e["image"]
                extras.append(images_at + len(image_bytes))
                image_bytes += be16(8) + be16(im["width"]) + be16(im["height"]) + be16(im["index"])
                f |= 0x80
            elif "extra" in e:
                extras.append(e["extra"])
                f |= 0x80
            flags.append(f)
        r = be16(pos[0] >> 16) + be16(pos[-1] >> 16) + be16(n)
        r += b"".join(be16(p) for p in pos)
        r += bytes(e["kind"] for e in g) + bytes(flags)
        r += b"".join(be16(x) for x in extras) + image_bytes
        records.append(r)
    return records


def section_records(bounds, per_record, escape_all):
    records = []
    sections = len(bounds) - 1
    for first in range(0, sections, per_record):
        last = min(first + per_record, sections) - 1
        b = bounds[first:last + 2]
        words = [b[0] & 0xFFFF]
        for prev, p in zip(b, b[1:]):
            assert p > prev
            plain = not escape_all and ((p >> 16 == prev >> 16 and (p & 0xFFFF) > (prev & 0xFFFF))
                                        or (p >> 16 == (prev >> 16) + 1
                                            and (p & 0xFFFF) < (prev & 0xFFFF)))
            if plain:
                words.append(p & 0xFFFF)
            else:
                words += [prev & 0xFFFF, p >> 16, p & 0xFFFF]
        r = be16(b[0] >> 16) + be16(b[-1] >> 16) + be16(first) + be16(last) + be16(len(words))
        r += b"".join(be16(w) for w in words)
        records.append(r)
    return records


def target_records(names, per_record):
    records = []
    for k in range(0, len(names), per_record):
        g = names[k:k + per_record]
        r = bytes(4) + be16(len(g)) + bytes(2)
        for name in g:
            raw = name.encode("latin-1")
            r += bytes([len(raw)]) + raw
        records.append(r)
    return records


def pos_list_record(entries):
    names = b"".join(n.encode("latin-1") + b"\0" for n, _ in entries)
    r = be16(8) + be16(0) + be16(len(entries)) + be16(len(names)) + names
    if len(r) % 2:
        r += b"\0"
    return r + b"".join(struct.pack(">I", v) for _, v in entries)


def random_text(seed, size):
    rng = random.Random(seed)
    words = ["".join(rng.choice("etaoinshrdlucmfwypvbgkqjxz") for _ in range(rng.randint(1, 9)))
             for _ in range(2000)]
    out, n = [], 0
    while n < size:
        w = rng.choice(words) + ("\n" if rng.random() < 0.05 else " ")
        out.append(w)
        n += len(w)
    return "".join(out)[:size].encode("latin-1")


def text_records(text, n, coding, peer):
    nblocks = (len(text) + BLOCK - 1) // BLOCK
    blocks = [text[k * BLOCK:(k + 1) * BLOCK] for k in range(nblocks)]
    kinds = coding * nblocks if len(coding) == 1 else coding
    records = []
    for g in range(0, nblocks, n):
        group = blocks[g:g + n]
        gk = kinds[g:g + n]
        if "z" in gk:
            assert n == 1, "zlib blocks need groups of one block"
            z = zlib_block(group[0])
            if z is not None:
                (tw, te), (bw, bc), raw = z
                records.append(bytes([4, 1]) + be16(te) + tw)
                records.append(bytes([4, 2]) + be16(bc) + bw)
                peer.append(raw)
                continue
            gk = "h"
        coder = GroupCoder([b for b, k in zip(group, gk) if k == "h"])
        tw, te = coder.tables()
        records.append(bytes([4, 1]) + be16(te) + tw)
        for b, k in zip(group, gk):
            if k == "h":
                bw, bc = coder.block(b)
                records.append(bytes([4, 2]) + be16(bc) + bw)
            else:
                pad = (4 - len(b) % 4) % 4
                records.append(bytes([4, 4 + pad]) + be16((len(b) + pad) // 4) + b + bytes(pad))
    return records


def build(spec):
    """The records of the document and where each kind starts."""
    if "random_text" in spec:
        text = random_text(spec["random_text"]["seed"], spec["random_text"]["size"])
    elif "text_file" in spec:
        with open(spec["text_file"], "rb") as f:
            text = f.read()
    else:
        text = spec.get("text", "").encode("latin-1")
    n = spec.get("n", 1)
    per = spec.get("per_record", 4096)
    peer = []
    records = [b""]
    text_recs = text_records(text, n, spec.get("coding", "h"), peer)
    where = {"text": 1, "text_records": len(text_recs), "n": n}
    records += text_recs

    def add(kind, recs):
        where[kind] = (len(records) if recs else 0, len(recs))
        records.extend(recs)

    add("styles", style_records(sorted(spec.get("styles", [])), len(text), per))
    add("links", link_records(sorted(spec.get("links", [])), per))
    add("blocks", block_records(sorted(spec.get("blocks", []), key=lambda e: e["pos"]), per))
    bounds = spec.get("sections", [])
    add("sections", section_records(bounds, per, spec.get("escape_sections", False))
        if len(bounds) > 1 else [])
    add("targets", target_records(spec.get("targets", []), per))
    add("images", [bytes([2, 1]) + bytes.fromhex(h) for h in spec.get("images", [])])
    lists = {}
    for name in ("anchors", "bookmarks"):
        if spec.get(name):
            lists[name] = len(records)
            records.append(pos_list_record(spec[name]))

    h = bytearray(64)
    struct.pack_into(">HHBB", h, 0, spec.get("header_length", 64), 1, 0, 0)
    h[8:12] = b"RaZo"
    struct.pack_into(">IH", h, 12, len(text), n)
    for off, kind in ((20, "styles"), (24, "links"), (28, "blocks"), (38, "sections"),
                      (46, "targets"), (50, "images")):
        struct.pack_into(">HH", h, off, *where[kind])
    struct.pack_into(">H", h, 36, max(len(bounds) - 1, 0))
    struct.pack_into(">HH", h, 42, lists.get("anchors", 0), lists.get("bookmarks", 0))
    struct.pack_into(">H", h, 54, spec.get("layout_flags", 0))
    size = spec.get("record0_size", 64)
    records[0] = bytes(h[:size]) + bytes(max(0, size - 64))
    return records, where, peer


# --- damage -------------------------------------------------------------------

def first_of(where, kind):
    first, count = where[kind]
    assert count > 0, kind + " records needed for this damage"
    return first


def put(rec, off, data):
    return rec[:off] + data + rec[off + len(data):]


def damage_second_block(r, w):
    # With one block per group, block 1 is record 4 (after its tables).
    assert w["n"] == 1 and w["text_records"] >= 4, "two text blocks needed for this damage"
    r[4] = put(r[4], 1, b"\3")


DAMAGE = {
    # record 0
    "magic": lambda r, w: r.__setitem__(0, put(r[0], 8, b"RaZx")),
    "version": lambda r, w: r.__setitem__(0, put(r[0], 2, be16(2))),
    "byte4": lambda r, w: r.__setitem__(0, put(r[0], 4, b"\2")),
    "byte5": lambda r, w: r.__setitem__(0, put(r[0], 5, b"\1")),
    "header_length": lambda r, w: r.__setitem__(0, put(r[0], 0, be16(19))),
    "groups_zero": lambda r, w: r.__setitem__(0, put(r[0], 16, be16(0))),
    "record0_short": lambda r, w: r.__setitem__(0, r[0][:19]),
    "text_too_long": lambda r, w: r.__setitem__(0, put(r[0], 12, struct.pack(">I", 0xFFFFFFFF))),
    "style_range": lambda r, w: r.__setitem__(0, put(r[0], 22, be16(len(r)))),
    "list_record": lambda r, w: r.__setitem__(0, put(r[0], 44, be16(len(r)))),
    "anchors_record": lambda r, w: r.__setitem__(0, put(r[0], 42, be16(len(r) + 3))),
    "link_range": lambda r, w: r.__setitem__(0, put(r[0], 26, be16(len(r)))),
    "block_first": lambda r, w: r.__setitem__(0, put(r[0], 28, be16(len(r) + 1))),
    "section_first": lambda r, w: r.__setitem__(0, put(r[0], 38, be16(0))),
    "target_range": lambda r, w: r.__setitem__(0, put(r[0], 48, be16(0xFFFF))),
    "image_first": lambda r, w: r.__setitem__(0, put(r[0], 50, be16(len(r)))),
    # text
    "block_type": lambda r, w: r.__setitem__(2, put(r[2], 1, b"\3")),
    "block_count": lambda r, w: r.__setitem__(2, put(r[2], 2, be16(0xFFFF))),
    "block_header": lambda r, w: r.__setitem__(2, put(r[2], 0, b"\3")),
    "tables_type": lambda r, w: r.__setitem__(1, put(r[1], 1, b"\2")),
    "tables_garbage": lambda r, w: r.__setitem__(1, r[1][:4] + b"\xff" * (len(r[1]) - 4)),
    "coded_cut": lambda r, w: r.__setitem__(
        2, r[2][:2] + be16(struct.unpack(">H", r[2][2:4])[0] // 2)
        + r[2][4:4 + 4 * (struct.unpack(">H", r[2][2:4])[0] // 2)]),
    "stored_short": lambda r, w: r.__setitem__(2, bytes([4, 7]) + r[2][2:]),
    "second_block_type": lambda r, w: damage_second_block(r, w),
    # side records
    "style_count": lambda r, w: r.__setitem__(first_of(w, "styles"),
                                              put(r[first_of(w, "styles")], 4, be16(4097))),
    "style_cut": lambda r, w: r.__setitem__(first_of(w, "styles"), r[first_of(w, "styles")][:-3]),
    "style_equal_low": lambda r, w: r.__setitem__(
        first_of(w, "styles"), put(r[first_of(w, "styles")], 8, r[first_of(w, "styles")][6:8])),
    "link_cut": lambda r, w: r.__setitem__(first_of(w, "links"), r[first_of(w, "links")][:-1]),
    "block_cut": lambda r, w: r.__setitem__(first_of(w, "blocks"), r[first_of(w, "blocks")][:-10]),
    "block_high": lambda r, w: r.__setitem__(first_of(w, "blocks"),
                                             put(r[first_of(w, "blocks")], 2, be16(7))),
    "image_offset": lambda r, w: r.__setitem__(
        first_of(w, "blocks"), r[first_of(w, "blocks")][:-8]),
    "image_index": lambda r, w: r.__setitem__(
        first_of(w, "blocks"), r[first_of(w, "blocks")][:-2] + be16(0x7777)),
    "section_escape_end": lambda r, w: r.__setitem__(
        first_of(w, "sections"),
        put(r[first_of(w, "sections")], 8, be16(struct.unpack(">H", r[first_of(w, "sections")][8:10])[0] + 1))
        + r[first_of(w, "sections")][-2:]),
    "section_high": lambda r, w: r.__setitem__(first_of(w, "sections"),
                                               put(r[first_of(w, "sections")], 2, be16(9))),
    "target_length": lambda r, w: r.__setitem__(first_of(w, "targets"),
                                                r[first_of(w, "targets")][:-2] + b"\x40"
                                                + r[first_of(w, "targets")][-1:]),
    "target_count": lambda r, w: r.__setitem__(first_of(w, "targets"),
                                               put(r[first_of(w, "targets")], 4, be16(999))),
    "image_record": lambda r, w: r.__setitem__(first_of(w, "images"), b"\x09\x01"),
}


# --- container ----------------------------------------------------------------

def database(records, name="fixture"):
    head = name.encode("latin-1")[:31].ljust(32, b"\0")
    head += struct.pack(">HHIIIIII", 0, 0, 1, 1, 0, 0, 0, 0)
    head += b"RaZo" + b"RaZr" + struct.pack(">IIH", 0, 0, len(records))
    at = 78 + 8 * len(records) + 2
    entries = b""
    for k, r in enumerate(records):
        entries += struct.pack(">I", at) + bytes([0]) + (k + 1).to_bytes(3, "big")
        at += len(r)
    return head + entries + bytes(2) + b"".join(records)


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    raw = sys.stdin.read() if argv[1] == "-" else open(argv[1], encoding="utf-8").read()
    spec = json.loads(raw)
    records, where, peer = build(spec)
    if spec.get("damage"):
        DAMAGE[spec["damage"]](records, where)
    if spec.get("all_damage_to"):
        # One file per damaged variant the document has records for.
        for name, damage in DAMAGE.items():
            variant = list(records)
            try:
                damage(variant, where)
            except AssertionError:
                continue
            with open("%s/%s.pdb" % (spec["all_damage_to"], name), "wb") as f:
                f.write(database(variant))
    out = database(records)
    if spec.get("peer_streams"):
        with open(spec["peer_streams"], "wb") as f:
            f.write(struct.pack("<I", len(peer)))
            for s in peer:
                f.write(struct.pack("<I", len(s)) + s)
    if argv[2] == "-":
        sys.stdout.buffer.write(out)
    else:
        with open(argv[2], "wb") as f:
            f.write(out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
