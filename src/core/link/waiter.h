#pragma once

#include <QtGlobal>
#include <functional>
#include <optional>

namespace pw {

// Every wait of the device link goes through one of these: it polls a condition, pauses
// briefly between polls and stops when the user asks it to, when the condition cannot be
// read, or when a bound runs out. The pause decides what the user sees meanwhile.
class Waiter {
public:
    enum class End { Reached, Failed, Cancelled, TimedOut };

    virtual ~Waiter() = default;

    // `poll` answers true when the condition holds, false when it does not yet, and nullopt
    // when it cannot be read. A bound of 0 or less waits without limit.
    // `woken`: wake() comes whenever the condition may have changed, so the pauses between
    // polls may be long.
    End until(const std::function<std::optional<bool>()> &poll, qint64 boundMs = 0, bool woken = false);

    // Ends the current pause at once (or the next one, when none runs): what the wait polls
    // may have changed. Safe from any thread.
    virtual void wake() {}

    // For work between waits that has no wait of its own: lets the user be heard without
    // pausing; false when they asked to stop.
    virtual bool keepUp() { return true; }

protected:
    // The wait that runs is told of changes through wake().
    bool woken() const { return woken_; }
    // Runs once as each wait starts, before the first poll.
    virtual void begin() {}
    // Runs between two polls; false when the user asked to stop waiting.
    virtual bool pause() = 0;

private:
    End run(const std::function<std::optional<bool>()> &poll, qint64 boundMs);

    bool woken_ = false;
};

}  // namespace pw
