#pragma once

#include "core/picture/pictureloader.h"

#include <QList>

namespace pw {

// The picture as it came in (opened, dropped or pasted), from which the picture area is
// prepared again whenever an option changes. Each part the options need (the corner, a turned
// corner, the reduced whole) is loaded through the guarded loader once per frame and kept, so
// that moving a slider prepares from memory; the parts kept stay within a memory bound.
class SourcePicture {
public:
    explicit SourcePicture(const PictureSource &source);

    const PictureSource &source() const { return source_; }
    // 1 for a still picture.
    int frameCount() const { return frameCount_; }

    // The part of frame `frame` (0 for a still picture) that preparing with `options` needs,
    // exactly as the command line loads it. Not ok() when it cannot be loaded.
    LoadedPicture part(const PrepareOptions &options, int frame);

private:
    struct Kept {
        PictureRequest request;
        int frame = 0;
        LoadedPicture picture;
    };

    PictureSource source_;
    int frameCount_ = 1;
    QList<Kept> kept_;  // the most recently used first
};

}  // namespace pw
