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
    End until(const std::function<std::optional<bool>()> &poll, qint64 boundMs = 0);

    // For work between waits that has no wait of its own: lets the user be heard without
    // pausing; false when they asked to stop.
    virtual bool keepUp() { return true; }

protected:
    // Runs once as each wait starts, before the first poll.
    virtual void begin() {}
    // Runs between two polls; false when the user asked to stop waiting.
    virtual bool pause() = 0;
};

}  // namespace pw
