#pragma once

#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace pw {

namespace detail {

// The shared state of a run on several threads: the inputs started and not yet consumed, and
// what the workers and the consuming thread wait on.
template <typename Item>
class StreamedRun {
public:
    using Produce = std::function<void(int, const std::function<bool(Item &&)> &)>;
    using Consume = std::function<bool(int, Item &)>;

    StreamedRun(int count, int workers, std::size_t held, const Produce &produce)
        : count_(count), window_(4 * workers), held_(held), produce_(produce)
    {
    }

    // A worker: takes the next input while it is within the window, until there are none.
    void work()
    {
        for (;;) {
            int i = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || next_ >= count_ || next_ < current_ + window_; });
                if (stop_ || next_ >= count_)
                    return;
                i = next_++;
                streams_[i];
            }
            produce_(i, [&, i](Item &&item) { return hand(i, std::move(item)); });
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                streams_[i].finished = true;
            }
            changed_.notify_all();
        }
    }

    // On the calling thread: every item in order, until the last input or a false from consume.
    void consumeInOrder(const Consume &consume)
    {
        while (current_ < count_) {
            Item item;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return streams_.count(current_) && (streams_[current_].finished || !streams_[current_].items.empty()); });
                Stream &stream = streams_[current_];
                if (stream.items.empty()) {
                    streams_.erase(current_++);
                    changed_.notify_all();
                    continue;
                }
                item = std::move(stream.items.front());
                stream.items.pop_front();
            }
            changed_.notify_all();
            if (!consume(current_, item)) {
                const std::lock_guard<std::mutex> lock(mutex_);
                stop_ = true;
                break;
            }
        }
        changed_.notify_all();
    }

private:
    struct Stream {
        std::deque<Item> items;
        bool finished = false;
    };

    bool hand(int i, Item &&item)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || streams_[i].items.size() < held_; });
        if (stop_)
            return false;
        streams_[i].items.push_back(std::move(item));
        changed_.notify_all();
        return true;
    }

    const int count_;
    const int window_;
    const std::size_t held_;
    const Produce &produce_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<int, Stream> streams_;  // of the inputs started and not yet consumed
    int next_ = 0;                   // the next input to start
    int current_ = 0;                // the input being consumed
    bool stop_ = false;
};

}  // namespace detail

// Runs `produce(i, hand)` for every i in [0, count) on up to `workers` threads. Each item a
// producer hands over goes to `consume(i, item)` on the calling thread as soon as every item of
// the inputs before i has been: in the order of i and, within an input, in the order handed over,
// whatever order the threads finish in, so the outcome is that of a run on one thread. A
// producer ahead of its turn holds at most `held` items, then waits in `hand`, so memory stays
// bounded however many items an input makes; at most a few inputs per worker run ahead.
// `consume` returns false to stop: every `hand` then returns false, no further input starts,
// and what runs is finished and dropped.
template <typename Item>
void runStreamed(int count, int workers, std::size_t held,
                 const std::function<void(int, const std::function<bool(Item &&)> &)> &produce,
                 const std::function<bool(int, Item &)> &consume)
{
    workers = std::clamp(workers, 1, std::max(1, count));
    if (workers == 1) {
        bool goOn = true;
        for (int i = 0; i < count && goOn; ++i)
            produce(i, [&](Item &&item) { return goOn && (goOn = consume(i, item)); });
        return;
    }
    detail::StreamedRun<Item> run(count, workers, held, produce);
    std::vector<std::thread> threads;
    for (int k = 0; k < workers; ++k)
        threads.emplace_back([&run] { run.work(); });
    run.consumeInOrder(consume);
    for (std::thread &thread : threads)
        thread.join();
}

// Workers for a batch: every core, at most eight; PIXELWRIGHT_JOBS sets another number.
inline int batchWorkers()
{
    const int asked = qEnvironmentVariableIntValue("PIXELWRIGHT_JOBS");
    return std::clamp(asked > 0 ? asked : QThread::idealThreadCount(), 1, 8);
}

}  // namespace pw
