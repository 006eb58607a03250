#pragma once

// A JPEG's markers read before anything is decoded, for the loader only.

#include "core/picture/picturesource.h"

#include <QIODevice>
#include <QSize>
#include <QString>

namespace pw::decoding {

// What a JPEG's decoder will hold before the first row comes out, from the markers up to the
// first scan.
struct JpegHeader {
    bool readable = false;
    QSize size;
    bool progressive = false;
    qint64 wholeBytes = 0;  // coefficients held at once; 0 when decoded row by row
};
JpegHeader readJpegHeader(QIODevice &device);
bool isJpeg(QIODevice &device);

}  // namespace pw::decoding
