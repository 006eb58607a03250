#pragma once

#include "common/fakeport.h"
#include "link/transfer.h"

#include <QByteArray>
#include <QLabel>
#include <QMutex>
#include <QStringList>
#include <atomic>
#include <functional>
#include <thread>

namespace pw::test {

// The display device as the program sees it: CTS only. It may be busy with an earlier
// command when the port opens; after the command line that starts its work (`trigger`) it
// keeps CTS up for a while, drops it while it works, and raises it when done. Time is counted
// in CTS reads since the last write.
struct DeviceModel {
    int busyAtStart = 0;   // reads with CTS low before any byte arrived
    int ackReads = 0;      // reads with CTS still up after the trigger arrived
    int workReads = 0;     // reads with CTS low after that
    QByteArray trigger = QByteArrayLiteral("DP\r\n");

    bool cts(const QByteArray &written, int readsSinceWrite) const;
    std::function<bool(const QByteArray &, int)> asFunction() const;
};

// Records what a transfer shows into the port's operation log, so one list holds the order of
// port operations and screen changes.
class RecordingUi final : public TransferUi {
public:
    explicit RecordingUi(QStringList &log) : log_(log) {}
    void setStatus(const QString &text, bool redraw) override;
    void setHourglass(bool on) override;
    void showProgress() override;
    void setProgress(int band) override;
    void hideProgress() override;
    void message(const QString &title, const QString &text) override;

    QStringList statuses;   // every status text, in order
    QList<QPair<QString, QString>> messages;
    std::function<void()> onMessage;

private:
    QStringList &log_;
};

// Pauses without a window: counts the pauses and cancels at the chosen one. A wait that runs
// past `limit` pauses is cut off so a broken test ends instead of hanging.
class StepWaiter final : public Waiter {
public:
    int pauses = 0;
    int cancelAt = 0;   // 0: never
    int limit = 100000;
    bool cutOff = false;

protected:
    bool pause() override;
};

// Records the texts a label showed on screen (one entry per paint that changed what is shown).
class LabelPaints final : public QObject {
public:
    explicit LabelPaints(QLabel *label);
    QStringList texts;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// A pseudo-terminal whose slave side stands in for the serial device. A thread collects every
// byte that arrives at the master side.
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return master_ >= 0 && slave_ >= 0; }
    QString slavePath() const { return slavePath_; }
    // Waits until at least `count` bytes arrived or `timeoutMs` passed; returns all so far.
    QByteArray waitFor(qsizetype count, int timeoutMs = 10000) const;
    QByteArray received() const;

private:
    void readLoop();

    int master_ = -1;
    int slave_ = -1;   // held open so the line does not hang up between the program's opens
    QString slavePath_;
    mutable QMutex mutex_;
    QByteArray received_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

// Bytes 0..255 repeated, with CR LF pairs inside: what an image or a file may hold.
QByteArray patternBytes(qsizetype count, int seed = 0);

}  // namespace pw::test
