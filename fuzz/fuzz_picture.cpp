// Pictures come from anywhere: whatever the bytes, reading the corner must end quickly, stay
// within bounded memory (the replay and libFuzzer enforce both) and give either nothing or
// a picture no larger than the corner asked for.

#include "core/picture/pictureloader.h"
#include "fuzzinput.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    pw::fuzz::startQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = pw::fuzz::writeInput(data, size);
    const QSize limit(128, 64);
    const QImage corner = pw::readPictureCorner(path, limit);
    if (corner.isNull())
        return 0;
    FUZZ_CHECK(corner.width() >= 1 && corner.width() <= limit.width());
    FUZZ_CHECK(corner.height() >= 1 && corner.height() <= limit.height());
    // Pixels left unwritten by a damaged file would differ from one read to the next.
    FUZZ_CHECK(pw::readPictureCorner(path, limit) == corner);
    return 0;
}
