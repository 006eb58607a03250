#pragma once

#include <QString>
#include <QtGlobal>

#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace pw {

// What sits at a path where a simulated display module may listen.
enum class SocketPresence {
    None,   // nothing at all
    Live,   // a Unix socket that something listens on
    Stale,  // a Unix socket nobody listens on any more (left behind)
    Other,  // anything else: a file, a folder, a device, a link
};
// Looks at the path itself (a link is Other); a socket is probed with a connection that
// closes again at once.
SocketPresence socketPresence(const QString &path);

// True when the path, after following links, is a Unix socket (false on Windows).
bool isSocketFile(const QString &path);

// The serial line to a simulated display module over a Unix socket. The bytes written are
// the bytes on the line toward the device. The module sends nothing but CTS reports, one
// byte each: '1' asserted, '0' dropped; the first tells the state when the connection is
// taken, each further one a change.
//
// Reports are kept in order and read back one per readCts(), so a CTS pulse is never lost
// however short it is or however late the line is read. The socket's send buffer is kept as
// small as the system allows: the module takes bytes at the line's pace, and a sender feels
// that as a serial driver with a small queue.
class SocketLine {
public:
    SocketLine() = default;
    ~SocketLine();
    SocketLine(const SocketLine &) = delete;
    SocketLine &operator=(const SocketLine &) = delete;

    // Connects; false when no module listens there (or on Windows), or when it has no room
    // for another waiting sender (then busy()).
    bool open(const QString &path);
    bool busy() const { return busy_; }
    // Hands bytes over without blocking: the number taken, 0 when the socket is full, -1 when
    // the module has gone.
    qint64 send(const char *bytes, qint64 size);
    // The next CTS state in the order reported (not asserted before the first report, as a
    // module still busy elsewhere would be); false once the module has gone.
    bool readCts(bool &asserted);
    // Calls `changed` from a thread of its own when a report arrives or the module goes away.
    bool watch(std::function<void()> changed);
    void stopWatching();
    // Bytes handed over that the module has not taken yet. On Linux this is the socket's
    // queue in the kernel's accounting, which counts each write's bookkeeping as well: more
    // than the bytes themselves, and 0 exactly when the module has taken everything.
    bool queued(qint64 &count) const;

private:
    void takeReports();

    int fd_ = -1;
    std::mutex mutex_;
    std::deque<bool> reports_;
    bool asserted_ = false;
    bool gone_ = false;
    bool busy_ = false;
    int wakePipe_[2] = {-1, -1};
    std::thread watcher_;
};

}  // namespace pw
