#include "core/link/linewatcher.h"

#include <QtGlobal>

#include <chrono>

#ifdef Q_OS_UNIX
#include <csignal>
#include <pthread.h>
#endif

namespace pw {

namespace {

#ifdef Q_OS_UNIX
// The signal that ends a blocking wait of the watcher: its handler does nothing, and it is
// installed without SA_RESTART, so the wait returns EINTR.
int interruptSignal()
{
    static const int signal = [] {
        const int number = SIGRTMIN + 3;
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        ::sigaction(number, &action, nullptr);
        return number;
    }();
    return signal;
}
#endif

}  // namespace

LineWatcher::LineWatcher(Read read, std::function<void()> changed, int periodMs, Block block)
    : read_(std::move(read)), changed_(std::move(changed)), periodMs_(periodMs), block_(std::move(block))
{
#ifdef Q_OS_UNIX
    if (block_)
        interruptSignal();
#else
    block_ = nullptr;
#endif
    // The first value is read here, so a change that comes before the thread runs counts.
    thread_ = std::thread(&LineWatcher::run, this, read_());
}

LineWatcher::~LineWatcher()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    stopFlag_ = true;
    stop_.notify_all();
#ifdef Q_OS_UNIX
    // A signal that comes just before the thread enters its wait is lost: send it until the
    // thread has gone.
    while (block_ && !done_) {
        ::pthread_kill(thread_.native_handle(), interruptSignal());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
#endif
    thread_.join();
}

// Tells of a change; false when the line can no longer be read, which stays so: the waiting
// side finds out on its next poll.
bool LineWatcher::notify(std::optional<bool> &last)
{
    const std::optional<bool> now = read_();
    if (now != last) {
        last = now;
        changed_();
    }
    return now.has_value();
}

void LineWatcher::run(std::optional<bool> last)
{
    if (last && block_) {
        for (;;) {
            const int woke = block_();
            if (stopFlag_ || woke < 0)
                break;
            if (woke > 0 && !notify(last)) {
                done_ = true;
                return;
            }
        }
    }
    if (last && !stopFlag_) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_.wait_for(lock, std::chrono::milliseconds(periodMs_), [this] { return stopping_; }))
            if (!notify(last))
                break;
    }
    done_ = true;
}

}  // namespace pw
