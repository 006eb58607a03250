#include "workspace/picturemakers.h"

#include <QByteArray>
#include <QFile>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <png.h>
#include <vector>

namespace pw::test {

std::uint32_t paletteColor(int index)
{
    return (static_cast<std::uint32_t>((index * 16) & 0xFF) << 16) | (static_cast<std::uint32_t>((255 - index * 16) & 0xFF) << 8)
           | static_cast<std::uint32_t>((index * 7) & 0xFF);
}

int paletteAlpha(int index) { return index == 0 ? 0 : 255 * index / 4; }

namespace {

struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::FILE *file = nullptr;
    ~PngWriter()
    {
        png_destroy_write_struct(&png, &info);
        if (file)
            std::fclose(file);
    }
};

int channelsOf(int colorType)
{
    switch (colorType) {
    case PNG_COLOR_TYPE_GRAY: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;  // palette
    }
}

// Packs one row of samples at the PNG's depth.
void packRow(std::vector<png_byte> &row, const PngSpec &spec, int y,
             const std::function<unsigned(int, int, int)> &sample)
{
    const int channels = channelsOf(spec.colorType);
    std::fill(row.begin(), row.end(), png_byte(0));
    size_t bit = 0;
    for (int x = 0; x < spec.width; ++x) {
        for (int c = 0; c < channels; ++c) {
            const unsigned v = sample(x, y, c);
            if (spec.bitDepth == 16) {
                row[bit / 8] = png_byte(v >> 8);
                row[bit / 8 + 1] = png_byte(v);
            } else if (spec.bitDepth == 8) {
                row[bit / 8] = png_byte(v);
            } else {
                const size_t shift = 8 - spec.bitDepth - bit % 8;
                row[bit / 8] |= png_byte((v & ((1u << spec.bitDepth) - 1)) << shift);
            }
            bit += spec.bitDepth;
        }
    }
}

bool writeRows(PngWriter &w, const PngSpec &spec, const std::function<unsigned(int, int, int)> &sample)
{
    // Everything with a destructor exists before setjmp: libpng leaves by longjmp on error.
    std::vector<png_byte> row((static_cast<size_t>(spec.width) * channelsOf(spec.colorType) * spec.bitDepth + 7) / 8);
    std::vector<png_color> palette(static_cast<size_t>(spec.paletteSize));
    for (int i = 0; i < spec.paletteSize; ++i)
        palette[static_cast<size_t>(i)] = {png_byte(paletteColor(i) >> 16), png_byte(paletteColor(i) >> 8),
                                           png_byte(paletteColor(i))};
    std::vector<png_byte> alpha(static_cast<size_t>(spec.transparentCount));
    for (int i = 0; i < spec.transparentCount; ++i)
        alpha[static_cast<size_t>(i)] = png_byte(paletteAlpha(i));
    png_color_16 key{};
    if (setjmp(png_jmpbuf(w.png)))
        return false;
    png_init_io(w.png, w.file);
    png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(spec.width), static_cast<png_uint_32>(spec.height),
                 spec.bitDepth, spec.colorType, spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (spec.paletteSize)
        png_set_PLTE(w.png, w.info, palette.data(), spec.paletteSize);
    if (spec.transparentCount)
        png_set_tRNS(w.png, w.info, alpha.data(), spec.transparentCount, nullptr);
    else if (spec.greyKey)
        png_set_tRNS(w.png, w.info, nullptr, 0, &key);
    // Fast enough for a picture of hundreds of megapixels.
    png_set_compression_level(w.png, 1);
    png_set_compression_strategy(w.png, 3 /* Z_RLE */);
    png_set_filter(w.png, 0, PNG_FILTER_NONE);
    png_write_info(w.png, w.info);
    const int passes = spec.interlaced ? png_set_interlace_handling(w.png) : 1;
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < spec.height; ++y) {
            packRow(row, spec, y, sample);
            png_write_row(w.png, row.data());
        }
    png_write_end(w.png, nullptr);
    return true;
}

class BitWriter {
public:
    void put(unsigned bits, int count)
    {
        for (int i = count - 1; i >= 0; --i) {
            current_ = static_cast<unsigned>(current_ << 1) | ((bits >> i) & 1u);
            if (++filled_ == 8)
                flushByte();
        }
    }
    // Pads the last byte with ones, as the format asks.
    QByteArray finish()
    {
        while (filled_ != 0)
            put(1, 1);
        return out_;
    }
    void zeros(qint64 count)
    {
        while (count > 0 && filled_ != 0) {
            put(0, 1);
            --count;
        }
        out_.append(static_cast<qsizetype>(count / 8), '\0');
        put(0, static_cast<int>(count % 8));
    }

private:
    void flushByte()
    {
        out_.append(static_cast<char>(current_ & 0xFF));
        if ((current_ & 0xFF) == 0xFF)
            out_.append('\0');  // byte stuffing
        current_ = 0;
        filled_ = 0;
    }
    QByteArray out_;
    unsigned current_ = 0;
    int filled_ = 0;
};

void segment(QByteArray &out, unsigned char marker, const QByteArray &body)
{
    out.append('\xFF').append(static_cast<char>(marker));
    const int length = static_cast<int>(body.size()) + 2;
    out.append(static_cast<char>(length >> 8)).append(static_cast<char>(length & 0xFF));
    out.append(body);
}

// A DC difference as its category and extra bits; the DC table codes category 0 as "0" and
// category 10 as "10".
void putDcDifference(BitWriter &bits, int diff)
{
    if (diff == 0) {
        bits.put(0, 1);
        return;
    }
    bits.put(0b10, 2);
    bits.put(static_cast<unsigned>(diff > 0 ? diff : diff + 1023), 10);
}

}  // namespace

bool writePng(const QString &path, const PngSpec &spec, const std::function<unsigned(int, int, int)> &sample)
{
    PngWriter w;
    w.file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!w.file)
        return false;
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    w.info = w.png ? png_create_info_struct(w.png) : nullptr;
    return w.info && writeRows(w, spec, sample);
}

bool writeGreyJpeg(const QString &path, int width, int height, int corner)
{
    // Only categories 0 and 10 are coded: the corner must differ from 128 by 64 to 127 levels.
    const int diff = (corner - 128) * 8;
    if (std::abs(diff) < 512 || std::abs(diff) > 1023)
        return false;
    QByteArray out("\xFF\xD8", 2);
    QByteArray quant(1, '\0');
    quant.append(64, '\x01');
    segment(out, 0xDB, quant);
    QByteArray frame;
    frame.append('\x08').append(char(height >> 8)).append(char(height & 0xFF)).append(char(width >> 8))
        .append(char(width & 0xFF)).append('\x01').append('\x01').append('\x11').append('\x00');
    segment(out, 0xC0, frame);
    QByteArray dc(1, '\x00');
    dc.append('\x01').append('\x01').append(14, '\0').append('\x00').append('\x0A');
    segment(out, 0xC4, dc);
    QByteArray ac(1, '\x10');
    ac.append('\x01').append(15, '\0').append('\x00');
    segment(out, 0xC4, ac);
    segment(out, 0xDA, QByteArray("\x01\x01\x00\x00\x3F\x00", 6));

    BitWriter bits;
    putDcDifference(bits, diff);   // block (0, 0)
    bits.put(0, 1);                // end of block
    putDcDifference(bits, -diff);  // back to 128 from block (1, 0) on
    bits.put(0, 1);
    const qint64 blocks = qint64((width + 7) / 8) * ((height + 7) / 8);
    bits.zeros(2 * (blocks - 2));
    out.append(bits.finish());
    out.append("\xFF\xD9", 2);

    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(out) == out.size();
}

}  // namespace pw::test
