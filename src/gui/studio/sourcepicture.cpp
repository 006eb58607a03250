#include "gui/studio/sourcepicture.h"

namespace pw {

namespace {

// A reduced whole of a 20000 x 20000 JPEG is 25 MB; a few such parts together stay bounded.
constexpr qint64 kKeptBytesLimit = 96 * 1024 * 1024;

bool sameRequest(const PictureRequest &a, const PictureRequest &b)
{
    return a.part == b.part && a.size == b.size && a.rotate == b.rotate && a.flip == b.flip && a.atLeast == b.atLeast;
}

}  // namespace

SourcePicture::SourcePicture(const PictureSource &source) : source_(source), frameCount_(qMax(1, pw::frameCount(source))) {}

LoadedPicture SourcePicture::part(const PrepareOptions &options, int frame)
{
    const PictureRequest request = PictureRequest::forOptions(options);
    frame = qBound(0, frame, frameCount_ - 1);
    for (qsizetype i = 0; i < kept_.size(); ++i)
        if (kept_[i].frame == frame && sameRequest(kept_[i].request, request)) {
            kept_.move(i, 0);
            return kept_.constFirst().picture;
        }

    LoadedPicture loaded;
    if (frame == 0) {
        // The first frame as a still picture is read: the window has always opened it so.
        loaded = loadPicture(source_, request);
    } else {
        int k = 0;
        const LoadedPicture frames = loadFrames(source_, request, [&](const QImage &image) {
            if (k++ < frame)
                return true;
            loaded.image = image;
            return false;
        });
        if (!frames.ok())
            loaded = frames;
        else if (loaded.image.isNull())
            loaded = LoadedPicture::failed(LoadError::NotAPicture);
    }
    if (!loaded.ok())
        return loaded;
    kept_.prepend({request, frame, loaded});
    qint64 bytes = 0;
    for (qsizetype i = 0; i < kept_.size(); ++i) {
        bytes += kept_[i].picture.image.sizeInBytes();
        if (i > 0 && bytes > kKeptBytesLimit) {
            kept_.resize(i);
            break;
        }
    }
    return loaded;
}

}  // namespace pw
