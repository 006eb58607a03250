// The sizes BMP and GIF headers declare, read before anything is decoded.
#include "core/picture/declaredsize.h"

#include <cstdlib>
#include <algorithm>
#include <limits>

namespace pw::decoding {

DeclaredSize peekDeclaredSize(QIODevice &device)
{
    const QByteArray head = device.peek(34);
    const auto u16 = [&head](int at) { return int(uchar(head[at])) | int(uchar(head[at + 1])) << 8; };
    const auto i32 = [&u16](int at) { return qint32(quint32(u16(at)) | quint32(u16(at + 2)) << 16); };
    if (head.size() >= 10 && (head.startsWith("GIF87a") || head.startsWith("GIF89a")))
        return {QSize(u16(6), u16(8)), QStringLiteral("GIF")};
    if (head.size() < 26 || !head.startsWith("BM"))
        return {};
    DeclaredSize declared;
    declared.kind = QStringLiteral("BMP");
    int bits = 0, compression = 0;
    // Qt's reader takes the info header's layout for these sizes only, and the core header's
    // 16-bit sides for any other size, however odd.
    const qint32 headerSize = i32(14);
    if (headerSize != 40 && headerSize != 64 && headerSize != 108 && headerSize != 124) {
        declared.size = QSize(u16(18), u16(20));
        bits = u16(24);
    } else {
        const qint64 height = std::abs(qint64(i32(22)));
        if (head.size() < 34 || i32(18) <= 0 || height <= 0 || height > std::numeric_limits<int>::max())
            return {};
        declared.size = QSize(i32(18), int(height));
        bits = u16(28);
        compression = i32(30);
    }
    // Uncompressed rows have a known length: a file too short to hold them would leave pixels
    // that the decoder never writes (whatever memory held before). A picture with no pixels
    // is damaged whatever follows, and its rows have no length to divide by.
    if (declared.size.isEmpty())
        return declared;
    if ((compression == 0 || compression == 3 || compression == 6) && bits > 0) {
        // Divided, never multiplied: a header may declare sizes whose product overflows.
        const qint64 rowBytes = (qint64(declared.size.width()) * bits + 31) / 32 * 4;
        const qint64 pixelBytes = device.size() - qint64(quint32(i32(10)));
        declared.truncated = pixelBytes < 0 || pixelBytes / rowBytes < declared.size.height();
    }
    return declared;
}

}  // namespace pw::decoding
