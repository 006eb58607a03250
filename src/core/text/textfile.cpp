// Text files as the text comes from them: UTF-8 or refused where it is not.
#include "core/text/textfile.h"

#include <QStringDecoder>

namespace pw {

namespace {

// The line and column (1-based, in characters) of the first byte that is not UTF-8; false when
// there is none.
bool firstInvalid(const unsigned char *p, qsizetype from, qsizetype n, int &line, int &column)
{
    line = 1;
    column = 1;
    for (qsizetype k = from; k < n; ++column) {
        const unsigned char c = p[k];
        const int extra = c < 0x80 ? 0 : (c & 0xe0) == 0xc0 ? 1 : (c & 0xf0) == 0xe0 ? 2 : (c & 0xf8) == 0xf0 ? 3 : -1;
        if (extra < 0 || k + extra >= n)
            return true;
        char32_t point = extra == 0 ? c : c & (0x3f >> extra);
        for (int m = 1; m <= extra; ++m) {
            if ((p[k + m] & 0xc0) != 0x80)
                return true;
            point = (point << 6) | (p[k + m] & 0x3f);
        }
        static const char32_t lowest[] = {0, 0x80, 0x800, 0x10000};
        if (point < lowest[extra] || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff))
            return true;
        if (c == '\n') {
            ++line;
            column = 0;
        }
        k += 1 + extra;
    }
    return false;
}

}  // namespace

std::optional<QString> decodeTextFile(const QByteArray &bytes, int &line, int &column)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    const qsizetype from = n >= 3 && p[0] == 0xef && p[1] == 0xbb && p[2] == 0xbf ? 3 : 0;
    // Qt's decoder is fast; the place of a fault is looked for only when there is one.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless);
    QString text = decoder.decode(QByteArrayView(bytes.constData() + from, n - from));
    if (decoder.hasError()) {
        firstInvalid(p, from, n, line, column);
        return std::nullopt;
    }
    if (text.contains(QLatin1Char('\r')))
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text;
}

}  // namespace pw
