#include "gui/waitgate.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QTimer>

namespace pw {

namespace {

// The device's CTS is read again after at most this long...
constexpr int kPauseMs = 8;
// ...or, where the port says when it changes, after this long at the latest.
constexpr int kWokenPauseMs = 100;

const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::NativeGesture:
    case QEvent::Gesture:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::Close:
        return true;
    default:
        return false;
    }
}

}  // namespace

WaitGate::WaitGate(Input input) : blocks_(input == Input::Blocked) { engage(); }

WaitGate::~WaitGate() { release(); }

void WaitGate::engage()
{
    if (engaged_ || !QCoreApplication::instance())
        return;
    QCoreApplication::instance()->installEventFilter(this);
    engaged_ = true;
}

void WaitGate::release()
{
    if (!engaged_)
        return;
    QCoreApplication::instance()->removeEventFilter(this);
    engaged_ = false;
}

bool WaitGate::keepUp()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    const bool cancelled = cancel_;
    cancel_ = false;
    return !cancelled;
}

bool WaitGate::pause()
{
    // The pause is spent inside the event loop: paints, timers, accessibility queries and Esc
    // are handled the moment they arrive, and in between the thread sleeps in the system.
    bool woken = false;
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    QObject::connect(&wake, &QTimer::timeout, [&woken] { woken = true; });
    wake.start(Waiter::woken() ? kWokenPauseMs : kPauseMs);
    while (!woken && !cancel_ && !kicked_.exchange(false))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const bool cancelled = cancel_;
    cancel_ = false;
    return !cancelled;
}

void WaitGate::wake()
{
    // Posting is the one thing another thread may do to this object; the event itself only
    // wakes the event loop that the pause sleeps in.
    kicked_ = true;
    QCoreApplication::postEvent(this, new QEvent(kWakeEvent));
}

bool WaitGate::event(QEvent *event)
{
    if (event->type() == kWakeEvent)
        return true;
    return QObject::event(event);
}

bool WaitGate::eventFilter(QObject *watched, QEvent *event)
{
    if (!isUserInput(event->type()))
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
        cancel_ = true;
    if (!blocks_)
        return QObject::eventFilter(watched, event);
    // A close event starts accepted: the window would close even though the event was eaten.
    event->ignore();
    return true;
}

WaitGate::Opening::Opening(WaitGate &gate) : gate_(gate), wasEngaged_(gate.engaged_)
{
    if (!wasEngaged_)
        return;
    // Clicks and keys typed while the program was busy must not answer the box.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    gate_.release();
}

WaitGate::Opening::~Opening()
{
    if (wasEngaged_)
        gate_.engage();
}

}  // namespace pw
