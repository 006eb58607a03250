#pragma once

#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace pw {

// Runs `work(i)` for every i in [0, count) on up to `workers` threads and hands each result to
// `deliver(i, result)` on the calling thread, in the order of i whatever order they finish in,
// so the outcome is that of a run on one thread. At most a few results per worker wait for
// their turn. `deliver` returns false to stop: no further work starts, and what runs is
// finished and dropped.
template <typename Result>
void runInOrder(int count, int workers, const std::function<Result(int)> &work,
                const std::function<bool(int, Result &)> &deliver)
{
    workers = std::clamp(workers, 1, std::max(1, count));
    if (workers == 1) {
        for (int i = 0; i < count; ++i) {
            Result result = work(i);
            if (!deliver(i, result))
                return;
        }
        return;
    }
    const int window = 4 * workers;
    std::mutex mutex;
    std::condition_variable changed;
    std::map<int, Result> done;
    int next = 0;       // the next index to start
    int delivered = 0;  // results handed over so far
    bool stop = false;
    auto run = [&] {
        for (;;) {
            int i = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || next >= count || next < delivered + window; });
                if (stop || next >= count)
                    return;
                i = next++;
            }
            Result result = work(i);
            {
                const std::lock_guard<std::mutex> lock(mutex);
                done.emplace(i, std::move(result));
            }
            changed.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (int k = 0; k < workers; ++k)
        threads.emplace_back(run);
    for (int i = 0; i < count; ++i) {
        Result result;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return done.count(i) != 0; });
            result = std::move(done.at(i));
            done.erase(i);
        }
        const bool goOn = deliver(i, result);
        {
            const std::lock_guard<std::mutex> lock(mutex);
            delivered = i + 1;
            stop = !goOn;
        }
        changed.notify_all();
        if (!goOn)
            break;
    }
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
