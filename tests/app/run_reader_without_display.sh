#!/usr/bin/env bash
# Starts the real reader where no window system can be reached: without a
# display named, and with DISPLAY naming a display that no server serves.
# Each time the program must say so in one line on standard error (naming
# the display it tried) and exit with status 1, not abort.
#   run_reader_without_display.sh KELPO_BINARY
set -uo pipefail
reader=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" XDG_CONFIG_HOME="$work/config" KELPO_DATA_HOME="$work/data"

# A display number with no server behind it (far above the numbers that
# virtual servers started with "xvfb-run -a" take, from 99 up).
n=1099
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done

check() {
  local what=$1 expect=$2
  shift 2
  local message status
  message=$("$@" "$reader" 2>&1 >/dev/null)
  status=$?
  echo "$what: status $status: $message"
  if [ "$status" -ne 1 ]; then echo "FAIL: $what: status $status"; exit 1; fi
  if [ "$(printf '%s\n' "$message" | wc -l)" -ne 1 ]; then
    echo "FAIL: $what: more than one line"; exit 1
  fi
  case $message in
    *"$expect"*) ;;
    *) echo "FAIL: $what: the message does not name $expect"; exit 1 ;;
  esac
}

check "no display" "no display" env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM
check "display :$n not served" "\":$n\"" env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=":$n"
check "display :$n not served (xcb)" "\":$n\"" env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb \
  DISPLAY=":$n"
echo "ok"
