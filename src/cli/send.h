#pragma once

#include "core/image/monoimage.h"
#include "core/link/serialport.h"
#include "core/link/transfer.h"
#include "core/link/waiter.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QIODevice>
#include <QList>
#include <QString>

namespace pw::cli {

// The command line's waits: each bounded by --timeout (0 = none) from its start, stopped by
// Ctrl-C; pauses sleep 5 ms between polls.
class CliWaiter : public Waiter {
public:
    explicit CliWaiter(qint64 timeoutMs) : timeoutMs_(timeoutMs) {}
    bool timedOut() const { return timedOut_; }
    bool interrupted() const { return interrupted_; }
    qint64 timeoutMs() const { return timeoutMs_; }
    // Between waits: Ctrl-C is heard without pausing.
    bool keepUp() override;

protected:
    void begin() override { clock_.start(); }
    bool pause() override;

private:
    qint64 timeoutMs_;
    QElapsedTimer clock_;
    bool timedOut_ = false;
    bool interrupted_ = false;
};

// What a send reports: the phases on stderr, a progress bar when stderr is a terminal.
class Reporter final : public TransferListener {
public:
    // `terminal`: draw a progress bar; `quiet`: say nothing.
    explicit Reporter(bool terminal, bool quiet = false) : terminal_(terminal), quiet_(quiet) {}
    void phase(TransferPhase phase) override;
    void bandSent(int band) override { progress(band + 1, kBands); }
    void phase(const QString &text);
    void progress(qint64 done, qint64 total);
    void endProgress();

private:
    bool terminal_;
    bool quiet_;
    bool barShown_ = false;
    QString lastPhase_;
};

// One image stream into VRAM or a FLASH page through the core's transfer (the window's bytes
// and waits); `done` is said when it has ended well. Returns the exit code; `error` is the
// reason for a non-zero one.
int sendImageJob(const ImageStream &stream, const QString &portText, SerialPort &port, CliWaiter &waiter,
                 Reporter &reporter, const QString &done, QString &error);

// A command line (CR LF added) or a command file's bytes, read from `source` a piece at a
// time as the line takes them (`total` bytes, or -1 when unknown): written, then waited for
// until they are out on the line.
int sendCommandJob(QIODevice &source, qint64 total, const QString &portText, SerialPort &port, CliWaiter &waiter,
                   Reporter &reporter, QString &error);

}  // namespace pw::cli
