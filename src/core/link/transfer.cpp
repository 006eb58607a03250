#include "core/link/transfer.h"

#include <optional>

namespace pw {

namespace {

constexpr qint64 kBaud = 9600;
constexpr qint64 kBitsPerByte = 10;  // start, eight data bits, stop
constexpr qint64 kDriverMarginMs = 1000;

class ImageSender {
public:
    ImageSender(SerialPort &port, Waiter &waiter, const ImageStream &stream, TransferListener &listener)
        : port_(port), waiter_(waiter), stream_(stream), listener_(listener)
    {
    }

    TransferEnd run(const QString &portText)
    {
        if (!openPortSequence(port_, portText))
            return TransferEnd::Failed;
        listener_.phase(TransferPhase::PortOpened);

        // The device may still be busy with an earlier command.
        if (const auto end = waitCts(true, TransferPhase::WaitingForReady))
            return *end;
        listener_.phase(TransferPhase::Sending);

        if (const auto end = write(stream_.command, true))
            return *end;
        if (const auto end = write(stream_.mark, true))
            return *end;
        for (int band = 0; band < kBands; ++band) {
            if (const auto end = write(stream_.bands[std::size_t(band)], false))
                return *end;
            listener_.bandSent(band);
        }
        if (const auto end = write(stream_.end, true))
            return *end;

        if (const auto end = stream_.display.isEmpty() ? std::optional<TransferEnd>{} : write(stream_.display, true))
            return *end;
        if (const auto end = drained())
            return *end;
        if (!stream_.display.isEmpty()) {
            listener_.phase(TransferPhase::Sent);
            // The device drops CTS when it takes up the command and raises it again when its
            // screen has been rewritten.
            if (const auto end = waitCts(false, TransferPhase::DeviceBusy))
                return *end;
            if (const auto end = waitCts(true, TransferPhase::Rewriting))
                return *end;
        }
        // A FLASH page's notice is shown while the port is still open.
        listener_.phase(TransferPhase::Done);
        port_.close();
        return TransferEnd::Done;
    }

private:
    // Writes and waits until the driver has taken the bytes, so that CTS polling sees the
    // device react to them. Returns the end of the transfer when that did not succeed.
    std::optional<TransferEnd> write(const QByteArray &bytes, bool text)
    {
        if (!(text ? port_.writeText(bytes) : port_.writeBytes(bytes)))
            return TransferEnd::Failed;
        return ended(waitHandedOver(port_, waiter_));
    }

    // Waits until the line has taken the last byte, as a serial driver drains its queue
    // before the port closes: only then is the stream sent.
    std::optional<TransferEnd> drained() { return ended(waitTransmitted(port_, waiter_, stream_.bytes().size())); }

    std::optional<TransferEnd> ended(Waiter::End end)
    {
        switch (end) {
        case Waiter::End::Reached:
            return std::nullopt;
        case Waiter::End::Cancelled:
            port_.close();
            return TransferEnd::Cancelled;
        case Waiter::End::Failed:
        case Waiter::End::TimedOut:
            break;
        }
        return TransferEnd::Failed;
    }

    // Waits while CTS differs from `wanted`, reporting `busy` from the first poll that finds
    // the device busy. Returns the end of the transfer when the wait did not succeed.
    std::optional<TransferEnd> waitCts(bool wanted, TransferPhase busy)
    {
        bool reported = false;
        // Where the port can say when CTS changes, the wait sleeps until it does.
        const bool watched = port_.watchCts([this] { waiter_.wake(); });
        const Waiter::End end = waiter_.until([&]() -> std::optional<bool> {
            bool cts = false;
            if (!port_.readCts(cts))
                return std::nullopt;
            if (cts == wanted)
                return true;
            if (!reported) {
                listener_.phase(busy);
                reported = true;
            }
            return false;
        }, 0, watched);
        if (watched)
            port_.stopWatchingCts();
        return ended(end);
    }

    SerialPort &port_;
    Waiter &waiter_;
    const ImageStream &stream_;
    TransferListener &listener_;
};

ImageStream imageStream(const MonoImage &image, const QByteArray &command, const QByteArray &mark)
{
    ImageStream stream;
    stream.command = command;
    stream.mark = mark;
    for (int band = 0; band < kBands; ++band)
        stream.bands[std::size_t(band)] =
            QByteArray(reinterpret_cast<const char *>(image.data()) + band * kImageWidth, kImageWidth);
    stream.end = protocol::kLineEnd;
    return stream;
}

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

Waiter::End sendCommandBytes(SerialPort &port, Waiter &waiter, QIODevice &source,
                             const std::function<void(qint64 sent)> &progress)
{
    qint64 sent = 0;
    for (;;) {
        if (!waiter.keepUp())
            return Waiter::End::Cancelled;
        char buffer[kCommandPieceBytes];
        const qint64 got = source.read(buffer, kCommandPieceBytes);
        if (got < 0)
            return Waiter::End::Failed;
        if (got == 0)
            break;
        const QByteArray piece(buffer, got);
        if (!port.writeBytes(piece))
            return Waiter::End::Failed;
        const Waiter::End end = waitHandedOver(port, waiter);
        if (end != Waiter::End::Reached)
            return end;
        sent += piece.size();
        if (progress)
            progress(sent);
    }
    return waitTransmitted(port, waiter, sent);
}

QList<QByteArray> ImageStream::pieces() const
{
    QList<QByteArray> list{command, mark};
    for (const QByteArray &band : bands)
        list << band;
    list << end;
    if (!display.isEmpty())
        list << display;
    return list;
}

QByteArray ImageStream::bytes() const { return pieces().join(); }

ImageStream displayMemoryStream(const MonoImage &image, int rewriteTime)
{
    ImageStream stream = imageStream(image, protocol::commandLine(protocol::kRewriteTime, rewriteTime), protocol::kImageData);
    stream.display = protocol::commandLine(protocol::kDisplay);
    return stream;
}

ImageStream flashPageStream(const MonoImage &image, std::optional<int> page)
{
    return imageStream(image, protocol::commandLine(protocol::kSelectPage, page), protocol::kPageData);
}

QList<ImageStream> flashFrameStreams(const QList<MonoImage> &frames, int firstPage)
{
    QList<ImageStream> streams;
    for (int k = 0; firstPage >= 0 && k < frames.size() && protocol::kPages.contains(firstPage + k); ++k)
        streams << flashPageStream(frames[k], firstPage + k);
    return streams;
}

TransferEnd sendImage(SerialPort &port, Waiter &waiter, const QString &portText, const ImageStream &stream,
                      TransferListener &listener)
{
    return ImageSender(port, waiter, stream, listener).run(portText);
}

}  // namespace pw
