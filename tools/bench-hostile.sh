#!/bin/sh
# Hostile pictures under every option set of pixelwright-cli convert: wall time, peak memory
# (resident, whole process) and exit code of each run, one fresh process per run. A run must
# end in 2 s (plus 5 ms a frame with --frames) and 300 MB with exit 0 or 2. The animations also
# go through send --dry-run --frames, which decodes only the 13 frames it sends.
#   tools/bench-hostile.sh [build-folder]    (default: build; the program must be built)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
case $build in /*) ;; *) build=$root/$build ;; esac
cli=$build/pixelwright-cli
[ -x "$cli" ] || { echo "bench-hostile: $cli is not built (cmake --build --preset default)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
python3 "$root/tools/pictures.py" hostile "$work/in"
cp "$root"/fuzz/corpus/picture/* "$work/in/"

# One run of "$@": its time, peak memory and exit code against the limits, as a line of the table.
measure() {
    picture=$1 label=$2
    shift 2
    rm -rf "$work/out" && mkdir "$work/out"
    /usr/bin/time -f '%e %M' -o "$work/time" timeout 300 "$@" >/dev/null 2>"$work/err" && code=0 || code=$?
    read -r seconds kb <<EOF
$(tail -n 1 "$work/time")
EOF
    [ -n "${kb:-}" ] || { seconds=300; kb=0; }
    frames=$(find "$work/out" -type f | wc -l)
    limit=$(echo "2 + 0.005 * $frames" | bc -l)
    verdict=ok
    if [ "$(echo "$seconds > $limit" | bc -l)" = 1 ] || [ "$kb" -gt 307200 ] || { [ "$code" != 0 ] && [ "$code" != 2 ]; }; then
        verdict="OVER ($(head -c 120 "$work/err" | tr '\n' ' '))"
        bad=$((bad + 1))
    elif [ "$code" = 2 ]; then
        verdict="refused: $(head -n 1 "$work/err" | sed 's/^pixelwright-cli: [^:]*: //')"
    fi
    printf '%-34s %-28s %8s %8.1f %5s  %s\n' "$(basename "$picture")" "$label" "$seconds" "$(echo "$kb / 1024" | bc -l)" "$code" "$verdict"
}

printf '%-34s %-28s %8s %8s %5s  %s\n' picture options seconds MB exit verdict
bad=0
for picture in "$work"/in/*; do
    for options in "" "--fit contain" "--fit cover" "--fit stretch" "--rotate 90" "--flip h" "--dither floyd-steinberg" "--frames"; do
        # shellcheck disable=SC2086
        measure "$picture" "${options:-default}" "$cli" convert "$picture" $options -o "$work/out/"
    done
done
for picture in "$work"/in/*frames*.gif; do
    measure "$picture" "send --dry-run --frames" "$cli" send --dry-run --flash 0 --frames "$picture"
done
echo "runs over a limit: $bad"
