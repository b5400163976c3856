#!/usr/bin/env bash
# Full screen where a window manager decides: under a virtual X server with a
# small window manager (blackbox), entering and leaving full screen is the
# manager's answer to a request, arriving later, not the offscreen platform's
# immediate change.
#   1. The main window's full-screen tests (two tiled documents, a third
#      opened in full screen, each window's place back on leaving; the size
#      bound of a document window) run on the X platform.
#   2. The real reader with two documents: F11 makes its window cover the
#      screen (a screenshot is kept), F11 again puts it back where it was.
#   run_under_window_manager.sh QT_TESTS_BINARY KELPO_BINARY OUTPUT_FOLDER
set -euo pipefail
tests=$1
reader=$2
out=$3
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for tool in xvfb-run blackbox xdotool xwininfo import; do
  if ! command -v "$tool" >/dev/null; then
    if [ "${CI:-}" = true ]; then echo "missing tool: $tool"; exit 1; fi
    echo "skipped: $tool missing"; exit 0
  fi
done

for i in $(seq 1 80); do echo "Line $i of a book read in full screen."; done > "$work/book.txt"
printf 'Notes in plain text.\nAnother line of notes.\n' > "$work/notes.txt"
mkdir -p "$work/home"

cat > "$work/session.sh" <<SESSION
set -u
wm=
# Starts the manager unless it runs; it is up once it names itself on the
# root window (30 s at most: a loaded machine starts it slowly). A manager
# that ended without coming up (the server not yet taking it) is started
# again within that time.
start_wm() {
  [ -n "\$wm" ] && kill -0 "\$wm" 2>/dev/null && return 0
  blackbox >>"$work/wm.log" 2>&1 &
  wm=\$!
  for i in \$(seq 1 150); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    if ! kill -0 "\$wm" 2>/dev/null; then
      blackbox >>"$work/wm.log" 2>&1 &
      wm=\$!
    fi
    sleep 0.2
  done
  echo "the window manager did not come up (display \${DISPLAY:-none}):"; cat "$work/wm.log"
  return 1
}
status=0
start_wm || exit 1

# 1. The full-screen tests on the X platform.
QT_QPA_PLATFORM=xcb KELPO_ARTIFACT_DIR="$out/window_manager" \
  timeout 120 "$tests" --gtest_filter='FullScreenTest.*' || status=1

# 2. The real reader (under the manager, started again should it have ended).
start_wm || exit 1
"$reader" "$work/notes.txt" "$work/book.txt" 2>"$work/reader.err" &
pid=\$!
win=\$(timeout 20 xdotool search --sync --onlyvisible --name '^Kelpo' | head -n 1)
place() { xwininfo -id "\$win" | awk '/Absolute upper-left X/{x=\$4} /Absolute upper-left Y/{y=\$4}
  /Width:/{w=\$2} /Height:/{h=\$2} END{print x","y","w"x"h}'; }
# Waits (at most 20 s) until the window's place is the one asked for.
wait_place() {
  for i in \$(seq 1 100); do [ "\$(place)" = "\$1" ] && return 0; sleep 0.2; done
  echo "window at \$(place), expected \$1"; cat "$work/wm.log"; return 1
}
sleep 1
before=\$(place)
# The keys go to the window with the input focus: activation through the
# manager, or the focus set directly where the manager does not answer.
xdotool windowactivate --sync "\$win" 2>/dev/null || xdotool windowfocus --sync "\$win"
xdotool key F11
wait_place "0,0,1024x768" || status=1
sleep 2  # the text is laid out again for the larger window
import -window root "$out/reader_full_screen_under_wm.png"
xdotool key F11
wait_place "\$before" || status=1
if ! kill \$pid 2>/dev/null; then echo "the reader ended early:"; cat "$work/reader.err"; status=1; fi
wait \$pid 2>/dev/null
[ -n "\$wm" ] && { kill "\$wm" 2>/dev/null; wait "\$wm" 2>/dev/null; }
exit \$status
SESSION

# The X platform's session-bus connection lives until the process ends.
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "$0")" && pwd)/lsan_qt.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" KELPO_DATA_HOME="$work/home/data" \
  env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/session.sh"
echo "full screen under a window manager: $out/reader_full_screen_under_wm.png"
