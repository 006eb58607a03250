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
        if (!port_.writeText(commandLine(first + job_.argument.toLocal8Bit())))
            return fail();
        if (!port_.writeText(vram ? QByteArrayLiteral("TI") : QByteArrayLiteral("TS")))
            return fail();
        // The running index goes on across the bands.
        int index = 0;
        for (int band = 0; band < kBands; ++band) {
            for (int column = 0; column < kImageWidth; ++column)
                txBuf_[column] = image_[index++];
            const QByteArray bytes(reinterpret_cast<const char *>(txBuf_.data()), int(txBuf_.size()));
            if (!port_.writeBytes(bytes))
                return fail();
            ui_.setProgress(band);
        }
        if (!port_.writeText(crlf))
            return fail();

        if (vram) {
            if (!port_.writeText(commandLine(QByteArrayLiteral("DP"))))
                return fail();
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
    // Waits while CTS differs from `wanted`, showing `busyText` from the first poll that
    // finds the device busy. Returns the end of the transfer when the wait did not succeed.
    std::optional<TransferEnd> waitCts(bool wanted, const QString &busyText)
    {
        bool shown = false;
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
        });
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

TransferEnd sendImage(const ImageTransfer &job, const MonoImage &image, std::array<std::uint8_t, 128> &txBuf,
                      SerialPort &port, Waiter &waiter, TransferUi &ui)
{
    return ImageSender(job, image, txBuf, port, waiter, ui).run();
}

}  // namespace pw
