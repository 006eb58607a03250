#pragma once

#include "core/image/monoimage.h"
#include "core/link/protocol.h"
#include "core/link/serialport.h"
#include "core/link/waiter.h"

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <array>
#include <functional>
#include <optional>

namespace pw {

// The bytes of an image transfer, in the pieces the device is sent them in: the command line
// that selects the target, the data mark, the image in eight bands of 128 bytes (the device's
// own order), the data's line end and, for the display memory only, the display command.
struct ImageStream {
    QByteArray command;  // "DT<time>" or "FS<page>", with CR LF
    QByteArray mark;     // "TI" or "TS"
    std::array<QByteArray, kBands> bands;
    QByteArray end;      // CR LF
    QByteArray display;  // "DP" CR LF; empty for a FLASH page

    // Every piece, in order.
    QList<QByteArray> pieces() const;
    QByteArray bytes() const;
};

// Into the display memory, then shown after `rewriteTime` seconds (protocol::kRewriteTimes).
ImageStream displayMemoryStream(const MonoImage &image, int rewriteTime);
// Into FLASH page `page` (protocol::kPages).
// With no page (none chosen in the window) the command carries no number, as the device is
// sent it then.
ImageStream flashPageStream(const MonoImage &image, std::optional<int> page);

// The frames of an animation into consecutive FLASH pages from `firstPage`, frame k into page
// firstPage + k: as many as the pages up to the last one hold, the rest left out.
QList<ImageStream> flashFrameStreams(const QList<MonoImage> &frames, int firstPage);

// How long `bytes` take on the line at 9600 baud with 8N1 framing (ten bit times a byte),
// plus a second for the driver and the adapter: the bound for waiting until they are out.
qint64 transmitBoundMs(qint64 bytes);

// Waits until the port reports no written byte still waiting to go out, bounded by
// transmitBoundMs(bytes).
Waiter::End waitTransmitted(SerialPort &port, Waiter &waiter, qint64 bytes);

// How long a port may take no byte at all before a send gives up on it.
constexpr qint64 kWriteStallMs = 5000;

// Waits until the driver has taken every written byte. TimedOut when it takes nothing for
// kWriteStallMs: the port is then closed, so the bytes it holds cannot go out long after the
// send was given up.
Waiter::End waitHandedOver(SerialPort &port, Waiter &waiter);

// About a tenth of a second on the line: progress stays smooth and a stop comes soon.
constexpr qint64 kCommandPieceBytes = 96;

// Sends raw bytes as the console does (a command file, or a typed line with its CR LF):
// read from `source` a piece at a time as the line takes them, so a file of any size costs
// one piece of memory; each piece handed to the driver through `waiter`, then waits until the
// line has sent them all. `progress(sent)` runs after each piece. Failed when `source` cannot
// be read. The port must be open; it stays open.
Waiter::End sendCommandBytes(SerialPort &port, Waiter &waiter, QIODevice &source,
                             const std::function<void(qint64 sent)> &progress = {});

// Where an image transfer stands. Each phase is reported once as it starts; the busy phases
// only when the device is found busy.
enum class TransferPhase {
    PortOpened,       // the port is open, nothing sent yet
    WaitingForReady,  // the device is still busy with an earlier command
    Sending,          // the stream is going out
    Sent,             // every byte is out (display memory: the device now takes the command)
    DeviceBusy,       // the device has not yet taken up the display command
    Rewriting,        // the device rewrites its screen
    Done,             // the last step; the port is still open and is closed right after
};

class TransferListener {
public:
    virtual ~TransferListener() = default;
    virtual void phase(TransferPhase phase) = 0;
    // After each band of the image has been handed over (0 to 7).
    virtual void bandSent(int band) { Q_UNUSED(band); }
};

enum class TransferEnd { Done, Failed, Cancelled };

// Sends an image stream as the device wants it: opens the port (the opening sequence with
// `portText`), waits until CTS says the device is ready, writes every piece, waits until the
// line has taken the last byte and, when the stream shows the display memory, follows CTS
// down and up again. Done closes the port. A
// failure leaves the port as it is (the next user closes it first); a cancelled wait closes it.
TransferEnd sendImage(SerialPort &port, Waiter &waiter, const QString &portText, const ImageStream &stream,
                      TransferListener &listener);

}  // namespace pw
