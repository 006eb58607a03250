#include "core/text/textlayer.h"

#include "core/text/textfonts.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QSet>

namespace pw {

namespace {

// A line longer than this is cut before it is measured: even at one pixel a character it
// reaches past the area with any offset, so what is cut off could never show.
constexpr qsizetype kMaxLineChars = 512;
// Beyond this the text cannot all show even in the smallest size: say that only part was laid out.
constexpr qsizetype kLongText = 64 * 1024;
constexpr int kMaxMissingReported = 32;

qint64 floorDiv(qint64 a, qint64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

QFont textFont(const TextOptions &o, const QString &family)
{
    QFont font(family);
    font.setPixelSize(o.size);
    font.setBold(o.bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    int strategy = QFont::NoAntialias | QFont::NoSubpixelAntialias;
    if (!o.fallback)
        strategy |= QFont::NoFontMerging;
    font.setStyleStrategy(QFont::StyleStrategy(strategy));
    return font;
}

// The part of a long line that can show: its start, its end or its middle by the alignment,
// never splitting a surrogate pair.
QStringView visiblePart(QStringView line, TextAlign align, bool &cut)
{
    cut = line.size() > kMaxLineChars;
    if (!cut)
        return line;
    qsizetype from = align == TextAlign::Left ? 0 : align == TextAlign::Right ? line.size() - kMaxLineChars : (line.size() - kMaxLineChars) / 2;
    if (from > 0 && line.at(from).isLowSurrogate())
        ++from;
    qsizetype length = qMin(kMaxLineChars, line.size() - from);
    if (from + length < line.size() && line.at(from + length - 1).isHighSurrogate())
        --length;
    return line.mid(from, length);
}

void collectMissing(QStringView line, const QFontMetrics &metrics, QList<char32_t> &missing, QSet<char32_t> &seen)
{
    for (const char32_t point : line.toUcs4()) {
        if (point < 0x20 || (point >= 0x7f && point < 0xa0) || seen.contains(point))
            continue;
        seen.insert(point);
        if (!metrics.inFontUcs4(uint(point)) && missing.size() < kMaxMissingReported)
            missing << point;
    }
}

}  // namespace

bool TextOptions::operator==(const TextOptions &o) const
{
    return text == o.text && family == o.family && size == o.size && bold == o.bold && align == o.align && valign == o.valign
           && offsetX == o.offsetX && offsetY == o.offsetY && white == o.white && fallback == o.fallback;
}

TextLayer layoutText(const TextOptions &o)
{
    TextLayer layer;
    if (o.isEmpty() || !qGuiApp)
        return layer;
    layer.family = installedFamily(o.family);
    if (layer.fontMissing())
        return layer;
    const QFont font = textFont(o, layer.family);
    const QFontMetrics metrics(font);
    const QStringView text(o.text);
    const qint64 spacing = qMax(1, metrics.lineSpacing());
    const qint64 lines = text.count(QLatin1Char('\n')) + 1;
    const qint64 height = lines * spacing;
    qint64 top = o.valign == TextVAlign::Top ? 0 : o.valign == TextVAlign::Middle ? floorDiv(kImageHeight - height, 2) : kImageHeight - height;
    top += o.offsetY;
    layer.overflow = top < 0 || top + height > kImageHeight;
    layer.bounded = text.size() > kLongText;
    const qint64 first = qMax<qint64>(0, floorDiv(-top - spacing, spacing) + 1);
    const qint64 last = qMin<qint64>(lines - 1, floorDiv(kImageHeight - top - 1, spacing));

    QImage canvas(kImageWidth, kImageHeight, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    QPainter painter(&canvas);
    painter.setFont(font);
    painter.setPen(Qt::white);
    QSet<char32_t> seen;
    qsizetype start = 0;
    for (qint64 i = 0; i <= last; ++i) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        if (i >= first) {
            bool cut = false;
            const QString line = visiblePart(text.mid(start, end - start), o.align, cut).toString();
            layer.bounded |= cut;
            const int width = metrics.horizontalAdvance(line);
            int x = o.align == TextAlign::Left ? 0 : o.align == TextAlign::Center ? int(floorDiv(kImageWidth - width, 2)) : kImageWidth - width;
            x += o.offsetX;
            layer.overflow |= cut || (width > 0 && (x < 0 || x + width > kImageWidth));
            painter.drawText(QPoint(x, int(top + i * spacing) + metrics.ascent()), line);
            if (!o.fallback)
                collectMissing(line, metrics, layer.missing, seen);
        }
        start = end + 1;
    }
    painter.end();
    layer.overflow |= layer.bounded;
    layer.ink = canvas.convertToFormat(QImage::Format_Grayscale8);
    return layer;
}

void stampText(MonoImage &image, const TextLayer &layer, bool white)
{
    if (layer.ink.isNull())
        return;
    for (int y = 0; y < kImageHeight; ++y) {
        const uchar *line = layer.ink.constScanLine(y);
        for (int x = 0; x < kImageWidth; ++x)
            if (line[x] > 127)
                setPixelAt(image, x, y, white);
    }
}

void drawText(QImage &surface, const TextLayer &layer, bool white)
{
    if (layer.ink.isNull() || surface.size() != QSize(kImageWidth, kImageHeight))
        return;
    if (surface.format() != QImage::Format_RGB32 && surface.format() != QImage::Format_ARGB32)
        surface = surface.convertToFormat(QImage::Format_RGB32);
    const QRgb color = white ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
    for (int y = 0; y < kImageHeight; ++y) {
        const uchar *line = layer.ink.constScanLine(y);
        auto *out = reinterpret_cast<QRgb *>(surface.scanLine(y));
        for (int x = 0; x < kImageWidth; ++x)
            if (line[x] > 127)
                out[x] = color;
    }
}

QString codePointList(const QList<char32_t> &points)
{
    QStringList parts;
    for (const char32_t point : points)
        parts << QStringLiteral("U+%1").arg(uint(point), 4, 16, QLatin1Char('0')).toUpper();
    return parts.join(QLatin1Char(' '));
}

}  // namespace pw
