#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace pw {

// Watches a line of the port (CTS) on a thread of its own and calls `changed` there when its
// value differs from the last one or can no longer be read. The window's thread then sleeps
// until something happens instead of waking to poll.
//
// Where the driver can block until a modem line changes (`block`), the thread sleeps in it
// and costs nothing; otherwise it reads the line every `periodMs`, which costs a fraction of
// what the window's thread would spend waking for the same polls.
class LineWatcher {
public:
    using Read = std::function<std::optional<bool>()>;
    // Blocks until the line may have changed: 1 when it may have, 0 when interrupted by a
    // signal, -1 when the driver cannot wait so (the watcher then polls).
    using Block = std::function<int()>;

    LineWatcher(Read read, std::function<void()> changed, int periodMs = 8, Block block = {});
    ~LineWatcher();
    LineWatcher(const LineWatcher &) = delete;
    LineWatcher &operator=(const LineWatcher &) = delete;

private:
    void run(std::optional<bool> last);
    bool notify(std::optional<bool> &last);

    Read read_;
    std::function<void()> changed_;
    int periodMs_;
    Block block_;
    std::mutex mutex_;
    std::condition_variable stop_;
    bool stopping_ = false;
    std::atomic<bool> stopFlag_{false};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace pw
