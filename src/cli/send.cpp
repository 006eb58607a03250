#include "cli/send.h"

#include <QThread>
#include <cstdio>

namespace pw::cli {

volatile std::sig_atomic_t CliWaiter::interruptRequested = 0;

namespace {

extern "C" void onInterrupt(int) { CliWaiter::interruptRequested = 1; }

void toStderr(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// The transfer's status texts as the command line's phases.
class ReporterUi final : public TransferUi {
public:
    explicit ReporterUi(Reporter &reporter) : reporter_(reporter) {}
    bool failed = false;
    bool flashWritten = false;

    void setStatus(const QString &text, bool) override
    {
        if (text == LinkText::rewriting)
            reporter_.phase(QStringLiteral("waiting for the device"));
        else if (text == LinkText::sending)
            reporter_.phase(QStringLiteral("sending"));
        else if (text == LinkText::processing)
            reporter_.phase(QStringLiteral("device busy"));
    }
    void setHourglass(bool) override {}
    void showProgress() override { reporter_.progress(0, kBands); }
    void setProgress(int band) override { reporter_.progress(band + 1, kBands); }
    void hideProgress() override { reporter_.endProgress(); }
    void message(const QString &, const QString &text) override
    {
        if (text == LinkText::flashNotice)
            flashWritten = true;
        else
            failed = true;
    }

private:
    Reporter &reporter_;
};

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

void CliWaiter::catchInterrupts()
{
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

bool CliWaiter::pause()
{
    if (interruptRequested) {
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

int sendImageJob(const ImageTransfer &job, const MonoImage &image, SerialPort &port, CliWaiter &waiter,
                 Reporter &reporter, QString &error)
{
    std::array<std::uint8_t, 128> txBuf{};
    ReporterUi ui(reporter);
    const TransferEnd end = sendImage(job, image, txBuf, port, waiter, ui);
    switch (end) {
    case TransferEnd::Done:
        reporter.phase(job.target == ImageTarget::Vram
                           ? QStringLiteral("done: the screen was rewritten")
                           : QStringLiteral("done: written to FLASH page %1 (the TF and DP commands show it)").arg(job.argument));
        return 0;
    case TransferEnd::Failed:
        error = QStringLiteral("the port could not be opened or failed");
        return 4;
    case TransferEnd::Cancelled:
        break;
    }
    return stopped(waiter, error);
}

int sendCommandJob(const QByteArray &bytes, const QString &portText, SerialPort &port, CliWaiter &waiter,
                   Reporter &reporter, QString &error)
{
    error = QStringLiteral("the port could not be opened or failed");
    if (!openPortSequence(port, portText))
        return 4;
    reporter.phase(QStringLiteral("sending"));
    const Waiter::End end = sendCommandBytes(port, waiter, bytes, [&](qint64 sent) { reporter.progress(sent, bytes.size()); });
    reporter.endProgress();
    // The bytes are out (closing would drop what is still queued) or the send has ended.
    switch (end) {
    case Waiter::End::Reached:
        port.close();
        reporter.phase(QStringLiteral("done: %1 bytes sent").arg(bytes.size()));
        error.clear();
        return 0;
    case Waiter::End::Failed:
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
