#include "core/link/waiter.h"

#include <QElapsedTimer>

namespace pw {

Waiter::End Waiter::until(const std::function<std::optional<bool>()> &poll, qint64 boundMs, bool woken)
{
    woken_ = woken;
    const End end = run(poll, boundMs);
    woken_ = false;
    return end;
}

Waiter::End Waiter::run(const std::function<std::optional<bool>()> &poll, qint64 boundMs)
{
    begin();
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const std::optional<bool> reached = poll();
        if (!reached)
            return End::Failed;
        if (*reached)
            return End::Reached;
        if (boundMs > 0 && clock.elapsed() >= boundMs)
            return End::TimedOut;
        if (!pause())
            return End::Cancelled;
    }
}

}  // namespace pw
