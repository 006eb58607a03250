#pragma once

// What the picture readers share: their bounds, the memory budget all decodes draw from, and
// the block-average shrinking. For the readers only; everything else goes through
// pictureloader.h.

#include "core/picture/picturesource.h"

#include <QIODevice>
#include <QSize>
#include <cstdint>
#include <vector>

namespace pw::decoding {

constexpr qint64 kMB = 1024 * 1024;

// Largest picture decoded whole (at 4 bytes a pixel, or more for wider formats).
constexpr qint64 kWholePictureLimitMB = 256;
// A progressive (or otherwise multi-scan) JPEG makes the decoder hold every coefficient of the
// picture, two bytes for each of 64 per 8 x 8 block, before the first row comes out.
constexpr qint64 kJpegCoefficientLimitMB = 192;
// Largest shrunk picture returned (at 4 bytes a pixel).
constexpr qint64 kReducedPictureLimitMB = 128;

// All decodes together hold at most this much of the memory they reserve; a decode that
// would exceed it waits until others are done.
constexpr qint64 kBudgetBytes = kWholePictureLimitMB * kMB;

// A reservation of decoding memory, given back when it ends. Requests larger than the whole
// budget take all of it.
class BudgetHold {
public:
    explicit BudgetHold(qint64 bytes);
    ~BudgetHold();
    BudgetHold(const BudgetHold &) = delete;
    BudgetHold &operator=(const BudgetHold &) = delete;

private:
    qint64 bytes_;
};

// The largest factor that keeps each side at least `atLeast`, or the picture's own side where
// that is smaller; a side of at least 0 counts as at least 1.
int shrinkFactor(const QSize &full, const QSize &atLeast);
QSize shrunkSize(const QSize &full, int factor);
// The same, raised where needed so that the shrunk picture holds at most kReducedPixels: a
// picture of an extreme shape (20 x 3000000) keeps its narrow side, and would not shrink at all.
constexpr qint64 kReducedPixels = 2 * 1024 * 1024;
int boundedShrinkFactor(const QSize &full, const QSize &atLeast);
bool fitsReducedLimit(const QSize &size);

// Block sums for a shrunk picture: colour weighted by alpha, so that transparent pixels lend
// no colour to their block. Rows of RGBA pixels come in as a decoder delivers them: a pass of
// an interlaced picture holds every (1 << xShift)-th column from x0.
class Shrinker {
public:
    // `bandRows`: block rows summed at once (all of them when rows come out of order).
    Shrinker(const QSize &full, int factor, int bandRows);
    bool valid() const { return !out_.isNull(); }
    void addRow(const std::uint8_t *rgba, quint32 y, quint32 x0, quint32 xShift, quint32 columns);
    // Writes block row `blockRow` of the result and clears its sums.
    void emitBand(quint32 blockRow);
    int factor() const { return int(factor_); }
    const QImage &result() const { return out_; }

private:
    quint32 factor_;
    quint32 width_, height_;  // of the full picture
    quint32 blocksAcross_;
    quint32 bandRows_;
    std::vector<quint64> sums_;
    QImage out_;
};

// Shrinks a picture read whole with the same block averages, a row at a time in RGBA.
QImage shrinkImage(const QImage &image, int factor);


}  // namespace pw::decoding
