#include "core/link/linewatcher.h"
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
