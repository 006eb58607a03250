#pragma once

#include "core/link/transfer.h"

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

// All the frames of a picture into FLASH pages.
inline const QString noPicture = QStringLiteral("画像ファイルを開いて下さい。");
inline const QString notConverted = QStringLiteral("画像を変換できません。");
inline QString pageSpan(int first, int last)
{
    return first == last ? QString::number(first) : QStringLiteral("%1～%2").arg(first).arg(last);
}
inline QString framesQuestion(int frames, int first)
{
    return QStringLiteral("%1 フレームをフラッシュページ %2 に書換しますか？").arg(frames).arg(pageSpan(first, first + frames - 1));
}
// When the pages up to the last one hold only `fitting` of the frames.
inline QString framesBeyondQuestion(int frames, int first, int fitting)
{
    return QStringLiteral("%1 フレームのうち、フラッシュページ %2 に入るのは %3 フレームです。%3 フレームを書換しますか？")
        .arg(frames)
        .arg(pageSpan(first, first + fitting - 1))
        .arg(fitting);
}
inline QString writingPage(int page) { return QStringLiteral("フラッシュページ %1 書込中").arg(page); }

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
