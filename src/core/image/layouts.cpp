// The byte orders: one small function each way per layout.
#include "core/image/layouts.h"

#include <algorithm>

namespace pw {

namespace {

// Byte i, bit b (0 = least significant) of each layout holds pixel (x, y):
using Place = void (*)(int i, int b, int &x, int &y);

void pageMsb(int i, int b, int &x, int &y) { x = i % 128, y = 8 * (i / 128) + 7 - b; }
void rowMsb(int i, int b, int &x, int &y) { x = 8 * (i % 16) + 7 - b, y = i / 16; }
void rowLsb(int i, int b, int &x, int &y) { x = 8 * (i % 16) + b, y = i / 16; }

template <Place place>
QByteArray pack(const MonoImage &image)
{
    QByteArray bytes(kImageBytes, '\0');
    for (int i = 0; i < kImageBytes; ++i) {
        unsigned byte = 0;
        for (int b = 0; b < 8; ++b) {
            int x = 0, y = 0;
            place(i, b, x, y);
            byte |= unsigned(pixelAt(image, x, y)) << b;
        }
        bytes[i] = char(byte);
    }
    return bytes;
}

template <Place place>
MonoImage unpack(const QByteArray &bytes)
{
    MonoImage image{};
    for (int i = 0; i < qMin<qsizetype>(bytes.size(), kImageBytes); ++i)
        for (int b = 0; b < 8; ++b) {
            int x = 0, y = 0;
            place(i, b, x, y);
            setPixelAt(image, x, y, (uchar(bytes[i]) >> b) & 1u);
        }
    return image;
}

// The device's own order is the working image's: its bytes as they are.
QByteArray packDevice(const MonoImage &image)
{
    return QByteArray(reinterpret_cast<const char *>(image.data()), kImageBytes);
}

MonoImage unpackDevice(const QByteArray &bytes)
{
    MonoImage image{};
    std::copy_n(bytes.cbegin(), qMin<qsizetype>(bytes.size(), kImageBytes), image.begin());
    return image;
}

}  // namespace

const QList<Layout> &layouts()
{
    static const QList<Layout> table{
        {QStringLiteral("page-lsb"), QStringLiteral("ページ・下位ビットが上"), packDevice, unpackDevice},  // the device's own
        {QStringLiteral("page-msb"), QStringLiteral("ページ・上位ビットが上"), pack<pageMsb>, unpack<pageMsb>},
        {QStringLiteral("row-msb"), QStringLiteral("行・上位ビットが左"), pack<rowMsb>, unpack<rowMsb>},
        {QStringLiteral("row-lsb"), QStringLiteral("行・下位ビットが左"), pack<rowLsb>, unpack<rowLsb>},  // XBM's order
    };
    return table;
}

const Layout &deviceLayout() { return layouts().constFirst(); }

const Layout *findLayout(const QString &name)
{
    for (const Layout &layout : layouts())
        if (layout.name == name)
            return &layout;
    return nullptr;
}

}  // namespace pw
