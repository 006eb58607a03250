// The readers' shared pieces: the memory budget and the block-average shrinking.
#include "core/picture/decoding.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>

namespace pw::decoding {

namespace {

std::mutex budgetMutex;
std::condition_variable budgetFreed;
qint64 budgetInUse = 0;

}  // namespace

BudgetHold::BudgetHold(qint64 bytes) : bytes_(std::clamp<qint64>(bytes, 0, kBudgetBytes))
{
    std::unique_lock<std::mutex> lock(budgetMutex);
    budgetFreed.wait(lock, [this] { return budgetInUse + bytes_ <= kBudgetBytes; });
    budgetInUse += bytes_;
}

BudgetHold::~BudgetHold()
{
    {
        const std::lock_guard<std::mutex> lock(budgetMutex);
        budgetInUse -= bytes_;
    }
    budgetFreed.notify_all();
}

int shrinkFactor(const QSize &full, const QSize &atLeast)
{
    const int keepWidth = std::max(1, std::min(full.width(), atLeast.width()));
    const int keepHeight = std::max(1, std::min(full.height(), atLeast.height()));
    return std::max(1, std::min(full.width() / keepWidth, full.height() / keepHeight));
}

QSize shrunkSize(const QSize &full, int factor)
{
    return QSize((full.width() + factor - 1) / factor, (full.height() + factor - 1) / factor);
}

int boundedShrinkFactor(const QSize &full, const QSize &atLeast)
{
    int factor = shrinkFactor(full, atLeast);
    for (QSize size = shrunkSize(full, factor); qint64(size.width()) * size.height() > kReducedPixels; size = shrunkSize(full, factor))
        factor = std::max(factor + 1, int(factor * std::sqrt(double(size.width()) * size.height() / kReducedPixels)));
    return factor;
}

bool fitsReducedLimit(const QSize &size)
{
    return static_cast<qint64>(size.width()) * size.height() * 4 <= kReducedPictureLimitMB * kMB;
}

Shrinker::Shrinker(const QSize &full, int factor, int bandRows)
    : factor_(quint32(factor)), width_(quint32(full.width())), height_(quint32(full.height())),
      blocksAcross_(quint32(shrunkSize(full, factor).width())), bandRows_(quint32(std::max(1, bandRows)))
{
    const QSize size = shrunkSize(full, factor);
    if (!fitsReducedLimit(size) || qint64(blocksAcross_) * bandRows_ * 4 * qint64(sizeof(quint64)) > kReducedPictureLimitMB * kMB)
        return;
    sums_.assign(std::size_t(blocksAcross_) * bandRows_ * 4, 0);
    out_ = QImage(size, QImage::Format_RGBA8888);
}

void Shrinker::addRow(const std::uint8_t *rgba, quint32 y, quint32 x0, quint32 xShift, quint32 columns)
{
    quint64 *band = sums_.data() + std::size_t((y / factor_) % bandRows_) * blocksAcross_ * 4;
    quint64 x = x0;
    quint32 i = 0;
    while (i < columns) {
        // The row's pixels within one block, summed in registers.
        const quint64 block = x / factor_;
        const quint64 blockEnd = (block + 1) * factor_;
        quint64 r = 0, g = 0, b = 0, a = 0;
        for (; i < columns && x < blockEnd; ++i, x += quint64(1) << xShift) {
            const std::uint8_t *p = rgba + 4 * std::size_t(i);
            r += quint64(p[0]) * p[3];
            g += quint64(p[1]) * p[3];
            b += quint64(p[2]) * p[3];
            a += p[3];
        }
        quint64 *sum = band + 4 * block;
        sum[0] += r;
        sum[1] += g;
        sum[2] += b;
        sum[3] += a;
    }
}

void Shrinker::emitBand(quint32 blockRow)
{
    quint64 *band = sums_.data() + std::size_t(blockRow % bandRows_) * blocksAcross_ * 4;
    uchar *line = out_.scanLine(int(blockRow));
    const quint64 rows = std::min<quint64>(factor_, height_ - quint64(blockRow) * factor_);
    for (quint32 b = 0; b < blocksAcross_; ++b) {
        quint64 *sum = band + 4 * std::size_t(b);
        const quint64 n = rows * std::min<quint64>(factor_, width_ - quint64(b) * factor_);
        const quint64 a = sum[3];
        for (int c = 0; c < 3; ++c)
            line[4 * b + quint32(c)] = a ? static_cast<uchar>((sum[c] + a / 2) / a) : 0;
        line[4 * b + 3] = static_cast<uchar>((a + n / 2) / n);
        std::fill(sum, sum + 4, 0);
    }
}

QImage shrinkImage(const QImage &image, int factor)
{
    Shrinker shrinker(image.size(), factor, 1);
    if (!shrinker.valid())
        return {};
    const auto width = quint32(image.width()), height = quint32(image.height());
    // A band of rows at a time (about a megabyte): converting the whole picture would double
    // what it holds, a row at a time would cost a conversion for each of millions of rows.
    const quint32 band = std::max<quint32>(1, quint32((1 << 20) / (4 * qint64(width) + 1)));
    for (quint32 top = 0; top < height; top += band) {
        const quint32 rows = std::min(band, height - top);
        const QImage part = image.copy(0, int(top), image.width(), int(rows)).convertToFormat(QImage::Format_RGBA8888);
        if (part.isNull())
            return {};
        for (quint32 y = top; y < top + rows; ++y) {
            shrinker.addRow(part.constScanLine(int(y - top)), y, 0, 0, width);
            if ((y + 1) % quint32(factor) == 0 || y + 1 == height)
                shrinker.emitBand(y / quint32(factor));
        }
    }
    return shrinker.result();
}

}  // namespace pw::decoding
