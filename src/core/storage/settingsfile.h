#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace pw {

// The program-wide values of the start module: where the settings file is, and the two
// values it keeps. Handed to the windows that need them; each change is written at once.
struct Settings {
    QString path;
    QString rewriteTime;  // "1" to "5" seconds
    QString portNumber;   // as stored: "1" to "16" when valid, anything else is kept as it is
};

// The record takes a few bytes; a prefix of this size holds every meaningful file.
constexpr qint64 kSettingsReadLimit = 64 * 1024;

// The settings record: "rewrite time","port"CR LF.
QByteArray formatSettingsRecord(const QString &rewriteTime, const QString &portNumber);

// Reads the values of a settings file: comma or line end separates values, leading blanks
// are skipped, a quoted value loses its quotes (a comma inside quotes belongs to it).
QStringList parseSettingsValues(const QByteArray &content, int maxValues = 2);

// The first kSettingsReadLimit bytes of a settings file (empty when it cannot be read): the
// one read of every settings file, so a huge or endless file costs no more than a small one.
QByteArray readSettingsPrefix(const QString &path);

// The values of the settings file at `path`, from its first kSettingsReadLimit bytes only, so
// a huge or endless file costs no more than a small one. Empty when it cannot be read.
QStringList readSettingsValues(const QString &path);

// Writes the record of `settings` to its file, atomically.
bool writeSettingsFile(const Settings &settings);

}  // namespace pw
