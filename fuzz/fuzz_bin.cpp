// Any file opens as a BIN file: its first 1024 bytes become the image and whatever a short
// file lacks is black, so nothing of the previous image may show through.

#include "core/storage/files.h"
#include "fuzzinput.h"

#include <algorithm>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    pw::fuzz::startQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = pw::fuzz::writeInput(data, size);
    pw::MonoImage image;
    image.fill(0xA5);  // the previous image: none of it may survive a successful read
    FUZZ_CHECK(pw::readBinFile(path, image));
    const std::size_t used = std::min<std::size_t>(size, pw::kImageBytes);
    FUZZ_CHECK(std::equal(image.begin(), image.begin() + used, data));
    FUZZ_CHECK(std::all_of(image.begin() + used, image.end(), [](std::uint8_t b) { return b == 0; }));
    return 0;
}
