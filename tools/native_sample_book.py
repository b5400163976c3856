#!/usr/bin/env python3
"""Writes a sample book in the reader's native format with tools/native_writer.py:
chapters as sections, centred and framed headings, styled runs, bullets,
links between chapters, a table with a caption and a nested table, and a
long table of ROWS rows (default 2,000). Standard library only.

Usage: native_sample_book.py OUT.pdb [CHAPTERS [ROWS]]
"""

import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import native_writer  # noqa: E402

WORDS = ("reader page the of chapter light river and slowly a window night table "
         "column morning letters quiet harbour lamp winter stone garden").split()


def paragraph(rng, words):
    out = []
    for i in range(words):
        w = rng.choice(WORDS)
        out.append(w.capitalize() if i == 0 else w)
    return " ".join(out) + ".\n"


def cell(text, fmt=None):
    c = {"content": text}
    if fmt:
        c["format"] = fmt
    return c


def build_description(chapters, rows):
    rng = random.Random(20261211)
    head = {"background": [210, 225, 250], "padding": [2, 4, 2, 4]}
    content = []
    text_len = 0
    runs = {"sections": [], "paras": [], "chars": [], "objects": [], "links": []}
    chapter_starts = []
    pending_links = []

    def add(text, char=0, para=0, obj=None):
        nonlocal text_len
        content.append(text)
        start, text_len = text_len, text_len + len(text)
        runs["chars"].append([start, text_len, char])
        runs["paras"].append([start, text_len, para])
        if obj is not None:
            runs["objects"].append([start, start + 1, obj])
        return start

    def add_table(table, length):
        nonlocal text_len
        content.append({"table": table})
        start, text_len = text_len, text_len + length
        runs["chars"].append([start, text_len, 0])
        runs["paras"].append([start, text_len, 0])
        return start

    def table_text(t):
        n = 2 + len(t.get("caption", ""))
        for g in t["groups"]:
            for c in g["cells"]:
                for block in (c["content"] if isinstance(c["content"], list) else [c["content"]]):
                    n += table_text(block["table"]) if isinstance(block, dict) else len(block)
        return n

    for ch in range(chapters):
        start = text_len
        chapter_starts.append(start)
        add("Chapter %d\n" % (ch + 1), char=1, para=1)
        for k in range(4):
            words = rng.randint(30, 70)
            p = paragraph(rng, words)
            cut = p.index(" ", len(p) // 3)
            add(p[:cut], char=0)
            add(p[cut:cut + 12], char=2)
            add(p[cut + 12:], char=0)
        for k in range(3):
            add("*", obj=3)
            add(" " + paragraph(rng, rng.randint(4, 9)))
        if ch + 1 < chapters:
            at = add("Go on to the next chapter.\n", char=3)
            pending_links.append((at, at + 26, ch + 1))
        if ch == 1:
            inner = {"border": 1, "rule_mode": 5, "rule_width": 1,
                     "groups": [{"rows": 1, "cells": [cell("north"), cell("south")]},
                                {"rows": 1, "cells": [cell("east"), cell("west")]}]}
            table = {"caption": "Seasons and places", "border": 1, "rule_mode": 5,
                     "rule_width": 1,
                     "format": {"border": {"width": 2, "style": 16, "colour": [40, 60, 120]}},
                     "groups": [
                         {"rows": 1, "cells": [cell("Season", head), cell("Light", head),
                                               cell("Where", head)]},
                         {"rows": 1, "cells": [cell("Winter"), cell("short days"),
                                               {"content": ["By the harbour\n",
                                                            {"table": inner}]}]},
                         {"rows": 1, "cells": [cell("Summer"), cell("long evenings"),
                                               cell("In the garden")]}]}
            add_table(table, table_text(table))
        if ch == 2 and rows > 0:
            groups = [{"rows": 1, "cells": [cell("Row", head), cell("Word", head),
                                            cell("Number", head)]}]
            for r in range(rows):
                groups.append({"rows": 1, "cells": [cell(str(r + 1)), cell(rng.choice(WORDS)),
                                                    cell(str(rng.randint(1, 99999)))]})
            table = {"caption": "A long table", "rule_mode": 5, "rule_width": 1, "border": 1,
                     "entry_flags": 0x0C, "groups": groups}
            add_table(table, table_text(table))
        runs["sections"].append([start, text_len, 1 if ch in (1, 2) else 0])

    def value_runs(spans, merge=True):
        out = []
        for s, e, v in spans:
            if merge and out and out[-1][2] == v and out[-1][1] == s:
                out[-1][1] = e
            else:
                out.append([s, e, v])
        return {"runs": out, "delta_encoding": 3, "value_encoding": 3, "runs_per_record": 256}

    objects = []
    at = 0
    for s, e, v in runs["objects"]:
        if s > at:
            objects.append([at, s, 0])
        objects.append([s, e, v])
        at = e
    if at < text_len:
        objects.append([at, text_len, 0])
    links = [[a, b, [0, chapter_starts[to]]] for a, b, to in pending_links]
    return {
        "section_count": chapters,
        "charset": 2252,
        "table_layout": {"content": content},
        "run_lists": {
            "1": value_runs(runs["sections"], merge=False),
            "2": value_runs(runs["paras"]),
            "3": value_runs(runs["chars"]),
            "4": value_runs(objects),
            "5": {"kind": "link", "runs": links, "runs_per_record": 1},
        },
        "indexes": {"2": {"items_per_record": 4,
                          "items_hex": ["000000000000", "000200000000"]}},
        "tables": {
            "0": {"widths": [2], "items_per_block": 8, "items": [{"fixed_hex": "0216"}]},
            "1": {"widths": [4], "items_per_block": 8,
                  "items": [{"fixed_hex": "00204080"}, {"fixed_hex": "00803020"}]},
            "2": {"widths": [2, 2, 1], "items_per_block": 8,
                  "items": [{"fixed_hex": "0002"}, {"fixed_hex": "0001"}]},
            "3": {"widths": [2, 4, 4], "items_per_block": 8,
                  "items": [{"fixed_hex": "0000", "parts_hex": ["00060c00"]}]},
            "6": {"widths": [4, 4, 4, 4], "items_per_block": 8,
                  "items": [{"fixed_hex": "01000001"}]},
            "7": {"widths": [4, 4, 4], "items_per_block": 8,
                  "items": [{"fixed_hex": "01000101"}, {"fixed_hex": "02000000"},
                            {"fixed_hex": "04000002"}]},
        },
    }


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    chapters = int(argv[2]) if len(argv) > 2 else 4
    rows = int(argv[3]) if len(argv) > 3 else 2000
    with open(argv[1], "wb") as f:
        f.write(native_writer.build(build_description(max(chapters, 3), rows)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
