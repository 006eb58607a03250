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

cat >"$work/driver.cpp" <<'CPP'
#include "core/linewatcher.h"
#include "gui/waitgate.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

static double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QByteArray mode = argv[1];
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return 1;
    std::atomic<bool> cts{false};
    // The watcher reads the line with one system call, as it reads TIOCMGET on a real port.
    auto readLine = [&]() -> std::optional<bool> {
        int n = 0;
        ::ioctl(pipeFds[0], FIONREAD, &n);
        if (n > 0 && mode != "asleep") {  // only the sleeping driver reads the device's signal
            char drain[64];
            if (::read(pipeFds[0], drain, sizeof drain) < 0)
                std::abort();
        }
        return cts.load();
    };
    auto wait = [&](qint64 boundMs) {
        pw::WaitGate gate;
        std::unique_ptr<pw::LineWatcher> watcher;
        // "asleep": the driver sleeps until the line changes, as TIOCMIWAIT does; here a pipe
        // that the device writes to when it raises CTS stands in for it.
        pw::LineWatcher::Block block;
        if (mode == "asleep")
            block = [&]() -> int {
                pollfd p{pipeFds[0], POLLIN, 0};
                if (::poll(&p, 1, -1) < 0)
                    return errno == EINTR ? 0 : -1;
                char c;
                return ::read(pipeFds[0], &c, 1) == 1 ? 1 : -1;
            };
        if (mode == "watched" || mode == "asleep")
            watcher = std::make_unique<pw::LineWatcher>(readLine, [&gate] { gate.wake(); }, 8, block);
        auto poll = [&]() -> std::optional<bool> { return readLine(); };
        if (mode == "old") {  // processEvents, then a 1 ms sleep, between polls
            QElapsedTimer clock;
            clock.start();
            while (!*poll() && clock.elapsed() < boundMs) {
                QCoreApplication::processEvents();
                QThread::msleep(1);
            }
            return;
        }
        gate.until(poll, boundMs, mode != "polled");
    };

    // CPU over a five-second wait in which the line never changes.
    const double before = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    wait(5000);
    const double share = 100.0 * (cpuSeconds() - before) / (double(clock.elapsed()) / 1000.0);

    // How long after CTS rises the wait ends: twenty times, at odd moments.
    qint64 worstUs = 0;
    for (int i = 0; i < 20; ++i) {
        cts = false;
        QElapsedTimer since;
        std::thread device([&, i] {
            QThread::usleep(20000 + 3217 * i);
            since.start();
            cts = true;
            if (::write(pipeFds[1], "!", 1) != 1)
                std::abort();
        });
        wait(2000);
        worstUs = qMax(worstUs, since.nsecsElapsed() / 1000);
        device.join();
    }
    std::printf("%-34s %6.2f %% of a core   notices CTS within %5.1f ms\n",
                mode == "old" ? "1 ms sleeps (before)" : mode == "polled" ? "polling, port cannot watch"
                : mode == "watched" ? "watched line, polled by a thread" : "watched line, driver asleep",
                share, double(worstUs) / 1000.0);
    return 0;
}
CPP
cmake --build "$build" -j2 --target pwgui >/dev/null
# shellcheck disable=SC2046
g++ -std=c++17 -O2 -fPIC -I"$root/src" "$work/driver.cpp" "$build/src/gui/libpwgui.a" "$build/src/core/libpwcore.a" \
    $(pkg-config --cflags --libs Qt6Widgets Qt6Gui Qt6SerialPort libpng) -lpthread -o "$work/driver"

echo "== CPU during a CTS wait (5 s, the device busy throughout) =="
for mode in old polled watched asleep; do "$work/driver" $mode 2>/dev/null; done

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
