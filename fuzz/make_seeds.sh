#!/usr/bin/env bash
# Writes the seed documents of the whole-document fuzz targets into
# OUT/<target>/, made by the project's own writers (tools/*.py) and, for Palm
# Doc, by txt2pdbdoc when it is installed: real documents of real sizes, so
# that fuzzing starts from inputs the handlers fully accept.
#   make_seeds.sh SOURCE_DIR OUT
set -euo pipefail
src=$1
out=$2
text=/usr/share/common-licenses/GPL-3
[ -r "$text" ] || text="$src/README.md"
mkdir -p "$out"/{native_doc_fuzz,native_open_fuzz,razo_doc_fuzz,palm_doc_fuzz,text_doc_stream_fuzz,db_file_fuzz,db_file_read_fuzz}

# Native books: the sample book, small and as shipped.
python3 "$src/tools/native_sample_book.py" "$out/native_doc_fuzz/book-3-40.pdb" 3 40
python3 "$src/tools/native_sample_book.py" "$out/native_doc_fuzz/book-4-300.pdb" 4 300
python3 "$src/tools/native_sample_book.py" "$out/native_doc_fuzz/book.pdb"
for f in "$out"/native_doc_fuzz/*.pdb; do
  # native_open_fuzz takes a flag byte first: odd opens the bytes as they are.
  { printf '\001'; cat "$f"; } >"$out/native_open_fuzz/$(basename "$f")"
  cp "$f" "$out/db_file_fuzz/" && cp "$f" "$out/db_file_read_fuzz/"
done

# 'RaZo' books: a real text in every coding, with styles, links and sections.
python3 - "$src/tools/razo_writer.py" "$text" "$out/razo_doc_fuzz" <<'EOF'
import json, subprocess, sys
writer, source, folder = sys.argv[1:4]
text = open(source, encoding="latin-1").read()[:60000]
n = len(text)
specs = {
    "huffman": {"text": text, "n": 4, "coding": "h"},
    "zlib": {"text": text, "coding": "z"},
    "stored": {"text": text[:20000], "coding": "s"},
    "styled": {"text": text[:30000], "n": 2,
               "styles": [[0, 1, 0], [100, 2, 1], [5000, 0, 0]],
               "links": [[200, 30, 0], [9000, 12, 1]], "targets": ["one", "two"],
               "sections": [0, 10000, 30000], "bookmarks": [["b", 40]],
               "anchors": [["a", 12000]]},
    "random": {"random_text": {"seed": 7, "size": 200000}, "n": 3},
}
for name, spec in specs.items():
    subprocess.run([sys.executable, "-I", "-S", writer, "-", "%s/%s.pdb" % (folder, name)],
                   input=json.dumps(spec).encode(), check=True)
EOF

# Palm Doc: both kinds the tool writes.
if command -v txt2pdbdoc >/dev/null 2>&1; then
  txt2pdbdoc seed "$text" "$out/palm_doc_fuzz/txt2pdbdoc.pdb" >/dev/null
  txt2pdbdoc -c seed "$text" "$out/palm_doc_fuzz/txt2pdbdoc-c.pdb" >/dev/null
fi

# Plain text: two step bytes, then the text.
{ printf '\007\003'; cat "$text"; } >"$out/text_doc_stream_fuzz/text.txt"
