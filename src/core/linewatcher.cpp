#include "core/linewatcher.h"

#include <chrono>

namespace pw {

LineWatcher::LineWatcher(Read read, std::function<void()> changed, int periodMs)
    : read_(std::move(read)), changed_(std::move(changed)), periodMs_(periodMs)
{
    // The first value is read here, so a change that comes before the thread runs counts.
    thread_ = std::thread(&LineWatcher::run, this, read_());
}

LineWatcher::~LineWatcher()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    stop_.notify_all();
    thread_.join();
}

void LineWatcher::run(std::optional<bool> last)
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_.wait_for(lock, std::chrono::milliseconds(periodMs_), [this] { return stopping_; })) {
        const std::optional<bool> now = read_();
        if (now == last)
            continue;
        last = now;
        changed_();
        // A line that cannot be read stays so: the waiting side finds out on its next poll.
        if (!now)
            return;
    }
}

}  // namespace pw
