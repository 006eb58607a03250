#pragma once

#include "core/link/waiter.h"

#include <QObject>
#include <atomic>

namespace pw {

// The wait of the windows: between two polls it sleeps in the event loop for a few
// milliseconds, so a long wait neither freezes the screen nor burns a core.
//
// A Blocking gate holds back the user for as long as it lives: every mouse, key, wheel,
// touch, drag or close input to any window of the program is dropped, except Esc, which ends
// the current wait as cancelled. A Passing gate lets everything through (the console's short
// wait for its typed line); Esc still ends its wait.
class WaitGate final : public QObject, public Waiter {
    Q_OBJECT
public:
    enum class Input { Blocked, Passed };

    explicit WaitGate(Input input = Input::Blocked);
    ~WaitGate() override;
    WaitGate(const WaitGate &) = delete;
    WaitGate &operator=(const WaitGate &) = delete;

    // Lets the user answer a modal box while the gate lives: input that queued up behind the
    // gate is dropped first, then input passes until the opening ends.
    class Opening {
    public:
        explicit Opening(WaitGate &gate);
        ~Opening();
        Opening(const Opening &) = delete;
        Opening &operator=(const Opening &) = delete;

    private:
        WaitGate &gate_;
        bool wasEngaged_;
    };

    // For long work without a wait of its own: lets the windows paint and run their timers;
    // false when Esc asked to stop.
    bool keepUp() override;

    void wake() override;

    // Esc was pressed and no wait has consumed it yet.
    bool cancelRequested() const { return cancel_; }

protected:
    bool pause() override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void engage();
    void release();

    const bool blocks_;
    bool engaged_ = false;
    bool cancel_ = false;
    std::atomic<bool> kicked_{false};
};

}  // namespace pw
