#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace pw {

// The settings record: "rewrite time","port"CR LF.
QByteArray formatSettingsRecord(const QString &rewriteTime, const QString &portNumber);

// Reads the values of a settings file: comma or line end separates values, leading blanks
// are skipped, a quoted value loses its quotes (a comma inside quotes belongs to it).
QStringList parseSettingsValues(const QByteArray &content, int maxValues = 2);

}  // namespace pw
