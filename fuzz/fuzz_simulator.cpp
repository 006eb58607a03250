// The simulated module's stream parser takes whatever a client sends, cut into whatever pieces
// the socket delivers. The input's first byte says how many of the next bytes are piece sizes;
// the rest is the stream. Cut or whole, the module must report the same commands and end with
// the same memories, never hold more than a line's bound, and print only plain ASCII lines.

#include "core/simulator/displaymodule.h"
#include "fuzzinput.h"

#include <QStringList>

namespace {

struct Outcome {
    QStringList lines;
    QByteArray vram, screen, flash;
};

QByteArray bytesOf(const pw::MonoImage &image) { return QByteArray(reinterpret_cast<const char *>(image.data()), int(image.size())); }

// Piece sizes from 1 to 128, or whole kibibytes up to 128 KiB, so that the 1024-byte data
// and the 64 KiB line bound are crossed at every kind of boundary.
std::size_t pieceSize(std::uint8_t code) { return code < 128 ? std::size_t(code) + 1 : std::size_t(code - 127) * 1024; }

Outcome feed(const char *stream, std::size_t size, const std::uint8_t *sizes, std::size_t sizeCount)
{
    Outcome out;
    pw::DisplayModule module([&out](const pw::DisplayModule::Event &e) { out.lines << pw::DisplayModule::describe(e); });
    for (std::size_t at = 0, k = 0; at < size; ++k) {
        const std::size_t piece = sizeCount == 0 ? size : std::min(size - at, pieceSize(sizes[k % sizeCount]));
        module.feed(stream + at, qsizetype(piece));
        at += piece;
        FUZZ_CHECK(module.pendingBytes() <= pw::DisplayModule::kMaxLine + 1);
    }
    module.endOfStream();
    out.vram = bytesOf(module.displayMemory());
    out.screen = bytesOf(module.screen());
    out.flash = module.flashBytes();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t sizeCount = std::min<std::size_t>(data[0] % 8, size - 1);
    const std::uint8_t *sizes = data + 1;
    const auto *stream = reinterpret_cast<const char *>(data + 1 + sizeCount);
    const std::size_t length = size - 1 - sizeCount;

    const Outcome cut = feed(stream, length, sizes, sizeCount);
    const Outcome whole = feed(stream, length, nullptr, 0);
    FUZZ_CHECK(cut.lines == whole.lines);
    FUZZ_CHECK(cut.vram == whole.vram && cut.screen == whole.screen && cut.flash == whole.flash);
    // Every report takes at least one byte of the stream, but the one at its end.
    FUZZ_CHECK(std::size_t(whole.lines.size()) <= length + 1);
    for (const QString &line : whole.lines) {
        FUZZ_CHECK(!line.isEmpty() && line.size() < 300);
        for (const QChar c : line)
            FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() < 0x7f);
    }
    return 0;
}
