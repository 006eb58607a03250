#include "core/image/encoders.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageWriter>

namespace pw {

namespace {

// The bytes as "0x12, " groups, `perLine` to a line, each line indented by four spaces.
QByteArray cBytes(const QByteArray &bytes, int perLine)
{
    QByteArray out;
    for (int i = 0; i < bytes.size(); ++i) {
        out += i % perLine == 0 ? "    " : " ";
        out += "0x" + QByteArray::number(uchar(bytes[i]), 16).rightJustified(2, '0');
        if (i + 1 < bytes.size())
            out += ',';
        if (i % perLine == perLine - 1 || i + 1 == bytes.size())
            out += '\n';
    }
    return out;
}

// PBM and XBM store 1 for black.
QByteArray blackBits(const MonoImage &image, const Layout &rows)
{
    QByteArray bytes = rows.pack(image);
    for (char &byte : bytes)
        byte = char(~uchar(byte));
    return bytes;
}

}  // namespace

QString formatName(Format format)
{
    return format == Format::C ? QStringLiteral("c") : formatExtension(format);
}

QString formatExtension(Format format)
{
    switch (format) {
    case Format::Bin: return QStringLiteral("bin");
    case Format::C: return QStringLiteral("h");
    case Format::Hex: return QStringLiteral("hex");
    case Format::Pbm: return QStringLiteral("pbm");
    case Format::Xbm: return QStringLiteral("xbm");
    case Format::Png: return QStringLiteral("png");
    }
    return {};
}

QString identifierFrom(const QString &fileName)
{
    QString name = QFileInfo(fileName).completeBaseName();
    for (QChar &c : name)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('_'))
            c = QLatin1Char('_');
    if (name.isEmpty() || name.at(0).isDigit())
        name.prepend(QLatin1Char('_'));
    return name;
}

QByteArray hexLines(const QByteArray &bytes)
{
    QByteArray out;
    for (qsizetype i = 0; i < bytes.size(); i += 16)
        out += bytes.mid(i, 16).toHex() + '\n';
    return out;
}

QImage previewImage(const MonoImage &image, int scale)
{
    const QImage plain = renderMonoImage(image);
    return scale == 1 ? plain : plain.scaled(plain.size() * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

QByteArray encodePng(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    // One bit a pixel: the smallest file, and exactly two colours.
    QImageWriter writer(&buffer, "png");
    QImage mono = image.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
    // The resolution a picture gets by default follows the screen where there is one: fixed
    // here (Qt's 100 dpi without a screen), so that both programs write the same file.
    mono.setDotsPerMeterX(3937);
    mono.setDotsPerMeterY(3937);
    writer.write(mono);
    return bytes;
}

QByteArray encodeImage(const MonoImage &image, Format format, const Layout &layout, const QString &name, int scale)
{
    const QByteArray id = name.toLatin1();
    switch (format) {
    case Format::Bin:
        return layout.pack(image);
    case Format::Hex:
        return hexLines(layout.pack(image));
    case Format::C: {
        const QByteArray upper = id.toUpper();
        return "// " + id + ": " + QByteArray::number(kImageWidth) + " x " + QByteArray::number(kImageHeight)
               + ", layout " + layout.name.toLatin1() + ", bit 1 = white. Made by pixelwright-cli.\n"
               + "#include <stdint.h>\n\n#define " + upper + "_WIDTH " + QByteArray::number(kImageWidth) + "\n#define "
               + upper + "_HEIGHT " + QByteArray::number(kImageHeight) + "\n\nconst uint8_t " + id + "["
               + QByteArray::number(kImageBytes) + "] = {\n" + cBytes(layout.pack(image), 16) + "};\n";
    }
    case Format::Pbm:
        return "P4\n128 64\n" + blackBits(image, *findLayout(QStringLiteral("row-msb")));
    case Format::Xbm:
        return "#define " + id + "_width 128\n#define " + id + "_height 64\nstatic unsigned char " + id
               + "_bits[] = {\n" + cBytes(blackBits(image, *findLayout(QStringLiteral("row-lsb"))), 12) + "};\n";
    case Format::Png:
        return encodePng(previewImage(image, scale));
    }
    return {};
}

QString halfBlocks(const MonoImage &image)
{
    QString out;
    out.reserve((kImageWidth + 1) * kImageHeight / 2);
    for (int y = 0; y < kImageHeight; y += 2) {
        for (int x = 0; x < kImageWidth; ++x) {
            const bool top = pixelAt(image, x, y), bottom = pixelAt(image, x, y + 1);
            out += top && bottom ? QChar(0x2588) : top ? QChar(0x2580) : bottom ? QChar(0x2584) : QChar(' ');
        }
        out += QLatin1Char('\n');
    }
    return out;
}

}  // namespace pw
