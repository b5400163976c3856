#!/usr/bin/env bash
# Starts the real reader under a virtual X server with a Palm Doc and a text
# file, grabs the screen as a PNG in the build folder, and checks that text
# was drawn in the document area. Also checks that without a display the
# program says so in one line and exits with status 1.
#   run_reader_under_xvfb.sh KELPO_BINARY OUTPUT_FOLDER
set -euo pipefail
reader=$1
out=$2
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for tool in xvfb-run import convert txt2pdbdoc; do
  if ! command -v "$tool" >/dev/null; then
    if [ "${CI:-}" = true ]; then echo "missing tool: $tool"; exit 1; fi
    echo "skipped: $tool missing"; exit 0
  fi
done

# Without a display: one line on standard error, status 1.
set +e
message=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$reader" 2>&1 >/dev/null)
status=$?
set -e
if [ "$status" -ne 1 ] || [ "$(printf '%s\n' "$message" | wc -l)" -ne 1 ]; then
  echo "without a display: status $status, message: $message"; exit 1
fi

for i in $(seq 1 120); do echo "Line $i of a book that the reader shows in its window."; done > "$work/book.txt"
txt2pdbdoc Book "$work/book.txt" "$work/book.pdb" >/dev/null
printf 'Notes in plain text.\nAnother line of notes.\n' > "$work/notes.txt"
# A name that is not valid UTF-8 ("caf" and the byte 0xE9).
odd="$work/caf$(printf '\351').txt"
printf 'A file whose name is not UTF-8.\n' > "$odd"
mkdir -p "$work/home"

cat > "$work/session.sh" <<SESSION
"$reader" "$odd" "$work/notes.txt" "$work/book.pdb" &
pid=\$!
for i in \$(seq 1 20); do sleep 0.2; done
import -window root "$out/reader_under_xvfb.png"
kill \$pid
wait \$pid || true
SESSION
HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" KELPO_DATA_HOME="$work/home/data" \
  env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/session.sh"

# The document area (below the bars, left of the scroll bar) must hold ink:
# dark pixels make up a fair share of it, as lines of text do.
dark=$(convert "$out/reader_under_xvfb.png" -crop 600x300+10+60 -colorspace Gray \
  -threshold 50% -negate -format '%[fx:mean]' info:)
echo "dark share of the document area: $dark"
python3 -c "import sys; sys.exit(0 if 0.01 < float('$dark') < 0.6 else 1)" || {
  echo "no text in the document area"; exit 1; }
echo "reader drew text: $out/reader_under_xvfb.png"

# The file named by bytes that are not UTF-8 was opened: the recent files
# keep its name as those bytes.
if ! grep -aq 'caf\\xe9\.txt' "$work/home/config/Kelpo/Kelpo.conf"; then
  echo "the file whose name is not UTF-8 was not opened"
  cat "$work/home/config/Kelpo/Kelpo.conf"; exit 1
fi
echo "the file whose name is not UTF-8 opened"
