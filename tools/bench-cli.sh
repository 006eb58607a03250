#!/bin/sh
# pixelwright-cli against ImageMagick, side by side in one run:
#  - 1000 pictures of 128 x 64 converted in one call, against ImageMagick converting the same
#    files one process per file (convert IN -threshold ... gray:OUT) and in one call (mogrify);
#  - a 20000 x 20000 JPEG crop-converted (ImageMagick refuses sides over 16000 by policy, so it
#    is made by tools/pictures.py: a baseline JPEG whose coefficients are all zero);
#  - a 20000 x 20000 PNG fit-converted (cover), with its peak memory.
#   tools/bench-cli.sh [build-folder]    (default: build; the program must be built)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
case $build in /*) ;; *) build=$root/$build ;; esac
cli=$build/pixelwright-cli
[ -x "$cli" ] || { echo "bench-cli: $cli is not built (cmake --build --preset default)" >&2; exit 1; }
# The real ImageMagick, not a wrapper script in front of it.
im=$(command -v convert-im6.q16 || command -v magick || command -v convert || true)
mogrify=$(command -v mogrify-im6.q16 || command -v mogrify || true)
[ -n "$im" ] || { echo "bench-cli: ImageMagick is missing (tools/setup.sh installs it)" >&2; exit 1; }
# In memory where there is a tmpfs: on a disk, creating a thousand files costs what the file
# system's inode allocator makes of its recent history (here 0.05 to 0.7 ms a file, the same for
# any program), which would swamp what the programs themselves take. Both write to the same place.
work=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in" "$work/cli" "$work/one" "$work/im" "$work/mogrify"

python3 "$root/tools/pictures.py" cli "$work"

now() { date +%s.%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { print b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { print a / b }'; }

# pixelwright-cli flushes the file system it wrote to once at the end of a batch (syncfs), which
# also waits for whatever else is waiting to be written there (the pictures just made, the other
# runs' outputs): each timed run starts with nothing waiting, so it pays for its own files only.
sync
tone0=$(now)
PIXELWRIGHT_JOBS=1 "$cli" convert "$work"/in/*.png -o "$work/one/"
sync
t0=$(now)
"$cli" convert "$work"/in/*.png -o "$work/cli/"
t1=$(now)
sync
t1=$(now)
for f in "$work"/in/*.png; do
    b=$(basename "$f" .png)
    "$im" "$f" -colorspace gray -threshold 50% -depth 1 "gray:$work/im/$b.gray"
done
t2=$(now)
if [ -n "$mogrify" ]; then
    (cd "$work/in" && "$mogrify" -path "$work/mogrify" -format gray -colorspace gray -threshold 50% -depth 1 ./*.png)
fi
t3=$(now)

one_s=$(secs "$tone0" "$t0")
cli_s=$(secs "$t0" "$t1")
im_s=$(secs "$t1" "$t2")
mog_s=$(secs "$t2" "$t3")
printf '1000 pictures of 128x64, in one run:\n'
# Seconds for 1000 pictures are milliseconds a picture.
printf '  pixelwright-cli convert (one call)    %7.3f s  %6.3f ms a picture, %s workers\n' "$cli_s" "$cli_s" "$(nproc)"
same=different
diff -r "$work/one" "$work/cli" >/dev/null && same=identical
printf '  the same on one worker                %7.3f s  (%s outputs)\n' "$one_s" "$same"
printf '  ImageMagick convert (one per file)    %7.3f s  %5.1fx slower\n' "$im_s" "$(ratio "$im_s" "$cli_s")"
[ -n "$mogrify" ] && printf '  ImageMagick mogrify (one call)        %7.3f s  %5.1fx slower\n' "$mog_s" "$(ratio "$mog_s" "$cli_s")"

t4=$(now)
"$cli" convert "$work/huge.jpg" -o "$work/huge-jpg.bin"
t5=$(now)
printf '20000x20000 JPEG (%s MB), crop:        %7.3f s\n' "$(($(stat -c %s "$work/huge.jpg") / 1048576))" "$(secs "$t4" "$t5")"
[ -x /usr/bin/time ] || exit 0
peak=$(/usr/bin/time -f '%e s, peak %M KB' "$cli" convert "$work/huge.png" --fit cover -o "$work/huge-png.bin" 2>&1) || true
printf '20000x20000 PNG, --fit cover:           %s\n' "$peak"
peak=$(/usr/bin/time -f '%e s, peak %M KB' "$cli" convert "$work/huge.jpg" --fit contain -o "$work/huge-jpg2.bin" 2>&1) || true
printf '20000x20000 JPEG, --fit contain:        %s\n' "$peak"

# The window's conversion (画像変換) of its 128 x 64 area: the core's threshold and paint, against
# the per-pixel loop the window ran before (read a pixel, threshold it, paint it back), here as
# the reference.
if cmake --build "$build" -j2 --target bench-window-conversion >/dev/null 2>&1; then
    QT_QPA_PLATFORM=offscreen "$build/tools/bench-window-conversion"
fi
