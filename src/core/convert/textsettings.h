#pragma once

#include "core/text/textlayer.h"

#include <QList>
#include <QPair>
#include <QString>

namespace pw {

// The text's lines of conversion.ini. None while every text setting is at its default, so that
// a file written without text reads exactly as before.
QList<QPair<QString, QString>> textSettingLines(const TextOptions &text);

// One "key=value" of the text into `text`; a key that is not the text's, or a value that
// cannot be read, leaves it as it was.
void takeTextSetting(TextOptions &text, const QString &key, const QString &value);

// The text as one line: in double quotes, with \\ \" \n \r \t escaped; nullopt when damaged.
QString quoteText(const QString &text);
std::optional<QString> unquoteText(const QString &value);

}  // namespace pw
