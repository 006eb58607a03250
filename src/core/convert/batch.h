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
    struct Stream {
        std::deque<Item> items;
        bool finished = false;
    };
    const int window = 4 * workers;
    std::mutex mutex;
    std::condition_variable changed;
    std::map<int, Stream> streams;  // of the inputs started and not yet consumed
    int next = 0;     // the next input to start
    int current = 0;  // the input being consumed
    bool stop = false;
    auto run = [&] {
        for (;;) {
            int i = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || next >= count || next < current + window; });
                if (stop || next >= count)
                    return;
                i = next++;
                streams[i];
            }
            produce(i, [&, i](Item &&item) {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || streams[i].items.size() < held; });
                if (stop)
                    return false;
                streams[i].items.push_back(std::move(item));
                changed.notify_all();
                return true;
            });
            {
                const std::lock_guard<std::mutex> lock(mutex);
                streams[i].finished = true;
            }
            changed.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (int k = 0; k < workers; ++k)
        threads.emplace_back(run);
    while (current < count) {
        Item item;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return streams.count(current) && (streams[current].finished || !streams[current].items.empty()); });
            Stream &stream = streams[current];
            if (stream.items.empty()) {
                streams.erase(current++);
                changed.notify_all();
                continue;
            }
            item = std::move(stream.items.front());
            stream.items.pop_front();
        }
        changed.notify_all();
        if (!consume(current, item)) {
            const std::lock_guard<std::mutex> lock(mutex);
            stop = true;
            break;
        }
    }
    changed.notify_all();
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
