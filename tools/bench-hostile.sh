#!/bin/sh
# Hostile pictures under every option set of pixelwright-cli convert: wall time, peak memory
# (resident, whole process) and exit code of each run, one fresh process per run. A run must
# end in 2 s (plus 5 ms a frame with --frames) and 300 MB with exit 0 or 2.
#   tools/bench-hostile.sh [build-folder]    (default: build; the program must be built)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
case $build in /*) ;; *) build=$root/$build ;; esac
cli=$build/pixelwright-cli
[ -x "$cli" ] || { echo "bench-hostile: $cli is not built (cmake --build --preset default)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$root/tools/hostile-pictures.py" "$work"
cp "$root"/fuzz/corpus/picture/* "$work/"

printf '%-34s %-28s %8s %8s %5s  %s\n' picture options seconds MB exit verdict
bad=0
for picture in "$work"/*; do
    for options in "" "--fit contain" "--fit cover" "--fit stretch" "--rotate 90" "--flip h" "--dither floyd-steinberg" "--frames"; do
        rm -rf "$work/out" && mkdir "$work/out"
        # shellcheck disable=SC2086
        /usr/bin/time -f '%e %M' -o "$work/time" timeout 60 "$cli" convert "$picture" $options -o "$work/out/" \
            >/dev/null 2>"$work/err" && code=0 || code=$?
        read -r seconds kb <<EOF
$(tail -n 1 "$work/time")
EOF
        [ -n "${kb:-}" ] || { seconds=60; kb=0; }
        frames=$(find "$work/out" -type f | wc -l)
        limit=$(echo "2 + 0.005 * $frames" | bc -l)
        verdict=ok
        if [ "$(echo "$seconds > $limit" | bc -l)" = 1 ] || [ "$kb" -gt 307200 ] || { [ "$code" != 0 ] && [ "$code" != 2 ]; }; then
            verdict="OVER ($(head -c 120 "$work/err" | tr '\n' ' '))"
            bad=$((bad + 1))
        elif [ "$code" = 2 ]; then
            verdict="refused: $(head -n 1 "$work/err" | sed 's/^pixelwright-cli: [^:]*: //')"
        fi
        printf '%-34s %-28s %8s %8.1f %5s  %s\n' "$(basename "$picture")" "${options:-default}" "$seconds" "$(echo "$kb / 1024" | bc -l)" "$code" "$verdict"
    done
done
echo "runs over a limit: $bad"
