#!/bin/sh
# The window program's waits and start, measured side by side in one run:
#  - CPU while the device is busy (a CTS wait): the wait of old (a 1 ms sleep between polls),
#    the polling wait (a port that cannot say when CTS changes) and the watched wait;
#    and how soon each notices CTS change;
#  - the splash: when the main window opens;
#  - start-up with a 100 MB settings file (an unclosed quote, then text) against a normal one:
#    peak memory, time until the settings file is written back, and what is written.
#   tools/bench-hardening.sh [build-folder]    (default: build; the program must be built)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
case $build in /*) ;; *) build=$root/$build ;; esac
[ -x "$build/pixelwright" ] || { echo "bench-hardening: $build/pixelwright is not built" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

cmake --build "$build" -j2 --target bench-wait-driver >/dev/null

echo "== CPU during a CTS wait (5 s, the device busy throughout) =="
for mode in old polled watched asleep; do "$build/tools/bench-wait-driver" $mode 2>/dev/null; done

echo
echo "== Splash to main window (goal 2.00 s +- 0.03 s), three runs =="
for _ in 1 2 3; do
    "$build/tests/gui/tst_shell" splashLastsTwoSeconds 2>/dev/null | sed -n 's/.*main window after/  main window after/p'
done

echo
echo "== Start-up with the settings file (peak memory, time until it is written back) =="
python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
open(f"{work}/normal.ini", "wb").write(b'"3","1"\r\n')
with open(f"{work}/huge.ini", "wb") as f:
    f.write(b'"3","')
    block = b"x" * (1 << 20)
    for _ in range(100):
        f.write(block)
PY
for kind in normal huge; do
    dir=$work/$kind
    mkdir "$dir"
    cp "$build/pixelwright" "$dir/"
    cp "$work/$kind.ini" "$dir/parameterv12864.ini"
    before=$(stat -c %Y.%s "$dir/parameterv12864.ini")
    start=$(date +%s%N)
    "$dir/pixelwright" >/dev/null 2>&1 &
    pid=$!
    written=""
    hwm=0
    while [ $(( ($(date +%s%N) - start) / 1000000 )) -lt 6000 ]; do
        now=$(grep VmHWM /proc/$pid/status 2>/dev/null | awk '{print $2}')
        [ -n "$now" ] && hwm=$now
        if [ -z "$written" ] && [ "$(stat -c %Y.%s "$dir/parameterv12864.ini")" != "$before" ]; then
            written=$(( ($(date +%s%N) - start) / 1000000 ))
        fi
        [ -n "$written" ] && [ $(( ($(date +%s%N) - start) / 1000000 )) -gt $((written + 500)) ] && break
        sleep 0.02
    done
    kill $pid 2>/dev/null || true
    wait $pid 2>/dev/null || true
    printf '  %-7s file %9s bytes: peak %6d KB, written back after %5s ms, %s bytes\n' "$kind" \
        "$(stat -c %s "$work/$kind.ini")" "$hwm" "${written:-never}" "$(stat -c %s "$dir/parameterv12864.ini")"
done
