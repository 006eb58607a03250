// The whole conversion, from the bytes of a picture to the device's image, under any option
// set: whatever the picture and the options, it must end quickly, stay within bounded memory
// (the replay and libFuzzer enforce both) and either convert or say why not. The option set
// comes from the input's last two bytes, which stay part of the picture (most formats end in
// bytes a reader never looks at, so a picture file from anywhere is an input as it is).

#include "core/convert/conversion.h"
#include "fuzzinput.h"

#include <QByteArray>

namespace {

pw::ConversionOptions optionsFrom(const std::uint8_t *data, std::size_t size, bool *frames)
{
    const unsigned last = size > 0 ? data[size - 1] : 0, before = size > 1 ? data[size - 2] : 0;
    pw::ConversionOptions options;
    options.prepare.fit = static_cast<pw::Fit>(last & 3);
    options.prepare.rotate = int((last >> 2) & 3) * 90;
    options.prepare.flip = static_cast<pw::Flip>(((last >> 4) & 3) % 3);
    *frames = (last >> 6) & 1;
    options.threshold.invert = (last >> 7) & 1;
    options.threshold.dither = static_cast<pw::Dither>(before % 5);
    if (before & 0x80)
        options.threshold.threshold = int(before * 7 % 256);
    if (before & 0x40)
        options.prepare.tone = {int(before % 201) - 100, int(before * 3 % 201) - 100, 0.2 + (before % 49) * 0.1};
    return options;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    pw::fuzz::startQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    bool frames = false;
    const pw::ConversionOptions options = optionsFrom(data, size, &frames);
    const pw::PictureSource source =
        pw::PictureSource::memory(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    const pw::Conversion result = pw::convertPicture(source, options, frames);
    if (!result.ok()) {
        FUZZ_CHECK(result.images.isEmpty() && !pw::loadErrorText(result.failure).isEmpty());
        return 0;
    }
    FUZZ_CHECK(!result.images.isEmpty());
    FUZZ_CHECK(frames || result.images.size() == 1);
    // Pixels left unwritten anywhere along the way would differ from one run to the next.
    if (!frames)
        FUZZ_CHECK(pw::convertPicture(source, options).images == result.images);
    return 0;
}
