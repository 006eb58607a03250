// The thread that serves the simulated module's line: one client at a time at the line's
// pace, the others held in turn, CTS reported as it changes.
#include "core/simulator/simulatorengine.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

namespace pw {

void Simulator::Engine::run()
{
    std::vector<pollfd> fds;
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (rewriteEnds && now >= *rewriteEnds) {
            rewriteEnds.reset();
            setCts(true);
        }
        bool wantBytes = true;
        const int timeoutMs = pollTimeout(now, wantBytes);
        // A client that has gone away is reported at once by poll: it is looked at only while
        // the line has room for its bytes.
        const bool watchClient = clientFd >= 0 && (wantBytes || reportPending);
        fds.assign({{wakePipe[0], POLLIN, 0},
                    {listenFd, POLLIN, 0},
                    {watchClient ? clientFd : -1, short((wantBytes ? POLLIN : 0) | (reportPending ? POLLOUT : 0)), 0}});
        for (const Waiting &w : waiting)
            fds.push_back({w.gone ? -1 : w.fd, 0, 0});
        if (::poll(fds.data(), nfds_t(fds.size()), timeoutMs) < 0) {
            if (errno == EINTR)
                continue;
            trouble(QStringLiteral("the simulator stopped: ") + QString::fromLocal8Bit(std::strerror(errno)));
            if (hooks.failed)
                hooks.failed();
            break;
        }
        if (fds[0].revents != 0)
            break;
        watchWaiting(fds.data() + 3);
        const short client = fds[2].revents;
        if (client & (POLLHUP | POLLERR))
            reportPending = false;  // nobody is left to read it
        if (client & POLLOUT)
            sendReport();
        if (client & POLLNVAL)
            endClient();
        else if (client & (POLLIN | POLLHUP | POLLERR))
            take();  // a client that went away still has its bytes taken at the line's pace
        if (fds[1].revents & POLLIN)
            accept();
    }
    if (clientFd >= 0) {
        module.endOfStream();
        ::close(clientFd);
        clientFd = -1;
    }
    for (const Waiting &w : waiting)
        ::close(w.fd);
    waiting.clear();
}

int Simulator::Engine::pollTimeout(Clock::time_point now, bool &wantBytes)
{
    int timeoutMs = -1;
    const auto until = [&](Clock::time_point then) {
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(then - now).count();
        const int wait = int(std::max<qint64>(ms, 0));
        timeoutMs = timeoutMs < 0 ? wait : std::min(timeoutMs, wait);
    };
    if (rewriteEnds)
        until(*rewriteEnds);
    wantBytes = true;
    if (clientFd >= 0 && !options.fast) {
        refill(now);
        // Out of credit: sleep until the line has carried a few more bytes.
        if (credit < 1) {
            wantBytes = false;
            until(now + std::chrono::microseconds(qint64((kPacedChunk - credit) * 1e6 / kBytesPerSecond)));
        }
    }
    return timeoutMs;
}

// A waiting sender that went away without a byte is forgotten; one that left bytes on the
// line keeps its turn.
void Simulator::Engine::watchWaiting(const pollfd *fds)
{
    std::deque<Waiting> still;
    for (std::size_t i = 0; i < waiting.size(); ++i) {
        Waiting w = waiting[i];
        if (fds[i].revents != 0 && !w.gone) {
            int bytes = 0;
            if (::ioctl(w.fd, FIONREAD, &bytes) != 0 || bytes <= 0) {
                ::close(w.fd);
                continue;
            }
            w.gone = true;
        }
        still.push_back(w);
    }
    waiting.swap(still);
}

void Simulator::Engine::accept()
{
    const int fd = ::accept(listenFd, nullptr, nullptr);
    if (fd < 0)
        return;
    setNonBlocking(fd);
    if (clientFd < 0) {
        serve(fd);
    } else if (waiting.size() < kMaxWaiting) {
        // Told at once that the module is not ready for it, as one busy elsewhere would be.
        // A socket just taken has room for a byte; one whose sender has gone is let go when
        // its turn comes, so a send that fails needs nothing here.
        const char dropped = kCtsDropped;
        (void)::send(fd, &dropped, 1, kNoSignal);
        waiting.push_back({fd, false});
    } else {
        // No room in the line of senders: closed before any report, which the sender's port
        // takes as the module being busy.
        ::close(fd);
    }
}

void Simulator::Engine::serve(int fd)
{
    clientFd = fd;
    credit = 0;
    credited = Clock::now();
    lineIdle = true;
    sendReport();
}

void Simulator::Engine::take()
{
    if (!options.fast && lineIdle) {
        // Nothing was on the line meanwhile: its next bytes come at its pace from now on, not
        // in a burst for the time it stood idle.
        credited = Clock::now();
        credit = std::min(credit, 1.0);
        lineIdle = false;
    }
    const std::size_t budget = options.fast ? buffer.size() : std::min(buffer.size(), std::size_t(credit));
    const ssize_t n = ::recv(clientFd, buffer.data(), budget, MSG_PEEK);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (n <= 0) {
        endClient();
        return;
    }
    module.feed(buffer.data(), n);
    // Taken off the line only now: a sender that waits until its bytes are out finds them
    // acted on (the snapshot written, the line printed).
    if (::recv(clientFd, buffer.data(), std::size_t(n), 0) != n) {
        endClient();
        return;
    }
    if (!options.fast) {
        credit -= double(n);
        lineIdle = std::size_t(n) < budget;
    }
}

void Simulator::Engine::endClient()
{
    module.endOfStream();
    ::close(clientFd);
    clientFd = -1;
    reportPending = false;
    if (!waiting.empty()) {
        const int next = waiting.front().fd;
        waiting.pop_front();
        serve(next);
    }
}

void Simulator::Engine::sendReport()
{
    const char state = cts ? kCtsAsserted : kCtsDropped;
    const ssize_t n = ::send(clientFd, &state, 1, kNoSignal);
    // A client that reads nothing fills its socket: it is told the state once there is room.
    reportPending = n != 1 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
}

void Simulator::Engine::setCts(bool asserted)
{
    if (cts == asserted)
        return;
    cts = asserted;
    if (clientFd >= 0)
        sendReport();
}

void Simulator::Engine::onEvent(const DisplayModule::Event &event)
{
    using Kind = DisplayModule::Kind;
    QString failed;
    if (event.kind == Kind::Display && !options.snapshotFile.isEmpty())
        failed = replaceFile(options.snapshotFile, snapshotPng(module.screen()));
    if (event.kind == Kind::WritePage && !options.flashFile.isEmpty())
        failed = replaceFile(options.flashFile, module.flashBytes());
    if (!failed.isEmpty())
        trouble(failed);
    if (hooks.line)
        hooks.line(DisplayModule::describe(event));
    if (event.kind == Kind::Display) {
        if (hooks.shown)
            hooks.shown(module.screen());
        // Taking DP starts the rewrite: CTS drops now and rises when the rewrite time has
        // passed. A DP during a rewrite starts it again.
        setCts(false);
        rewriteEnds = Clock::now() + (options.fast ? std::chrono::milliseconds(kFastRewriteMs)
                                                   : std::chrono::milliseconds(1000 * module.rewriteSeconds()));
    }
}

}  // namespace pw

#endif
