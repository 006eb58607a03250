// The text's two readers take anything: conversion.ini (read at every start) and a --text-file.
// conversion.ini gives settings within their ranges that survive being written and read again;
// a text file is refused exactly when it is not UTF-8, at a place inside it, and what it holds
// lays out on the display without trouble.

#include "core/text/textfile.h"
#include "core/convert/conversionsettings.h"
#include "core/text/textlayer.h"
#include "fuzzinput.h"

#include <QGuiApplication>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Fonts need a QGuiApplication; the offscreen platform needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

namespace {

void settings(const QByteArray &bytes)
{
    const pw::ConversionSettings s = pw::parseConversionSettings(bytes);
    const pw::TextOptions &t = s.text;
    FUZZ_CHECK(t.size >= pw::kMinTextSize && t.size <= pw::kMaxTextSize);
    FUZZ_CHECK(qAbs(t.offsetX) <= pw::kMaxTextOffset && qAbs(t.offsetY) <= pw::kMaxTextOffset);
    FUZZ_CHECK(!t.family.isEmpty());
    FUZZ_CHECK(pw::parseConversionSettings(pw::formatConversionSettings(s)) == s);
}

void textFile(const QByteArray &bytes)
{
    int line = 0, column = 0;
    const std::optional<QString> text = pw::decodeTextFile(bytes, line, column);
    // Without a BOM, Qt's own decoder agrees on what is UTF-8.
    if (!bytes.startsWith("\xef\xbb\xbf"))
        FUZZ_CHECK(text.has_value() == (QString::fromUtf8(bytes).toUtf8() == bytes));
    if (!text) {
        FUZZ_CHECK(line >= 1 && line <= bytes.count('\n') + 1 && column >= 1 && column <= bytes.size());
        return;
    }
    pw::TextOptions options;
    options.text = *text;
    options.size = pw::kMinTextSize + int(bytes.size() % 59);
    options.align = pw::TextAlign(bytes.size() % 3);
    options.valign = pw::TextVAlign(bytes.count('\n') % 3);
    options.offsetY = int(bytes.size() % 257) - 128;
    const pw::TextLayer layer = pw::layoutText(options);
    FUZZ_CHECK(layer.ink.isNull() || layer.ink.size() == QSize(pw::kImageWidth, pw::kImageHeight));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    if (data[0] & 1)
        textFile(bytes);
    else
        settings(bytes);
    return 0;
}
