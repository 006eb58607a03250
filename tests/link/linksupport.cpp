#include "linksupport.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace pw::test {

bool DeviceModel::cts(const QByteArray &written, int readsSinceWrite) const
{
    if (written.isEmpty())
        return readsSinceWrite >= busyAtStart;
    if (!trigger.isEmpty() && written.endsWith(trigger))
        return readsSinceWrite < ackReads || readsSinceWrite >= ackReads + workReads;
    return true;
}

std::function<bool(const QByteArray &, int)> DeviceModel::asFunction() const
{
    const DeviceModel model = *this;
    return [model](const QByteArray &written, int reads) { return model.cts(written, reads); };
}

void RecordingUi::setStatus(const QString &text, bool redraw)
{
    statuses << text;
    log_ << QStringLiteral("status %1%2").arg(text, redraw ? QStringLiteral(" (drawn)") : QString());
}

void RecordingUi::setHourglass(bool on) { log_ << (on ? QStringLiteral("hourglass") : QStringLiteral("pointer")); }

void RecordingUi::showProgress() { log_ << QStringLiteral("progress shown"); }

void RecordingUi::setProgress(int band) { log_ << QStringLiteral("progress %1").arg(band); }

void RecordingUi::hideProgress() { log_ << QStringLiteral("progress hidden"); }

void RecordingUi::message(const QString &title, const QString &text)
{
    messages.append({title, text});
    log_ << QStringLiteral("message");
    if (onMessage)
        onMessage();
}

bool StepWaiter::pause()
{
    ++pauses;
    if (pauses >= limit) {
        cutOff = true;
        return false;
    }
    return pauses != cancelAt;
}

LabelPaints::LabelPaints(QLabel *label) : QObject(label) { label->installEventFilter(this); }

bool LabelPaints::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Paint) {
        const QString text = static_cast<QLabel *>(watched)->text();
        if (texts.isEmpty() || texts.last() != text)
            texts << text;
    }
    return false;
}

PseudoTerminal::PseudoTerminal()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0)
        return;
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        ::close(master_);
        master_ = -1;
        return;
    }
    const char *name = ::ptsname(master_);
    if (!name)
        return;
    slavePath_ = QString::fromLocal8Bit(name);
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0)
        return;
    termios tio{};
    if (::tcgetattr(slave_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(slave_, TCSANOW, &tio);
    }
    reader_ = std::thread([this] { readLoop(); });
}

PseudoTerminal::~PseudoTerminal()
{
    stop_ = true;
    if (reader_.joinable())
        reader_.join();
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

void PseudoTerminal::readLoop()
{
    char buffer[4096];
    while (!stop_) {
        pollfd pfd{master_, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, 20);
        if (ready <= 0 || !(pfd.revents & POLLIN))
            continue;
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            QMutexLocker lock(&mutex_);
            received_.append(buffer, qsizetype(n));
        }
    }
}

QByteArray PseudoTerminal::waitFor(qsizetype count, int timeoutMs) const
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        {
            QMutexLocker lock(&mutex_);
            if (received_.size() >= count)
                return received_;
        }
        QThread::msleep(5);
    }
    return received();
}

QByteArray PseudoTerminal::received() const
{
    QMutexLocker lock(&mutex_);
    return received_;
}

QByteArray patternBytes(qsizetype count, int seed)
{
    QByteArray bytes(count, '\0');
    for (qsizetype i = 0; i < count; ++i)
        bytes[i] = char((i * 7 + seed) & 0xFF);
    // A CR LF pair inside the data goes out unchanged, like any other bytes.
    if (count >= 4) {
        bytes[count / 2] = '\r';
        bytes[count / 2 + 1] = '\n';
    }
    return bytes;
}

}  // namespace pw::test
