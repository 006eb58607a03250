#include "cli/send.h"

#include "cli/commands.h"

#include <QFileDevice>
#include <QThread>
#include <cstdio>

namespace pw::cli {

namespace {

void toStderr(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

int stopped(const CliWaiter &waiter, QString &error)
{
    if (waiter.interrupted()) {
        error = QStringLiteral("interrupted; the port was closed");
        return 130;
    }
    error = QStringLiteral("the device did not answer within %1 s").arg(waiter.timeoutMs() / 1000.0);
    return 5;
}

}  // namespace

bool CliWaiter::keepUp()
{
    if (cli::interrupted())
        interrupted_ = true;
    return !interrupted_;
}

bool CliWaiter::pause()
{
    if (cli::interrupted()) {
        interrupted_ = true;
        return false;
    }
    if (timeoutMs_ > 0 && clock_.isValid() && clock_.elapsed() >= timeoutMs_) {
        timedOut_ = true;
        return false;
    }
    QThread::msleep(5);
    return true;
}

void Reporter::phase(TransferPhase phase)
{
    switch (phase) {
    case TransferPhase::WaitingForReady:
    case TransferPhase::Rewriting:
        this->phase(QStringLiteral("waiting for the device"));
        break;
    case TransferPhase::Sending:
        this->phase(QStringLiteral("sending"));
        progress(0, kBands);
        break;
    case TransferPhase::DeviceBusy:
        this->phase(QStringLiteral("device busy"));
        break;
    case TransferPhase::PortOpened:
    case TransferPhase::Sent:
    case TransferPhase::Done:
        break;
    }
}

void Reporter::phase(const QString &text)
{
    if (quiet_ || text == lastPhase_)
        return;
    lastPhase_ = text;
    endProgress();
    toStderr(text + QLatin1Char('\n'));
}

void Reporter::progress(qint64 done, qint64 total)
{
    if (!terminal_ || total <= 0)
        return;
    constexpr int width = 32;
    const int filled = int(width * done / total);
    toStderr(QStringLiteral("\r[%1%2] %3/%4").arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('-'))).arg(done).arg(total));
    barShown_ = true;
}

void Reporter::endProgress()
{
    if (barShown_)
        toStderr(QStringLiteral("\n"));
    barShown_ = false;
}

int sendImageJob(const ImageStream &stream, const QString &portText, SerialPort &port, CliWaiter &waiter,
                 Reporter &reporter, const QString &done, QString &error)
{
    const TransferEnd end = sendImage(port, waiter, portText, stream, reporter);
    reporter.endProgress();
    switch (end) {
    case TransferEnd::Done:
        reporter.phase(done);
        return 0;
    case TransferEnd::Failed:
        error = port.failureReason().isEmpty() ? QStringLiteral("the port could not be opened or failed") : port.failureReason();
        return 4;
    case TransferEnd::Cancelled:
        break;
    }
    return stopped(waiter, error);
}

int sendCommandJob(QIODevice &source, qint64 total, const QString &portText, SerialPort &port, CliWaiter &waiter,
                   Reporter &reporter, QString &error)
{
    error = QStringLiteral("the port could not be opened or failed");
    if (!openPortSequence(port, portText)) {
        if (!port.failureReason().isEmpty())
            error = port.failureReason();
        return 4;
    }
    reporter.phase(QStringLiteral("sending"));
    qint64 sentSoFar = 0;
    const Waiter::End end = sendCommandBytes(port, waiter, source, [&](qint64 sent) {
        sentSoFar = sent;
        reporter.progress(sent, total);
    });
    reporter.endProgress();
    // The bytes are out (closing would drop what is still queued) or the send has ended.
    switch (end) {
    case Waiter::End::Reached:
        port.close();
        reporter.phase(QStringLiteral("done: %1 bytes sent").arg(sentSoFar));
        error.clear();
        return 0;
    case Waiter::End::Failed:
        if (const auto *file = qobject_cast<QFileDevice *>(&source); file && file->error() != QFileDevice::NoError) {
            port.close();
            error = QStringLiteral("the command file could not be read on (%1)").arg(file->errorString());
            return 2;
        }
        return 4;
    case Waiter::End::TimedOut:
        port.close();
        error = QStringLiteral("the bytes did not leave the port in time");
        return 4;
    case Waiter::End::Cancelled:
        break;
    }
    port.close();
    return stopped(waiter, error);
}

}  // namespace pw::cli
