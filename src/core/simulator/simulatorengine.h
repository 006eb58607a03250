#pragma once

// The simulated module's insides, shared by simulator.cpp (its files, its socket, start and
// stop) and simulatorengine.cpp (the thread that serves the line). Nothing else includes it.

#include "core/simulator/simulator.h"

#include <QByteArray>
#include <QString>

#ifdef Q_OS_UNIX
#include <algorithm>
#include <chrono>
#include <deque>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <thread>
#include <vector>
#endif

namespace pw {

struct Simulator::Engine {
    Engine(SimulatorOptions options_, Hooks hooks_) : options(std::move(options_)), hooks(std::move(hooks_)) {}

    // Empty when written, else the file and why it was not, in the words every output of the
    // program uses. Whole, and in place of the old file only once complete, so a reader never
    // sees half a snapshot.
    static QString replaceFile(const QString &path, const QByteArray &bytes);
    static QByteArray snapshotPng(const MonoImage &screen);

    bool prepareFiles(QString &error);
    void trouble(const QString &text)
    {
        if (hooks.trouble)
            hooks.trouble(text);
    }

    SimulatorOptions options;
    Hooks hooks;

#ifdef Q_OS_UNIX
    using Clock = std::chrono::steady_clock;
#ifdef MSG_NOSIGNAL
    static constexpr int kNoSignal = MSG_NOSIGNAL;
#else
    static constexpr int kNoSignal = 0;
#endif
    static void setNonBlocking(int fd);

    // The line delivers a byte every 1.04 ms; a paced module wakes for about eight at a time.
    // One woken late on a busy machine takes what the line carried meanwhile, up to 64 bytes,
    // so the pace holds over a transfer as the line's does.
    static constexpr double kPacedChunk = 8;
    static constexpr double kBurst = 64;

    // Senders that connect while another is served wait in line, this many at most.
    static constexpr std::size_t kMaxWaiting = 64;
    struct Waiting {
        int fd;
        bool gone;  // went away with bytes on the line: still served, no longer watched
    };

    bool checkSocketPath(QString &error);
    bool listen(QString &error);
    void run();
    int pollTimeout(Clock::time_point now, bool &wantBytes);
    void watchWaiting(const pollfd *fds);
    void accept();
    void serve(int fd);
    void take();
    void endClient();
    void sendReport();
    void setCts(bool asserted);
    void onEvent(const DisplayModule::Event &event);
    void refill(Clock::time_point now)
    {
        credit = std::min(kBurst, credit + std::chrono::duration<double>(now - credited).count() * kBytesPerSecond);
        credited = now;
    }

    DisplayModule module{[this](const DisplayModule::Event &event) { onEvent(event); }};
    int listenFd = -1;
    int clientFd = -1;
    std::deque<Waiting> waiting;
    int wakePipe[2] = {-1, -1};
    dev_t socketDevice = 0;
    ino_t socketInode = 0;
    std::thread thread;
    bool cts = true;
    bool reportPending = false;
    std::optional<Clock::time_point> rewriteEnds;
    double credit = 0;
    Clock::time_point credited;
    bool lineIdle = true;  // the client's bytes ran out at the last take
    std::vector<char> buffer = std::vector<char>(16 * 1024);
#else
    DisplayModule module;
#endif
};

}  // namespace pw
