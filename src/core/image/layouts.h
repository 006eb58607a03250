#pragma once

#include "core/image/monoimage.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace pw {

// Byte orders of other displays and libraries. Every layout keeps 1 = white.
struct Layout {
    QString name;
    QString caption;  // the studio's
    QByteArray (*pack)(const MonoImage &image);
    MonoImage (*unpack)(const QByteArray &bytes);  // a short input is padded with black
};

// page-lsb (the device's own: bands of 8 rows, top row in bit 0), page-msb, row-msb (rows,
// leftmost pixel in bit 7), row-lsb (XBM's order).
const QList<Layout> &layouts();
const Layout *findLayout(const QString &name);  // nullptr when unknown
const Layout &deviceLayout();

}  // namespace pw
