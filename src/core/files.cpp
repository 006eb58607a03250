#include "core/files.h"

#include <QFile>
#include <QSaveFile>

namespace pw {

bool writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // QSaveFile buffers small writes, and commit() does not notice when the flush inside it
    // runs out of space: it would rename an empty temporary file over the target. Push every
    // byte out first, so any failure leaves the old file and removes the temporary one.
    if (file.write(bytes) != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool writeBinFile(const QString &path, const MonoImage &image)
{
    return writeFileAtomically(
        path, QByteArray(reinterpret_cast<const char *>(image.data()), static_cast<qsizetype>(image.size())));
}

bool readBinFile(const QString &path, MonoImage &image)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.read(kImageBytes);
    if (file.error() != QFileDevice::NoError)
        return false;
    MonoImage loaded{};
    std::copy(bytes.cbegin(), bytes.cend(), loaded.begin());
    image = loaded;
    return true;
}

}  // namespace pw
