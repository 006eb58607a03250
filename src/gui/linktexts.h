#pragma once

#include "core/transfer.h"

#include <QString>

namespace pw {

// The texts the device link shows in the windows.
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

// The status label's text for a phase of an image transfer. The label is drawn at once for
// every phase but Sent, which the next wait's text normally replaces before a paint.
inline QString forPhase(TransferPhase phase)
{
    switch (phase) {
    case TransferPhase::PortOpened: return QString();
    case TransferPhase::WaitingForReady: return rewriting;
    case TransferPhase::Sending: return sending;
    case TransferPhase::Sent: return sent;
    case TransferPhase::DeviceBusy: return processing;
    case TransferPhase::Rewriting: return rewriting;
    case TransferPhase::Done: return rewritten;
    }
    return QString();
}
}  // namespace LinkText

}  // namespace pw
