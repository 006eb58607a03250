#pragma once

// What `simulate` shows on its standard output (and the few lines for standard error). Unix only.

#include "core/image/encoders.h"
#include "core/image/monoimage.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace pw::cli {

// Standard output: the command lines, and on a terminal the screen drawn below them. Every
// byte goes out through a writer thread of its own, so a reader that stops reading holds up
// neither the module nor the signals: up to kMaxQueued lines wait for it, the ones beyond are
// dropped, and the next line that gets through is preceded by their count. The drawing is
// redrawn by the main thread at most twenty times a second, and only while little waits, so
// a flood of lines never costs a drawing each.
class Output {
public:
    static constexpr std::size_t kMaxQueued = 1000;

    explicit Output(bool terminal) : terminal_(terminal), shared_(std::make_shared<Shared>())
    {
        writer_ = std::thread([shared = shared_] { shared->run(); });
    }
    ~Output() { finish(500); }

    void line(const QString &text, int fd = STDOUT_FILENO)
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        if (drawnRows_ > 0) {
            // Back to the drawing's first row, and everything from there on erased.
            push(STDOUT_FILENO, QStringLiteral("\r\x1b[%1A\x1b[J").arg(drawnRows_).toLatin1());
            drawnRows_ = 0;
            dirty_ = true;
        }
        if (shared_->queue.size() >= kMaxQueued) {
            ++dropped_;
            return;
        }
        pushDropped();
        push(fd, text.toUtf8() + '\n');
    }

    void shown(const MonoImage &screen)
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        screen_ = screen;
        dirty_ = true;
    }

    void redrawIfDue()
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        // A reader that has fallen behind gets no drawings to pile up, only the last one later.
        if (!terminal_ || !dirty_ || shared_->queue.size() > 8)
            return;
        QString drawing = drawnRows_ > 0 ? QStringLiteral("\r\x1b[%1A").arg(drawnRows_) : QString();
        const QString rule(kImageWidth, QChar(0x2500));
        drawing += QChar(0x250c) + rule + QChar(0x2510) + QLatin1Char('\n');
        const QStringList rows = halfBlocks(screen_).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString &row : rows)
            drawing += QChar(0x2502) + row + QChar(0x2502) + QLatin1Char('\n');
        drawing += QChar(0x2514) + rule + QChar(0x2518) + QLatin1Char('\n');
        push(STDOUT_FILENO, drawing.toUtf8());
        // A terminal narrower than the drawing wraps each of its lines over several rows.
        const int width = kImageWidth + 2, columns = terminalColumns();
        drawnRows_ = int(rows.size() + 2) * (columns > 0 ? (width + columns - 1) / columns : 1);
        dirty_ = false;
    }

    // The last drawing stays on the terminal as it is.
    void leave()
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        drawnRows_ = 0;
        terminal_ = false;
    }

    // What waits may go out for `ms` more; a writer that a reader still holds up then is left
    // to the end of the process.
    void finish(int ms)
    {
        if (!writer_.joinable())
            return;
        std::unique_lock<std::mutex> lock(shared_->mutex);
        pushDropped();
        shared_->closing = true;
        shared_->changed.notify_all();
        const bool done = shared_->changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return shared_->finished; });
        lock.unlock();
        if (done)
            writer_.join();
        else
            writer_.detach();
    }

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::pair<int, QByteArray>> queue;
        bool closing = false;
        bool finished = false;

        void run()
        {
            std::unique_lock<std::mutex> lock(mutex);
            for (;;) {
                changed.wait(lock, [this] { return !queue.empty() || closing; });
                if (queue.empty())
                    break;
                const auto [fd, bytes] = std::move(queue.front());
                queue.pop_front();
                lock.unlock();
                writeAll(fd, bytes);
                lock.lock();
            }
            finished = true;
            changed.notify_all();
        }
        static void writeAll(int fd, const QByteArray &bytes)
        {
            for (qsizetype done = 0; done < bytes.size();) {
                const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
                if (n > 0) {
                    done += n;
                } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                    pollfd room{fd, POLLOUT, 0};
                    ::poll(&room, 1, -1);
                } else if (!(n < 0 && errno == EINTR)) {
                    return;  // a reader gone for good: the rest has nowhere to go
                }
            }
        }
    };

    // With the mutex held.
    void push(int fd, QByteArray bytes)
    {
        shared_->queue.emplace_back(fd, std::move(bytes));
        shared_->changed.notify_all();
    }
    void pushDropped()
    {
        if (dropped_ > 0)
            push(STDOUT_FILENO, QStringLiteral("\u2026 %1 lines not shown\n").arg(dropped_).toUtf8());
        dropped_ = 0;
    }

    static int terminalColumns()
    {
#if defined(Q_OS_UNIX) && defined(TIOCGWINSZ)
        winsize size {};
        if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0)
            return size.ws_col;
#endif
        return 0;
    }

    bool terminal_;
    std::shared_ptr<Shared> shared_;
    std::thread writer_;
    MonoImage screen_{};
    int drawnRows_ = 0;
    bool dirty_ = true;
    qint64 dropped_ = 0;
};

}  // namespace pw::cli
