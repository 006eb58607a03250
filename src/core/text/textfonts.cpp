// The fonts the text may use.
#include "core/text/textfonts.h"

#include "core/text/textlayer.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPainterPath>
#include <QRawFont>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

namespace pw {

namespace {

// fontconfig names a family in the system's language when the font has such a name: the
// Misaki fonts are "美咲ゴシック" under a Japanese locale and "MisakiGothic" elsewhere. Either
// name reaches them, so that a settings file or a script works under both.
const QList<QPair<QString, QString>> &familyAliases()
{
    static const QList<QPair<QString, QString>> table{{QStringLiteral("MisakiGothic"), QStringLiteral("美咲ゴシック")},
                                                      {QStringLiteral("MisakiGothic2nd"), QStringLiteral("美咲ゴシック第2")},
                                                      {QStringLiteral("MisakiMincho"), QStringLiteral("美咲明朝")}};
    return table;
}

QString findFamily(const QStringList &families, const QString &name)
{
    for (const QString &family : families)
        if (family.compare(name, Qt::CaseInsensitive) == 0)
            return family;
    return {};
}

QString folded(const QString &name)
{
    QString out;
    for (const QChar c : name)
        if (c.isLetterOrNumber())
            out += c.toLower();
    return out;
}

int editDistance(const QString &a, const QString &b)
{
    std::vector<int> row(std::size_t(b.size()) + 1);
    for (std::size_t j = 0; j < row.size(); ++j)
        row[j] = int(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int above = row[std::size_t(j)];
            row[std::size_t(j)] = std::min({above + 1, row[std::size_t(j - 1)] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row.back();
}

// Every point of every outline, and every advance, on a whole pixel at `size`.
bool sitsOnGrid(const QRawFont &font, const QList<quint32> &glyphs, int size)
{
    QRawFont sized(font);
    sized.setPixelSize(size);
    const auto whole = [](qreal v) { return std::abs(v - std::round(v)) < 1e-3; };
    for (const QPointF &advance : sized.advancesForGlyphIndexes(glyphs))
        if (!whole(advance.x()) || !whole(advance.y()))
            return false;
    bool ink = false;
    for (const quint32 glyph : glyphs) {
        const QPainterPath path = sized.pathForGlyph(glyph);
        for (int i = 0; i < path.elementCount(); ++i) {
            if (!whole(path.elementAt(i).x) || !whole(path.elementAt(i).y))
                return false;
            ink = true;
        }
    }
    return ink;
}

}  // namespace

QString installedFamily(const QString &family)
{
    if (family.trimmed().isEmpty() || !qGuiApp)
        return {};
    const QStringList families = QFontDatabase::families();
    if (QString found = findFamily(families, family); !found.isEmpty())
        return found;
    for (const auto &alias : familyAliases()) {
        if (alias.first.compare(family, Qt::CaseInsensitive) == 0)
            return findFamily(families, alias.second);
        if (alias.second == family)
            return findFamily(families, alias.first);
    }
    return {};
}

QStringList similarFamilies(const QString &family, int count)
{
    if (!qGuiApp)
        return {};
    const QString wanted = folded(family);
    QList<QPair<int, QString>> scored;
    for (const QString &candidate : QFontDatabase::families()) {
        const QString name = folded(candidate);
        if (name.isEmpty() || wanted.isEmpty())
            continue;
        const int distance = name.contains(wanted) || wanted.contains(name) ? 0 : editDistance(name, wanted);
        if (distance <= qMax(2, int(wanted.size()) / 3))
            scored << qMakePair(distance, candidate);
    }
    std::stable_sort(scored.begin(), scored.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QStringList out;
    for (const auto &entry : scored.mid(0, count))
        out << entry.second;
    return out;
}

QList<PixelFont> pixelFonts()
{
    QList<PixelFont> fonts;
    if (!qGuiApp)
        return fonts;
    for (const QString &family : QFontDatabase::families()) {
        QFont font(family);
        font.setStyleStrategy(QFont::NoFontMerging);
        const QRawFont raw = QRawFont::fromFont(font);
        QList<quint32> glyphs;
        for (const char32_t point : std::u32string_view(U"AaMgs08\u3042\u6F22\u30A2"))
            if (raw.supportsCharacter(uint(point)))
                glyphs << raw.glyphIndexesForString(QString::fromUcs4(&point, 1)).value(0);
        if (glyphs.size() < 3)
            continue;
        for (int size = kMinTextSize; size <= 32; ++size)
            if (sitsOnGrid(raw, glyphs, size)) {
                fonts << PixelFont{family, size};
                break;
            }
    }
    return fonts;
}

}  // namespace pw
