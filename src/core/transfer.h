#pragma once

#include "core/serialport.h"
#include "core/waiter.h"
#include "core/monoimage.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>

namespace pw {

// The texts the device link shows.
namespace LinkText {
inline const QString caution = QStringLiteral("注意");
inline const QString transferPortError = QStringLiteral("ポートの指定が誤りです。(tx_data)");
inline const QString consolePortError = QStringLiteral("ポートの指定が誤りです。");
inline const QString rewriting = QStringLiteral("画面書換中!!");
inline const QString sending = QStringLiteral("送信中");
inline const QString sent = QStringLiteral("送信終了");
inline const QString processing = QStringLiteral("内部処理中!!");
inline const QString rewritten = QStringLiteral("書換終了");
inline const QString cancelled = QStringLiteral("送信中止");
inline const QString flashNotice = QStringLiteral("書込み画像は、TFコマンド→DPコマンドにて表示確認できます。");
inline const QString fileSent = QStringLiteral("コマンドファイルを送信しました。");
}  // namespace LinkText

// Command framing: a command line ends in CR LF; nothing else is added or escaped.
inline const QByteArray crlf = QByteArrayLiteral("\r\n");
inline QByteArray commandLine(const QByteArray &command) { return command + crlf; }

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

// Sends raw bytes as the console does (a command file, or a typed line with its CR LF):
// written in pieces, each handed to the driver through `waiter`, then waits until the line has
// sent them all. `progress(sent)` runs after each piece. The port must be open; it stays open.
Waiter::End sendCommandBytes(SerialPort &port, Waiter &waiter, const QByteArray &bytes,
                             const std::function<void(qint64 sent)> &progress = {});

// What an image transfer shows on the main window while it runs.
class TransferUi {
public:
    virtual ~TransferUi() = default;
    // The status label; `redraw` draws it at once.
    virtual void setStatus(const QString &text, bool redraw) = 0;
    // The busy hourglass of the whole application (on) or the default pointer (off).
    virtual void setHourglass(bool on) = 0;
    // The progress bar: range 0 to 7, shown, value 0.
    virtual void showProgress() = 0;
    virtual void setProgress(int band) = 0;
    virtual void hideProgress() = 0;
    // A modal box with an OK button; returns when the user closed it. An empty title shows
    // the program title.
    virtual void message(const QString &title, const QString &text) = 0;
};

enum class ImageTarget { Vram, Flash };
enum class TransferEnd { Done, Failed, Cancelled };

struct ImageTransfer {
    ImageTarget target = ImageTarget::Vram;
    QString portText;   // the saved port number, as text
    QString argument;   // the rewrite time (VRAM) or the FLASH page
};

// Sends the working image into the device's VRAM ("DT", "TI", "DP", then follows CTS down
// and up again) or into a FLASH page ("FS", "TS", then the notice). Every band goes through
// `txBuf`, which keeps the last band afterwards. A failure shows the port error and leaves
// the port as it is; a cancelled wait closes the port and says so in the status label.
TransferEnd sendImage(const ImageTransfer &job, const MonoImage &image, std::array<std::uint8_t, 128> &txBuf,
                      SerialPort &port, Waiter &waiter, TransferUi &ui);

}  // namespace pw
