#pragma once

#include "core/transfer.h"

#include <QString>

namespace pw {

// What the main window shows of an image transfer.
namespace TransferText {
inline const QString confirmTitle = QStringLiteral("注意：表示書換中は、＜はい＞にしないで下さい！！");
inline const QString caution = QStringLiteral("注意");
inline const QString portError = QStringLiteral("ポートの指定が誤りです。(tx_data)");
inline const QString rewriting = QStringLiteral("画面書換中!!");
inline const QString sending = QStringLiteral("送信中");
inline const QString sent = QStringLiteral("送信終了");
inline const QString processing = QStringLiteral("内部処理中!!");
inline const QString rewritten = QStringLiteral("書換終了");
inline const QString cancelled = QStringLiteral("送信中止");
inline const QString flashNotice = QStringLiteral("書込み画像は、TFコマンド→DPコマンドにて表示確認できます。");

// The question before a transfer into the display memory.
inline QString displayMemoryQuestion() { return QStringLiteral("画像を書換しますか？"); }
// The question before a transfer into a FLASH page; with no page chosen the two spaces meet.
inline QString flashPageQuestion(const QString &page)
{
    return QStringLiteral("フラッシュページ ") + page + QStringLiteral(" の画像を書換しますか？");
}

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
}  // namespace TransferText

}  // namespace pw
