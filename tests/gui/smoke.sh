#!/usr/bin/env bash
# Smoke test of the built program in a real X server (Xvfb): the splash, the main window with
# the settings restored, the About window and the console, Exit, and the colour check on a
# 16-bit display. Screenshots go to the folder given as the second argument.
#
#   smoke.sh <path to pixelwright> <screenshot folder>
#
# Exit status 77 (skipped) when Xvfb or the X tools are missing. The program runs from a
# temporary folder of its own, since it keeps its settings file beside itself. Nothing here
# opens a serial port: the program only names its port at start.
set -uo pipefail

binary=${1:?path to pixelwright}
shots=${2:?screenshot folder}
main_title='Pixelwright for 128×64(Mono)'
about_title='Pixelwright for 128×64(Mono)のﾊﾞｰｼﾞｮﾝ情報'

for tool in Xvfb xwininfo xdotool import; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
done
[ -x "$binary" ] || { echo "FAIL: no program at $binary"; exit 1; }
mkdir -p "$shots"

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
failures=0

cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

now_ms() { date +%s%3N; }

# Starts an X server of the given depth on a display it chooses itself (-displayfd): other X
# servers, another test's among them, may come and go meanwhile.
start_x() {
  local depth=$1 i
  : >"$work/display"
  Xvfb -displayfd 3 -screen 0 "1024x768x$depth" -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for i in $(seq 1 100); do
    if [ -s "$work/display" ]; then
      export DISPLAY=":$(tr -dc 0-9 <"$work/display")"
      xwininfo -root >/dev/null 2>&1 && return 0
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "FAIL: no X server could be started"; cat "$work/xvfb.log"; exit 1
}

stop_x() {
  [ -n "$xvfb_pid" ] && { kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; }
  xvfb_pid=""
}

# A fresh program folder with a hand-written settings file (no quotes, no line end).
start_app() {
  rm -rf "$work/prog"; mkdir -p "$work/prog"
  cp "$binary" "$work/prog/pixelwright"
  printf '2,4' >"$work/prog/parameterv12864.ini"
  (cd "$work/prog" && QT_QPA_PLATFORM=xcb exec ./pixelwright >"$work/app.log" 2>&1) &
  app_pid=$!
  started_ms=$(now_ms)
}

# Top-level windows, one "id name geometry" per line, mapped ones only.
windows() { xwininfo -root -children 2>/dev/null | grep -E '^ +0x' ; }
mapped_id() {
  # Window ids whose name is exactly $1 and which are mapped.
  local id
  for id in $(xdotool search --onlyvisible --name "^$(sed 's/[][().*^$]/\\&/g' <<<"$1")\$" 2>/dev/null); do
    echo "$id"
  done
}
splash_shown() { windows | grep -q ' 375x222+'; }
running() {
  local state
  state=$(ps -o stat= -p "$app_pid" 2>/dev/null) || return 1
  [[ $state != Z* ]]
}
wait_until() {  # wait_until <seconds> <command...>
  local limit=$1; shift
  local end=$(( $(now_ms) + limit * 1000 ))
  while [ "$(now_ms)" -lt "$end" ]; do
    "$@" && return 0
    sleep 0.05
  done
  return 1
}
main_shown() { [ -n "$(mapped_id "$main_title")" ]; }
about_shown() { [ -n "$(mapped_id "$about_title")" ]; }
ended() { ! running; }
key_to() {  # key_to <window id> <keys...>
  local id=$1; shift
  xdotool windowfocus --sync "$id" 2>/dev/null
  local k
  for k in "$@"; do xdotool key "$k"; sleep 0.3; done
}
shot() { import -window "$1" "$shots/$2.png" 2>/dev/null && pass "screenshot $shots/$2.png"; }

# --- 1. full colour: splash, main window, About, Exit with About open ------------------------
start_x 24
start_app
if wait_until 2 splash_shown; then pass "splash shown"; else fail "no splash window"; fi
splash_id=$(windows | grep ' 375x222+' | awk '{print $1}' | head -1)
[ -n "$splash_id" ] && shot "$splash_id" splash
sleep 1
main_shown && fail "main window open after 1 s, before the splash's fourth tick"
if wait_until 5 main_shown; then
  opened_ms=$(( $(now_ms) - started_ms ))
  pass "main window '$main_title' opened after ${opened_ms} ms"
  [ "$opened_ms" -ge 1500 ] || fail "main window opened too early (${opened_ms} ms)"
else
  fail "main window did not open"
fi
splash_shown && fail "splash still shown with the main window"
record=$(od -An -tx1 "$work/prog/parameterv12864.ini" | tr -s ' \n' ' ')
if [ "$record" = " 22 32 22 2c 22 34 22 0d 0a " ]; then
  pass "settings restored and written back as the quoted record"
else
  fail "settings file after start:$record"
fi
main_id=$(mapped_id "$main_title" | head -1)
[ -n "$main_id" ] && shot "$main_id" main

if [ -n "$main_id" ]; then
  key_to "$main_id" alt+h a
  if wait_until 3 about_shown; then pass "About window opened"; else fail "About window did not open"; fi
  about_id=$(mapped_id "$about_title" | head -1)
  [ -n "$about_id" ] && { sleep 0.3; shot "$about_id" about; }
  [ -n "$about_id" ] && key_to "$about_id" Escape
  if wait_until 2 bash -c "! xdotool search --onlyvisible --name 'ﾊﾞｰｼﾞｮﾝ情報' >/dev/null"; then
    pass "Esc closed the About window"
  else
    fail "About window still open after Esc"
  fi
  key_to "$main_id" alt+h a
  wait_until 3 about_shown || fail "About window did not open again"
  key_to "$main_id" alt+f x
  if wait_until 3 ended; then
    wait "$app_pid"; status=$?
    [ "$status" -eq 0 ] && pass "Exit ended the program with the About window open" || fail "exit status $status"
  else
    fail "program still running after Exit"
  fi
fi
app_pid=""

# --- 2. the console -------------------------------------------------------------------------
start_app
wait_until 5 main_shown || fail "main window did not open (second start)"
main_id=$(mapped_id "$main_title" | head -1)
if [ -n "$main_id" ]; then
  key_to "$main_id" alt+r a
  sleep 0.8
  if main_shown; then fail "main window still shown with the console open"; else pass "main window hidden for the console"; fi
  console_id=$(windows | grep -v -e 'has no name' -e '1x1+' -e '3x3+' -e "$main_title" | awk '{print $1}' | head -1)
  if [ -n "$console_id" ]; then shot "$console_id" console; else fail "no console window"; fi
  shot root console-screen
fi
kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null; app_pid=""
stop_x

# --- 3. a 16-bit display: the colour message, then the end, no main window ------------------
start_x 16
start_app
box_seen=""
main_seen=""
end=$(( $(now_ms) + 4000 ))
while [ "$(now_ms)" -lt "$end" ] && running; do
  main_shown && main_seen=yes
  box_id=$(mapped_id Pixelwright | while read -r id; do
             xwininfo -id "$id" | grep -q 'Width: 375' || echo "$id"; done | head -1)
  if [ -n "$box_id" ] && [ -z "$box_seen" ]; then
    box_seen=$(( $(now_ms) - started_ms ))
    sleep 0.3
    shot "$box_id" colour-message
    key_to "$box_id" Return
  fi
  sleep 0.05
done
[ -n "$box_seen" ] && pass "colour message shown after ${box_seen} ms" || fail "no colour message on a 16-bit display"
if wait_until 3 ended; then
  wait "$app_pid"; status=$?
  [ "$status" -eq 0 ] && pass "program ended after the message" || fail "exit status $status after the message"
else
  fail "program still running after the colour message"
fi
app_pid=""
[ -z "$main_seen" ] && pass "no main window on a 16-bit display" || fail "main window opened on a 16-bit display"
stop_x

if [ "$failures" -gt 0 ]; then
  echo "--- program output"; cat "$work/app.log"
  exit 1
fi
echo "smoke test passed"
