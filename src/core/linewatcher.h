#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace pw {

// Reads a line of the port (CTS) on a thread of its own, every few milliseconds, and calls
// `changed` there when the value differs from the last one or can no longer be read. The
// window's thread then sleeps until something happens instead of waking to poll; a thread
// that only reads the line costs a fraction of that.
class LineWatcher {
public:
    using Read = std::function<std::optional<bool>()>;

    LineWatcher(Read read, std::function<void()> changed, int periodMs = 8);
    ~LineWatcher();
    LineWatcher(const LineWatcher &) = delete;
    LineWatcher &operator=(const LineWatcher &) = delete;

private:
    void run(std::optional<bool> last);

    Read read_;
    std::function<void()> changed_;
    int periodMs_;
    std::mutex mutex_;
    std::condition_variable stop_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace pw
