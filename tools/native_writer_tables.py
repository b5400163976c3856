"""Tables of native documents, for native_writer.py (engine/formats/
native_table_pass.h describes the layout). Standard library only.

Description key "table_layout": {"content": [BLOCK, ...]} where BLOCK is a
string (text as it stands) or {"table": TABLE}. The document's text is made
from the blocks; the key replaces "text_hex".

TABLE (every key but "groups" optional):
  "groups"        [{"rows": r, "cells": [CELL, ...]}, ...]
  "columns"       column count (default: the widest group)
  "caption"       caption text; "caption_place" 1 above (default) or 2 below
  "rule_mode", "rule_width" (points), "border" (width byte)
  "format"        FORMAT of the table
  "entry_flags"   entry flags (default 0x04: u32 row entries, u16 cell offsets);
                  bit 3 puts the arrays in records of their own
  "group_form"    "single" | "u8" | "u16" | "runs8" | "runs16" (default "u16")
  "cell_form"     the same, for the cells' format items (default "u8")
  "geometry"      "u8" (default) | "u16" | "none"
  "extension"     true: the table record carries its 8-byte extension
  "row_offset"    byte offset of the row entries in the single record (default 6)
CELL: {"content": [BLOCK, ...] or a string, "col", "row" (in the group),
       "colspan", "rowspan" (default 1), "format": FORMAT, "nowrap": true
       (its paragraphs are marked as not wrapping)}
FORMAT: {"width_mode": 0-7, "width": n, "border": {"width": w, "style": s,
         "colour": [r, g, b]}, "padding": [top, right, bottom, left],
         "background": [r, g, b]}

A table's first and last characters are "\\n" markers. With "utf16": true in
"table_layout" the text is written as UTF-16 (big-endian, charset 1013), two
bytes a character, and every position counts bytes. Tables are numbered
in the order they start (table n is item n of attribute table 11).
"""

import struct

MARK = b"\n"


def be16(v):
    return struct.pack(">H", v)


def be32(v):
    return struct.pack(">I", v)


def values_array(values, form):
    """(flag bits, bytes) of a value array in one of the five forms."""
    if form == "single":
        assert all(v == values[0] for v in values)
        return 0x02, be16(values[0])
    if form == "u16":
        return 0x0C, b"".join(be16(v) for v in values)
    if form == "u8":
        data = bytes(values)
        return 0x04, data + b"\0" * (len(data) % 2)
    runs = []
    for v in values:
        limit = 255 if form == "runs8" else 65535
        if runs and runs[-1][0] == v and runs[-1][1] < limit:
            runs[-1][1] += 1
        else:
            runs.append([v, 1])
    if form == "runs16":
        return 0x08, be16(len(runs)) + b"".join(be16(v) + be16(n) for v, n in runs)
    return 0x00, be16(len(runs)) + b"".join(bytes([v, n]) for v, n in runs)


class Items:
    """Items of an attribute table, numbered from 1, shared when equal. Items
    the description already gives keep their numbers; new ones follow."""

    def __init__(self, given=()):
        self.items = list(given)
        self.keys = {}

    def add(self, key, item):
        if key not in self.keys:
            self.items.append(item)
            self.keys[key] = len(self.items)
        return self.keys[key]


class Writer:
    def __init__(self, utf16=False, tables=None):
        def given(n):
            return (tables or {}).get(str(n), {}).get("items", [])
        self.encoding = "utf-16-be" if utf16 else "latin-1"
        self.mark = MARK.decode().encode(self.encoding)
        self.text = bytearray()
        self.nowrap = []  # text of cells whose paragraphs do not wrap
        self.tables = []  # in start order
        self.colours = Items(given(1))
        self.borders = Items(given(5))
        self.paddings = Items(given(4))
        self.formats = Items(given(8))

    def colour(self, rgb):
        return self.colours.add(tuple(rgb), {"fixed_hex": bytes([0] + list(rgb)).hex()})

    def format(self, f):
        if not f:
            return 0
        border = 0
        if f.get("border"):
            b = f["border"]
            c = self.colour(b.get("colour", [0, 0, 0]))
            assert c < 256
            border = self.borders.add(("b", b["width"], b["style"], c),
                                      {"fixed_hex": bytes([0, c, b["width"], b["style"]]).hex()})
        padding = 0
        if f.get("padding"):
            t, r, b, l = f["padding"]
            padding = self.paddings.add(("p", t, r, b, l), {
                "fixed_hex": bytes([0, t]).hex(), "parts_hex": [bytes([r]).hex(),
                                                                bytes([b, l]).hex()]})
        background = self.colour(f["background"]) if f.get("background") else 0
        width = f.get("width", 0)
        fixed = bytes([f.get("width_mode", 0), width & 0xFF])
        part1 = bytes([width >> 8, border & 0xFF, padding & 0xFF, background & 0xFF])
        part2 = bytes([border >> 8, padding >> 8, background >> 8, 0])
        key = (fixed, part1, part2)
        return self.formats.add(key, {"fixed_hex": fixed.hex(),
                                      "parts_hex": [part1.hex(), part2.hex()]})

    def blocks(self, content, level):
        if isinstance(content, str):
            content = [content]
        for b in content:
            if isinstance(b, str):
                self.text += b.encode(self.encoding)
            else:
                self.table(b["table"], level)

    def table(self, t, level):
        rec = {"desc": t, "level": level, "start": len(self.text)}
        self.tables.append(rec)
        self.text += self.mark
        if t.get("caption") is not None:
            self.blocks(t["caption"], level + 1)
        rec["group_starts"] = []
        rec["cell_ends"] = []
        for g in t["groups"]:
            rec["group_starts"].append(len(self.text))
            ends = []
            for cell in g["cells"]:
                begin = len(self.text)
                self.blocks(cell.get("content", ""), level + 1)
                if cell.get("nowrap") and len(self.text) > begin:
                    self.nowrap.append((begin, len(self.text)))
                ends.append(len(self.text))
            rec["cell_ends"].append(ends)
        self.text += self.mark
        rec["end"] = len(self.text)


def level_runs(tables, level, length):
    runs = []
    at = 0
    for number, rec in enumerate(tables, 1):
        if rec["level"] != level:
            continue
        if rec["start"] > at:
            runs.append([at, rec["start"], 0])
        runs.append([rec["start"], rec["end"], number])
        at = rec["end"]
    if at < length:
        runs.append([at, length, 0])
    return runs


def expand(d, build):
    """The description with its table layout turned into the writer's keys."""
    utf16 = bool(d["table_layout"].get("utf16"))
    w = Writer(utf16, d.get("tables"))
    w.blocks(d["table_layout"]["content"], 0)
    text = bytes(w.text)
    assert text, "a table document needs text"
    templates = Items()
    table_items = []
    records_hex = []
    type9 = []  # (table index, records) in order
    for rec in w.tables:
        t = rec["desc"]
        groups = t["groups"]
        columns = t.get("columns") or max(
            max(c.get("col", i) + c.get("colspan", 1) for i, c in enumerate(g["cells"]))
            for g in groups)
        rows = sum(g["rows"] for g in groups)
        template_numbers = []
        for g in groups:
            cells = g["cells"]
            vflags, vbytes = values_array([w.format(c.get("format")) for c in cells],
                                          t.get("cell_form", "u8"))
            geometry = t.get("geometry", "u8")
            if geometry == "none":
                vflags |= 0x10
                geo = b""
            else:
                pack = (lambda v: be16(v)) if geometry == "u16" else (lambda v: bytes([v]))
                if geometry == "u16":
                    vflags |= 0x20
                geo = b"".join(pack(c.get("col", i)) + pack(c.get("row", 0)) +
                               pack(c.get("colspan", 1)) + pack(c.get("rowspan", 1))
                               for i, c in enumerate(cells))
            body = bytes([6, vflags]) + be16(len(cells)) + be16(g["rows"]) + vbytes + geo
            template_numbers.append(templates.add(body, body) - 1)
        gflags, gbytes = values_array(template_numbers, t.get("group_form", "u16"))
        fmt = w.format(t.get("format"))
        ext = bool(t.get("extension"))
        head = bytes([14, gflags | (1 if ext else 0), t.get("rule_mode", 0),
                      t.get("rule_width", 0), t.get("border", 0), fmt & 0xFF])
        head += be16(columns) + be16(rows & 0xFFFF) + be16(len(groups) & 0xFFFF) + be16(0)
        if ext:
            head += bytes([fmt >> 8, 0]) + be16(rows >> 16) + be16(len(groups) >> 16) + be16(0)
        records_hex.append((head + gbytes).hex())
        # Position arrays.
        flags = t.get("entry_flags", 0x04)
        starts = rec["group_starts"]
        row_entries = starts if t.get("caption") is not None else starts[1:]
        rw = 2 if flags & 1 else 4
        rows_bytes = b"".join(be16(p - rec["start"]) if rw == 2 else be32(p) for p in row_entries)
        cw = 1 if flags & 2 else 2 if flags & 4 else 4
        cells_bytes = b""
        for gs, ends in zip(starts, rec["cell_ends"]):
            for e in ends[:-1]:
                cells_bytes += bytes([e - gs]) if cw == 1 else be16(e - gs) if cw == 2 else be32(e)
        if flags & 8:
            row_recs = [rows_bytes[i:i + 16384] for i in range(0, len(rows_bytes), 16384)] or \
                [b""]
            cell_recs = [cells_bytes[i:i + 16384] for i in range(0, len(cells_bytes), 16384)] or \
                [b""]
            type9.append((rec, flags, row_recs, cell_recs, None))
        else:
            offset = t.get("row_offset", 6)
            body = b"\0" * (offset - 4) + rows_bytes + cells_bytes
            type9.append((rec, flags, [body], [], offset))
        table_items.append(rec)

    def describe(first_type9):
        out = dict(d)
        del out["table_layout"]
        out["text_hex"] = text.hex()
        if utf16:
            out["charset"] = 1013
        items11 = []
        at = first_type9
        extra = list(d.get("extra_records", []))
        for (rec, flags, row_recs, cell_recs, offset), number in zip(type9, range(len(type9))):
            t = rec["desc"]
            caption = t.get("caption_place", 1) if t.get("caption") is not None else 0
            if offset is None:
                row_first, row_count, cell_first = at, len(row_recs), at + len(row_recs)
            else:
                row_first, row_count, cell_first = at, offset, 0
            for body in row_recs + cell_recs:
                extra.append([9, body.hex()])
                at += 1
            fields = [number, row_first, row_count, cell_first]
            items11.append({"fixed_hex": bytes([flags, caption] + [v & 0xFF for v in fields]).hex(),
                            "parts_hex": [bytes([v >> 8 for v in fields] + [0, 0]).hex()]})
        out["extra_records"] = extra
        tables = dict(d.get("tables", {}))
        tables["11"] = {"widths": [6, 6], "items": items11}
        tables["8"] = {"widths": [2, 4, 4], "items": w.formats.items or [{"fixed_hex": "0000"}]}
        tables["5"] = {"widths": [4, 8, 6], "items": w.borders.items or [{"fixed_hex": "00"}]}
        tables["4"] = {"widths": [2, 1, 2], "items": w.paddings.items or [{"fixed_hex": "00"}]}
        tables["1"] = {"widths": [4], "items": w.colours.items or [{"fixed_hex": "00"}]}
        out["tables"] = tables
        indexes = dict(d.get("indexes", {}))
        indexes["0"] = {"items_per_record": 64, "items_hex": records_hex}
        indexes["1"] = {"items_per_record": 64, "items_hex": [b.hex() for b in templates.items]}
        out["indexes"] = indexes
        levels = max(r["level"] for r in w.tables) + 1
        columns = [[0, 0]]
        for level in range(levels):
            columns.append({"runs": level_runs(w.tables, level, len(text)),
                            "runs_per_record": d["table_layout"].get("runs_per_record", 1024)})
        descriptors = dict(d.get("descriptors", {}))
        descriptors["1"] = {"columns": columns}
        out["descriptors"] = descriptors
        # Paragraph attributes: bit 1 inside tables, bit 0 as well in cells
        # marked "nowrap".
        marks = [0] * len(text)
        for rec in w.tables:
            for i in range(rec["start"], rec["end"]):
                marks[i] = 2
        for a, b in w.nowrap:
            for i in range(a, b):
                marks[i] |= 1
        para = []
        for i, m in enumerate(marks):
            if para and para[-1][2] == m:
                para[-1][1] = i + 1
            else:
                para.append([i, i + 1, m])
        para = [[a, b, {"fixed_hex": "%02x000000" % m}] for a, b, m in para]
        out["para_runs"] = {"runs": para}
        return out

    # The type-9 records go last; a first build tells how many records come
    # before them.
    first = build(describe(0))
    count = struct.unpack_from(">H", first, 76)[0]
    total9 = sum(len(r) + len(c) for _, _, r, c, _ in type9)
    return describe(count - total9)
