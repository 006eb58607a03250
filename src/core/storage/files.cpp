#include "core/storage/files.h"

#include "core/storage/outputfile.h"

#include <QFile>

namespace pw {

bool writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    WriteOptions options;
    options.refuseReadOnly = false;
    return writeOutputFile(path, bytes, options).ok();
}

QByteArray binBytes(const MonoImage &image)
{
    return QByteArray(reinterpret_cast<const char *>(image.data()), static_cast<qsizetype>(image.size()));
}

bool writeBinFile(const QString &path, const MonoImage &image)
{
    return writeFileAtomically(path, binBytes(image));
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

bool isBinFileName(const QString &path, BinNameRule rule)
{
    if (rule == BinNameRule::CommandLine)
        return path.endsWith(QLatin1String(".bin"), Qt::CaseInsensitive);
    const QString tail = path.right(3);
    return tail == QLatin1String("BIN") || tail == QLatin1String("bin");
}

}  // namespace pw
