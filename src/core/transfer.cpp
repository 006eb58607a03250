#include "core/transfer.h"

namespace pw {

namespace {

constexpr qint64 kBaud = 9600;
constexpr qint64 kBitsPerByte = 10;  // start, eight data bits, stop
constexpr qint64 kDriverMarginMs = 1000;

class ImageSender {
public:
    ImageSender(const ImageTransfer &job, const MonoImage &image, std::array<std::uint8_t, 128> &txBuf,
                SerialPort &port, Waiter &waiter, TransferUi &ui)
        : job_(job), image_(image), txBuf_(txBuf), port_(port), waiter_(waiter), ui_(ui)
    {
    }

    TransferEnd run()
    {
        const bool vram = job_.target == ImageTarget::Vram;
        if (!openPortSequence(port_, job_.portText))
            return fail();
        ui_.setStatus(QString(), true);

        // The device may still be busy with an earlier command.
        if (const auto end = waitCts(true, LinkText::rewriting))
            return *end;
        ui_.setStatus(LinkText::sending, true);
        ui_.setHourglass(true);
        hourglass_ = true;
        ui_.showProgress();

        const QByteArray first = vram ? QByteArrayLiteral("DT") : QByteArrayLiteral("FS");
        if (const auto end = write(commandLine(first + job_.argument.toLocal8Bit()), true))
            return *end;
        if (const auto end = write(vram ? QByteArrayLiteral("TI") : QByteArrayLiteral("TS"), true))
            return *end;
        // The running index goes on across the bands.
        int index = 0;
        for (int band = 0; band < kBands; ++band) {
            for (int column = 0; column < kImageWidth; ++column)
                txBuf_[column] = image_[index++];
            const QByteArray bytes(reinterpret_cast<const char *>(txBuf_.data()), int(txBuf_.size()));
            if (const auto end = write(bytes, false))
                return *end;
            ui_.setProgress(band);
        }
        if (const auto end = write(crlf, true))
            return *end;

        if (vram) {
            if (const auto end = write(commandLine(QByteArrayLiteral("DP")), true))
                return *end;
            ui_.setStatus(LinkText::sent, false);
            // The device drops CTS when it takes up the command and raises it again when its
            // screen has been rewritten.
            if (const auto end = waitCts(false, LinkText::processing))
                return *end;
            if (const auto end = waitCts(true, LinkText::rewriting))
                return *end;
            ui_.setStatus(LinkText::rewritten, true);
        } else {
            ui_.setStatus(LinkText::rewritten, true);
            // The port stays open while the notice is up.
            ui_.message(QString(), LinkText::flashNotice);
        }
        port_.close();
        finish();
        return TransferEnd::Done;
    }

private:
    // Writes and waits until the driver has taken the bytes, so that CTS polling sees the
    // device react to them. Returns the end of the transfer when that did not succeed.
    std::optional<TransferEnd> write(const QByteArray &bytes, bool text)
    {
        if (!(text ? port_.writeText(bytes) : port_.writeBytes(bytes)))
            return fail();
        return ended(waitHandedOver(port_, waiter_));
    }

    std::optional<TransferEnd> ended(Waiter::End end)
    {
        switch (end) {
        case Waiter::End::Reached:
            return std::nullopt;
        case Waiter::End::Cancelled:
            return cancel();
        case Waiter::End::Failed:
        case Waiter::End::TimedOut:
            break;
        }
        return fail();
    }

    // Waits while CTS differs from `wanted`, showing `busyText` from the first poll that
    // finds the device busy. Returns the end of the transfer when the wait did not succeed.
    std::optional<TransferEnd> waitCts(bool wanted, const QString &busyText)
    {
        bool shown = false;
        // Where the port can say when CTS changes, the wait sleeps until it does.
        const bool watched = port_.watchCts([this] { waiter_.wake(); });
        const Waiter::End end = waiter_.until([&]() -> std::optional<bool> {
            bool cts = false;
            if (!port_.readCts(cts))
                return std::nullopt;
            if (cts == wanted)
                return true;
            if (!shown) {
                ui_.setStatus(busyText, true);
                shown = true;
            }
            return false;
        }, 0, watched);
        if (watched)
            port_.stopWatchingCts();
        return ended(end);
    }

    // The port stays as the failure left it; the next user closes it first.
    TransferEnd fail()
    {
        ui_.message(LinkText::caution, LinkText::transferPortError);
        finish();
        return TransferEnd::Failed;
    }

    TransferEnd cancel()
    {
        port_.close();
        finish();
        ui_.setStatus(LinkText::cancelled, true);
        return TransferEnd::Cancelled;
    }

    void finish()
    {
        ui_.hideProgress();
        if (hourglass_)
            ui_.setHourglass(false);
        hourglass_ = false;
    }

    const ImageTransfer &job_;
    const MonoImage &image_;
    std::array<std::uint8_t, 128> &txBuf_;
    SerialPort &port_;
    Waiter &waiter_;
    TransferUi &ui_;
    bool hourglass_ = false;
};

}  // namespace

qint64 transmitBoundMs(qint64 bytes)
{
    const qint64 bits = qMax<qint64>(bytes, 0) * kBitsPerByte;
    return (bits * 1000 + kBaud - 1) / kBaud + kDriverMarginMs;
}

Waiter::End waitTransmitted(SerialPort &port, Waiter &waiter, qint64 bytes)
{
    return waiter.until(
        [&port]() -> std::optional<bool> {
            qint64 count = 0;
            if (!port.transmitCount(count))
                return std::nullopt;
            return count == 0;
        },
        transmitBoundMs(bytes));
}

Waiter::End waitHandedOver(SerialPort &port, Waiter &waiter)
{
    qint64 left = 0;
    if (!port.handOver(left))
        return Waiter::End::Failed;
    // Each round waits for the driver to take something; only a round without any progress
    // is bounded, so a slow line never counts as a dead one.
    while (left > 0) {
        const qint64 before = left;
        const Waiter::End end = waiter.until(
            [&]() -> std::optional<bool> {
                if (!port.handOver(left))
                    return std::nullopt;
                return left < before;
            },
            kWriteStallMs);
        if (end == Waiter::End::TimedOut)
            port.close();
        if (end != Waiter::End::Reached)
            return end;
    }
    return Waiter::End::Reached;
}

Waiter::End sendCommandBytes(SerialPort &port, Waiter &waiter, const QByteArray &bytes,
                             const std::function<void(qint64 sent)> &progress)
{
    // About a tenth of a second on the line: progress stays smooth and a stop comes soon.
    constexpr qsizetype kPiece = 96;
    for (qsizetype at = 0; at < bytes.size(); at += kPiece) {
        if (!waiter.keepUp())
            return Waiter::End::Cancelled;
        if (!port.writeBytes(bytes.mid(at, kPiece)))
            return Waiter::End::Failed;
        const Waiter::End end = waitHandedOver(port, waiter);
        if (end != Waiter::End::Reached)
            return end;
        if (progress)
            progress(qMin(at + kPiece, bytes.size()));
    }
    return waitTransmitted(port, waiter, bytes.size());
}

TransferEnd sendImage(const ImageTransfer &job, const MonoImage &image, std::array<std::uint8_t, 128> &txBuf,
                      SerialPort &port, Waiter &waiter, TransferUi &ui)
{
    return ImageSender(job, image, txBuf, port, waiter, ui).run();
}

}  // namespace pw
