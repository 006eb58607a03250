// The text options of convert and send, and the fonts command.
#include "cli/textcmd.h"

#include "core/text/textfonts.h"
#include "core/text/textfile.h"
#include "cli/commands.h"
#include "core/storage/files.h"

#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>

namespace pw::cli {

namespace {

// Far more than any display can show; a larger file is refused before it is read.
constexpr qint64 kTextFileLimit = 16 * 1024 * 1024;

const char *const kFontsHelp =
    "Usage: pixelwright-cli fonts [--pixel]\n"
    "Lists the installed font families that --font can name, one a line.\n"
    "  --pixel           only the families whose glyphs sit on the pixel grid at some size,\n"
    "                    each followed by a tab and the smallest such size in pixels\n"
    "  -h, --help        this text\n";

int fail(const QString &text, int code)
{
    errorLine(text);
    return code;
}

bool readTextFile(const QString &path, QString &text, QString &error)
{
    QFile file(path);
    if (const LoadError reason = checkReadable(path); reason != LoadError::None) {
        error = path + QStringLiteral(": ") + loadErrorText(LoadedPicture::failed(reason));
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        error = path + QStringLiteral(": cannot be read (%1)").arg(file.errorString());
        return false;
    }
    const QByteArray bytes = file.read(kTextFileLimit + 1);
    if (bytes.size() > kTextFileLimit) {
        error = path + QStringLiteral(": more than 16 MB of text");
        return false;
    }
    int line = 0, column = 0;
    const std::optional<QString> decoded = decodeTextFile(bytes, line, column);
    if (!decoded) {
        error = path + QStringLiteral(": not UTF-8 text (line %1, column %2)").arg(line).arg(column);
        return false;
    }
    text = *decoded;
    return true;
}

}  // namespace

// The two number lines come from the table of conversion options.
QByteArray textHelp()
{
    return QByteArray(
    "Text, drawn in black or white over the converted picture (or, with no picture, over the\n"
    "background alone); dither, tone and threshold never touch it:\n"
    "  --text TEXT       the text; a line break in it starts a new line\n"
    "  --text-file FILE  the text from a UTF-8 file\n"
    "  --font FAMILY     an installed family (MisakiGothic; see 'pixelwright-cli fonts')\n"
    ) + options::textSize.helpLines() + QByteArray(
    "  --bold            bold\n"
    "  --align A         left (default), center, right\n"
    "  --valign V        top (default), middle, bottom\n"
    ) + options::textOffset.helpLines() + QByteArray(
    "  --text-color C    black (default) or white\n"
    "  --font-fallback   other fonts draw the characters FAMILY lacks (else they are refused)\n");
}

QList<OptionSpec> textSpecs()
{
    return {{"text", {}, true}, {"text-file", {}, true}, {"font", {}, true},     {"size", {}, true},   {"bold", {}, false},
            {"align", {}, true}, {"valign", {}, true},   {"offset", {}, true}, {"text-color", {}, true}, {"font-fallback", {}, false}};
}

bool needsFonts(const QStringList &args)
{
    if (args.value(0) == QLatin1String("fonts"))
        return true;
    for (const QString &arg : args)
        if (arg.startsWith(QLatin1String("--text")) || arg.startsWith(QLatin1String("--font")))
            return true;
    return false;
}

int textOptions(const ParsedArgs &args, TextOptions &t)
{
    QString error;
    auto usage = [&](const QString &text) { return fail(text, Usage); };
    if (args.has("text") && args.has("text-file"))
        return usage(QStringLiteral("--text and --text-file cannot be used together"));
    if (!numberOption(args, options::textSize, t.size, error))
        return usage(error);
    t.bold = args.has("bold");
    t.fallback = args.has("font-fallback");
    if (args.has("font"))
        t.family = args.value("font");
    int align = int(t.align), valign = int(t.valign), white = int(t.white);
    if (!choiceOption(args, options::align, align, error) || !choiceOption(args, options::valign, valign, error))
        return usage(error);
    t.align = TextAlign(align);
    t.valign = TextVAlign(valign);
    if (args.has("offset")) {
        const QStringList xy = args.value("offset").split(QLatin1Char(','));
        bool okX = false, okY = false;
        const int x = xy.value(0).toInt(&okX), y = xy.value(1).toInt(&okY);
        const NumberOption &range = options::textOffset;
        if (xy.size() != 2 || !okX || !okY || x < range.low || x > range.high || y < range.low || y > range.high)
            return usage(QStringLiteral("--offset takes X,Y, each a whole number from %1 to %2, not '%3'")
                             .arg(range.low)
                             .arg(range.high)
                             .arg(args.value("offset")));
        t.offsetX = x;
        t.offsetY = y;
    }
    if (!choiceOption(args, options::textColor, white, error))
        return usage(error);
    t.white = white != 0;
    if (args.has("text-file") && !readTextFile(args.value("text-file"), t.text, error))
        return fail(error, BadInput);
    if (args.has("text"))
        t.text = args.value("text");
    if (t.isEmpty())
        return Done;
    const TextLayer layer = layoutText(t);
    if (layer.fontMissing()) {
        const QStringList similar = similarFamilies(t.family);
        return usage(QStringLiteral("font \"%1\" is not installed (%2)")
                         .arg(t.family, similar.isEmpty() ? QStringLiteral("see 'pixelwright-cli fonts'")
                                                          : QStringLiteral("similar: ") + similar.join(QStringLiteral(", "))));
    }
    if (!layer.missing.isEmpty())
        return usage(QStringLiteral("font \"%1\" has no glyph for %2 (--font-fallback lets other fonts draw them)")
                         .arg(layer.family, codePointList(layer.missing)));
    if (layer.bounded)
        errorLine(QStringLiteral("the text is longer than the display can show: only the part that shows was laid out"));
    else if (layer.overflow)
        errorLine(QStringLiteral("the text is cut at the display's edge"));
    return Done;
}

int convertTextOnly(const ConversionOptions &options, const QString &output, Format format, const Layout &layout)
{
    if (output.isEmpty())
        return fail(QStringLiteral("with text and no input picture, -o names the output (see 'pixelwright-cli convert --help')"), Usage);
    const std::optional<MonoImage> image = convertBackground(options);
    if (!image)
        return fail(QStringLiteral("the text could not be drawn"), BadInput);
    const QString name = output == QLatin1String("-") ? QStringLiteral("image") : QFileInfo(output).completeBaseName();
    QString reason;
    if (!writeOutput(output, encodeImage(*image, format, layout, identifierFrom(name)), reason))
        return fail(output + QStringLiteral(": ") + reason, BadOutput);
    return Done;
}

int runFonts(const QStringList &argv)
{
    ParsedArgs args;
    QString error;
    if (!parseArgs(argv, {{"pixel", {}, false}, {"help", 'h', false}}, args, error) || !args.operands.isEmpty())
        return fail((error.isEmpty() ? QStringLiteral("fonts takes no operand") : error) + QStringLiteral(" (see 'pixelwright-cli fonts --help')"), Usage);
    if (args.has("help")) {
        writeStdout(QByteArray(kFontsHelp) + kExitCodesHelp);
        return Done;
    }
    QByteArray out;
    if (args.has("pixel")) {
        for (const PixelFont &font : pixelFonts())
            out += font.family.toUtf8() + '\t' + QByteArray::number(font.size) + '\n';
    } else {
        for (const QString &family : QFontDatabase::families())
            out += family.toUtf8() + '\n';
    }
    writeStdout(out);
    return Done;
}

}  // namespace pw::cli
