#include "core/storage/settingsfile.h"

#include "core/storage/files.h"

#include <QFile>

namespace pw {

QByteArray formatSettingsRecord(const QString &rewriteTime, const QString &portNumber)
{
    QByteArray record;
    record += '"';
    record += rewriteTime.toLocal8Bit();
    record += "\",\"";
    record += portNumber.toLocal8Bit();
    record += "\"\r\n";
    return record;
}

QStringList parseSettingsValues(const QByteArray &content, int maxValues)
{
    const QString text = QString::fromLocal8Bit(content);
    QStringList values;
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto isLineEnd = [](QChar c) { return c == u'\r' || c == u'\n'; };
    while (i < n && values.size() < maxValues) {
        while (i < n && (text[i] == u' ' || text[i] == u'\t'))
            ++i;
        // Blank lines separate nothing.
        if (i < n && isLineEnd(text[i])) {
            ++i;
            continue;
        }
        if (i >= n)
            break;
        QString value;
        if (text[i] == u'"') {
            ++i;
            while (i < n && text[i] != u'"')
                value += text[i++];
            if (i < n)
                ++i;  // closing quote
            while (i < n && text[i] != u',' && !isLineEnd(text[i]))
                ++i;  // anything after the closing quote up to the separator is dropped
        } else {
            while (i < n && text[i] != u',' && !isLineEnd(text[i]))
                value += text[i++];
            value = value.trimmed();
        }
        values << value;
        if (i < n)
            ++i;  // the separator
    }
    return values;
}

QByteArray readSettingsPrefix(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(kSettingsReadLimit);
}

QStringList readSettingsValues(const QString &path) { return parseSettingsValues(readSettingsPrefix(path)); }

bool writeSettingsFile(const Settings &settings)
{
    return writeFileAtomically(settings.path, formatSettingsRecord(settings.rewriteTime, settings.portNumber));
}

}  // namespace pw
